#include "core/antispam/SpamIndex.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "core/config/ConfigStore.h"
#include "core/mime/MessageBody.h"
#include "core/mime/MessageFiles.h"
#include "core/mime/MessageHeaders.h"
#include "core/platform/Files.h"
#include "core/platform/Handles.h"
#include "core/util/Numbers.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::string_view StatusHeader = "X-AntiSpam-Status: ";
constexpr DWORD MoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
constexpr DWORD KeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

std::atomic<unsigned> g_tempCounter{0};
std::atomic<int> g_failStep{0};
std::atomic<int> g_stepsTaken{0};

// False for the write step the test seam asked to fail, as a full disk would.
bool WriteStep() { return g_failStep.load() == 0 || g_stepsTaken.fetch_add(1) + 1 != g_failStep.load(); }

class StepSink final : public ByteSink {
 public:
  explicit StepSink(ByteSink& out) : out_(out) {}
  bool Write(std::string_view bytes) override { return WriteStep() && out_.Write(bytes); }

 private:
  ByteSink& out_;
};

bool IsStoredFile(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot != std::string::npos && LowerCase(std::string_view(name).substr(dot)) == ".imap";
}

bool IsMessageName(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string extension = LowerCase(std::string_view(name).substr(dot));
  return extension == ".tmp" || extension == ".imap";
}

// The names first: the rewrite adds and removes directory entries, which a
// listing in progress could see or miss.
std::vector<std::string> ListMessages(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  UniqueFindHandle listing(::FindFirstFileA((folder + "*.*").c_str(), &found));
  if (!listing) return names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && IsMessageName(found.cFileName))
      names.emplace_back(found.cFileName);
  } while (::FindNextFileA(listing.get(), &found));
  return names;
}

bool WholeNumber(const std::string& text, std::int32_t& value) {
  std::size_t i = text.empty() || (text[0] != '-' && text[0] != '+') ? 0 : 1;
  if (i >= text.size() || text.size() - i > 9) return false;
  for (; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  value = TextToInt(text);
  return true;
}

struct HeaderFacts {
  bool opened = false;
  bool endsWithEmptyLine = false;
  std::string status;
};

// One pass over the header block: the status (as ReadHeaderValue unfolds
// it) and whether an empty line ends the block.
HeaderFacts ReadFacts(const std::string& file, bool stored) {
  HeaderFacts facts;
  FileSource source;
  if (!source.Open(file)) return facts;
  facts.opened = true;
  try {
    LineReader lines(source);
    if (stored) lines.SkipBytes(StoredFileHeaderBytes);
    const std::string key = Trim(StatusHeader);
    HeaderBudget budget;
    std::string line, value;
    bool found = false, inStatus = false;
    while (lines.ReadHeaderLine(line, budget)) {
      if (inStatus && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
        value.append(line);
        continue;
      }
      inStatus = false;
      if (line.empty()) {
        facts.endsWithEmptyLine = true;
        break;
      }
      if (!found && line.size() >= key.size() && SameText(std::string_view(line).substr(0, key.size()), key)) {
        found = inStatus = true;
        value = line.substr(key.size());
      }
    }
    facts.status = Trim(value);
    if (lines.Failed()) facts.opened = false;
  } catch (const std::bad_alloc&) {
    facts.opened = false;
  }
  return facts;
}

// The message rewritten with its status into a temporary beside it, the
// stamp and attributes carried over, then moved over it in one rename.
bool Rewrite(const std::string& file, bool stored, bool isSpam) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &data)) return false;
  const DWORD attributes = data.dwFileAttributes;

  std::string prefix;
  if (stored && (ReadFileBytes(file, 0, StoredFileHeaderBytes, prefix) != FileReadResult::Read ||
                 prefix.size() != StoredFileHeaderBytes))
    return false;

  // An extension that neither "*.tmp" nor "*.imap" lists, short names included.
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".~ix%lx%x", static_cast<unsigned long>(::GetCurrentProcessId()),
                g_tempCounter.fetch_add(1));
  const std::string temp = file + suffix;
  bool ok = false;
  {
    // The source closes before the move: an open handle forbids replacing it.
    FileSource source;
    if (!source.Open(file)) return false;
    UniqueHandle out(WriteStep() ? ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr)
                                 : INVALID_HANDLE_VALUE);
    if (!out) return false;
    try {
      FileSink written(out.get());
      StepSink sink(written);
      LineReader reader(source);
      if (stored) reader.SkipBytes(StoredFileHeaderBytes);
      ok = (!stored || sink.Write(prefix)) && ReplaceHeaderLines(reader, sink, StatusHeader, isSpam ? "1" : "0", true);
      ok = ok && !reader.Failed() && WriteStep() && ::FlushFileBuffers(out.get());
      // The exact time on the open handle: no second open, no rounding.
      ok = ok && WriteStep() && ::SetFileTime(out.get(), nullptr, nullptr, &data.ftLastWriteTime);
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
  ok = ok && WriteStep() &&
       ::SetFileAttributesA(temp.c_str(),
                            (attributes & KeptAttributes) != 0 ? attributes & KeptAttributes : FILE_ATTRIBUTE_NORMAL);
  ok = ok && (attributes & FILE_ATTRIBUTE_READONLY) == 0 && WriteStep() &&
       ::MoveFileExA(temp.c_str(), file.c_str(), MoveFlags);
  if (!ok) {
    ::SetFileAttributesA(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(temp.c_str());
  }
  return ok;
}

}  // namespace

void FailSpamIndexWriteStep(int step) {
  g_stepsTaken.store(0);
  g_failStep.store(step);
}

std::string SpamIndexFolder() { return ConfigFolder() + "..\\Spam\\Index\\"; }

int IndexSpamFolder(const std::string& folder, bool isSpam) {
  int marked = 0;
  for (const std::string& name : ListMessages(folder)) {
    const std::string file = folder + name;
    const bool stored = IsStoredFile(name);
    const HeaderFacts facts = ReadFacts(file, stored);
    if (!facts.opened || !facts.endsWithEmptyLine) continue;
    const bool hadStatus = !facts.status.empty();
    std::int32_t status = 0;
    if (hadStatus && (!WholeNumber(facts.status, status) || status == (isSpam ? 1 : 0))) continue;
    if (!Rewrite(file, stored, isSpam)) continue;
    ++marked;
    const char* sub = hadStatus ? (isSpam ? "Genuine-Spam\\" : "Spam-Genuine\\") : (isSpam ? "Spam\\" : "Genuine\\");
    const std::string target = SpamIndexFolder() + sub;
    if (ForceDirectory(target)) ::CopyFileA(file.c_str(), (target + name).c_str(), FALSE);
  }
  return marked;
}

}  // namespace core
