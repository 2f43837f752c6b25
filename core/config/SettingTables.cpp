// Compile-time checks of the setting tables. A row typed wrongly (a clash of
// ids, a field past the end of its record, two fields on the same bytes)
// stops the build here instead of corrupting records at run time.
#include <algorithm>
#include <array>
#include <span>

#include "core/config/SettingTables.h"
#include "core/config/SettingsRecord.h"

namespace core {
namespace {

constexpr bool UniqueIds(std::span<const FieldDef> table) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    for (std::size_t j = i + 1; j < table.size(); ++j) {
      if (table[i].id == table[j].id) return false;
    }
  }
  return true;
}

// The lookups by name take the first row of a name: a second row of the
// same name (among stored rows) would never be reached. Sorted, so that the
// check stays within the compilers' evaluation limits.
template <std::size_t N>
constexpr bool UniqueNames(std::span<const FieldDef> first, std::span<const FieldDef> second = {}) {
  std::array<std::string_view, N> names{};
  std::size_t used = 0;
  for (const auto table : {first, second})
    for (const FieldDef& f : table)
      if (IsStored(f.kind) && !f.name.empty()) names[used++] = f.name;
  std::sort(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(used));
  return std::adjacent_find(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(used)) ==
         names.begin() + static_cast<std::ptrdiff_t>(used);
}

constexpr bool ValidShape(const FieldDef& f) {
  switch (f.kind) {
    case FieldKind::String:
    case FieldKind::TextHead:
    case FieldKind::TextTail:
    case FieldKind::Password:
      return f.width >= 1 && f.width <= 255 && f.text.size() <= f.width;
    case FieldKind::Int:
      return (f.width == 1 || f.width == 2 || f.width == 4) && (f.width == 4 || f.number < (1u << (8 * f.width))) &&
             f.text.empty();
    case FieldKind::Bool:
      return f.width == 1 && f.number <= 1 && f.text.empty();
    case FieldKind::Block:
      return f.width > 0 && f.number == 0 && f.text.empty();
    case FieldKind::Date:
      return f.width == 8 && f.number == 0;
    case FieldKind::LowHalf:
    case FieldKind::HighHalf:
      return f.width == 2 && f.number == 0;
    case FieldKind::LowBits:
    case FieldKind::HighBits:
      return f.width == 1 && f.number == 0;
    case FieldKind::SplitInt:
      return f.width == 4 && f.offset2 >= f.offset + 2 && f.number == 0;
    case FieldKind::Alias:
    case FieldKind::ConfigFolder:
    case FieldKind::FixedText:
      return true;
  }
  return false;
}

constexpr bool InsideRecord(std::span<const FieldDef> table, std::size_t recordSize) {
  for (const FieldDef& f : table) {
    if (!ValidShape(f)) return false;
    if (!IsStored(f.kind)) continue;
    const Extent a = FirstExtent(f);
    const Extent b = SecondExtent(f);
    if (a.Empty() || a.end > recordSize || b.end > recordSize) return false;
  }
  return true;
}

// The account fields that split one stored value between two ids.
constexpr bool SharedPair(const FieldDef& a, const FieldDef& b) {
  auto pair = [&](FieldKind x, FieldKind y) { return (a.kind == x && b.kind == y) || (a.kind == y && b.kind == x); };
  return a.offset == b.offset && a.width == b.width && a.group == b.group &&
         (pair(FieldKind::TextHead, FieldKind::TextTail) || pair(FieldKind::LowBits, FieldKind::HighBits));
}

constexpr bool MayOverlap(const FieldDef& a, const FieldDef& b) {
  const bool differentVariants = a.group != FieldGroup::Common && b.group != FieldGroup::Common && a.group != b.group;
  return differentVariants || SharedPair(a, b);
}

// Sorts the byte ranges of all stored fields by their start and compares each
// range with the ranges that start inside it: cheap enough for every
// compiler's constant-evaluation budget.
struct Placed {
  Extent extent;
  FieldDef field;
};

constexpr bool NoOverlap(std::span<const FieldDef> table, std::span<const FieldDef> more = {}) {
  std::array<Placed, 512> placed{};
  std::size_t count = 0;
  for (std::span<const FieldDef> part : {table, more}) {
    for (const FieldDef& f : part) {
      if (!IsStored(f.kind)) continue;
      for (const Extent& e : {FirstExtent(f), SecondExtent(f)}) {
        if (e.Empty()) continue;
        if (count == placed.size()) return false;
        placed[count++] = {e, f};
      }
    }
  }
  std::sort(placed.begin(), placed.begin() + static_cast<std::ptrdiff_t>(count),
            [](const Placed& x, const Placed& y) { return x.extent.begin < y.extent.begin; });
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t j = i + 1; j < count && placed[j].extent.begin < placed[i].extent.end; ++j) {
      if (!MayOverlap(placed[i].field, placed[j].field)) return false;
    }
  }
  return true;
}

