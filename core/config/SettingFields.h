#pragma once
// Field descriptions shared by the setting tables and by code that names a
// field of a stored record: what kind of value a field holds, where it lies
// and how many bytes it covers.
#include <cstdint>
#include <string_view>

namespace core {

enum class SettingFamily : std::uint8_t { Config, Account, Domain, RemoteAccount };

enum class FieldKind : std::uint8_t {
  String,        // short string: length byte, then up to `width` characters
  Bool,          // one byte, 0 false, anything else true
  Int,           // unsigned little-endian integer of `width` bytes (1, 2 or 4)
  Block,         // `width` raw bytes
  Date,          // 8-byte floating-point day count since 1899-12-30
  Alias,         // the same setting as id `width` of the same table
  TextHead,      // text before the first ";" of a shared short string
  TextTail,      // text after the first ";" of the same string
  LowHalf,       // low 16 bits of the 32-bit value at `offset`
  HighHalf,      // high 16 bits of the same value
  LowBits,       // bits 0-1 of the byte at `offset`
  HighBits,      // bits 2-7 of the same byte
  SplitInt,      // 32-bit value kept as two words: high at `offset`, low at `offset2`
  Password,      // short string whose reading is masked by the settings record
  ConfigFolder,  // read-only: the configuration folder of the running library
  FixedText,     // read-only: the constant `text`
};

// Which part of a variant record a field belongs to. Fields of different
// variant blocks may overlap; the common part overlaps nothing.
enum class FieldGroup : std::uint8_t { Common, Kind0, Kind3, Kind4, Ids80, Ids112, Ids208 };

// What the configuration load does with a field of the settings record.
enum class LoadRule : std::uint8_t {
  Keep,             // nothing
  DefaultWhenZero,  // 0 (a text: empty) becomes loadValue (a text: its initial text)
  ZeroWhenAbove,    // a value above loadValue becomes 0
};

// One row of a setting table.
struct FieldDef {
  std::int32_t id;  // -1 for a field that no setting id reaches
  FieldKind kind;
  std::uint32_t width;  // characters for texts, bytes otherwise, target id for an alias
  std::uint32_t offset;
  std::uint32_t number;   // initial value of a numeric field in the built-in image
  std::string_view text;  // initial value of a text field (or the fixed text)
  FieldGroup group;
  std::uint32_t offset2;  // second word of a SplitInt field
  std::string_view name;  // what the field is, for code that names it
  LoadRule load = LoadRule::Keep;
  std::uint32_t loadValue = 0;  // the load's default or bound

  // The field gets its initial value at load when it holds 0 (or is empty).
  constexpr FieldDef InitialAtLoad() const { return DefaultAtLoad(number); }
  constexpr FieldDef DefaultAtLoad(std::uint32_t value) const {
    FieldDef f = *this;
    f.load = LoadRule::DefaultWhenZero;
    f.loadValue = value;
    return f;
  }
  constexpr FieldDef ZeroAtLoadAbove(std::uint32_t bound) const {
    FieldDef f = *this;
    f.load = LoadRule::ZeroWhenAbove;
    f.loadValue = bound;
    return f;
  }
};

// A byte range [begin, end) of a record.
struct Extent {
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
  constexpr bool Empty() const { return begin >= end; }
  constexpr bool Overlaps(const Extent& other) const {
    return !Empty() && !other.Empty() && begin < other.end && other.begin < end;
  }
};

// Whether the field lives in the record at all (aliases and the read-only
// specials do not).
constexpr bool IsStored(FieldKind kind) {
  return kind != FieldKind::Alias && kind != FieldKind::ConfigFolder && kind != FieldKind::FixedText;
}

constexpr bool IsTextKind(FieldKind kind) {
  return kind == FieldKind::String || kind == FieldKind::TextHead || kind == FieldKind::TextTail ||
         kind == FieldKind::Password;
}

// The bytes a field occupies; SplitInt fields have a second range.
constexpr Extent FirstExtent(const FieldDef& f) {
  switch (f.kind) {
    case FieldKind::String:
    case FieldKind::TextHead:
    case FieldKind::TextTail:
    case FieldKind::Password:
      return {f.offset, f.offset + f.width + 1};
    case FieldKind::Bool:
    case FieldKind::LowBits:
    case FieldKind::HighBits:
      return {f.offset, f.offset + 1};
    case FieldKind::Int:
    case FieldKind::Block:
      return {f.offset, f.offset + f.width};
    case FieldKind::Date:
      return {f.offset, f.offset + 8};
    case FieldKind::LowHalf:
      return {f.offset, f.offset + 2};
    case FieldKind::HighHalf:
      return {f.offset + 2, f.offset + 4};
    case FieldKind::SplitInt:
      return {f.offset, f.offset + 2};
    case FieldKind::Alias:
    case FieldKind::ConfigFolder:
    case FieldKind::FixedText:
      break;
  }
  return {};
}

constexpr Extent SecondExtent(const FieldDef& f) {
  if (f.kind == FieldKind::SplitInt) return {f.offset2, f.offset2 + 2};
  return {};
}

// A field of a record as the core units name it: where it is, how wide and
// of which kind (widths as in FieldDef).
struct FieldRef {
  std::uint32_t offset = 0;
  std::uint32_t width = 0;
  FieldKind kind = FieldKind::Int;
};

constexpr FieldRef RefOf(const FieldDef& f) { return {f.offset, f.width, f.kind}; }

}  // namespace core
