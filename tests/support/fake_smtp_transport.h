// A scripted SMTP server for the conversation: chunks of server bytes, each
// available a delay after the previous one was read, on a clock of its own
// that only waits advance. An empty chunk is the server's close; after the
// last chunk the server is silent. Writes are recorded and may be cut short
// or fail.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "sender/net/SmtpConversation.h"

namespace fake {

struct ServerChunk {
  std::uint32_t delayMs = 0;
  std::string bytes;  // empty: the server closes
};

class SmtpTransport final : public sender::SmtpTransport {
 public:
  explicit SmtpTransport(std::vector<ServerChunk> script) : script_(std::move(script)) {}

  bool WaitReadable(std::uint32_t timeoutMs) override {
    const bool silent = closed || next_ == script_.size();
    const std::uint64_t at = silent ? UINT64_MAX : delivered_ + script_[next_].delayMs;
    now_ = at > now_ + timeoutMs ? now_ + timeoutMs : std::max(now_, at);
    return at <= now_;
  }
  std::int32_t Read(char* buffer, std::int32_t count, std::uint32_t) override {
    if (closed || next_ == script_.size() || script_[next_].bytes.empty()) return 0;
    const std::string& bytes = script_[next_].bytes;
    const std::size_t n = std::min(static_cast<std::size_t>(count), bytes.size() - offset_);
    std::memcpy(buffer, bytes.data() + offset_, n);
    if ((offset_ += n) == bytes.size()) {
      offset_ = 0;
      ++next_;
      delivered_ = now_;
    }
    return static_cast<std::int32_t>(n);
  }
  std::int32_t Write(const char* data, std::int32_t count, std::uint32_t) override {
    if (closed) writesAfterClose++;
    const std::size_t n = std::min({static_cast<std::size_t>(count), writeLimit, failAfter - written.size()});
    if (closed || n == 0) return 0;
    written.append(data, n);
    writeSizes.push_back(static_cast<std::int32_t>(n));
    return static_cast<std::int32_t>(n);
  }
  std::uint64_t NowMs() override { return now_; }
  void Close() override { closed = true; }

  std::size_t writeLimit = std::numeric_limits<std::size_t>::max();  // per call
  std::size_t failAfter = std::numeric_limits<std::size_t>::max();   // bytes in all
  std::string written;
  std::vector<std::int32_t> writeSizes;
  int writesAfterClose = 0;
  bool closed = false;

 private:
  std::vector<ServerChunk> script_;
  std::size_t next_ = 0, offset_ = 0;
  std::uint64_t now_ = 0, delivered_ = 0;
};

}  // namespace fake
