#pragma once
// The SMTP peer of the sending benchmarks: a thread of the program that
// serves one conversation on a free port of 127.0.0.1 (220, 250, 250, 250,
// 354, the text discarded up to its end mark, 250, 221).

#include <winsock2.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/platform/Handles.h"

namespace bench {

class Sink {
 public:
  Sink() : listener_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    int length = sizeof local;
    ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&local), length);
    ::listen(listener_.get(), 1);
    ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&local), &length);
    port = ::ntohs(local.sin_port);
    server_ = std::thread([this] { Serve(); });
  }
  ~Sink() { server_.join(); }

  std::uint16_t port = 0;

 private:
  void Serve() {
    core::UniqueSocket client(::accept(listener_.get(), nullptr, nullptr));
    std::vector<char> buffer(64 << 10);
    std::string seen;  // unread bytes of command lines; the last bytes of the text
    const auto say = [&](std::string_view reply) {
      ::send(client.get(), reply.data(), static_cast<int>(reply.size()), 0);
    };
    const auto awaitMark = [&](std::string_view mark) {
      for (;;) {
        if (const std::size_t at = seen.find(mark); at != std::string::npos) {
          seen.erase(0, at + mark.size());
          return true;
        }
        // Keep only what a mark split over two reads needs.
        if (seen.size() > 64) seen.erase(0, seen.size() - 8);
        const int n = ::recv(client.get(), buffer.data(), static_cast<int>(buffer.size()), 0);
        if (n <= 0) return false;
        seen.append(buffer.data(), static_cast<std::size_t>(n));
      }
    };
    say("220 sink\r\n");
    for (const char* reply : {"250 hello\r\n", "250 sender\r\n", "250 rcpt\r\n", "354 go\r\n"}) {
      if (!awaitMark("\r\n")) return;
      say(reply);
    }
    seen.insert(0, "\r\n");  // the CRLF of the DATA line starts the end mark of an empty text
    if (!awaitMark("\r\n.\r\n")) return;
    say("250 queued\r\n");
    if (awaitMark("\r\n")) say("221 bye\r\n");
  }

  core::UniqueSocket listener_;
  std::thread server_;
};

// The same conversation as the SMTP thread holds it, sent plainly with
// blocking calls: each command and its reply, the text in 2,048-byte parts.
inline void SendPlainly(std::uint16_t port, std::string_view text) {
  core::UniqueSocket s(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_addr.s_addr = ::inet_addr("127.0.0.1");
  remote.sin_port = ::htons(port);
  ::connect(s.get(), reinterpret_cast<sockaddr*>(&remote), sizeof remote);
  char reply[256];
  const auto line = [&](std::string_view command) {
    ::send(s.get(), command.data(), static_cast<int>(command.size()), 0);
    ::recv(s.get(), reply, sizeof reply, 0);
  };
  ::recv(s.get(), reply, sizeof reply, 0);
  line("HELO localhost\r\n");
  line("MAIL From:<s@b>\r\n");
  line("RCPT To:<r@b>\r\n");
  line("DATA\r\n");
  for (std::size_t at = 0; at < text.size(); at += 2048)
    ::send(s.get(), text.data() + at, static_cast<int>(std::min<std::size_t>(2048, text.size() - at)), 0);
  ::recv(s.get(), reply, sizeof reply, 0);
  line("QUIT\r\n");
}

}  // namespace bench
