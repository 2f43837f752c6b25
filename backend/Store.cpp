#include "backend/Store.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "backend/RecordText.h"
#include "core/db/DbInterface.h"
#include "core/util/ListMatch.h"
#include "core/util/Text.h"

namespace backend {

namespace {

static_assert(AliasOffset == core::DbAccountAliasOffset && MailboxOffset == core::DbAccountMailboxOffset &&
              PasswordOffset == core::DbAccountPasswordOffset);

constexpr int WalkReadAhead = 32;
constexpr std::size_t DomainEntryNameLength = 91;
constexpr std::size_t DomainEntryAddressOffset = 92;
constexpr std::size_t AccountKindOffset = 0;
constexpr std::size_t AccountAuthModeOffset = 664;
constexpr std::uint8_t AuthPlain = 0;
constexpr std::uint8_t AuthNone = 3;

std::string View(const std::uint8_t* bytes, int size) {
  return std::string(reinterpret_cast<const char*>(bytes), size);
}

// A stored record into the caller's buffer: as long as both allow, the rest zero.
void CopyRecord(const std::string& stored, std::uint8_t* record, int size) {
  std::memset(record, 0, static_cast<std::size_t>(size));
  std::memcpy(record, stored.data(), std::min(stored.size(), static_cast<std::size_t>(size)));
}

// "?, ?, ?" for n parameters.
std::string Marks(std::size_t n) {
  std::string marks;
  for (std::size_t i = 0; i < n; ++i)
    marks += i == 0 ? "?" : ", ?";
  return marks;
}

// The schema; only the type of binary columns and of generated ids differ.
std::vector<std::string> SchemaStatements(Dialect dialect) {
  const std::string bin = dialect == Dialect::SQLite ? "BLOB" : "BYTEA";
  const std::string id = dialect == Dialect::SQLite ? "id INTEGER PRIMARY KEY" : "id SERIAL PRIMARY KEY";
  return {
      "CREATE TABLE IF NOT EXISTS domains (" + id + ", name " + bin +
          " NOT NULL UNIQUE, ordinal INTEGER NOT NULL, record " + bin + " NOT NULL, binding " + bin + ")",
      "CREATE TABLE IF NOT EXISTS accounts (" + id +
          ", domain_id INTEGER NOT NULL, position INTEGER NOT NULL, mailbox " + bin + ", record " + bin +
          " NOT NULL, UNIQUE (domain_id, position))",
      "CREATE INDEX IF NOT EXISTS accounts_mailbox ON accounts (mailbox)",
      "CREATE TABLE IF NOT EXISTS account_aliases (account_id INTEGER NOT NULL, domain_id INTEGER NOT NULL, alias " +
          bin + " NOT NULL)",
      "CREATE INDEX IF NOT EXISTS account_aliases_lookup ON account_aliases (domain_id, alias)",
      "CREATE INDEX IF NOT EXISTS account_aliases_account ON account_aliases (account_id)",
  };
}

}  // namespace

// --- connection -------------------------------------------------------------

void Store::Connect(const std::string& connectionText) {
  connection_.Open(WithLockWait(connectionText));
  try {
    CreateSchema();
  } catch (...) {
    connection_.Close();
    throw;
  }
}

void Store::Disconnect() noexcept { connection_.Close(); }

void Store::CreateSchema() {
  // Two processes starting at once may both try to create the tables; the
  // loser finds them on the second try.
  for (int attempt = 0;; ++attempt) {
    try {
      Transaction transaction(connection_);
      for (const std::string& sql : SchemaStatements(connection_.dialect()))
        connection_.Execute(sql);
      transaction.Commit();
      return;
    } catch (const OdbcError& error) {
      if (attempt == 1 || error.connectionLost()) throw;
    }
  }
}

// --- helpers (callers hold a transaction where they write) ------------------

std::optional<std::int64_t> Store::DomainId(const std::string& key) {
  Query query(connection_, "SELECT id FROM domains WHERE name = ?");
  query.Bytes(key).Run();
  if (!query.Next()) return std::nullopt;
  return query.IntAt(1);
}

// The first statement of a write: the domain's row is locked until the
// transaction ends (on SQLite the whole database is).
std::optional<std::int64_t> Store::LockDomain(const std::string& key) {
  {
    Query lock(connection_, "UPDATE domains SET ordinal = ordinal WHERE name = ?");
    if (lock.Bytes(key).Run().RowCount() == 0) return std::nullopt;
  }
  return DomainId(key);
}

// Positions are dense, so the count is the highest position + 1 (an index
// seek rather than a count of every row).
std::int64_t Store::AccountCount(std::int64_t domainId) {
  Query query(connection_, "SELECT MAX(position) FROM accounts WHERE domain_id = ?");
  query.Int(domainId).Run();
  if (!query.Next()) return 0;
  const std::optional<std::int64_t> highest = query.IntAt(1);
  return highest ? *highest + 1 : 0;
}

std::int64_t Store::LastInsertedId() {
  Query query(connection_,
              connection_.dialect() == Dialect::SQLite ? "SELECT last_insert_rowid()" : "SELECT lastval()");
  query.Run();
  std::optional<std::int64_t> id;
  if (query.Next()) id = query.IntAt(1);
  if (!id) throw OdbcError("HY000", "no id for the new account");
  return *id;
}

void Store::InsertAliases(std::int64_t accountId, std::int64_t domainId, const std::string& aliases) {
  for (const std::string& alias : AliasKeys(aliases)) {
    Query insert(connection_, "INSERT INTO account_aliases (account_id, domain_id, alias) VALUES (?, ?, ?)");
    insert.Int(accountId).Int(domainId).Bytes(alias).Run();
  }
}

std::optional<std::int64_t> Store::FirstPositionWithAlias(const std::string& key, const std::string& aliases) {
  const std::vector<std::string> keys = AliasKeys(aliases);
  std::optional<std::int64_t> first;
  for (std::size_t start = 0; start < keys.size(); start += AliasSlice) {
    const std::size_t n = std::min(AliasSlice, keys.size() - start);
    Query query(connection_,
                "SELECT MIN(a.position) FROM account_aliases x JOIN accounts a ON a.id = x.account_id "
                "WHERE x.domain_id = (SELECT id FROM domains WHERE name = ?) AND x.alias IN (" +
                    Marks(n) + ")");
    query.Bytes(key);
    for (std::size_t i = start; i < start + n; ++i)
      query.Bytes(keys[i]);
    query.Run();
    if (!query.Next()) continue;
    const std::optional<std::int64_t> position = query.IntAt(1);
    if (position && (!first || *position < *first)) first = position;
  }
  return first;
}

// --- domains ----------------------------------------------------------------

bool Store::GetDomain(const std::string& name, std::uint8_t* record) {
  Query query(connection_, "SELECT record FROM domains WHERE name = ?");
  query.Bytes(DomainKey(name)).Run();
  if (!query.Next()) return false;
  CopyRecord(query.BytesAt(1).value_or(std::string()), record, core::DbDomainRecordSize);
  return true;
}

bool Store::SetDomain(const std::string& name, const std::uint8_t* record) {
  Transaction transaction(connection_);
  Query update(connection_, "UPDATE domains SET record = ? WHERE name = ?");
  if (update.Bytes(View(record, core::DbDomainRecordSize)).Bytes(DomainKey(name)).Run().RowCount() != 1) return false;
  transaction.Commit();
  return true;
}

bool Store::AddDomain(const std::string& name) {
  const std::string key = DomainKey(name);
  if (key.empty()) return false;
  Transaction transaction(connection_);
  {
    // One statement: on SQLite it takes the write lock before it reads the
    // highest ordinal. A name already there breaks the unique constraint.
    Query insert(connection_,
                 "INSERT INTO domains (name, ordinal, record, binding) "
                 "SELECT ?, COALESCE(MAX(ordinal), 0) + 1, ?, NULL FROM domains");
    insert.Bytes(key).Bytes(std::string(core::DbDomainRecordSize, '\0')).Run();
  }
  transaction.Commit();
  return true;
}

bool Store::DeleteDomain(const std::string& name) {
  Transaction transaction(connection_);
  const std::optional<std::int64_t> id = LockDomain(DomainKey(name));
  if (!id) return false;
  for (const char* sql : {"DELETE FROM account_aliases WHERE domain_id = ?", "DELETE FROM accounts WHERE domain_id = ?",
                          "DELETE FROM domains WHERE id = ?"}) {
    Query remove(connection_, sql);
    remove.Int(*id).Run();
  }
  transaction.Commit();
  return true;
}

bool Store::RenameDomain(const std::string& oldName, const std::string& newName) {
  const std::string newKey = DomainKey(newName);
  if (newKey.empty()) return false;
  Transaction transaction(connection_);
  Query update(connection_, "UPDATE domains SET name = ? WHERE name = ?");
  if (update.Bytes(newKey).Bytes(DomainKey(oldName)).Run().RowCount() != 1) return false;
  transaction.Commit();
  return true;
}

bool Store::SetDomainBinding(const std::string& name, const std::string& binding) {
  Transaction transaction(connection_);
  Query update(connection_, "UPDATE domains SET binding = ? WHERE name = ?");
  if (update.BytesOrNull(binding).Bytes(DomainKey(name)).Run().RowCount() != 1) return false;
  transaction.Commit();
  return true;
}

std::int32_t Store::DomainCount() {
  Query query(connection_, "SELECT COUNT(*) FROM domains");
  query.Run();
  return query.Next() ? static_cast<std::int32_t>(query.IntAt(1).value_or(0)) : 0;
}

// Entries in table order: the name (at most 91 bytes) and 255.255.255.255
// when the domain has a binding text, else 0.0.0.0; entries past the last
// domain are zero.
void Store::GetDomains(std::uint8_t* entries, std::int32_t count) {
  std::memset(entries, 0, static_cast<std::size_t>(count) * core::DbDomainEntrySize);
  Query query(connection_, "SELECT name, binding FROM domains ORDER BY ordinal, id");
  query.Run();
  for (std::int32_t i = 0; i < count && query.Next(); ++i) {
    std::uint8_t* entry = entries + static_cast<std::size_t>(i) * core::DbDomainEntrySize;
    PutShortText(entry, 0, DomainEntryNameLength, query.BytesAt(1).value_or(std::string()));
    if (!query.BytesAt(2).value_or(std::string()).empty()) std::memset(entry + DomainEntryAddressOffset, 0xFF, 4);
  }
}

// --- accounts ---------------------------------------------------------------

bool Store::SaveAccount(const std::string& domain, const std::uint8_t* record, std::int32_t index) {
  const std::string aliases = AccountAliases(record);
  if (AliasKeys(aliases).empty()) return false;  // no alias could ever find it
  Transaction transaction(connection_);
  const std::optional<std::int64_t> domainId = LockDomain(DomainKey(domain));
  if (!domainId) return false;
  const std::int64_t count = AccountCount(*domainId);
  std::int64_t accountId = 0;
  if (index == -1 || index == count) {
    Query insert(connection_, "INSERT INTO accounts (domain_id, position, mailbox, record) VALUES (?, ?, ?, ?)");
    insert.Int(*domainId).Int(count).BytesOrNull(MailboxKey(record)).Bytes(View(record, core::DbAccountRecordSize));
    insert.Run();
    accountId = LastInsertedId();
  } else if (index >= 0 && index < count) {
    {
      Query find(connection_, "SELECT id FROM accounts WHERE domain_id = ? AND position = ?");
      find.Int(*domainId).Int(index).Run();
      if (!find.Next()) return false;
      accountId = find.IntAt(1).value_or(0);
    }
    Query update(connection_, "UPDATE accounts SET mailbox = ?, record = ? WHERE id = ?");
    update.BytesOrNull(MailboxKey(record)).Bytes(View(record, core::DbAccountRecordSize)).Int(accountId).Run();
    Query forget(connection_, "DELETE FROM account_aliases WHERE account_id = ?");
    forget.Int(accountId).Run();
  } else {
    return false;
  }
  InsertAliases(accountId, *domainId, aliases);
  transaction.Commit();
  return true;
}

std::int32_t Store::GetAccount(const std::string& domain, std::uint8_t* record, std::int32_t index) {
  lastDomain_ = DomainKey(domain);
  lastIndex_ = index;
  lastAccountId_.reset();
  // One statement, so the count and the record come from one state.
  Query query(connection_,
              "SELECT (SELECT MAX(c.position) FROM accounts c WHERE c.domain_id = d.id), a.id, a.record "
              "FROM domains d LEFT JOIN accounts a ON a.domain_id = d.id AND a.position = ? WHERE d.name = ?");
  query.Int(index).Bytes(lastDomain_).Run();
  if (!query.Next()) return 0;
  const std::optional<std::int64_t> highest = query.IntAt(1);
  lastAccountId_ = query.IntAt(2);
  const std::optional<std::string> stored = query.BytesAt(3);
  if (lastAccountId_ && stored) CopyRecord(*stored, record, core::DbAccountRecordSize);
  return highest ? static_cast<std::int32_t>(*highest + 1) : 0;
}

bool Store::DeleteAccount(std::int32_t index) {
  if (lastDomain_.empty() || index < 0) return false;
  Transaction transaction(connection_);
  const std::optional<std::int64_t> domainId = LockDomain(lastDomain_);
  if (!domainId) return false;
  std::optional<std::int64_t> accountId, position;
  {
    // The account the caller read at this index, wherever it stands now;
    // otherwise the one at the index.
    const bool same = lastAccountId_ && index == lastIndex_;
    Query find(connection_, same ? "SELECT id, position FROM accounts WHERE domain_id = ? AND id = ?"
                                 : "SELECT id, position FROM accounts WHERE domain_id = ? AND position = ?");
    find.Int(*domainId).Int(same ? *lastAccountId_ : index).Run();
    if (!find.Next()) return false;
    accountId = find.IntAt(1);
    position = find.IntAt(2);
  }
  if (!accountId || !position) return false;
  {
    Query forget(connection_, "DELETE FROM account_aliases WHERE account_id = ?");
    forget.Int(*accountId).Run();
  }
  {
    Query remove(connection_, "DELETE FROM accounts WHERE id = ?");
    remove.Int(*accountId).Run();
  }
  // The later accounts move down by one, through negative positions so that
  // no row ever meets another's position on the way.
  {
    Query away(connection_, "UPDATE accounts SET position = -position WHERE domain_id = ? AND position > ?");
    away.Int(*domainId).Int(*position).Run();
  }
  {
    Query back(connection_, "UPDATE accounts SET position = -position - 1 WHERE domain_id = ? AND position < 0");
    back.Int(*domainId).Run();
  }
  transaction.Commit();
  lastAccountId_.reset();
  return true;
}

std::int32_t Store::FindAccount(const std::string& domain, const std::string& aliases) {
  const std::optional<std::int64_t> position = FirstPositionWithAlias(DomainKey(domain), aliases);
  return position ? static_cast<std::int32_t>(*position) : -1;
}

// --- walks ------------------------------------------------------------------

bool Store::OpenWalk(const std::string& domain, std::uint8_t* block, std::int32_t start, std::int32_t skipCount) {
  std::int64_t domainId = 0, count = 0;
  std::string name;
  {
    Query query(connection_,
                "SELECT d.id, d.name, (SELECT MAX(a.position) FROM accounts a WHERE a.domain_id = d.id) "
                "FROM domains d WHERE d.name = ?");
    query.Bytes(DomainKey(domain)).Run();
    if (!query.Next()) return false;
    domainId = query.IntAt(1).value_or(0);
    name = query.BytesAt(2).value_or(std::string());
    const std::optional<std::int64_t> highest = query.IntAt(3);
    count = highest ? *highest + 1 : 0;
  }
  // As the record files do: the position stands on the last account skipped.
  const std::int64_t wanted = static_cast<std::int64_t>(start) + std::max<std::int64_t>(skipCount, 0);
  const auto position = static_cast<std::int32_t>(std::clamp<std::int64_t>(wanted, -1, count - 1));
  const auto count32 = static_cast<std::int32_t>(count);
  block[core::DbEnumOpenOffset] = 1;
  std::memcpy(block + core::DbEnumPositionOffset, &position, 4);
  std::memcpy(block + core::DbEnumCountOffset, &count32, 4);
  PutShortText(block, core::DbEnumDomainOffset, 95, name);
  walks_[block] = Walk{domainId, position + 1, {}};
  return true;
}

bool Store::NextInWalk(std::uint8_t* block) {
  if (block[core::DbEnumOpenOffset] == 0) return false;
  auto found = walks_.find(block);
  if (found == walks_.end()) {
    // A walk opened before a reconnection: carry on from what the block says.
    const std::optional<std::int64_t> domainId = DomainId(DomainKey(ShortText(block, core::DbEnumDomainOffset, 95)));
    if (!domainId) return false;
    std::int32_t position = 0;
    std::memcpy(&position, block + core::DbEnumPositionOffset, 4);
    found = walks_.emplace(block, Walk{*domainId, static_cast<std::int64_t>(position) + 1, {}}).first;
  }
  Walk& walk = found->second;
  if (walk.rows.empty()) {
    Query query(connection_,
                "SELECT position, record FROM accounts WHERE domain_id = ? AND position >= ? "
                "ORDER BY position LIMIT " +
                    std::to_string(WalkReadAhead));
    query.Int(walk.domainId).Int(walk.nextPosition).Run();
    while (query.Next()) {
      const std::int64_t position = query.IntAt(1).value_or(0);
      walk.rows.emplace_back(position, query.BytesAt(2).value_or(std::string()));
    }
    if (walk.rows.empty()) return false;
  }
  const auto [position, stored] = std::move(walk.rows.front());
  walk.rows.pop_front();
  walk.nextPosition = position + 1;
  CopyRecord(stored, block + core::DbEnumRecordOffset, core::DbAccountRecordSize);
  const auto position32 = static_cast<std::int32_t>(position);
  std::memcpy(block + core::DbEnumPositionOffset, &position32, 4);
  return true;
}

void Store::CloseWalk(std::uint8_t* block) {
  walks_.erase(block);
  block[core::DbEnumOpenOffset] = 0;
}

// --- checks and logins --------------------------------------------------------

// Another account with this mailbox name and password. With bindings in use
// the accounts that could be confused at a login are those of the domain
// itself and of the domains that share an address with its binding;
// otherwise every domain's. In the domain itself the account being saved
// (one sharing an alias with the list) does not count.
bool Store::MailboxTaken(const std::string& mailbox, const std::string& password, const std::string& aliases,
                         bool usesBinding, const std::string& domain) {
  if (password.empty() || mailbox.empty()) return false;
  const std::string key = DomainKey(domain);
  std::string ownBinding;
  if (usesBinding) {
    Query query(connection_, "SELECT binding FROM domains WHERE name = ?");
    query.Bytes(key).Run();
    if (query.Next()) ownBinding = query.BytesAt(1).value_or(std::string());
  }
  Query query(connection_,
              "SELECT a.record, d.name, d.binding FROM accounts a JOIN domains d ON d.id = a.domain_id "
              "WHERE a.mailbox = ?");
  query.Bytes(core::LowerCase(mailbox)).Run();
  while (query.Next()) {
    std::string stored = query.BytesAt(1).value_or(std::string());
    const std::string name = query.BytesAt(2).value_or(std::string());
    const std::string binding = query.BytesAt(3).value_or(std::string());
    stored.resize(core::DbAccountRecordSize, '\0');
    const auto* record = reinterpret_cast<const std::uint8_t*>(stored.data());
    if (!SamePassword(AccountPassword(record), password)) continue;
    const bool own = name == key;
    if (usesBinding && !own && (ownBinding.empty() || !core::MatchStringLists(binding, ownBinding))) continue;
    if (own && ShareAlias(AccountAliases(record), aliases)) continue;
    return true;
  }
  return false;
}

void Store::ReadCandidates(Query& query, std::map<std::int64_t, Candidate>& into) {
  while (query.Next()) {
    const std::int64_t id = query.IntAt(1).value_or(0);
    Candidate c;
    c.record = query.BytesAt(2).value_or(std::string());
    c.domainId = query.IntAt(3).value_or(0);
    c.ordinal = query.IntAt(4).value_or(0);
    c.position = query.IntAt(5).value_or(0);
    c.domainName = query.BytesAt(6).value_or(std::string());
    c.binding = query.BytesAt(7).value_or(std::string());
    c.record.resize(core::DbAccountRecordSize, '\0');  // a shorter stored record reads as zero-filled
    into.emplace(id, std::move(c));
  }
}

// The checks the record files make at a login: a mailbox account, its
// password (plain comparison) unless the account asks for none, and the
// domain's binding admitting the caller's address. Accounts that ask for an
// outside check (Windows logon, directory bind) cannot be checked here.
bool Store::AcceptsLogin(const Candidate& c, const std::string& password, const std::string& ip) const {
  const auto* record = reinterpret_cast<const std::uint8_t*>(c.record.data());
  if (record[AccountKindOffset] != 0) return false;
  const std::uint8_t mode = record[AccountAuthModeOffset];
  if (mode == AuthPlain) {
    if (!SamePassword(AccountPassword(record), password)) return false;
  } else if (mode != AuthNone) {
    return false;
  }
  const std::string address = core::Trim(ip);
  return c.binding.empty() || address.empty() || core::MatchStringLists(c.binding, address);
}

// The login search of the record files: a login names an account by its
// mailbox name, or (full-address logins only) by an alias in the login's
// domain. The login's domain, or the domain bound to the caller's address,
// is searched first; a full-address login searches its domain only.
bool Store::Login(const std::string& login, const std::string& password, std::uint8_t* record, char* domainOut,
                  const std::string& ip, bool fullAddress) {
  const SplitAddress parts = SplitAtSign(login);
  const std::string text = core::Trim(login);
  enum class Search { Nothing, Everywhere, FirstOnly, FirstThenAll } search = Search::Everywhere;
  std::optional<std::int64_t> first, loginDomain;
  if (parts.hasAt || fullAddress) {
    if (parts.hasAt) loginDomain = DomainId(DomainKey(parts.domain));
    first = loginDomain;
    search = !loginDomain ? Search::Nothing : fullAddress ? Search::FirstOnly : Search::FirstThenAll;
  }
  // Domains use bindings when the first domain has one; then the domain
  // bound to the caller's address is searched first, and then every domain.
  std::vector<std::pair<std::int64_t, std::string>> bound;
  {
    Query query(connection_, "SELECT id, binding FROM domains WHERE binding IS NOT NULL ORDER BY ordinal, id");
    query.Run();
    while (query.Next()) {
      const std::int64_t id = query.IntAt(1).value_or(0);
      std::string binding = query.BytesAt(2).value_or(std::string());
      if (!binding.empty()) bound.emplace_back(id, std::move(binding));
    }
  }
  if (!bound.empty()) {
    std::optional<std::int64_t> firstDomain;
    {
      Query head(connection_, "SELECT id FROM domains ORDER BY ordinal, id LIMIT 1");
      head.Run();
      if (head.Next()) firstDomain = head.IntAt(1);
    }
    if (firstDomain && bound.front().first == *firstDomain) {
      for (const auto& [id, binding] : bound) {
        if (core::MatchStringLists(binding, ip)) {
          first = id;
          search = Search::FirstThenAll;
          break;
        }
      }
    }
  }
  if (search == Search::Nothing) return false;

  std::map<std::int64_t, Candidate> candidates;  // by account id: an account counts once
  const std::string columns =
      "SELECT a.id, a.record, d.id, d.ordinal, a.position, d.name, d.binding FROM accounts a "
      "JOIN domains d ON d.id = a.domain_id ";
  if (!text.empty() && text.size() <= 127) {
    Query query(connection_, columns + "WHERE a.mailbox = ?");
    query.Bytes(core::LowerCase(text)).Run();
    ReadCandidates(query, candidates);
  }
  const std::vector<std::string> alias = AliasKeys(parts.alias);
  if (fullAddress && loginDomain && alias.size() == 1) {
    Query query(connection_, columns +
                                 "JOIN account_aliases x ON x.account_id = a.id "
                                 "WHERE x.domain_id = ? AND x.alias = ?");
    query.Int(*loginDomain).Bytes(alias.front()).Run();
    ReadCandidates(query, candidates);
  }

  std::vector<const Candidate*> order;
  for (const auto& [id, c] : candidates) {
    if (search == Search::FirstOnly && c.domainId != *first) continue;
    order.push_back(&c);
  }
  const bool preferFirst = search != Search::Everywhere && first.has_value();
  std::sort(order.begin(), order.end(), [&](const Candidate* a, const Candidate* b) {
    const bool aFirst = preferFirst && a->domainId == *first;
    const bool bFirst = preferFirst && b->domainId == *first;
    if (aFirst != bFirst) return aFirst;
    if (a->ordinal != b->ordinal) return a->ordinal < b->ordinal;
    if (a->domainId != b->domainId) return a->domainId < b->domainId;
    return a->position < b->position;
  });
  for (const Candidate* c : order) {
    if (!AcceptsLogin(*c, password, ip)) continue;
    CopyRecord(c->record, record, core::DbAccountRecordSize);
    const std::size_t n = std::min<std::size_t>(c->domainName.size(), core::DbDomainNameOutSize - 1);
    std::memcpy(domainOut, c->domainName.data(), n);
    domainOut[n] = '\0';
    return true;
  }
  return false;
}

bool Store::LocalUser(const std::string& address, std::uint8_t* record) {
  const SplitAddress parts = SplitAtSign(address);
  const std::vector<std::string> alias = AliasKeys(parts.alias);
  if (!parts.hasAt || alias.size() != 1) return false;
  Query query(connection_,
              "SELECT a.record FROM account_aliases x JOIN accounts a ON a.id = x.account_id "
              "WHERE x.domain_id = (SELECT id FROM domains WHERE name = ?) AND x.alias = ? "
              "ORDER BY a.position LIMIT 1");
  query.Bytes(DomainKey(parts.domain)).Bytes(alias.front()).Run();
  if (!query.Next()) return false;
  CopyRecord(query.BytesAt(1).value_or(std::string()), record, core::DbAccountRecordSize);
  return true;
}

}  // namespace backend
