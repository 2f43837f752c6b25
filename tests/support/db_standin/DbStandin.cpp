// Stand-in for the database back end "DB.dll": an in-memory model of domains
// (name, domain record, binding text) and their accounts (account records),
// plus control exports through which tests shape its answers and read what it
// was asked. Deterministic: no clock. Each call is also appended to
// "standin-calls.log" beside the library, so that a test can read what
// reached it after the library was freed.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/db/DbInterface.h"
#include "tests/support/db_standin/StandinControl.h"

namespace {

using Record = std::vector<std::uint8_t>;

struct Domain {
  std::string name;
  Record record = Record(core::DbDomainRecordSize, 0);
  std::string binding;
  std::vector<Record> accounts;
};

std::mutex g_mutex;  // guards everything up to g_raise
std::vector<Domain> g_domains;
std::string g_lastUsersDomain;  // named by the latest DBGetUsers, used by DBDeleteUsers
std::string g_connection;
std::string g_log;
std::string g_localUserAddresses;  // what DBGetLocalUser was asked, a line each
std::set<std::string> g_fail;
std::map<std::string, std::int32_t> g_raise;

std::atomic<std::int32_t> g_inFlight{0};
std::atomic<std::int32_t> g_maxInFlight{0};
std::atomic<std::int32_t> g_delay{0};

// --- text helpers -----------------------------------------------------------

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 32)
    ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32)
    --end;
  return std::string(text.substr(begin, end - begin));
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> items;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    items.emplace_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return items;
    start = at + 1;
  }
}

bool SameText(std::string_view a, std::string_view b) { return Lower(a) == Lower(b); }

// True when the two ";" lists share a non-empty item (trimmed, any case).
bool ShareAlias(std::string_view a, std::string_view b) {
  for (const std::string& x : Split(a, ';')) {
    const std::string left = Lower(Trim(x));
    if (left.empty()) continue;
    for (const std::string& y : Split(b, ';')) {
      if (left == Lower(Trim(y))) return true;
    }
  }
  return false;
}

std::string GetShort(const std::uint8_t* record, int offset, std::size_t maxLength) {
  const std::size_t length = std::min<std::size_t>(record[offset], maxLength);
  return std::string(reinterpret_cast<const char*>(record + offset + 1), length);
}

void PutShort(std::uint8_t* record, int offset, std::size_t maxLength, std::string_view text) {
  const std::size_t length = std::min(text.size(), maxLength);
  record[offset] = static_cast<std::uint8_t>(length);
  std::memcpy(record + offset + 1, text.data(), length);
}

std::string Aliases(const Record& r) { return GetShort(r.data(), core::DbAccountAliasOffset, 255); }
std::string Mailbox(const Record& r) { return GetShort(r.data(), core::DbAccountMailboxOffset, 127); }
std::string Password(const Record& r) { return GetShort(r.data(), core::DbAccountPasswordOffset, 127); }

std::int32_t CopyOut(const std::string& text, char* buffer, std::int32_t size) {
  if (buffer != nullptr && size > 0) {
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<std::int32_t>(text.size());
}

// --- model (callers hold g_mutex) ---------------------------------------------

Domain* FindDomain(std::string_view name) {
  for (Domain& d : g_domains) {
    if (SameText(d.name, name)) return &d;
  }
  return nullptr;
}

Record MakeAccount(std::string_view aliases, std::string_view mailbox, std::string_view password) {
  Record r(core::DbAccountRecordSize, 0);
  PutShort(r.data(), core::DbAccountAliasOffset, 255, aliases);
  PutShort(r.data(), core::DbAccountMailboxOffset, 127, mailbox);
  PutShort(r.data(), core::DbAccountPasswordOffset, 127, password);
  return r;
}

Domain NewDomain(std::string name) {
  Domain d;
  d.name = std::move(name);
  return d;
}

const char* Safe(const char* text) { return text != nullptr ? text : ""; }

// --- entry point frame ----------------------------------------------------------

void RaiseAccessViolation() {
  volatile std::uintptr_t address = 16;
  *reinterpret_cast<volatile std::int32_t*>(address) = 1;
}

// Appends one line to the log file beside this library.
void AppendToLogFile(const std::string& line) {
  HMODULE self = nullptr;
  char path[MAX_PATH] = {};
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&AppendToLogFile), &self) ||
      GetModuleFileNameA(self, path, MAX_PATH) == 0)
    return;
  std::string file(path);
  file.erase(file.find_last_of('\\') + 1);
  file += "standin-calls.log";
  HANDLE handle = CreateFileA(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(handle);
}

