#include "sender/net/WinSocket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "sender/net/IPv6Lookup.h"
#include "tests/sender/net/PeerPorts.h"

namespace {

using namespace sender;
using sender_tests::MillisecondsSince;
using sender_tests::PeerPort;

struct BlockingSocket {
  BlockingSocket() { socket.SetEventStyles(0); }
  CustomWinSocket socket;
};

// Connected to the IPv4 peer, which was told what to do.
struct Connection : BlockingSocket {
  explicit Connection(const std::string& command, std::uint32_t timeoutMs = 2000) : stream(socket, timeoutMs) {
    socket.ConnectTo("", "127.0.0.1", PeerPort("TCP4"), "");
    stream.Write(command.data(), static_cast<std::int32_t>(command.size()));
  }
  std::string Read(std::int32_t count) {
    std::string text(static_cast<std::size_t>(count), '\0');
    text.resize(static_cast<std::size_t>(stream.Read(text.data(), count)));
    return text;
  }
  WinSocketStream stream;
};

class SocketTest : public ::testing::Test {
 protected:
  void SetUp() override { ::WSAStartup(MAKEWORD(2, 2), &data_); }
  void TearDown() override {
    SetIPv6Settings(false, "");
    SetGetAddrInfoHook(nullptr);
    ::WSACleanup();
  }
  const std::string dns_ = "127.0.0.1:" + std::to_string(PeerPort("DNS"));
  WSADATA data_;
};

TEST_F(SocketTest, ReachesTheRightListener) {
  const struct {
    const char* host;
    const char* address;
    bool ipv6Default, withDns;
    const char* reached;
  } cases[] = {
      {"", "127.0.0.1", false, false, "v4 127.0.0.1"},
      {"localhost", "", false, false, "v4 127.0.0.1"},
      {"", "localhost", false, false, "v4 127.0.0.1"},  // no literal: a name
      {"", "127.0.0.1", true, true, "v4 127.0.0.1"},
      {"localhost", "", true, false, "v4 127.0.0.1"},  // no DNS server
      {"localhost", "", true, true, "v4 127.0.0.1"},   // refused: IPv4 by name
      {"", "::1", false, false, "v6 00:00:00:00:00:00:00:01"},
      {"", "::1", true, false, "v6 00:00:00:00:00:00:00:01"},
      {"loop6.test", "", true, true, "v6 00:00:00:00:00:00:00:01"},
  };
  for (const auto& c : cases) {
    const bool v6 = c.reached[1] == '6';
    if (v6 && PeerPort("TCP6") == 0) continue;  // [::1] cannot be bound here
    SetIPv6Settings(c.ipv6Default, c.withDns ? dns_ : "");
    BlockingSocket s;
    ASSERT_NO_THROW(s.socket.ConnectTo(c.host, c.address, PeerPort(v6 ? "TCP6" : "TCP4"), "")) << c.host << c.address;
    WinSocketStream stream(s.socket, 2000);
    char reply[3] = {};
    EXPECT_TRUE(stream.Write("ID\n", 3) == 3 && stream.Read(reply, 3) == 3);
    EXPECT_EQ(std::string(reply, 2) + " " + s.socket.GetRemoteAddress(), c.reached) << c.host << c.address;
  }
}

int WSAAPI FailingGetAddrInfo(const char*, const char*, const addrinfo*, addrinfo** result) {
  *result = nullptr;
  return WSAHOST_NOT_FOUND;
}

TEST_F(SocketTest, FailuresRaiseAndConnectNothing) {
  // Where a connect to what a failed lookup leaves behind would land.
  core::UniqueSocket any(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in local{};
  local.sin_family = AF_INET;
  int length = sizeof local;
  ::bind(any.get(), reinterpret_cast<sockaddr*>(&local), length);
  ::listen(any.get(), 4);
  ::getsockname(any.get(), reinterpret_cast<sockaddr*>(&local), &length);
  const std::uint16_t anyPort = ::ntohs(local.sin_port);
  const struct {
    const char* host;
    const char* address;
    std::uint16_t port;
    const char* service;
    bool ipv6Default, failingHook;
    const char* ending;
  } cases[] = {
      {"no-such.invalid", "", anyPort, "", false, false, "(11001), on API 'gethostbyname'"},
      {"no-such.invalid", "", anyPort, "", true, false, "(11001), on API 'gethostbyname'"},
      {"", "::1", anyPort, "", false, true, "(10049), on API 'connect'"},
      {"", "127.0.0.1", 0, "", false, false, "(10049), on API 'connect'"},
      {"", "", anyPort, "", false, false, "(10049), on API 'connect'"},
      {"", "0.0.0.0", anyPort, "", false, false, "(10049), on API 'connect'"},
      {"", "::", anyPort, "", false, false, "(10049), on API 'connect'"},
      {"", "::ffff:0.0.0.0", anyPort, "", false, false, "(10049), on API 'connect'"},
      {"", "127.0.0.1", anyPort, "no-such-service", false, false, "(10049), on API 'connect'"},
      {"", "127.0.0.1", PeerPort("CLOSED"), "", false, false, "(10061), on API 'connect'"},
  };
  for (const auto& c : cases) {
    SetIPv6Settings(c.ipv6Default, c.ipv6Default ? dns_ : "");
    SetGetAddrInfoHook(c.failingHook ? &FailingGetAddrInfo : nullptr);
    BlockingSocket s;
    std::string message = "no exception";
    try {
      s.socket.ConnectTo(c.host, c.address, c.port, c.service);
    } catch (const ESocketError& e) {
      message = e.what();
    }
    EXPECT_TRUE(message.starts_with("Windows socket error: ") && message.ends_with(c.ending)) << message;
    EXPECT_TRUE(!s.socket.Connected() && s.socket.Handle() == INVALID_SOCKET) << message;
  }
  fd_set knocked;
  FD_ZERO(&knocked);
  FD_SET(any.get(), &knocked);
  timeval wait{0, 200000};
  EXPECT_EQ(::select(0, &knocked, nullptr, nullptr, &wait), 0);
}

TEST_F(SocketTest, OpenSocketAndBlockingMode) {
  Connection connection("ID\n");
  EXPECT_EQ(connection.Read(3), "v4\n");
  try {
    connection.socket.ConnectTo("", "127.0.0.1", PeerPort("TCP4"), "");
    ADD_FAILURE() << "connected twice";
  } catch (const ESocketError& e) {
    EXPECT_STREQ(e.what(), "Socket already open");
  }
  EXPECT_EQ(connection.stream.Write("ping", 4), 4);
  EXPECT_EQ(connection.Read(4), "ping");
  EXPECT_FALSE(connection.stream.WaitReadable(100));

  CustomWinSocket eventDriven;  // the styles of a new socket
  EXPECT_THROW(WinSocketStream(eventDriven, 100), ESocketError);
}

TEST_F(SocketTest, TimeOutsLeaveNothingPending) {
  Connection late("LATE\n", 500);
  std::string buffer(10, 'x');
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(late.stream.Read(buffer.data(), 10), 0);
  EXPECT_GE(MillisecondsSince(start), 480);
  ASSERT_TRUE(late.stream.WaitReadable(2000));
  EXPECT_EQ(buffer, "xxxxxxxxxx");  // the timed-out read took nothing
  EXPECT_EQ(late.Read(10), "0123456789");

  EXPECT_EQ(Connection("CLOSE\n").Read(1), "");

  Connection holding("HOLD\n", 500);
  std::vector<char> block(64 << 20, 'w');
  EXPECT_EQ(holding.stream.Write(block.data(), static_cast<std::int32_t>(block.size())), 0);
}

TEST_F(SocketTest, SlowWaitReadableOnASilentPeer) {
  Connection holding("HOLD\n");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(holding.stream.WaitReadable(60000));
  const long long elapsed = MillisecondsSince(start);
  EXPECT_TRUE(elapsed >= 59900 && elapsed <= 63000) << elapsed;  // a loaded machine wakes late
}

}  // namespace
