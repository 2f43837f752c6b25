// Walking a domain's accounts through the caller's 3,296-byte block.
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "core/accounts/AccountStore.h"
#include "core/accounts/RecordFile.h"
#include "core/config/ConfigStore.h"
#include "core/db/DbInterface.h"
#include "core/db/DbLibrary.h"
#include "core/domains/DomainTable.h"
#include "core/util/LittleEndian.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::uint8_t DatabaseStorageMode = 2;
constexpr std::uint32_t RecordsPerRead = 64;
constexpr std::size_t DomainNameWidth = 95;

// What the library itself knows of an open block.
struct Walk {
  bool database = false;
  std::unique_ptr<RecordFile> file;
  std::vector<std::uint8_t> buffer;  // records [bufferFirst, bufferFirst + buffered), scrambled
  std::uint32_t bufferFirst = 0;
  std::uint32_t buffered = 0;
  std::int64_t position = -1;
};

// The registry is locked only to find or change an entry; a walk's own
// reads run outside it, so walks on several threads do not wait for each
// other.
std::mutex g_walksMutex;
std::map<const std::uint8_t*, std::shared_ptr<Walk>>& Walks() {
  static std::map<const std::uint8_t*, std::shared_ptr<Walk>> walks;
  return walks;
}

std::shared_ptr<Walk> FindWalk(const std::uint8_t* block) {
  std::lock_guard<std::mutex> guard(g_walksMutex);
  const auto found = Walks().find(block);
  return found == Walks().end() ? nullptr : found->second;
}

void PutPosition(std::uint8_t* block, std::int64_t position) {
  StoreLE(block + DbEnumPositionOffset, static_cast<std::uint32_t>(static_cast<std::int32_t>(position)));
}

// The next record of a file walk into the block: 0, or 1 at the end.
std::int32_t NextFromFile(Walk& walk, std::uint8_t* block) {
  const std::int64_t next = walk.position + 1;
  if (next >= walk.file->Count()) return 1;
  const auto index = static_cast<std::uint32_t>(next);
  if (index < walk.bufferFirst || index >= walk.bufferFirst + walk.buffered) {
    walk.bufferFirst = index;
    walk.buffered = walk.file->ReadBlock(index, RecordsPerRead, walk.buffer);
    if (walk.buffered == 0) return 1;
  }
  std::uint8_t* record = walk.buffer.data() + static_cast<std::size_t>(index - walk.bufferFirst) * AccountRecordSize;
  std::copy(record, record + AccountRecordSize, block + DbEnumRecordOffset);
  ScrambleRecord(block + DbEnumRecordOffset, AccountRecordSize);
  walk.position = next;
  PutPosition(block, next);
  return 0;
}

}  // namespace

bool InitUsers(std::string_view domainName, std::uint8_t* block, std::string_view filter, std::uint8_t option,
               std::int32_t skipCount) {
  if (block == nullptr) return false;
  DoneUsers(block);  // a block reused without DoneUsers is closed first
  std::fill(block, block + AccountEnumerationSize, std::uint8_t{0});
  block[DbEnumOptionOffset] = option;
  const std::string domain = CutTo(domainName, DomainNameWidth);
  auto made = std::make_shared<Walk>();
  Walk& walk = *made;
  if (GetU8(Settings().data(), cfg::StorageMode) == DatabaseStorageMode) {
    if (!IsDBLoaded() || !DbInitUsers(domain.c_str(), block, -1, skipCount, std::string(filter).c_str())) return false;
    walk.database = true;
  } else {
    std::string folder;
    if (!DomainFolder(domain, folder)) return false;
    walk.file = std::make_unique<RecordFile>(folder + "users.cfg", AccountRecordSize);
    if (!walk.file->OpenRead()) return false;
    StoreLE(block + DbEnumCountOffset, walk.file->Count());
    PutPosition(block, -1);
    block[DbEnumOpenOffset] = 1;
    block[DbEnumDomainOffset] = static_cast<std::uint8_t>(domain.size());
    std::copy(domain.begin(), domain.end(), block + DbEnumDomainOffset + 1);
    for (std::int32_t i = 0; i < skipCount && NextFromFile(walk, block) == 0; ++i) {
    }
  }
  std::lock_guard<std::mutex> guard(g_walksMutex);
  Walks()[block] = std::move(made);
  return true;
}

std::int32_t NextUser(std::uint8_t* block) {
  const std::shared_ptr<Walk> walk = FindWalk(block);
  if (walk == nullptr) return 1;
  if (walk->database) return DbNextUser(block) == 0 ? 0 : 1;
  try {
    return NextFromFile(*walk, block);
  } catch (...) {
    return 1;
  }
}

void DoneUsers(std::uint8_t* block) {
  std::shared_ptr<Walk> walk;
  {
    std::lock_guard<std::mutex> guard(g_walksMutex);
    const auto found = Walks().find(block);
    if (found == Walks().end()) return;
    walk = std::move(found->second);
    Walks().erase(found);
  }
  if (walk->database) DbDoneUsers(block);
  block[DbEnumOpenOffset] = 0;
}

}  // namespace core
