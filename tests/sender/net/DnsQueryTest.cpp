#include "sender/net/DnsQuery.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "sender/net/IPv6Lookup.h"
#include "tests/sender/net/PeerPorts.h"

namespace {

using namespace sender;
using sender_tests::MillisecondsSince;
using sender_tests::PeerPort;

std::string Dotted(const DnsResult& r) {
  if (r.a.empty()) return "";
  const auto& a = r.a[0];
  return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]);
}

// The first entry of the list the records of the type are kept in, and its size.
std::pair<std::string, std::size_t> FirstKept(const DnsResult& r, std::uint16_t type) {
  if (type == DnsType::A) return {Dotted(r), r.a.size()};
  if (type == DnsType::AAAA) return {r.aaaa.empty() ? "" : core::IPv6AddressToText(r.aaaa[0]), r.aaaa.size()};
  if (type == DnsType::MX)
    return {r.mx.empty() ? "" : std::to_string(r.mx[0].preference) + " " + r.mx[0].exchange, r.mx.size()};
  return {r.texts.empty() ? "" : r.texts[0], r.texts.size()};
}

TEST(DnsZone, AnswersOfTheTestZone) {
  const struct {
    bool (DnsQuery::*ask)(std::string_view);
    std::uint16_t type;
    const char* name;
    int rcode;
    std::size_t answers, kept;
    bool truncated;
    int length;         // 0: not checked
    const char* first;  // nullptr: the order varies
  } cases[] = {
      {&DnsQuery::QueryAAAA, DnsType::AAAA, "mx6.test", 0, 1, 1, false, 54, "2001:0db8:00:00:00:00:00:25"},
      {&DnsQuery::QueryAAAA, DnsType::AAAA, "nothere.test", 3, 0, 0, false, 30, ""},
      {&DnsQuery::QueryAAAA, DnsType::AAAA, "localhost", 5, 0, 0, false, 27, ""},
      {&DnsQuery::QueryAAAA, DnsType::AAAA, "many.test", 0, 17, 17, true, 503, nullptr},
      {&DnsQuery::QueryA, DnsType::A, "many4.test", 0, 30, 30, true, 508, nullptr},
      {&DnsQuery::QueryTXT, DnsType::TXT, "t12.test", 0, 12, 11, false, 245, nullptr},
      {&DnsQuery::QueryPTR, DnsType::PTR, "192.0.2.1", 0, 1, 1, false, 62, "ptr.test"},
      {&DnsQuery::QueryMX, DnsType::MX, "test", 0, 1, 1, false, 74, "10 mx6.test"},
      {&DnsQuery::QueryCNAME, DnsType::CNAME, "c4.test", 0, 1, 1, false, 0, "v4only.test"},
  };
  DnsQuery query;
  query.SetServer("127.0.0.1", PeerPort("DNS"), "");
  for (const auto& c : cases) {
    ASSERT_TRUE((query.*c.ask)(c.name)) << c.name;
    const auto& r = query.Result();
    const auto [first, kept] = FirstKept(r, c.type);
    EXPECT_EQ(r.header.responseCode, c.rcode) << c.name;
    EXPECT_EQ(r.answers.size(), c.answers) << c.name;
    EXPECT_EQ(kept, c.kept) << c.name;
    EXPECT_EQ(r.header.truncated, c.truncated) << c.name;
    EXPECT_TRUE(c.length == 0 || query.ResponseLength() == c.length) << c.name << " " << query.ResponseLength();
    EXPECT_TRUE(c.first == nullptr || first == c.first) << c.name << " " << first;
    EXPECT_TRUE(c.kept == c.answers || r.answers.back().index == -1) << c.name;
  }
}

