// Remote-account exports over "remote.cfg". The store tells the POP3
// service after each write or deletion; an index outside the file is
// refused here, before anything is touched or told. Changes run one at a
// time in this library, so the bounds checked are the bounds written.
#include <cstring>
#include <mutex>

#include "api/ExportSupport.h"
#include "core/accounts/AccountStore.h"

using namespace api;

namespace {

constexpr std::int32_t RecordSize = API_REMOTE_ACCOUNT_RECORD_SIZE;

std::mutex g_remoteChanges;

std::int32_t RemoteCount() {
  core::RemoteAccountRecordBytes record{};
  return core::ReadRemoteAccounts(record, -1);
}

bool Inside(std::int32_t index) { return index >= 0 && index < RemoteCount(); }

core::RemoteAccountRecordBytes CopyIn(const void* buffer) {
  core::RemoteAccountRecordBytes record{};
  std::memcpy(record.data(), buffer, record.size());
  return record;
}

}  // namespace

int32_t API_CALL GetRACount() {
  return Guarded(Reading, [] { return RemoteCount(); });
}

int32_t API_CALL LoadRA(int32_t index, void* buffer, int32_t len) {
  return Guarded(Reading, [&]() -> std::int32_t {
    if (!RecordUsable(buffer, len, RecordSize)) return API_BAD_ARGUMENT;
    core::RemoteAccountRecordBytes record{};
    const std::int32_t count = core::ReadRemoteAccounts(record, index);
    if (index < 0 || index >= count) return API_FAILED;
    std::memcpy(buffer, record.data(), record.size());
    return RecordSize;
  });
}

int32_t API_CALL SaveRA(int32_t index, const void* buffer, int32_t len) {
  return Guarded(Reading, [&]() -> std::int32_t {
    if (!RecordUsable(buffer, len, RecordSize)) return API_BAD_ARGUMENT;
    std::lock_guard<std::mutex> changes(g_remoteChanges);
    // Only an existing record: -1 or the count would append, more would leave a gap.
    if (!Inside(index)) return API_BAD_ARGUMENT;
    return core::WriteRemoteAccount(CopyIn(buffer), index) ? API_OK : API_FAILED;
  });
}

int32_t API_CALL AddRA(const void* buffer, int32_t len) {
  return Guarded(Reading, [&]() -> std::int32_t {
    if (!RecordUsable(buffer, len, RecordSize)) return API_BAD_ARGUMENT;
    std::lock_guard<std::mutex> changes(g_remoteChanges);
    return core::WriteRemoteAccount(CopyIn(buffer), -1) ? API_OK : API_FAILED;
  });
}

int32_t API_CALL DeleteRA(int32_t index) {
  return Guarded(Reading, [&]() -> std::int32_t {
    std::lock_guard<std::mutex> changes(g_remoteChanges);
    if (!Inside(index)) return API_FAILED;
    return core::DeleteRemoteAccount(index) ? API_OK : API_FAILED;
  });
}
