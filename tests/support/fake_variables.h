#pragma once
// A message and its surroundings in memory for the variable expansion:
// headers by name, the header block, bodies, attachment names, files and
// command outputs, a pinned clock and an en-US region written out by hand.
// Every call is logged with its argument ("header Subject:", "file x",
// "exec cmd", "body", "html", "block", "attachments").
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/mime/MailDate.h"
#include "core/variables/VariableEnvironment.h"

namespace testing_support {

struct FakeDateLocale final : core::DateLocale {
  static constexpr const char* Days[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
  static constexpr const char* Months[] = {"January", "February", "March",     "April",   "May",      "June",
                                           "July",    "August",   "September", "October", "November", "December"};
  std::string Format(Pattern pattern, const core::LocalTime& t) override {
    const auto two = [](int v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    const std::string ampm = t.hour < 12 ? " AM" : " PM";
    const std::string hour = std::to_string(t.hour % 12 == 0 ? 12 : t.hour % 12);
    switch (pattern) {
      case Pattern::ShortDate:
        return std::to_string(t.month) + "/" + std::to_string(t.day) + "/" + std::to_string(t.year);
      case Pattern::LongDate:
        return std::string(Days[core::DayOfWeek(t.year, t.month, t.day)]) + ", " + Months[t.month - 1] + " " +
               std::to_string(t.day) + ", " + std::to_string(t.year);
      case Pattern::ShortTime:
        return hour + ":" + two(t.minute) + ampm;
      case Pattern::LongTime:
        return hour + ":" + two(t.minute) + ":" + two(t.second) + ampm;
    }
    return {};
  }
  std::string DayName(int day, bool full) override {
    const std::string name = Days[day];
    return full ? name : name.substr(0, 3);
  }
  std::string MonthName(int month, bool full) override {
    const std::string name = Months[month - 1];
    return full ? name : name.substr(0, 3);
  }
  // Unlike the formats above, so a test sees which one it got.
  std::string DateSeparator() override { return "-"; }
  std::string TimeSeparator() override { return "."; }
  std::string Designator(bool afternoon) override { return afternoon ? "PM" : "AM"; }
};

struct FakeVariables : core::VariableEnvironment {
  core::MessageContext context;
  std::map<std::string, std::string> headers;  // by name with its colon, lower case
  std::string headerBlock, body, html, attachments;
  std::map<std::string, std::string> files;
  std::map<std::string, std::string> commands;  // output by command line
  core::LocalTime now{2003, 1, 5, 9, 4, 7, 89};
  FakeDateLocale dates;
  std::vector<std::string> calls;

  const core::MessageContext& Context() override { return context; }
  std::string Header(std::string_view name) override {
    calls.push_back("header " + std::string(name));
    std::string key(name);
    for (char& c : key)
      c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    const auto found = headers.find(key);
    return found == headers.end() ? std::string() : found->second;
  }
  std::string HeaderBlock() override {
    calls.push_back("block");
    return headerBlock;
  }
  std::string Body(std::string_view wantedType) override {
    calls.push_back(wantedType.empty() ? "body" : "html");
    return wantedType.empty() ? body : html;
  }
  std::string AttachmentNames() override {
    calls.push_back("attachments");
    return attachments;
  }
  core::LocalTime Now() override { return now; }
  core::DateLocale& Dates() override { return dates; }
  std::string RunCommand(const std::string& commandLine) override {
    calls.push_back("exec " + commandLine);
    const auto found = commands.find(commandLine);
    return found == commands.end() ? std::string() : found->second;
  }
  std::unique_ptr<core::ByteSource> OpenFile(const std::string& name) override {
    calls.push_back("file " + name);
    const auto found = files.find(name);
    if (found == files.end()) return nullptr;
    return std::make_unique<core::MemorySource>(found->second);
  }
  // The calls whose log starts with prefix ("exec ", "file ").
  std::vector<std::string> Calls(std::string_view prefix) const {
    std::vector<std::string> matching;
    for (const std::string& call : calls)
      if (call.compare(0, prefix.size(), prefix) == 0) matching.push_back(call.substr(prefix.size()));
    return matching;
  }
};

}  // namespace testing_support
