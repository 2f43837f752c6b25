#pragma once
// What the account store asks of units above it (the groups file, message
// import, directory synchronisation). Each is installed by its unit when the
// library starts; until then the store runs without it.
#include <functional>
#include <string_view>

#include "core/accounts/AccountRecord.h"
#include "core/util/ListMatch.h"

namespace core {

// Group references in alias lists ("[Staff]") resolved through "groups.dat".
void SetAccountGroupTest(GroupMemberTest test);
const GroupMemberTest& AccountGroupTest();

// A new kind-0 account gets the messages of "messages.dat" (welcome
// messages on, the account's own switch off).
using ImportMessagesHook = std::function<void(const AccountRecordBytes& record, std::string_view domain)>;
void SetImportMessagesHook(ImportMessagesHook hook);

// Directory synchronisation after a write or deletion: mode 0 add, 1 modify,
// 2 delete; replaced is the record the write replaced (null for an add).
enum class SyncMode { Add = 0, Modify = 1, Delete = 2 };
using SyncUserHook = std::function<void(SyncMode mode, const AccountRecordBytes& record,
                                        const AccountRecordBytes* replaced, std::string_view domain)>;
void SetSyncUserHook(SyncUserHook hook);

// Used by the store.
void RunImportMessagesHook(const AccountRecordBytes& record, std::string_view domain);
void RunSyncUserHook(SyncMode mode, const AccountRecordBytes& record, const AccountRecordBytes* replaced,
                     std::string_view domain);

}  // namespace core
