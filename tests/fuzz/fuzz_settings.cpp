// Setting transfer by id with hostile ids, lengths, values and records:
// results are a byte count, not found or a bad argument; a Get never reports more bytes than
// the buffer holds and writes nothing on failure; a Set touches nothing but
// its field and nothing at all when it fails.
// Byte 0: family; byte 1: flags (bit 0 set, bit 1 raw 32-bit id, bit 2 null
// buffer, bits 3-4 password flags of the settings record); then the id (2 or
// 4 bytes), the length (2 bytes), the value bytes, the record bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/config/SettingTransfer.h"
#include "core/config/SettingsRecord.h"

namespace {

struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;
  std::uint8_t Byte() { return pos < size ? data[pos++] : 0; }
  int U16() {
    const int low = Byte();
    return low | (Byte() << 8);
  }
  void Fill(std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
      out[i] = Byte();
  }
};

bool InsideField(const core::FieldDef& f, std::size_t i) {
  const core::Extent a = core::FirstExtent(f);
  const core::Extent b = core::SecondExtent(f);
  return (i >= a.begin && i < a.end) || (i >= b.begin && i < b.end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in{data, size};
  const auto family = static_cast<core::SettingFamily>(in.Byte() % 4);
  const std::uint8_t flags = in.Byte();
  const bool isSet = (flags & 1) != 0;
  std::int32_t id = 0;
  if ((flags & 2) != 0) {
    std::uint32_t raw = 0;
    for (int i = 0; i < 4; ++i)
      raw |= static_cast<std::uint32_t>(in.Byte()) << (8 * i);
    std::memcpy(&id, &raw, sizeof id);
  } else {
    id = in.U16() % 300 - 2;
  }
  const int lengthRaw = in.U16();
  const std::int32_t bufLen = lengthRaw % 4400 - 8;
  const std::size_t capacity = bufLen > 0 ? static_cast<std::size_t>(bufLen) : 0;
  const bool nullBuffer = (flags & 4) != 0;

  // Exactly sized allocations, so any access past them is caught.
  std::vector<std::uint8_t> value(capacity);
  in.Fill(value.data(), capacity);
  std::vector<std::uint8_t> record(core::RecordSize(family));
  in.Fill(record.data(), record.size());
  const std::vector<std::uint8_t> recordBefore = record;
  const std::vector<std::uint8_t> valueBefore = value;

  core::SettingsRecord settings{};
  settings[core::cfg::MaskAllPasswords.offset] = (flags >> 3) & 1;
  settings[core::cfg::ShowFlaggedPasswords.offset] = (flags >> 4) & 1;
  const std::string folder(static_cast<std::size_t>(flags >> 5) * 40, 'F');
  const core::SettingContext ctx{folder, settings.data()};

  std::uint8_t* buffer = nullBuffer ? nullptr : value.data();
  const core::Outcome outcome = isSet ? core::SetSetting(family, id, record.data(), buffer, bufLen)
                                      : core::GetSetting(family, id, record.data(), buffer, bufLen, ctx);
  if (!outcome.ok() && outcome.status != core::Status::NotFound && outcome.status != core::Status::BadArgument)
    std::abort();
  const int result = outcome.ok() ? outcome.value : -1;
  if (outcome.ok() && outcome.value < 0) std::abort();
  if (nullBuffer && capacity > 0 && outcome.ok()) std::abort();

  if (!isSet) {
    if (result > static_cast<int>(capacity)) std::abort();
    if (result < 0 && value != valueBefore) std::abort();
    if (record != recordBefore) std::abort();
    return 0;
  }
  if (result != 0) {
    if (record != recordBefore) std::abort();
    return 0;
  }
  const core::FieldDef* f = core::FindSettingField(family, id);
  if (f == nullptr) std::abort();
  for (std::size_t i = 0; i < record.size(); ++i) {
    if (record[i] != recordBefore[i] && !InsideField(*f, i)) std::abort();
  }
  // What was stored reads back.
  std::vector<std::uint8_t> out(4096);
  if (!core::GetSetting(family, id, record.data(), out.data(), 4096, ctx).ok()) std::abort();
  return 0;
}
