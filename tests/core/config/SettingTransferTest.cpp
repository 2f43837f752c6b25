// Setting transfer by id: an exhaustive probe over every id of every family
// plus the documented edge cases of the transfer rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/config/SettingTransfer.h"
#include "core/config/SettingsRecord.h"

namespace core {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Text(const Bytes& b, int n) { return std::string(b.begin(), b.begin() + n); }

bool In(std::int32_t id, std::int32_t lo, std::int32_t hi) { return id >= lo && id <= hi; }

// Which ids exist, written from the documented lists of missing ids rather
// than from the tables.
bool Exists(SettingFamily family, std::int32_t id, bool forSet) {
  switch (family) {
    case SettingFamily::Config:
      if (id == 170 || id == 4096) return !forSet;
      return In(id, 0, 161) && id != 3 && !In(id, 7, 10) && id != 21;
    case SettingFamily::Account:
      return In(id, 0, 214) && !In(id, 6, 15) && id != 20 && id != 28 && id != 29 && id != 35 && id != 41 &&
             id != 56 && !In(id, 68, 79) && !In(id, 85, 111) && !In(id, 147, 159) && !In(id, 179, 191) &&
             !In(id, 200, 207);
    case SettingFamily::Domain: return In(id, 0, 25) && id != 2;
    case SettingFamily::RemoteAccount: return In(id, 224, 245);
  }
  return false;
}

constexpr SettingFamily Families[] = {SettingFamily::Config, SettingFamily::Account, SettingFamily::Domain,
                                      SettingFamily::RemoteAccount};

// Value bytes with no 0x00 and no 0xA5, so every stored byte differs from both fills.
constexpr std::uint8_t IntPattern[4] = {0x3B, 0xC6, 0x5D, 0x7E};
constexpr std::uint32_t IntValue = 0x7E5DC63Bu;

struct Probe {
  Bytes value;
  Bytes expectedGet;
  bool everyByteChanges = true;
};

Probe MakeProbe(const FieldDef& f, std::uint8_t fill) {
  Probe p;
  auto le = [](std::uint32_t v, std::size_t n) {
    Bytes b;
    for (std::size_t i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return b;
  };
  switch (f.kind) {
    case FieldKind::String:
    case FieldKind::Password:
    case FieldKind::TextHead:
    case FieldKind::TextTail: {
      for (std::uint32_t i = 0; i < f.width + 9; ++i) p.value.push_back(static_cast<std::uint8_t>('A' + i % 26));
      std::size_t kept = f.width;
      // Id 5 keeps the record's first part (the whole fill text) in front.
      if (f.kind == FieldKind::TextTail) {
        kept = f.width - 1 - (fill == 0 ? 0 : std::min<std::size_t>(fill, f.width));
        p.everyByteChanges = false;
      }
      p.expectedGet.assign(p.value.begin(), p.value.begin() + static_cast<std::ptrdiff_t>(kept));
      break;
    }
    case FieldKind::Bool:
      p.value = {0x5A};
      p.expectedGet = {0x5A};
      break;
    case FieldKind::Int: {
      p.value.assign(IntPattern, IntPattern + 4);
      const std::uint32_t mask = f.width == 4 ? 0xFFFFFFFFu : (1u << (8 * f.width)) - 1;
      p.expectedGet = le(IntValue & mask, 4);
      break;
    }
    case FieldKind::LowHalf:
    case FieldKind::HighHalf:
      p.value.assign(IntPattern, IntPattern + 4);
      p.expectedGet = le(IntValue & 0xFFFF, 4);
      break;
    case FieldKind::LowBits:
      p.value.assign(IntPattern, IntPattern + 4);
      p.expectedGet = le(IntValue & 3, 4);
      p.everyByteChanges = false;
      break;
    case FieldKind::HighBits:
      p.value.assign(IntPattern, IntPattern + 4);
      p.expectedGet = le(IntValue & 0x3F, 4);
      p.everyByteChanges = false;
      break;
    case FieldKind::SplitInt:
      p.value.assign(IntPattern, IntPattern + 4);
      p.expectedGet = le(IntValue, 4);
      break;
    case FieldKind::Block:
    case FieldKind::Date: {
      const std::uint32_t size = f.kind == FieldKind::Date ? 8 : f.width;
      for (std::uint32_t i = 0; i < size; ++i) p.value.push_back(static_cast<std::uint8_t>(i % 64 + 1));
      p.expectedGet = p.value;
      break;
    }
    default:
      break;
  }
  return p;
}

TEST(SettingProbe, EveryIdChangesExactlyItsFieldAndReadsBack) {
  std::vector<std::int32_t> ids;
  for (std::int32_t id = -3; id <= 300; ++id) ids.push_back(id);
  for (std::int32_t id : {4095, 4096, 4097, INT32_MIN, INT32_MAX}) ids.push_back(id);

  SettingsRecord settings{};
  settings[20849] = 1;  // show every stored password, so id 33 reads back
  const SettingContext ctx{"C:\\Server\\config\\", settings.data()};

  for (SettingFamily family : Families) {
    const std::size_t size = RecordSize(family);
    std::set<std::size_t> reached;
    for (std::int32_t id : ids) {
      SCOPED_TRACE("family " + std::to_string(static_cast<int>(family)) + " id " + std::to_string(id));
      Bytes record(size, 0xA5);
      Bytes out(4096, 0xEE);
      const Bytes value(16, 0x42);
      if (!Exists(family, id, false)) {
        EXPECT_EQ(GetSetting(family, id, record.data(), out.data(), 4096, ctx), -1);
        EXPECT_EQ(out, Bytes(4096, 0xEE));
      }
      if (!Exists(family, id, true)) {
        EXPECT_EQ(SetSetting(family, id, record.data(), value.data(), 16), -1);
        EXPECT_EQ(record, Bytes(size, 0xA5));
        continue;
      }
      const FieldDef* f = FindSettingField(family, id);
      ASSERT_NE(f, nullptr);
      for (std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0xA5}}) {
        Bytes before(size, fill);
        if (f->kind == FieldKind::Password) before[0] = 0;  // an ordinary account
        Bytes after = before;
        const Probe p = MakeProbe(*f, fill);
        ASSERT_EQ(SetSetting(family, id, after.data(), p.value.data(), static_cast<std::int32_t>(p.value.size())), 0);

        const Extent a = FirstExtent(*f);
        const Extent b = SecondExtent(*f);
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
        const int n = GetSetting(family, id, after.data(), out.data(), 4096, ctx);
        ASSERT_EQ(n, static_cast<int>(p.expectedGet.size()));
        EXPECT_EQ(Bytes(out.begin(), out.begin() + n), p.expectedGet);
      }
    }
    // Which bytes the ids reach, from the documented layouts.
    if (family == SettingFamily::Domain) {
      EXPECT_EQ(reached.size(), DomainRecordSize);
    }
    if (family == SettingFamily::RemoteAccount) {
      for (std::size_t i = 0; i < size; ++i) {
        const bool unreached = (i >= 256 && i <= 539) || (i >= 1246 && i <= 1269) || (i >= 1278 && i <= 1309) ||
                               i >= 1568;
        EXPECT_EQ(reached.count(i) == 0, unreached) << "remote-account byte " << i;
      }
    }
    if (family == SettingFamily::Account) {
      for (std::size_t i = 0; i < 516; ++i) {
        EXPECT_EQ(reached.count(i) == 0, i == 1) << "account byte " << i;
      }
    }
  }
}

