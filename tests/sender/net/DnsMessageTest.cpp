#include "sender/net/DnsMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/oracle.h"

namespace {

using namespace sender;
using testing_support::Hex;
using testing_support::RunOracle;

std::vector<std::uint8_t> Request(std::uint16_t id, std::string_view name, std::uint16_t type) {
  std::vector<std::uint8_t> bytes(DnsDatagramLimit);
  BuildDnsHeader(id, std::span(bytes).first<DnsHeaderSize>());
  const std::size_t question = BuildDnsQuestion(name, type, std::span(bytes).subspan(DnsHeaderSize));
  bytes.resize(question == 0 ? 0 : DnsHeaderSize + question);
  return bytes;
}

// The oracle's summary(): header and question, then each record with the
// value found at its index in its kind's list.
std::string Summary(const DnsResult& r) {
  const auto& h = r.header;
  std::string text = "H " + std::to_string(h.id) + " " + std::to_string(h.responseCode) + " " +
                     std::to_string(h.authoritative) + " " + std::to_string(h.truncated) + " " +
                     std::to_string(h.answerCount) + "|Q " + r.question.name + " " + std::to_string(r.question.type);
  for (const auto& a : r.answers) {
    const auto i = static_cast<std::size_t>(a.index);
    std::string value = a.index < 0            ? "-"
                        : a.type == DnsType::A ? std::to_string(r.a[i][0]) + "." + std::to_string(r.a[i][1]) + "." +
                                                     std::to_string(r.a[i][2]) + "." + std::to_string(r.a[i][3])
                        : a.type == DnsType::AAAA ? Hex(r.aaaa[i].data(), 16)
                        : a.type == DnsType::MX   ? std::to_string(r.mx[i].preference) + " " + r.mx[i].exchange
                                                  : r.texts[i];
    text += "|R " + a.name + " " + std::to_string(a.type) + " " + std::to_string(a.recordClass) + " " +
            std::to_string(a.ttl) + " " + std::to_string(a.index) + " " + value;
  }
  return text;
}

TEST(DnsRequest, BytesAsSentAndAsDnslibReadsThem) {
  const std::vector<std::uint8_t> expected = {0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                                              0x00, 0x00, 0x00, 0x03, 0x6D, 0x78, 0x36, 0x04, 0x74,
                                              0x65, 0x73, 0x74, 0x00, 0x00, 0x1C, 0x00, 0x01};
  EXPECT_EQ(Request(1, "mx6.test", DnsType::AAAA), expected);

  const std::string label63(63, 'a');
  std::vector<std::string> sent;
  for (const auto& bytes : {Request(0xFFFF, "Mail.Example.ORG.", DnsType::MX), Request(7, "", DnsType::NS),
                            Request(300, label63 + ".b", DnsType::TXT)})
    sent.push_back(Hex(bytes.data(), bytes.size()));
  const std::vector<std::string> read = {"65535 0 0 1 1 0 Mail.Example.ORG 15 1", "7 0 0 1 1 0  2 1",
                                         "300 0 0 1 1 0 " + label63 + ".b 16 1"};
  EXPECT_EQ(RunOracle("request", sent), read);

  // Three labels of 63 bytes and one of 61: 255 bytes encoded, the most.
  const std::string longest = label63 + "." + label63 + "." + label63 + "." + label63.substr(2);
  EXPECT_EQ(Request(1, longest, 1).size(), 12u + 255 + 4);
  EXPECT_EQ(Request(1, ".", 1).size(), 12u + 1 + 4);
  for (const std::string& bad :
       {std::string("a..b"), std::string(".a"), std::string(".."), label63 + "a.x", longest + "x", longest + ".y"})
    EXPECT_TRUE(Request(1, bad, 1).empty()) << bad;
}

TEST(DnsResponse, ParsesAsDnslibReadsThem) {
  const auto lines = RunOracle("responses");
  ASSERT_EQ(lines.size(), 8u);
  for (const auto& line : lines) {
    const auto [hex, expected] = testing_support::SplitTab(line);
    DnsResult result;
    ASSERT_TRUE(ParseDnsResponse(testing_support::Unhex(hex), result));
    EXPECT_EQ(Summary(result), expected);
  }
}

TEST(DnsResponse, ReverseNamesAsIpaddressWritesThem) {
  const auto lines = RunOracle("reverse 200 3");
  ASSERT_EQ(lines.size(), 202u);
  for (const auto& line : lines) {
    const auto [address, name] = testing_support::SplitTab(line);
    EXPECT_EQ(ReverseLookupName(address), name);
  }
}

TEST(DnsResponse, OnlyOurAnswerCounts) {
  const auto request = Request(9, "Host.Test", DnsType::A);
  auto reply = request;
  reply[2] |= 0x80;
  reply[13] = 'h';  // the name's case does not matter
  EXPECT_TRUE(AnswersDnsRequest(reply, request));
  reply[0] = 1;  // another id
  EXPECT_FALSE(AnswersDnsRequest(reply, request));
  reply[0] = 0;
  reply[reply.size() - 3] = 28;  // another type
  EXPECT_FALSE(AnswersDnsRequest(reply, request));
  DnsResult result;
  EXPECT_FALSE(ParseDnsResponse(request, result));  // a query
  EXPECT_FALSE(ParseDnsResponse(std::span(reply).first(11), result));
}

}  // namespace
