#include "core/auth/Authenticate.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <set>
#include <vector>

#include "core/accounts/AccountCache.h"
#include "core/accounts/AccountHooks.h"
#include "core/accounts/RecordFile.h"
#include "core/auth/LoginFailures.h"
#include "core/auth/PasswordRules.h"
#include "core/config/ConfigStore.h"
#include "core/config/DateCodec.h"
#include "core/db/DbLibrary.h"
#include "core/domains/DomainBindings.h"
#include "core/domains/DomainTable.h"
#include "core/lists/AccountLists.h"
#include "core/platform/Files.h"
#include "core/platform/System.h"
#include "core/util/NameText.h"
#include "core/util/NetText.h"
#include "core/util/RecordScrambling.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::uint8_t DatabaseStorageMode = 2;
constexpr unsigned RefusalPause = 3000;
constexpr std::uint16_t LdapPort = 389;

constexpr FieldRef FullAddressLogin = ConfigField("FullAddressLogin");
constexpr FieldRef LoginNormalisation = ConfigField("LoginNormalisation");
constexpr FieldRef LockoutOn = ConfigField("LockoutOn");
constexpr FieldRef LockoutThreshold = ConfigField("LockoutThreshold");
constexpr FieldRef LockoutMinutes = ConfigField("LockoutMinutes");
constexpr FieldRef AuthMode = RefOf(AccountField("AuthMode"));
constexpr FieldRef AuthModeValue = RefOf(AccountField("AuthModeValue"));
constexpr FieldRef ExpiresIfInactive = RefOf(AccountField("ExpiresIfInactive"));

double LocalDaysNow() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  double date = 0.0, time = 0.0;
  EncodeDate(now.wYear, now.wMonth, now.wDay, date);
  EncodeTime(now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, time);
  return date + time;
}

void SleepPause(unsigned milliseconds) { ::Sleep(milliseconds); }

std::atomic<double (*)()> g_clock{&LocalDaysNow};
std::atomic<void (*)(unsigned)> g_pause{&SleepPause};
std::mutex g_ldapMutex;
LdapBindFunction g_ldapBind;

enum class Verdict { NotThisAccount, Locked, PasswordFailed, AddressRefused, Accepted };

// Everything one attempt knows; nothing of it outlives the call.
struct Attempt {
  explicit Attempt(const LoginAttempt& asked) : request(asked) {}
  const LoginAttempt& request;
  std::string login;        // trimmed, normalised
  std::string aliasPart;    // with the full-address login
  std::string loginDomain;  // the domain the login names
  bool fullAddress = false;
  bool lockout = false;
  std::int32_t threshold = 0, minutes = 0;
  double now = 0.0;
  std::string searched;                 // the domain searched now
  std::set<std::string> tried;          // accounts already checked in this attempt
  std::set<std::string> failedFolders;  // mailbox folders of candidates whose password failed
};

std::string MailboxFolder(const AccountRecordBytes& record) {
  const std::string path = FieldText(record.data(), account::MailboxPath);
  return path.empty() ? std::string() : GetMailboxPath(path, false, {});
}

bool LockoutApplies(const Attempt& attempt, const std::string& folder) {
  return attempt.lockout && attempt.threshold > 0 && !folder.empty();
}

// Whether the login names this record: a kind-0 account by its mailbox
// name, or by an alias with the full-address login in the named domain.
bool LoginNames(const Attempt& attempt, const std::uint8_t* record) {
  if (GetU8(record, account::Kind) != 0) return false;
  if (SameText(FieldText(record, account::MailboxName), attempt.login)) return true;
  return attempt.fullAddress && SameText(attempt.searched, attempt.loginDomain) &&
         MatchStringLists(attempt.aliasPart, FieldText(record, account::AliasList), GroupTestOver(ConfigGroupFiles()));
}

Verdict CheckAccountPassword(Attempt& attempt, const AccountRecordBytes& record, int domainIndex) {
  if (!LoginNames(attempt, record.data())) return Verdict::NotThisAccount;

  const std::string folder = MailboxFolder(record);
  if (LockoutApplies(attempt, folder) &&
      CheckLoginFailures(folder, attempt.threshold, attempt.minutes, attempt.now) != LockState::Free)
    return Verdict::Locked;

  bool failed = false;
  switch (GetU8(record.data(), AuthMode)) {
    case 0:
      failed = !PasswordMatches(attempt.request.password, record.data() + account::Password.offset);
      break;
    case 3:
      break;
    default:
      failed = !CheckExternalLogin(record, attempt.request.password, DomainListGetName(domainIndex));
      break;
  }
  if (failed) {
    if (LockoutApplies(attempt, folder)) attempt.failedFolders.insert(LowerCase(folder));
    return Verdict::PasswordFailed;
  }
  const std::string& ip = attempt.request.ip;
  const std::string binding = ReadDomainBind(domainIndex);
  // An address text holding ";" would read as a list: it matches no binding.
  if (!binding.empty() && !ip.empty() && (ip.find(';') != std::string::npos || !MatchStringLists(binding, ip)))
    return Verdict::AddressRefused;
  return Verdict::Accepted;
}