// Every entry point starts here: logs the call, counts it in flight for the
// configured delay, then raises when told to (nothing of ours is held by then,
// since the caller's guard skips whatever is left on this stack) and answers
// false when the call is told to fail.
bool BeginCall(const char* name) {
  std::int32_t raise = standin::RaiseNothing;
  bool fail = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    const std::string line = std::string(name) + ' ' + std::to_string(GetCurrentThreadId()) + '\n';
    g_log += line;
    AppendToLogFile(line);
    const auto found = g_raise.find(name);
    if (found != g_raise.end()) raise = found->second;
    fail = g_fail.count(name) != 0;
  }
  const std::int32_t now = ++g_inFlight;
  std::int32_t seen = g_maxInFlight.load();
  while (now > seen && !g_maxInFlight.compare_exchange_weak(seen, now)) {
  }
  // The closing call runs outside the database lock and is not slowed, so
  // that a test sees unloading wait for the calls in flight, not for itself.
  const std::int32_t delay = g_delay.load();
  if (delay > 0 && std::strcmp(name, "DBDoneConnection") != 0) Sleep(static_cast<DWORD>(delay));
  --g_inFlight;
  if (raise == standin::RaiseCustom) RaiseException(standin::CustomExceptionCode, 0, 0, nullptr);
  if (raise == standin::RaiseAccessViolation) RaiseAccessViolation();
  return !fail;
}

}  // namespace

