#include "sender/mail/MailComposer.h"

#include <cstring>

#include "core/mime/HeaderText.h"
#include "core/mime/TransferCodecs.h"
#include "core/util/Text.h"

namespace sender {

namespace {

constexpr char HexDigits[] = "0123456789abcdef";
constexpr char UpperHexDigits[] = "0123456789ABCDEF";
constexpr std::size_t EncodedWordLength = 75;
constexpr std::size_t QuotedPrintableWidth = 76;

// A header value: CR, LF and NUL would end the line or the header block.
std::string HeaderValue(std::string_view text) {
  std::string value(text);
  for (char& c : value) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  }
  return value;
}

// A quoted-string's content: "\" before every '"' and "\".
std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  for (char c : text) {
    if (c == '"' || c == '\\') quoted.push_back('\\');
    quoted.push_back(c);
  }
  return quoted;
}

// The file's name without its folder.
std::string_view BaseName(std::string_view path) {
  const std::size_t slash = path.find_last_of("\\/:");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The bytes of the character that starts text.
std::size_t CharacterLength(std::string_view text, bool utf8, bool (*isLeadByte)(unsigned char)) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t wanted = 1;
  if (utf8) {
    if (lead >= 0xC2 && lead <= 0xDF) {
      wanted = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      wanted = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      wanted = 4;
    }
    // Only the continuation bytes that are there belong to it.
    std::size_t length = 1;
    while (length < wanted && length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
      ++length;
    return length;
  }
  if (isLeadByte != nullptr && text.size() >= 2 && isLeadByte(lead)) return 2;
  return 1;
}

void AppendEncodedByte(unsigned char byte, std::string& word) {
  if (byte == ' ') {
    word.push_back('_');
  } else if (byte < 33 || byte >= 127 || byte == '=' || byte == '?' || byte == '_') {
    word.push_back('=');
    word.push_back(HexDigits[byte >> 4]);
    word.push_back(HexDigits[byte & 15]);
  } else {
    word.push_back(static_cast<char>(byte));
  }
}

// Every line of the text, with its length; CR, LF and CRLF end lines.
template <typename Visit>
void ForEachLine(std::string_view text, Visit&& visit) {
  std::size_t start = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (c != '\r' && c != '\n') continue;
    visit(text.substr(start, at - start));
    if (c == '\r' && at + 1 < text.size() && text[at + 1] == '\n') ++at;
    start = at + 1;
  }
  if (start < text.size()) visit(text.substr(start));
}

// Appends text to the DATA: bare CR and LF become CRLF, and a line that
// starts with "." gets one more. A CR at the end of a piece ends its line.
class DataWriter {
 public:
  explicit DataWriter(std::string& out) : out_(out) {}

  void Append(std::string_view text) {
    std::size_t run = 0;  // start of the bytes not yet copied
    for (std::size_t at = 0; at < text.size(); ++at) {
      const char c = text[at];
      if (c == '\r' || c == '\n') {
        out_.append(text.data() + run, at - run);
        out_.append("\r\n");
        if (c == '\r' && at + 1 < text.size() && text[at + 1] == '\n') ++at;
        run = at + 1;
        lineStart_ = true;
        continue;
      }
      if (lineStart_ && c == '.') {
        out_.append(text.data() + run, at - run);
        out_.push_back('.');
        run = at;
      }
      lineStart_ = false;
    }
    out_.append(text.data() + run, text.size() - run);
  }

  // Lines already ended by CRLF, none starting with "." (base64).
  core::ByteSink& CleanLines() { return sink_; }

  // The end mark, after the last line's CRLF: the one "." line.
  void EndMark() { out_.append(".\r\n"); }

 private:
  class Sink final : public core::ByteSink {
   public:
    explicit Sink(std::string& out) : out_(out) {}
    bool Write(std::string_view bytes) override {
      out_.append(bytes);
      return true;
    }

   private:
    std::string& out_;
  };

  std::string& out_;
  Sink sink_{out_};
  bool lineStart_ = true;
};

void AppendHeader(DataWriter& data, std::string_view line) {
  data.Append(FoldHeaderLine(line));
  data.Append("\r\n");
}

std::string JoinEntries(const std::vector<std::string>& entries) {
  std::string list;
  for (const std::string& entry : entries) {
    const std::string value = core::Trim(HeaderValue(entry));
    if (value.empty()) continue;
    if (!list.empty()) list += ", ";
    list += value;
  }
  return list;
}

std::string DecimalText(std::uint32_t value) { return std::to_string(value); }

}  // namespace

