#include "sender/net/WinSocket.h"

#include <ws2tcpip.h>

#include <cstring>

#include "core/util/IPv6Text.h"
#include "core/util/NetText.h"
#include "core/util/Text.h"
#include "sender/net/IPv6Lookup.h"
#include "sender/net/SocketStartup.h"

namespace sender {

namespace {

// The system's text for an error code, without its trailing blanks and dot.
std::string SystemMessage(int code) {
  char* text = nullptr;
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message(text != nullptr ? text : "", text != nullptr ? length : 0);
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (static_cast<unsigned char>(message.back()) <= ' ' || message.back() == '.'))
    message.pop_back();
  return message;
}

// "::" (or its IPv4-mapped form of 0.0.0.0): like the all-zero IPv4
// address, it would reach a listener of this machine.
bool IsUnspecified(const sockaddr_storage& address) {
  const auto& bytes = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr.s6_addr;
  for (int i = 0; i < 16; ++i)
    if (bytes[i] != 0 && !((i == 10 || i == 11) && bytes[i] == 0xFF)) return false;
  return bytes[10] == bytes[11];
}

}  // namespace

void RaiseSocketError(int code, const char* api) {
  throw ESocketError("Windows socket error: " + SystemMessage(code) + " (" + std::to_string(code) + "), on API '" +
                     api + "'");
}

int CheckSocketResult(int result, const char* api) {
  if (result == 0) return 0;
  const int code = ::WSAGetLastError();
  if (code == WSAEWOULDBLOCK) return code;
  RaiseSocketError(code, api);
}

CustomWinSocket::CustomWinSocket(SOCKET handle) {
  WSADATA data;
  if (const int code = StartWindowsSockets(data); code != 0) RaiseSocketError(code, "WSAStartup");
  ::InitializeCriticalSection(&lock_);
  handle_.reset(handle);
  connected_ = handle_.valid();
  remoteIPv4_.sin_family = AF_INET;
  ipv6Mode_ = GetIPv6Settings().enabled;
}

CustomWinSocket::~CustomWinSocket() {
  CloseConnection();
  ::DeleteCriticalSection(&lock_);
  // Nothing is to be gained from a failing cleanup while destroying.
  EndWindowsSockets();
}

void CustomWinSocket::SetEventStyles(std::uint8_t styles) {
  if (styles == styles_) return;
  styles_ = styles;
  if (handle_) ApplyEventStyles();
}

void CustomWinSocket::ApplyEventStyles() {
  u_long nonBlocking = 1;
  if (styles_ == 0) {
    ::WSAAsyncSelect(handle_.get(), nullptr, 0, 0);
    nonBlocking = 0;
  }
  ::ioctlsocket(handle_.get(), FIONBIO, &nonBlocking);
}

void CustomWinSocket::CloseConnection() noexcept {
  SocketGuard guard(*this);
  if (handle_) {
    ::shutdown(handle_.get(), SD_SEND);
    handle_.reset();
  }
  connected_ = false;
}

std::uint32_t CustomWinSocket::ResolveIPv4Host(std::string_view name) {
  const hostent* host = ::gethostbyname(std::string(name).c_str());
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_addr_list[0] == nullptr) return 0;
  std::uint32_t address;
  std::memcpy(&address, host->h_addr_list[0], sizeof address);
  return address;
}

std::uint16_t CustomWinSocket::ResolveServicePort(std::string_view service) {
  const servent* entry = ::getservbyname(std::string(service).c_str(), "tcp");
  return entry == nullptr ? 0 : ::ntohs(entry->s_port);
}

int CustomWinSocket::FillIPv4Address(const std::string& hostName, std::uint32_t literal, std::uint16_t port,
                                     sockaddr_storage& out) {
  remoteIPv4_ = sockaddr_in{};
  remoteIPv4_.sin_family = AF_INET;
  remoteIPv4_.sin_port = ::htons(port);
  if (hostName.empty()) {
    // No host and no address, or the literal 0.0.0.0: the all-zero address
    // would reach a listener of this machine.
    if (literal == 0) RaiseSocketError(WSAEADDRNOTAVAIL, "connect");
    remoteIPv4_.sin_addr.s_addr = ::htonl(literal);
  } else {
    // Never connect to whatever a failed lookup left behind.
    remoteIPv4_.sin_addr.s_addr = ResolveIPv4Host(hostName);
    if (remoteIPv4_.sin_addr.s_addr == 0) RaiseSocketError(WSAHOST_NOT_FOUND, "gethostbyname");
  }
  std::memcpy(&out, &remoteIPv4_, sizeof remoteIPv4_);
  return sizeof remoteIPv4_;
}

int CustomWinSocket::FillIPv6Address(const std::string& address, std::uint16_t port, sockaddr_storage& out) {
  // Without the name functions or an address they accept there is nothing
  // to connect to (the all-zero address would reach a local listener).
  if (!LoadIPv6Functions()) RaiseSocketError(WSAEADDRNOTAVAIL, "connect");
  const AddressInfoFunctions functions = IPv6Functions();
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST;
  hints.ai_family = AF_INET6;
  addrinfo* found = nullptr;
  const int status = functions.getAddrInfo(address.c_str(), std::to_string(port).c_str(), &hints, &found);
  int length = 0;
  if (status == 0 && found != nullptr && found->ai_addr != nullptr && found->ai_addrlen <= sizeof out) {
    length = static_cast<int>(found->ai_addrlen);
    std::memcpy(&out, found->ai_addr, found->ai_addrlen);
  }
  if (found != nullptr) functions.freeAddrInfo(found);
  if (length == 0 || IsUnspecified(out)) RaiseSocketError(WSAEADDRNOTAVAIL, "connect");
  return length;
}

