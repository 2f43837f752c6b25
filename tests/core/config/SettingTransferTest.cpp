// Setting transfer by id: an exhaustive probe over every id of every family
// plus the edge cases of the transfer rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "core/accounts/AccountRecord.h"
#include "core/config/SettingTransfer.h"
#include "core/config/SettingsRecord.h"
#include "tests/support/records.h"

namespace core {
namespace {

// The tests speak in the exported codes: a byte count, -1 not found, -3 a
// bad argument.
int Code(Outcome o) {
  if (o.ok()) return o.value;
  return o.status == Status::NotFound ? -1 : o.status == Status::BadArgument ? -3 : -99;
}

using Bytes = std::vector<std::uint8_t>;

std::string Text(const Bytes& b, int n) { return std::string(b.begin(), b.begin() + n); }
bool In(std::int32_t id, std::int32_t lo, std::int32_t hi) { return id >= lo && id <= hi; }

// Which ids exist, written from the lists of missing ids rather than from the tables.
bool Exists(SettingFamily family, std::int32_t id, bool forSet) {
  switch (family) {
    case SettingFamily::Config:
      if (id == 170 || id == 4096) return !forSet;
      return In(id, 0, 161) && id != 3 && !In(id, 7, 10) && id != 21;
    case SettingFamily::Account:
      return In(id, 0, 214) && !In(id, 6, 15) && id != 20 && id != 28 && id != 29 && id != 35 && id != 41 && id != 56 &&
             !In(id, 68, 79) && !In(id, 85, 111) && !In(id, 147, 159) && !In(id, 179, 191) && !In(id, 200, 207);
    case SettingFamily::Domain:
      return In(id, 0, 25) && id != 2;
    case SettingFamily::RemoteAccount:
      return In(id, 224, 245);
  }
  return false;
}

// Value bytes with no 0x00 and no 0xA5, so every stored byte differs from both fills.
constexpr std::uint8_t IntPattern[4] = {0x3B, 0xC6, 0x5D, 0x7E};
constexpr std::uint32_t IntValue = 0x7E5DC63Bu;

struct Probe {
  Bytes value;
  Bytes expectedGet;
  bool everyByteChanges = true;
};

Probe MakeProbe(const FieldDef& f, std::uint8_t fill) {
  Probe p{Bytes(IntPattern, IntPattern + 4), {}, true};
  std::uint32_t mask = 0xFFFFFFFFu;
  switch (f.kind) {
    case FieldKind::String:
    case FieldKind::Password:
    case FieldKind::TextHead:
    case FieldKind::TextTail: {
      p.value.clear();
      for (std::uint32_t i = 0; i < f.width + 9; ++i)
        p.value.push_back(static_cast<std::uint8_t>('A' + i % 26));
      std::size_t kept = f.width;
      if (f.kind == FieldKind::TextTail) {  // id 5 keeps the first part (the whole fill text) in front
        kept = f.width - 1 - (fill == 0 ? 0 : std::min<std::size_t>(fill, f.width));
        p.everyByteChanges = false;
      }
      p.expectedGet.assign(p.value.begin(), p.value.begin() + static_cast<std::ptrdiff_t>(kept));
      return p;
    }
    case FieldKind::Bool:
      p.value = p.expectedGet = {0x5A};
      return p;
    case FieldKind::Block:
    case FieldKind::Date:
      p.value.clear();
      for (std::uint32_t i = 0; i < (f.kind == FieldKind::Date ? 8 : f.width); ++i) {
        p.value.push_back(static_cast<std::uint8_t>(i % 64 + 1));
      }
      p.expectedGet = p.value;
      return p;
    case FieldKind::Int:
      if (f.width < 4) mask = (1u << (8 * f.width)) - 1;
      break;
    case FieldKind::LowHalf:
    case FieldKind::HighHalf:
      mask = 0xFFFF;
      break;
    case FieldKind::LowBits:
      mask = 3;
      p.everyByteChanges = false;
      break;
    case FieldKind::HighBits:
      mask = 0x3F;
      p.everyByteChanges = false;
      break;
    default:
      break;  // SplitInt: all 32 bits
  }
  for (int i = 0; i < 4; ++i)
    p.expectedGet.push_back(static_cast<std::uint8_t>((IntValue & mask) >> (8 * i)));
  return p;
}

TEST(SettingProbe, EveryIdChangesExactlyItsFieldAndReadsBack) {
  std::vector<std::int32_t> ids;
  for (std::int32_t id = -3; id <= 300; ++id)
    ids.push_back(id);
  for (std::int32_t id : {4095, 4096, 4097, INT32_MIN, INT32_MAX})
    ids.push_back(id);
  SettingsRecord settings{};
  settings[records::settings::ShowFlaggedPasswords] = 1;  // so id 33 reads back
  const SettingContext ctx{"C:\\Server\\config\\", settings.data()};

  for (SettingFamily family :
       {SettingFamily::Config, SettingFamily::Account, SettingFamily::Domain, SettingFamily::RemoteAccount}) {
    const std::size_t size = RecordSize(family);
    std::set<std::size_t> reached;
    for (std::int32_t id : ids) {
      SCOPED_TRACE("family " + std::to_string(static_cast<int>(family)) + " id " + std::to_string(id));
      Bytes record(size, 0xA5);
      Bytes out(4096, 0xEE);
      const Bytes value(16, 0x42);
      if (!Exists(family, id, false)) {
        EXPECT_EQ(Code(GetSetting(family, id, record.data(), out.data(), 4096, ctx)), -1);
        EXPECT_EQ(out, Bytes(4096, 0xEE));
      }
      if (!Exists(family, id, true)) {
        EXPECT_EQ(Code(SetSetting(family, id, record.data(), value.data(), 16)), -1);
        EXPECT_EQ(record, Bytes(size, 0xA5));
        continue;
      }
      const FieldDef* f = FindSettingField(family, id);
      ASSERT_NE(f, nullptr);
      const Extent a = FirstExtent(*f);
      const Extent b = SecondExtent(*f);
      for (std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0xA5}}) {
        Bytes before(size, fill);
        if (f->kind == FieldKind::Password) before[0] = 0;  // an ordinary account
        Bytes after = before;
        const Probe p = MakeProbe(*f, fill);
        ASSERT_EQ(Code(SetSetting(family, id, after.data(), p.value.data(), static_cast<std::int32_t>(p.value.size()))),
                  0);
        for (std::size_t i = 0; i < size; ++i) {
          const bool inside = (i >= a.begin && i < a.end) || (i >= b.begin && i < b.end);
          if (!inside) {
            ASSERT_EQ(after[i], before[i]) << "byte " << i << " outside the field changed";
          } else if (fill == 0xA5) {
            if (p.everyByteChanges) {
              EXPECT_NE(after[i], before[i]) << "byte " << i << " of the field kept";
            }
            if (after[i] != before[i]) reached.insert(i);
          }
        }
        const int n = Code(GetSetting(family, id, after.data(), out.data(), 4096, ctx));
        ASSERT_EQ(n, static_cast<int>(p.expectedGet.size()));
        EXPECT_EQ(Bytes(out.begin(), out.begin() + n), p.expectedGet);
      }
    }
    // Which bytes the ids reach, from the record layouts.
    if (family == SettingFamily::Config) continue;
    for (std::size_t i = 0; i < (family == SettingFamily::Account ? 516 : size); ++i) {
      const auto at = static_cast<std::int32_t>(i);
      const bool unreached = family == SettingFamily::Account ? i == 1
                             : family == SettingFamily::RemoteAccount
                                 ? In(at, 256, 539) || In(at, 1246, 1269) || In(at, 1278, 1309) || at >= 1568
                                 : false;
      EXPECT_EQ(reached.count(i) == 0, unreached) << "family " << static_cast<int>(family) << " byte " << i;
    }
  }
}

