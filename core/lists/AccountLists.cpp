#include "core/lists/AccountLists.h"

#include <windows.h>

#include <map>
#include <mutex>
#include <vector>

#include "core/accounts/AccountHooks.h"
#include "core/accounts/AccountStore.h"
#include "core/config/ConfigFiles.h"
#include "core/config/ConfigStore.h"
#include "core/db/DbInterface.h"
#include "core/db/DbLibrary.h"
#include "core/domains/DomainBindings.h"
#include "core/domains/DomainTable.h"
#include "core/lists/Defaults.h"
#include "core/mime/HeaderText.h"
#include "core/platform/Files.h"
#include "core/util/PathText.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::uint8_t DatabaseStorageMode = 2;
constexpr FieldRef MailboxCheckOff = ConfigField("FullAddressLogin");

enum class Mode { Files, Database, Nowhere };

Mode StorageMode() {
  if (GetU8(Settings().data(), cfg::StorageMode) != DatabaseStorageMode) return Mode::Files;
  return IsDBLoaded() ? Mode::Database : Mode::Nowhere;
}

class CachedGroupFiles final : public GroupFiles {
 public:
  Parsed Read(std::string_view name) override {
    const std::string path = ConfigFilePath(name);
    const FileVersion version = GetFileTimeSize(path);
    std::lock_guard<std::mutex> guard(mutex_);
    Entry& entry = files_[LowerCase(path)];
    if (entry.parsed != nullptr && entry.version == version) return entry.parsed;
    std::vector<std::string> lines;
    if (!ReadTextLines(path, lines)) {
      entry = Entry{};
      return nullptr;
    }
    entry.version = version;
    entry.parsed = ParseGroupFile(lines);
    return entry.parsed;
  }

 private:
  // A file is parsed again only when its full last-write time or size changed.
  struct Entry {
    FileVersion version;
    Parsed parsed;
  };
  std::mutex mutex_;
  std::map<std::string, Entry> files_;
};

std::mutex g_rightsMutex;
std::string g_domainAdminRights;

// Walks a domain's accounts; false when its account file exists but could
// not be walked (the callers count that as a conflict).
template <typename Visit>
bool WalkAccounts(const std::string& domain, Visit visit) {
  std::string folder;
  if (!DomainFolder(domain, folder)) return true;
  if (!FileExists(folder + "users.cfg")) return true;
  std::vector<std::uint8_t> block(AccountEnumerationSize);
  if (!InitUsers(domain, block.data(), "", 0, 0)) return false;
  AccountRecordBytes record{};
  while (NextUser(block.data()) == 0) {
    std::copy(block.begin(), block.begin() + AccountRecordSize, record.begin());
    if (visit(record)) break;
  }
  DoneUsers(block.data());
  return true;
}

std::string FullLower(const std::string& path) {
  char buffer[MAX_PATH * 2] = {};
  const DWORD length = ::GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  std::string full = length > 0 && length < sizeof buffer ? std::string(buffer, length) : path;
  full = LowerCase(full);
  for (char& c : full)
    c = c == '/' ? '\\' : c;
  if (!full.empty() && full.back() != '\\') full += '\\';
  return full;
}

}  // namespace

GroupFiles& ConfigGroupFiles() {
  static CachedGroupFiles files;
  return files;
}

void InstallListHooks() { SetAccountGroupTest(GroupTestOver(ConfigGroupFiles())); }

bool CheckNewAlias(std::string_view domainName, std::string_view aliases) {
  try {
    switch (StorageMode()) {
      case Mode::Database:
        return DbCheckNewAlias(std::string(domainName).c_str(), std::string(aliases).c_str());
      case Mode::Nowhere:
        return true;
      case Mode::Files:
        break;
    }
    const ListMatcher matcher(aliases, GroupTestOver(ConfigGroupFiles()));
    bool conflict = false;
    if (!WalkAccounts(LowerCase(domainName), [&](const AccountRecordBytes& record) {
          conflict = matcher.Matches(FieldText(record.data(), account::AliasList));
          return conflict;
        }))
      return false;
    return !conflict;
  } catch (...) {
    return false;
  }
}