std::string Identity(const std::string& domain, const AccountRecordBytes& record) {
  return LowerCase(domain) + "\n" + FieldText(record.data(), account::AliasList) + "\n" +
         FieldText(record.data(), account::MailboxPath);
}

// The cache walk: entries still current by the store's own check.
bool SearchCache(Attempt& attempt, AccountRecordBytes& found) {
  CachedAccount entry;
  for (std::size_t i = 0; CopyAccountCacheEntry(i, entry); ++i) {
    if (entry.secondKey.empty()) break;
    if (CurrentAccountFileStamp(entry.secondKey) != entry.stamp) continue;
    attempt.searched = entry.secondKey;
    attempt.tried.insert(Identity(entry.secondKey, entry.record));
    if (CheckAccountPassword(attempt, entry.record, DomainListFind(entry.secondKey, false)) == Verdict::Accepted) {
      found = entry.record;
      TouchAccountCacheEntry(i, entry.firstKey, entry.secondKey);
      SecureZeroMemory(entry.record.data(), entry.record.size());
      return true;
    }
  }
  SecureZeroMemory(entry.record.data(), entry.record.size());
  return false;
}

// One domain's account file, block by block; each account is checked once.
bool SearchDomain(Attempt& attempt, int index, AccountRecordBytes& found, AccountFileStamp& stamp) {
  attempt.searched = DomainListGetName(index);
  std::string folder;
  if (!DomainFolder(attempt.searched, folder)) return false;
  stamp = CurrentAccountFileStamp(attempt.searched);
  RecordFile file(folder + "users.cfg", AccountRecordSize);
  if (!file.OpenRead()) return false;
  // Only the fields that say whether the login names a record are
  // unscrambled in place; the few records it names are unscrambled whole.
  constexpr FieldRef Kind = account::Kind;
  constexpr std::uint32_t namesFrom = account::AliasList.offset;
  constexpr std::uint32_t namesEnd = account::MailboxName.offset + account::MailboxName.width + 1;
  static_assert(account::MailboxName.offset > namesFrom && Kind.offset + Kind.width <= namesFrom);
  AccountRecordBytes record{};
  bool accepted = false;
  file.ForEach(0, [&](std::uint32_t, std::uint8_t* bytes) {
    ScrambleBuffer(bytes + Kind.offset, Kind.width, Kind.offset);
    ScrambleBuffer(bytes + namesFrom, namesEnd - namesFrom, namesFrom);
    if (!LoginNames(attempt, bytes)) return false;
    std::copy(bytes, bytes + AccountRecordSize, record.begin());
    ScrambleBuffer(record.data() + Kind.offset, Kind.width, Kind.offset);  // back to the stored form,
    ScrambleBuffer(record.data() + namesFrom, namesEnd - namesFrom, namesFrom);
    ScrambleRecord(record.data(), AccountRecordSize);  // then all of it at once
    if (!attempt.tried.insert(Identity(attempt.searched, record)).second) return false;
    if (CheckAccountPassword(attempt, record, index) != Verdict::Accepted) return false;
    found = record;
    accepted = true;
    return true;
  });
  SecureZeroMemory(record.data(), record.size());
  return accepted;
}

bool SearchFiles(Attempt& attempt, AccountRecordBytes& found, std::string& domain) {
  // The search plan: domain numbers first to last, in passes.
  int first = 1;
  int last = static_cast<int>(CountDomains());
  int passes = 1;
  if (attempt.login.find('@') != std::string::npos || attempt.fullAddress) {
    bool named = attempt.login.find('@') != std::string::npos;
    const int index = DomainListFind(attempt.loginDomain, true);
    if (index < 0) named = false;
    first = last = index + 1;
    passes = named ? (attempt.fullAddress ? 1 : 2) : 0;
  }
  int bound = -1;
  const std::string& ip = attempt.request.ip;
  if (UsesDomainBinding() && !ip.empty() && ip.find(';') == std::string::npos && FindDomainByIP(ip, bound)) {
    first = last = bound + 1;
    passes = 2;
  }
  if (passes <= 0) return false;

  if (attempt.request.useCache && SearchCache(attempt, found)) {
    domain = attempt.searched;
    return true;
  }
  std::set<int> searched;
  for (int pass = 1; pass <= passes; ++pass) {
    for (int d = first; d <= last; ++d) {
      if (!searched.insert(d).second) continue;  // a later pass skips what an earlier one searched
      AccountFileStamp stamp;
      if (!SearchDomain(attempt, d - 1, found, stamp)) continue;
      domain = attempt.searched;
      if (attempt.request.useCache) StoreAccountCache(AccountCacheKey(found.data()), LowerCase(domain), stamp, found);
      return true;
    }
    first = 1;
    last = static_cast<int>(CountDomains());
  }
  return false;
}

}  // namespace

