#include "core/util/NetText.h"
#include "core/util/PathText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(NormalizePath, TrailingBackslashAndSlashes) {
  EXPECT_EQ(core::NormalizePath("", true, true), "");
  EXPECT_EQ(core::NormalizePath("C:/a/b/", false, true), "C:\\a\\b");
  EXPECT_EQ(core::NormalizePath("a/", true, false), "a/\\");
}

TEST(ParseHostPort, SplitsNamesAddressesAndPorts) {
  const struct {
    const char* text;
    const char* address;
    const char* hostName;
    std::uint16_t port;
    bool refused = false;  // digits that name no port
  } cases[] = {
      {"  mail.example.com:587 ", "", "mail.example.com", 587},
      {"192.0.2.7 : 2525", "192.0.2.7", "", 2525},
      {"", "", "", 25},
      {"[2001:db8::1]:2525", "2001:db8::1", "", 2525},
      {"[ ::1 ]", "::1", "", 25},
      // Without brackets the colons belong to the address.
      {"2001:db8::25", "2001:db8::25", "", 25},
      {"fe80::1:587", "fe80::1:587", "", 25},
      // Ports outside 1-65535 or with trailing text keep the default.
      {"host.example:0", "", "host.example", 25, true},
      {"host.example:65536", "", "host.example", 25, true},
      {"host.example:99999999999", "", "host.example", 25, true},
      {"host.example:12ab", "", "host.example", 25},
      {"host.example:65535", "", "host.example", 65535},
      {"[::1]:0", "::1", "", 25, true},
      {"localhost", "", "localhost", 25},
      {"localhost:2525", "", "localhost", 2525},
      {"localhost:", "", "localhost", 25},
      {"host:smtp", "", "host", 25},
      {"::1", "::1", "", 25},
      {"[::1]:25", "::1", "", 25},
      {"1.2.3.4:65535", "1.2.3.4", "", 65535},
      {" host : 25 ", "", "host", 25},
      {"localhost:0", "", "localhost", 25, true},
      {":65536", "", "", 25, true},
      {"[::1]:99999", "::1", "", 25, true},
      {"1.2.3.4:70000", "1.2.3.4", "", 25, true},
      {"host:000025", "", "host", 25, true},
  };
  for (const auto& c : cases) {
    std::string address = "stale", hostName = "stale";
    std::uint16_t port = 1;
    bool refused = !c.refused;
    EXPECT_TRUE(core::ParseHostPort(c.text, 25, address, port, hostName, &refused));
    EXPECT_EQ(
        address + "|" + hostName + "|" + std::to_string(port) + "|" + std::to_string(refused),
        std::string(c.address) + "|" + c.hostName + "|" + std::to_string(c.port) + "|" + std::to_string(c.refused))
        << c.text;
  }
}

