#include "core/startup/ConfigLoad.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/accounts/AccountCache.h"
#include "core/accounts/RecordCaches.h"
#include "core/antispam/AntiSpamSettings.h"
#include "core/config/ConfigStore.h"
#include "core/db/DbLibrary.h"
#include "core/domains/AddressChecks.h"
#include "core/domains/DomainBindings.h"
#include "core/domains/DomainTable.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"
#include "tests/support/db_standin/StandinControl.h"

namespace {

using namespace core;

// Offsets are written out as numbers and the scrambling is done here, so the
// store is checked against bytes it did not produce.
const std::uint8_t kKey[16] = {0x3C, 0x91, 0xE0, 0x7A, 0x55, 0xD2, 0x18, 0x8B,
                               0xF4, 0x6A, 0x0D, 0x27, 0xC3, 0xB9, 0xE1, 0x50};
constexpr std::size_t kRecordSize = 20864;

std::string Xor(std::string bytes, std::size_t start) {
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(bytes[i] ^ kKey[(start + i) % 16]);
  return bytes;
}

// A settings record of a current installation: the domain table is in its
// 96-byte layout (byte 7,001).
struct Record {
  std::string bytes = std::string(kRecordSize, '\0');
  Record() { bytes[7001] = 1; }
  Record& u8(std::size_t at, std::uint8_t v) {
    bytes[at] = static_cast<char>(v);
    return *this;
  }
  Record& u16(std::size_t at, std::uint16_t v) { return u8(at, v & 0xFF).u8(at + 1, v >> 8); }
  Record& u32(std::size_t at, std::uint32_t v) { return u16(at, v & 0xFFFF).u16(at + 2, v >> 16); }
  Record& text(std::size_t at, const std::string& s) {
    bytes.replace(at + 1, s.size(), s);
    return u8(at, static_cast<std::uint8_t>(s.size()));
  }
};

// A domain table entry: name, then the bound address in its last four bytes.
std::string Entry(const std::string& name, std::uint8_t a = 0, std::uint8_t b = 0, std::uint8_t c = 0,
                  std::uint8_t d = 0) {
  std::string e(96, '\0');
  e[0] = static_cast<char>(name.size());
  e.replace(1, name.size(), name);
  e.replace(92, 4, {static_cast<char>(a), static_cast<char>(b), static_cast<char>(c), static_cast<char>(d)});
  return e;
}

std::string ReadAll(const std::string& name) {
  std::string data;
  ReadFileToString(name, false, data);
  return data;
}
void WriteAll(const std::string& name, const std::string& data) {
  std::ofstream(name, std::ios::binary | std::ios::trunc) << data;
}

std::uint8_t At(std::size_t o) { return Settings()[o]; }
std::uint32_t U32At(std::size_t o) {
  return At(o) | At(o + 1) << 8 | At(o + 2) << 16 | static_cast<std::uint32_t>(At(o + 3)) << 24;
}
std::string TextAt(std::size_t o) { return std::string(reinterpret_cast<const char*>(&Settings()[o + 1]), At(o)); }

// Each test gets a fresh installation folder with its "config\" folder.
class ConfigLoadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { CreateLockTable(true); }
  void SetUp() override {
    static int serial = 0;
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    root = std::string(temp) + "storetest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial) +
           "\\";
    config = root + "config\\";
    CreateDirectoryA(root.c_str(), nullptr);
    CreateDirectoryA(config.c_str(), nullptr);
  }
  void TearDown() override { DeleteDirectory(root, "*.*", true); }

  void settings(const Record& r, std::size_t length = kRecordSize) const {
    WriteAll(config + "settings.cfg", Xor(r.bytes.substr(0, length), 0));
  }
  void file(const std::string& name, const std::string& text) const { WriteAll(config + name, text); }
  // What Init does: folders, path overrides, then the load.
  bool load(bool missingIsFailure = true) const {
    SetRootFolder(root);
    SetConfigFolder(config);
    ReadPathConfig(root);
    return InitServerConfig(missingIsFailure, false);
  }

  std::string root;
  std::string config;
};

