// Template lines and values full of "%%", "$$" and keywords. The input's
// first NUL-separated part is the template; the next parts are the header
// values, the bodies and header block, and every command's output. A file
// whose name has an even length exists and holds the template again, so
// includes nest and cycle. Every expansion must end, and every argument the
// environment receives must be a piece of the template; in the stuffed form
// no expanded line may come out as the end mark.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/variables/LineExpansion.h"
#include "tests/support/fake_variables.h"

namespace {

std::vector<std::string> Parts(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && parts.size() < 5) {
      parts.emplace_back();
    } else {
      parts.back() += static_cast<char>(data[i]);
    }
  }
  parts.resize(5);
  return parts;
}

// Whether every argument passed on came from the template.
void CheckArguments(const testing_support::FakeVariables& env, std::string_view text) {
  for (const std::string_view prefix : {"file ", "exec ", "header "}) {
    for (const std::string& argument : env.Calls(prefix)) {
      if (text.find(argument) != std::string_view::npos) continue;
      // A header name gets its ":" from the expansion; the tokens' names are its own.
      if (prefix == "header " && !argument.empty() && argument.back() == ':' &&
          text.find(std::string_view(argument).substr(0, argument.size() - 1)) != std::string_view::npos)
        continue;
      if (prefix == "header " &&
          (argument == "From:" || argument == "To:" || argument == "Subject:" || argument == "Message-Id:"))
        continue;
      std::abort();
    }
  }
}

// Lines that are exactly ".".
std::size_t EndMarks(std::string_view text) {
  core::MemorySource source(text);
  core::LineReader reader(source);
  std::size_t count = 0;
  std::string_view line;
  while (reader.ReadLineView(line))
    count += line == "." ? 1 : 0;
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> parts = Parts(data, size);
  const std::string& line = parts[0];
  // Commands answer the fourth part; files of even-length names hold the template.
  struct Env final : testing_support::FakeVariables {
    std::string templateLine, commandOutput;
    std::string RunCommand(const std::string& command) override {
      FakeVariables::RunCommand(command);
      return commandOutput;
    }
    std::unique_ptr<core::ByteSource> OpenFile(const std::string& name) override {
      calls.push_back("file " + name);
      if (name.size() % 2 != 0) return nullptr;
      return std::make_unique<core::MemorySource>(templateLine, 5);
    }
  } env;
  env.templateLine = line;
  env.commandOutput = parts[4];
  env.context.sender = env.context.recipients = env.context.virusName = parts[1];
  for (const char* name : {"from:", "to:", "subject:", "message-id:"})
    env.headers[name] = parts[1];
  env.body = env.html = parts[2];
  env.headerBlock = env.attachments = parts[3];

  bool keep = true;
  std::string out;
  std::string written;
  core::StringSink sink(written);
  core::ExpandSystemVariables(env, line, keep, out, &sink, {8, 4096});
  CheckArguments(env, line);

  // The same text as a whole message in both forms, includes kept short.
  for (const bool stuffed : {false, true}) {
    env.calls.clear();
    std::string message;
    core::StringSink target(message);
    core::MemorySource source(line, 3);
    core::ExpandMessageLines(env, source, target, stuffed, {2, 4096});
    CheckArguments(env, line);
    if (stuffed && EndMarks(message) > EndMarks(line)) std::abort();
  }
  return 0;
}
