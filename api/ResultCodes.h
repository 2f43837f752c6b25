#pragma once
// The one place where the core's outcomes become the exported result codes
// of include/Api.h.
#include <cstdint>

#include "core/accounts/AccountRecord.h"
#include "core/config/SettingsRecord.h"
#include "core/db/DbInterface.h"
#include "core/util/Status.h"
#include "include/Api.h"

namespace api {

// The record sizes are written out in the public header, the settings tables
// and the back-end interface: all must agree.
static_assert(API_SETTINGS_RECORD_SIZE == core::SettingsRecordSize);
static_assert(API_ACCOUNT_RECORD_SIZE == core::AccountRecordSize &&
              core::DbAccountRecordSize == static_cast<int>(core::AccountRecordSize));
static_assert(API_DOMAIN_RECORD_SIZE == core::DomainRecordSize &&
              core::DbDomainRecordSize == static_cast<int>(core::DomainRecordSize));
static_assert(API_REMOTE_ACCOUNT_RECORD_SIZE == core::RemoteAccountRecordSize);
// So must the account fields the back-end interface names.
static_assert(core::DbAccountAliasOffset == static_cast<int>(core::account::AliasList.offset) &&
              core::DbAccountMailboxOffset == static_cast<int>(core::account::MailboxName.offset) &&
              core::DbAccountPasswordOffset == static_cast<int>(core::account::Password.offset));

constexpr std::int32_t ResultCode(core::Status status) {
  switch (status) {
    case core::Status::Ok:
      return API_OK;
    case core::Status::Failed:
    case core::Status::NotFound:
      return API_FAILED;
    case core::Status::BadArgument:
      return API_BAD_ARGUMENT;
    case core::Status::Unreadable:
      return API_SETTINGS_UNREADABLE;
    case core::Status::NotInitialised:
      return API_NOT_INITIALISED;
  }
  return API_FAILED;
}

// A count, index or byte count as it is; a failure as its code.
constexpr std::int32_t ResultCode(core::Outcome outcome) {
  return outcome.ok() ? outcome.value : ResultCode(outcome.status);
}

}  // namespace api
