// The domain table, its lookups and the domain records under Wine, against
// installations written by an independent script (older forms) and by hand.
#include "core/domains/DomainTable.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/config/ConfigStore.h"
#include "core/db/DbLibrary.h"
#include "core/domains/DomainBindings.h"
#include "core/domains/DomainRecords.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"
#include "core/platform/System.h"
#include "core/startup/ConfigLoad.h"
#include "core/util/LittleEndian.h"
#include "tests/support/installation.h"

namespace {

using namespace core;

using namespace testinst;

// A settings record of a current installation with count domains.
std::string SettingsBytes(std::uint32_t count, std::uint8_t punycode = 0, std::uint8_t literals = 0,
                          std::uint8_t storageMode = 1) {
  return SettingsFile(count)
      .U8(settings::PunycodeNames, punycode)
      .U8(settings::AddressLiterals, literals)
      .U8(settings::StorageMode, storageMode)
      .Scrambled();
}

std::string Entry(const std::string& name, const std::string& address = std::string(4, '\0')) {
  return DomainEntry(name).replace(entry::Address, 4, address);
}

class DomainTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CreateLockTable(true);
    InitPlatformUnit();
  }
  void TearDown() override {
    UnloadDBLibrary();
    SizeDomainCache(0);
  }
  // Installs the domains (names in table order) and loads the configuration.
  void Install(const std::string& domains, std::uint32_t count, std::uint8_t punycode = 0, std::uint8_t literals = 0) {
    WriteAll(config + "settings.cfg", SettingsBytes(count, punycode, literals));
    WriteAll(config + "domains.cfg", domains);
    ASSERT_TRUE(Load());
  }
  bool Load() { return install.Load(); }
  void Folder(const std::string& name) const { CreateDirectoryA((config + name).c_str(), nullptr); }

  testinst::Installation install{"domtest"};
  const std::string& root = install.root;
  const std::string& config = install.config;
};

TEST_F(DomainTest, OlderFormsLoadAndSaveAsTheIndependentWriterExpects) {
  const char* fixtures = std::getenv("VM_DOMAIN_FIXTURES");
  ASSERT_NE(fixtures, nullptr);
  for (const char* name : {"legacy-list", "legacy-full", "in-record", "layout32"}) {
    SCOPED_TRACE(name);
    const std::string from = HostPath(fixtures) + "\\" + name + "\\";
    for (const char* file : {"settings.cfg", "domains.cfg"})
      CopyFileA((from + "config\\" + file).c_str(), (config + file).c_str(), FALSE);
    DeleteFileA((config + "domains.cfg").c_str());
    if (std::string(name) == "layout32")
      CopyFileA((from + "config\\domains.cfg").c_str(), (config + "domains.cfg").c_str(), FALSE);
    ASSERT_TRUE(Load());
    // Where the old list lay, the settings are the built-in ones, not bytes of domain names.
    if (std::string(name).rfind("legacy", 0) == 0) {
      EXPECT_EQ(LoadLE<std::uint32_t>(Settings().data() + settings::LockoutThreshold), 5u);
      EXPECT_EQ(LoadLE<std::uint32_t>(Settings().data() + settings::LockoutMinutes), 10u);
      EXPECT_EQ(Settings()[20445], 0);
      EXPECT_EQ(Settings()[SettingsSize - 1], 0);
    }
    ASSERT_TRUE(SaveServerConfig());
    EXPECT_EQ(ReadAll(config + "domains.cfg"), ReadAll(from + "expected-domains.cfg"));
    EXPECT_EQ(Settings()[settings::DomainLayout], 1);
    DeleteFileA((config + "domains.cfg").c_str());
  }
}

TEST_F(DomainTest, ADamagedDomainsFileNeverEmptiesTheTable) {
  Install(Entry("a.test") + std::string(10, 'x'), 3);
  EXPECT_EQ(CountDomains(), 3u);  // short file: the count stays, missing entries empty
  EXPECT_EQ(DomainListGetName(0), "a.test");
  Install("", 2);
  EXPECT_EQ(CountDomains(), 2u);
  EXPECT_EQ(DomainListGetName(0), "");
}

