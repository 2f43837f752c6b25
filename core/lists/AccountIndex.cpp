#include "core/lists/AccountIndex.h"

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "core/accounts/AccountCache.h"
#include "core/accounts/RecordFile.h"
#include "core/config/ConfigStore.h"
#include "core/domains/DomainBindings.h"
#include "core/domains/DomainTable.h"
#include "core/lists/AccountLists.h"
#include "core/platform/Files.h"
#include "core/platform/InstallationLock.h"
#include "core/util/ListMatch.h"
#include "core/util/RecordScrambling.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::uint8_t DatabaseStorageMode = 2;
constexpr FieldRef MailboxCheckOff = ConfigField("FullAddressLogin");

struct Index {
  AccountFileStamp stamp;
  std::uint64_t domainKey = 0;
  std::uint32_t records = 0;                                            // records of the file the index holds
  bool tailPending = false;                                             // another process appended since
  std::uint64_t round = 0;                                              // the check round its stamp was last checked in
  std::unordered_map<std::string, std::uint32_t> items;                 // item -> accounts holding it
  std::vector<std::string> grouped;                                     // alias lists with a group reference
  std::unordered_map<std::string, std::vector<std::string>> mailboxes;  // MailboxKey -> alias lists
};

// Held for every query and update; the walks the index falls back to run
// outside it.
std::mutex g_mutex;
std::map<std::string, Index>& Indexes() {
  static std::map<std::string, Index> indexes;
  return indexes;
}

// Where this process stands in the installation's list of account-file
// changes (InstallationLock.h). While the list vouches for a domain, its
// index is used without looking at its file; the file stamps are checked
// anyway for the domain a change goes to, when the list cannot vouch (no
// hold, list lost or overrun) and every couple of seconds, for changes made
// by hand.
std::uint64_t g_seen = 0;
bool g_everSynced = false;
std::uint64_t g_round = 1;  // a new round: every stamp is checked once more
std::chrono::steady_clock::time_point g_lastFullCheck{};
constexpr std::chrono::seconds FullCheckEvery{2};

// Brings the indexes up to the list (caller holds g_mutex), or starts a new
// round of stamp checks.
void SyncWithChanges() {
  const auto now = std::chrono::steady_clock::now();
  std::vector<AccountFileNote> notes;
  const std::uint64_t generation = AccountFileGeneration();
  const bool vouched = g_everSynced && AccountFileChangesSince(g_seen, notes);
  g_seen = generation;
  g_everSynced = generation != 0;
  if (!vouched || now - g_lastFullCheck > FullCheckEvery) {
    g_lastFullCheck = now;
    ++g_round;
    return;
  }
  auto& indexes = Indexes();
  for (const AccountFileNote& note : notes) {
    if (note.ours) continue;  // followed already (NoteAccountChange)
    if (note.change == AccountFileChange::Reset) {
      indexes.clear();
      continue;
    }
    for (auto it = indexes.begin(); it != indexes.end(); ++it) {
      if (it->second.domainKey != note.domainKey) continue;
      if (note.change == AccountFileChange::Appended) {
        it->second.tailPending = true;
      } else {
        indexes.erase(it);
      }
      break;
    }
  }
}

bool FilesMode() { return GetU8(Settings().data(), cfg::StorageMode) != DatabaseStorageMode; }

// The items of an account's alias list as the list matcher splits it: at
// each ";", the text after the last ";" included.
template <typename Visit>
void ForEachItem(std::string_view list, Visit visit) {
  std::size_t start = 0;
  while (start < list.size()) {
    const std::size_t semi = list.find(';', start);
    visit(list.substr(start, semi == std::string_view::npos ? std::string_view::npos : semi - start));
    if (semi == std::string_view::npos) break;
    start = semi + 1;
  }
}

std::string ItemKey(std::string_view item) { return LowerCase(Trim(item)); }

bool HasGroupReference(std::string_view list) {
  bool found = false;
  ForEachItem(list, [&](std::string_view item) {
    found = found || (item.find('[') != std::string_view::npos && IsGroupReference(ItemKey(item)));
  });
  return found;
}

