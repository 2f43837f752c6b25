#include "core/variables/LineExpansion.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
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

void LowerAscii(std::string_view text, std::string& lower) {
  lower.assign(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

std::string WithColon(std::string_view name) {
  std::string text(name);
  if (text.empty() || text.back() != ':') text += ':';
  return text;
}

// The three words of a "%%Delete " or "%%Copy " argument: the header name
// (returned, with its ":"), the index and the count.
std::string ParseHeaderArgument(std::string_view argument, std::int64_t& index, std::int64_t& count) {
  index = TextToInt(GetDelimitedWord(argument, 1, ' '));
  count = TextToInt(GetDelimitedWord(argument, 2, ' '));
  return WithColon(GetDelimitedWord(argument, 0, ' '));
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

// Which of the two marks that start variables ("%%", "$$") the line holds,
// in one pass (most lines of a message hold neither).
struct Marks {
  bool percent = false;
  bool dollar = false;
};
Marks MarksOf(std::string_view line) {
  Marks marks;
  const char* p = line.data();
  const char* const end = p + line.size();
  // Eight bytes at a time while none of them is a "%" or a "$" (0x25 and
  // 0x24: with the low bit set both are 0x25, found as a zero byte).
  constexpr std::uint64_t Ones = 0x0101010101010101u, Highs = 0x8080808080808080u;
  const auto hasMarkByte = [](std::uint64_t word) {
    const std::uint64_t x = (word | Ones) ^ (Ones * 0x25);
    return ((x - Ones) & ~x & Highs) != 0;
  };
  while (p + 1 < end) {
    if (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, sizeof word);
      if (!hasMarkByte(word)) {
        p += 8;
        continue;
      }
    }
    if ((*p == '%' || *p == '$') && p[1] == *p) (*p == '%' ? marks.percent : marks.dollar) = true;
    ++p;
  }
  return marks;
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

  // One template line with its own include budget.
  void ExpandLine(std::string_view line, bool& keep, std::string& out, ByteSink* output) {
    used_ = 0;
    Expand(line, 0, keep, out, output);
  }

 private:
  // What one level of expansion works in, kept from line to line; an include
  // expands its lines one level deeper while the level above holds its own.
  struct Scratch {
    std::string lower;
    std::vector<std::pair<std::size_t, std::size_t>> candidates;  // row, start
    std::vector<Occurrence> found;
    std::vector<bool> taken;  // positions of the line inside a located variable
    std::vector<std::string> values;
    std::vector<std::string_view> base64Files;
  };

  Scratch& ScratchAt(int depth) {
    while (scratch_.size() <= static_cast<std::size_t>(depth))
      scratch_.push_back(std::make_unique<Scratch>());
    return *scratch_[static_cast<std::size_t>(depth)];
  }

  void Expand(std::string_view line, int depth, bool& keep, std::string& out, ByteSink* output) {
    keep = true;
    const auto [percent, dollar] = MarksOf(line);
    if (!percent && !dollar) {
      out.assign(line);
      return;
    }
    Scratch& s = ScratchAt(depth);
    LowerAscii(line, s.lower);
    Locate(line, s, percent, dollar);

    // Values in the order of the table; a simple token's once per line.
    std::size_t count = 0;
    const auto next = [&]() -> std::string& {
      if (count == s.values.size()) s.values.emplace_back();
      return s.values[count++];
    };
    std::size_t tokenValue[VariableCount];
    std::fill(std::begin(tokenValue), std::end(tokenValue), SIZE_MAX);
    s.base64Files.clear();
    for (Occurrence& o : s.found) {
      const Variable& v = Variables[o.variable];
      if (v.kind == Kind::Token && tokenValue[o.variable] != SIZE_MAX) {
        o.value = tokenValue[o.variable];
        continue;
      }
      o.value = count;
      std::string& value = next();
      switch (v.kind) {
        case Kind::Token:
          tokenValue[o.variable] = o.value;
          value = TokenValue(v.value);
          break;
        case Kind::Header:
          value = HeaderOf(WithColon(o.argument));
          break;
        case Kind::Delete:
        case Kind::Copy:
          value = DeleteOrCopy(v.kind == Kind::Delete, o.argument);
          break;
        case Kind::FormatDateTime:
          value = FormatDateTime(o.argument, env_.Now(), env_.Dates());
          break;
        case Kind::Include:
          value = Include(o.argument, depth);
          break;
        case Kind::IncludeBase64:
          // Written to the output after the line; without one the keyword stays.
          if (output != nullptr) s.base64Files.push_back(o.argument);
          value.assign(output != nullptr ? std::string_view() : line.substr(o.start, v.text.size()));
          break;
        case Kind::Exec:
          value = env_.RunCommand(std::string(o.argument));
          break;
        case Kind::Escape:
          value = "%%";
          break;
        case Kind::Set:
          keep = false;
          value.clear();
          break;
      }
    }

    std::sort(s.found.begin(), s.found.end(),
              [](const Occurrence& a, const Occurrence& b) { return a.start < b.start; });
    out.clear();
    std::size_t at = 0;
    for (const Occurrence& o : s.found) {
      out.append(line.substr(at, o.start - at));
      out.append(s.values[o.value]);
      at = o.end;
    }
    out.append(line.substr(at));

    if (!s.base64Files.empty()) {
      keep = false;
      WriteBase64(out, s.base64Files, *output);
    }
  }

  // Every variable of the line that no variable of an earlier row overlaps;
  // the occurrences of one variable left to right, each after the last.
  static void Locate(std::string_view line, Scratch& s, bool percent, bool dollar) {
    const std::string_view lower = s.lower;
    s.candidates.clear();
    for (const std::string_view mark : {std::string_view("%%"), std::string_view("$$")}) {
      if (!(mark[0] == '%' ? percent : dollar)) continue;
      for (std::size_t at = line.find(mark); at != std::string_view::npos; at = line.find(mark, at + 1)) {
        const std::size_t row = VariableAt(line, lower, at);
        if (row < VariableCount) s.candidates.emplace_back(row, at);
      }
    }
    std::stable_sort(s.candidates.begin(), s.candidates.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });

    s.found.clear();
    s.taken.assign(line.size(), false);
    const auto take = [&](std::size_t start, std::size_t end) {
      for (std::size_t i = start; i < end; ++i)
        if (s.taken[i]) return false;
      std::fill(s.taken.begin() + static_cast<std::ptrdiff_t>(start),
                s.taken.begin() + static_cast<std::ptrdiff_t>(end), true);
      return true;
    };
    std::size_t row = VariableCount, from = 0;
    for (const auto& [index, start] : s.candidates) {
      if (index != row) row = index, from = 0;
      if (start < from) continue;
      const Variable& v = Variables[index];
      if (v.kind == Kind::Token || v.kind == Kind::Escape) {
        from = start + v.text.size();
        if (take(start, from)) s.found.push_back({index, start, from, {}});
        continue;
      }
      VariableArgument a;
      if (!GetVariableArgument(line, lower, v.text, v.text[0], v.caseSensitive, start, a)) {
        from = line.size();  // no terminator here, none further on either
        continue;
      }
      from = a.end;
      if (take(a.start, a.end)) s.found.push_back({index, a.start, a.end, a.Argument(line)});
    }
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
      std::string third;
      for (std::size_t row = 0; row < VariableCount; ++row) {
        LowerAscii(Variables[row].text.substr(2, 1), third);
        lists[static_cast<unsigned char>(third[0])].push_back(static_cast<std::uint8_t>(row));
      }
      return lists;
    }();
    return rows;
  }

  // A header's value with its encoded words decoded, read once per run.
  const std::string& HeaderOf(const std::string& name) {
    const auto cached = headers_.find(name);
    if (cached != headers_.end()) return cached->second;
    return headers_.emplace(name, DecodeHeaderText(env_.Header(name), false)).first->second;
  }

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
    HeaderArgument a;
    a.value = HeaderOf(ParseHeaderArgument(argument, a.index, a.count));
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
      const char* found = FindLineEnd(content.data() + at, content.size() - at);
      const std::size_t end = found != nullptr ? static_cast<std::size_t>(found - content.data()) : content.size();
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
  std::vector<std::unique_ptr<Scratch>> scratch_;
  std::map<std::string, std::string> headers_;
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
  a.value = DecodeHeaderText(env.Header(ParseHeaderArgument(argument, a.index, a.count)), false);
  return a;
}

