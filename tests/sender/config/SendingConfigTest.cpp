// The sending library's configuration readers under Wine: the installation
// found through its registry value, the load with the sending profile, and
// the lookup by address in the files and on the database stand-in.
// Installations are written byte by byte through the records kit (and by
// sender_files.py), apart from the library.
#include "sender/config/SendingConfig.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/config/ConfigStore.h"
#include "core/db/DbLibrary.h"
#include "core/platform/Files.h"
#include "core/platform/RecordCacheTable.h"
#include "core/texts/MessageTexts.h"
#include "sender/net/IPv6Lookup.h"
#include "tests/sender/config/SenderFixture.h"
#include "tests/support/db_standin/StandinControl.h"
#include "tests/support/installation.h"

namespace {

using namespace records;
using senderfix::RegistryValue;
using testinst::WriteAll;

// The mailbox name of what the address finds, "" when nothing; a miss must
// leave the whole buffer zero.
std::string Find(const std::string& address, bool useCache = false) {
  core::AccountRecordBytes record;
  record.fill(0xEE);
  if (sender::FindAccountByAddress(address, record, useCache)) return TextAt(record.data(), user::Mailbox);
  EXPECT_TRUE(std::all_of(record.begin(), record.end(), [](std::uint8_t b) { return b == 0; })) << address;
  return "";
}

std::string Users(std::initializer_list<NewAccount> accounts) {
  std::string bytes;
  for (const NewAccount& a : accounts)
    bytes += a.Make<std::string>();
  return ScrambledRecords(bytes, AccountSize);
}

// One installation per test, its "InstallDir" pointing at it.
class SendingConfig : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { senderfix::StartSendingLibrary(); }
  void TearDown() override { core::UnloadDBLibrary(); }

  void settings(const Record& r) const { WriteAll(config + "settings.cfg", r.Scrambled()); }
  void domains(std::initializer_list<std::string> names) const {
    WriteAll(config + "domains.cfg", DomainEntries(names));
  }
  void users(const std::string& domain, const std::string& bytes) const {
    ::CreateDirectoryA((config + domain).c_str(), nullptr);
    WriteAll(config + domain + "\\users.cfg", bytes);
  }
  // A domain record with its setting 1.
  void domainRecord(const std::string& domain, std::uint8_t setting1) const {
    Record r(DomainSize);
    ::CreateDirectoryA((config + domain).c_str(), nullptr);
    WriteAll(config + domain + "\\domain.cfg", r.U8(domain::Id1, setting1).Scrambled());
  }

  testinst::Installation install{"sendcfg"};
  const std::string root = install.root, config = install.config;
  RegistryValue installDir{sender::SendingInstallKey, sender::InstallDirValue, &root};
};

// A settings record that keeps the test process on every processor.
SettingsFile Served(std::uint32_t domains) {
  SettingsFile r(domains);
  r.U8(settings::FirstProcessor, 0);
  return r;
}

TEST_F(SendingConfig, TheInstallationIsFoundOrNothingIsLoaded) {
  settings(Served(0));
  const std::string noSlash = [&] {
    std::string text = root;
    text.pop_back();
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
  }();
  {
    RegistryValue value(sender::SendingInstallKey, sender::InstallDirValue, &noSlash);
    ASSERT_TRUE(sender::LoadSendingConfig());
    EXPECT_EQ(core::ConfigFolder(), config);
    EXPECT_EQ(core::RootFolder(), root);
  }
  const std::string empty, expandable = root, tooLong = "C:\\" + std::string(247, 'x');
  struct Case {
    const char* what;
    const std::string* value;
    DWORD type;
  };
  const Case cases[] = {{"no value", nullptr, REG_SZ},
                        {"empty", &empty, REG_SZ},
                        {"no REG_SZ", &expandable, REG_EXPAND_SZ},
                        {"250 characters", &tooLong, REG_SZ}};
  for (const Case& c : cases) {
    RegistryValue value(sender::SendingInstallKey, sender::InstallDirValue, c.value, c.type);
    EXPECT_FALSE(sender::LoadSendingConfig()) << c.what;
  }
  RegistryValue::RemoveKey(sender::SendingInstallKey);
  EXPECT_FALSE(sender::LoadSendingConfig()) << "no key";

  RegistryValue value(sender::SendingInstallKey, sender::InstallDirValue, &root);
  EXPECT_TRUE(sender::LoadSendingConfig()) << "the key made anew";
  sender::SendingConfigHold hold;
  EXPECT_FALSE(sender::LoadSendingConfig()) << "inside a hold of the same thread";
}

