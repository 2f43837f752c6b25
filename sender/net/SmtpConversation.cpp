#include "sender/net/SmtpConversation.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "core/mime/HeaderText.h"
#include "core/util/Text.h"

namespace sender {

namespace {

// What the conversation waits for; the numbers are those of the state table.
enum class State : std::uint8_t {
  HeloReply = 0,
  RecipientReply = 1,  // to MAIL or to a RCPT that was not the last
  LastRecipientReply = 2,
  DataReply = 3,
  Acceptance = 4,
  QuitReply = 6,
  Greeting = 7,
};

void RefuseLineBreaks(std::string_view text, const char* what) {
  if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
    throw std::invalid_argument(std::string(what) + " holds a CR, LF or NUL");
}

void RefuseLongPath(const std::string& path, const char* what) {
  if (path.size() > MaxPathLength) throw std::invalid_argument(std::string(what) + " is longer than 256 characters");
}

class Conversation {
 public:
  Conversation(const SmtpConnection& connection, SmtpTransport& transport, const SmtpTimeouts& timeouts)
      : connection_(connection), transport_(transport), timeouts_(timeouts) {}

  SmtpOutcome Run() {
    while (open_) {
      ReadReply(state_ == State::Acceptance ? timeouts_.dataReplyMs : timeouts_.replyMs);
      Step();
    }
    return outcome_;
  }

 private:
  void End() {
    if (open_) transport_.Close();
    open_ = false;
  }

  // One reply into reply_, handled as its last line: continuation lines
  // ("250-...") are dropped, the bytes after the last line stay in pending_
  // for the next reply. A line longer than MaxReplyLine is cut there and its
  // rest dropped up to its CRLF. Everything must arrive within the time; on
  // time-out or close the connection ends and reply_ holds what came of
  // the reply's last line.
  void ReadReply(std::uint32_t timeoutMs) {
    reply_.clear();
    const std::uint64_t deadline = transport_.NowMs() + timeoutMs;
    bool dropping = false;  // inside the rest of an over-long line
    bool cutLast = false;   // that line is the reply's last, its head in reply_
    bool haveReply = false;
    for (;;) {
      for (std::size_t end; (end = pending_.find("\r\n")) != std::string::npos;) {
        if (dropping) {
          dropping = false;
          haveReply = cutLast;
        } else if (end < 4 || pending_[3] != '-') {
          reply_.assign(pending_, 0, std::min(end, MaxReplyLine));
          haveReply = true;
        }
        pending_.erase(0, end + 2);
        if (haveReply) return;
      }
      if (!dropping && pending_.size() > MaxReplyLine + 1) {
        // No CRLF within the first MaxReplyLine + 2 bytes.
        cutLast = pending_[3] != '-';
        if (cutLast) reply_.assign(pending_, 0, MaxReplyLine);
        dropping = true;
      }
      if (dropping) pending_.erase(0, pending_.size() - (pending_.back() == '\r' ? 1 : 0));
      if (!Receive(deadline)) {
        if (!dropping) reply_ = pending_.substr(0, MaxReplyLine);
        End();
        return;
      }
    }
  }

