#include "core/variables/LineExpansion.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <map>
#include <vector>

#include "core/mime/HeaderText.h"
#include "core/mime/MailDate.h"
#include "core/mime/TransferCodecs.h"
#include "core/util/Numbers.h"
#include "core/util/Text.h"
#include "core/variables/DateTimeFormat.h"

namespace core {
namespace {

enum class Kind { Token, Header, Delete, Copy, FormatDateTime, Include, IncludeBase64, Exec, Escape, Set };

// The values of the simple tokens.
enum class Value {
  None,
  From,
  To,
  Sender,
  Recipient,
  FromEmail,
  ToEmail,
  SenderEmail,
  RecipientEmail,
  MessageId,
  MessageFile,
  VirusName,
  SpamProbability,
  SpamPercentage,
  SpamHits,
  SpamReason,
  FromAlias,
  SenderAlias,
  FromDomain,
  SenderDomain,
  ToAlias,
  RecipientAlias,
  ToDomain,
  RecipientDomain,
  Subject,
  FromName,
  ToName,
  Date,
  Rfc822Date,
  Time,
  Size,
  IP,
  HeaderBlock,
  Body,
  BodyHtml,
  AttachmentNames,
};

struct Variable {
  std::string_view text;  // lower case, unless caseSensitive
  Kind kind;
  Value value = Value::None;
  bool caseSensitive = false;
};

// Every variable in the order its values are computed; where two occurrences
// overlap in a line, the one of the earlier row wins.
constexpr Variable Variables[] = {
    {"%%from%%", Kind::Token, Value::From},
    {"%%to%%", Kind::Token, Value::To},
    {"%%sender%%", Kind::Token, Value::Sender},
    {"%%recipient%%", Kind::Token, Value::Recipient},
    {"%%from_email%%", Kind::Token, Value::FromEmail},
    {"%%to_email%%", Kind::Token, Value::ToEmail},
    {"%%sender_email%%", Kind::Token, Value::SenderEmail},
    {"%%recipient_email%%", Kind::Token, Value::RecipientEmail},
    {"%%message-id%%", Kind::Token, Value::MessageId},
    {"%%messagefile%%", Kind::Token, Value::MessageFile},
    {"%%virusname%%", Kind::Token, Value::VirusName},
    {"%%spamprobability%%", Kind::Token, Value::SpamProbability},
    {"%%spampercentage%%", Kind::Token, Value::SpamPercentage},
    {"%%spamhits%%", Kind::Token, Value::SpamHits},
    {"%%spamreason%%", Kind::Token, Value::SpamReason},
    {"%%from_alias%%", Kind::Token, Value::FromAlias},
    {"%%sender_alias%%", Kind::Token, Value::SenderAlias},
    {"%%from_domain%%", Kind::Token, Value::FromDomain},
    {"%%sender_domain%%", Kind::Token, Value::SenderDomain},
    {"%%to_alias%%", Kind::Token, Value::ToAlias},
    {"%%recipient_alias%%", Kind::Token, Value::RecipientAlias},
    {"%%to_domain%%", Kind::Token, Value::ToDomain},
    {"%%recipient_domain%%", Kind::Token, Value::RecipientDomain},
    {"%%subject%%", Kind::Token, Value::Subject},
    {"%%from_name%%", Kind::Token, Value::FromName},
    {"%%to_name%%", Kind::Token, Value::ToName},
    {"%%date%%", Kind::Token, Value::Date},
    {"%%rfc822_date%%", Kind::Token, Value::Rfc822Date},
    {"%%time%%", Kind::Token, Value::Time},
    {"%%size%%", Kind::Token, Value::Size},
    {"%%ip%%", Kind::Token, Value::IP},
    {"%%header%%", Kind::Token, Value::HeaderBlock},
    {"%%body%%", Kind::Token, Value::Body},
    {"%%body_html%%", Kind::Token, Value::BodyHtml},
    {"%%header ", Kind::Header},
    {"%%attachmentnames%%", Kind::Token, Value::AttachmentNames},
    {"%%delete ", Kind::Delete},
    {"%%copy ", Kind::Copy},
    {"%%FormatDateTime", Kind::FormatDateTime, Value::None, true},
    {"%%include ", Kind::Include},
    {"%%include_base64 ", Kind::IncludeBase64},
    {"%%exec", Kind::Exec},
    {"%%\\", Kind::Escape},
    {"$$set", Kind::Set},
};
constexpr std::size_t VariableCount = std::size(Variables);

// A variable located in the template line.
struct Occurrence {
  std::size_t variable;
  std::size_t start, end;
  std::string_view argument;
  std::size_t value = 0;  // index into the line's values
};

// The spans of the line already taken by a variable.
class Claims {
 public:
  bool Take(std::size_t start, std::size_t end) {
    auto next = spans_.lower_bound(start);
    if (next != spans_.end() && next->first < end) return false;
    if (next != spans_.begin() && std::prev(next)->second > start) return false;
    spans_.emplace_hint(next, start, end);
    return true;
  }

