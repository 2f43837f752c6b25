// The account index answers every uniqueness question as the walks over
// the account files do, while the library changes the file and when another
// program rewrites it.
#include "core/lists/AccountIndex.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "core/accounts/AccountStore.h"
#include "core/config/ConfigStore.h"
#include "core/lists/AccountLists.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"
#include "core/platform/System.h"
#include "core/startup/ConfigLoad.h"
#include "tests/support/installation.h"

namespace {

using namespace core;

using namespace records;
using testinst::WriteAll;

AccountRecordBytes Account(const std::string& aliases, const std::string& mailbox, const std::string& password,
                           std::uint8_t kind = 0) {
  return NewAccount{.aliases = aliases, .mailbox = mailbox, .password = password, .kind = kind}
      .Make<AccountRecordBytes>();
}

// Alias lists that exercise the matcher's corners: blanks, empty items,
// single items, case, group references, kinds other than 0.
const AccountRecordBytes Accounts[] = {
    Account("ann;Anna.B", "ann", "p1"), Account("bob;[Staff]", "bob", "p2"), Account(" ; carl ", "Carl", "p1"),
    Account("dan", "dan", "P3"),        Account("eve;;Eve2;", "eve", ""),    Account("svc", "ANN", "p1", 3),
};
const char* const Lists[] = {"ann",     "ANNA.b ",    "x;anna.b", "carl",  " ; ",  ";",  "",
                             "  ",      "ann@a.test", "dan;",     "dan ",  "eve2", "zz", "bob",
                             "[staff]", "a;b;c;EVE",  "x;;y",     "blank", "svc"};
struct Mailbox {
  const char *mailbox, *password, *aliases;
  int domain;
};
const Mailbox Mailboxes[] = {{"ANN", "p1", "new", 0}, {"ann", "p1", "ann", 0},   {"ann", "p9", "q", 0},
                             {"x", "p1", "q", 1},     {"x", "p1", "yan", 1},     {"eve", "", "q", 0},
                             {"dan", "p3", "q", 0},   {"carl", "p1", "carl", 0}, {"blank", "p4", "z", 0},
                             {"X", "p1", "q", 0}};

class AccountIndexTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testinst::StartLibraryProcess(); }
  void SetUp() override {
    for (const std::string name : {"a.test", "b.test"})
      CreateDirectoryA((config + name).c_str(), nullptr);
    WriteAll(config + "groups.dat", "[Staff]\nann@a.test\n");
    ASSERT_TRUE(install.Install(SettingsFile(2), {"a.test", "b.test"}));
    ForgetAccountIndexes();
  }

  // Every list and mailbox question, asked of the index and of the walk.
  void ExpectSameAnswers(const char* when) {
    for (const char* list : Lists)
      EXPECT_EQ(IndexedCheckNewAlias("a.test", list), CheckNewAlias("a.test", list)) << when << ": " << list;
    for (const Mailbox& m : Mailboxes)
      EXPECT_EQ(IndexedCheckForMailbox(m.mailbox, m.password, m.aliases, m.domain),
                CheckForMailbox(m.mailbox, m.password, m.aliases, m.domain))
          << when << ": " << m.mailbox << "/" << m.password << "/" << m.aliases << " in " << m.domain;
  }

  testinst::Installation install{"indextest"};
  const std::string root = install.root, config = install.config;
};

TEST_F(AccountIndexTest, AnswersAsTheWalksWhileTheFileChanges) {
  ExpectSameAnswers("no account file");
  for (const AccountRecordBytes& account : Accounts)
    ASSERT_TRUE(WriteAccountRecord(0, account, -1));
  ASSERT_TRUE(WriteAccountRecord(1, Account("yan", "x", "p1"), -1));
  ExpectSameAnswers("built from the files");
  // Values written out, so that the index and the walk cannot share a fault.
  EXPECT_FALSE(IndexedCheckNewAlias("a.test", "ann@a.test"));  // a member of bob's group
  EXPECT_FALSE(IndexedCheckNewAlias("a.test", "x;;y"));        // the empty item of eve's list
  EXPECT_TRUE(IndexedCheckNewAlias("a.test", "zz"));
  EXPECT_TRUE(IndexedCheckForMailbox("ann", "p1", "ann", 0));  // the kind-3 record svc
  EXPECT_FALSE(IndexedCheckForMailbox("x", "p1", "yan", 1));
  EXPECT_TRUE(IndexedCheckForMailbox("X", "p1", "q", 0));  // yan of the other domain

  // The library's own changes, each followed by the index.
  AccountRecordBytes old{};
  ASSERT_EQ(ReadAccountRecord(0, old, 0), 6);
  const AccountRecordBytes replaced = Account("ann;zz;[Staff]", "ann", "p5");
  ASSERT_TRUE(WriteAccountRecord(0, replaced, 0));
  NoteAccountChange("a.test", &old, &replaced);
  ExpectSameAnswers("after a replacement");
  const AccountRecordBytes added = Account("x", "dan", "p3");
  ASSERT_TRUE(WriteAccountRecord(0, added, -1));
  NoteAccountChange("A.TEST", nullptr, &added);
  ExpectSameAnswers("after an append");
  AccountRecordBytes removed{};
  ASSERT_TRUE(DeleteAccountRecord(0, 1, &removed));
  NoteAccountChange("a.test", &removed, nullptr);
  ExpectSameAnswers("after a deletion");

  // A change the index was not told of: two of ours, or another program's.
  ASSERT_TRUE(WriteAccountRecord(0, Account("late", "late", "p1"), -1));
  ASSERT_TRUE(DeleteAccountRecord(0, 0));
  NoteAccountChange("a.test", nullptr, nullptr);
  ExpectSameAnswers("after untold changes");
  // Also a record the library never writes: blanks for aliases.
  std::string file;
  for (const AccountRecordBytes& r : {Account("outside", "ann", "p1"), Account("   ", "blank", "p4")})
    file.append(reinterpret_cast<const char*>(r.data()), AccountRecordSize);
  WriteAll(config + "a.test\\users.cfg", ScrambledRecords(file, AccountSize));
  ExpectSameAnswers("after another program's rewrite");
  EXPECT_FALSE(IndexedCheckNewAlias("a.test", "outside"));
}

}  // namespace
