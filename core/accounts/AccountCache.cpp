#include "core/accounts/AccountCache.h"

#include "core/domains/DomainTable.h"

#include <map>
#include <mutex>
#include <utility>

#include "core/config/ConfigStore.h"
#include "core/platform/RecordCacheTable.h"
#include "core/util/NameText.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::size_t KeyLength = AccountCacheKeyLength;

using Keys = std::pair<std::string, std::string>;  // first alias, domain

RecordCacheTable<Keys, AccountRecordBytes, AccountFileStamp>& Table() {
  static RecordCacheTable<Keys, AccountRecordBytes, AccountFileStamp> table;
  return table;
}

Keys KeysOf(std::string_view firstKey, std::string_view secondKey) {
  return {CutTo(firstKey, KeyLength), CutTo(secondKey, KeyLength)};
}

// Changes this library made, per account file. A leaf lock: nothing else is
// taken while it is held.
std::mutex g_generationMutex;
std::map<std::string, std::uint64_t>& Generations() {
  static std::map<std::string, std::uint64_t> generations;
  return generations;
}

}  // namespace

AccountFileStamp CurrentAccountFileStamp(std::string_view domainName) {
  AccountFileStamp stamp;
  const std::string domain = LowerCase(domainName);
  {
    std::lock_guard<std::mutex> guard(g_generationMutex);
    const auto found = Generations().find(domain);
    stamp.generation = found == Generations().end() ? 0 : found->second;
  }
  // A name that is no safe folder name has no file, and no path is built from it.
  std::string folder;
  if (DomainFolder(domain, folder)) stamp.version = GetFileTimeSize(folder + "users.cfg");
  return stamp;
}

void NoteAccountFileChanged(std::string_view domainName) {
  std::lock_guard<std::mutex> guard(g_generationMutex);
  ++Generations()[LowerCase(domainName)];
}

void SizeAccountCache(std::uint32_t count) { Table().Resize(count); }
void FreeAccountCache() { Table().Resize(0); }
std::size_t AccountCacheSize() { return Table().Size(); }

bool LookUpAccountCache(std::string_view firstKey, std::string_view secondKey, const AccountFileStamp& current,
                        bool fast, AccountRecordBytes& record) {
  return Table().LookUp(KeysOf(firstKey, secondKey), current, fast, record);
}

void StoreAccountCache(std::string_view firstKey, std::string_view secondKey, const AccountFileStamp& stamp,
                       const AccountRecordBytes& record) {
  Table().Store(KeysOf(firstKey, secondKey), stamp, record);
}

bool CopyAccountCacheEntry(std::size_t index, CachedAccount& out) {
  RecordCacheTable<Keys, AccountRecordBytes, AccountFileStamp>::Entry entry;
  if (!Table().Copy(index, entry)) return false;
  out.firstKey = entry.key.first;
  out.secondKey = entry.key.second;
  out.record = entry.record;
  out.stamp = entry.stamp;
  return true;
}

void TouchAccountCacheEntry(std::size_t index, std::string_view firstKey, std::string_view secondKey) {
  Table().Touch(index, KeysOf(firstKey, secondKey));
}

std::string AccountCacheKey(const std::uint8_t* record) {
  return CutTo(LowerCase(FirstListItem(FieldText(record, account::AliasList))), KeyLength);
}

}  // namespace core
