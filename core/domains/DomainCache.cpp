#include "core/domains/DomainCache.h"

#include <string>

#include "core/platform/RecordCacheTable.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::size_t KeyLength = 127;

RecordCacheTable<std::string, DomainRecordBytes, FileVersion>& Table() {
  static RecordCacheTable<std::string, DomainRecordBytes, FileVersion> table;
  return table;
}

}  // namespace

void SizeDomainCache(std::uint32_t count) { Table().Resize(count); }
void FreeDomainCache() { Table().Resize(0); }
std::size_t DomainCacheSize() { return Table().Size(); }

bool LookUpDomainCache(std::string_view key, const FileVersion& current, bool fast, DomainRecordBytes& record) {
  return Table().LookUp(CutTo(key, KeyLength), current, fast, record);
}

void StoreDomainCache(std::string_view key, const FileVersion& version, const DomainRecordBytes& record) {
  Table().Store(CutTo(key, KeyLength), version, record);
}

}  // namespace core