class ConfigTransfer : public ::testing::Test {
 protected:
  SettingsRecord rec = BuiltInSettingsImage();
  Bytes out = Bytes(2048, 0xEE);
  SettingContext ctx{"C:\\Mail\\config\\", nullptr};
  int Get(std::int32_t id, std::int32_t len) {
    return Code(GetSetting(SettingFamily::Config, id, rec.data(), out.data(), len, ctx));
  }
  int Set(std::int32_t id, const void* v, std::int32_t len) {
    return Code(SetSetting(SettingFamily::Config, id, rec.data(), v, len));
  }
};

TEST_F(ConfigTransfer, ReadsNeedRoomAndWriteNothingOnFailure) {
  const std::int32_t rows[][3] = {{73, 5, -3},    {73, 13, 13},  {31, 1, 1},      {31, 0, -3},
                                  {31, -7, -3},   {15, 0, -3},   {148, 2047, -3}, {148, 2048, 2048},
                                  {4096, 10, -3}, {170, 14, -3}, {7, 300, -1},    {4096, 300, 11}};
  for (const auto& [id, len, want] : rows) {
    out.assign(2048, 0xEE);
    EXPECT_EQ(Get(id, len), want) << "id " << id << " length " << len;
    if (want < 0) {
      EXPECT_EQ(out, Bytes(2048, 0xEE)) << "id " << id << " length " << len;
    }
  }
  EXPECT_EQ(Text(out, 11), "version.dll");
  ASSERT_EQ(Get(170, 300), 15);
  EXPECT_EQ(Text(out, 15), "C:\\Mail\\config\\");
  const std::string longFolder(400, 'f');
  ctx.configFolder = longFolder;
  EXPECT_EQ(Get(170, 300), 255);

  // A null buffer with a positive length is refused, never dereferenced.
  const SettingsRecord before = rec;
  EXPECT_EQ(Code(GetSetting(SettingFamily::Config, 31, rec.data(), nullptr, 4, ctx)), -3);
  EXPECT_EQ(Set(31, nullptr, 4), -3);
  EXPECT_EQ(Set(73, nullptr, 13), -3);
  EXPECT_EQ(Set(4096, "x", 1), -1);
  EXPECT_EQ(Set(170, "x", 1), -1);
  EXPECT_EQ(rec, before);
}