 private:
  std::map<std::size_t, std::size_t> spans_;
};

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

std::string WithColon(std::string_view name) {
  std::string text(name);
  if (text.empty() || text.back() != ':') text += ':';
  return text;
}

// "Name" <address>: the text before the first "<", trimmed, without one
// leading and one trailing double quote; empty without a "<" or before it.
std::string DisplayName(std::string_view value) {
  const std::size_t bracket = value.find('<');
  if (bracket == std::string_view::npos || bracket == 0) return {};
  std::string name = Trim(value.substr(0, bracket));
  if (!name.empty() && name.front() == '"') name.erase(0, 1);
  if (!name.empty() && name.back() == '"') name.pop_back();
  return name;
}

// Counts the bytes a sink receives.
class CountingSink final : public ByteSink {
 public:
  explicit CountingSink(ByteSink& target) : target_(target) {}
  bool Write(std::string_view bytes) override {
    written_ += bytes.size();
    return target_.Write(bytes);
  }
  std::uint64_t Written() const { return written_; }

 private:
  ByteSink& target_;
  std::uint64_t written_ = 0;
};

class Expansion {
 public:
  Expansion(VariableEnvironment& env, const ExpansionLimits& limits) : env_(env), limits_(limits) {}

  void Expand(std::string_view line, int depth, bool& keep, std::string& out, ByteSink* output) {
    keep = true;
    const bool percent = line.find("%%") != std::string_view::npos;
    const bool dollar = line.find("$$") != std::string_view::npos;
    if (!percent && !dollar) {
      out.assign(line);
      return;
    }
    const std::string lower = LowerAscii(line);
    std::vector<Occurrence> found = Locate(line, lower, percent, dollar);

    // Values in the order of the table; a simple token's once per line.
    std::vector<std::string> values;
    std::size_t tokenValue[VariableCount];
    std::fill(std::begin(tokenValue), std::end(tokenValue), SIZE_MAX);
    std::vector<std::string_view> base64Files;
    for (Occurrence& o : found) {
      const Variable& v = Variables[o.variable];
      if (v.kind == Kind::Token && tokenValue[o.variable] != SIZE_MAX) {
        o.value = tokenValue[o.variable];
        continue;
      }
      o.value = values.size();
      switch (v.kind) {
        case Kind::Token:
          tokenValue[o.variable] = o.value;
          values.push_back(TokenValue(v.value));
          break;
        case Kind::Header:
          values.push_back(HeaderOf(WithColon(o.argument)));
          break;
        case Kind::Delete:
        case Kind::Copy:
          values.push_back(DeleteOrCopy(v.kind == Kind::Delete, o.argument));
          break;
        case Kind::FormatDateTime:
          values.push_back(FormatDateTime(o.argument, env_.Now(), env_.Dates()));
          break;
        case Kind::Include:
          values.push_back(Include(o.argument, depth));
          break;
        case Kind::IncludeBase64:
          // Written to the output after the line; without one the keyword stays.
          if (output != nullptr) base64Files.push_back(o.argument);
          values.emplace_back(output != nullptr ? std::string_view() : line.substr(o.start, v.text.size()));
          break;
        case Kind::Exec:
          values.push_back(env_.RunCommand(std::string(o.argument)));
          break;
        case Kind::Escape:
          values.emplace_back("%%");
          break;
        case Kind::Set:
          keep = false;
          values.emplace_back();
          break;
      }
    }

    std::sort(found.begin(), found.end(), [](const Occurrence& a, const Occurrence& b) { return a.start < b.start; });
    out.clear();
    std::size_t at = 0;
    for (const Occurrence& o : found) {
      out.append(line.substr(at, o.start - at));
      out.append(values[o.value]);
      at = o.end;
    }
    out.append(line.substr(at));

    if (!base64Files.empty()) {
      keep = false;
      WriteBase64(out, base64Files, *output);
    }
  }