// Rows checked by hand against the documented offsets and widths.
TEST(SettingProbe, HandCheckedRows) {
  SettingsRecord cfg{};
  const std::string long300(300, 'x');
  ASSERT_EQ(SetSetting(SettingFamily::Config, 154, cfg.data(), long300.data(), 300), 0);
  EXPECT_EQ(cfg[3385], 240);
  EXPECT_EQ(cfg[3385 + 240], 'x');
  EXPECT_EQ(cfg[3385 + 241], 0);
  ASSERT_EQ(SetSetting(SettingFamily::Config, 107, cfg.data(), long300.data(), 300), 0);
  EXPECT_EQ(cfg[3255], 125);
  EXPECT_EQ(cfg[3381], 0);
  const std::uint8_t v4[4] = {1, 2, 3, 4};
  ASSERT_EQ(SetSetting(SettingFamily::Config, 147, cfg.data(), v4, 4), 0);
  EXPECT_EQ(std::memcmp(cfg.data() + 7016, v4, 4), 0);

  Bytes acc(AccountRecordSize, 0);
  const std::uint8_t limit[4] = {0x07, 0x00, 0x05, 0x00};  // 0x00050007
  ASSERT_EQ(SetSetting(SettingFamily::Account, 58, acc.data(), limit, 4), 0);
  EXPECT_EQ(acc[1018], 5);
  EXPECT_EQ(acc[1024], 7);
  ASSERT_EQ(SetSetting(SettingFamily::Account, 27, acc.data(), v4, 4), 0);
  EXPECT_EQ(std::memcmp(acc.data() + 760, v4, 4), 0);

  Bytes dom(DomainRecordSize, 0);
  const double when = 45000.5;
  ASSERT_EQ(SetSetting(SettingFamily::Domain, 22, dom.data(), &when, 8), 0);
  EXPECT_EQ(std::memcmp(dom.data() + 899, &when, 8), 0);

  Bytes ra(RemoteAccountRecordSize, 0);
  ASSERT_EQ(SetSetting(SettingFamily::RemoteAccount, 241, ra.data(), v4, 2), 0);
  EXPECT_EQ(ra[1276], 1);
  EXPECT_EQ(ra[1277], 2);
}

