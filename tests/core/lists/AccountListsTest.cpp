// The checks and files above the account store, under Wine.
#include "core/lists/AccountLists.h"

#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "core/accounts/AccountStore.h"
#include "core/config/ConfigStore.h"
#include "core/domains/DomainBindings.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"
#include "core/platform/System.h"
#include "core/startup/ConfigLoad.h"
#include "tests/support/installation.h"

namespace {

using namespace core;

using namespace testinst;

AccountRecordBytes Account(const std::string& aliases, const std::string& mailbox, const std::string& password) {
  return NewAccount{.aliases = aliases, .mailbox = mailbox, .password = password}.Make<AccountRecordBytes>();
}

class ListsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartLibraryProcess(); }
  // Three domains with their folders; the mail folder under the root.
  void SetUp() override {
    for (const char* name : {"a.test", "b.test", "c.test"})
      CreateDirectoryA((config + name).c_str(), nullptr);
    ASSERT_TRUE(
        install.Install(SettingsFile(3).Text(settings::MailFolder, root + "mail\\"), {"a.test", "b.test", "c.test"}));
  }

  testinst::Installation install{"liststest"};
  const std::string& root = install.root;
  const std::string& config = install.config;
};

TEST_F(ListsTest, NewAliasesWithGroupsAndAFileThatCannotBeRead) {
  WriteAll(config + "groups.dat", "[Staff]\nann@a.test\n");
  ASSERT_TRUE(WriteAccountRecord(0, Account("bob;[Staff]", "bob", "p"), -1));
  EXPECT_TRUE(CheckNewAlias("a.test", "carl"));
  EXPECT_FALSE(CheckNewAlias("A.TEST", "x; BOB"));
  EXPECT_FALSE(CheckNewAlias("a.test", "ann@a.test"));  // a member of the account's group
  EXPECT_TRUE(CheckNewAlias("b.test", "bob"));          // no account file: no conflict
  EXPECT_EQ(FindAccountIndex(0, "ann@a.test"), 0);
  ASSERT_TRUE(WriteAccountRecord(1, Account("[Staff]", "staff", "p"), -1));  // a group alone
  EXPECT_EQ(FindAccountIndex(1, "Ann@A.test"), 0);
  EXPECT_EQ(FindAccountIndex(1, "eve@a.test"), -1);
  EXPECT_FALSE(CheckNewAlias("b.test", "ann@a.test"));
  HANDLE held =
      CreateFileA((config + "a.test\\users.cfg").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(CheckNewAlias("a.test", "carl"));  // unreadable: counted as a conflict
  EXPECT_TRUE(CheckForMailbox("nobody", "p", "carl", 0));
  CloseHandle(held);
}

TEST_F(ListsTest, MailboxNamesAcrossDomainsBoundToOneAddress) {
  ASSERT_TRUE(WriteAccountRecord(1, Account("box", "Box", "pw"), -1));
  EXPECT_TRUE(CheckForMailbox("box", "pw", "new", 0));  // unbound: every domain is searched
  EXPECT_FALSE(CheckForMailbox("box", "other", "new", 0));
  EXPECT_FALSE(CheckForMailbox("box", "", "new", 0));    // an empty password never conflicts
  EXPECT_FALSE(CheckForMailbox("box", "pw", "box", 1));  // the account being saved itself
  int found = -1;
  EXPECT_FALSE(FindDomainByIP("192.0.2.1", found));
  WriteDomainBind(0, "192.0.2.1", false);
  WriteDomainBind(1, "192.0.2.1", false);
  WriteDomainBind(2, "192.0.2.8; 192.0.2.9", false);
  const struct {
    const char* ip;
    int index;  // -1: none
  } byAddress[] = {{"192.0.2.1", 0}, {"192.0.2.9", 2}, {"192.0.2.8", 2}, {"192.0.2.7", -1}, {"", -1}};
  for (const auto& c : byAddress) {
    found = -1;
    EXPECT_EQ(FindDomainByIP(c.ip, found), c.index >= 0) << c.ip;
    EXPECT_EQ(found, c.index) << c.ip;
  }
  EXPECT_TRUE(CheckForMailbox("BOX", "pw", "new", 0));   // another domain on the same address
  EXPECT_FALSE(CheckForMailbox("box", "pw", "new", 2));  // on another address
  EXPECT_FALSE(CheckForMailbox("box", "pw", "new", 1));  // a bound domain does not search itself
  SetU8(Settings().data(), ConfigField("FullAddressLogin"), 1);
  EXPECT_FALSE(CheckForMailbox("box", "pw", "new", 0));
}

TEST_F(ListsTest, MailboxPathsDomainFileSizesAndDeletableFolders) {
  const std::string mail = root + "mail\\";
  EXPECT_EQ(GetMailboxPath("a.test\\ann", true, ""), mail + "a.test\\ann\\inbox\\");
  EXPECT_EQ(GetMailboxPath("D:\\boxes\\ann\\", false, ""), "D:\\boxes\\ann\\");
  EXPECT_EQ(GetMailboxPath("x", true, std::string(62, 'f') + "gh;second"), mail + "x\\" + std::string(62, 'f') + "g\\");

  AccountRecordBytes ann = Account("ann", "ann", "p");
  PutText(ann.data(), user::MailboxPath, "a.test\\ann");
  WriteMailboxDomainFile(ann, std::string(120, 'd'));
  std::string text;
  ASSERT_TRUE(ReadFileToString(mail + "a.test\\ann\\domain.dat", false, text));
  EXPECT_EQ(text, std::string(95, 'd') + "\r\n");
  WriteMailboxDomainFile(ann, "other");  // exists: unchanged
  ReadFileToString(mail + "a.test\\ann\\domain.dat", false, text);
  EXPECT_EQ(text.size(), 97u);

  const std::string box = mail + "a.test\\ann\\";
  ForceDirectory(box + "inbox");
  WriteAll(box + "1.imap", std::string(100, 'x'));
  WriteAll(box + "inbox\\2.tmp", std::string(50, 'x'));
  WriteAll(box + "inbox\\3.txt", std::string(70, 'x'));
  std::uint64_t size = 1;
  std::uint32_t count = 0, oldest = 0xFFFFFFFFu;
  GetMailboxSize(box, size, count, oldest);
  EXPECT_EQ(size, 151u);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(oldest, GetFileStamp(box + "1.imap") < GetFileStamp(box + "inbox\\2.tmp")
                        ? GetFileStamp(box + "1.imap")
                        : GetFileStamp(box + "inbox\\2.tmp"));

  EXPECT_TRUE(IsDeletableMailboxFolder(box));
  for (const auto& [name, absolute] : {std::pair<std::string, bool>{"C:\\x.dat", true},
                                       {"\\\\server\\share\\x.dat", true},
                                       {"sub\\x.dat", false},
                                       {"\\x.dat", false},
                                       {"", false}}) {
    EXPECT_EQ(IsAbsolutePath(name), absolute) << name;
    EXPECT_EQ(ConfigFilePath(name), absolute || name.empty() ? name : config + name) << name;
  }

  for (const std::string& folder : {mail, mail.substr(0, mail.size() - 1), root, config, root + "..\\", box + "..\\..",
                                    std::string("C:\\"), std::string("\\\\server\\share\\")})
    EXPECT_FALSE(IsDeletableMailboxFolder(folder)) << folder;
}

// A sparse 5 GiB message file takes no room but must still be counted whole.
TEST_F(ListsTest, MailboxSizesAboveFourGigabytes) {
  const std::string box = root + "mail\\big\\";
  ForceDirectory(box);
  WriteAll(box + "small.imap", std::string(10, 'x'));
  HANDLE file = CreateFileA((box + "huge.imap").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD returned = 0;
  DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LARGE_INTEGER end{};
  end.QuadPart = 5LL << 30;
  const bool sized = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  CloseHandle(file);
  if (!sized) GTEST_SKIP() << "no 5 GiB file on this file system";
  std::uint64_t size = 0;
  std::uint32_t count = 0, oldest = 0xFFFFFFFFu;
  GetMailboxSize(box, size, count, oldest);
  EXPECT_EQ(size, 5368709130ull);
  EXPECT_EQ(count, 2u);
}

TEST_F(ListsTest, DefaultsFromTheFileAndAddressesSplit) {
  WriteAll(root + "default.ini", "maxmessagesize = 4096\r\nDomainAdminRights= 3;4 \r\nDomainAV=1\r\n");
  AccountRecordBytes account{};
  account.fill(0xEE);
  ApplyDefaultsIni(true, account.data(), false, {});
  EXPECT_EQ(UAt(account.data(), user::MaxMessageSize, 2), 4096u);
  EXPECT_EQ(account[user::Kind], 0);
  ApplyDefaultsIni(false, nullptr, true, {});
  EXPECT_EQ(DomainAdminRights(), "3;4");
  std::string alias, domain;
  SplitEmailAddress("Ann <ann@b.test>", alias, domain);
  EXPECT_EQ(alias + "|" + domain, "ann|b.test");
  SplitEmailAddress("plain", alias, domain);
  EXPECT_EQ(alias + "|" + domain, "plain|a.test");
}

TEST_F(ListsTest, TheLdapHostIsTheFirstListedServerWhenItsSwitchIsOn) {
  const struct {
    std::uint8_t on;
    const char* list;
    const char* host;
  } cases[] = {{0, " host1 ; h2", "localhost"},
               {1, " host1 ; h2", "host1"},
               {1, "single", "single"},
               {1, " ; h2", "localhost"},
               {1, "", "localhost"}};
  for (const auto& c : cases) {
    Settings()[settings::LdapServer] = c.on;
    PutText(Settings().data(), settings::Id39, c.list);
    EXPECT_EQ(GetLDAPHost(), c.host) << int(c.on) << " '" << c.list << "'";
  }
}

}  // namespace
