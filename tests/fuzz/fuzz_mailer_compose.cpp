// Arbitrary drafts against the mail composer. The first byte picks the
// transfer encoding, the body type and how many files are attached; the
// rest is split at 0x01 into the subject, sender name and address, body,
// a recipient, a custom header, a file name and content, a Content-ID and
// the charset. The text must end every line with CRLF, hold no "." line
// before its end mark, fold every header line that has a blank to fold at
// within 998 octets, give the body back once unstuffed, and the encoded
// words of the subject must read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/mime/HeaderText.h"
#include "core/mime/TransferCodecs.h"
#include "core/util/Text.h"
#include "sender/mail/MailComposer.h"

namespace {

class Files final : public sender::PartReader {
 public:
  explicit Files(std::string_view data) : data_(data) {}
  std::unique_ptr<core::ByteSource> Open(std::size_t) override {
    return std::make_unique<core::MemorySource>(data_, 777);
  }

 private:
  std::string_view data_;
};

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string Crlf(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      out += "\r\n";
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A blank that a non-blank follows, at or before the 998th octet, past the
// line's own start (the blank of a continuation, or the header's name and
// the first word of its value).
bool FoldableWithin(std::string_view line) {
  std::size_t start = 1;
  if (line[0] != ' ') {
    const std::size_t colon = line.find(':');
    start = colon == std::string_view::npos ? 0 : colon + 1;
    while (start < line.size() && line[start] == ' ')
      ++start;
    ++start;
  }
  for (std::size_t i = start; i <= sender::MaxLineLength && i + 1 < line.size(); ++i) {
    if (line[i] == ' ' && line[i + 1] != ' ') return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  std::vector<std::string> fields;
  fields.emplace_back();
  for (std::size_t i = 1; i < size; ++i) {
    if (data[i] == 0x01 && fields.size() < 11) {
      fields.emplace_back();
    } else {
      fields.back().push_back(static_cast<char>(data[i]));
    }
  }
  fields.resize(11);

  sender::MailDraft draft;
  draft.subject = fields[0];
  draft.fromName = fields[1];
  draft.fromAddress = fields[2];
  draft.bodyText = fields[3];
  sender::AddAddress(draft, sender::AddressKind::To, fields[4], fields[1]);
  sender::AddAddress(draft, sender::AddressKind::Cc, fields[2], "");
  sender::AddCustomHeader(draft, fields[5]);
  draft.charset = fields[9];
  const char* const encodings[] = {"", "8bit", "base64", nullptr};
  draft.contentTransferEncoding = encodings[flags & 3] ? encodings[flags & 3] : fields[10];
  draft.isHtml = (flags & 4) != 0;
  for (int i = 0; i < ((flags >> 3) & 3); ++i)
    draft.parts.push_back({fields[6], i == 0 ? fields[8] : ""});

  Files files(fields[7]);
  std::uint32_t counter = flags;
  const sender::RandomSource random = [&] { return counter++; };
  std::string text;
  Check(sender::ComposeMail(draft, core::CivilTime{2024, 2, 29, 23, 59, 59}, "+0530", random, files, text));

  // Line ends and the end mark.
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') Check(i + 1 < text.size() && text[i + 1] == '\n');
    if (text[i] == '\n') Check(i > 0 && text[i - 1] == '\r');
  }
  Check(text.ends_with("\r\n.\r\n") && text.find("\r\n.\r\n") == text.size() - 5);

  // Header lines: folded where they can be.
  const std::size_t headerEnd = text.find("\r\n\r\n");
  Check(headerEnd != std::string::npos);
  for (std::size_t at = 0; at < headerEnd + 2;) {
    const std::size_t end = text.find("\r\n", at);
    const std::string_view line(text.data() + at, end - at);
    if (line.size() > sender::MaxLineLength) Check(!FoldableWithin(line));
    at = end + 2;
  }

  // Unstuffed, the body is there as it was put (or its quoted-printable form).
  std::string stored;
  for (std::size_t at = 0; at + 3 < text.size();) {
    const std::size_t end = text.find("\r\n", at) + 2;
    const std::size_t skip = text[at] == '.' ? 1 : 0;
    stored.append(text, at + skip, end - at - skip);
    at = end;
  }
  std::string encoding = draft.contentTransferEncoding;
  for (char& c : encoding) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  }
  const bool quoted = core::Trim(encoding).empty() && sender::HasOverlongLine(draft.bodyText);
  if (quoted) Check(stored.find("Content-Transfer-Encoding: quoted-printable\r\n") != std::string::npos);
  const std::string body = quoted ? sender::QuotedPrintable(draft.bodyText) : Crlf(draft.bodyText);
  const std::size_t storedEnd = stored.find("\r\n\r\n");
  if (draft.parts.empty()) {
    Check(stored.compare(storedEnd + 4, std::string::npos, body + "\r\n\r\n") == 0);
  } else {
    Check(stored.find("\r\n\r\n" + body + "\r\n\r\n----=") != std::string::npos);
  }
  if (quoted) {
    std::string joined = body;
    for (std::size_t at; (at = joined.find("=\r\n")) != std::string::npos;)
      joined.erase(at, 3);
    Check(core::DecodeQuotedPrintable(joined) == Crlf(draft.bodyText));
  }

  // Encoded words: short, without blanks, and read back.
  const std::string words = sender::EncodeHeader(fields[0], fields[9]);
  if (fields[9].size() <= 40) {
    std::size_t start = 0;
    for (std::size_t at = 0; at <= words.size(); ++at) {
      if (at < words.size() && words[at] != ' ') continue;
      Check(at - start <= 75);
      start = at + 1;
    }
  }
  std::string expected = fields[0];
  for (char& c : expected) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  }
  Check(core::DecodeHeaderText(words, false) == expected);
  return 0;
}
