#pragma once
// The client side of one SMTP delivery, apart from any socket: the checked
// envelope, reply assembly, the state table and the writing of commands and
// message text over a small transport. HELO, MAIL, one RCPT per recipient,
// DATA, the text, QUIT; no extensions, authentication or encryption.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sender {

// What the conversation needs of a connection. Reads and writes answer the
// bytes moved; 0 means time-out, error or a connection closed by the peer.
class SmtpTransport {
 public:
  virtual ~SmtpTransport() = default;
  // True when bytes (or the peer's close) can be read within the time.
  virtual bool WaitReadable(std::uint32_t timeoutMs) = 0;
  virtual std::int32_t Read(char* buffer, std::int32_t count, std::uint32_t timeoutMs) = 0;
  virtual std::int32_t Write(const char* data, std::int32_t count, std::uint32_t timeoutMs) = 0;
  // A monotonic clock in milliseconds.
  virtual std::uint64_t NowMs() = 0;
  virtual void Close() = 0;
};

struct SmtpTimeouts {
  std::uint32_t replyMs = 60'000;  // every reply, and every write
  // The reply to the end of the data: a server may check the whole message
  // before it answers (RFC 5321 4.5.3.2.6).
  std::uint32_t dataReplyMs = 600'000;
};

// Limits of the conversation.
inline constexpr std::size_t MaxPathLength = 256;      // RFC 5321 4.5.3.1.3, brackets included
inline constexpr std::size_t MaxGreetingLength = 127;  // longer greeting names are cut
inline constexpr std::size_t MaxCommandLine = 512;     // CRLF included
inline constexpr std::size_t MaxReplyLine = 1000;      // longer reply lines are cut, their rest dropped
inline constexpr std::size_t MessageSlice = 65'536;    // the text is walked in slices...
inline constexpr std::size_t MessagePart = 2'048;      // ...written in parts of this size

// The envelope and text of one delivery, checked once.
struct SmtpConnection {
  std::string greeting;                 // empty: "localhost" is sent
  std::string sender;                   // "<address>", "<>" when none
  std::vector<std::string> recipients;  // trimmed items in list order; one empty item when none
  std::shared_ptr<const std::string> message;
};

// Builds the envelope. Raises std::invalid_argument for a CR, LF or NUL in
// the sender, the recipient list or the greeting name (each would end a
// command line early), for a sender or recipient longer than MaxPathLength,
// for a message that does not end with the end mark CRLF "." CRLF, and for
// one that holds a "." line anywhere before that end (it would end the data
// early; the caller stuffs its text). The
// sender is reduced to its address in angle brackets; recipients are the
// non-empty trimmed ";"-separated items, sent as they stand.
SmtpConnection MakeSmtpConnection(std::string_view sender, std::string_view recipients, std::string_view greeting,
                                  std::shared_ptr<const std::string> message);

struct SmtpOutcome {
  bool sent = false;      // the server answered 250 to the message data
  std::string lastReply;  // the last reply handled, without its CRLF
};

// Runs the whole conversation on a connected transport and closes it.
// Never raises for anything the server does.
SmtpOutcome RunSmtpConversation(const SmtpConnection& connection, SmtpTransport& transport,
                                const SmtpTimeouts& timeouts = {});

}  // namespace sender