TEST(DnsZone, IdsResultsAndLookups) {
  DnsQuery query, other, third;
  // Random starts: three equal ones would mean a fixed start.
  EXPECT_FALSE(query.QueryIdCounter() == other.QueryIdCounter() && other.QueryIdCounter() == third.QueryIdCounter());
  query.SetServer("127.0.0.1", PeerPort("DNS"), "");
  for (std::uint16_t start : {0, 0xFFFF}) {
    query.SetQueryIdCounter(start);
    ASSERT_TRUE(query.QueryA("v4only.test") && query.QueryA("v4only.test"));
    EXPECT_EQ(query.Header().id, static_cast<std::uint16_t>(start + 2));
    EXPECT_EQ(Dotted(query.Result()), "192.0.2.7");
  }
  // A failed query shows nothing of the one before.
  EXPECT_FALSE(query.QueryA("a..test"));
  EXPECT_TRUE(query.Result().answers.empty() && query.Result().a.empty() && query.ResponseLength() == -1);

  const std::string server = "127.0.0.1:" + std::to_string(PeerPort("DNS"));
  const struct {
    std::string servers;
    const char* host;
    const char* address;
  } lookups[] = {
      {server, "mx6.test", "2001:0db8:00:00:00:00:00:25"},
      {server, "alias.test", "2001:0db8:00:00:00:00:00:25"},  // CNAME and AAAA
      {server, "c4.test", ""},                                // CNAME only
      {server, "v4only.test", ""},
      {server, "nothere.test", ""},
      {server + "; 127.0.0.1:9", "loop6.test", "00:00:00:00:00:00:00:01"},  // the first server only
      {"", "mx6.test", ""},
  };
  for (const auto& c : lookups) {
    SetIPv6Settings(true, c.servers);
    EXPECT_EQ(LookupIPv6Address(c.host), c.address) << c.host;
  }
  SetIPv6Settings(false, "");
}

TEST(DnsScenario, MalformedAndStrayDatagrams) {
  const auto expect = [](const char* label, bool answered, std::size_t answers, const char* firstA, bool truncated) {
    DnsQuery query;
    query.SetServer("127.0.0.1", PeerPort("SCENARIO"), "");
    query.SetTimeout(1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(query.QueryA(std::string(label) + ".x"), answered) << label;
    const long long elapsed = MillisecondsSince(start);
    EXPECT_EQ(query.Result().answers.size(), answers) << label;
    EXPECT_EQ(Dotted(query.Result()), firstA) << label;
    EXPECT_EQ(query.Header().truncated, truncated) << label;
    // The clock may show a 1 s wait as 999 ms; a loaded machine adds to it.
    EXPECT_TRUE(answered ? elapsed < 900 : elapsed >= 950 && elapsed <= 2500) << label << " " << elapsed;
  };
  // The record before the fault, or the good reply after the junk.
  for (const char* label : {"selfptr", "forward", "pastend", "len40", "datalen", "count65535", "a3", "short11",
                            "wrongid", "otherport", "otheraddr"})
    expect(label, true, 1, "192.0.2.1", false);
  expect("mutual", true, 1, "192.42.2.1", false);  // the address bytes hold the pointer back
  // 26 bytes, then A records of 16 bytes: 30 are whole within 512.
  expect("big700", true, 30, "192.0.2.1", true);
  for (const char* label : {"otherq", "noqr", "silence"})
    expect(label, false, 0, "", false);
}

TEST(DnsScenario, NeverAskedOrAskedInVain) {
  const struct {
    const char* address;
    std::string name;
  } unsent[] = {
      {"255.255.255.255", "silence.x"}, {"0.0.0.0", "silence.x"},    {"mx01", "silence.x"},
      {"127.0.0.1", "silence..x"},      {"127.0.0.1", ".silence.x"}, {"127.0.0.1", "silence." + std::string(64, 's')},
  };
  for (const auto& c : unsent) {
    DnsQuery query;
    query.SetServer(c.address, PeerPort("SCENARIO"), "");
    query.SetTimeout(1);  // had it been sent, the silent server would keep it waiting
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(query.QueryA(c.name)) << c.address << " " << c.name;
    EXPECT_LT(MillisecondsSince(start), 900) << c.address << " " << c.name;
  }

  SetIPv6Settings(true, "127.0.0.1:" + std::to_string(PeerPort("SCENARIO")));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(LookupIPv6Address("silence.x"), "");
  const long long elapsed = MillisecondsSince(start);
  EXPECT_TRUE(elapsed >= 4950 && elapsed <= 7500) << elapsed;
  SetIPv6Settings(false, "");
}

}  // namespace