// Mailbox names compare without regard to case, passwords exactly; the
// length in front keeps the pair unambiguous.
std::string MailboxKey(std::string_view mailbox, std::string_view password) {
  const std::string name = LowerCase(mailbox);
  return std::to_string(name.size()) + ':' + name + std::string(password);
}

void Apply(Index& index, const std::uint8_t* record, int delta) {
  const std::string aliases = FieldText(record, account::AliasList);
  const std::string password = FieldText(record, account::Password);
  auto drop = [](std::vector<std::string>& lists, const std::string& list) {
    for (auto it = lists.begin(); it != lists.end(); ++it) {
      if (*it != list) continue;
      lists.erase(it);
      return;
    }
  };
  // An empty password never conflicts, so such accounts need no entry.
  if (!password.empty()) {
    const std::string key = MailboxKey(FieldText(record, account::MailboxName), password);
    if (delta > 0) {
      index.mailboxes[key].push_back(aliases);
    } else if (const auto found = index.mailboxes.find(key); found != index.mailboxes.end()) {
      drop(found->second, aliases);
      if (found->second.empty()) index.mailboxes.erase(found);
    }
  }
  if (Trim(aliases).empty()) return;  // matches nothing
  if (HasGroupReference(aliases)) {
    if (delta > 0) {
      index.grouped.push_back(aliases);
    } else {
      drop(index.grouped, aliases);
    }
    return;
  }
  ForEachItem(aliases, [&](std::string_view item) {
    const std::string key = ItemKey(item);
    if (delta > 0) {
      ++index.items[key];
    } else if (const auto found = index.items.find(key); found != index.items.end() && --found->second == 0) {
      index.items.erase(found);
    }
  });
}

// The account file of a domain and the key of its index; false for a name
// that names no folder of ours (such a domain has no accounts).
bool AccountFile(const std::string& domain, std::string& file) {
  std::string folder;
  if (!DomainFolder(domain, folder)) return false;
  file = folder + "users.cfg";
  return true;
}

// Adds the records from index.records on to the index; false on a read error.
bool ReadRecords(const std::string& file, Index& index) {
  RecordFile records(file, AccountRecordSize);
  if (!records.OpenRead()) return false;
  if (records.Count() < index.records) return false;  // shrunk: not an append
  const bool read = records.ForEach(index.records, [&](std::uint32_t, std::uint8_t* bytes) {
    for (const FieldRef field : {account::AliasList, account::MailboxName, account::Password})
      ScrambleBuffer(bytes + field.offset, field.width + 1, field.offset);
    Apply(index, bytes, +1);
    return false;
  });
  index.records = records.Count();
  return read;
}

// The current index of the domain (caller holds g_mutex), built when missing
// or stale; null when the file exists but cannot be read whole. verify: the
// file's stamp decides, else the change list has vouched for it.
const Index* CurrentIndex(const std::string& domain, bool verify) {
  static const Index none;
  std::string file;
  if (!AccountFile(domain, file)) return &none;
  const std::string key = LowerCase(file);
  auto& indexes = Indexes();
  const auto found = indexes.find(key);
  if (found != indexes.end() && !verify && !found->second.tailPending && found->second.round == g_round)
    return &found->second;
  // Taken before the read, so a change during the read makes it stale.
  const AccountFileStamp stamp = CurrentAccountFileStamp(domain);
  if (found != indexes.end()) {
    Index& index = found->second;
    index.round = g_round;
    if (index.tailPending) {
      index.tailPending = false;
      if (ReadRecords(file, index)) {
        index.stamp = stamp;
        return &index;
      }
    } else if (index.stamp == stamp) {
      return &index;
    }
    indexes.erase(found);
  }
  Index built;
  built.stamp = stamp;
  built.domainKey = AccountFileKey(domain);
  built.round = g_round;
  if (FileExists(file) && !ReadRecords(file, built)) return nullptr;
  return &indexes.emplace(key, std::move(built)).first->second;
}

// Runs ask over the domain's current index; nothing when there is none.
template <typename Ask>
std::optional<bool> WithIndex(const std::string& domain, bool verify, Ask ask) {
  std::lock_guard<std::mutex> guard(g_mutex);
  SyncWithChanges();
  const Index* index = CurrentIndex(domain, verify);
  if (index == nullptr) return std::nullopt;
  return ask(*index);
}