extern "C" {

// --- connection -------------------------------------------------------------------

std::int32_t __stdcall DBSetConnection(const char* connection) {
  if (!BeginCall("DBSetConnection")) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_connection = Safe(connection);
  return 1;
}

std::int32_t __stdcall DBReloadConfig() { return BeginCall("DBReloadConfig") ? 1 : 0; }

std::int32_t __stdcall DBDoneConnection() { return BeginCall("DBDoneConnection") ? 1 : 0; }

// --- domains ----------------------------------------------------------------------

std::int32_t __stdcall DBGetDomain(const char* domain, std::uint8_t* record) {
  if (!BeginCall("DBGetDomain")) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  const Domain* d = FindDomain(Safe(domain));
  if (d == nullptr) return 0;
  std::memcpy(record, d->record.data(), d->record.size());
  return 1;
}

std::int32_t __stdcall DBSetDomain(const char* domain, const std::uint8_t* record) {
  if (!BeginCall("DBSetDomain")) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  Domain* d = FindDomain(Safe(domain));
  if (d == nullptr) return 0;
  d->record.assign(record, record + core::DbDomainRecordSize);
  return 1;
}

std::int32_t __stdcall DBAddDomain(const char* domain) {
  if (!BeginCall("DBAddDomain")) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  const std::string name = Lower(Trim(Safe(domain)));
  if (name.empty() || FindDomain(name) != nullptr) return 0;
  g_domains.push_back(NewDomain(name));
  return 1;
}

std::int32_t __stdcall DBDeleteDomain(const char* domain) {
  if (!BeginCall("DBDeleteDomain")) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  const auto before = g_domains.size();
  g_domains.erase(std::remove_if(g_domains.begin(), g_domains.end(),
                                 [&](const Domain& d) { return SameText(d.name, Safe(domain)); }),
                  g_domains.end());
  return g_domains.size() != before ? 1 : 0;
}

std::int32_t __stdcall DBRenameDomain(const char* oldName, const char* newName) {
  if (!BeginCall("DBRenameDomain")) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  Domain* d = FindDomain(Safe(oldName));
  const std::string name = Lower(Trim(Safe(newName)));
  if (d == nullptr || name.empty() || FindDomain(name) != nullptr) return 0;
  d->name = name;
  return 1;
}

std::int32_t __stdcall DBSetDomainIP(const char* domain, const char* binding) {
  if (!BeginCall("DBSetDomainIP")) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  Domain* d = FindDomain(Safe(domain));
  if (d == nullptr) return 0;
  d->binding = Safe(binding);
  return 1;
}

std::int32_t __stdcall DBGetDomainCount() {
  if (!BeginCall("DBGetDomainCount")) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  return static_cast<std::int32_t>(g_domains.size());
}

// Entry: length byte, the name (at most 91), address 0.0.0.0, or
// 255.255.255.255 when the domain has a binding text.
std::int32_t __stdcall DBGetDomains(std::uint8_t* entries, std::int32_t count) {
  if (!BeginCall("DBGetDomains")) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  for (std::int32_t i = 0; i < count; ++i) {
    std::uint8_t* entry = entries + static_cast<std::size_t>(i) * core::DbDomainEntrySize;
    std::memset(entry, 0, core::DbDomainEntrySize);
    if (static_cast<std::size_t>(i) >= g_domains.size()) continue;
    const Domain& d = g_domains[static_cast<std::size_t>(i)];
    PutShort(entry, 0, 91, d.name);
    if (!d.binding.empty()) std::memset(entry + 92, 0xFF, 4);
  }
  return 1;
}

// --- accounts -----------------------------------------------------------------------

std::int32_t __stdcall DBSaveUsers(const char* domain, const std::uint8_t* record, std::int32_t index) {
  if (!BeginCall("DBSaveUsers")) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  Domain* d = FindDomain(Safe(domain));
  if (d == nullptr) return 0;
  Record r(record, record + core::DbAccountRecordSize);
  const auto count = static_cast<std::int32_t>(d->accounts.size());
  if (index == -1 || index == count) {
    d->accounts.push_back(std::move(r));
  } else if (index >= 0 && index < count) {
    d->accounts[static_cast<std::size_t>(index)] = std::move(r);
  } else {
    return 0;
  }
  return 1;
}

std::int32_t __stdcall DBGetUsers(const char* domain, std::uint8_t* record, std::int32_t index) {
  if (!BeginCall("DBGetUsers")) return -1;  // could not read
  std::lock_guard<std::mutex> lock(g_mutex);
  g_lastUsersDomain = Safe(domain);
  const Domain* d = FindDomain(g_lastUsersDomain);
  if (d == nullptr) return 0;
  const auto count = static_cast<std::int32_t>(d->accounts.size());
  if (index >= 0 && index < count) {
    const Record& r = d->accounts[static_cast<std::size_t>(index)];
    std::memcpy(record, r.data(), r.size());
  }
  return count;
}

std::int32_t __stdcall DBDeleteUsers(std::int32_t index) {
  if (!BeginCall("DBDeleteUsers")) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  Domain* d = FindDomain(g_lastUsersDomain);
  if (d == nullptr || index < 0 || index >= static_cast<std::int32_t>(d->accounts.size())) return 0;
  d->accounts.erase(d->accounts.begin() + index);
  return 1;
}

std::int32_t __stdcall DBGetUsersIndex(const char* domain, const char* aliases) {
  if (!BeginCall("DBGetUsersIndex")) return -1;
  std::lock_guard<std::mutex> lock(g_mutex);
  const Domain* d = FindDomain(Safe(domain));
  if (d == nullptr) return -1;
  for (std::size_t i = 0; i < d->accounts.size(); ++i) {
    if (ShareAlias(Aliases(d->accounts[i]), Safe(aliases))) return static_cast<std::int32_t>(i);
  }
  return -1;
}

// --- account walk (the filter is not used) -----------------------------------------

std::int32_t __stdcall DBInitUsers(const char* domain, std::uint8_t* block, std::int32_t start, std::int32_t skipCount,
                                   const char* /*filter*/) {
  if (!BeginCall("DBInitUsers")) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  const Domain* d = FindDomain(Safe(domain));
  if (d == nullptr) return 0;
  const auto count = static_cast<std::int32_t>(d->accounts.size());
  const std::int32_t position = std::min(start + std::max(skipCount, 0), count - 1);
  block[core::DbEnumOpenOffset] = 1;
  std::memcpy(block + core::DbEnumPositionOffset, &position, 4);
  std::memcpy(block + core::DbEnumCountOffset, &count, 4);
  PutShort(block, core::DbEnumDomainOffset, 95, d->name);
  return 1;
}

std::int32_t __stdcall DBNextUser(std::uint8_t* block) {
  if (!BeginCall("DBNextUser")) return 1;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (block[core::DbEnumOpenOffset] == 0) return 1;
  const Domain* d = FindDomain(GetShort(block, core::DbEnumDomainOffset, 95));
  std::int32_t position = 0;
  std::memcpy(&position, block + core::DbEnumPositionOffset, 4);
  if (d == nullptr || position + 1 >= static_cast<std::int32_t>(d->accounts.size())) return 1;
  ++position;
  const Record& r = d->accounts[static_cast<std::size_t>(position)];
  std::memcpy(block + core::DbEnumRecordOffset, r.data(), r.size());
  std::memcpy(block + core::DbEnumPositionOffset, &position, 4);
  return 0;
}

std::int32_t __stdcall DBDoneUsers(std::uint8_t* block) {
  if (!BeginCall("DBDoneUsers")) return 0;
  block[core::DbEnumOpenOffset] = 0;
  return 1;
}

// --- checks and logins --------------------------------------------------------------

std::int32_t __stdcall DBCheckNewAlias(const char* domain, const char* aliases) {
  if (!BeginCall("DBCheckNewAlias")) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  const Domain* d = FindDomain(Safe(domain));
  if (d == nullptr) return 1;
  for (const Record& r : d->accounts) {
    if (ShareAlias(Aliases(r), Safe(aliases))) return 0;
  }
  return 1;
}

// Another account with this mailbox name and password: in the named domain
// only when domains use bindings, else in every domain; the account being
// saved (same domain, shared alias) does not count.
std::int32_t __stdcall DBCheckForMailbox(const char* mailbox, const char* password, const char* aliases,
                                         std::int32_t usesBinding, const char* domain) {
  if (!BeginCall("DBCheckForMailbox")) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (Safe(password)[0] == '\0') return 0;
  for (const Domain& d : g_domains) {
    const bool own = SameText(d.name, Safe(domain));
    if (usesBinding != 0 && !own) continue;
    for (const Record& r : d.accounts) {
      if (!SameText(Mailbox(r), Safe(mailbox)) || Password(r) != Safe(password)) continue;
      if (own && ShareAlias(Aliases(r), Safe(aliases))) continue;
      return 1;
    }
  }
  return 0;
}

// Login "alias@domain" finds the account by alias in that domain; a login
// without "@" (refused with fullAddress) finds the first account of any domain
// with that mailbox name. The password must match exactly.
std::int32_t __stdcall DBGetMailBoxUser(std::int32_t method, const char* login, const char* password,
                                        std::uint8_t* record, char* domainOut, const char* /*ip*/,
                                        std::int32_t fullAddress) {
  if (!BeginCall("DBGetMailBoxUser")) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (method != 0) return 0;
  const std::string text = Trim(Safe(login));
  const std::size_t at = text.find('@');
  if (at == std::string::npos && fullAddress != 0) return 0;
  for (const Domain& d : g_domains) {
    if (at != std::string::npos && !SameText(d.name, text.substr(at + 1))) continue;
    for (const Record& r : d.accounts) {
      const bool named =
          at != std::string::npos ? ShareAlias(Aliases(r), text.substr(0, at)) : SameText(Mailbox(r), text);
      if (!named || Password(r) != Safe(password)) continue;
      std::memcpy(record, r.data(), r.size());
      CopyOut(d.name, domainOut, core::DbDomainNameOutSize);
      return 1;
    }
  }
  return 0;
}

std::int32_t __stdcall DBGetLocalUser(const char* address, std::uint8_t* record) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_localUserAddresses += Safe(address) + std::string("\n");
  }
  if (!BeginCall("DBGetLocalUser")) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  const std::string text = Safe(address);
  const std::size_t at = text.find('@');
  if (at == std::string::npos) return 0;
  const Domain* d = FindDomain(text.substr(at + 1));
  if (d == nullptr) return 0;
  for (const Record& r : d->accounts) {
    if (ShareAlias(Aliases(r), text.substr(0, at))) {
      std::memcpy(record, r.data(), r.size());
      return 1;
    }
  }
  return 0;
}