TEST_F(ConfigLoadTest, ShortFileKeepsTheTailOfTheImageAndOfThePreviousLoad) {
  ASSERT_FALSE(load());  // no file: the built-in image
  ASSERT_EQ(Settings(), BuiltInSettingsImage());
  Record r;
  for (std::size_t i = 20000; i < kRecordSize; ++i)
    r.u8(i, 0xA5);
  settings(r.text(3127, "short"), 20000);
  ASSERT_TRUE(load());
  EXPECT_EQ(TextAt(3127), "short");
  for (std::size_t i = 20000; i < kRecordSize; ++i)
    ASSERT_EQ(At(i), BuiltInSettingsImage()[i]) << i;

  settings(r);
  ASSERT_TRUE(load());
  settings(r.text(3127, "again"), 20000);
  ASSERT_TRUE(load());
  EXPECT_EQ(TextAt(3127), "again");
  for (std::size_t i = 20000; i < kRecordSize; ++i)
    ASSERT_EQ(At(i), 0xA5) << i;
}

TEST_F(ConfigLoadTest, ClampsAndDefaultsAreLoadedAndSaved) {
  Record r;
  r.u32(2870, 1001).u32(2874, 1000).u32(2878, 5242881).u16(242, 77).u8(1464, 1).u8(1444, 1);
  settings(r.text(1477, "postmaster"));
  ASSERT_TRUE(load());
  using U32s = std::vector<std::uint32_t>;
  EXPECT_EQ((U32s{U32At(2870), U32At(2874), U32At(2878)}), (U32s{0, 1000, 0}));
  EXPECT_EQ(At(1038) | At(1039) << 8, 143);  // 0 takes the default
  EXPECT_EQ(At(242) | At(243) << 8, 77);     // a set value stays
  EXPECT_EQ(TextAt(1477), "postmaster");
  EXPECT_EQ(TextAt(1509), "Mail Delivery Subsystem");
  EXPECT_EQ(At(1444), 0);  // the switch pair: 1464 on turns 1444 off

  ASSERT_TRUE(SaveServerConfig());  // the default is what the save writes
  const std::string saved = Xor(ReadAll(config + "settings.cfg"), 0);
  ASSERT_EQ(saved.size(), kRecordSize);
  EXPECT_EQ(static_cast<std::uint8_t>(saved[1038]) | static_cast<std::uint8_t>(saved[1039]) << 8, 143);

  // Each bound stays, one above it goes, at every clamped offset.
  settings(Record().u32(2870, 1000).u32(2874, 1001).u32(2878, 5242880));
  ASSERT_TRUE(load());
  EXPECT_EQ((U32s{U32At(2870), U32At(2874), U32At(2878)}), (U32s{1000, 0, 5242880}));
}

TEST_F(ConfigLoadTest, FoldersListsConnectionTextAndPathOverrides) {
  Record r;
  r.text(512, "D:\\mail").text(3385, std::string(240, 'a')).text(1304, " a , b ,c ").text(1582, "x.test, y.test");
  r.text(1048, "a; b").text(3641, " a;b ");
  r.text(2356, "  Server=db, 1433; User Id=mail  ").text(201, " b");
  settings(r);
  file("..\\path.cfg", "\n\n\n  MX  \n");
  ASSERT_TRUE(load());
  EXPECT_EQ(TextAt(256), root + "temp\\");  // empty folders default under the root
  EXPECT_EQ(TextAt(512), "D:\\mail\\");
  EXPECT_EQ(TextAt(3385).size(), 240u);
  EXPECT_EQ(TextAt(1304), "a;b;c");
  EXPECT_EQ(TextAt(1582), "x.test;y.test");
  EXPECT_EQ(TextAt(1048), "a;b");  // blanks go even without a ","
  EXPECT_EQ(TextAt(3641), "a;b");
  EXPECT_EQ(TextAt(2356), "Server=db, 1433; User Id=mail");
  EXPECT_EQ(MessageFilePrefix(), "MXb");
  EXPECT_EQ(AntiSpamFolder(), root + "Spam\\");

  settings(Record().text(0, "host.test").text(1176, "old"));
  const std::string spam = root + "filter";
  file("..\\path.cfg", "# the first line is empty after its comment\n2\n3\n\n5\n" + spam +
                           "\n7\n8\n9\n relay.test | 192.0.2.9 \nmail.example.org\n");
  ASSERT_TRUE(load());
  EXPECT_EQ(ConfigFolder(), config);
  EXPECT_EQ(TextAt(1176), "relay.test");
  EXPECT_EQ(TextAt(0), "mail.example.org");
  EXPECT_EQ(OutgoingBindAddress(), "192.0.2.9");
  EXPECT_EQ(AntiSpamFolder(), spam + "\\");

  // A first line naming a folder: that folder, with a trailing "\".
  const std::string other = root + "elsewhere";
  CreateDirectoryA(other.c_str(), nullptr);
  WriteAll(other + "\\settings.cfg", Xor(Record().text(0, "other.test").bytes, 0));
  file("..\\path.cfg", other + "\n");
  ASSERT_TRUE(load());
  EXPECT_EQ(ConfigFolder(), other + "\\");
  EXPECT_EQ(TextAt(0), "other.test");  // and the overrides of the earlier file are gone
  EXPECT_EQ(OutgoingBindAddress(), "");
}

