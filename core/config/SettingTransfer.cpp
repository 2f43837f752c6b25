#include "core/config/SettingTransfer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/config/SettingTables.h"
#include "core/config/SettingsRecord.h"
#include "core/util/LittleEndian.h"
#include "core/util/Text.h"

namespace core {

namespace {

constexpr std::size_t ConfigFolderLength = 255;
constexpr std::string_view PasswordMask = "*";

// The account kind of an ordinary user with a mailbox (byte 0 of the record).
constexpr FieldRef AccountKind = RefOf(AccountField("AccountKind"));
// Accounts of the kinds that "UserType" 2 and 3 set: their passwords are
// shown only when the settings say so.
constexpr FieldRef UserType2 = RefOf(AccountField("UserType2"));
constexpr FieldRef UserType3 = RefOf(AccountField("UserType3"));

// ---- Put: field value into the caller's buffer ----------------------------

Outcome PutBytes(const void* value, std::size_t size, std::uint8_t* out, std::size_t capacity) {
  if (capacity < size) return Outcome::Fail(Status::BadArgument);
  if (size > 0) std::memcpy(out, value, size);
  return Outcome::Of(static_cast<std::int32_t>(size));
}

Outcome PutText(std::string_view text, std::uint8_t* out, std::size_t capacity) {
  return PutBytes(text.data(), text.size(), out, capacity);
}

Outcome PutBool(std::uint8_t value, std::uint8_t* out, std::size_t capacity) {
  return PutBytes(&value, 1, out, capacity);
}

// The low min(capacity, 4) bytes of the value.
Outcome PutInt(std::uint32_t value, std::uint8_t* out, std::size_t capacity) {
  if (capacity == 0) return Outcome::Fail(Status::BadArgument);
  const std::size_t bytes = std::min<std::size_t>(capacity, 4);
  StoreLEWidth(out, bytes, value);
  return Outcome::Of(static_cast<std::int32_t>(bytes));
}

// ---- Take: the caller's value out of its buffer ----------------------------

std::string TakeText(const std::uint8_t* in, std::size_t length) {
  return Trim(std::string_view(reinterpret_cast<const char*>(in), length));
}

// 2 and 4 bytes are a 16- or 32-bit truth value; otherwise the first byte
// is stored as it is. An empty value is false.
std::uint8_t TakeBool(const std::uint8_t* in, std::size_t length) {
  if (length == 0) return 0;
  if (length == 2) return (in[0] | in[1]) != 0 ? 1 : 0;
  if (length == 4) return (in[0] | in[1] | in[2] | in[3]) != 0 ? 1 : 0;
  return in[0];
}

std::uint32_t TakeInt(const std::uint8_t* in, std::size_t length) {
  return LoadLEWidth(in, std::min<std::size_t>(length, 4));
}

// ---- Shared text of account ids 2 and 5: "first;second" -------------------

std::string_view HeadPart(std::string_view text) { return text.substr(0, text.find(';')); }

std::string_view TailPart(std::string_view text) {
  const std::size_t semi = text.find(';');
  if (semi == std::string_view::npos) return {};
  std::string_view tail = text.substr(semi + 1);
  if (!tail.empty() && tail.back() == ';') tail.remove_suffix(1);
  return tail;
}

std::string_view PasswordForReading(const std::uint8_t* record, const FieldDef& f, const SettingContext& ctx) {
  if (GetU8(record, AccountKind) != 0) return {};
  const bool maskAll = ctx.settings != nullptr && GetU8(ctx.settings, cfg::MaskAllPasswords) != 0;
  const bool showFlagged = ctx.settings != nullptr && GetU8(ctx.settings, cfg::ShowFlaggedPasswords) != 0;
  const bool flagged = GetU8(record, UserType2) != 0 || GetU8(record, UserType3) != 0;
  if (maskAll || (!showFlagged && flagged)) return PasswordMask;
  return GetShortStringView(record, RefOf(f));
}

}  // namespace

Outcome GetSetting(SettingFamily family, std::int32_t id, const std::uint8_t* record, void* buffer, std::int32_t bufLen,
                   const SettingContext& ctx) {
  const FieldDef* f = FindSettingField(family, id);
  if (f == nullptr) return Outcome::Fail(Status::NotFound);
  const std::size_t capacity = bufLen > 0 ? static_cast<std::size_t>(bufLen) : 0;
  if (buffer == nullptr && capacity > 0) return Outcome::Fail(Status::BadArgument);
  if (record == nullptr && IsStored(f->kind)) return Outcome::Fail(Status::BadArgument);
  auto* out = static_cast<std::uint8_t*>(buffer);
  const FieldRef ref = RefOf(*f);

  switch (f->kind) {
    case FieldKind::String:
      return PutText(GetShortStringView(record, ref), out, capacity);
    case FieldKind::TextHead:
      return PutText(HeadPart(GetShortStringView(record, ref)), out, capacity);
    case FieldKind::TextTail:
      return PutText(TailPart(GetShortStringView(record, ref)), out, capacity);
    case FieldKind::Password:
      return PutText(PasswordForReading(record, *f, ctx), out, capacity);
    case FieldKind::ConfigFolder:
      return PutText(ctx.configFolder.substr(0, ConfigFolderLength), out, capacity);
    case FieldKind::FixedText:
      return PutText(f->text, out, capacity);
    case FieldKind::Bool:
      return PutBool(GetU8(record, ref), out, capacity);
    case FieldKind::Int:
      return PutInt(GetUnsigned(record, ref), out, capacity);
    case FieldKind::LowHalf:
      return PutInt(GetU32(record, ref) & 0xFFFFu, out, capacity);
    case FieldKind::HighHalf:
      return PutInt(GetU32(record, ref) >> 16, out, capacity);
    case FieldKind::LowBits:
      return PutInt(GetU8(record, ref) & 0x03u, out, capacity);
    case FieldKind::HighBits:
      return PutInt(static_cast<std::uint32_t>(GetU8(record, ref)) >> 2, out, capacity);
    case FieldKind::SplitInt:
      return PutInt(GetSplitU32(record, *f), out, capacity);
    case FieldKind::Block:
      return PutBytes(record + f->offset, f->width, out, capacity);
    case FieldKind::Date:
      return PutBytes(record + f->offset, 8, out, capacity);
    case FieldKind::Alias:
      break;
  }
  return Outcome::Fail(Status::NotFound);
}

Outcome SetSetting(SettingFamily family, std::int32_t id, std::uint8_t* record, const void* buffer,
                   std::int32_t bufLen) {
  const FieldDef* f = FindSettingField(family, id);
  if (f == nullptr || !IsStored(f->kind)) return Outcome::Fail(Status::NotFound);
  const std::size_t length = bufLen > 0 ? static_cast<std::size_t>(bufLen) : 0;
  if ((buffer == nullptr && length > 0) || record == nullptr) return Outcome::Fail(Status::BadArgument);
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  const FieldRef ref = RefOf(*f);

  switch (f->kind) {
    case FieldKind::String:
    case FieldKind::Password:
      SetShortString(record, ref, TakeText(in, length));
      return Outcome::Of(0);
    case FieldKind::TextHead: {
      const std::string value = TakeText(in, length);
      std::string text(HeadPart(value));
      text += ';';
      text += TailPart(GetShortStringView(record, ref));
      SetShortString(record, ref, text);
      return Outcome::Of(0);
    }
    case FieldKind::TextTail: {
      std::string text(HeadPart(GetShortStringView(record, ref)));
      text += ';';
      text += TakeText(in, length);
      SetShortString(record, ref, text);
      return Outcome::Of(0);
    }
    case FieldKind::Bool:
      SetU8(record, ref, TakeBool(in, length));
      return Outcome::Of(0);
    case FieldKind::Int:
      SetUnsigned(record, ref, TakeInt(in, length));
      return Outcome::Of(0);
    case FieldKind::LowHalf: {
      const std::uint32_t old = GetU32(record, ref);
      SetU32(record, ref, (old & 0xFFFF0000u) | (TakeInt(in, length) & 0xFFFFu));
      return Outcome::Of(0);
    }
    case FieldKind::HighHalf: {
      const std::uint32_t old = GetU32(record, ref);
      SetU32(record, ref, (old & 0x0000FFFFu) | (TakeInt(in, length) << 16));
      return Outcome::Of(0);
    }
    case FieldKind::LowBits: {
      // Kept to two bits so the value cannot spill into the bits of id 66.
      const std::uint32_t old = GetU8(record, ref);
      SetU8(record, ref, static_cast<std::uint8_t>((old & ~0x03u) | (TakeInt(in, length) & 0x03u)));
      return Outcome::Of(0);
    }
    case FieldKind::HighBits: {
      const std::uint32_t old = GetU8(record, ref);
      SetU8(record, ref, static_cast<std::uint8_t>((old & 0x03u) | (TakeInt(in, length) << 2)));
      return Outcome::Of(0);
    }
    case FieldKind::SplitInt:
      SetSplitU32(record, *f, TakeInt(in, length));
      return Outcome::Of(0);
    case FieldKind::Block:
      if (length > 0) std::memcpy(record + f->offset, in, std::min<std::size_t>(length, f->width));
      return Outcome::Of(0);
    case FieldKind::Date:
      if (length < 8) return Outcome::Fail(Status::BadArgument);
      std::memcpy(record + f->offset, in, 8);
      return Outcome::Of(0);
    case FieldKind::Alias:
    case FieldKind::ConfigFolder:
    case FieldKind::FixedText:
      break;
  }
  return Outcome::Fail(Status::NotFound);
}

}  // namespace core