// --- controls ---------------------------------------------------------------------------

void __stdcall StandinReset() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_domains.clear();
  g_lastUsersDomain.clear();
  g_connection.clear();
  g_log.clear();
  g_localUserAddresses.clear();
  g_fail.clear();
  g_raise.clear();
  g_maxInFlight = 0;
  g_delay = 0;
}

std::int32_t __stdcall StandinLoadFixture(const char* text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::int32_t applied = 0;
  for (const std::string& line : Split(Safe(text), '\n')) {
    if (Trim(line).empty()) continue;
    const std::vector<std::string> f = Split(Trim(line), '|');
    if (f[0] == "domain" && f.size() == 2 && FindDomain(f[1]) == nullptr) {
      g_domains.push_back(NewDomain(Lower(f[1])));
    } else if (f[0] == "account" && f.size() == 5 && FindDomain(f[1]) != nullptr) {
      FindDomain(f[1])->accounts.push_back(MakeAccount(f[2], f[3], f[4]));
    } else {
      return -1;
    }
    ++applied;
  }
  return applied;
}

void __stdcall StandinFailCall(const char* name) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (Safe(name)[0] == '\0') {
    g_fail.clear();
  } else {
    g_fail.insert(name);
  }
}

void __stdcall StandinRaiseInCall(const char* name, std::int32_t kind) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (kind == standin::RaiseNothing) {
    g_raise.erase(Safe(name));
  } else {
    g_raise[Safe(name)] = kind;
  }
}