class ConfigTransfer : public ::testing::Test {
 protected:
  SettingsRecord rec = BuiltInSettingsImage();
  Bytes out = Bytes(300, 0xEE);
  SettingContext ctx{};
  int Get(std::int32_t id, std::int32_t len) { return GetSetting(SettingFamily::Config, id, rec.data(), out.data(), len, ctx); }
  int Set(std::int32_t id, const void* v, std::int32_t len) { return SetSetting(SettingFamily::Config, id, rec.data(), v, len); }
};

TEST_F(ConfigTransfer, StringGetNeedsRoomAndSetTrimsAndCuts) {
  EXPECT_EQ(Get(73, 5), -3);
  EXPECT_EQ(out[0], 0xEE);
  ASSERT_EQ(Get(73, 13), 13);
  EXPECT_EQ(Text(out, 13), "MAILER-DAEMON");

  const std::string forty(40, 'q');
  ASSERT_EQ(Set(73, forty.data(), 40), 0);
  EXPECT_EQ(Get(73, 300), 31);

  const char padded[] = " \t\0 abc\0\r\n";
  ASSERT_EQ(Set(73, padded, sizeof padded), 0);
  ASSERT_EQ(Get(73, 300), 3);
  EXPECT_EQ(Text(out, 3), "abc");
  // No tail of the longer old text stays behind.
  for (std::size_t i = 1477 + 4; i < 1477 + 32; ++i) EXPECT_EQ(rec[i], 0) << i;

  rec[1477] = 200;  // damaged length byte
  EXPECT_EQ(Get(73, 300), 31);

  EXPECT_EQ(Set(73, nullptr, 0), 0);
  EXPECT_EQ(Get(73, 0), 0);
}

