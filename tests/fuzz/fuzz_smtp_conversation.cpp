// Arbitrary server bytes against the SMTP conversation. The first byte picks
// the recipients, whether writes are cut short, and seeds the sizes in which
// the rest arrives; the end of the input is the server's close. The
// conversation must end, write only whole command lines, and write the
// message at most once, right after DATA.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sender/net/SmtpConversation.h"

namespace {

const char* const Recipients[] = {"<a@x>", "<a@x>;<b@x>;", "", " <a@x> ; ;<b@x>;<c@x>"};
const std::string Text = "Subject: f\r\n\r\n..dot\r\nbody\r\n.\r\n";

class FuzzTransport final : public sender::SmtpTransport {
 public:
  FuzzTransport(std::string_view server, std::uint32_t seed, bool cutWrites)
      : server_(server), state_(seed | 1), cutWrites_(cutWrites) {}

  bool WaitReadable(std::uint32_t timeoutMs) override {
    if (closed_) std::abort();
    now_ += 1 + Next() % timeoutMs;
    return true;
  }
  std::int32_t Read(char* buffer, std::int32_t count, std::uint32_t) override {
    if (closed_ || count <= 0) std::abort();
    const std::size_t n = std::min({server_.size(), static_cast<std::size_t>(count), std::size_t{1} + Next() % 300});
    server_.copy(buffer, n);
    server_.remove_prefix(n);
    return static_cast<std::int32_t>(n);
  }
  std::int32_t Write(const char* data, std::int32_t count, std::uint32_t) override {
    if (closed_ || count <= 0) std::abort();
    const auto n = cutWrites_ ? 1 + static_cast<std::int32_t>(Next() % static_cast<std::uint32_t>(count)) : count;
    written.append(data, static_cast<std::size_t>(n));
    return n;
  }
  std::uint64_t NowMs() override { return now_; }
  void Close() override { closed_ = true; }

  std::string written;

 private:
  std::uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }

  std::string_view server_;
  std::uint32_t state_;
  bool cutWrites_;
  bool closed_ = false;
  std::uint64_t now_ = 0;
};

bool IsCommand(std::string_view line) {
  for (const std::string_view verb : {"HELO ", "MAIL From:", "RCPT To:", "DATA\r\n", "QUIT\r\n"})
    if (line.starts_with(verb)) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const sender::SmtpConnection connection =
      sender::MakeSmtpConnection("<s@x>", Recipients[data[0] & 3], "", std::make_shared<const std::string>(Text));
  FuzzTransport transport(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), data[0] >> 3,
                          (data[0] & 4) != 0);
  const sender::SmtpOutcome outcome = sender::RunSmtpConversation(connection, transport);

  if (outcome.lastReply.size() > sender::MaxReplyLine || outcome.lastReply.find("\r\n") != std::string::npos)
    std::abort();
  std::string rest = transport.written;
  if (const std::size_t at = rest.find(Text); at != std::string::npos) {
    if (!std::string_view(rest).substr(0, at).ends_with("DATA\r\n")) std::abort();
    rest.erase(at, Text.size());
    if (rest.find(Text) != std::string::npos) std::abort();
  } else if (outcome.sent) {
    std::abort();
  }
  for (std::size_t start = 0; start < rest.size();) {
    const std::size_t end = rest.find("\r\n", start);
    if (end == std::string::npos || end + 2 - start > sender::MaxCommandLine) std::abort();
    if (!IsCommand(std::string_view(rest).substr(start, end + 2 - start))) std::abort();
    start = end + 2;
  }
  return 0;
}