  bool Receive(std::uint64_t deadline) {
    const std::uint64_t now = transport_.NowMs();
    if (now >= deadline) return false;
    const auto wait = static_cast<std::uint32_t>(std::min<std::uint64_t>(deadline - now, 0xFFFF'FFFEu));
    if (!transport_.WaitReadable(wait)) return false;
    char buffer[1024];
    const std::int32_t got = transport_.Read(buffer, sizeof buffer, wait);
    if (got <= 0) return false;
    pending_.append(buffer,
                    static_cast<std::size_t>(std::min<std::int32_t>(got, static_cast<std::int32_t>(sizeof buffer))));
    return true;
  }

  int ReplyCode() const {
    if (reply_.size() < 3) return 0;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
      const char c = reply_[static_cast<std::size_t>(i)];
      if (c < '0' || c > '9') return 0;
      code = code * 10 + (c - '0');
    }
    return code;
  }

  // Acts on the reply by the state table; any pair it does not list ends.
  void Step() {
    const int code = ReplyCode();
    outcome_.lastReply = reply_;
    const auto& recipients = connection_.recipients;
    switch (state_) {
      case State::Greeting:
        if (code != 220 && code != 250) break;
        state_ = State::HeloReply;
        Send("HELO " + (connection_.greeting.empty() ? std::string("localhost") : connection_.greeting));
        return;
      case State::HeloReply:
        if (code != 220 && code != 250) break;
        recipientsSent_ = 0;
        state_ = State::RecipientReply;
        Send("MAIL From:" + connection_.sender);
        return;
      case State::RecipientReply:
        // 251: the server forwards to the recipient (RFC 5321 4.3.2); a
        // reply to MAIL counts only with 250.
        if (code != 250 && (code != 251 || recipientsSent_ == 0)) break;
        ++recipientsSent_;
        if (recipientsSent_ >= recipients.size()) state_ = State::LastRecipientReply;
        Send("RCPT To:" + recipients[recipientsSent_ - 1]);
        return;
      case State::LastRecipientReply:
        if (code != 250 && code != 251) break;
        state_ = State::DataReply;
        Send("DATA");
        return;
      case State::DataReply:
        if (code != 354) break;
        state_ = State::Acceptance;
        WriteMessage();
        return;
      case State::Acceptance:
        if (code != 250) break;
        outcome_.sent = true;
        state_ = State::QuitReply;
        Send("QUIT");
        return;
      case State::QuitReply:
        break;
    }
    End();
  }

  // A command line is written whole with its CRLF, or not at all.
  void Send(const std::string& command) {
    const std::string line = command + "\r\n";
    if (line.size() > MaxCommandLine) return End();
    WriteAll(line.data(), line.size());
  }

  void WriteAll(const char* data, std::size_t size) {
    while (size > 0 && open_) {
      const auto count = static_cast<std::int32_t>(std::min<std::size_t>(size, MessageSlice));
      const std::int32_t moved = transport_.Write(data, count, timeouts_.replyMs);
      if (moved <= 0) return End();
      const auto done = std::min(static_cast<std::size_t>(moved), size);
      data += done;
      size -= done;
    }
  }

  // The text as it stands, walked by offset: slices of MessageSlice, each
  // written in parts of MessagePart.
  void WriteMessage() {
    const std::string& text = *connection_.message;
    for (std::size_t slice = 0; slice < text.size() && open_; slice += MessageSlice) {
      const std::size_t sliceEnd = std::min(text.size(), slice + MessageSlice);
      for (std::size_t part = slice; part < sliceEnd && open_; part += MessagePart)
        WriteAll(text.data() + part, std::min(MessagePart, sliceEnd - part));
    }
  }

  const SmtpConnection& connection_;
  SmtpTransport& transport_;
  const SmtpTimeouts timeouts_;
  bool open_ = true;
  State state_ = State::Greeting;
  std::size_t recipientsSent_ = 0;
  std::string pending_;
  std::string reply_;
  SmtpOutcome outcome_;
};

}  // namespace

SmtpConnection MakeSmtpConnection(std::string_view sender, std::string_view recipients, std::string_view greeting,
                                  std::shared_ptr<const std::string> message) {
  RefuseLineBreaks(sender, "the sender");
  RefuseLineBreaks(recipients, "the recipient list");
  RefuseLineBreaks(greeting, "the greeting name");
  const std::string_view endMark = "\r\n.\r\n";
  if (message == nullptr || !(*message == ".\r\n" || message->ends_with(endMark)))
    throw std::invalid_argument("the message text does not end with CRLF \".\" CRLF");
  // An unstuffed "." line before the end would end the data there and hand
  // the rest of the text to the server as commands.
  const std::string_view body(message->data(), message->size() - 3);
  if (body.starts_with(".\r\n") || body.find(endMark) != std::string_view::npos)
    throw std::invalid_argument("the message text holds a \".\" line before its end");

  SmtpConnection connection;
  connection.greeting = greeting.substr(0, MaxGreetingLength);
  connection.sender = core::ExtractEmailAddress(sender, false);
  RefuseLongPath(connection.sender, "the sender");
  for (std::size_t start = 0; start <= recipients.size();) {
    const std::size_t end = std::min(recipients.find(';', start), recipients.size());
    std::string item = core::Trim(recipients.substr(start, end - start));
    RefuseLongPath(item, "a recipient");
    if (!item.empty()) connection.recipients.push_back(std::move(item));
    start = end + 1;
  }
  // The server refuses the empty item, and the caller sees its reply.
  if (connection.recipients.empty()) connection.recipients.emplace_back();
  connection.message = std::move(message);
  return connection;
}

SmtpOutcome RunSmtpConversation(const SmtpConnection& connection, SmtpTransport& transport,
                                const SmtpTimeouts& timeouts) {
  return Conversation(connection, transport, timeouts).Run();
}

}  // namespace sender