TEST_F(ConfigTransfer, IntegersTravelAsTheLowBytes) {
  const std::uint8_t zero2[2] = {0, 0};
  ASSERT_EQ(Set(31, zero2, 2), 0);
  ApplyLoadDefaults(rec.data());
  ASSERT_EQ(Get(31, 4), 4);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{143, 0, 0, 0}));
  out.assign(300, 0xEE);
  ASSERT_EQ(Get(31, 1), 1);
  EXPECT_EQ(out[0], 143);
  EXPECT_EQ(out[1], 0xEE);
  EXPECT_EQ(Get(31, 3), 3);
  EXPECT_EQ(Get(31, 0), -3);
  EXPECT_EQ(Get(31, -7), -3);

  const std::uint8_t big[4] = {0x10, 0x20, 0x30, 0x40};
  ASSERT_EQ(Set(31, big, 4), 0);  // cut to the 16-bit field
  EXPECT_EQ(rec[1038], 0x10);
  EXPECT_EQ(rec[1039], 0x20);
  EXPECT_EQ(rec[1040], 0x01);  // id 32 untouched (32001 = 0x7D01)
  ASSERT_EQ(Set(117, big, 1), 0);
  EXPECT_EQ(rec[3633], 0x10);
  ASSERT_EQ(Set(31, big, 0), 0);
  EXPECT_EQ(rec[1038], 0);
  EXPECT_EQ(rec[1039], 0);
  ASSERT_EQ(Set(29, big, -1), 0);  // a negative length counts as 0
  EXPECT_EQ(rec[1032], 0);
}

TEST_F(ConfigTransfer, BooleansFollowTheValueLength) {
  const std::uint8_t seven = 7;
  ASSERT_EQ(Set(15, &seven, 1), 0);
  ASSERT_EQ(Get(15, 1), 1);
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ(Get(15, 0), -3);

  const std::uint8_t word[4] = {0, 1, 0, 0};
  ASSERT_EQ(Set(15, word, 2), 0);
  EXPECT_EQ(rec[246], 1);
  ASSERT_EQ(Set(15, word, 1), 0);
  EXPECT_EQ(rec[246], 0);
  const std::uint8_t high[4] = {0, 0, 0, 9};
  ASSERT_EQ(Set(15, high, 4), 0);
  EXPECT_EQ(rec[246], 1);
  ASSERT_EQ(Set(15, high, 3), 0);  // first byte as it is
  EXPECT_EQ(rec[246], 0);
  rec[246] = 5;
  ASSERT_EQ(Set(15, nullptr, 0), 0);  // nothing passed: false
  EXPECT_EQ(rec[246], 0);
}

TEST_F(ConfigTransfer, BlocksCopyWhatFits) {
  const Bytes ten(10, 0x77);
  const SettingsRecord before = rec;
  ASSERT_EQ(Set(148, ten.data(), 10), 0);
  for (std::size_t i = 0; i < rec.size(); ++i) EXPECT_EQ(rec[i], i >= 4840 && i < 4850 ? 0x77 : before[i]) << i;
  Bytes big(2048, 0);
  EXPECT_EQ(GetSetting(SettingFamily::Config, 148, rec.data(), big.data(), 2047, ctx), -3);
  EXPECT_EQ(GetSetting(SettingFamily::Config, 148, rec.data(), big.data(), 2048, ctx), 2048);
  EXPECT_EQ(big[9], 0x77);
}

TEST_F(ConfigTransfer, ReadOnlyAndMissingIds) {
  ASSERT_EQ(Get(4096, 300), 11);
  EXPECT_EQ(Text(out, 11), "version.dll");
  EXPECT_EQ(Get(4096, 10), -3);
  EXPECT_EQ(Set(4096, "x", 1), -1);

  ctx.configFolder = "C:\\Mail\\config\\";
  ASSERT_EQ(Get(170, 300), 15);
  EXPECT_EQ(Text(out, 15), "C:\\Mail\\config\\");
  EXPECT_EQ(Get(170, 14), -3);
  const std::string longFolder(400, 'f');
  ctx.configFolder = longFolder;
  EXPECT_EQ(Get(170, 300), 255);
  EXPECT_EQ(Set(170, "x", 1), -1);

  const SettingsRecord before = rec;
  EXPECT_EQ(Set(7, "x", 1), -1);
  EXPECT_EQ(Get(7, 300), -1);
  EXPECT_EQ(rec, before);

  // Aliases are the same setting.
  ASSERT_EQ(Set(11, "mail.example", 12), 0);
  ASSERT_EQ(Get(0, 300), 12);
  EXPECT_EQ(Text(out, 12), "mail.example");
  ASSERT_EQ(Set(24, "x\\", 2), 0);
  EXPECT_EQ(Get(6, 300), 2);
}

