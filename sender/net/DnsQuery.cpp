#include "sender/net/DnsQuery.h"

#include <bcrypt.h>

#include <algorithm>

#include "core/util/Text.h"
#include "sender/net/SocketStartup.h"

namespace sender {

namespace {

constexpr std::size_t LargestDatagram = 65536;

std::uint16_t RandomId() {
  std::uint16_t value = 0;
  ::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  return value;
}

}  // namespace

DnsQuery::DnsQuery() : idCounter_(RandomId()), datagram_(LargestDatagram) {
  WSADATA data;
  started_ = StartWindowsSockets(data) == 0;
}

DnsQuery::~DnsQuery() {
  socket_.reset();
  if (started_) EndWindowsSockets();
}

void DnsQuery::SetServer(std::string_view address, std::uint16_t port, std::string_view hostName) {
  addressText_ = core::CutTo(address, core::ShortTextLength);
  hostName_ = core::CutTo(hostName, core::ShortTextLength);
  port_ = port;
}

core::IPv6Address DnsQuery::GetAAAAAnswer(std::size_t index) const {
  return index < result_.aaaa.size() ? result_.aaaa[index] : core::IPv6Address{};
}

void DnsQuery::BuildHeader() { BuildDnsHeader(idCounter_, std::span(request_).first<DnsHeaderSize>()); }

std::size_t DnsQuery::BuildQuestion(std::string_view name, std::uint16_t type) {
  return BuildDnsQuestion(name, type, std::span(request_).subspan(DnsHeaderSize));
}

std::uint32_t DnsQuery::ServerAddress() const {
  if (!hostName_.empty()) {
    const hostent* host = ::gethostbyname(hostName_.c_str());
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_addr_list[0] == nullptr) return 0;
    std::uint32_t address;
    std::copy_n(host->h_addr_list[0], sizeof address, reinterpret_cast<char*>(&address));
    return address;
  }
  const std::uint32_t address = ::inet_addr(addressText_.c_str());
  // Neither 0 nor INADDR_NONE (also what a text that is no address gives) is a server.
  return address == INADDR_NONE ? 0 : address;
}

bool DnsQuery::RunQuery(std::string_view name, std::uint16_t type) {
  result_ = DnsResult{};
  responseLength_ = -1;
  ++idCounter_;
  BuildHeader();
  const std::size_t question = BuildQuestion(name, type);
  if (question == 0) return false;
  requestLength_ = DnsHeaderSize + question;

  server_ = sockaddr_in{};
  server_.sin_family = AF_INET;
  server_.sin_port = ::htons(port_);
  server_.sin_addr.s_addr = ServerAddress();
  if (server_.sin_addr.s_addr == 0) return false;

  // A new socket each time (a fresh source port per question); new sockets
  // are blocking already. Not connected: that costs a round trip of its own
  // under some socket layers; the server's address is checked on receipt.
  socket_.reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!socket_) return false;
  const bool ok = ExchangeAndParse();
  socket_.reset();
  return ok;
}

bool DnsQuery::ExchangeAndParse() {
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutSeconds_) * 1000;
  const auto length = static_cast<int>(requestLength_);
  if (::sendto(socket_.get(), reinterpret_cast<const char*>(request_.data()), length, 0,
               reinterpret_cast<const sockaddr*>(&server_), sizeof server_) != length)
    return false;
  const std::span<const std::uint8_t> request(request_.data(), requestLength_);
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return false;
    const ULONGLONG remaining = deadline - now;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_.get(), &readable);
    timeval wait{static_cast<long>(remaining / 1000), static_cast<long>(remaining % 1000) * 1000};
    if (::select(0, &readable, nullptr, nullptr, &wait) <= 0) return false;
    sockaddr_storage from{};
    int fromLength = sizeof from;
    const int got = ::recvfrom(socket_.get(), reinterpret_cast<char*>(datagram_.data()),
                               static_cast<int>(datagram_.size()), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (got == SOCKET_ERROR) return false;
    // Only the server's address and port can answer: anyone else who learnt
    // the port and the id is ignored.
    const auto& source = reinterpret_cast<const sockaddr_in&>(from);
    if (from.ss_family != AF_INET || source.sin_addr.s_addr != server_.sin_addr.s_addr ||
        source.sin_port != server_.sin_port)
      continue;
    const std::span<const std::uint8_t> datagram(datagram_.data(), static_cast<std::size_t>(got));
    std::size_t kept = 0;
    // Anything that is not the answer to this question is dropped unread.
    if (!AcceptDnsDatagram(datagram, request, response_, kept, result_)) continue;
    responseLength_ = static_cast<int>(kept);
    return true;
  }
}

bool DnsQuery::QueryMX(std::string_view name) { return RunQuery(name, DnsType::MX); }
bool DnsQuery::QueryA(std::string_view name) { return RunQuery(name, DnsType::A); }
bool DnsQuery::QueryAAAA(std::string_view name) { return RunQuery(name, DnsType::AAAA); }
bool DnsQuery::QueryPTR(std::string_view address) { return RunQuery(ReverseLookupName(address), DnsType::PTR); }
bool DnsQuery::QueryCNAME(std::string_view name) { return RunQuery(name, DnsType::CNAME); }
bool DnsQuery::QueryNS(std::string_view name) { return RunQuery(name, DnsType::NS); }
bool DnsQuery::QueryMD(std::string_view name) { return RunQuery(name, DnsType::MD); }
bool DnsQuery::QueryMF(std::string_view name) { return RunQuery(name, DnsType::MF); }
bool DnsQuery::QuerySOA(std::string_view name) { return RunQuery(name, DnsType::SOA); }
bool DnsQuery::QueryHINFO(std::string_view name) { return RunQuery(name, DnsType::HINFO); }
bool DnsQuery::QueryTXT(std::string_view name) { return RunQuery(name, DnsType::TXT); }

}  // namespace sender