TEST_F(DomainTest, FindAddRenameDeleteAndTheirBindings) {
  Install(Entry("a.test") + Entry("b.test", std::string("\xC0\x00\x02\x05", 4)) + Entry("c.test") + Entry("d.test"), 4);
  EXPECT_EQ(DomainListFind("C.TEST"), 2);
  EXPECT_EQ(DomainListFind("nowhere.test"), -1);
  EXPECT_EQ(DomainListFind("nowhere.test", false), 0);
  EXPECT_TRUE(DomainListExists("Someone <x@D.Test>"));
  EXPECT_FALSE(DomainListExists(""));

  for (const char* name : {"b.test", "c.test", "d.test"})
    Folder(name);
  WriteDomainBind(2, "198.51.100.7", false);
  WriteDomainBind(3, "198.51.100.9", false);
  ASSERT_TRUE(DomainListDelete(1));
  EXPECT_EQ(CountDomains(), 3u);
  EXPECT_EQ(DomainListFind("d.test"), 2);
  EXPECT_EQ(DomainListGetName(1), "c.test");
  EXPECT_EQ(ReadDomainBind(1), "198.51.100.7");
  EXPECT_EQ(ReadDomainBind(2), "198.51.100.9");
  EXPECT_EQ(DomainListGetIP(2), "255.255.255.255");
  EXPECT_FALSE(DomainListDelete(3));
  ASSERT_TRUE(SaveServerConfig());  // the three left, in order, their bindings in "bind.dat"
  const std::string marker(4, '\xFF');
  EXPECT_EQ(ReadAll(config + "domains.cfg"), Entry("a.test") + Entry("c.test", marker) + Entry("d.test", marker));

  ASSERT_TRUE(DomainListAdd(std::string(100, 'N')));
  EXPECT_EQ(DomainListGetName(3), std::string(91, 'n'));
  EXPECT_EQ(DomainListGetIP(3), "");
  EXPECT_TRUE(DomainListRename(0, "Renamed.TEST"));
  EXPECT_EQ(DomainListGetName(0), "renamed.test");
  EXPECT_FALSE(DomainListRename(9, "x.test"));
}

TEST_F(DomainTest, PunycodeLabelsOnlyWhenOnAndOnlyWithExactCharacters) {
  Install(Entry("b\xFC"
                "cher.test") +
              Entry("\xFC\xFC\xFC.test") + Entry("ab.test"),
          3, 1);
  EXPECT_EQ(DomainListFind("xn--bcher-kva.test"), 0);  // RFC 3492 style label
  EXPECT_EQ(DomainListFind("XN--TDAAA.test"), 1);
  // A full-width dot or backslash has no exact 8-bit form: never "." or "\".
  std::string name = "xn--ab-yu3n.test";
  EXPECT_FALSE(DecodeIDNName(name));
  EXPECT_EQ(name, "xn--ab-yu3n.test");
  name = "xn--ab-wy3n.test";
  EXPECT_FALSE(DecodeIDNName(name));
  name = "xn--egbpdaj6bu4bxfgehfvwxn.test";  // Arabic sample: no 8-bit form either
  EXPECT_FALSE(DecodeIDNName(name));
  name = "xn--";  // four characters: never decoded
  EXPECT_FALSE(DecodeIDNName(name));

  Install(Entry("b\xFC"
                "cher.test"),
          1, 0);
  EXPECT_EQ(DomainListFind("xn--bcher-kva.test"), -1);
}

