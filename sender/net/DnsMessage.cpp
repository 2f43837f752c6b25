#include "sender/net/DnsMessage.h"

#include <algorithm>

#include "core/util/Text.h"

namespace sender {

namespace {

constexpr std::size_t MaxNameText = 255;
constexpr std::size_t MaxEncodedName = 255;
constexpr std::size_t MaxLabel = 63;
constexpr int MaxPointers = 16;
// Owner (a root name at least), type, class, TTL and data length.
constexpr std::size_t MinRecordSize = 11;
constexpr std::uint16_t ResponseBit = 0x8000;
constexpr std::uint16_t RecursionDesired = 0x0100;

std::uint16_t Read16(std::span<const std::uint8_t> m, std::size_t at) {
  return static_cast<std::uint16_t>((m[at] << 8) | m[at + 1]);
}

std::uint32_t Read32(std::span<const std::uint8_t> m, std::size_t at) {
  return (static_cast<std::uint32_t>(Read16(m, at)) << 16) | Read16(m, at + 2);
}

void Write16(std::uint8_t* out, std::uint16_t value) {
  out[0] = static_cast<std::uint8_t>(value >> 8);
  out[1] = static_cast<std::uint8_t>(value);
}

std::uint8_t FoldCase(std::uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<std::uint8_t>(c + 32) : c; }

// Reads the name at pos, which moves past its zero byte or its first
// pointer. The labels read before any pointer must end before end; inside
// record data (openEnded) reaching end there also ends the name. A pointer
// must point before the labels it was reached from, whose start then bounds
// the labels read after the jump: each jump goes strictly backwards, so no
// name loops, and at most MaxPointers are followed. Length bytes 64-191 are
// reserved and rejected. The text is cut to 255 characters.
bool ReadName(std::span<const std::uint8_t> m, std::size_t& pos, std::size_t end, bool openEnded, std::string& name) {
  name.clear();
  std::size_t at = pos;
  std::size_t labelsStart = pos;
  std::size_t limit = end;
  int pointers = 0;
  bool jumped = false;
  bool first = true;
  for (;;) {
    if (at >= limit) {
      if (!openEnded || jumped) return false;
      pos = at;
      return true;
    }
    const std::uint8_t length = m[at];
    if (length == 0) {
      if (!jumped) pos = at + 1;
      return true;
    }
    if (length >= 0xC0) {
      if (at + 1 >= limit) return false;
      const std::size_t target = (static_cast<std::size_t>(length & 0x3F) << 8) | m[at + 1];
      if (target >= labelsStart || ++pointers > MaxPointers) return false;
      if (!jumped) pos = at + 2;
      jumped = true;
      limit = labelsStart;
      at = labelsStart = target;
      continue;
    }
    if (length > MaxLabel || at + 1 + length > limit) return false;
    if (!first && name.size() < MaxNameText) name.push_back('.');
    first = false;
    const std::size_t room = MaxNameText - name.size();
    name.append(reinterpret_cast<const char*>(m.data() + at + 1), std::min<std::size_t>(length, room));
    at += 1 + length;
  }
}

// Stores one record's data in its kind's list; false when the data is not
// what its type needs, which ends the parse.
bool StoreRecordData(std::span<const std::uint8_t> m, std::size_t data, std::size_t next, DnsAnswer& answer,
                     DnsResult& result) {
  const std::size_t length = next - data;
  const auto keep = [&answer](auto& list, std::size_t cap) {
    if (list.size() >= cap) return false;
    answer.index = static_cast<std::int32_t>(list.size());
    return true;
  };
  std::string name;
  switch (answer.type) {
    case DnsType::A: {
      if (length != 4) return false;
      if (keep(result.a, MaxAddressRecords)) result.a.push_back({m[data], m[data + 1], m[data + 2], m[data + 3]});
      return true;
    }
    case DnsType::AAAA: {
      if (length != 16) return false;
      if (keep(result.aaaa, MaxAddressRecords)) {
        core::IPv6Address address;
        std::copy_n(m.data() + data, address.size(), address.begin());
        result.aaaa.push_back(address);
      }
      return true;
    }
    case DnsType::MX: {
      std::size_t at = data + 2;
      if (length < 3 || !ReadName(m, at, next, true, name)) return false;
      if (keep(result.mx, MaxAddressRecords)) result.mx.push_back({Read16(m, data), std::move(name)});
      return true;
    }
    case DnsType::TXT: {
      if (length < 1 || 1u + m[data] > length) return false;
      name.assign(reinterpret_cast<const char*>(m.data() + data + 1), m[data]);
      break;
    }
    default: {
      std::size_t at = data;
      if (!ReadName(m, at, next, true, name)) return false;
    }
  }
  if (keep(result.texts, MaxOtherRecords)) result.texts.push_back(std::move(name));
  return true;
}

}  // namespace

void BuildDnsHeader(std::uint16_t id, std::span<std::uint8_t, DnsHeaderSize> out) {
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  Write16(out.data(), id);
  Write16(out.data() + 2, RecursionDesired);
  Write16(out.data() + 4, 1);
}

std::size_t BuildDnsQuestion(std::string_view name, std::uint16_t type, std::span<std::uint8_t> out) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  std::uint8_t encoded[MaxEncodedName];
  std::size_t at = 0;
  while (!name.empty()) {
    const std::size_t dot = name.find('.');
    const std::string_view label = name.substr(0, dot);
    if (label.empty() || label.size() > MaxLabel || at + 1 + label.size() + 1 > MaxEncodedName) return 0;
    encoded[at++] = static_cast<std::uint8_t>(label.size());
    std::copy(label.begin(), label.end(), encoded + at);
    at += label.size();
    if (dot == std::string_view::npos) break;
    name.remove_prefix(dot + 1);
    if (name.empty()) return 0;  // "a..": an empty label inside
  }
  encoded[at++] = 0;
  if (out.size() < at + 4) return 0;
  std::copy_n(encoded, at, out.begin());
  Write16(out.data() + at, type);
  Write16(out.data() + at + 2, DnsClassInternet);
  return at + 4;
}