// The sending library's load runs the message-texts step as Init does: a
// text "strings.dat" names is replaced, and stays when a later file lacks it.
TEST_F(SendingConfig, TheLoadReplacesTheTextsStringsDatNames) {
  settings(Served(0));
  WriteAll(config + "strings.dat", "cLSPassword='Wrong password'#13#10\r\n");
  ASSERT_TRUE(sender::LoadSendingConfig());
  EXPECT_EQ(core::ListServerText("cLSPassword"), "Wrong password\r\n");
  WriteAll(config + "strings.dat", "cLSRights='No rights'\r\n");
  ASSERT_TRUE(sender::LoadSendingConfig());
  EXPECT_EQ(core::ListServerText("cLSPassword"), "Wrong password\r\n");
  EXPECT_EQ(core::ListServerText("cLSRights"), "No rights");
}

// The host is any program in any current folder: every folder of the record
// lies under the installation, also the built-in relative "mail\".
TEST_F(SendingConfig, FoldersLieUnderTheRootWhateverTheCurrentFolder) {
  testinst::Installation elsewhere{"sendcwd"};
  char previous[MAX_PATH] = {};
  ::GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryA(elsewhere.root.c_str()));
  for (const bool withFile : {false, true}) {
    if (withFile) settings(Served(0).Text(settings::MailFolder, "mail\\").Text(settings::LogsFolder, "D:\\logs\\"));
    ASSERT_TRUE(sender::LoadSendingConfig()) << withFile;
    EXPECT_EQ(core::GetMailboxPath("a.test\\ann", false, ""), root + "mail\\a.test\\ann\\") << withFile;
    EXPECT_EQ(TextAt(core::Settings().data(), settings::TempFolder), root + "temp\\") << withFile;
    EXPECT_EQ(TextAt(core::Settings().data(), settings::ArchiveFolder), root + "archive\\") << withFile;
  }
  EXPECT_EQ(TextAt(core::Settings().data(), settings::LogsFolder), "D:\\logs\\");
  ::SetCurrentDirectoryA(previous);
}

// sender_files.py wrote three installations from the record layouts alone.
// Without a file the record is the built-in one; a shorter file is read over
// it (a load keeps what the previous one read beyond the file's end).
TEST_F(SendingConfig, ReadsWhatAnIndependentWriterWrote) {
  const char* made = std::getenv("VM_SENDER_FILES");
  ASSERT_NE(made, nullptr);
  const std::uint8_t* record = core::Settings().data();
  for (const std::string name : {"none", "short", "full"}) {
    const std::string folder = testinst::HostPath(made) + "\\" + name + "\\";
    RegistryValue value(sender::SendingInstallKey, sender::InstallDirValue, &folder);
    ASSERT_TRUE(sender::LoadSendingConfig()) << name;
    if (name == "none") {
      EXPECT_EQ(UAt(record, settings::Id12, 2), 300u);  // the built-in value
      EXPECT_EQ(Find("ann@a.test"), "");                // no configuration, no domains
      continue;
    }
    EXPECT_EQ(UAt(record, settings::Id12, 2), 4242u) << name;
    EXPECT_EQ(TextAt(record, settings::Id106), "written apart") << name;
    // Bytes from 20,000 on: the file's up to 20,855, never the 8 beyond.
    const std::uint32_t kept = name == "full" ? 0xA5 : core::BuiltInSettingsImage()[20000];
    EXPECT_EQ(record[20000], kept) << name;
    EXPECT_EQ(record[20855], name == "full" ? 0x5A : core::BuiltInSettingsImage()[20855]) << name;
    for (std::size_t i = 20856; i < SettingsSize; ++i)
      ASSERT_EQ(record[i], core::BuiltInSettingsImage()[i]) << name << " " << i;
    EXPECT_EQ(Find("ANNA@a.test"), "ann") << name;
    EXPECT_EQ(Find("bob@A.test"), "bob") << name;
    EXPECT_EQ(Find("carl@b.test"), "carl") << name;
    EXPECT_EQ(Find("zed@a.test"), "") << name;  // half a record is none
  }
}