TEST_F(ConfigLoadTest, LoadSaveLoadIsAFixpointAndLeavesNoTemporaryFile) {
  settings(Record().text(0, "a.test, b.test").u32(2870, 5000).u32(7020, 2));
  file("domains.cfg", Entry("One.Test") + Entry("two.test", 192, 0, 2, 1));
  ASSERT_TRUE(load());
  ASSERT_TRUE(SaveServerConfig());
  const std::string first = ReadAll(config + "settings.cfg");
  const std::string domains = ReadAll(config + "domains.cfg");
  ASSERT_TRUE(load());
  ASSERT_TRUE(SaveServerConfig());
  EXPECT_EQ(ReadAll(config + "settings.cfg"), first);
  EXPECT_EQ(ReadAll(config + "domains.cfg"), domains);
  EXPECT_EQ(domains.substr(0, 9), std::string("\x08one.test", 9));

  int files = 0;
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((config + "*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do {
    files += (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : 1;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  EXPECT_EQ(files, 2) << "temporary files left behind";
}

TEST_F(ConfigLoadTest, OtherThreadsNeverSeeTheRecordScrambled) {
  settings(Record().text(1477, "postmaster"));
  ASSERT_TRUE(load());
  std::atomic<bool> done{false};
  std::atomic<int> wrong{0};
  std::thread reader([&] {
    const volatile std::uint8_t* length = &Settings()[1477];
    while (!done.load()) {
      if (*length != 10) ++wrong;
    }
  });
  for (int i = 0; i < 30; ++i) {
    load();
    SaveServerConfig();
  }
  done.store(true);
  reader.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(ConfigLoadTest, MissingAndLockedSettingsFile) {
  settings(Record().text(0, "kept.test"));
  ASSERT_TRUE(load());
  // Locked by another writer: the load fails and nothing overwrites the file.
  const std::string name = config + "settings.cfg";
  const std::string before = ReadAll(name);
  HANDLE lock = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(load());
  EXPECT_TRUE(SettingsFileUnreadable());
  CloseHandle(lock);
  EXPECT_FALSE(SaveServerConfig());
  EXPECT_EQ(ReadAll(name), before);
  ASSERT_TRUE(load());
  EXPECT_TRUE(SaveServerConfig());

  // Missing: a failure when asked to, and the built-in defaults.
  DeleteFileA(name.c_str());
  EXPECT_FALSE(load(true));
  EXPECT_EQ(Settings(), BuiltInSettingsImage());
  EXPECT_EQ(DomainCount(), 0u);
  EXPECT_TRUE(load(false));
}

TEST_F(ConfigLoadTest, DomainTableFromBothSourcesAndCountBounds) {
  // Older installations: the list inside "settings.cfg" from byte 20,344, scrambled from key index 8.
  Record r = Record().u32(7020, 2);
  const std::string legacy = Xor(r.bytes.substr(0, 20344), 0) + Xor(Entry("OLD.test") + Entry("b.test"), 8);
  WriteAll(config + "settings.cfg", legacy + std::string(kRecordSize - legacy.size(), '\0'));
  ASSERT_TRUE(load());
  EXPECT_EQ(DomainListGetName(0), "old.test");
  EXPECT_EQ(DomainListFind("B.TEST"), 1);
  ASSERT_TRUE(SaveServerConfig());
  EXPECT_EQ(ReadAll(config + "domains.cfg").size(), 192u);

  // A count beyond what the file holds keeps the missing entries empty.
  settings(r.u32(7020, 3));
  file("domains.cfg", Entry("a.test", 10, 0, 0, 1) + std::string(50, 'x'));
  ASSERT_TRUE(load());
  EXPECT_EQ(DomainCount(), 3u);
  EXPECT_EQ(DomainListGetIP(0), "10.0.0.1");
  EXPECT_EQ(DomainListGetName(2), "");

  // A damaged count is capped, not trusted for an allocation; a negative
  // one is no count at all.
  settings(r.u32(7020, 2000000));
  ASSERT_TRUE(load());
  EXPECT_EQ(DomainCount(), MaxDomainEntries);
  EXPECT_EQ(DomainListGetName(0), "a.test");
  settings(r.u32(7020, 0xFFFFFFFFu));
  ASSERT_TRUE(load());
  EXPECT_EQ(DomainCount(), 0u);
}

TEST_F(ConfigLoadTest, GlobalAndDomainBindings) {
  settings(Record().u32(7020, 3));
  file("domains.cfg", Entry("a.test", 255, 255, 255, 255) + Entry("b.test", 192, 0, 2, 8) + Entry("c.test"));
  CreateDirectoryA((config + "a.test").c_str(), nullptr);
  CreateDirectoryA((config + "c.test").c_str(), nullptr);
  file("a.test\\bind.dat", "   192.0.2.7   \r\n");
  file("bind.dat",
       "# outgoing\r\n\r\nOutgoing_BIND = 192.0.2.1 ; 192.0.2.2\r\nnoequals\r\n"
       "IPv6_Bind=2001:db8::1; 2001:db8::2\r\n");
  ASSERT_TRUE(load());
  EXPECT_EQ(OutgoingBindAddress(), "192.0.2.1");
  EXPECT_EQ(IPv6BindList(), "2001:db8::1;2001:db8::2");
  EXPECT_EQ(ReadDomainBind(0), "192.0.2.7");  // the marker counts as no address
  EXPECT_EQ(ReadDomainBind(1), "192.0.2.8");
  EXPECT_EQ(ReadDomainBind(2), "");
  EXPECT_TRUE(UsesDomainBinding());

  WriteDomainBind(2, "  198.51.100.1;198.51.100.2 ", false);
  EXPECT_EQ(ReadAll(config + "c.test\\bind.dat"), "198.51.100.1;198.51.100.2\r\n");
  EXPECT_EQ(DomainListGetIP(2), "255.255.255.255");
  EXPECT_EQ(ReadDomainBind(2), "198.51.100.1;198.51.100.2");

  WriteDomainBind(0, "", false);
  EXPECT_FALSE(FileExists(config + "a.test\\bind.dat"));
  EXPECT_EQ(ReadDomainBind(0), "");
  EXPECT_TRUE(UsesDomainBinding());  // remembered until the next load
  // An index outside the table never reaches the global "bind.dat".
  WriteDomainBind(7, "", false);
  EXPECT_TRUE(FileExists(config + "bind.dat"));
}

TEST_F(ConfigLoadTest, AddressListsDomainShieldAndRelayFile) {
  settings(Record().u32(7020, 1).u8(232, 1));
  file("domains.cfg", Entry("shield.test"));
  ASSERT_TRUE(load());
  EXPECT_EQ(IPInList("10.1.*.*", "10.1.2.3"), 1);
  EXPECT_EQ(IPInList("10.1.*.*", "10.2.2.3"), 0);
  EXPECT_EQ(IPInList(" 192.0.2.1 ; 192.168.1.10-30 ", "192.168.1.20"), 1);
  EXPECT_EQ(IPInList("10.0.0.0/8", "10.200.1.1"), 1);
  EXPECT_EQ(IPInList("192.0.2.30", "192.0.2.3"), 0);

  // Without "domainshield.dat" a served domain admits every address.
  EXPECT_EQ(IPInList("user@shield.test", "203.0.113.5"), 1);
  EXPECT_EQ(IPInList("other.test", "203.0.113.5"), 0);
  file("domainshield.dat", "# shields\r\nSHIELD.test = 198.51.100.*; 203.0.113.0/24\r\nopen.test=192.0.2.1\r\n");
  EXPECT_EQ(CheckDomainShield("shield.test", "203.0.113.5"), 1);
  EXPECT_EQ(CheckDomainShield("shield.test", "192.0.2.1"), 0);
  EXPECT_EQ(CheckDomainShield("unlisted.test", "192.0.2.1"), 1);
  EXPECT_EQ(IPInList("@shield.test", "192.0.2.1"), 0);
  EXPECT_EQ(IPInList("@shield.test", "198.51.100.1"), 1);
  Settings()[232] = 0;  // shield check off: domain items admit nothing
  EXPECT_EQ(IPInList("@shield.test", "198.51.100.1"), 0);

  EXPECT_EQ(CheckRelayIP("10.9.1.1", "", true, ""), 0);  // no relay file
  file("relay.dat", "# relays\r\n\r\n192.0.2.1\r\n172.16-31.*.*; 10.9.*.*\r\n");
  EXPECT_EQ(CheckRelayIP("10.9.1.1", "", true, ""), 1);
  EXPECT_EQ(CheckRelayIP("10.9.1.1", "", false, ""), 0);
  EXPECT_EQ(CheckRelayIP("10.9.1.1", "198.51.100.1", true, root + "none.dat"), 0);
  EXPECT_EQ(CheckRelayIP("198.51.100.1", "198.51.100.1", false, ""), 1);
}

TEST_F(ConfigLoadTest, ProcessorAffinityAndCacheSizing) {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  settings(Record().u8(1542, 1));
  ASSERT_TRUE(load());
  ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
  EXPECT_EQ(process, 1u);
  settings(Record());
  ASSERT_TRUE(load());
  ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
  EXPECT_EQ(process, system);

  SetRequestedCacheCounts(0, 0);
  ASSERT_TRUE(load());  // 0 MB takes the default of 10
  EXPECT_EQ(AccountCacheSize(), 1227u);
  SetRequestedCacheCounts(0, 0);
  settings(Record().u32(233, 0xFFFFFFFFu));  // capped, allocated or left empty
  ASSERT_TRUE(load());
  EXPECT_LE(AccountCacheSize(), MaxCacheEntries);
  SetRequestedCacheCounts(0, 0);
  FreeRecordCaches();
}

TEST_F(ConfigLoadTest, DatabaseBackEndNotBeforeTheStopAndTakesDomainBindings) {
  std::string standin = std::string("Z:") + DB_STANDIN_PATH;  // Wine sees the host's root as drive Z:
  for (char& c : standin)
    c = c == '/' ? '\\' : c;
  ASSERT_TRUE(CopyFileA(standin.c_str(), (root + "DB.dll").c_str(), FALSE));
  settings(Record().u8(3633, 2).u32(7020, 1));
  file("domains.cfg", Entry("db.test"));
  SetRootFolder(root);
  SetConfigFolder(config);
  ASSERT_TRUE(InitServerConfig(true, true));
  EXPECT_FALSE(IsDBLoaded());
  ASSERT_TRUE(load());
  ASSERT_TRUE(IsDBLoaded());

  WriteDomainBind(0, "192.0.2.50", true);
  EXPECT_EQ(DomainListGetIP(0), "255.255.255.255");
  const auto callLog = reinterpret_cast<standin::CallLogProc>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA((root + "DB.dll").c_str()), "StandinCallLog")));
  ASSERT_NE(callLog, nullptr);
  std::string calls(4096, '\0');
  callLog(calls.data(), static_cast<std::int32_t>(calls.size()));
  EXPECT_NE(calls.find("DBSetDomainIP"), std::string::npos);
  UnloadDBLibrary();
  SetDomainReloadPending(false);
}

}  // namespace
