#include "core/accounts/AccountHooks.h"

#include <utility>

namespace core {
namespace {

// Installed while the library starts, before any caller runs.
GroupMemberTest g_groupTest;
ImportMessagesHook g_importMessages;
SyncUserHook g_syncUser;

}  // namespace

void SetAccountGroupTest(GroupMemberTest test) { g_groupTest = std::move(test); }
const GroupMemberTest& AccountGroupTest() { return g_groupTest; }
void SetImportMessagesHook(ImportMessagesHook hook) { g_importMessages = std::move(hook); }
void SetSyncUserHook(SyncUserHook hook) { g_syncUser = std::move(hook); }

void RunImportMessagesHook(const AccountRecordBytes& record, std::string_view domain) {
  if (g_importMessages) g_importMessages(record, domain);
}

void RunSyncUserHook(SyncMode mode, const AccountRecordBytes& record, const AccountRecordBytes* replaced,
                     std::string_view domain) {
  if (g_syncUser) g_syncUser(mode, record, replaced, domain);
}

}  // namespace core