bool AuthenticateAccount(const LoginAttempt& request, AccountRecordBytes& record, std::string& domain) {
  bool accepted = false;
  AccountRecordBytes found{};
  std::string foundDomain;
  try {
    const std::uint8_t* settings = Settings().data();
    Attempt attempt(request);
    attempt.fullAddress = request.fullAddress || GetU8(settings, FullAddressLogin) != 0;
    attempt.login = Trim(request.login);
    if (GetU8(settings, LoginNormalisation) != 0) attempt.login = NormalizeLoginName(attempt.login);
    attempt.lockout = GetU8(settings, LockoutOn) != 0;
    attempt.threshold = static_cast<std::int32_t>(GetU32(settings, LockoutThreshold));
    attempt.minutes = static_cast<std::int32_t>(GetU32(settings, LockoutMinutes));
    attempt.now = g_clock.load()();

    bool searchable = !attempt.login.empty();
    if (searchable && (attempt.login.find('@') != std::string::npos || attempt.fullAddress)) {
      SplitEmailAddress(attempt.login, attempt.aliasPart, attempt.loginDomain);
      // "@domain" or "a;b@domain" (or "a;b" with the full-address login)
      // would try many accounts with one password.
      if (Trim(attempt.aliasPart).empty() || attempt.aliasPart.find(';') != std::string::npos) searchable = false;
    }

    const std::uint8_t mode = GetU8(settings, cfg::StorageMode);
    const bool database = mode == DatabaseStorageMode;
    if (mode > DatabaseStorageMode) searchable = false;  // no store this library knows
    if (searchable && database) {
      if (IsDBLoaded()) {
        LockDatabase hold;
        accepted = DbGetMailBoxUser(request.method, attempt.login.c_str(), request.password.c_str(), found.data(),
                                    foundDomain, request.ip.c_str(), attempt.fullAddress);
      }
    } else if (searchable) {
      accepted = SearchFiles(attempt, found, foundDomain);
      // Outcomes after the search: the accepted account's failures are
      // forgotten and no one else is charged; a refusal charges each distinct
      // candidate whose password failed, once.
      if (accepted) {
        const std::string folder = MailboxFolder(found);
        if (LockoutApplies(attempt, folder)) ForgetLoginFailures(folder);
      } else {
        for (const std::string& folder : attempt.failedFolders)
          RecordLoginFailure(folder, attempt.now);
      }
    }

    if (accepted && (GetU32(found.data(), ExpiresIfInactive) >> 16) != 0) {
      const std::string folder = MailboxFolder(found);
      if (!folder.empty()) StampFile(folder + "active.dat");
    }
  } catch (...) {
    accepted = false;
  }
  if (accepted) {
    record = found;
    domain = foundDomain;
  }
  SecureZeroMemory(found.data(), found.size());
  if (!accepted && !request.noDelay) g_pause.load()(RefusalPause);
  return accepted;
}

bool CheckExternalLogin(const AccountRecordBytes& record, const std::string& password, const std::string& domain) {
  try {
    if (password.empty()) return false;
    const std::string value = FieldText(record.data(), AuthModeValue);
    const std::string item0 = value.empty() ? std::string() : Trim(GetDelimitedWord(value, 0, ';'));
    const std::string item1 = value.empty() ? std::string() : Trim(GetDelimitedWord(value, 1, ';'));
    switch (GetU8(record.data(), AuthMode)) {
      case 1: {
        const std::string user = item1.empty() ? FieldText(record.data(), account::MailboxName) : item1;
        return CheckWindowsLogon(user, item0.empty() ? nullptr : item0.c_str(), password);
      }
      case 2: {
        LdapBindFunction bind;
        {
          std::lock_guard<std::mutex> guard(g_ldapMutex);
          bind = g_ldapBind;
        }
        if (!bind) return false;
        std::string server = "localhost";
        std::uint16_t port = LdapPort;
        std::string bindName = FirstListItem(FieldText(record.data(), account::AliasList)) + "@" + domain;
        if (!item0.empty()) {
          std::string address, host;
          if (ParseHostPort(item0, LdapPort, address, port, host)) server = address.empty() ? host : address;
        }
        // A DN ("uid=bob,dc=example") is used as it stands; a plain name gets the domain.
        if (!item1.empty())
          bindName = item1.find('=') != std::string::npos || item1.find('@') != std::string::npos
                         ? item1
                         : item1 + "@" + domain;
        return bind(server, port, bindName, password) == 0;
      }
      default:
        return false;
    }
  } catch (...) {
    return false;
  }
}

void StampFile(const std::string& file) {
  const std::size_t slash = file.find_last_of('\\');
  if (slash != std::string::npos) ForceDirectory(file.substr(0, slash + 1));
  UniqueHandle created(::CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
}

void SetAuthenticationClock(double (*now)()) { g_clock.store(now != nullptr ? now : &LocalDaysNow); }
void SetAuthenticationPause(void (*pause)(unsigned)) { g_pause.store(pause != nullptr ? pause : &SleepPause); }
void PauseAfterRefusal() { g_pause.load()(RefusalPause); }

void SetLdapBindFunction(LdapBindFunction bind) {
  std::lock_guard<std::mutex> guard(g_ldapMutex);
  g_ldapBind = std::move(bind);
}

}  // namespace core