bool NamesUtf8(std::string_view charset) {
  const std::string name = core::LowerCase(core::Trim(charset));
  return name == "utf-8" || name == "utf8";
}

std::string EncodeHeader(std::string_view text, std::string_view charset, bool (*isLeadByte)(unsigned char)) {
  std::string name;
  for (const char c : charset) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 32 && byte < 127 && c != '?' && c != '=') name.push_back(c);
  }
  if (name.empty()) name = "us-ascii";
  const bool utf8 = NamesUtf8(name);
  const std::string prefix = "=?" + name + "?Q?";
  const std::size_t fixed = prefix.size() + 2;
  const std::size_t room = EncodedWordLength > fixed ? EncodedWordLength - fixed : 0;

  std::string result, word, character;
  const auto close = [&] {
    if (!result.empty()) result.push_back(' ');
    result += prefix;
    result += word;
    result += "?=";
    word.clear();
  };
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = CharacterLength(text.substr(at), utf8, isLeadByte);
    character.clear();
    for (std::size_t i = 0; i < length; ++i)
      AppendEncodedByte(static_cast<unsigned char>(text[at + i]), character);
    if (!word.empty() && word.size() + character.size() > room) close();
    word += character;
    at += length;
  }
  if (!word.empty() || result.empty()) close();
  return result;
}

std::string FoldHeaderLine(std::string_view line) {
  if (line.size() <= FoldWidth) return std::string(line);
  // Fold points: a blank that a non-blank follows, after the first
  // non-blank of the value.
  const std::size_t colon = line.find(':');
  std::size_t valueStart = colon == std::string_view::npos ? 0 : colon + 1;
  while (valueStart < line.size() && line[valueStart] == ' ')
    ++valueStart;
  const auto isFold = [&](std::size_t at) {
    return at > valueStart && at + 1 < line.size() && line[at] == ' ' && line[at + 1] != ' ';
  };

  std::string folded;
  folded.reserve(line.size() + line.size() / 32 + 8);
  std::size_t start = 0;  // of the current physical line
  while (line.size() - start > FoldWidth) {
    std::size_t fold = std::string_view::npos;
    // The last fold point within the width; start itself (the blank of the
    // previous fold) is none.
    for (std::size_t at = start + FoldWidth; at > start; --at) {
      if (isFold(at)) {
        fold = at;
        break;
      }
    }
    if (fold == std::string_view::npos) {
      for (std::size_t at = start + FoldWidth + 1; at < line.size(); ++at) {
        if (isFold(at)) {
          fold = at;
          break;
        }
      }
    }
    if (fold == std::string_view::npos) break;
    folded.append(line.substr(start, fold - start));
    folded.append("\r\n");
    start = fold;
  }
  folded.append(line.substr(start));
  return folded;
}

std::string QuotedPrintable(std::string_view body) {
  std::string out;
  out.reserve(body.size() + body.size() / 8 + 16);
  bool first = true;
  const auto encodeLine = [&](std::string_view line) {
    if (!first) out.append("\r\n");
    first = false;
    std::size_t width = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
      const auto byte = static_cast<unsigned char>(line[i]);
      const bool last = i + 1 == line.size();
      // Blanks at a line's end would be lost to a reader that strips them.
      const bool literal = (byte >= 33 && byte <= 126 && byte != '=') || ((byte == ' ' || byte == '\t') && !last);
      const std::size_t size = literal ? 1 : 3;
      // Room for the character and, unless it ends the line, a soft break.
      if (width + size > (last ? QuotedPrintableWidth : QuotedPrintableWidth - 1)) {
        out.append("=\r\n");
        width = 0;
      }
      if (literal) {
        out.push_back(static_cast<char>(byte));
      } else {
        out.push_back('=');
        out.push_back(UpperHexDigits[byte >> 4]);
        out.push_back(UpperHexDigits[byte & 15]);
      }
      width += size;
    }
  };
  ForEachLine(body, encodeLine);
  // A body that ends with a line break keeps it.
  if (!body.empty() && (body.back() == '\r' || body.back() == '\n')) out.append("\r\n");
  return out;
}

bool HasOverlongLine(std::string_view text) {
  bool found = false;
  ForEachLine(text, [&](std::string_view line) { found = found || line.size() > MaxLineLength; });
  return found;
}

std::string DrawBoundary(std::string_view body, const RandomSource& random) {
  std::string boundary;
  for (int draw = 0;; ++draw) {
    const std::uint32_t first = random();
    const std::uint32_t second = random();
    boundary = "--=" + DecimalText(first) + DecimalText(second);
    // A source that keeps answering numbers the body holds gets a count
    // appended, which a finite body cannot hold for ever.
    if (draw >= 16) boundary += "_" + std::to_string(draw);
    if (body.find(boundary) == std::string_view::npos) return boundary;
  }
}

