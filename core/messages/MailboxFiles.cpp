#include "core/messages/MailboxFiles.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <set>
#include <vector>

#include "core/accounts/AccountHooks.h"
#include "core/config/ConfigFiles.h"
#include "core/config/ConfigStore.h"
#include "core/messages/MessageText.h"
#include "core/mime/MessageFiles.h"
#include "core/platform/Files.h"
#include "core/platform/Handles.h"
#include "core/platform/LockTable.h"
#include "core/util/NameText.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr DWORD BlockSize = 64 * 1024;
// A folder holding this many names of one second and extension is not a
// mailbox any more; give up rather than hold lock 0 for long.
constexpr int MaxNameTries = 4096;
// The temporary folder may lie on another volume.
constexpr DWORD MoveFlags = MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING;
constexpr std::size_t ListLineLength = 255;
constexpr FieldRef MailboxType = RefOf(AccountField("MailboxType"));  // non-zero: ".imap" form
constexpr std::string_view WelcomeName = "welcome";

std::uint16_t g_nameCounter = 0;  // guarded by lock 0
std::atomic<unsigned> g_stageCounter{0};

LocalDateTime FromSystemTime(const SYSTEMTIME& t) { return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond}; }

std::uint32_t DosStampOf(const FILETIME& utc) {
  FILETIME local{};
  SYSTEMTIME time{};
  if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToSystemTime(&local, &time)) return DosDateTime({});
  return DosDateTime(FromSystemTime(time));
}

std::uint32_t DosStampNow() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return DosDateTime(FromSystemTime(now));
}

std::string WithBackslash(std::string folder) {
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder;
}

