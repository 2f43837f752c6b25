#pragma once
// DNS messages over UDP: the request of one question and the parse of one
// response datagram into its header, question, answer records and the lists
// of addresses, mail exchangers and texts. Pure code: the exchange itself
// lives in DnsQuery.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/util/IPv6Text.h"

namespace sender {

// A request never exceeds this; a longer response is cut to it.
inline constexpr std::size_t DnsDatagramLimit = 512;
inline constexpr std::size_t DnsHeaderSize = 12;

namespace DnsType {
inline constexpr std::uint16_t A = 1, NS = 2, MD = 3, MF = 4, CNAME = 5, SOA = 6, PTR = 12, HINFO = 13, MX = 15,
                               TXT = 16, AAAA = 28;
}
inline constexpr std::uint16_t DnsClassInternet = 1;

// Records kept of each of A, MX and AAAA, and of every other type together.
inline constexpr std::size_t MaxAddressRecords = 51;
inline constexpr std::size_t MaxOtherRecords = 11;

struct DnsHeader {
  std::uint16_t id = 0;
  std::uint8_t responseCode = 0;
  std::uint8_t opcode = 0;
  bool authoritative = false;
  bool truncated = false;
  bool recursionAvailable = false;
  std::uint16_t questionCount = 0;
  std::uint16_t answerCount = 0;
  std::uint16_t authorityCount = 0;
  std::uint16_t additionalCount = 0;
};

struct DnsQuestion {
  std::uint16_t type = 0;
  std::uint16_t recordClass = 0;
  std::string name;
};

struct DnsAnswer {
  std::string name;
  std::uint16_t type = 0;
  std::uint16_t recordClass = 0;
  std::uint32_t ttl = 0;
  // Position in the list of its kind; -1 when that list was full.
  std::int32_t index = -1;
};

struct DnsMailExchanger {
  std::uint16_t preference = 0;
  std::string exchange;
};

struct DnsResult {
  DnsHeader header;
  DnsQuestion question;
  std::vector<DnsAnswer> answers;  // every whole answer record, in order
  std::vector<DnsMailExchanger> mx;
  std::vector<std::array<std::uint8_t, 4>> a;  // network order
  std::vector<core::IPv6Address> aaaa;
  // TXT: the first character-string; PTR, CNAME and every other type: the
  // data read as a name.
  std::vector<std::string> texts;
};

// Writes the 12-byte header: the id, recursion desired, one question.
void BuildDnsHeader(std::uint16_t id, std::span<std::uint8_t, DnsHeaderSize> out);

// Writes the question (name as labels, type, class 1) and answers its length,
// or 0 when the name cannot be sent: an empty label other than a final one,
// a label over 63 bytes, or over 255 bytes encoded. One final "." is ignored.
std::size_t BuildDnsQuestion(std::string_view name, std::uint16_t type, std::span<std::uint8_t> out);

// The name a PTR question asks for: an address with ":" as the 32 nibbles of
// its IPv6 address under "ip6.arpa", anything else as its "."-separated parts
// reversed under "in-addr.arpa".
std::string ReverseLookupName(std::string_view address);

// True when the datagram may answer the request: at least 12 bytes, the
// response bit, the request's id and exactly its one question (the name
// equal ignoring ASCII case, the same type and class).
bool AnswersDnsRequest(std::span<const std::uint8_t> response, std::span<const std::uint8_t> request);

// Parses a response. False (result cleared) when shorter than 12 bytes or
// without the response bit; otherwise true with every answer record before
// the first one that is malformed or not whole. Authority and additional
// records are not read.
bool ParseDnsResponse(std::span<const std::uint8_t> message, DnsResult& result);

// One received datagram for the request. False, with nothing changed, when
// it does not answer the request (see AnswersDnsRequest). Otherwise keeps
// its first 512 bytes in kept (keptLength of them), parses those into result
// and marks a longer datagram truncated.
bool AcceptDnsDatagram(std::span<const std::uint8_t> datagram, std::span<const std::uint8_t> request,
                       std::span<std::uint8_t, DnsDatagramLimit> kept, std::size_t& keptLength, DnsResult& result);

}  // namespace sender
