#include "core/auth/LoginFailures.h"

#include <windows.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

#include "core/platform/Files.h"
#include "core/platform/Handles.h"
#include "core/util/LittleEndian.h"

namespace core {
namespace {

constexpr DWORD RecordSize = 16;
// Another process holds the file only for one read and write.
constexpr int OpenAttempts = 50;
constexpr DWORD OpenPause = 20;

// The threads of one process take turns at the file: polling for its
// exclusive open starves some of them under load, and a failure that gave
// up waiting would go uncounted. Other processes still meet the retries.
std::mutex g_fileTurn;

std::string FileOf(const std::string& folder) { return folder + "login.dat"; }

UniqueHandle OpenRetrying(const std::string& file, DWORD access, DWORD share, DWORD disposition) {
  for (int attempt = 0; attempt < OpenAttempts; ++attempt) {
    UniqueHandle handle(
        ::CreateFileA(file.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (handle) return handle;
    const DWORD error = ::GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) return UniqueHandle();
    ::Sleep(OpenPause);
  }
  return UniqueHandle();
}

LoginFailureRecord Decode(const std::uint8_t* bytes) {
  LoginFailureRecord record;
  record.count = static_cast<std::int32_t>(LoadLE<std::uint32_t>(bytes));
  const std::uint64_t bits = LoadLE<std::uint64_t>(bytes + 8);
  std::memcpy(&record.lastFailure, &bits, 8);
  if (record.count < 0) record.count = 0;
  return record;
}

void Encode(const LoginFailureRecord& record, std::uint8_t* bytes) {
  std::memset(bytes, 0, RecordSize);
  StoreLE(bytes, static_cast<std::uint32_t>(record.count));
  std::uint64_t bits = 0;
  std::memcpy(&bits, &record.lastFailure, 8);
  StoreLE(bytes + 8, bits);
}

// Reads the record from an open file: a short file reads as no failures.
bool ReadOpen(HANDLE file, LoginFailureRecord& record) {
  std::uint8_t bytes[RecordSize] = {};
  DWORD got = 0;
  if (!::ReadFile(file, bytes, RecordSize, &got, nullptr)) return false;
  record = got == RecordSize ? Decode(bytes) : LoginFailureRecord{};
  return true;
}

}  // namespace

bool ReadLoginFailures(const std::string& mailboxFolder, LoginFailureRecord& record) {
  record = LoginFailureRecord{};
  const std::lock_guard<std::mutex> turn(g_fileTurn);
  const UniqueHandle file = OpenRetrying(FileOf(mailboxFolder), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  return file && ReadOpen(file.get(), record);
}

LockState CheckLoginFailures(const std::string& mailboxFolder, std::int32_t threshold, std::int32_t minutes,
                             double now) {
  if (threshold <= 0 || mailboxFolder.empty()) return LockState::Free;
  const std::string file = FileOf(mailboxFolder);
  if (::GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES) return LockState::Free;
  LoginFailureRecord record;
  if (!ReadLoginFailures(mailboxFolder, record)) {
    // Gone since the look above (a success elsewhere forgot the failures): none.
    return ::GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES ? LockState::Free : LockState::Unreadable;
  }
  if (record.count < threshold) return LockState::Free;
  double last = record.lastFailure;
  if (!std::isfinite(last)) return LockState::Free;
  if (last > now) {
    // A clock set back (or the end of summer time) cannot lengthen a lock:
    // the failure counts as now, and is stored so, so that the lock ends
    // within its time from here.
    last = now;
    const std::lock_guard<std::mutex> turn(g_fileTurn);
    const UniqueHandle open = OpenRetrying(file, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
    LoginFailureRecord current;
    if (open && ReadOpen(open.get(), current) && current.lastFailure > now) {
      current.lastFailure = now;
      std::uint8_t bytes[RecordSize];
      Encode(current, bytes);
      DWORD put = 0;
      if (::SetFilePointer(open.get(), 0, nullptr, FILE_BEGIN) == 0)
        ::WriteFile(open.get(), bytes, RecordSize, &put, nullptr);
    }
  }
  return now <= last + static_cast<double>(minutes) / 1440.0 ? LockState::Locked : LockState::Free;
}

bool RecordLoginFailure(const std::string& mailboxFolder, double now) {
  if (mailboxFolder.empty()) return false;
  // A mailbox that has not received mail yet has no folder; the lockout
  // must not depend on that.
  ForceDirectory(mailboxFolder);
  const std::lock_guard<std::mutex> turn(g_fileTurn);
  const UniqueHandle file = OpenRetrying(FileOf(mailboxFolder), GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS);
  if (!file) return false;
  LoginFailureRecord record;
  if (!ReadOpen(file.get(), record)) return false;
  if (record.count < std::numeric_limits<std::int32_t>::max()) ++record.count;
  record.lastFailure = now;
  std::uint8_t bytes[RecordSize];
  Encode(record, bytes);
  DWORD put = 0;
  return ::SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == 0 &&
         ::WriteFile(file.get(), bytes, RecordSize, &put, nullptr) && put == RecordSize && ::SetEndOfFile(file.get());
}

void ForgetLoginFailures(const std::string& mailboxFolder) {
  if (mailboxFolder.empty()) return;
  const std::lock_guard<std::mutex> turn(g_fileTurn);
  // A reader or a counting process holds the file only for a moment; giving
  // up at once would keep the failures of an account that just logged in.
  for (int attempt = 0; attempt < OpenAttempts; ++attempt) {
    if (::DeleteFileA(FileOf(mailboxFolder).c_str())) return;
    const DWORD error = ::GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) return;
    ::Sleep(OpenPause);
  }
}

}  // namespace core