TEST_F(SendingConfig, AddressesFindTheirAccountsInTheFiles) {
  settings(Served(2).U8(settings::Id88, 1));
  domains({"a.test", "b.test"});
  users("a.test", Users({{.aliases = "John;jd", .mailbox = "john"},
                         {.aliases = "john:smith", .mailbox = "colon"},
                         {.aliases = "[staff];{..\\x}", .mailbox = "staff"},
                         {.aliases = "john;carl", .mailbox = "either"}}));
  users("b.test", Users({{.aliases = "carl", .mailbox = "carl"}}));
  domainRecord("a.test", 0);
  WriteAll(config + "groups.dat", "[staff]\r\nmary\r\n");
  WriteAll(config + "subdomains.dat", "mail.a.test=a.test\r\n");
  ASSERT_TRUE(sender::LoadSendingConfig());
  const std::pair<const char*, const char*> rows[] = {
      {"\"john:smith\"@a.test", "john"},  // quoted: the text before the colon
      {"john:smith@a.test", "colon"},     // unquoted: the colon and what follows
      {"John Doe <JD@A.TEST>", "john"},   // any case
      {"jd", "john"},                     // no "@": the first domain
      {"jd@mail.a.test", "john"},         // an alias of the domain: the table's name names the file
      {"mary@a.test", "staff"},           // through the group
      {"carl@a.test", "either"},          // its own domain first
      {"nobody@c.test", ""},              // not served
      {"john;carl@a.test", ""},           // a list would find an account holding either
      {"[staff]@a.test", ""},             // a group reference is no alias,
      {"{..\\x}@a.test", ""},             // nor an include, whatever the list holds
  };
  for (const auto& [address, mailbox] : rows)
    EXPECT_EQ(Find(address), mailbox) << address;

  // Another domain's alias: only while setting 88 is on and the domain's setting 1 is 0.
  users("a.test", Users({{.aliases = "john", .mailbox = "john"}}));
  EXPECT_EQ(Find("carl@a.test"), "carl");
  domainRecord("a.test", 1);
  EXPECT_EQ(Find("carl@a.test"), "");
  domainRecord("a.test", 0);
  settings(Served(2).U8(settings::Id88, 0));
  ASSERT_TRUE(sender::LoadSendingConfig());
  EXPECT_EQ(Find("carl@a.test"), "");
  settings(Served(2).U8(settings::StorageMode, 3));
  ASSERT_TRUE(sender::LoadSendingConfig());
  EXPECT_EQ(Find("john@a.test"), "");
}

// The cached answer holds while "users.cfg" is unchanged, and an alias
// longer than a cache key is never served from another alias's entry.
TEST_F(SendingConfig, CachedAnswersFollowTheFile) {
  settings(Served(1));
  domains({"a.test"});
  const std::string a(130, 'a');
  users("a.test", Users({{.aliases = "ann", .mailbox = "one"},
                         {.aliases = a + "1", .mailbox = "long1"},
                         {.aliases = a + "2", .mailbox = "long2"}}));
  ASSERT_TRUE(sender::LoadSendingConfig());
  EXPECT_EQ(Find("ann@a.test", true), "one");
  EXPECT_EQ(Find(a + "1@a.test", true), "long1");
  EXPECT_EQ(Find(a + "2@a.test", true), "long2");
  users("a.test", Users({{.aliases = "ann", .mailbox = "two"}}));
  EXPECT_EQ(Find("ann@a.test", true), "two");
}