std::string ReverseLookupName(std::string_view address) {
  static constexpr char Digits[] = "0123456789abcdef";
  std::string name;
  if (core::IsIPv6Text(address)) {
    const core::IPv6Address bytes = core::IPv6TextToAddress(address);
    for (auto it = bytes.rbegin(); it != bytes.rend(); ++it) {
      name += {Digits[*it & 15], '.', Digits[*it >> 4], '.'};
    }
    return name + "ip6.arpa";
  }
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t dot = address.find('.', start);
    parts.push_back(address.substr(start, dot == std::string_view::npos ? dot : dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  for (auto it = parts.rbegin(); it != parts.rend(); ++it)
    name.append(*it).push_back('.');
  return name + "in-addr.arpa";
}

bool AnswersDnsRequest(std::span<const std::uint8_t> response, std::span<const std::uint8_t> request) {
  if (request.size() < DnsHeaderSize + 5 || response.size() < request.size()) return false;
  if ((Read16(response, 2) & ResponseBit) == 0 || Read16(response, 0) != Read16(request, 0)) return false;
  if (Read16(response, 4) != 1) return false;
  // Our name holds no length byte above 63, so folding every name byte is exact.
  const std::size_t typeAt = request.size() - 4;
  for (std::size_t i = DnsHeaderSize; i < typeAt; ++i) {
    if (FoldCase(response[i]) != FoldCase(request[i])) return false;
  }
  return std::equal(request.begin() + static_cast<std::ptrdiff_t>(typeAt), request.end(),
                    response.begin() + static_cast<std::ptrdiff_t>(typeAt));
}

bool ParseDnsResponse(std::span<const std::uint8_t> m, DnsResult& result) {
  result = DnsResult{};
  if (m.size() < DnsHeaderSize) return false;
  const std::uint16_t flags = Read16(m, 2);
  if ((flags & ResponseBit) == 0) return false;
  DnsHeader& h = result.header;
  h.id = Read16(m, 0);
  h.responseCode = flags & 0x0F;
  h.opcode = (flags >> 11) & 0x0F;
  h.authoritative = (flags & 0x0400) != 0;
  h.truncated = (flags & 0x0200) != 0;
  h.recursionAvailable = (flags & 0x0080) != 0;
  h.questionCount = Read16(m, 4);
  h.answerCount = Read16(m, 6);
  h.authorityCount = Read16(m, 8);
  h.additionalCount = Read16(m, 10);

  std::size_t pos = DnsHeaderSize;
  std::string name;
  for (std::uint32_t q = 0; q < h.questionCount; ++q) {
    if (!ReadName(m, pos, m.size(), false, name) || pos + 4 > m.size()) return true;
    if (q == 0) result.question = {Read16(m, pos), Read16(m, pos + 2), std::move(name)};
    pos += 4;
  }

  // Sized by what can fit, not by the count the sender claims.
  result.answers.reserve(std::min<std::size_t>(h.answerCount, (m.size() - pos) / MinRecordSize));
  for (std::uint32_t i = 0; i < h.answerCount; ++i) {
    DnsAnswer answer;
    if (!ReadName(m, pos, m.size(), false, answer.name) || pos + 10 > m.size()) break;
    answer.type = Read16(m, pos);
    answer.recordClass = Read16(m, pos + 2);
    answer.ttl = Read32(m, pos + 4);
    const std::size_t data = pos + 10;
    const std::size_t next = data + Read16(m, pos + 8);
    if (next > m.size() || !StoreRecordData(m, data, next, answer, result)) break;
    result.answers.push_back(std::move(answer));
    pos = next;
  }
  return true;
}

bool AcceptDnsDatagram(std::span<const std::uint8_t> datagram, std::span<const std::uint8_t> request,
                       std::span<std::uint8_t, DnsDatagramLimit> kept, std::size_t& keptLength, DnsResult& result) {
  if (!AnswersDnsRequest(datagram, request)) return false;
  keptLength = std::min(datagram.size(), kept.size());
  std::copy_n(datagram.begin(), keptLength, kept.begin());
  ParseDnsResponse(kept.first(keptLength), result);
  if (keptLength < datagram.size()) result.header.truncated = true;
  return true;
}

}  // namespace sender
