// Times 256 MB read through the socket stream in 64 KiB reads against plain
// recv calls of the same size, each over its own loopback TCP connection fed
// by a writer thread in the same process.
//   scripts/wine-run.sh build/windows64/bench/bench_socket_read.exe

#include <winsock2.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "bench/harness.h"
#include "core/platform/Handles.h"
#include "sender/net/WinSocket.h"

namespace {

constexpr long long Total = 256LL << 20;
constexpr int Chunk = 64 << 10;
constexpr int Rounds = 5;

// A listener on a free port of 127.0.0.1 whose first client gets Total bytes.
struct Feeder {
  Feeder() : listener(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    int length = sizeof local;
    ::bind(listener.get(), reinterpret_cast<sockaddr*>(&local), length);
    ::listen(listener.get(), 1);
    ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&local), &length);
    port = ::ntohs(local.sin_port);
    writer = std::thread([this] {
      core::UniqueSocket client(::accept(listener.get(), nullptr, nullptr));
      std::vector<char> block(Chunk, 'b');
      for (long long sent = 0; sent < Total;) {
        const int n = ::send(client.get(), block.data(), Chunk, 0);
        if (n <= 0) break;
        sent += n;
      }
    });
  }
  ~Feeder() { writer.join(); }
  core::UniqueSocket listener;
  std::uint16_t port = 0;
  std::thread writer;
};

}  // namespace

int main() {
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 2), &data);
  std::vector<char> buffer(Chunk);

  const auto [ours, baseline] = bench::AlternatingMedians(
      Rounds,
      [&] {
        Feeder feeder;
        sender::CustomWinSocket socket;
        socket.SetEventStyles(0);
        socket.ConnectTo("", "127.0.0.1", feeder.port, "");
        sender::WinSocketStream stream(socket, 5000);
        long long got = 0;
        for (std::int32_t n; got < Total && (n = stream.Read(buffer.data(), Chunk)) > 0;)
          got += n;
        return got;
      },
      [&] {
        Feeder feeder;
        core::UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = ::htons(feeder.port);
        server.sin_addr.s_addr = ::inet_addr("127.0.0.1");
        ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&server), sizeof server);
        long long got = 0;
        for (int n; got < Total && (n = ::recv(socket.get(), buffer.data(), Chunk, 0)) > 0;)
          got += n;
        return got;
      });
  ::WSACleanup();
  bench::Report("socket_read_256mb", ours, baseline);
  return 0;
}