// Storage mode 2 on the stand-in back end.
class SendingBackEnd : public SendingConfig {
 protected:
  void SetUp() override {
    ASSERT_TRUE(::CopyFileA(DB_STANDIN_PATH, (root + "DB.dll").c_str(), FALSE));
    // Calls take no lock 5 here: the unload must wait for a call all the same.
    settings(Served(0).U8(settings::StorageMode, 2).U8(settings::NoBackEndLock, 1));
    ASSERT_TRUE(sender::LoadSendingConfig());
    ASSERT_TRUE(core::IsDBLoaded());
    ASSERT_EQ(control<standin::LoadFixtureProc>("StandinLoadFixture")(
                  "domain|example.com\naccount|example.com|john.doe;jd|john|pw\n"),
              2);
  }
  void TearDown() override {
    core::SetRecordCacheClock(nullptr);
    SendingConfig::TearDown();
  }
  template <typename Proc>
  Proc control(const char* name) const {
    return reinterpret_cast<Proc>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA((root + "DB.dll").c_str()), name)));
  }
  // The addresses DBGetLocalUser received, one a line.
  std::string asked() const {
    const auto read = control<standin::CallLogProc>("StandinLocalUserAddresses");
    std::string text(4096, '\0');
    text.resize(static_cast<std::size_t>(std::min(read(text.data(), 4096), 4095)));
    return text;
  }
  std::size_t calls() const {
    const std::string log = testinst::ReadAll(root + "standin-calls.log");
    std::size_t count = 0;
    for (std::size_t at = log.find("DBGetLocalUser"); at != std::string::npos; at = log.find("DBGetLocalUser", at + 1))
      ++count;
    return count;
  }
};

std::chrono::steady_clock::time_point g_now;
std::chrono::steady_clock::time_point TestClock() { return g_now; }

TEST_F(SendingBackEnd, TheBackEndGetsTheAddressAsWritten) {
  EXPECT_EQ(Find("John.Doe@Example.com"), "john");
  for (const char* refused : {"jd;x@example.com", "[staff]@example.com", "{..\\x}@example.com"})
    EXPECT_EQ(Find(refused), "") << refused;
  EXPECT_EQ(asked(), "John.Doe@Example.com\n");
  const auto raise = control<standin::RaiseInCallProc>("StandinRaiseInCall");
  for (const std::int32_t kind : {standin::RaiseCustom, standin::RaiseAccessViolation}) {
    raise("DBGetLocalUser", kind);
    EXPECT_EQ(Find("jd@example.com"), "") << kind;
    raise("DBGetLocalUser", standin::RaiseNothing);
    EXPECT_EQ(Find("jd@example.com"), "john") << kind;
  }
  core::UnloadDBLibrary();
  const std::size_t before = calls();
  EXPECT_EQ(Find("jd@example.com"), "");
  EXPECT_EQ(calls(), before);
}

// An entry serves for 30 seconds after its store, however often it is asked for.
TEST_F(SendingBackEnd, CachedAnswersLastThirtySecondsFromTheirStore) {
  g_now = std::chrono::steady_clock::time_point(std::chrono::hours(1));
  core::SetRecordCacheClock(&TestClock);
  EXPECT_EQ(Find("jd@example.com", true), "john");
  const std::size_t stored = calls();
  for (int age : {10, 20, 30}) {
    g_now = std::chrono::steady_clock::time_point(std::chrono::hours(1)) + std::chrono::seconds(age);
    EXPECT_EQ(Find("JD@example.com", true), "john") << age;
    EXPECT_EQ(calls(), stored) << age;
  }
  g_now += std::chrono::seconds(1);
  EXPECT_EQ(Find("jd@example.com", true), "john");
  EXPECT_EQ(calls(), stored + 1);
}

// The library is freed only once the call in flight returned (freed under
// it, the call would run into unmapped code).
TEST_F(SendingBackEnd, AnUnloadWaitsForTheCallInFlight) {
  ASSERT_EQ(Find("jd@example.com"), "john");  // the domains are fetched: one call to come
  control<standin::SetCallDelayProc>("StandinSetCallDelay")(300);
  std::string found;
  std::thread lookup([&] { found = Find("jd@example.com"); });
  const auto lines = [&] {
    const std::string text = asked();
    return std::count(text.begin(), text.end(), '\n');
  };
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (lines() < 2 && std::chrono::steady_clock::now() < until)
    ::Sleep(5);
  core::UnloadDBLibrary();
  lookup.join();
  EXPECT_EQ(found, "john");
  EXPECT_FALSE(core::IsDBLoaded());
}

}  // namespace