 private:
  // Every variable of the line that no variable of an earlier row overlaps;
  // the occurrences of one variable left to right, each after the last.
  static std::vector<Occurrence> Locate(std::string_view line, std::string_view lower, bool percent, bool dollar) {
    std::vector<std::pair<std::size_t, std::size_t>> candidates;  // row, start
    for (const std::string_view mark : {std::string_view("%%"), std::string_view("$$")}) {
      if (!(mark[0] == '%' ? percent : dollar)) continue;
      for (std::size_t at = line.find(mark); at != std::string_view::npos; at = line.find(mark, at + 1)) {
        const std::size_t row = VariableAt(line, lower, at);
        if (row < VariableCount) candidates.emplace_back(row, at);
      }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });

    std::vector<Occurrence> found;
    Claims claims;
    std::size_t row = VariableCount, from = 0;
    for (const auto& [index, start] : candidates) {
      if (index != row) row = index, from = 0;
      if (start < from) continue;
      const Variable& v = Variables[index];
      if (v.kind == Kind::Token || v.kind == Kind::Escape) {
        from = start + v.text.size();
        if (claims.Take(start, from)) found.push_back({index, start, from, {}});
        continue;
      }
      VariableArgument a;
      if (!GetVariableArgument(line, lower, v.text, v.text[0], v.caseSensitive, start, a)) {
        from = line.size();  // no terminator here, none further on either
        continue;
      }
      from = a.end;
      if (claims.Take(a.start, a.end)) found.push_back({index, a.start, a.end, a.Argument(line)});
    }
    return found;
  }

  // The row of the variable written at position at, or VariableCount. No
  // two variables' texts start alike, so at most one matches.
  static std::size_t VariableAt(std::string_view line, std::string_view lower, std::size_t at) {
    if (at + 2 >= line.size()) return VariableCount;
    for (const std::uint8_t row : RowsByThirdLetter()[static_cast<unsigned char>(lower[at + 2])]) {
      const Variable& v = Variables[row];
      if ((v.caseSensitive ? line : lower).substr(at, v.text.size()) == v.text) return row;
    }
    return VariableCount;
  }

  // The rows by the third character of their text, folded to lower case.
  using RowLists = std::array<std::vector<std::uint8_t>, 256>;
  static const RowLists& RowsByThirdLetter() {
    static const RowLists rows = [] {
      RowLists lists;
      for (std::size_t row = 0; row < VariableCount; ++row)
        lists[static_cast<unsigned char>(LowerAscii(Variables[row].text.substr(2, 1))[0])].push_back(
            static_cast<std::uint8_t>(row));
      return lists;
    }();
    return rows;
  }

  std::string HeaderOf(const std::string& name) { return DecodeHeaderText(env_.Header(name), false); }

  std::string TokenValue(Value value) {
    const MessageContext& c = env_.Context();
    const auto bare = [](std::string_view text) { return ExtractEmailAddress(text, true); };
    const auto recipientList = [&] { return CutTo(c.recipients, ShortTextLength); };
    switch (value) {
      case Value::None:
        return {};
      case Value::From:
        return HeaderOf("From:");
      case Value::To:
        return HeaderOf("To:");
      case Value::Sender:
        return c.sender;
      case Value::Recipient:
        return c.recipients;
      case Value::FromEmail:
        return bare(HeaderOf("From:"));
      case Value::ToEmail:
        return bare(HeaderOf("To:"));
      case Value::SenderEmail:
        return bare(c.sender);
      case Value::RecipientEmail:
        return bare(recipientList());
      case Value::MessageId:
        return HeaderOf("Message-Id:");
      case Value::MessageFile:
        return c.messageFile;
      case Value::VirusName:
        return c.virusName;
      case Value::SpamProbability:
        return FormatFloatFixed(2, c.bayesProbability / 10000.0);
      case Value::SpamPercentage:
        return FormatFloatFixed(2, c.bayesProbability / 100.0);
      case Value::SpamHits:
        return FormatFloatFixed(2, c.spamAssassinScore / 100.0);
      case Value::SpamReason:
        return BuildSpamStatusText(c);
      case Value::FromAlias:
        return ExtractAliasPart(bare(HeaderOf("From:")));
      case Value::SenderAlias:
        return ExtractAliasPart(bare(c.sender));
      case Value::FromDomain:
        return ExtractDomainPart(bare(HeaderOf("From:")));
      case Value::SenderDomain:
        return ExtractDomainPart(bare(c.sender));
      case Value::ToAlias:
        return ExtractAliasPart(bare(HeaderOf("To:")));
      case Value::RecipientAlias:
        return ExtractAliasPart(bare(recipientList()));
      case Value::ToDomain:
        return ExtractDomainPart(bare(HeaderOf("To:")));
      case Value::RecipientDomain:
        return ExtractDomainPart(bare(recipientList()));
      case Value::Subject:
        return HeaderOf("Subject:");
      case Value::FromName:
        return DisplayName(HeaderOf("From:"));
      case Value::ToName:
        return DisplayName(HeaderOf("To:"));
      case Value::Date:
        return env_.Dates().Format(DateLocale::Pattern::ShortDate, env_.Now());
      case Value::Rfc822Date: {
        const LocalTime t = env_.Now();
        return FormatRFC822Date({t.year, t.month, t.day, t.hour, t.minute, t.second}, false, {});
      }
      case Value::Time:
        return env_.Dates().Format(DateLocale::Pattern::LongTime, env_.Now());
      case Value::Size:
        return FormatFloatFixed(2, c.messageSize / 1024.0);
      case Value::IP:
        return GetClientIP(c);
      case Value::HeaderBlock:
        return env_.HeaderBlock();
      case Value::Body:
        return env_.Body({});
      case Value::BodyHtml:
        return env_.Body("text/html");
      case Value::AttachmentNames:
        return env_.AttachmentNames();
    }
    return {};
  }

