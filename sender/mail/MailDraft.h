#pragma once
// A message as a client of the Mailer class builds it: the server and
// envelope, the header fields, the body and the files to attach, with the
// rules by which an address joins the envelope and the header lists. Texts
// are 8-bit and kept as they were given; the composer (MailComposer.h)
// makes them safe for the header block, the envelope is never changed
// (the SMTP client refuses what it cannot send).

#include <string>
#include <string_view>
#include <vector>

namespace sender {

// A file to attach: its name as the part's header shows it (the folder is
// dropped when composing), its Content-ID, empty for a plain attachment, and
// the UTF-16 name that the send opens.
struct MailPart {
  std::string fileName;
  std::string contentId;
  std::wstring path{};
};

struct MailDraft {
  std::string remoteHost = "localhost";  // "host[:port]", "a.b.c.d[:port]", "[address]:port"
  std::string fromName;
  std::string fromAddress;
  std::string bodyText;  // as put: the composer stuffs dots
  std::string subject;
  std::string recipients;  // envelope: "<address>;" items
  std::string mailFrom;    // envelope sender
  std::string helo;        // empty: "localhost"
  std::string charset;
  std::string contentTransferEncoding;
  bool isHtml = false;
  // Header list entries, each "Name <address>" or "<address>".
  std::vector<std::string> toList;
  std::vector<std::string> ccList;
  std::vector<std::string> replyToList;
  // One header line each, trimmed.
  std::vector<std::string> customHeaders;
  std::vector<MailPart> parts;
};

enum class AddressKind { To, Cc, Bcc, ReplyTo };

// The address rules: an empty email takes the name's place; a name holding
// "@" beside an email without one swaps with it; the email becomes its
// address in angle brackets (BracketAddress). All but ReplyTo append the
// address and ";" to the envelope recipients; all but Bcc append the entry
// (name, blank, address; trimmed) to their header list.
void AddAddress(MailDraft& draft, AddressKind kind, std::string_view email, std::string_view name);

// The address of a "Name <address>" text in angle brackets: the text after
// the last "<" up to the next ">", trimmed; a text with neither bracket is
// trimmed and bracketed; one with ">" but no "<" stays as it is. Comments and
// every other character stay, line breaks too: the envelope refuses those.
std::string BracketAddress(std::string_view text);

// Appends one header line: the value trimmed; an empty one adds nothing (an
// empty line would end the header block).
void AddCustomHeader(MailDraft& draft, std::string_view value);

}  // namespace sender
