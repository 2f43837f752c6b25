// Configuration settings by id and record setting ids. The configuration
// exports work on the shared settings record; the record exports only on the
// caller's buffer, through a working copy so a failed set changes nothing.
#include <cstring>
#include <vector>

#include "api/ApiLock.h"
#include "api/Exports.h"
#include "api/ResultCodes.h"
#include "api/Session.h"
#include "core/config/ConfigStore.h"
#include "core/config/SettingTransfer.h"

using namespace api;

namespace {

core::SettingContext Context(const std::string& configFolder) {
  core::SettingContext context;
  context.configFolder = configFolder;
  context.settings = core::Settings().data();
  return context;
}

std::int32_t GetRecordSetting(core::SettingFamily family, const void* record, std::int32_t recordLen, std::int32_t id,
                              void* value, std::int32_t valueLen) {
  try {
    SharedStateGuard guard;
    if (!IsInitialised()) return ResultNotInitialised;
    const std::size_t size = core::RecordSize(family);
    if (record == nullptr || recordLen < 0 || static_cast<std::size_t>(recordLen) < size) return ResultBadArgument;
    std::vector<std::uint8_t> copy(size);
    std::memcpy(copy.data(), record, size);
    const std::string folder = core::ConfigFolder();
    return core::GetSetting(family, id, copy.data(), value, valueLen, Context(folder));
  } catch (...) {
    return ResultFailed;
  }
}

std::int32_t SetRecordSetting(core::SettingFamily family, void* record, std::int32_t recordLen, std::int32_t id,
                              const void* value, std::int32_t valueLen) {
  try {
    SharedStateGuard guard;
    if (!IsInitialised()) return ResultNotInitialised;
    const std::size_t size = core::RecordSize(family);
    if (record == nullptr || recordLen < 0 || static_cast<std::size_t>(recordLen) < size) return ResultBadArgument;
    std::vector<std::uint8_t> copy(size);
    std::memcpy(copy.data(), record, size);
    const std::int32_t result = core::SetSetting(family, id, copy.data(), value, valueLen);
    // The working copy goes back whole, unchanged when the id does not exist.
    std::memcpy(record, copy.data(), size);
    return result;
  } catch (...) {
    return ResultFailed;
  }
}

}  // namespace

API_EXPORT std::int32_t GetConfigSetting(std::int32_t id, void* buffer, std::int32_t bufLen) {
  try {
    SharedStateGuard guard;
    if (!IsInitialised()) return ResultNotInitialised;
    const std::string folder = core::ConfigFolder();
    return core::GetSetting(core::SettingFamily::Config, id, core::Settings().data(), buffer, bufLen, Context(folder));
  } catch (...) {
    return ResultFailed;
  }
}

API_EXPORT std::int32_t SetConfigSetting(std::int32_t id, const void* buffer, std::int32_t bufLen) {
  try {
    SharedStateGuard guard;
    if (!IsInitialised()) return ResultNotInitialised;
    const std::int32_t result =
        core::SetSetting(core::SettingFamily::Config, id, core::Settings().data(), buffer, bufLen);
    if (result == ResultOk) MarkChanged();
    return result;
  } catch (...) {
    return ResultFailed;
  }
}

API_EXPORT std::int32_t GetUserSetting(const void* record, std::int32_t recordLen, std::int32_t id, void* value,
                                       std::int32_t valueLen) {
  return GetRecordSetting(core::SettingFamily::Account, record, recordLen, id, value, valueLen);
}

API_EXPORT std::int32_t SetUserSetting(void* record, std::int32_t recordLen, std::int32_t id, const void* value,
                                       std::int32_t valueLen) {
  return SetRecordSetting(core::SettingFamily::Account, record, recordLen, id, value, valueLen);
}

API_EXPORT std::int32_t GetDomainSetting(const void* record, std::int32_t recordLen, std::int32_t id, void* value,
                                         std::int32_t valueLen) {
  return GetRecordSetting(core::SettingFamily::Domain, record, recordLen, id, value, valueLen);
}

API_EXPORT std::int32_t SetDomainSetting(void* record, std::int32_t recordLen, std::int32_t id, const void* value,
                                         std::int32_t valueLen) {
  return SetRecordSetting(core::SettingFamily::Domain, record, recordLen, id, value, valueLen);
}

API_EXPORT std::int32_t GetRASetting(const void* record, std::int32_t recordLen, std::int32_t id, void* value,
                                     std::int32_t valueLen) {
  return GetRecordSetting(core::SettingFamily::RemoteAccount, record, recordLen, id, value, valueLen);
}

API_EXPORT std::int32_t SetRASetting(void* record, std::int32_t recordLen, std::int32_t id, const void* value,
                                     std::int32_t valueLen) {
  return SetRecordSetting(core::SettingFamily::RemoteAccount, record, recordLen, id, value, valueLen);
}
