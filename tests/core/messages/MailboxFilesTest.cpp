// Message files on disk under Wine: names, the header rewrite, welcome
// messages through the account store, address lists on real files, and the
// conversion's failure paths (the conversion itself is checked against
// Python's smtplib, aiosmtpd and zipfile by mailbox_oracle_test.py).
#include "core/messages/MailboxFiles.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/accounts/AccountStore.h"
#include "core/config/ConfigStore.h"
#include "core/messages/AddressListFiles.h"
#include "core/messages/MessageText.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"
#include "core/platform/System.h"
#include "core/startup/ConfigLoad.h"
#include "core/util/Numbers.h"
#include "tests/support/installation.h"

namespace core {
namespace {

using namespace records;
using testinst::WriteAll;
std::string Read(const std::string& name) {
  std::string text;
  return ReadFileToString(name, false, text) ? text : "<missing>";
}
class MailboxTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testinst::StartLibraryProcess(); }
  void SetUp() override {
    // Three domains, welcome messages on.
    ASSERT_TRUE(install.Install(SettingsFile(3)
                                    .U8(settings::StorageMode, 1)
                                    .U8(settings::WelcomeMessages, 1)
                                    .Text(settings::MailFolder, mail)
                                    .Text(settings::TempFolder, root + "temp\\"),
                                {"a.test", "b.test", "c.test"}));
  }
  void TearDown() override { SetSystemVariablesHook(nullptr); }
  testinst::Installation install{"mailbox"};
  const std::string root = install.root, config = install.config, mail = root + "mail\\";
};

TEST_F(MailboxTest, NamesSkipTakenOnesAndTheHeaderRewriteKeepsTheOldFileUntilDone) {
  const std::string folder = root + "names\\";
  const std::string first = NewMessageFileName(folder, ".tmp");
  ASSERT_EQ(first.size(), folder.size() + 14 + 4 + 4) << first;  // created the folder too
  ASSERT_TRUE(DirectoryExists(folder));
  const std::string stamp = first.substr(0, first.size() - 8);
  const std::uint32_t counter = HexToInt(first.substr(first.size() - 8, 4));
  for (std::uint32_t taken = counter + 1; taken <= counter + 3; ++taken)
    WriteAll(stamp + IntToHex8(static_cast<std::int32_t>(taken)).substr(4) + ".tmp", "");
  const std::string next = NewMessageFileName(folder, ".tmp");
  EXPECT_FALSE(FileExists(next));
  EXPECT_EQ(HexToInt(next.substr(next.size() - 8, 4)),
            next.compare(0, stamp.size(), stamp) == 0 ? counter + 4 : counter + 1);

  const std::string message = root + "m.tmp";
  WriteAll(message, "Subject: old\r\nX: 1\r\n\r\nbody\r\n.\r\n");
  MessageContext context;
  context.messageFile = root + "missing.tmp";
  EXPECT_FALSE(SetMessageFileHeader(context, "Subject: ", "new", true, false));
  EXPECT_EQ(context.messageFile, root + "missing.tmp");
  context.messageFile = message;
  ASSERT_TRUE(SetMessageFileHeader(context, "Subject: ", "new", true, false));
  EXPECT_FALSE(FileExists(message));
  EXPECT_EQ(context.messageFile.rfind(root + "temp\\", 0), 0u) << context.messageFile;
  EXPECT_EQ(Read(context.messageFile), "Subject: new\r\nX: 1\r\n\r\nbody\r\n.\r\n");
}