  std::string DeleteOrCopy(bool erase, std::string_view argument) {
    HeaderArgument a = ExpandHeaderArgument(env_, argument);
    if (a.value.empty() || a.index < 0) return a.value;
    const auto length = static_cast<std::int64_t>(a.value.size());
    const std::int64_t count = a.index >= length || a.count <= 0 ? 0 : std::min(a.count, length - a.index);
    const auto from = static_cast<std::size_t>(std::min(a.index, length));
    if (erase) return a.value.erase(from, static_cast<std::size_t>(count));
    return a.value.substr(from, static_cast<std::size_t>(count));
  }

  // The file's lines, each expanded as template text of its own and followed
  // by CRLF; the file name when it cannot be read or a limit is passed.
  std::string Include(std::string_view name, int depth) {
    const std::string fileName(name);
    if (depth + 1 > limits_.includeDepth) return fileName;
    const std::unique_ptr<ByteSource> file = env_.OpenFile(fileName);
    if (!file) return fileName;
    std::string content;
    if (!ReadWithin(*file, limits_.includeBytes - used_, content)) {
      used_ = limits_.includeBytes;
      return fileName;
    }
    used_ += content.size();
    std::string value, piece;
    bool keep = true;
    std::size_t at = 0;
    while (at < content.size()) {
      std::size_t end = content.find_first_of("\r\n", at);
      if (end == std::string::npos) end = content.size();
      Expand(std::string_view(content).substr(at, end - at), depth + 1, keep, piece, nullptr);
      value += piece;
      value += "\r\n";
      at = end + (end + 1 < content.size() && content[end] == '\r' && content[end + 1] == '\n' ? 2 : 1);
    }
    return value;
  }

  // The whole source when it holds at most limit bytes and reads cleanly.
  static bool ReadWithin(ByteSource& source, std::uint64_t limit, std::string& content) {
    const std::uint64_t expected = source.SizeHint();
    if (expected > limit) return false;
    content.reserve(static_cast<std::size_t>(expected));
    char block[16 * 1024];
    for (;;) {
      const std::size_t got = source.Read(block, sizeof block);
      if (got == 0) return !source.Failed();
      if (got > limit - content.size()) return false;
      content.append(block, got);
    }
  }

  // The line's text without its line break, then each file in base64 lines;
  // a file that cannot be opened ends a line still open with CRLF.
  void WriteBase64(std::string_view text, const std::vector<std::string_view>& files, ByteSink& output) {
    if (!output.Write(text)) return;
    bool lineOpen = true;
    for (std::string_view name : files) {
      const std::unique_ptr<ByteSource> file = env_.OpenFile(std::string(name));
      if (!file) {
        if (lineOpen && !output.Write("\r\n")) return;
        lineOpen = false;
        continue;
      }
      CountingSink counted(output);
      Base64EncodeStream(*file, &counted, nullptr, 0);
      if (counted.Written() != 0) lineOpen = false;
    }
  }

