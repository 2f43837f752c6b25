#include "sender/im/ImStore.h"

#include <atomic>

#include "core/accounts/AccountRecord.h"
#include "core/config/ConfigStore.h"
#include "core/control/ServiceControl.h"
#include "core/platform/Files.h"
#include "core/platform/Handles.h"
#include "core/platform/TextConversion.h"
#include "core/util/Numbers.h"
#include "sender/config/SendingConfig.h"
#include "sender/im/XmlText.h"

namespace sender {
namespace {

constexpr std::size_t PathLength = 255;
constexpr std::string_view StoreFolder = "~IM\\", LastFile = "Last.dat", PendingFile = "Pending.dat";
constexpr std::size_t LineLength = 255;
// The range every writer locks: past any real size, so that no reader of
// the data ever meets it.
constexpr DWORD LockOffsetHigh = 0x40000000;
constexpr DWORD LockWaitMs = 10000;
constexpr DWORD LockRetryMs = 5;

// Writers of this process take turns before the file lock, which would
// otherwise have them poll against each other.
SRWLOCK g_appendLock = SRWLOCK_INIT;
std::atomic<PendingWrite> g_write{&::WriteFile};

// Whether "Last.dat" exists, and the number of its first line: 0 when the
// file cannot be opened or read (the service may hold it) or the line is no
// number. The open answers for the common cases in one call.
bool ReadLast(const std::string& path, std::int32_t& number) {
  number = 0;
  const core::UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && core::FileExists(path);
  }
  char buffer[LineLength + 1];
  DWORD got = 0;
  if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return true;
  std::string_view line(buffer, got);
  line = line.substr(0, line.find_first_of("\r\n"));
  number = core::TextToInt(line.substr(0, LineLength));
  return true;
}

bool LockRange(HANDLE file, OVERLAPPED& range) {
  const ULONGLONG until = ::GetTickCount64() + LockWaitMs;
  while (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
    if (::GetTickCount64() >= until) return false;
    ::Sleep(LockRetryMs);
  }
  return true;
}

AppendOutcome AppendOpened(HANDLE file, std::string_view bytes) {
  OVERLAPPED range{};
  range.OffsetHigh = LockOffsetHigh;
  if (!LockRange(file, range)) return AppendOutcome::Failed;
  LARGE_INTEGER size{};
  AppendOutcome outcome = AppendOutcome::Failed;
  // At the end, which is the size the file had.
  if (::SetFilePointerEx(file, LARGE_INTEGER{}, &size, FILE_END)) {
    DWORD written = 0;
    const auto count = static_cast<DWORD>(bytes.size());
    if (bytes.size() == count && g_write.load()(file, bytes.data(), count, &written, nullptr) && written == count) {
      outcome = AppendOutcome::Written;
    } else if (::SetFilePointerEx(file, size, nullptr, FILE_BEGIN)) {
      // Half an element would make every later one unreadable.
      ::SetEndOfFile(file);
    }
  }
  ::UnlockFileEx(file, 0, 1, 0, &range);
  return outcome;
}

SYSTEMTIME LocalNow() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return now;
}

}  // namespace

bool LookupAddressText(std::u16string_view address, std::string& out) {
  out.clear();
  const std::u16string_view cut = CutUnits(address, PathLength);
  return cut.find(u'\0') == std::u16string_view::npos && core::WideToAnsiExact(cut, out);
}

bool ProbeIMStore(std::string_view address, ImStoreProbe& probe) {
  probe = {};
  // One view of the configuration for the lookup and the mail folder.
  SendingConfigHold hold;
  core::AccountRecordBytes record{};
  if (!FindAccountByAddress(address, record, true)) return false;
  std::string last = core::GetMailboxPath(core::FieldText(record.data(), core::account::MailboxPath), false, "");
  last.append(StoreFolder).append(LastFile);
  // A cut path would name another file.
  if (last.size() > PathLength) return false;
  if (!ReadLast(last, probe.number)) return false;
  probe.lastPath = last;
  return true;
}

bool IsRecipientOnline(std::u16string_view address) {
  std::string text;
  ImStoreProbe probe;
  return LookupAddressText(address, text) && ProbeIMStore(text, probe) && probe.number != 0;
}

bool WritePendingMessage(const ImFields& fields) {
  ImStoreProbe probe;
  AppendOutcome outcome = AppendOutcome::Failed;
  try {
    std::string to, element;
    const SYSTEMTIME now = LocalNow();
    if (!LookupAddressText(fields.to, to) ||
        BuildPendingMessage(fields, FormatStamp(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond),
                            element) != ImRefusal::None)
      return false;
    // The probe holds the configuration itself; the append (with its wait
    // for the file lock) runs outside, on the path the probe copied.
    if (!ProbeIMStore(to, probe)) return false;
    std::string pending = probe.lastPath.substr(0, probe.lastPath.size() - LastFile.size());
    outcome = AppendPending(pending.append(PendingFile), element);
  } catch (...) {
    return false;
  }
  // A busy pipe may be waited for: no lock is held here.
  if (probe.number != 0 && outcome != AppendOutcome::Failed) {
    core::NotifyServer(core::ServerInstantMessaging, core::InstantMessageNotice,
                       static_cast<std::uint32_t>(probe.number), 0, SendingServiceNaming());
  }
  return outcome == AppendOutcome::Written;
}

AppendOutcome AppendPending(const std::string& path, std::string_view bytes) {
  const core::UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return AppendOutcome::NotOpened;
  core::ExclusiveSrwGuard turn(g_appendLock);
  return AppendOpened(file.get(), bytes);
}

void SetPendingWriteForTesting(PendingWrite write) noexcept { g_write.store(write != nullptr ? write : &::WriteFile); }

}  // namespace sender
