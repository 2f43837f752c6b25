// Times 2,000 AAAA queries through the resolver against 2,000 plain
// exchanges of the same request bytes on one connected UDP socket, both
// against the dnsmasq that run_with_peers.sh starts (VM_DNS_PORT). What the
// ratio shows is the resolver's own cost: a socket per query, the wait and
// the parse.
//   tests/sender/net/run_with_peers.sh build/windows64/bench/bench_dns.exe

#include <winsock2.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/harness.h"
#include "core/platform/Handles.h"
#include "sender/net/DnsQuery.h"

namespace {

constexpr int Queries = 2000;
constexpr int Rounds = 5;

}  // namespace

int main() {
  const char* portText = std::getenv("VM_DNS_PORT");
  if (portText == nullptr) {
    std::fprintf(stderr, "bench_dns: run it through tests/sender/net/run_with_peers.sh\n");
    return 1;
  }
  const auto port = static_cast<std::uint16_t>(std::atoi(portText));
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 2), &data);

  sender::DnsQuery query;
  query.SetServer("127.0.0.1", port, "");

  // The same request bytes, sent and answered on one socket kept open.
  std::uint8_t request[sender::DnsDatagramLimit];
  sender::BuildDnsHeader(1, std::span(request).first<sender::DnsHeaderSize>());
  const auto length =
      static_cast<int>(sender::DnsHeaderSize +
                       sender::BuildDnsQuestion("mx6.test", sender::DnsType::AAAA, std::span(request).subspan(12)));
  core::UniqueSocket raw(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = ::htons(port);
  server.sin_addr.s_addr = ::inet_addr("127.0.0.1");
  ::connect(raw.get(), reinterpret_cast<const sockaddr*>(&server), sizeof server);
  std::vector<char> reply(65536);

  const auto [ours, baseline] = bench::AlternatingMedians(
      Rounds,
      [&] {
        int found = 0;
        for (int i = 0; i < Queries; ++i)
          found += query.QueryAAAA("mx6.test") && query.Result().aaaa.size() == 1 ? 1 : 0;
        return found;
      },
      [&] {
        long long bytes = 0;
        for (int i = 0; i < Queries; ++i) {
          ::send(raw.get(), reinterpret_cast<const char*>(request), length, 0);
          bytes += ::recv(raw.get(), reply.data(), static_cast<int>(reply.size()), 0);
        }
        return bytes;
      });
  raw.reset();
  ::WSACleanup();
  bench::Report("dns_2000_aaaa", ours, baseline);
  return 0;
}
