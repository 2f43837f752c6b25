#include "core/config/SettingsRecord.h"

#include <algorithm>
#include <span>

namespace core {

namespace {

constexpr void WriteInitial(SettingsRecord& image, const FieldDef& f) {
  if (IsTextKind(f.kind)) {
    image[f.offset] = static_cast<std::uint8_t>(f.text.size());
    for (std::size_t i = 0; i < f.text.size(); ++i)
      image[f.offset + 1 + i] = static_cast<std::uint8_t>(f.text[i]);
  } else if (f.kind == FieldKind::Int || f.kind == FieldKind::Bool) {
    StoreLEWidth(image.data() + f.offset, f.width, f.number);
  }
}

constexpr SettingsRecord MakeImage() {
  SettingsRecord image{};
  for (const FieldDef& f : ConfigFields)
    WriteInitial(image, f);
  for (const FieldDef& f : ConfigNoIdFields)
    WriteInitial(image, f);
  return image;
}

constexpr SettingsRecord Image = MakeImage();

constexpr std::uint32_t ImageU16(std::uint32_t offset) { return LoadLE<std::uint16_t>(Image.data() + offset); }

// A few values as the record documents them, independent of the table rows.
static_assert(Image[0] == DefaultHostName.size() && Image[1] == 'l');
static_assert(ImageU16(160) == 5229 && ImageU16(167) == 5269 && Image[196] == 1);
static_assert(ImageU16(228) == 5222 && ImageU16(230) == 5223 && Image[238] == 1 && Image[7002] == 1);
static_assert(ImageU16(1038) == 143 && Image[1476] == 5 && Image[3635] == 2 && Image[3633] == 1);
static_assert(Image[256] == 5 && Image[261] == '\\' && Image[4577] == 44);

}  // namespace

const SettingsRecord& BuiltInSettingsImage() { return Image; }

std::uint32_t GetUnsigned(const std::uint8_t* record, FieldRef f) {
  switch (f.width) {
    case 1:
      return GetU8(record, f);
    case 2:
      return GetU16(record, f);
    default:
      return GetU32(record, f);
  }
}

void SetUnsigned(std::uint8_t* record, FieldRef f, std::uint32_t value) {
  StoreLEWidth(record + f.offset, f.width, value);
}

std::string_view GetShortStringView(const std::uint8_t* record, FieldRef f) {
  const std::uint32_t length = std::min<std::uint32_t>(record[f.offset], f.width);
  return {reinterpret_cast<const char*>(record + f.offset + 1), length};
}

std::string GetShortString(const std::uint8_t* record, FieldRef f) {
  return std::string(GetShortStringView(record, f));
}

void SetShortString(std::uint8_t* record, FieldRef f, std::string_view text) {
  const std::size_t length = std::min<std::size_t>(text.size(), f.width);
  record[f.offset] = static_cast<std::uint8_t>(length);
  if (length > 0) std::memcpy(record + f.offset + 1, text.data(), length);
  std::memset(record + f.offset + 1 + length, 0, f.width - length);
}

void ApplyLoadRules(std::uint8_t* record) {
  // Clamps first, then defaults, each in the order of the tables.
  for (const auto& table : {std::span<const FieldDef>(ConfigFields), std::span<const FieldDef>(ConfigNoIdFields)}) {
    for (const FieldDef& f : table) {
      if (f.load == LoadRule::ZeroWhenAbove && GetUnsigned(record, RefOf(f)) > f.loadValue)
        SetUnsigned(record, RefOf(f), 0);
    }
  }
  for (const auto& table : {std::span<const FieldDef>(ConfigFields), std::span<const FieldDef>(ConfigNoIdFields)}) {
    for (const FieldDef& f : table) {
      if (f.load != LoadRule::DefaultWhenZero) continue;
      if (IsTextKind(f.kind)) {
        if (GetShortStringView(record, RefOf(f)).empty()) SetShortString(record, RefOf(f), f.text);
      } else if (GetUnsigned(record, RefOf(f)) == 0) {
        SetUnsigned(record, RefOf(f), f.loadValue);
      }
    }
  }
}

}  // namespace core