TEST_F(ConfigTransfer, NullBufferWithLengthIsRefused) {
  const SettingsRecord before = rec;
  EXPECT_EQ(GetSetting(SettingFamily::Config, 31, rec.data(), nullptr, 4, ctx), -3);
  EXPECT_EQ(SetSetting(SettingFamily::Config, 31, rec.data(), nullptr, 4), -3);
  EXPECT_EQ(SetSetting(SettingFamily::Config, 73, rec.data(), nullptr, 13), -3);
  EXPECT_EQ(rec, before);
  EXPECT_EQ(GetSetting(SettingFamily::Config, 31, rec.data(), nullptr, 0, ctx), -3);
}

class AccountTransfer : public ::testing::Test {
 protected:
  Bytes rec = Bytes(AccountRecordSize, 0);
  Bytes out = Bytes(300, 0xEE);
  SettingsRecord settings{};
  SettingContext ctx{{}, settings.data()};
  int Get(std::int32_t id, std::int32_t len = 300) {
    return GetSetting(SettingFamily::Account, id, rec.data(), out.data(), len, ctx);
  }
  std::string GetText(std::int32_t id) {
    const int n = Get(id);
    return n < 0 ? "<" + std::to_string(n) + ">" : Text(out, n);
  }
  int Set(std::int32_t id, std::string_view v) {
    return SetSetting(SettingFamily::Account, id, rec.data(), v.data(), static_cast<std::int32_t>(v.size()));
  }
  int SetInt(std::int32_t id, std::uint32_t v) { return SetSetting(SettingFamily::Account, id, rec.data(), &v, 4); }
  std::uint32_t GetInt(std::int32_t id) {
    std::uint32_t v = 0;
    EXPECT_EQ(GetSetting(SettingFamily::Account, id, rec.data(), &v, 4, ctx), 4);
    return v;
  }
};

TEST_F(AccountTransfer, TwoPartTextOfIds2And5) {
  ASSERT_EQ(Set(2, "a;b;c"), 0);  // no second part yet: "a;"
  ASSERT_EQ(Set(5, "b;c"), 0);
  EXPECT_EQ(GetText(2), "a");
  EXPECT_EQ(GetText(5), "b;c");
  ASSERT_EQ(Set(2, "x;y"), 0);
  EXPECT_EQ(GetShortString(rec.data(), FieldRef{4, 254, FieldKind::String}), "x;b;c");

  SetShortString(rec.data(), FieldRef{4, 254, FieldKind::String}, "whole");
  EXPECT_EQ(GetText(2), "whole");
  EXPECT_EQ(GetText(5), "");
  SetShortString(rec.data(), FieldRef{4, 254, FieldKind::String}, "p;q;");
  EXPECT_EQ(GetText(5), "q");

  ASSERT_EQ(Set(5, std::string(300, 'z')), 0);  // cut to 254 in all
  EXPECT_EQ(rec[4], 254);
  EXPECT_EQ(GetText(2), "p");
}