bool ComposeMail(const MailDraft& draft, const core::CivilTime& localTime, std::string_view zoneText,
                 const RandomSource& random, PartReader& parts, std::string& out) {
  out.clear();
  const bool multipart = !draft.parts.empty();
  const std::string transfer = core::Trim(HeaderValue(draft.contentTransferEncoding));
  const bool quoted = transfer.empty() && HasOverlongLine(draft.bodyText);
  const std::string quotedBody = quoted ? QuotedPrintable(draft.bodyText) : std::string();
  const std::string_view body = quoted ? std::string_view(quotedBody) : std::string_view(draft.bodyText);

  // Open every file first: the text is sized once from their lengths.
  std::vector<std::unique_ptr<core::ByteSource>> sources;
  std::size_t expected = body.size() + body.size() / 16 + 4096;
  for (const MailPart& part : draft.parts) {
    sources.push_back(parts.Open(sources.size()));
    if (sources.back() == nullptr) return false;
    expected += core::Base64EncodedLength(sources.back()->SizeHint()).value_or(0) + part.fileName.size() +
                part.contentId.size() + 256;
  }
  for (const std::string* text : {&draft.subject, &draft.fromName, &draft.fromAddress})
    expected += text->size();
  for (const auto* list : {&draft.toList, &draft.ccList, &draft.replyToList, &draft.customHeaders}) {
    for (const std::string& entry : *list)
      expected += entry.size() + 8;
  }
  out.reserve(expected);

  DataWriter data(out);
  AppendHeader(data, "Date: " + core::FormatRFC822Date(localTime, false, zoneText));
  AppendHeader(data, "MIME-Version: 1.0");
  AppendHeader(data, "Subject: " + HeaderValue(draft.subject));
  std::string from =
      core::Trim(HeaderValue(draft.fromName) + " " + core::ExtractEmailAddress(HeaderValue(draft.fromAddress), false));
  AppendHeader(data, "From: " + from);
  const std::pair<const char*, const std::vector<std::string>*> lists[] = {
      {"To: ", &draft.toList}, {"Cc: ", &draft.ccList}, {"Reply-To: ", &draft.replyToList}};
  for (const auto& [name, entries] : lists) {
    const std::string list = JoinEntries(*entries);
    if (!list.empty()) AppendHeader(data, name + list);
  }

  std::string bodyType = "Content-Type: ";
  bodyType += draft.isHtml ? "text/html" : "text/plain";
  const std::string charset = core::Trim(HeaderValue(draft.charset));
  if (!charset.empty()) bodyType += "; charset=\"" + Quoted(charset) + "\"";
  const std::string bodyTransfer = quoted ? std::string("quoted-printable") : transfer;
  const auto appendBodyType = [&] {
    AppendHeader(data, bodyType);
    if (!bodyTransfer.empty()) AppendHeader(data, "Content-Transfer-Encoding: " + bodyTransfer);
  };

  std::string delimiter;
  if (multipart) {
    const std::string boundary = DrawBoundary(body, random);
    delimiter = "--" + boundary;
    AppendHeader(data, "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"");
  } else {
    appendBodyType();
  }
  for (const std::string& header : draft.customHeaders) {
    const std::string line = core::Trim(HeaderValue(header));
    if (!line.empty()) AppendHeader(data, line);
  }
  data.Append("\r\n");

  if (multipart) {
    data.Append(delimiter + "\r\n");
    appendBodyType();
    data.Append("\r\n");
  }
  data.Append(body);
  data.Append("\r\n\r\n");

  if (multipart) {
    for (std::size_t index = 0; index < draft.parts.size(); ++index) {
      const MailPart& part = draft.parts[index];
      data.Append(delimiter + "\r\n");
      AppendHeader(data, "Content-Type: application/octet-stream; name=\"" +
                             Quoted(HeaderValue(BaseName(part.fileName))) + "\"");
      AppendHeader(data, "Content-Transfer-Encoding: base64");
      const std::string contentId = HeaderValue(part.contentId);
      if (!contentId.empty()) AppendHeader(data, "Content-ID: " + contentId);
      data.Append("\r\n");
      if (!core::Base64EncodeStream(*sources[index], &data.CleanLines(), nullptr, 0)) {
        out.clear();
        return false;
      }
      sources[index].reset();
      data.Append("\r\n");
    }
    data.Append(delimiter + "--\r\n");
  }
  data.EndMark();
  return true;
}

}  // namespace sender