UniqueHandle OpenForReading(const std::string& fileName) {
  return UniqueHandle(::CreateFileA(fileName.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

bool WriteBytes(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > (1u << 20) ? (1u << 20) : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// Streams the source from its current position through a machine into the
// target: feed(block, out) for each read, finish(out) at the end; the
// output goes out in blocks of about BlockSize.
template <typename Feed, typename Finish>
bool Pump(HANDLE source, HANDLE target, Feed feed, Finish finish) {
  std::vector<char> buffer(BlockSize);
  std::string out;
  out.reserve(2 * BlockSize);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(source, buffer.data(), BlockSize, &got, nullptr)) return false;
    if (got == 0) break;
    feed(std::string_view(buffer.data(), got), out);
    if (out.size() >= BlockSize) {
      if (!WriteBytes(target, out)) return false;
      out.clear();
    }
  }
  finish(out);
  return WriteBytes(target, out);
}

bool PumpStuffed(HANDLE source, HANDLE target) {
  DotStuffer stuffer;
  return Pump(
      source, target, [&](std::string_view block, std::string& out) { stuffer.Feed(block, out); },
      [](std::string& out) { out += MessageEndMark; });
}

bool PumpUnstuffed(HANDLE source, HANDLE target) {
  TmpDecoder decoder;
  return Pump(
      source, target, [&](std::string_view block, std::string& out) { decoder.Feed(block, out); },
      [&](std::string& out) { decoder.Finish(out); });
}

bool SkipImapHeader(HANDLE source) {
  LARGE_INTEGER offset{};
  offset.QuadPart = ImapHeaderSize;
  return ::SetFilePointerEx(source, offset, nullptr, FILE_BEGIN) != FALSE;
}

// Runs fill on the open file and closes it; false when fill failed or threw.
template <typename Fill>
bool Filled(UniqueHandle& file, Fill& fill) {
  bool ok = false;
  try {
    ok = fill(file.get());
  } catch (...) {
  }
  file.reset();
  return ok;
}

// Writes a whole target: fill(handle) writes the content. A name nothing
// holds yet is written in place, unshared, and deleted again when the fill
// fails (a temporary name would cost one more lookup of a missing name in a
// large folder). An existing target is replaced through a temporary file
// beside it (a name no mailbox listing matches), so what it held is never
// lost half-way.
template <typename Fill>
bool WriteTarget(const std::string& target, Fill fill) {
  UniqueHandle fresh(
      ::CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (fresh) {
    if (Filled(fresh, fill)) return true;
    ::DeleteFileA(target.c_str());
    return false;
  }
  if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;

  std::string temp;
  UniqueHandle file;
  for (int attempt = 0; attempt < 16 && !file; ++attempt) {
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".~%lx-%x", static_cast<unsigned long>(::GetCurrentProcessId()),
                  g_stageCounter.fetch_add(1));
    temp = target + suffix;
    file.reset(::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD error = ::GetLastError();
    if (!file && error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  if (!file) return false;
  if (Filled(file, fill) && ::MoveFileExA(temp.c_str(), target.c_str(), MoveFlags)) return true;
  ::DeleteFileA(temp.c_str());
  return false;
}

struct SourceFile {
  std::string name;
  std::uint32_t stamp;  // local DOS date-time of the last write
};

std::vector<SourceFile> ListSources(const std::string& folder, std::string_view extension) {
  std::vector<SourceFile> sources;
  WIN32_FIND_DATAA entry{};
  const UniqueFindHandle search(::FindFirstFileA((folder + "*" + std::string(extension)).c_str(), &entry));
  if (!search) return sources;
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !HasExtension(entry.cFileName, extension)) continue;
    sources.push_back({entry.cFileName, DosStampOf(entry.ftLastWriteTime)});
  } while (::FindNextFileA(search.get(), &entry));
  return sources;
}

void PlaceWelcomeMessage(const std::string& templateFile, const std::string& domain, bool imap,
                         const AccountRecordBytes& record) {
  std::string content;
  if (templateFile.empty() || !ReadFileToString(templateFile, false, content) || content.empty()) return;
  const std::string mailboxPath = FieldText(record.data(), account::MailboxPath);
  // An empty path would put the message into the mail root, nobody's mailbox.
  if (Trim(mailboxPath).empty()) return;
  const std::string folder = GetMailboxPath(mailboxPath, false, {}) + (imap ? "inbox\\" : "");
  const std::string target = folder + std::string(WelcomeName) + (imap ? ".imap" : ".tmp");
  if (!ForceDirectory(folder)) return;
  const std::string data = imap ? ImapMessageHeader(DosStampNow()) + content : StuffMessage(content);
  if (!WriteFileAtomic(target, data.data(), data.size())) return;
  if (content.find("%%") == std::string::npos && content.find("$$") == std::string::npos) return;

  MessageContext context;
  const std::string address =
      "<" + GetDelimitedItem(FieldText(record.data(), account::AliasList), 0, ';') + "@" + domain + ">";
  context.sender = CutTo(address, ContextSenderLength);
  context.recipients = address;
  context.messageFile = target;
  if (RunSystemVariablesHook(context) && !context.messageFile.empty() && !SameText(context.messageFile, target))
    ::MoveFileExA(context.messageFile.c_str(), target.c_str(), MoveFlags);
}

}  // namespace

std::string NewMessageFileName(const std::string& folder, std::string_view extension) {
  try {
    const std::string base = WithBackslash(folder);
    const std::string prefix = MessageFilePrefix();  // before lock 0: the store has a lock of its own
    const TableLock lock(AccountFilesLock);
    if (!base.empty()) ForceDirectory(base);
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    const LocalDateTime time = FromSystemTime(now);
    // Another process counts on its own: skip the names it already took.
    for (int attempt = 0; attempt < MaxNameTries; ++attempt) {
      g_nameCounter = static_cast<std::uint16_t>(g_nameCounter + 1);
      std::string name = MessageFileName(base, prefix, time, g_nameCounter, extension);
      if (::GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return name;
    }
  } catch (...) {
  }
  return {};
}

bool ImapToTmpMessage(const std::string& imapFile, const std::string& tmpFile) {
  try {
    const UniqueHandle source = OpenForReading(imapFile);
    if (!source || !SkipImapHeader(source.get())) return false;
    return WriteTarget(tmpFile, [&](HANDLE target) { return PumpStuffed(source.get(), target); });
  } catch (...) {
    return false;
  }
}

bool AppendUnstuffedMessage(const std::string& targetFile, const std::string& tmpFile) {
  try {
    const UniqueHandle target(::CreateFileA(targetFile.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const UniqueHandle source = OpenForReading(tmpFile);
    if (!target || !source) return false;
    const LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(target.get(), zero, nullptr, FILE_END)) return false;
    return PumpUnstuffed(source.get(), target.get());
  } catch (...) {
    return false;
  }
}

bool ConvertMailboxMessages(std::string_view mailboxPath, bool fromImap) {
  try {
    // An empty path would name the mail root: every mailbox's files at once.
    if (Trim(mailboxPath).empty()) return false;
    const std::string folder = GetMailboxPath(mailboxPath, false, {});
    const std::string inbox = folder + "inbox\\";
    const std::string& sourceFolder = fromImap ? inbox : folder;
    const std::string& targetFolder = fromImap ? folder : inbox;
    const std::vector<SourceFile> sources = ListSources(sourceFolder, fromImap ? ".imap" : ".tmp");
    if (sources.empty()) return false;
    ForceDirectory(targetFolder);

    std::set<std::string> written;  // lower-case targets of this run
    for (const SourceFile& source : sources) {
      const std::string base = ConvertedBaseName(source.name);
      const std::string header = ImapHeaderText(source.stamp);
      const std::string tail = fromImap ? ".tmp" : "-" + header + ".imap";
      std::string target = targetFolder + base + tail;
      // Two sources of this run that map to one name each keep their message.
      if (base.empty() || written.count(LowerCase(target)) != 0) target = NewMessageFileName(targetFolder, tail);
      const UniqueHandle in = OpenForReading(sourceFolder + source.name);
      if (target.empty() || !in) continue;
      const auto stuffed = [&](HANDLE out) { return PumpStuffed(in.get(), out); };
      const auto unstuffed = [&](HANDLE out) {
        return WriteBytes(out, ImapMessageHeader(source.stamp)) && PumpUnstuffed(in.get(), out);
      };
      const bool done =
          fromImap ? SkipImapHeader(in.get()) && WriteTarget(target, stuffed) : WriteTarget(target, unstuffed);
      if (done) written.insert(LowerCase(target));
    }
    return true;
  } catch (...) {
    return false;
  }
}

void ImportMessageFile(const std::string& listFile, std::string_view domain, const AccountRecordBytes& record) {
  try {
    std::vector<std::string> lines;
    if (!ReadTextLines(listFile, lines)) return;
    const std::string key = LowerCase(Trim(domain));
    for (const std::string& raw : lines) {
      const std::string line = Trim(StripComments(CutTo(raw, ListLineLength)));
      if (line.empty()) continue;
      std::size_t split = line.find('=');
      if (split == std::string::npos) split = line.find(' ');
      const std::string lineKey = LowerCase(Trim(std::string_view(line).substr(0, split)));
      if (lineKey != key && lineKey != "*") continue;
      const std::string templateFile = split == std::string::npos ? std::string() : Trim(line.substr(split + 1));
      PlaceWelcomeMessage(templateFile, key, GetU8(record.data(), MailboxType) != 0, record);
      return;
    }
  } catch (...) {
  }
}

bool SetMessageFileHeader(MessageContext& context, std::string_view headerName, std::string_view value, bool deleteOld,
                          bool addIfMissing) {
  try {
    const std::string tempFolder = GetShortString(Settings().data(), cfg::TempFolder);
    if (tempFolder.empty() || context.messageFile.empty()) return false;
    const std::string target = NewMessageFileName(tempFolder, ".tmp");
    if (target.empty()) return false;
    const std::string written = ReplaceMessageHeader(context.messageFile, headerName, value, target, addIfMissing);
    if (written.empty()) return false;
    // Only now that the new file is complete may the old one go.
    if (deleteOld) ::DeleteFileA(context.messageFile.c_str());
    context.messageFile = written;
    return true;
  } catch (...) {
    return false;
  }
}

void InstallMessageHooks() {
  SetImportMessagesHook([](const AccountRecordBytes& record, std::string_view domain) {
    try {
      ImportMessageFile(ConfigFolder() + "messages.dat", domain, record);
    } catch (...) {
    }
  });
}

}  // namespace core