GroupMemberTest GroupTest() { return GroupTestOver(ConfigGroupFiles()); }

}  // namespace

bool IndexedCheckNewAlias(std::string_view domainName, std::string_view aliases) {
  try {
    if (!FilesMode()) return CheckNewAlias(domainName, aliases);
    if (Trim(aliases).empty()) return true;  // an empty list matches nothing
    // The list's items as the matcher takes them: ";" closes each item.
    std::string list = LowerCase(aliases);
    if (list.back() != ';') list += ';';
    std::vector<std::string> wanted;
    for (std::size_t start = 0, semi = list.find(';'); semi != std::string::npos;
         start = semi + 1, semi = list.find(';', start))
      wanted.push_back(Trim(std::string_view(list).substr(start, semi - start)));
    const ListMatcher matcher(aliases, GroupTest());
    const std::optional<bool> conflict = WithIndex(LowerCase(domainName), true, [&](const Index& index) {
      for (const std::string& item : wanted) {
        if (index.items.count(item) != 0) return true;
      }
      for (const std::string& grouped : index.grouped) {
        if (matcher.Matches(grouped)) return true;
      }
      return false;
    });
    if (!conflict) return CheckNewAlias(domainName, aliases);
    return !*conflict;
  } catch (...) {
    return false;
  }
}

bool IndexedCheckForMailbox(std::string_view mailbox, std::string_view password, std::string_view aliases,
                            int domainIndex) {
  try {
    if (!FilesMode()) return CheckForMailbox(mailbox, password, aliases, domainIndex);
    if (GetU8(Settings().data(), MailboxCheckOff) != 0 || password.empty()) return false;
    const std::string binding = ReadDomainBind(domainIndex);
    const bool bound = !binding.empty();
    const ListMatcher self(aliases, GroupTest());
    const std::string key = MailboxKey(mailbox, password);
    const int count = static_cast<int>(CountDomains());
    for (int l = 0; l < count; ++l) {
      // The same domains as the walk: a bound domain shares mailbox names
      // only with the other domains on its addresses.
      if (bound && (l == domainIndex || !MatchStringLists(ReadDomainBind(l), binding))) continue;
      const std::optional<bool> conflict = WithIndex(DomainListGetName(l), l == domainIndex, [&](const Index& index) {
        const auto found = index.mailboxes.find(key);
        if (found == index.mailboxes.end()) return false;
        if (l != domainIndex) return true;
        for (const std::string& list : found->second) {
          if (!self.Matches(list)) return true;  // another account of this domain
        }
        return false;
      });
      if (!conflict) return CheckForMailbox(mailbox, password, aliases, domainIndex);
      if (*conflict) return true;
    }
    return false;
  } catch (...) {
    return true;
  }
}

void NoteAccountChange(std::string_view domainName, const AccountRecordBytes* removed,
                       const AccountRecordBytes* added) {
  const std::string domain = LowerCase(domainName);
  std::string file;
  if (!FilesMode() || !AccountFile(domain, file)) return;
  std::lock_guard<std::mutex> guard(g_mutex);
  auto& indexes = Indexes();
  const auto found = indexes.find(LowerCase(file));
  if (found == indexes.end()) return;
  const AccountFileStamp now = CurrentAccountFileStamp(domain);
  // Only our one change since the index was taken: follow it; else rebuild later.
  if (now.generation != found->second.stamp.generation + 1 || found->second.tailPending) {
    indexes.erase(found);
    return;
  }
  try {
    if (removed != nullptr) Apply(found->second, removed->data(), -1);
    if (added != nullptr) Apply(found->second, added->data(), +1);
    found->second.records += (added != nullptr ? 1u : 0u) - (removed != nullptr ? 1u : 0u);
    found->second.stamp = now;
  } catch (...) {
    indexes.erase(found);
  }
}

void ForgetAccountIndexes() {
  std::lock_guard<std::mutex> guard(g_mutex);
  Indexes().clear();
}

}  // namespace core