TEST_F(DomainTest, AddressLiteralsByBindingOrByThisMachinesAddresses) {
  Install(Entry("a.test") + Entry("b.test"), 2, 0, 1);
  const std::string local = GetLocalIPAddresses();
  const std::string first = local.substr(0, local.find(';'));
  if (!first.empty()) {
    EXPECT_EQ(DomainListFind("[" + first + "]"), 0);  // no bindings: this machine's address is domain 0
  }
  EXPECT_EQ(DomainListFind("[203.0.113.77]"), -1);

  Folder("a.test");
  Folder("b.test");
  WriteDomainBind(0, "192.0.2.4", false);
  WriteDomainBind(1, "192.0.2.5;192.0.2.6", false);
  ForgetDomainBindingAnswer();
  std::string name = "[192.0.2.6]";
  EXPECT_EQ(ResolveIPLiteralDomain(name), 1);
  EXPECT_EQ(name, "b.test");
  EXPECT_EQ(DomainListFind("[192.0.2.4]"), 0);
  Install(Entry("a.test"), 1, 0, 0);
  EXPECT_EQ(DomainListFind("[192.0.2.4]"), -1);  // literals off
}

TEST_F(DomainTest, SubdomainAliasesWildcardsSelfMapsCyclesAndUnservedTargets) {
  WriteAll(config + "subdomains.dat",
           "# aliases\nmail.a.test = a.test\n*.b.test=b.test\nself.test=self.test\n"
           "x.test=y.test\ny.test=x.test\nlost.test=unserved.test\nhop.test=mail.a.test\n");
  Install(Entry("a.test") + Entry("b.test"), 2);
  EXPECT_EQ(DomainListFind("MAIL.A.TEST"), 0);
  EXPECT_EQ(DomainListFind("deep.sub.b.test"), 1);
  EXPECT_EQ(DomainListFind("hop.test"), 0);
  EXPECT_EQ(DomainListFind("self.test"), -1);
  EXPECT_EQ(DomainListFind("x.test"), -1);  // a cycle ends
  EXPECT_EQ(DomainListFind("lost.test"), -1);
  EXPECT_EQ(DomainListFind("lost.test", false), 0);  // only the caller's own leniency
}

