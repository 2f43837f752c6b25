#include "core/config/ConfigStore.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/accounts/RecordCaches.h"
#include "core/config/LockTable.h"
#include "core/db/DbLibrary.h"
#include "core/domains/DomainTable.h"
#include "core/platform/FileUnit.h"
#include "tests/support/db_standin/StandinControl.h"

namespace {

using namespace core;

// ---- Independent fixture writer -------------------------------------------
// Offsets are written out as numbers and the scrambling is done here, so the
// store is checked against bytes it did not produce.

const std::uint8_t kKey[16] = {0x3C, 0x91, 0xE0, 0x7A, 0x55, 0xD2, 0x18, 0x8B,
                               0xF4, 0x6A, 0x0D, 0x27, 0xC3, 0xB9, 0xE1, 0x50};
constexpr std::size_t kRecordSize = 20864;

std::string Xor(std::string bytes, std::size_t start) {
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(bytes[i] ^ kKey[(start + i) % 16]);
  return bytes;
}

struct Record {
  std::string bytes = std::string(kRecordSize, '\0');
  Record() { u8(1542, 0); }  // may run on every processor
  Record& u8(std::size_t at, std::uint8_t v) {
    bytes[at] = static_cast<char>(v);
    return *this;
  }
  Record& u16(std::size_t at, std::uint16_t v) { return u8(at, v & 0xFF).u8(at + 1, v >> 8); }
  Record& u32(std::size_t at, std::uint32_t v) { return u16(at, v & 0xFFFF).u16(at + 2, v >> 16); }
  Record& text(std::size_t at, const std::string& s) {
    u8(at, static_cast<std::uint8_t>(s.size()));
    bytes.replace(at + 1, s.size(), s);
    return *this;
  }
};

std::string Entry(const std::string& name, std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  std::string e(96, '\0');
  e[0] = static_cast<char>(name.size());
  e.replace(1, name.size(), name);
  e[92] = static_cast<char>(a);
  e[93] = static_cast<char>(b);
  e[94] = static_cast<char>(c);
  e[95] = static_cast<char>(d);
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

std::uint8_t At(std::size_t offset) { return Settings()[offset]; }
std::uint32_t U32At(std::size_t o) { return At(o) | At(o + 1) << 8 | At(o + 2) << 16 | static_cast<std::uint32_t>(At(o + 3)) << 24; }
std::string TextAt(std::size_t o) { return std::string(reinterpret_cast<const char*>(&Settings()[o + 1]), At(o)); }

// A fresh installation folder with its "config\" folder.
class Installation {
 public:
  Installation() {
    static std::atomic<int> serial{0};
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    root = std::string(temp) + "storetest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial) + "\\";
    config = root + "config\\";
    CreateDirectoryA(root.c_str(), nullptr);
    CreateDirectoryA(config.c_str(), nullptr);
  }
  ~Installation() { DeleteDirectory(root, "*.*", true); }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

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

class ConfigStoreTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { CreateLockTable(true); }
  Installation inst;
};

// ---- Settings record --------------------------------------------------------

TEST_F(ConfigStoreTest, ShortFileKeepsTheTailOfTheImageAndOfThePreviousLoad) {
  ASSERT_FALSE(inst.load());  // no file: the built-in image
  ASSERT_EQ(Settings(), BuiltInSettingsImage());
  Record r;
  for (std::size_t i = 20000; i < kRecordSize; ++i) r.u8(i, 0xA5);
  r.text(3127, "short");
  inst.settings(r, 20000);
  ASSERT_TRUE(inst.load());
  EXPECT_EQ(TextAt(3127), "short");
  for (std::size_t i = 20000; i < kRecordSize; ++i) ASSERT_EQ(At(i), BuiltInSettingsImage()[i]) << i;

  inst.settings(r);
  ASSERT_TRUE(inst.load());
  r.text(3127, "again");
  inst.settings(r, 20000);
  ASSERT_TRUE(inst.load());
  EXPECT_EQ(TextAt(3127), "again");
  for (std::size_t i = 20000; i < kRecordSize; ++i) ASSERT_EQ(At(i), 0xA5) << i;
}

TEST_F(ConfigStoreTest, ClampsDefaultsAndTheSwitchPair) {
  Record r;
  r.u32(2870, 1001).u32(2874, 1000).u32(2878, 5242881).u16(242, 77).u8(1464, 1).u8(1444, 1);
  r.text(1477, "postmaster");
  inst.settings(r);
  ASSERT_TRUE(inst.load());
  EXPECT_EQ(U32At(2870), 0u);
  EXPECT_EQ(U32At(2874), 1000u);
  EXPECT_EQ(U32At(2878), 0u);
  EXPECT_EQ(At(1038) | At(1039) << 8, 143);     // 0 takes the default
  EXPECT_EQ(At(242) | At(243) << 8, 77);        // a set value stays
  EXPECT_EQ(U32At(7016), 4u);
  EXPECT_EQ(TextAt(1477), "postmaster");
  EXPECT_EQ(TextAt(1509), "Mail Delivery Subsystem");
  EXPECT_EQ(At(1444), 0);

  // The default is what the next save writes.
  ASSERT_TRUE(SaveServerConfig());
  const std::string saved = Xor(ReadAll(inst.config + "settings.cfg"), 0);
  ASSERT_EQ(saved.size(), kRecordSize);
  EXPECT_EQ(static_cast<std::uint8_t>(saved[1038]) | static_cast<std::uint8_t>(saved[1039]) << 8, 143);
}

TEST_F(ConfigStoreTest, FoldersListsAndConnectionText) {
  Record r;
  r.text(512, "D:\\mail").text(3385, std::string(240, 'a'));
  r.text(1304, " a , b ,c ").text(1582, "x.test, y.test");
  r.text(2356, "  Server=db, 1433; User Id=mail  ");
  r.text(201, " b");
  inst.settings(r);
  inst.file("..\\path.cfg", "\n\n\n  MX  \n");
  ASSERT_TRUE(inst.load());
  EXPECT_EQ(TextAt(256), inst.root + "temp\\");  // empty folders default under the root
  EXPECT_EQ(TextAt(768), inst.root + "logs\\");
  EXPECT_EQ(TextAt(512), "D:\\mail\\");
  EXPECT_EQ(TextAt(3385).size(), 240u);
  EXPECT_EQ(TextAt(1304), "a;b;c");
  EXPECT_EQ(TextAt(1582), "x.test;y.test");
  EXPECT_EQ(TextAt(2356), "Server=db, 1433; User Id=mail");
  EXPECT_EQ(TextAt(201), "b");
  EXPECT_EQ(MessageFilePrefix(), "MXb");
  EXPECT_EQ(AntiSpamFolder(), inst.root + "Spam\\");
}

TEST_F(ConfigStoreTest, PathOverrides) {
  Record r;
  r.text(0, "host.test").text(1176, "old");
  inst.settings(r);
  const std::string spam = inst.root + "filter";
  inst.file("..\\path.cfg", "# the first line is empty after its comment\n2\n3\n\n5\n" + spam +
                                "\n7\n8\n9\n relay.test | 192.0.2.9 \nmail.example.org\n");
  ASSERT_TRUE(inst.load());
  EXPECT_EQ(ConfigFolder(), inst.config);
  EXPECT_EQ(TextAt(1176), "relay.test");
  EXPECT_EQ(TextAt(0), "mail.example.org");
  EXPECT_EQ(OutgoingBindAddress(), "192.0.2.9");
  EXPECT_EQ(AntiSpamFolder(), spam + "\\");

  // A first line naming a folder: that folder, with a trailing "\".
  const std::string other = inst.root + "elsewhere";
  CreateDirectoryA(other.c_str(), nullptr);
  WriteAll(other + "\\settings.cfg", Xor(Record().text(0, "other.test").bytes, 0));
  inst.file("..\\path.cfg", other + "\n");
  ASSERT_TRUE(inst.load());
  EXPECT_EQ(ConfigFolder(), other + "\\");
  EXPECT_EQ(TextAt(0), "other.test");  // and the overrides of the earlier file are gone
  EXPECT_EQ(OutgoingBindAddress(), "");
}

TEST_F(ConfigStoreTest, LoadSaveLoadIsAFixpointAndLeavesNoTemporaryFile) {
  Record r;
  r.text(0, "a.test, b.test").u32(2870, 5000).u32(7020, 2);
  inst.settings(r);
  inst.file("domains.cfg", Entry("One.Test", 0, 0, 0, 0) + Entry("two.test", 192, 0, 2, 1));
  ASSERT_TRUE(inst.load());
  ASSERT_TRUE(SaveServerConfig());
  const std::string first = ReadAll(inst.config + "settings.cfg");
  const std::string domains = ReadAll(inst.config + "domains.cfg");
  ASSERT_TRUE(inst.load());
  ASSERT_TRUE(SaveServerConfig());
  EXPECT_EQ(ReadAll(inst.config + "settings.cfg"), first);
  EXPECT_EQ(ReadAll(inst.config + "domains.cfg"), domains);
  EXPECT_EQ(domains.substr(0, 9), std::string("\x08one.test", 9));

  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((inst.config + "*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  std::vector<std::string> names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  EXPECT_EQ(names.size(), 2u) << "temporary files left behind";
}

TEST_F(ConfigStoreTest, OtherThreadsNeverSeeTheRecordScrambled) {
  inst.settings(Record().text(1477, "postmaster"));
  ASSERT_TRUE(inst.load());
  std::atomic<bool> done{false};
  std::atomic<int> wrong{0};
  std::thread reader([&] {
    const volatile std::uint8_t* length = &Settings()[1477];
    while (!done.load()) {
      if (*length != 10) ++wrong;
    }
  });
  for (int i = 0; i < 30; ++i) {
    inst.load();
    SaveServerConfig();
  }
  done.store(true);
  reader.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(ConfigStoreTest, MissingAndUnreadableSettingsFile) {
  Record r;
  r.text(0, "kept.test");
  inst.settings(r);
  ASSERT_TRUE(inst.load());

  // Locked by another writer: the load fails and nothing overwrites the file.
  const std::string name = inst.config + "settings.cfg";
  const std::string before = ReadAll(name);
  HANDLE lock = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(inst.load());
  EXPECT_TRUE(SettingsFileUnreadable());
  CloseHandle(lock);
  EXPECT_FALSE(SaveServerConfig());
  EXPECT_EQ(ReadAll(name), before);
  ASSERT_TRUE(inst.load());
  EXPECT_TRUE(SaveServerConfig());

  // Missing: a failure when asked to, and the built-in defaults.
  DeleteFileA(name.c_str());
  EXPECT_FALSE(inst.load(true));
  EXPECT_EQ(Settings(), BuiltInSettingsImage());
  EXPECT_EQ(DomainCount(), 0u);
  EXPECT_TRUE(inst.load(false));
}

// ---- Domain table ---------------------------------------------------------------

TEST_F(ConfigStoreTest, DomainTableFromBothSourcesAndCountBounds) {
  // Older installations: the list inside "settings.cfg" from byte 20,344,
  // scrambled from key index 8.
  Record r;
  r.u32(7020, 2);
  std::string legacy = Xor(r.bytes.substr(0, 20344), 0) + Xor(Entry("OLD.test", 0, 0, 0, 0) + Entry("b.test", 0, 0, 0, 0), 8);
  WriteAll(inst.config + "settings.cfg", legacy + std::string(kRecordSize - legacy.size(), '\0'));
  ASSERT_TRUE(inst.load());
  EXPECT_EQ(DomainCount(), 2u);
  EXPECT_EQ(DomainListGetName(0), "old.test");
  EXPECT_EQ(DomainListFind("B.TEST"), 1);
  ASSERT_TRUE(SaveServerConfig());
  EXPECT_EQ(ReadAll(inst.config + "domains.cfg").size(), 192u);

  // A count beyond what the file holds keeps the missing entries empty.
  r.u32(7020, 3);
  inst.settings(r);
  inst.file("domains.cfg", Entry("a.test", 10, 0, 0, 1) + std::string(50, 'x'));
  ASSERT_TRUE(inst.load());
  EXPECT_EQ(DomainCount(), 3u);
  EXPECT_EQ(DomainListGetIP(0), "10.0.0.1");
  EXPECT_EQ(DomainListGetName(2), "");

  // A damaged count is capped, not trusted for an allocation.
  r.u32(7020, 0xFFFFFFFFu);
  inst.settings(r);
  ASSERT_TRUE(inst.load());
  EXPECT_EQ(DomainCount(), MaxDomainEntries);
  EXPECT_EQ(DomainListGetName(0), "a.test");

  // A count of 0 gives an empty table whatever the file holds.
  r.u32(7020, 0);
  inst.settings(r);
  ASSERT_TRUE(inst.load());
  EXPECT_EQ(DomainListFind("a.test"), -1);
}

// ---- Bindings ----------------------------------------------------------------------

TEST_F(ConfigStoreTest, GlobalBindFile) {
  inst.settings(Record());
  inst.file("bind.dat", "# outgoing\r\n\r\nOutgoing_BIND = 192.0.2.1 ; 192.0.2.2\r\nnoequals\r\nIPv6_Bind=2001:db8::1; 2001:db8::2\r\n");
  ASSERT_TRUE(inst.load());
  EXPECT_EQ(OutgoingBindAddress(), "192.0.2.1");
  EXPECT_EQ(IPv6BindList(), "2001:db8::1;2001:db8::2");
}

TEST_F(ConfigStoreTest, DomainBindings) {
  Record r;
  r.u32(7020, 3);
  inst.settings(r);
  inst.file("domains.cfg", Entry("a.test", 255, 255, 255, 255) + Entry("b.test", 192, 0, 2, 8) + Entry("c.test", 0, 0, 0, 0));
  CreateDirectoryA((inst.config + "a.test").c_str(), nullptr);
  CreateDirectoryA((inst.config + "c.test").c_str(), nullptr);
  inst.file("a.test\\bind.dat", "   192.0.2.7   \r\n");
  inst.file("bind.dat", "Outgoing_Bind=192.0.2.1\r\n");
  ASSERT_TRUE(inst.load());
  EXPECT_EQ(ReadDomainBind(0), "192.0.2.7");
  EXPECT_EQ(ReadDomainBind(1), "192.0.2.8");
  EXPECT_EQ(ReadDomainBind(2), "");
  EXPECT_TRUE(UsesDomainBinding());

  WriteDomainBind(2, "  198.51.100.1;198.51.100.2 ", false);
  EXPECT_EQ(ReadAll(inst.config + "c.test\\bind.dat"), "198.51.100.1;198.51.100.2\r\n");
  EXPECT_EQ(DomainListGetIP(2), "255.255.255.255");
  EXPECT_EQ(ReadDomainBind(2), "198.51.100.1;198.51.100.2");

  WriteDomainBind(0, "", false);
  EXPECT_FALSE(FileExists(inst.config + "a.test\\bind.dat"));
  EXPECT_EQ(ReadDomainBind(0), "");
  EXPECT_TRUE(UsesDomainBinding());  // remembered until the next load
  ASSERT_TRUE(inst.load());
  EXPECT_EQ(ReadDomainBind(0), "");

  // An index outside the table never reaches the global "bind.dat".
  WriteDomainBind(7, "", false);
  EXPECT_TRUE(FileExists(inst.config + "bind.dat"));
}

// ---- Address lists ----------------------------------------------------------------------

TEST_F(ConfigStoreTest, IPInListAndDomainShield) {
  Record r;
  r.u32(7020, 1).u8(232, 1);
  inst.settings(r);
  inst.file("domains.cfg", Entry("shield.test", 0, 0, 0, 0));
  ASSERT_TRUE(inst.load());

  EXPECT_EQ(IPInList("10.1.*.*", "10.1.2.3"), 1);
  EXPECT_EQ(IPInList("10.1.*.*", "10.2.2.3"), 0);
  EXPECT_EQ(IPInList("", "10.1.2.3"), 0);
  EXPECT_EQ(IPInList(" 192.0.2.1 ; 192.168.1.10-30 ", "192.168.1.20"), 1);
  EXPECT_EQ(IPInList("10.0.0.0/8", "10.200.1.1"), 1);
  EXPECT_EQ(IPInList("192.0.2.30", "192.0.2.3"), 0);

  // Without "domainshield.dat" a served domain admits every address.
  EXPECT_EQ(CheckDomainShield("shield.test", "203.0.113.5"), 1);
  EXPECT_EQ(IPInList("user@shield.test", "203.0.113.5"), 1);
  EXPECT_EQ(IPInList("other.test", "203.0.113.5"), 0);

  inst.file("domainshield.dat", "# shields\r\nSHIELD.test = 198.51.100.*; 203.0.113.0/24\r\nopen.test=192.0.2.1\r\n");
  EXPECT_EQ(CheckDomainShield("shield.test", "203.0.113.5"), 1);
  EXPECT_EQ(CheckDomainShield("shield.test", "198.51.100.77"), 1);
  EXPECT_EQ(CheckDomainShield("shield.test", "192.0.2.1"), 0);
  EXPECT_EQ(CheckDomainShield("unlisted.test", "192.0.2.1"), 1);
  EXPECT_EQ(IPInList("@shield.test", "192.0.2.1"), 0);
  EXPECT_EQ(IPInList("@shield.test", "198.51.100.1"), 1);

  Settings()[232] = 0;  // shield check off: domain items admit nothing
  EXPECT_EQ(IPInList("@shield.test", "198.51.100.1"), 0);
}

TEST_F(ConfigStoreTest, RelayFile) {
  inst.settings(Record());
  ASSERT_TRUE(inst.load());
  EXPECT_EQ(CheckRelayIP("10.9.1.1", "", true, ""), 0);  // no file
  inst.file("relay.dat", "# relays\r\n\r\n192.0.2.1\r\n172.16-31.*.*; 10.9.*.*\r\n");
  EXPECT_EQ(CheckRelayIP("10.9.1.1", "", true, ""), 1);
  EXPECT_EQ(CheckRelayIP("10.9.1.1", "", false, ""), 0);
  EXPECT_EQ(CheckRelayIP("10.9.1.1", "198.51.100.1", true, inst.root + "none.dat"), 0);
  EXPECT_EQ(CheckRelayIP("198.51.100.1", "198.51.100.1", false, ""), 1);
}

// ---- Back end, affinity and caches --------------------------------------------------------

TEST_F(ConfigStoreTest, ProcessorAffinityFollowsTheSetting) {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
  inst.settings(Record().u8(1542, 1));
  ASSERT_TRUE(inst.load());
  ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
  EXPECT_EQ(process, 1u);
  inst.settings(Record());
  ASSERT_TRUE(inst.load());
  ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
  EXPECT_EQ(process, system);
}

TEST_F(ConfigStoreTest, CacheSizing) {
  SetRequestedCacheCounts(0, 0);
  inst.settings(Record().u8(3633, 0));  // 0 MB takes the default of 10
  ASSERT_TRUE(inst.load());
  EXPECT_EQ(AccountCacheSize(), 1227u);
  EXPECT_EQ(DomainCacheSize(), 0u);

  SetRequestedCacheCounts(0, 0);
  inst.settings(Record().u8(3633, 1).u32(233, 10));  // not in plain file mode
  ASSERT_TRUE(inst.load());
  EXPECT_EQ(AccountCacheSize(), 0u);

  SetRequestedCacheCounts(0, 0);
  inst.settings(Record().u32(233, 0xFFFFFFFFu));  // capped, allocated or left empty
  ASSERT_TRUE(inst.load());
  EXPECT_LE(AccountCacheSize(), MaxCacheEntries);
  SetRequestedCacheCounts(0, 0);
  FreeRecordCaches();
  EXPECT_EQ(AccountCacheSize(), 0u);
}

// Build paths are host paths; Wine sees the host's root as drive Z:.
std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

TEST_F(ConfigStoreTest, DatabaseBackEndOnlyWhenAskedAndNotBeforeTheStop) {
  ASSERT_TRUE(CopyFileA(WindowsPath(DB_STANDIN_PATH).c_str(), (inst.root + "DB.dll").c_str(), FALSE));
  Record r;
  r.u8(3633, 2).text(2356, " Server=db, 1433; User Id=mail ").u32(7020, 1);
  inst.settings(r);
  inst.file("domains.cfg", Entry("db.test", 0, 0, 0, 0));
  SetDomainReloadPending(false);
  SetRootFolder(inst.root);
  SetConfigFolder(inst.config);
  ASSERT_TRUE(InitServerConfig(true, true));
  EXPECT_FALSE(IsDBLoaded());
  EXPECT_FALSE(DomainReloadPending());

  ASSERT_TRUE(inst.load());
  ASSERT_TRUE(IsDBLoaded());
  EXPECT_TRUE(DomainReloadPending());
  HMODULE dll = GetModuleHandleA((inst.root + "DB.dll").c_str());
  ASSERT_NE(dll, nullptr);
  auto connection = reinterpret_cast<standin::ConnectionProc>(
      reinterpret_cast<void (*)()>(GetProcAddress(dll, "StandinConnection")));
  ASSERT_NE(connection, nullptr);
  char text[256] = {};
  connection(text, sizeof text);
  EXPECT_STREQ(text, "Server=db, 1433; User Id=mail");

  // In database mode the binding goes to the back end and the table.
  WriteDomainBind(0, "192.0.2.50", true);
  EXPECT_EQ(DomainListGetIP(0), "255.255.255.255");
  auto callLog = reinterpret_cast<standin::CallLogProc>(
      reinterpret_cast<void (*)()>(GetProcAddress(dll, "StandinCallLog")));
  ASSERT_NE(callLog, nullptr);
  std::string calls(4096, '\0');
  callLog(calls.data(), static_cast<std::int32_t>(calls.size()));
  EXPECT_NE(calls.find("DBSetDomainIP"), std::string::npos);
  UnloadDBLibrary();
  SetDomainReloadPending(false);
}

}  // namespace
