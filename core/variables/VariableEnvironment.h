#pragma once
// What the expansion of a template line reads: the message being written
// (its headers, header block, body and attachment names), the message
// context, the clock and the regional date texts, commands and files. The
// expander is pure over this interface; the Windows build reads the message
// file and the system (SystemVariables.h), the tests pass a fake.
#include <memory>
#include <string>
#include <string_view>

#include "core/messages/MessageContext.h"
#include "core/mime/LineReader.h"

namespace core {

// A local date and time (month 1-12).
struct LocalTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// The regional date and time texts of the platform.
class DateLocale {
 public:
  enum class Pattern { ShortDate, LongDate, ShortTime, LongTime };
  virtual ~DateLocale() = default;
  virtual std::string Format(Pattern pattern, const LocalTime& time) = 0;
  // dayOfWeek 0 Sunday ... 6 Saturday; month 1-12; full or abbreviated.
  virtual std::string DayName(int dayOfWeek, bool full) = 0;
  virtual std::string MonthName(int month, bool full) = 0;
  virtual std::string DateSeparator() = 0;
  virtual std::string TimeSeparator() = 0;
  // The morning or the afternoon designator ("AM", "PM").
  virtual std::string Designator(bool afternoon) = 0;
};

class VariableEnvironment {
 public:
  virtual ~VariableEnvironment() = default;
  virtual const MessageContext& Context() = 0;
  // The value of the first header of that name ("Subject:") of the message,
  // undecoded, at most 255 characters; empty when it has none.
  virtual std::string Header(std::string_view name) = 0;
  // Every line up to the first empty one, each followed by CRLF.
  virtual std::string HeaderBlock() = 0;
  // The decoded text of the message's text parts (wantedType empty: plain
  // text and untyped parts; else parts of that type).
  virtual std::string Body(std::string_view wantedType) = 0;
  // The names of the message's attachments joined by ", ".
  virtual std::string AttachmentNames() = 0;
  virtual LocalTime Now() = 0;
  virtual DateLocale& Dates() = 0;
  // The output of the command line; empty when it cannot run.
  virtual std::string RunCommand(const std::string& commandLine) = 0;
  // The file's bytes, or nullptr when it cannot be opened.
  virtual std::unique_ptr<ByteSource> OpenFile(const std::string& name) = 0;
};

}  // namespace core