TEST_F(ConfigTransfer, TextSetTrimsCutsAndZeroesTheTail) {
  const std::string forty(40, 'q');
  ASSERT_EQ(Set(73, forty.data(), 40), 0);
  EXPECT_EQ(Get(73, 300), 31);
  const char padded[] = " \t\0 abc\0\r\n";
  ASSERT_EQ(Set(73, padded, sizeof padded), 0);
  ASSERT_EQ(Get(73, 300), 3);
  EXPECT_EQ(Text(out, 3), "abc");
  for (std::size_t i = 1477 + 4; i < 1477 + 32; ++i)
    EXPECT_EQ(rec[i], 0) << "old text left at " << i;
  rec[1477] = 200;  // damaged length byte
  EXPECT_EQ(Get(73, 300), 31);
  EXPECT_EQ(Set(73, nullptr, 0), 0);
  EXPECT_EQ(Get(73, 0), 0);
}

TEST_F(ConfigTransfer, IntegersAndBooleansFollowTheValueLength) {
  const std::uint8_t zero2[2] = {0, 0};
  ASSERT_EQ(Set(31, zero2, 2), 0);
  ApplyLoadRules(rec.data());
  ASSERT_EQ(Get(31, 4), 4);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), (Bytes{143, 0, 0, 0, 0xEE}));

  const std::uint8_t big[4] = {0x10, 0x20, 0x30, 0x40};
  ASSERT_EQ(Set(31, big, 4), 0);  // cut to the 16-bit field; id 32 (32001 = 0x7D01) untouched
  EXPECT_EQ((Bytes{rec[1038], rec[1039], rec[1040]}), (Bytes{0x10, 0x20, 0x01}));
  ASSERT_EQ(Set(31, big, 0), 0);
  EXPECT_EQ(rec[1038] | rec[1039], 0);
  ASSERT_EQ(Set(29, big, -1), 0);  // a negative length counts as 0
  EXPECT_EQ(rec[1032], 0);

  const std::uint8_t word[2] = {0, 1};
  ASSERT_EQ(Set(15, word, 2), 0);  // the value at its own length
  EXPECT_EQ(rec[246], 1);
  ASSERT_EQ(Set(15, word, 1), 0);
  EXPECT_EQ(rec[246], 0);
  for (std::int32_t len : {0, -2}) {  // nothing passed: false
    rec[246] = 5;
    ASSERT_EQ(Set(15, len == 0 ? nullptr : word, len), 0);
    EXPECT_EQ(rec[246], 0);
  }
}