// An alias names a stored field of its own table, never another alias.
constexpr bool AliasesResolve(std::span<const FieldDef> table) {
  for (const FieldDef& f : table) {
    if (f.kind != FieldKind::Alias) continue;
    bool found = false;
    for (const FieldDef& g : table) {
      if (g.id == static_cast<std::int32_t>(f.width) && IsStored(g.kind)) found = true;
    }
    if (!found) return false;
  }
  return true;
}

// Only the configuration table has aliases and read-only specials; only the
// account table has variant blocks and split fields.
constexpr bool KindsBelong(std::span<const FieldDef> table, SettingFamily family) {
  for (const FieldDef& f : table) {
    const bool configOnly = f.kind == FieldKind::Alias || f.kind == FieldKind::ConfigFolder ||
                            f.kind == FieldKind::FixedText || f.kind == FieldKind::Block;
    const bool accountOnly =
        f.group != FieldGroup::Common || (f.kind != FieldKind::String && f.kind != FieldKind::Bool &&
                                          f.kind != FieldKind::Int && f.kind != FieldKind::Date && !configOnly);
    if (configOnly && family != SettingFamily::Config) return false;
    if (accountOnly && family != SettingFamily::Account) return false;
    if (f.kind == FieldKind::Date && family == SettingFamily::Config) return false;
  }
  return true;
}

constexpr bool NoIdRowsHaveNoId() {
  for (const FieldDef& f : ConfigNoIdFields) {
    if (f.id != -1) return false;
  }
  return true;
}

// Every id the lookup answers maps back to its own row.
template <std::size_t N>
constexpr bool IndexConsistent(SettingFamily family, std::int32_t from, std::int32_t to) {
  std::size_t found = 0;
  for (std::int32_t id = from; id <= to; ++id) {
    const int row = FindSettingRow(family, id);
    if (row < 0) continue;
    ++found;
    const FieldDef& f = FieldTable(family)[static_cast<std::size_t>(row)];
    const bool alias = family == SettingFamily::Config && f.id != id;
    if (alias ? !IsStored(f.kind) : f.id != id) return false;
  }
  return found == N;
}

static_assert(std::size(ConfigFields) == 158);
static_assert(std::size(AccountFields) == 126);
static_assert(std::size(DomainFields) == 25);
static_assert(std::size(RemoteAccountFields) == 22);

static_assert(UniqueIds(ConfigFields) && UniqueIds(AccountFields) && UniqueIds(DomainFields) &&
              UniqueIds(RemoteAccountFields));
static_assert(NoIdRowsHaveNoId());
static_assert(UniqueNames<std::size(ConfigFields) + std::size(ConfigNoIdFields)>(ConfigFields, ConfigNoIdFields));
static_assert(UniqueNames<std::size(AccountFields)>(AccountFields));

static_assert(InsideRecord(ConfigFields, SettingsRecordSize) && InsideRecord(ConfigNoIdFields, SettingsRecordSize));
static_assert(InsideRecord(AccountFields, AccountRecordSize));
static_assert(InsideRecord(DomainFields, DomainRecordSize));
static_assert(InsideRecord(RemoteAccountFields, RemoteAccountRecordSize));

static_assert(NoOverlap(ConfigFields, ConfigNoIdFields));
static_assert(NoOverlap(AccountFields));
static_assert(NoOverlap(DomainFields));
static_assert(NoOverlap(RemoteAccountFields));

static_assert(AliasesResolve(ConfigFields));
static_assert(KindsBelong(ConfigFields, SettingFamily::Config) && KindsBelong(ConfigNoIdFields, SettingFamily::Config));
static_assert(KindsBelong(AccountFields, SettingFamily::Account));
static_assert(KindsBelong(DomainFields, SettingFamily::Domain));
static_assert(KindsBelong(RemoteAccountFields, SettingFamily::RemoteAccount));

static_assert(IndexConsistent<157>(SettingFamily::Config, -5, 300));
static_assert(FindSettingRow(SettingFamily::Config, 4096) >= 0 && FindSettingRow(SettingFamily::Config, 4095) < 0 &&
              FindSettingRow(SettingFamily::Config, 4097) < 0);
static_assert(IndexConsistent<126>(SettingFamily::Account, -5, 300));
static_assert(IndexConsistent<25>(SettingFamily::Domain, -5, 300));
static_assert(IndexConsistent<22>(SettingFamily::RemoteAccount, -5, 300));

}  // namespace
}  // namespace core