  VariableEnvironment& env_;
  const ExpansionLimits& limits_;
  std::uint64_t used_ = 0;  // included bytes of this template line
};

}  // namespace

bool GetVariableArgument(std::string_view line, std::string_view lowerLine, std::string_view keyword, char terminator,
                         bool caseSensitive, std::size_t from, VariableArgument& found) {
  const std::string_view text = caseSensitive ? line : lowerLine;
  const std::size_t at = text.find(keyword, from);
  if (at == std::string_view::npos) return false;
  const std::size_t close = line.find(terminator, at + keyword.size());
  if (close == std::string_view::npos) return false;
  found.start = at;
  found.argumentStart = at + keyword.size();
  found.terminator = close;
  found.end = std::min(close + 2, line.size());
  return true;
}

HeaderArgument ExpandHeaderArgument(VariableEnvironment& env, std::string_view argument) {
  HeaderArgument a;
  a.value = DecodeHeaderText(env.Header(WithColon(GetDelimitedWord(argument, 0, ' '))), false);
  a.index = TextToInt(GetDelimitedWord(argument, 1, ' '));
  a.count = TextToInt(GetDelimitedWord(argument, 2, ' '));
  return a;
}

void ExpandSystemVariables(VariableEnvironment& env, std::string_view line, bool& keep, std::string& out,
                           ByteSink* output, const ExpansionLimits& limits) {
  Expansion(env, limits).Expand(line, 0, keep, out, output);
}

std::string ExpandSystemVariablesText(VariableEnvironment& env, std::string_view line, const ExpansionLimits& limits) {
  bool keep = true;
  std::string out;
  Expansion(env, limits).Expand(line, 0, keep, out, nullptr);
  return out;
}

bool MessageLineWriter::Write(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (afterCR_) {
      afterCR_ = false;
      if (bytes[i] == '\n') {
        ++i;
        continue;
      }
    }
    std::size_t j = i;
    while (j < bytes.size() && bytes[j] != '\r' && bytes[j] != '\n')
      ++j;
    if (j > i) {
      if (lineStart_ && stuffed_ && bytes[i] == '.') buffer_ += '.';
      buffer_.append(bytes.data() + i, j - i);
      lineStart_ = false;
    }
    if (j < bytes.size()) {
      buffer_ += "\r\n";
      lineStart_ = true;
      afterCR_ = bytes[j] == '\r';
      ++j;
    }
    i = j;
  }
  return Spill();
}

bool MessageLineWriter::WriteLine(std::string_view line) {
  if (afterCR_ || line.find_first_of("\r\n") != std::string_view::npos) return Write(line) && Write("\r\n");
  if (lineStart_ && stuffed_ && !line.empty() && line[0] == '.') buffer_ += '.';
  buffer_.append(line);
  buffer_ += "\r\n";
  lineStart_ = true;
  return Spill();
}

bool MessageLineWriter::WriteRaw(std::string_view bytes) {
  buffer_.append(bytes);
  if (!bytes.empty()) lineStart_ = bytes.back() == '\n';
  afterCR_ = false;
  return Spill();
}

bool MessageLineWriter::Spill() {
  constexpr std::size_t SpillSize = 64 * 1024;
  if (buffer_.size() < SpillSize) return !failed_;
  return Flush();
}

bool MessageLineWriter::Flush() {
  if (!failed_ && !buffer_.empty() && !target_.Write(buffer_)) failed_ = true;
  buffer_.clear();
  return !failed_;
}

bool ExpandMessageLines(VariableEnvironment& env, ByteSource& message, ByteSink& target, bool stuffed,
                        const ExpansionLimits& limits) {
  MessageLineWriter writer(target, stuffed);
  LineReader reader(message);
  std::string_view line;
  std::string out;
  bool keep = true;
  while (reader.ReadLineView(line)) {
    bool written = true;
    if (stuffed && line == ".") {
      written = writer.WriteRaw(".\r\n");
    } else {
      if (stuffed && !line.empty() && line[0] == '.') line.remove_prefix(1);
      if (line.find("%%") == std::string_view::npos && line.find("$$") == std::string_view::npos) {
        written = writer.WriteLine(line);
      } else {
        ExpandSystemVariables(env, line, keep, out, &writer, limits);
        written = !keep || writer.WriteLine(out);
      }
    }
    if (!written) return false;
  }
  return !reader.Failed() && writer.Flush();
}

}  // namespace core