void ExpandSystemVariables(VariableEnvironment& env, std::string_view line, bool& keep, std::string& out,
                           ByteSink* output, const ExpansionLimits& limits) {
  Expansion(env, limits).ExpandLine(line, keep, out, output);
}

std::string ExpandSystemVariablesText(VariableEnvironment& env, std::string_view line, const ExpansionLimits& limits) {
  bool keep = true;
  std::string out;
  Expansion(env, limits).ExpandLine(line, keep, out, nullptr);
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
    const char* found = FindLineEnd(bytes.data() + i, bytes.size() - i);
    std::size_t j = found != nullptr ? static_cast<std::size_t>(found - bytes.data()) : bytes.size();
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
  const bool breaks = !line.empty() && FindLineEnd(line.data(), line.size()) != nullptr;
  return breaks ? Write(line) && Write("\r\n") : WritePlainLine(line);
}

bool MessageLineWriter::WritePlainLine(std::string_view line) {
  // A CR that ended the bytes before has no LF to join any more.
  afterCR_ = false;
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
  Expansion expansion(env, limits);
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
      const Marks marks = MarksOf(line);
      if (!marks.percent && !marks.dollar) {
        written = writer.WritePlainLine(line);
      } else {
        expansion.ExpandLine(line, keep, out, &writer);
        written = !keep || writer.WriteLine(out);
      }
    }
    if (!written) return false;
  }
  return !reader.Failed() && writer.Flush();
}

}  // namespace core