bool CheckForMailbox(std::string_view mailbox, std::string_view password, std::string_view aliases, int domainIndex) {
  try {
    if (GetU8(Settings().data(), MailboxCheckOff) != 0 || password.empty()) return false;
    const std::string name = DomainListGetName(domainIndex);
    switch (StorageMode()) {
      case Mode::Database:
        return DbCheckForMailbox(std::string(mailbox).c_str(), std::string(password).c_str(),
                                 std::string(aliases).c_str(), UsesDomainBinding(), name.c_str());
      case Mode::Nowhere:
        return false;
      case Mode::Files:
        break;
    }
    const std::string binding = ReadDomainBind(domainIndex);
    const bool bound = !binding.empty();
    const ListMatcher self(aliases, GroupTestOver(ConfigGroupFiles()));
    const int count = static_cast<int>(CountDomains());
    for (int l = 0; l < count; ++l) {
      // A bound domain shares mailbox names only with the other domains on
      // its addresses; an unbound one with every domain.
      if (bound && (l == domainIndex || !MatchStringLists(ReadDomainBind(l), binding))) continue;
      bool conflict = false;
      const bool walked = WalkAccounts(DomainListGetName(l), [&](const AccountRecordBytes& record) {
        if (!SameText(FieldText(record.data(), account::MailboxName), mailbox)) return false;
        if (FieldText(record.data(), account::Password) != password) return false;
        conflict = l != domainIndex || !self.Matches(FieldText(record.data(), account::AliasList));
        return conflict;
      });
      if (conflict || !walked) return true;
    }
    return false;
  } catch (...) {
    return true;
  }
}

void SplitEmailAddress(std::string_view address, std::string& alias, std::string& domain) {
  const std::string bare = ExtractEmailAddress(address, true);
  const std::size_t at = bare.find('@');
  if (at != std::string::npos) {
    alias = bare.substr(0, at);
    domain = bare.substr(at + 1);
  } else {
    alias = bare;
    domain = DomainListGetName(0);
  }
}

void ApplyDefaultsIni(bool isAccount, std::uint8_t* record, bool globalOnly, std::string_view folder) {
  std::string base = folder.empty() ? ConfigFolder() + "..\\" : std::string(folder);
  if (!base.empty() && base.back() != '\\') base += '\\';
  std::vector<std::string> lines;
  const bool read = ReadTextLines(base + "default.ini", lines);
  if (globalOnly) {
    std::lock_guard<std::mutex> guard(g_rightsMutex);
    g_domainAdminRights = read ? DomainAdminRightsOf(lines) : std::string();
    return;
  }
  if (record != nullptr) ApplyDefaultLines(isAccount, record, read ? lines : std::vector<std::string>{});
}

std::string DomainAdminRights() {
  std::lock_guard<std::mutex> guard(g_rightsMutex);
  return g_domainAdminRights;
}

void WriteMailboxDomainFile(const AccountRecordBytes& record, std::string_view text) {
  const std::string folder = GetMailboxPath(FieldText(record.data(), account::MailboxPath), false, {});
  const std::string file = folder + "domain.dat";
  if (FileExists(file)) return;
  ForceDirectory(folder);
  const std::string line = CutTo(text, 95) + "\r\n";
  WriteFileAtomic(file, line.data(), line.size());
}

void GetMailboxSize(const std::string& folder, std::uint64_t& size, std::uint32_t& count, std::uint32_t& oldest) {
  std::vector<std::string> pending{NormalizePath(folder, true, false)};
  while (!pending.empty()) {
    const std::string current = pending.back();
    pending.pop_back();
    WIN32_FIND_DATAA entry{};
    const UniqueFindHandle search(::FindFirstFileA((current + "*").c_str(), &entry));
    if (!search) continue;
    do {
      const std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      // Links are counted as nothing and never entered.
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        pending.push_back(current + name + "\\");
        continue;
      }
      if (name.find(".imap") == std::string::npos && name.find(".tmp") == std::string::npos) continue;
      size += static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32 | entry.nFileSizeLow;
      ++count;
      FILETIME local{};
      WORD date = 0, time = 0;
      if (::FileTimeToLocalFileTime(&entry.ftLastWriteTime, &local) && ::FileTimeToDosDateTime(&local, &date, &time)) {
        const std::uint32_t stamp = static_cast<std::uint32_t>(date) << 16 | time;
        if (stamp < oldest) oldest = stamp;
      }
    } while (::FindNextFileA(search.get(), &entry));
  }
}

bool IsDeletableMailboxFolder(const std::string& folder) {
  if (!IsDeletableFolder(folder)) return false;
  const std::string target = FullLower(folder);
  const std::string mail = GetShortString(Settings().data(), cfg::MailFolder);
  for (const std::string& kept : {RootFolder(), ConfigFolder(), mail}) {
    if (kept.empty()) continue;
    // At or above a folder of ours: that folder would go with it.
    const std::string protectedFolder = FullLower(kept);
    if (protectedFolder.compare(0, target.size(), target) == 0) return false;
  }
  return true;
}

}  // namespace core
