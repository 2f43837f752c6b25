// Configuration settings by id and record setting ids. The configuration
// exports work on the shared settings record; the record exports only on the
// caller's buffer, through a working copy so a failed set changes nothing.
#include <cstring>
#include <vector>

#include "api/ExportGuard.h"
#include "api/Session.h"
#include "core/config/ConfigStore.h"
#include "core/config/SettingTransfer.h"
#include "include/Api.h"

using namespace api;

namespace {

core::SettingContext Context(const std::string& configFolder) {
  core::SettingContext context;
  context.configFolder = configFolder;
  context.settings = core::Settings().data();
  return context;
}

bool RecordUsable(core::SettingFamily family, const void* record, std::int32_t recordLen) {
  return record != nullptr && recordLen >= 0 && static_cast<std::size_t>(recordLen) >= core::RecordSize(family);
}

std::int32_t GetRecordSetting(core::SettingFamily family, const void* record, std::int32_t recordLen, std::int32_t id,
                              void* value, std::int32_t valueLen) {
  return Guarded(Reading, [&] {
    if (!RecordUsable(family, record, recordLen)) return core::Outcome::Fail(core::Status::BadArgument);
    std::vector<std::uint8_t> copy(core::RecordSize(family));
    std::memcpy(copy.data(), record, copy.size());
    const std::string folder = core::ConfigFolder();
    return core::GetSetting(family, id, copy.data(), value, valueLen, Context(folder));
  });
}

std::int32_t SetRecordSetting(core::SettingFamily family, void* record, std::int32_t recordLen, std::int32_t id,
                              const void* value, std::int32_t valueLen) {
  return Guarded(Reading, [&] {
    if (!RecordUsable(family, record, recordLen)) return core::Outcome::Fail(core::Status::BadArgument);
    std::vector<std::uint8_t> copy(core::RecordSize(family));
    std::memcpy(copy.data(), record, copy.size());
    const core::Outcome result = core::SetSetting(family, id, copy.data(), value, valueLen);
    // The working copy goes back whole, unchanged when the id does not exist.
    std::memcpy(record, copy.data(), copy.size());
    return result;
  });
}

}  // namespace

int32_t API_CALL GetConfigSetting(int32_t id, void* buffer, int32_t bufLen) {
  return Guarded(Reading, [&] {
    const std::string folder = core::ConfigFolder();
    return core::GetSetting(core::SettingFamily::Config, id, core::Settings().data(), buffer, bufLen, Context(folder));
  });
}

int32_t API_CALL SetConfigSetting(int32_t id, const void* buffer, int32_t bufLen) {
  return Guarded(Reading, [&] {
    const core::Outcome result =
        core::SetSetting(core::SettingFamily::Config, id, core::Settings().data(), buffer, bufLen);
    if (result.ok()) MarkChanged();
    return result;
  });
}

int32_t API_CALL GetUserSetting(const void* record, int32_t recordLen, int32_t id, void* value, int32_t valueLen) {
  return GetRecordSetting(core::SettingFamily::Account, record, recordLen, id, value, valueLen);
}

int32_t API_CALL SetUserSetting(void* record, int32_t recordLen, int32_t id, const void* value, int32_t valueLen) {
  return SetRecordSetting(core::SettingFamily::Account, record, recordLen, id, value, valueLen);
}

int32_t API_CALL GetDomainSetting(const void* record, int32_t recordLen, int32_t id, void* value, int32_t valueLen) {
  return GetRecordSetting(core::SettingFamily::Domain, record, recordLen, id, value, valueLen);
}

int32_t API_CALL SetDomainSetting(void* record, int32_t recordLen, int32_t id, const void* value, int32_t valueLen) {
  return SetRecordSetting(core::SettingFamily::Domain, record, recordLen, id, value, valueLen);
}

int32_t API_CALL GetRASetting(const void* record, int32_t recordLen, int32_t id, void* value, int32_t valueLen) {
  return GetRecordSetting(core::SettingFamily::RemoteAccount, record, recordLen, id, value, valueLen);
}

int32_t API_CALL SetRASetting(void* record, int32_t recordLen, int32_t id, const void* value, int32_t valueLen) {
  return SetRecordSetting(core::SettingFamily::RemoteAccount, record, recordLen, id, value, valueLen);
}