TEST_F(AccountTransfer, SplitFields) {
  SetU32(rec.data(), FieldRef{660, 4, FieldKind::Int}, (1u << 16) | 5u);
  ASSERT_EQ(SetInt(65, 30), 0);
  EXPECT_EQ(GetInt(23), 5u);
  EXPECT_EQ(GetInt(65), 30u);
  ASSERT_EQ(SetInt(23, 0x12345678), 0);
  EXPECT_EQ(GetU32(rec.data(), FieldRef{660, 4, FieldKind::Int}), (30u << 16) | 0x5678u);

  rec[1293] = 0b10110100;
  ASSERT_EQ(SetInt(42, 7), 0);  // kept to two bits
  EXPECT_EQ(rec[1293], 0b10110111);
  EXPECT_EQ(GetInt(42), 3u);
  EXPECT_EQ(GetInt(66), 0b101101u);
  ASSERT_EQ(SetInt(66, 0xFF), 0);
  EXPECT_EQ(rec[1293], 0xFF);
  ASSERT_EQ(SetInt(66, 1), 0);
  EXPECT_EQ(rec[1293], 0b00000111);

  ASSERT_EQ(SetInt(58, 0x00030002), 0);
  EXPECT_EQ(GetInt(58), 0x00030002u);
  EXPECT_EQ(AccountNumberSendLimit(rec.data(), 0, false), 0x00030002u);
}

TEST_F(AccountTransfer, PasswordIsReadMasked) {
  ASSERT_EQ(Set(33, "secret"), 0);
  EXPECT_EQ(GetText(33), "secret");
  rec[0] = 1;  // not an ordinary user
  EXPECT_EQ(Get(33), 0);
  rec[0] = 0;
  settings[20848] = 1;
  EXPECT_EQ(GetText(33), "*");
  settings[20848] = 0;
  rec[1284] = 1;
  EXPECT_EQ(GetText(33), "*");
  settings[20849] = 1;
  EXPECT_EQ(GetText(33), "secret");
  ctx.settings = nullptr;
  EXPECT_EQ(GetText(33), "*");
  rec[1284] = 0;
  rec[1022] = 1;
  EXPECT_EQ(GetText(33), "*");

  ASSERT_EQ(Set(33, "longer-old-password"), 0);
  ASSERT_EQ(Set(33, "new"), 0);
  for (std::size_t i = 772 + 4; i < 772 + 128; ++i) EXPECT_EQ(rec[i], 0) << "old password byte at " << i;
}

TEST_F(AccountTransfer, TextsAndDates) {
  ASSERT_EQ(Set(3, "a@x;b@x"), 0);
  EXPECT_EQ(Get(3, 6), -3);
  EXPECT_EQ(Get(3, 7), 7);
  ASSERT_EQ(Set(16, std::string(200, 'm')), 0);
  EXPECT_EQ(Get(16), 127);
  EXPECT_EQ(Get(20), -1);
  EXPECT_EQ(Set(20, "x"), -1);

  const double day = 2.75;
  ASSERT_EQ(SetSetting(SettingFamily::Account, 19, rec.data(), &day, 8), 0);
  const Bytes before = rec;
  EXPECT_EQ(SetSetting(SettingFamily::Account, 19, rec.data(), &day, 4), -3);
  EXPECT_EQ(rec, before);
  double back = 0;
  EXPECT_EQ(GetSetting(SettingFamily::Account, 19, rec.data(), &back, 7, ctx), -3);
  ASSERT_EQ(GetSetting(SettingFamily::Account, 19, rec.data(), &back, 8, ctx), 8);
  EXPECT_EQ(back, 2.75);
}

TEST(RecordTransfer, DomainAndRemoteAccountLimits) {
  Bytes dom(DomainRecordSize, 0);
  Bytes out(300, 0);
  const std::string sixty(60, 'd');
  ASSERT_EQ(SetSetting(SettingFamily::Domain, 0, dom.data(), sixty.data(), 60), 0);
  EXPECT_EQ(GetSetting(SettingFamily::Domain, 0, dom.data(), out.data(), 300, {}), 56);
  EXPECT_EQ(GetSetting(SettingFamily::Domain, 2, dom.data(), out.data(), 300, {}), -1);
  Bytes ra(RemoteAccountRecordSize, 0);
  EXPECT_EQ(GetSetting(SettingFamily::RemoteAccount, 223, ra.data(), out.data(), 300, {}), -1);
  EXPECT_EQ(GetSetting(SettingFamily::RemoteAccount, 246, ra.data(), out.data(), 300, {}), -1);
}

}  // namespace
}  // namespace core
