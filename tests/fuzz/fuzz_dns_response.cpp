// One received datagram for a fixed request: the answer check, the cut to a
// datagram's limit and the response parse. The parse must stay inside the
// bytes, keep no more than fits and index every kept record correctly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "sender/net/DnsMessage.h"

namespace {

void CheckResult(const sender::DnsResult& r, std::size_t size) {
  if (r.answers.size() > size / 11) std::abort();
  if (r.a.size() > sender::MaxAddressRecords || r.mx.size() > sender::MaxAddressRecords ||
      r.aaaa.size() > sender::MaxAddressRecords || r.texts.size() > sender::MaxOtherRecords) {
    std::abort();
  }
  std::size_t kept = 0;
  for (const auto& answer : r.answers) {
    if (answer.name.size() > 255) std::abort();
    if (answer.index >= 0) ++kept;
  }
  if (kept != r.a.size() + r.mx.size() + r.aaaa.size() + r.texts.size()) std::abort();
  for (const auto& text : r.texts)
    if (text.size() > 255) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> message(data, size);
  sender::DnsResult result;
  if (sender::ParseDnsResponse(message, result)) CheckResult(result, size);

  // A request whose id and question the input may or may not repeat.
  std::uint8_t request[64];
  sender::BuildDnsHeader(size >= 2 ? static_cast<std::uint16_t>((data[0] << 8) | data[1]) : 1,
                         std::span(request).first<sender::DnsHeaderSize>());
  const std::size_t question = sender::BuildDnsQuestion("a.test", sender::DnsType::A, std::span(request).subspan(12));
  std::uint8_t kept[sender::DnsDatagramLimit];
  std::size_t keptLength = 0;
  sender::DnsResult taken;
  if (sender::AcceptDnsDatagram(message, std::span(request, 12 + question), kept, keptLength, taken)) {
    if (keptLength > sender::DnsDatagramLimit || (size > keptLength && !taken.header.truncated)) std::abort();
    CheckResult(taken, keptLength);
  }
  return 0;
}