class AccountTransfer : public ::testing::Test {
 protected:
  Bytes rec = Bytes(AccountRecordSize, 0);
  SettingsRecord settings{};
  SettingContext ctx{{}, settings.data()};
  std::string GetText(std::int32_t id) {
    std::string out(300, '\0');
    const int n = Code(GetSetting(SettingFamily::Account, id, rec.data(), out.data(), 300, ctx));
    return n < 0 ? "<" + std::to_string(n) + ">" : out.substr(0, static_cast<std::size_t>(n));
  }
  int Set(std::int32_t id, std::string_view v) {
    return Code(SetSetting(SettingFamily::Account, id, rec.data(), v.data(), static_cast<std::int32_t>(v.size())));
  }
  int SetInt(std::int32_t id, std::uint32_t v) {
    return Code(SetSetting(SettingFamily::Account, id, rec.data(), &v, 4));
  }
  std::uint32_t GetInt(std::int32_t id) {
    std::uint32_t v = 0;
    EXPECT_EQ(Code(GetSetting(SettingFamily::Account, id, rec.data(), &v, 4, ctx)), 4);
    return v;
  }
};

TEST_F(AccountTransfer, TwoPartTextOfIds2And5) {
  constexpr FieldRef shared{4, 254, FieldKind::String};
  ASSERT_EQ(Set(2, "a;b;c"), 0);  // no second part yet: "a;"
  ASSERT_EQ(Set(5, "b;c"), 0);
  EXPECT_EQ(GetText(2), "a");
  EXPECT_EQ(GetText(5), "b;c");
  ASSERT_EQ(Set(2, "x;y"), 0);
  EXPECT_EQ(GetShortString(rec.data(), shared), "x;b;c");
  ASSERT_EQ(Set(5, std::string(300, 'z')), 0);  // cut to 254 in all
  EXPECT_EQ(rec[4], 254);
  SetShortString(rec.data(), shared, "whole");
  EXPECT_EQ(GetText(2), "whole");
  EXPECT_EQ(GetText(5), "");
  SetShortString(rec.data(), shared, "a;b;c;");  // one trailing ";" of the second part is dropped
  EXPECT_EQ(GetText(5), "b;c");
}

TEST_F(AccountTransfer, SplitFieldsOfIds42And66And58) {
  rec[1293] = 0b10110100;
  ASSERT_EQ(SetInt(42, 7), 0);  // kept to two bits
  EXPECT_EQ(rec[1293], 0b10110111);
  EXPECT_EQ(GetInt(42), 3u);
  EXPECT_EQ(GetInt(66), 0b101101u);
  ASSERT_EQ(SetInt(66, 1), 0);
  EXPECT_EQ(rec[1293], 0b00000111);

  ASSERT_EQ(SetInt(58, 0x00050007), 0);  // high word at 1018, low word at 1024
  EXPECT_EQ((Bytes{rec[1018], rec[1019], rec[1024], rec[1025]}), (Bytes{5, 0, 7, 0}));
  EXPECT_EQ(GetInt(58), 0x00050007u);
  EXPECT_EQ(GetAccountNumberSendLimit(rec.data()), 0x00050007u);
}

TEST_F(AccountTransfer, PasswordMaskingAndShortDates) {
  ASSERT_EQ(Set(33, "longer-old-password"), 0);
  ASSERT_EQ(Set(33, "secret"), 0);
  for (std::size_t i = records::user::Password + 7; i < records::user::Password + 128; ++i)
    EXPECT_EQ(rec[i], 0) << "old password byte at " << i;
  EXPECT_EQ(GetText(33), "secret");
  settings[records::settings::MaskPasswords] = 1;
  EXPECT_EQ(GetText(33), "*");
  ctx.settings = nullptr;
  rec[records::user::Flag1284] = 1;  // a flagged account, and no settings record to show it
  EXPECT_EQ(GetText(33), "*");
  rec[0] = 1;  // not an ordinary user
  EXPECT_EQ(GetText(33), "");

  const double day = 2.75;
  ASSERT_EQ(Code(SetSetting(SettingFamily::Account, 19, rec.data(), &day, 8)), 0);
  const Bytes before = rec;
  EXPECT_EQ(Code(SetSetting(SettingFamily::Account, 19, rec.data(), &day, 4)), -3);
  EXPECT_EQ(rec, before);
  double back = 0;
  EXPECT_EQ(Code(GetSetting(SettingFamily::Account, 19, rec.data(), &back, 7, ctx)), -3);
  ASSERT_EQ(Code(GetSetting(SettingFamily::Account, 19, rec.data(), &back, 8, ctx)), 8);
  EXPECT_EQ(back, 2.75);
}

}  // namespace
}  // namespace core