TEST_F(MailboxTest, ConversionFailuresWriteNothing) {
  EXPECT_FALSE(ConvertMailboxMessages("", false));
  EXPECT_FALSE(ConvertMailboxMessages("a.test\\bob", false));  // no source: no inbox either
  EXPECT_FALSE(DirectoryExists(mail + "a.test\\bob\\inbox"));
  const std::string box = mail + "a.test\\ann\\";
  ForceDirectory(box);
  WriteAll(box + "held.tmp", "x\r\n.\r\n");
  const std::string target = box + "inbox\\held-" + ImapHeaderText(GetFileStamp(box + "held.tmp")) + ".imap";
  HANDLE held = CreateFileA((box + "held.tmp").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_TRUE(ConvertMailboxMessages("a.test\\ann", false));  // found, but it cannot be read
  CloseHandle(held);
  EXPECT_FALSE(FileExists(target));
  WriteAll(target, "old");  // an earlier run's target is replaced; no temporary file stays
  EXPECT_TRUE(ConvertMailboxMessages("a.test\\ann", false));
  EXPECT_EQ(Read(target), target.substr(target.size() - 29, 24) + "\r\nx");
  WIN32_FIND_DATAA entry{};
  EXPECT_EQ(FindFirstFileA((box + "inbox\\*.~*").c_str(), &entry), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ImapToTmpMessage(box + "none.imap", box + "none.tmp"));
  EXPECT_FALSE(FileExists(box + "none.tmp"));
  EXPECT_FALSE(AppendUnstuffedMessage(box + "none.imap", box + "held.tmp"));
}

TEST_F(MailboxTest, WelcomeMessagesThroughTheAccountStore) {
  WriteAll(config + "messages.dat", "# welcome texts\r\nC.TEST=" + root + "empty.txt\r\nb.test " + root +
                                        "b.txt\r\n* = " + root + "any.txt\r\n");
  WriteAll(root + "empty.txt", "");
  WriteAll(root + "b.txt", "Subject: b\r\n\r\n.\r\n");
  WriteAll(root + "any.txt", "Subject: hi\r\n\r\n.\r\nbye");
  const auto add = [](int domain, const std::string& alias, bool imap) {
    AccountRecordBytes record{};
    PutText(record.data(), user::Aliases, alias + ";second");
    PutText(record.data(), user::MailboxPath, alias);
    record[user::MailboxType] = imap ? 1 : 0;
    return WriteAccountRecord(domain, record, -1);
  };
  ASSERT_TRUE(add(0, "ann", false));
  EXPECT_EQ(Read(mail + "ann\\welcome.tmp"), "Subject: hi\r\n\r\n..\r\nbye\r\n.\r\n");
  ASSERT_TRUE(add(1, "bob", true));
  const std::string imap = Read(mail + "bob\\inbox\\welcome.imap");
  EXPECT_EQ(imap.substr(0, 16) + "|" + imap.substr(24), "0000000000000000|\r\nSubject: b\r\n\r\n.\r\n");
  ASSERT_TRUE(add(2, "carl", false));
  EXPECT_FALSE(DirectoryExists(mail + "carl"));  // its line names an empty template
  AccountRecordBytes pathless{};
  PutText(pathless.data(), user::Aliases, "eve");
  ASSERT_TRUE(WriteAccountRecord(0, pathless, -1));
  EXPECT_FALSE(FileExists(mail + "welcome.tmp"));  // not into the mail root

  MessageContext seen;
  SetSystemVariablesHook([&](MessageContext& context) {
    seen = context;
    context.messageFile = root + "expanded.tmp";
    WriteAll(context.messageFile, "expanded");
    return true;
  });
  WriteAll(root + "any.txt", "Hello %%Recipient%%");
  ASSERT_TRUE(add(0, "dora", false));
  EXPECT_EQ(seen.sender + seen.recipients, "<dora@a.test><dora@a.test>");
  EXPECT_EQ(Read(mail + "dora\\welcome.tmp"), "expanded");
  EXPECT_FALSE(FileExists(root + "expanded.tmp"));
}

TEST_F(MailboxTest, AddressListsOnConfigurationFiles) {
  const std::string list = config + "ldapbypass.dat";
  WriteAll(list, "@Partner.example\r\n{inc.dat}\r\n");
  WriteAll(config + "inc.dat", "{ldapbypass.dat}\r\n192.0.2.*\r\nboss@*\r\n");  // relative, and a cycle
  EXPECT_FALSE(AddressNotInList("Ann <ann@partner.example>", list));
  EXPECT_FALSE(AddressNotInList("boss@x.example", list));
  EXPECT_TRUE(AddressNotInList("ann@x.example", list));

  MessageContext context;
  context.sender = "<ann@x.example>";
  context.recipients = "a@y.example;boss@z.example;";
  context.hasIPText = true;
  context.ipText = "192.0.2.7";
  EXPECT_FALSE(CheckAddressList(context, list));
  context.ipText = "198.51.100.1";
  EXPECT_TRUE(CheckAddressList(context, list));  // one recipient unless counted
  context.recipientCount = 2;
  EXPECT_FALSE(CheckAddressList(context, list));

  EXPECT_TRUE(AddressNotInList("ann@a.test", list));
  WriteAll(list + ".local.dat", "");
  EXPECT_FALSE(AddressNotInList("ann@a.test", list));    // within a served domain
  EXPECT_TRUE(AddressNotInList("ann@x.example", list));  // not served
}

}  // namespace
}  // namespace core
