#include "core/util/IPv6Text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/oracle.h"

namespace {

std::string HexOf(const core::IPv6Address& a) { return testing_support::Hex(a.data(), a.size()); }

TEST(IPv6Text, EdgeCasesBothWays) {
  const struct {
    const char* text;
    const char* hex;
    const char* written;
  } cases[] = {
      {"::", "00000000000000000000000000000000", "00:00:00:00:00:00:00:00"},
      {"::1", "00000000000000000000000000000001", "00:00:00:00:00:00:00:01"},
      {"1::", "00010000000000000000000000000000", "01:00:00:00:00:00:00:00"},
      {" 2001:DB8::1 ", "20010db8000000000000000000000001", "2001:0db8:00:00:00:00:00:01"},
      {"abcd:123:f:1:2:3:4::", "abcd0123000f00010002000300040000", "abcd:0123:0f:01:02:03:04:00"},
      // Never validated, always some address: bad digits count 0, extra groups are ignored.
      {"", "00000000000000000000000000000000", "00:00:00:00:00:00:00:00"},
      {"zz:1", "00000001000000000000000000000000", "00:01:00:00:00:00:00:00"},
      {"1:2:3:4:5:6:7:8:9", "00010002000300040005000600070008", "01:02:03:04:05:06:07:08"},
      {"12345:::::::::::", "23450000000000000000000000000000", "2345:00:00:00:00:00:00:00"},
  };
  for (const auto& c : cases) {
    const core::IPv6Address address = core::IPv6TextToAddress(c.text);
    EXPECT_EQ(HexOf(address), c.hex) << c.text;
    EXPECT_EQ(core::IPv6AddressToText(address), c.written) << c.text;
  }
  EXPECT_TRUE(core::IsIPv6Text("::1") && !core::IsIPv6Text("192.0.2.1"));
  // sockaddr_in6: family, port, flow label, then the address at byte 8.
  unsigned char sockAddr[28] = {23, 0, 0, 25, 0, 0, 0, 0, 0x20, 0x01};
  EXPECT_EQ(core::SockAddr6ToText(sockAddr, 28), "2001:00:00:00:00:00:00:00");
  EXPECT_EQ(core::SockAddr6ToText(sockAddr, 23), "");
}

TEST(IPv6Text, AgreesWithInetPton) {
  const auto lines = testing_support::RunOracle("texts 1000 19");
  ASSERT_EQ(lines.size(), 1000u);
  for (const auto& line : lines) {
    const auto [text, hex] = testing_support::SplitTab(line);
    EXPECT_EQ(HexOf(core::IPv6TextToAddress(text)), hex) << text;
  }
  // inet_pton reads our own texts back as the addresses they came from.
  std::mt19937 random(7);
  std::vector<std::string> texts, expected;
  for (int i = 0; i < 300; ++i) {
    core::IPv6Address address{};
    for (auto& byte : address)
      byte = static_cast<std::uint8_t>(random() % 4 == 0 ? 0 : random());
    texts.push_back(core::IPv6AddressToText(address));
    expected.push_back(HexOf(address));
  }
  EXPECT_EQ(testing_support::RunOracle("pton", texts), expected);
}

}  // namespace
