// The table's entries and the older forms, on bytes written out here.
#include "core/domains/DomainEntries.h"
#include "core/domains/LastLookup.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/records.h"

namespace core {
namespace {

using records::DomainEntry;

TEST(DomainEntries, LoadClampsLowerCasesAndKeepsTheCount) {
  std::string longName = DomainEntry(std::string(95, 'x'));
  longName[records::entry::Name] = static_cast<char>(200);
  const std::string source = DomainEntry("A.Test", records::Dotted(10, 0, 0, 1)) + longName;
  DomainEntries e = LoadDomainEntries(3, source, false);
  ASSERT_EQ(e.Allocated(), 3u);
  EXPECT_EQ(e.Name(0), "a.test");
  EXPECT_EQ(e.Address(0), 0x0A000001u);
  EXPECT_EQ(e.Name(1).size(), 91u);  // a length byte above 91 never reaches the address
  EXPECT_EQ(e.Name(2), "");          // beyond the file: empty
  EXPECT_EQ(LoadDomainEntries(0, source, false).Allocated(), 0u);
  EXPECT_EQ(BoundedDomainCount(0x80000000u), 0u);
  EXPECT_EQ(BoundedDomainCount(5000000u), MaxDomainEntries);

  EXPECT_EQ(LoadDomainEntries(1, records::Scrambled(DomainEntry("legacy.test"), 8), true).Name(0), "legacy.test");
}

TEST(DomainEntries, AddRemoveAndFind) {
  DomainEntries e;
  e.Add("One.test", 1);
  e.Add("two.test", 1);
  e.Add("", 5);  // only allocates: count + grow
  EXPECT_EQ(e.count, 2u);
  EXPECT_EQ(e.Allocated(), 7u);
  e.SetAddress(1, 0xC0000205u);
  e.Add("three.test", 1);
  EXPECT_EQ(e.IndexOf("one.test"), 0);
  EXPECT_EQ(e.IndexOf("ONE.test"), -1);  // callers lower-case
  ASSERT_TRUE(e.Remove(0));
  EXPECT_EQ(e.Name(0), "two.test");
  EXPECT_EQ(e.Address(0), 0xC0000205u);  // the address moves with its name
  EXPECT_EQ(e.IndexOf("three.test"), 1);
  EXPECT_FALSE(e.Remove(2));
  EXPECT_EQ(DottedAddress(0xC0000205u), "192.0.2.5");
  EXPECT_EQ(AddressFromText(" 192.0.2.5 "), 0xC0000205u);
  EXPECT_EQ(AddressFromText("192.0.2"), 0u);
}

// The index by name answers as a scan of the live entries would, after
// each operation the table makes; each row also names one answer written out.
TEST(DomainEntries, TheIndexAgreesWithAScanAfterEveryOperation) {
  std::vector<std::uint8_t> settings(20864, 0);
  settings[7001] = 1;
  DomainEntries e;
  const auto scan = [&e](std::string_view name) {
    for (std::size_t i = 0; !name.empty() && i < e.Live(); ++i) {
      if (e.Name(i) == name) return static_cast<int>(i);
    }
    return -1;
  };
  std::string many;
  for (int i = 0; i < 300; ++i)
    many += DomainEntry("n" + std::to_string(i) + ".test");
  std::string shortEntries;
  for (const std::string name : {"s.test", "a.test", "s.test"}) {
    std::string entry(32, '\0');
    entry[0] = static_cast<char>(name.size());
    entry.replace(1, name.size(), name);
    shortEntries += entry;
  }
  struct Step {
    const char* what;
    std::function<void()> apply;
    std::string probe;
    int expected;
  };
  const Step steps[] = {
      {"load with a duplicate",
       [&] { e = LoadDomainEntries(4, DomainEntry("a.test") + DomainEntry("B.test") + DomainEntry("a.test"), false); },
       "a.test", 0},
      {"add", [&] { e.Add("C.test", 1); }, "c.test", 4},
      {"add a duplicate", [&] { e.Add("b.test", 1); }, "b.test", 1},
      {"rename the first of two", [&] { e.SetEntry(0, "d.test", 0); }, "a.test", 2},
      {"rename onto a later name", [&] { e.SetEntry(5, "a.test", 0); }, "a.test", 2},
      {"rename the only one", [&] { e.SetEntry(4, "e.test", 0); }, "c.test", -1},
      {"delete before", [&] { ASSERT_TRUE(e.Remove(0)); }, "a.test", 1},
      {"delete the first of two", [&] { ASSERT_TRUE(e.Remove(1)); }, "a.test", 3},
      {"count below an entry", [&] { e.count = 3; }, "a.test", -1},
      {"add over a stale entry", [&] { e.Add("f.test", 1); }, "a.test", -1},
      {"shrink below named entries",
       [&] {
         e.count = 2;
         e.Add("", 0);
       },
       "f.test", -1},
      {"allocate", [&] { e.Add("", 5); }, "b.test", 0},
      {"many adds",
       [&] {
         for (int i = 0; i < 300; ++i)
           e.Add("m" + std::to_string(i) + ".test", 1);
       },
       "m299.test", 301},
      {"load many", [&] { e = LoadDomainEntries(300, many, false); }, "n299.test", 299},
      {"migrate the 32-byte layout",
       [&] {
         settings[7001] = 0;
         e = LoadDomainEntries(3, shortEntries, false);
         MigrateDomainEntries(e, settings.data(), false);
       },
       "s.test", 0},
      {"delete the last", [&] { ASSERT_TRUE(e.Remove(2)); }, "s.test", 0},
      {"a 91-character cut", [&] { e.Add(std::string(95, 'L'), 1); }, std::string(91, 'l'), 2},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.apply();
    EXPECT_EQ(e.IndexOf(step.probe), step.expected);
    std::vector<std::string> probes = {"a.test", "b.test", "c.test",  "d.test", "e.test",
                                       "f.test", "s.test", "zz.test", "",       std::string(91, 'l')};
    for (std::size_t i = 0; i < e.Allocated(); ++i)
      probes.emplace_back(e.Name(i));
    for (const std::string& name : probes)
      EXPECT_EQ(e.IndexOf(name), scan(name)) << name;
  }
}

TEST(DomainEntries, OlderFormsConvertOnlyFromTheirOwnSources) {
  using namespace records::settings;
  records::Record settings(records::SettingsSize);
  settings.Text(OldDomainTable, "first.test").Text(OldDomainTable + 128, "Second.test");
  // A current "domains.cfg" that lost its data: never replaced, count kept.
  settings.U8(DomainLayout, 1);
  DomainEntries damaged = LoadDomainEntries(2, "", false);
  MigrateDomainEntries(damaged, settings.data(), false);
  EXPECT_EQ(damaged.count, 2u);
  EXPECT_EQ(damaged.Name(0), "");
  // The old place inside "settings.cfg", no first name: the in-record table.
  settings.U8(DomainLayout, 0);
  DomainEntries oldest = LoadDomainEntries(2, "", true);
  MigrateDomainEntries(oldest, settings.data(), true);
  EXPECT_EQ(oldest.count, 2u);
  EXPECT_EQ(oldest.Name(1), "second.test");
  EXPECT_EQ(settings.ReadU8(DomainLayout), 1u);

  // The 32-byte layout: names move to their 96-byte places, addresses 0.
  std::string shortEntries;
  for (const std::string name : {"a.test", "bb.test", "ccc.test"}) {
    std::string e(32, '\0');
    e[0] = static_cast<char>(name.size());
    e.replace(1, name.size(), name);
    shortEntries += e;
  }
  settings.U8(DomainLayout, 0);
  DomainEntries layout = LoadDomainEntries(3, shortEntries, false);
  MigrateDomainEntries(layout, settings.data(), false);
  EXPECT_EQ(layout.Name(0), "a.test");
  EXPECT_EQ(layout.Name(1), "bb.test");
  EXPECT_EQ(layout.Name(2), "ccc.test");
  EXPECT_EQ(layout.Address(0), 0u);
}

// The remembered pair: a change between a look and its remembering keeps
// the pair from being written; names past the inline words compare whole.
TEST(LastLookup, RememberedOnlyWhileNothingChangedSinceTheLook) {
  LastLookup last;
  LastLookup::Seen seen = last.Recall("a.test");
  EXPECT_FALSE(seen.matched);
  EXPECT_TRUE(last.TryRemember(seen.version, "a.test", 3));
  EXPECT_FALSE(last.TryRemember(seen.version, "b.test", 4));  // the pair changed since that look
  EXPECT_EQ(last.Recall("a.test").index, 3);
  EXPECT_FALSE(last.Recall("a.tes").matched);
  EXPECT_FALSE(last.Recall("a.test.").matched);
  EXPECT_FALSE(last.Recall("b.test").matched);

  const std::uint64_t forgets = last.Forgets();
  seen = last.Recall("x");
  last.Forget();
  EXPECT_FALSE(last.Recall("a.test").matched);
  EXPECT_FALSE(last.TryRemember(seen.version, "b.test", 4));
  EXPECT_FALSE(last.RememberUnlessForgotten(forgets, "b.test", 4));
  EXPECT_TRUE(last.RememberUnlessForgotten(last.Forgets(), "b.test", 4));
  EXPECT_EQ(last.Recall("b.test").index, 4);

  // The held form: recall, else the look, remembered in the same hold.
  int index = -1, looks = 0;
  auto look = [&](int found) {
    return [&looks, found](int& out) {
      ++looks;
      out = found;
      return found != -2;
    };
  };
  EXPECT_TRUE(last.RecallOrLook("b.test", look(9), index));
  EXPECT_EQ(index, 4);  // remembered: no look
  EXPECT_EQ(looks, 0);
  const std::uint64_t before = last.Recall("c.test").version;
  EXPECT_FALSE(last.RecallOrLook("c.test", look(-2), index));  // cannot answer: nothing written
  EXPECT_TRUE(last.Unchanged(before));
  EXPECT_TRUE(last.RecallOrLook("c.test", look(-1), index));
  EXPECT_EQ(index, -1);
  EXPECT_TRUE(last.Unchanged(before));  // not found: not remembered
  EXPECT_TRUE(last.RecallOrLook("c.test", look(5), index));
  EXPECT_EQ(last.Recall("c.test").index, 5);
  EXPECT_EQ(looks, 3);

  const std::string longName(300, 'q');
  EXPECT_TRUE(last.RememberUnlessForgotten(last.Forgets(), longName, 7));
  EXPECT_EQ(last.Recall(longName).index, 7);
  EXPECT_FALSE(last.Recall(std::string(299, 'q') + 'r').matched);
  EXPECT_FALSE(last.Recall(std::string(256, 'q')).matched);
  EXPECT_TRUE(last.RememberUnlessForgotten(last.Forgets(), "", 0));
  EXPECT_EQ(last.Recall("").index, 0);
}

}  // namespace
}  // namespace core