std::int32_t __stdcall StandinCallLog(char* buffer, std::int32_t size) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return CopyOut(g_log, buffer, size);
}

std::int32_t __stdcall StandinLocalUserAddresses(char* buffer, std::int32_t size) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return CopyOut(g_localUserAddresses, buffer, size);
}

std::int32_t __stdcall StandinMaxConcurrentCalls() { return g_maxInFlight.load(); }

void __stdcall StandinSetCallDelay(std::int32_t milliseconds) { g_delay = milliseconds; }

std::int32_t __stdcall StandinConnection(char* buffer, std::int32_t size) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return CopyOut(g_connection, buffer, size);
}

}  // extern "C"

// The exports must keep the shared interface's signatures.
DB_CHECK_ALL_SIGNATURES()
static_assert(std::is_same_v<decltype(&StandinReset), standin::ResetProc>);
static_assert(std::is_same_v<decltype(&StandinLoadFixture), standin::LoadFixtureProc>);
static_assert(std::is_same_v<decltype(&StandinFailCall), standin::FailCallProc>);
static_assert(std::is_same_v<decltype(&StandinRaiseInCall), standin::RaiseInCallProc>);
static_assert(std::is_same_v<decltype(&StandinCallLog), standin::CallLogProc>);
static_assert(std::is_same_v<decltype(&StandinLocalUserAddresses), standin::CallLogProc>);
static_assert(std::is_same_v<decltype(&StandinMaxConcurrentCalls), standin::MaxConcurrentCallsProc>);
static_assert(std::is_same_v<decltype(&StandinSetCallDelay), standin::SetCallDelayProc>);
static_assert(std::is_same_v<decltype(&StandinConnection), standin::ConnectionProc>);