// The parsed lines are kept between lookups only while the file keeps its
// write time and size: a change of either is read at the next lookup.
TEST_F(DomainTest, AChangedSubdomainFileIsReadAgain) {
  const std::string file = config + "subdomains.dat";
  WriteAll(file, "alias.test=a.test\n");
  Install(Entry("a.test") + Entry("b.test") + Entry("cc.test"), 3);
  const auto setTime = [&file](std::uint64_t time) {
    HANDLE handle =
        CreateFileA(file.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    FILETIME stamp{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    EXPECT_TRUE(SetFileTime(handle, nullptr, nullptr, &stamp));
    CloseHandle(handle);
  };
  const std::uint64_t start = GetFileTimeSize(file).writeTime;
  const struct {
    const char* what;
    const char* text;
    std::uint64_t time;
    int expected;
  } rows[] = {
      {"first read", "alias.test=a.test\n", start, 0},
      {"same size, new time", "alias.test=b.test\n", start + 10000000, 1},
      {"same time, new size", "alias.test=cc.test\n", start + 10000000, 2},
      {"unchanged", "alias.test=cc.test\n", start + 10000000, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    WriteAll(file, row.text);
    setTime(row.time);
    std::string name = "alias.test";
    EXPECT_EQ(DomainListIndexOf(name, true), row.expected);
  }
  DeleteFileA(file.c_str());
  std::string name = "alias.test";
  EXPECT_EQ(DomainListIndexOf(name, true), -1);  // gone: no alias, whatever was read before
}

TEST_F(DomainTest, RecordsRenameAndDeleteKeepFoldersSafe) {
  WriteAll(config + "subdomains.dat", "alias.test=a.test\n");
  Install(Entry("a.test") + Entry("b.test") + Entry("con.test"), 3);
  DomainRecordBytes record{}, read{};
  record[0] = 6;
  record[domain::Last] = 0x7F;
  ASSERT_TRUE(WriteDomainRecord(record, 0));
  EXPECT_EQ(record[0], 6);  // the caller's record is never left scrambled
  ASSERT_TRUE(LoadDomainConfig("ALIAS.test", read, false));
  EXPECT_EQ(read, record);
  const std::string stored = ReadAll(config + "a.test\\domain.cfg");
  ASSERT_EQ(stored.size(), DomainSize);
  EXPECT_EQ(static_cast<std::uint8_t>(stored[domain::Last]), 0x7F ^ Key[domain::Last % 16]);
  EXPECT_FALSE(WriteDomainRecord(record, 2));  // a device name is no folder
  EXPECT_FALSE(AddDomainRecord(".."));
  EXPECT_FALSE(AddDomainRecord("a\\b.test"));

  ASSERT_TRUE(WriteDomainRecord(record, 1));
  EXPECT_FALSE(RenameDomainRecord("alias.test", "b.test"));  // onto an existing folder: nothing changes
  EXPECT_EQ(DomainListGetName(0), "a.test");
  EXPECT_TRUE(FileExists(config + "a.test\\domain.cfg"));
  EXPECT_TRUE(RenameDomainRecord("a.test", "a.test"));
  ASSERT_TRUE(RenameDomainRecord("alias.test", "New.test"));
  EXPECT_EQ(DomainListGetName(0), "new.test");
  EXPECT_TRUE(FileExists(config + "new.test\\domain.cfg"));
  EXPECT_FALSE(FileExists(config + "a.test"));

  WriteAll(config + "b.test\\users.cfg", "u");
  WriteAll(config + "b.test\\bind.dat", "192.0.2.1\r\n");
  EXPECT_TRUE(DeleteDomainRecord(1));
  EXPECT_FALSE(FileExists(config + "b.test\\domain.cfg"));
  EXPECT_FALSE(FileExists(config + "b.test\\users.cfg"));
  EXPECT_TRUE(FileExists(config + "b.test\\bind.dat"));  // the folder stays with what else it holds
  EXPECT_TRUE(UnlistDomain(1));
  EXPECT_EQ(CountDomains(), 2u);
}

TEST_F(DomainTest, TheCacheSeesARewriteWithinTheSameTwoSeconds) {
  Install(Entry("a.test"), 1);
  SizeDomainCache(4);
  DomainRecordBytes record{}, read{};
  record[10] = 1;
  ASSERT_TRUE(WriteDomainRecord(record, 0));
  ASSERT_TRUE(ReadDomainRecord(read, 0));
  EXPECT_EQ(read[10], 1);
  record[10] = 2;  // same size, rewritten at once
  ASSERT_TRUE(WriteDomainRecord(record, 0));
  ASSERT_TRUE(ReadDomainRecord(read, 0));
  EXPECT_EQ(read[10], 2);
  DomainRecordBytes fast{};
  ASSERT_TRUE(LoadDomainConfig("a.test", fast, true, true));  // fast mode trusts a fresh entry
  EXPECT_EQ(fast[10], 2);
  record[10] = 3;
  ASSERT_TRUE(WriteDomainRecord(record, 0));
  SizeDomainCache(4);  // the same size again: every entry emptied all the same
  ASSERT_TRUE(LoadDomainConfig("a.test", fast, true, true));
  EXPECT_EQ(fast[10], 3);
}

// A lookup that raced a change of the table must not be remembered: its
// index may name another domain by then.
TEST_F(DomainTest, ALookupThatRacedAChangeIsNotRemembered) {
  Install(Entry("a.test") + Entry("b.test"), 2);
  int index = -1;
  const std::uint64_t before = DomainTableChanges();
  ASSERT_TRUE(DomainListDelete(0));  // b.test moves from 1 to 0
  RememberLastLookup("b.test", 1, before);
  EXPECT_FALSE(RecallLastLookup("b.test", index));
  EXPECT_EQ(DomainListFind("b.test"), 0);
  EXPECT_TRUE(RecallLastLookup("b.test", index));
  EXPECT_EQ(index, 0);
}

// Lookups take no lock: while one thread renames, adds and deletes, the
// others still find every unmoved domain at its place, a renamed or added
// one at its place or nowhere, and after the changes each answer is the
// table's own.
TEST_F(DomainTest, LookupsWithoutTheLockAgreeWithTheTableWhileItChanges) {
  std::string domains;
  for (int i = 0; i < 200; ++i)
    domains += Entry("d" + std::to_string(i) + ".test");
  Install(domains, 200);
  std::atomic<bool> stop{false};
  std::atomic<long> bad{0}, found{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&, r] {
      for (long i = 0; !stop.load(); ++i) {
        const int d = static_cast<int>((i * 7 + r) % 199) + 1;
        if (DomainListFind("D" + std::to_string(d) + ".Test") != d) ++bad;
        const int renamed = DomainListFind(i % 2 == 0 ? "a.test" : "b.test");
        const int added = DomainListFind("x.test");
        if (renamed != 0 && renamed != -1) ++bad;
        if (added != 200 && added != -1) ++bad;
        ++found;
      }
    });
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  // At least 300 rounds, and on until the readers looked often meanwhile.
  for (int i = 0; (i < 300 || found.load() < 3000) && std::chrono::steady_clock::now() < until; ++i) {
    DomainListRename(0, i % 2 == 0 ? "a.test" : "b.test");
    DomainListAdd("x.test");
    DomainListDelete(200);
  }
  stop = true;
  for (auto& t : readers)
    t.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(found.load(), 0);
  for (const char* name : {"a.test", "b.test", "x.test", "d0.test", "d1.test", "d199.test"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(DomainListFind(name), DomainListExactIndex(name));
  }
}

// Storage mode 2 against the test stand-in and against the real back end
// (SQLite in "mail.db" of the configuration folder); the back end is filled
// and made to refuse through its own entry points only.
class DomainBackEndTest : public DomainTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(DomainBackEndTest, StorageModeTwoGoesThroughTheBackEnd) {
  CopyFileA(HostPath(GetParam()).c_str(), (root + "DB.dll").c_str(), FALSE);
  std::string settings = SettingsBytes(1, 0, 0, 2);
  WriteAll(config + "settings.cfg", settings);
  WriteAll(config + "domains.cfg", Entry("file.test"));
  ASSERT_TRUE(Load());
  HMODULE db = GetModuleHandleA((root + "DB.dll").c_str());
  ASSERT_NE(db, nullptr);
  const auto entry = [db](const char* name) { return reinterpret_cast<void*>(GetProcAddress(db, name)); };
  const auto add = reinterpret_cast<DBAddDomainProc>(entry("DBAddDomain"));
  const auto remove = reinterpret_cast<DBDeleteDomainProc>(entry("DBDeleteDomain"));
  ASSERT_EQ(add("One.test"), 1);
  ASSERT_EQ(add("two.test"), 1);
  EXPECT_EQ(CountDomains(), 2u);  // the pending reload replaces the file's table
  EXPECT_EQ(DomainListGetName(0), "one.test");

  DomainRecordBytes record{}, read{};
  record[5] = 9;
  ASSERT_TRUE(WriteDomainRecord(record, 1));
  ASSERT_TRUE(LoadDomainConfig("two.test", read, false));
  EXPECT_EQ(read[5], 9);
  ASSERT_EQ(remove("two.test"), 1);            // gone behind the table's back: the back end refuses
  EXPECT_FALSE(WriteDomainRecord(record, 1));  // the back end's answer, whatever the mirror did
  ASSERT_EQ(add("two.test"), 1);
  EXPECT_TRUE(AddDomainRecord("three.test"));
  ASSERT_TRUE(RenameDomainRecord("two.test", "deux.test"));
  EXPECT_EQ(DomainListGetName(1), "deux.test");
  ASSERT_TRUE(AddDomainRecord("zwei.test"));
  EXPECT_FALSE(RenameDomainRecord("deux.test", "zwei.test"));  // the back end has that name
  EXPECT_EQ(DomainListGetName(1), "deux.test");
  EXPECT_TRUE(FileExists(config + "deux.test\\domain.cfg"));  // the folder went back
}

INSTANTIATE_TEST_SUITE_P(BackEnds, DomainBackEndTest, ::testing::Values(DB_STANDIN_PATH, DB_BACKEND_PATH));

}  // namespace