TEST(NetText, LettersNumbersAndStrictAddresses) {
  EXPECT_TRUE(core::EndsWithLetter("host.example"));
  EXPECT_FALSE(core::EndsWithLetter("10.0.0.1") || core::EndsWithLetter("") || core::EndsWithLetter("host\xE9"));
  EXPECT_EQ(core::IPToNumber("192.168.1.20"), 0xC0A80114u);
  EXPECT_EQ(core::IPToNumber("1.x.3"), 0x01000300u);
  EXPECT_EQ(core::IPToNumber("256.0.0.0"), 0u);  // wraps, no overflow

  std::uint32_t v = 7;
  EXPECT_TRUE(core::ParseIPv4Strict("10.1.2.255", v));
  EXPECT_EQ(v, 0x0A0102FFu);
  for (const char* bad :
       {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1..3.4", "1.2.3.4 ", "a.b.c.d", "1.2.3.0004", "-1.2.3.4", "1.2.3.4."}) {
    EXPECT_FALSE(core::ParseIPv4Strict(bad, v)) << bad;
  }
}

TEST(IPInNetwork, PrefixesAndBounds) {
  const struct {
    const char* ip;
    const char* network;
    int prefix;
    bool inside;
  } cases[] = {
      {"10.255.255.255", "10.0.0.0", 8, true},
      {"11.0.0.0", "10.0.0.0", 8, false},
      {"192.168.1.78", "192.168.1.77", 32, false},
      {" 10.1.2.3 ", "10.0.0.0 ", 8, true},
      // Prefix 0 matches everything; the top range does not wrap around; unaligned networks count masked.
      {"255.255.255.255", "10.0.0.0", 0, true},
      {"255.255.255.255", "255.255.255.0", 24, true},
      {"0.0.0.1", "255.255.255.0", 24, false},
      {"10.0.0.1", "10.0.0.5", 24, true},
      // Out-of-range prefixes and non-strict addresses match nothing.
      {"10.1.2.3", "10.0.0.0", 33, false},
      {"10.1.2.3", "10.0.0.0", -1, false},
      {"10.1.2.300", "10.0.0.0", 8, false},
      {"10.1.2.3", "10.0.0.x", 8, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(core::IPInNetwork(c.ip, c.network, c.prefix), c.inside) << c.ip << " " << c.prefix;
}

// Applies the mask to ip and tells whether the result equals the mask.
bool Admits(std::string ip, std::string mask, std::string* rewritten = nullptr, std::size_t maxLength = 255) {
  core::ApplyIPMask(ip, maxLength, mask);
  if (rewritten != nullptr) *rewritten = ip;
  return ip == mask;
}

TEST(ApplyIPMask, RangesStarsAndNetworks) {
  std::string ip;
  EXPECT_TRUE(Admits("192.168.1.20", "192.168.1.10-30") && Admits("192.168.1.30", "192.168.1.10-30"));
  EXPECT_FALSE(Admits("192.168.1.31", "192.168.1.10-30", &ip));
  EXPECT_EQ(ip, "192.168.1.");
  EXPECT_TRUE(Admits("192.168.1.20", "192.168.1.*"));
  EXPECT_FALSE(Admits("192.168.2.20", "192.168.1.*"));
  EXPECT_TRUE(Admits("10.0.0.0", "10.0.0.x-5"));  // a non-number counts as 0
  // Subjects that are no dotted IPv4 address are never admitted by parts.
  EXPECT_FALSE(Admits("2001:db8::1", "*.*.*.0-100"));
  EXPECT_FALSE(Admits("10.1", "10.1.*.*"));
  Admits("192.168.1.20", "192.168.1.*", &ip, 5);
  EXPECT_EQ(ip, "192.1");

  std::string mask = "10.0.0.0/8";
  ip = "11.1.2.3";
  core::ApplyCIDRMask(ip, 255, mask);
  EXPECT_EQ(ip + " " + mask, "11.1.2.3 10.0.0.0");
  EXPECT_TRUE(Admits("10.1.2.3", "10.0.0.0/8"));
  EXPECT_TRUE(Admits("11.1.2.3", "10.0.0.0/0"));
  // A missing or garbled prefix admits nothing rather than everything.
  for (const char* bad : {"10.0.0.0/33", "10.0.0.0/-1", "10.0.0.0/", "10.0.0.0/x", "10.0.0/8", "10.0.0.0/4294967304"}) {
    EXPECT_FALSE(Admits("10.1.2.3", bad, &ip)) << bad;
    EXPECT_EQ(ip, "10.1.2.3") << bad;
  }
}

TEST(ApplyWildcardMask, PrefixAndSuffix) {
  auto apply = [](std::string name, const char* pattern, std::size_t maxLength = 255) {
    core::ApplyWildcardMask(name, maxLength, pattern);
    return name;
  };
  EXPECT_EQ(apply("mail.example.com", "*.example.com"), "*.example.com");
  EXPECT_EQ(apply("mail.example.com", "*.example.org"), "mail.example.com");
  // The suffix compares without case, the prefix with it.
  EXPECT_EQ(apply("mail.EXAMPLE.com", "mail*.example.com"), "mail*.example.com");
  EXPECT_EQ(apply("MAIL.example.com", "mail*"), "MAIL.example.com");
  // Prefix and suffix may not share characters of the name.
  EXPECT_EQ(apply("aba", "ab*ba"), "aba");
  EXPECT_EQ(apply("abba", "ab*ba"), "ab*ba");
  EXPECT_EQ(apply("mail.example.com", "*.example.com", 4), "*.ex");
}

}  // namespace
