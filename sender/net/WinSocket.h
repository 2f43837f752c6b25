#pragma once
// One outgoing TCP connection over IPv4 or IPv6, used in blocking mode, and
// the stream that reads and writes it under a time-out.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/platform/Handles.h"

namespace sender {

class ESocketError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raises "Windows socket error: <system text> (<code>), on API '<api>'".
[[noreturn]] void RaiseSocketError(int code, const char* api);

// 0 for a result of 0. Otherwise the last Windows Sockets error: 10035
// (would block) is answered, any other is raised by RaiseSocketError.
int CheckSocketResult(int result, const char* api);

// Event styles; the empty set is blocking mode.
namespace SocketEvent {
inline constexpr std::uint8_t Read = 1, Write = 2, OutOfBand = 4, Accept = 8, Connect = 16, Close = 32;
inline constexpr std::uint8_t Initial = Read | Write | Connect | Close;
}  // namespace SocketEvent

class CustomWinSocket {
 public:
  // Starts Windows Sockets for this object (raises on failure) and takes
  // the handle (connected when it is valid). The IPv6 mode comes from the
  // library-wide default.
  explicit CustomWinSocket(SOCKET handle = INVALID_SOCKET);
  // Never raises; closes any handle it holds.
  ~CustomWinSocket();
  CustomWinSocket(const CustomWinSocket&) = delete;
  CustomWinSocket& operator=(const CustomWinSocket&) = delete;

  // Stores the set and applies it to a handle. The empty set stops every
  // event notice and makes the handle blocking; any other set, having no
  // window to notify here, leaves it non-blocking.
  void SetEventStyles(std::uint8_t styles);
  std::uint8_t EventStyles() const { return styles_; }

  // Opens the connection; raises ESocketError on any failure, after which
  // the socket is closed. An address with ":" is IPv6, a dotted IPv4 address
  // is IPv4, any other address text counts as a host name. In IPv6 mode a
  // host name is first looked up for an AAAA address (IPv4 when there is
  // none). A service name, when given, decides the port.
  void ConnectTo(std::string_view hostName, std::string_view address, std::uint16_t port, std::string_view service);
  // Shuts the sending side down and closes the handle; never raises.
  void CloseConnection() noexcept;

  void Lock() noexcept { ::EnterCriticalSection(&lock_); }
  void Unlock() noexcept { ::LeaveCriticalSection(&lock_); }

  // The peer's address text (IPv6 as IPv6AddressToText gives it); empty
  // when not connected or on any error.
  std::string GetRemoteAddress();

  // The first IPv4 address of a host name in network order; 0 when none.
  static std::uint32_t ResolveIPv4Host(std::string_view name);
  // The port of a TCP service name in host order; 0 when unknown.
  static std::uint16_t ResolveServicePort(std::string_view service);

  SOCKET Handle() const { return handle_.get(); }
  bool Connected() const { return connected_; }
  bool IPv6Mode() const { return ipv6Mode_; }

 private:
  void ApplyEventStyles();
  int FillIPv4Address(const std::string& hostName, std::uint32_t literal, std::uint16_t port, sockaddr_storage& out);
  int FillIPv6Address(const std::string& address, std::uint16_t port, sockaddr_storage& out);

  core::UniqueSocket handle_;
  bool connected_ = false;
  sockaddr_in remoteIPv4_{};
  std::uint8_t styles_ = SocketEvent::Initial;
  CRITICAL_SECTION lock_;
  bool ipv6Mode_ = false;
};

inline void LockSocket(CustomWinSocket* socket) noexcept { socket->Lock(); }
inline void UnlockSocket(CustomWinSocket* socket) noexcept { socket->Unlock(); }
using SocketGuard = core::LockGuard<CustomWinSocket, &LockSocket, &UnlockSocket>;

// Reads and writes a blocking socket (not owned) with a time-out. Reading,
// writing and waiting never raise: they answer 0 or false.
class WinSocketStream {
 public:
  // Raises "Socket must be in blocking mode" unless the style set is empty.
  WinSocketStream(CustomWinSocket& socket, std::uint32_t timeoutMs);

  // True when data (or the peer's close) can be read within the time.
  bool WaitReadable(std::uint32_t timeoutMs);
  // Bytes moved; 0 on time-out, error or a close by the peer. No transfer
  // is left pending on return, so the buffer is free again.
  std::int32_t Read(void* buffer, std::int32_t count);
  std::int32_t Write(const void* buffer, std::int32_t count);
  // A stream socket has no position.
  std::int64_t Seek(std::int64_t /*offset*/, int /*origin*/) { return 0; }

 private:
  std::int32_t Transfer(void* buffer, std::int32_t count, bool write);

  CustomWinSocket& socket_;
  std::uint32_t timeout_;
  core::UniqueHandle event_;
};

}  // namespace sender
