#include "sender/mail/MailDelivery.h"

#include <bcrypt.h>

#include "core/mime/LocalTimeZone.h"
#include "core/mime/MailDate.h"
#include "core/mime/MessageFiles.h"
#include "core/platform/LockTable.h"
#include "core/util/NetText.h"
#include "core/util/Text.h"
#include "sender/net/SmtpClientThread.h"

namespace sender {

namespace {

constexpr std::size_t MaxServerText = 255;
constexpr std::uint16_t SmtpPort = 25;
// Lock 0 of the table serialises the creation of SMTP threads across all
// objects of the process; the sends themselves run side by side.
constexpr int ThreadCreationLock = 0;
constexpr long long FileTimeUnitsPerMinute = 60LL * 10'000'000LL;

std::uint32_t RandomNumber() {
  std::uint32_t value = 0;
  ::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  return value;
}

// The local time of this moment and the zone's bias, read together so that
// they agree (local time + bias = UTC).
core::CivilTime LocalTimeNow(std::int32_t bias) {
  FILETIME utc{};
  ::GetSystemTimeAsFileTime(&utc);
  ULARGE_INTEGER value{};
  value.LowPart = utc.dwLowDateTime;
  value.HighPart = utc.dwHighDateTime;
  value.QuadPart = static_cast<ULONGLONG>(static_cast<long long>(value.QuadPart) - bias * FileTimeUnitsPerMinute);
  FILETIME local{value.LowPart, value.HighPart};
  SYSTEMTIME time{};
  if (!::FileTimeToSystemTime(&local, &time)) ::GetLocalTime(&time);
  return core::CivilTimeOf(time);
}

}  // namespace

std::unique_ptr<core::ByteSource> FilePartReader::Open(std::size_t index) {
  if (index >= parts_.size()) return nullptr;
  auto source = std::make_unique<core::FileSource>();
  if (!source->Open(parts_[index].path)) return nullptr;
  return source;
}

FileReadResult ReadWholeFile(const std::wstring& fileName, std::string& bytes) {
  core::FileSource source;
  if (!source.Open(fileName)) return FileReadResult::NotOpened;
  // Read straight into bytes; whatever was added goes again on a failure.
  const std::size_t old = bytes.size();
  try {
    bytes.reserve(old + static_cast<std::size_t>(source.SizeHint()));
    char block[64 * 1024];
    for (std::size_t got; (got = source.Read(block, sizeof block)) > 0;)
      bytes.append(block, got);
  } catch (...) {
    bytes.resize(old);
    throw;
  }
  if (!source.Failed()) return FileReadResult::Read;
  bytes.resize(old);
  return FileReadResult::Failed;
}

MailOutcome DeliverMail(const MailDraft& draft, PartReader& parts) {
  MailOutcome outcome;
  std::string text;
  try {
    const std::int32_t bias = core::GetTimeZoneBias();
    if (!ComposeMail(draft, LocalTimeNow(bias), core::TimeZoneText(bias), &RandomNumber, parts, text)) return outcome;
  } catch (...) {
    return outcome;
  }

  // A server text that would be cut, or a port that would fall back to the
  // default, names another server than the one meant.
  const std::string server = core::Trim(draft.remoteHost);
  outcome.result = -2;
  std::string address, hostName;
  std::uint16_t port = SmtpPort;
  bool refused = false;
  core::ParseHostPort(server, SmtpPort, address, port, hostName, &refused);
  if (server.size() > MaxServerText || refused) return outcome;

  SmtpClientStart started;
  try {
    core::TableLock creation(ThreadCreationLock);
    started = SmtpClientThread::Create(hostName, address, "", std::move(text), port, draft.mailFrom, draft.recipients,
                                       draft.helo);
  } catch (...) {
    return outcome;  // no thread: no connection
  }
  if (!started.thread) {
    outcome.result = -1;  // the envelope or the text was refused
    return outcome;
  }
  started.thread->WaitFor();
  if (!started.thread->Connected()) return outcome;
  if (started.thread->Sent()) {
    outcome.result = 1;
  } else {
    outcome.result = -3;
    outcome.response = started.thread->LastReply();
  }
  return outcome;
}

}  // namespace sender
