#include "core/domains/DomainRecords.h"

#include <windows.h>

#include <string>

#include "core/config/ConfigStore.h"
#include "core/db/DbLibrary.h"
#include "core/domains/DomainTable.h"
#include "core/platform/Files.h"
#include "core/util/RecordScrambling.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::uint8_t DatabaseStorageMode = 2;

bool DatabaseMode() { return GetU8(Settings().data(), cfg::StorageMode) == DatabaseStorageMode && IsDBLoaded(); }

// Reads by the name as it is (already resolved, or the table's own).
bool LoadByName(const std::string& name, DomainRecordBytes& record, bool useCache, bool fast) {
  record.fill(0);
  std::string folder;
  if (!DomainFolder(name, folder)) return false;
  const std::string file = folder + "domain.cfg";
  // The version is taken before the read, so that a rewrite during the read
  // makes the stored entry stale rather than wrongly current.
  const FileVersion version = useCache ? GetFileTimeSize(file) : FileVersion{};
  if (useCache && LookUpDomainCache(name, version, fast, record)) return true;
  if (DatabaseMode()) {
    record.fill(0);
    if (DbGetDomain(name.c_str(), record.data())) return true;
    record.fill(0);
  }
  std::string bytes;
  if (ReadFileBytes(file, 0, DomainRecordSize, bytes) != FileReadResult::Read) return false;
  std::copy(bytes.begin(), bytes.end(), record.begin());
  ScrambleBuffer(record.data(), static_cast<std::ptrdiff_t>(bytes.size()), 0);
  if (useCache) StoreDomainCache(name, version, record);
  return true;
}

}  // namespace

bool LoadDomainConfig(std::string_view name, DomainRecordBytes& record, bool useCache, bool fast) {
  record.fill(0);
  std::string resolved = LowerCase(name);
  ResolveDomainName(resolved);
  return LoadByName(resolved, record, useCache, fast);
}

bool ReadDomainRecord(DomainRecordBytes& record, int index) {
  return LoadByName(DomainListGetName(index), record, true, false);
}

bool WriteDomainRecord(const DomainRecordBytes& record, int index) {
  const std::string name = DomainListGetName(index);
  std::string folder;
  if (!DomainFolder(name, folder)) return false;
  const bool database = DatabaseMode();
  const bool stored = database && DbSetDomain(name.c_str(), record.data());
  ForceDirectory(folder);
  DomainRecordBytes scrambled = record;
  ScrambleBuffer(scrambled.data(), static_cast<std::ptrdiff_t>(scrambled.size()), 0);
  const bool written = WriteFileAtomic(folder + "domain.cfg", scrambled.data(), scrambled.size());
  return database ? stored : written;
}

bool AddDomainRecord(std::string_view name) {
  const std::string lower = LowerCase(name);
  std::string folder;
  if (!DomainFolder(lower, folder)) return false;
  return DatabaseMode() ? DbAddDomain(lower.c_str()) : true;
}

bool RenameDomainRecord(std::string_view oldName, std::string_view newName) {
  const int index = DomainListFind(oldName, false);
  const std::string current = DomainListGetName(index);
  const std::string wanted = CutTo(LowerCase(Trim(newName)), DomainNameMaxLength);
  std::string from, to;
  if (!DomainFolder(current, from) || !DomainFolder(wanted, to)) return false;
  if (current == wanted) return true;
  from.pop_back();
  to.pop_back();
  // A domain without a folder (the back end holds it all) has nothing to move.
  const bool hasFolder = (::GetFileAttributesA(from.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                         ::GetFileAttributesA(from.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (hasFolder && !::MoveFileExA(from.c_str(), to.c_str(), 0)) return false;
  const bool database = DatabaseMode();
  if (database && !DbRenameDomain(current.c_str(), wanted.c_str())) {
    if (hasFolder) ::MoveFileExA(to.c_str(), from.c_str(), 0);
    return false;
  }
  if (DomainListRename(index, wanted)) return true;
  // The table refused: the earlier steps go back, newest first.
  if (database) DbRenameDomain(wanted.c_str(), current.c_str());
  if (hasFolder) ::MoveFileExA(to.c_str(), from.c_str(), 0);
  return false;
}

bool DeleteDomainRecord(int index) {
  const std::string name = DomainListGetName(index);
  std::string folder;
  if (!DomainFolder(name, folder)) return false;
  if (DatabaseMode()) DbDeleteDomain(name.c_str());
  for (const char* file : {"domain.cfg", "users.cfg", "users.upd"})
    ::DeleteFileA((folder + file).c_str());
  folder.pop_back();
  ::RemoveDirectoryA(folder.c_str());  // stays when other files remain
  return true;
}

bool UnlistDomain(int index) {
  try {
    DomainListDelete(index);
  } catch (...) {
  }
  return true;
}

}  // namespace core