void CustomWinSocket::ConnectTo(std::string_view hostName, std::string_view address, std::uint16_t port,
                                std::string_view service) {
  if (connected_) throw ESocketError("Socket already open");
  std::string host = core::Trim(hostName);
  std::string text = core::Trim(address);
  std::uint32_t literal = 0;
  bool useIPv6 = false;
  if (!text.empty()) {
    if (core::IsIPv6Text(text)) {
      useIPv6 = true;
    } else if (!core::ParseIPv4Strict(text, literal)) {
      // No literal ("mx01" is filed as an address because it ends in a
      // digit): a name, unless a host name was given as well.
      if (host.empty()) host = std::move(text);
      text.clear();
    }
  }
  if (text.empty() && !host.empty() && ipv6Mode_) {
    std::string found = LookupIPv6Address(host);
    if (!found.empty()) {
      text = std::move(found);
      host.clear();
      useIPv6 = true;
    }
  }
  ipv6Mode_ = useIPv6;

  const SOCKET created = ::socket(useIPv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  if (created == INVALID_SOCKET) throw ESocketError("Can't create new socket");
  handle_.reset(created);
  try {
    const std::uint16_t target = service.empty() ? port : ResolveServicePort(service);
    sockaddr_storage remote{};
    const int length = useIPv6 ? FillIPv6Address(text, target, remote) : FillIPv4Address(host, literal, target, remote);
    if (target == 0) RaiseSocketError(WSAEADDRNOTAVAIL, "connect");
    ApplyEventStyles();
    CheckSocketResult(::connect(handle_.get(), reinterpret_cast<const sockaddr*>(&remote), length), "connect");
    if ((styles_ & SocketEvent::Connect) == 0) connected_ = true;
  } catch (...) {
    CloseConnection();
    throw;
  }
}

std::string CustomWinSocket::GetRemoteAddress() {
  SocketGuard guard(*this);
  if (!connected_) return {};
  try {
    sockaddr_storage peer{};
    int length = sizeof peer;
    CheckSocketResult(::getpeername(handle_.get(), reinterpret_cast<sockaddr*>(&peer), &length), "getpeername");
    if (peer.ss_family == AF_INET6) return core::SockAddr6ToText(&peer, static_cast<std::size_t>(length));
    return ::inet_ntoa(reinterpret_cast<const sockaddr_in*>(&peer)->sin_addr);
  } catch (...) {
    return {};
  }
}

WinSocketStream::WinSocketStream(CustomWinSocket& socket, std::uint32_t timeoutMs)
    : socket_(socket), timeout_(timeoutMs) {
  if (socket.EventStyles() != 0) throw ESocketError("Socket must be in blocking mode");
  event_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

bool WinSocketStream::WaitReadable(std::uint32_t timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket_.Handle(), &readable);
  timeval wait{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
  return ::select(0, &readable, nullptr, nullptr, &wait) > 0;
}

std::int32_t WinSocketStream::Read(void* buffer, std::int32_t count) { return Transfer(buffer, count, false); }

std::int32_t WinSocketStream::Write(const void* buffer, std::int32_t count) {
  return Transfer(const_cast<void*>(buffer), count, true);
}

std::int32_t WinSocketStream::Transfer(void* buffer, std::int32_t count, bool write) {
  SocketGuard guard(socket_);
  const auto handle = reinterpret_cast<HANDLE>(socket_.Handle());
  if (count <= 0 || buffer == nullptr || socket_.Handle() == INVALID_SOCKET || !event_) return 0;
  OVERLAPPED overlapped{};
  overlapped.hEvent = event_.get();
  const auto size = static_cast<DWORD>(count);
  const BOOL started = write ? ::WriteFile(handle, buffer, size, nullptr, &overlapped)
                             : ::ReadFile(handle, buffer, size, nullptr, &overlapped);
  if (!started && ::GetLastError() != ERROR_IO_PENDING) return 0;
  DWORD done = 0;
  if (started) {
    // Done at once: the result is in the overlapped record already.
    if (!::GetOverlappedResult(handle, &overlapped, &done, FALSE)) done = 0;
  } else if (::WaitForSingleObject(event_.get(), timeout_) == WAIT_OBJECT_0) {
    if (!::GetOverlappedResult(handle, &overlapped, &done, FALSE)) done = 0;
  } else {
    // Cancel and wait for the end, so the caller's buffer is free when we
    // return; a transfer that completed meanwhile still counts.
    ::CancelIo(handle);
    if (!::GetOverlappedResult(handle, &overlapped, &done, TRUE)) done = 0;
  }
  ::ResetEvent(event_.get());
  return static_cast<std::int32_t>(done);
}

}  // namespace sender
