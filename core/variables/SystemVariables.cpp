#include "core/variables/SystemVariables.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "core/config/ConfigStore.h"
#include "core/config/SettingsRecord.h"
#include "core/messages/MailboxFiles.h"
#include "core/mime/MailDate.h"
#include "core/mime/MessageFiles.h"
#include "core/mime/MessageHeaders.h"
#include "core/platform/Handles.h"
#include "core/platform/System.h"
#include "core/util/Text.h"

namespace core {
namespace {

// The temporary folder may lie on another volume; the message is replaced
// in one step, so a failed move leaves it as it was.
constexpr DWORD ReplaceFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;

std::atomic<AttachmentNamesSource> g_attachmentNames{nullptr};
std::atomic<VariableClock> g_clock{nullptr};

SYSTEMTIME ToSystemTime(const LocalTime& t) {
  SYSTEMTIME s{};
  s.wYear = static_cast<WORD>(t.year);
  s.wMonth = static_cast<WORD>(t.month);
  s.wDayOfWeek = static_cast<WORD>(DayOfWeek(t.year, t.month, t.day));
  s.wDay = static_cast<WORD>(t.day);
  s.wHour = static_cast<WORD>(t.hour);
  s.wMinute = static_cast<WORD>(t.minute);
  s.wSecond = static_cast<WORD>(t.second);
  s.wMilliseconds = static_cast<WORD>(t.millisecond);
  return s;
}

// A text of the locale API: asked for its size first, so any length fits.
template <typename Call>
std::string LocaleCall(Call call) {
  const int size = call(nullptr, 0);
  if (size <= 0) return {};
  std::vector<char> buffer(static_cast<std::size_t>(size));
  const int got = call(buffer.data(), size);
  return got > 0 ? std::string(buffer.data(), static_cast<std::size_t>(got - 1)) : std::string();
}

class WindowsDateLocale final : public DateLocale {
 public:
  std::string Format(Pattern pattern, const LocalTime& time) override {
    const SYSTEMTIME s = ToSystemTime(time);
    if (pattern == Pattern::ShortDate || pattern == Pattern::LongDate) {
      const DWORD flags = pattern == Pattern::ShortDate ? DATE_SHORTDATE : DATE_LONGDATE;
      return LocaleCall(
          [&](char* b, int n) { return ::GetDateFormatA(LOCALE_USER_DEFAULT, flags, &s, nullptr, b, n); });
    }
    const DWORD flags = pattern == Pattern::ShortTime ? TIME_NOSECONDS : 0;
    return LocaleCall([&](char* b, int n) { return ::GetTimeFormatA(LOCALE_USER_DEFAULT, flags, &s, nullptr, b, n); });
  }
  std::string DayName(int dayOfWeek, bool full) override {
    if (dayOfWeek < 0 || dayOfWeek > 6) return {};
    // The locale counts from Monday (1) to Sunday (7).
    const LCTYPE first = full ? LOCALE_SDAYNAME1 : LOCALE_SABBREVDAYNAME1;
    return Info(first + static_cast<LCTYPE>((dayOfWeek + 6) % 7));
  }
  std::string MonthName(int month, bool full) override {
    if (month < 1 || month > 12) return {};
    return Info((full ? LOCALE_SMONTHNAME1 : LOCALE_SABBREVMONTHNAME1) + static_cast<LCTYPE>(month - 1));
  }
  std::string DateSeparator() override { return Info(LOCALE_SDATE); }
  std::string TimeSeparator() override { return Info(LOCALE_STIME); }
  std::string Designator(bool afternoon) override { return Info(afternoon ? LOCALE_S2359 : LOCALE_S1159); }

 private:
  static std::string Info(LCTYPE type) {
    return LocaleCall([&](char* b, int n) { return ::GetLocaleInfoA(LOCALE_USER_DEFAULT, type, b, n); });
  }
};

LocalTime SystemNow() {
  SYSTEMTIME s{};
  ::GetLocalTime(&s);
  return {s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute, s.wSecond, s.wMilliseconds};
}

// A message file as the variables see it. What the message says is read
// once per run: the header block on first use, each header and body form
// from it or the file once.
class MessageFileEnvironment final : public VariableEnvironment {
 public:
  explicit MessageFileEnvironment(const MessageContext& context)
      : context_(context), form_(MessageFormOf(context.messageFile)) {}

  const MessageContext& Context() override { return context_; }

  std::string Header(std::string_view name) override {
    const std::string key = LowerCase(Trim(name));
    const auto cached = headers_.find(key);
    if (cached != headers_.end()) return cached->second;
    MemorySource source(HeaderBlockText());
    LineReader reader(source);
    return headers_[key] = ReadMessageHeader(reader, name);
  }

  const std::string& HeaderBlockText() {
    if (!headerBlock_) headerBlock_ = ReadHeaderBlock();
    return *headerBlock_;
  }
  std::string HeaderBlock() override { return HeaderBlockText(); }

  std::string Body(std::string_view wantedType) override {
    const std::string key(wantedType);
    const auto cached = bodies_.find(key);
    if (cached != bodies_.end()) return cached->second;
    std::string text;
    std::int32_t lineIndex = 0;
    ReadMessageBody(context_.messageFile, text, 0, wantedType, lineIndex, form_);
    return bodies_[key] = text;
  }

  std::string AttachmentNames() override {
    const AttachmentNamesSource source = g_attachmentNames.load();
    if (source == nullptr) return {};
    if (!attachmentNames_) attachmentNames_ = source(context_.messageFile);
    return *attachmentNames_;
  }

  LocalTime Now() override {
    const VariableClock clock = g_clock.load();
    return clock != nullptr ? clock() : SystemNow();
  }

  DateLocale& Dates() override { return SystemDateLocale(); }

  std::string RunCommand(const std::string& commandLine) override { return RunCommandVariable(commandLine); }

  std::unique_ptr<ByteSource> OpenFile(const std::string& name) override {
    auto file = std::make_unique<FileSource>();
    if (!file->Open(name)) return nullptr;
    return file;
  }

 private:
  // The lines up to the first empty one, each with CRLF; in a ".tmp" file
  // unstuffed and ended by the end mark, in an ".imap" file after its header.
  std::string ReadHeaderBlock() const {
    std::string block;
    FileSource file;
    if (!file.Open(context_.messageFile)) return block;
    LineReader reader(file);
    if (form_ == MessageForm::StoredFile) reader.SkipBytes(StoredFileHeaderBytes);
    std::string_view line;
    while (reader.ReadLineView(line) && !line.empty()) {
      if (form_ == MessageForm::Stuffed) {
        if (line == ".") break;
        if (line[0] == '.') line.remove_prefix(1);
      }
      block.append(line);
      block += "\r\n";
    }
    return block;
  }

  const MessageContext& context_;
  const MessageForm form_;
  std::optional<std::string> headerBlock_;
  std::optional<std::string> attachmentNames_;
  std::map<std::string, std::string> headers_;
  std::map<std::string, std::string> bodies_;
};

}  // namespace

DateLocale& SystemDateLocale() {
  static WindowsDateLocale locale;
  return locale;
}

void ExpandSystemVariables(const MessageContext& context, std::string_view line, bool& keep, std::string& out,
                           ByteSink* output) {
  MessageFileEnvironment env(context);
  ExpandSystemVariables(env, line, keep, out, output);
}

std::string ExpandSystemVariablesText(const MessageContext& context, std::string_view line) {
  MessageFileEnvironment env(context);
  return ExpandSystemVariablesText(env, line);
}

bool ApplySystemVariables(MessageContext& context) {
  try {
    const std::string tempFolder = GetShortString(Settings().data(), cfg::TempFolder);
    // Nothing is written to a relative folder: wherever the host runs.
    if (context.messageFile.empty() || !IsAbsolutePath(tempFolder)) return false;
    const std::string temporary = NewMessageFileName(tempFolder, ".tmp");
    if (temporary.empty()) return false;

    bool expanded = false;
    {
      FileSource message;
      if (!message.Open(context.messageFile)) return false;
      UniqueHandle target(
          ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!target) return false;
      try {
        MessageFileEnvironment env(context);
        FileSink sink(target.get());
        expanded = ExpandMessageLines(env, message, sink, MessageFormOf(context.messageFile) == MessageForm::Stuffed);
      } catch (...) {
        expanded = false;
      }
    }  // both files closed before the replace
    if (expanded && ::MoveFileExA(temporary.c_str(), context.messageFile.c_str(), ReplaceFlags)) return true;
    ::DeleteFileA(temporary.c_str());
    return false;
  } catch (...) {
    return false;
  }
}

std::string RunCommandVariable(const std::string& commandLine) {
  try {
    // "%%Exec cmd%%" hands over " cmd": the blanks in front name no program.
    const std::size_t start = commandLine.find_first_not_of(" \t");
    if (start == std::string::npos) return {};
    std::uint32_t exitCode = 0;
    std::string output;
    if (!ExecuteAndCapture(commandLine.substr(start), exitCode, SW_HIDE, output)) return {};
    return output;
  } catch (...) {
    return {};
  }
}

void SetAttachmentNamesSource(AttachmentNamesSource source) { g_attachmentNames.store(source); }

void SetVariableClock(VariableClock clock) { g_clock.store(clock); }

void InstallVariableHooks() { SetSystemVariablesHook(&ApplySystemVariables); }

}  // namespace core
