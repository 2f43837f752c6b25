#include "api/ExportSupport.h"

#include <windows.h>

#include <cstring>

#include "core/accounts/AccountStore.h"
#include "core/auth/Authenticate.h"
#include "core/config/ConfigStore.h"
#include "core/control/ServiceControl.h"
#include "core/db/DbLibrary.h"
#include "core/domains/DomainTable.h"
#include "core/lists/AccountLists.h"
#include "core/platform/Files.h"
#include "core/util/Text.h"

namespace api {

std::string CallerText(const char* text, std::size_t max) {
  if (text == nullptr) return {};
  // Never read past max bytes: the caller's text may end there unterminated.
  return std::string(text, ::strnlen(text, max));
}

bool RecordUsable(const void* buffer, std::int32_t len, std::size_t size) {
  return buffer != nullptr && len >= 0 && static_cast<std::size_t>(len) >= size;
}

std::int32_t PutText(const std::string& text, void* buffer, std::int32_t len) {
  if (buffer == nullptr || len < 0 || static_cast<std::size_t>(len) < text.size()) return API_BAD_ARGUMENT;
  std::memset(buffer, 0, static_cast<std::size_t>(len));
  std::memcpy(buffer, text.data(), text.size());
  return static_cast<std::int32_t>(text.size());
}

int DomainIndexOf(const std::string& name) { return core::DomainListFind(core::CutTo(name, CallerTextLength), true); }
int DomainIndexOf(const char* name) { return DomainIndexOf(CallerText(name)); }

bool DatabaseStorage() {
  return core::GetU8(core::Settings().data(), core::cfg::StorageMode) == 2 && core::IsDBLoaded();
}

std::string FullFolderKey(const std::string& folder) {
  char buffer[MAX_PATH * 2] = {};
  const DWORD length = ::GetFullPathNameA(folder.c_str(), sizeof buffer, buffer, nullptr);
  std::string full = length > 0 && length < sizeof buffer ? std::string(buffer, length) : folder;
  full = core::LowerCase(full);
  for (char& c : full)
    c = c == '/' ? '\\' : c;
  if (!full.empty() && full.back() != '\\') full += '\\';
  return full;
}

bool MailFolderInUse(const std::string& folder, FolderUse use) {
  const std::string target = FullFolderKey(folder);
  const bool files = !DatabaseStorage();
  const int count = static_cast<int>(core::CountDomains());
  std::vector<std::uint8_t> block(core::AccountEnumerationSize);
  for (int i = 0; i < count; ++i) {
    const std::string domain = core::DomainListGetName(i);
    std::string domainFolder;
    if (files && (!core::DomainFolder(domain, domainFolder) || !core::FileExists(domainFolder + "users.cfg"))) continue;
    if (!core::InitUsers(domain, block.data(), "", 0, 0)) return true;
    bool used = false;
    while (!used && core::NextUser(block.data()) == 0) {
      const std::string path = core::FieldText(block.data(), core::account::MailboxPath);
      if (block[0] != 0 || path.empty()) continue;
      const std::string other = FullFolderKey(core::GetMailboxPath(path, false, {}));
      used = other.compare(0, target.size(), target) == 0 ||
             (use == FolderUse::InsideOrAbove && target.compare(0, other.size(), other) == 0);
    }
    core::DoneUsers(block.data());
    if (used) return true;
  }
  return false;
}

bool DeleteMailFolderInside(const std::string& folder) {
  const std::string mail = core::GetShortString(core::Settings().data(), core::cfg::MailFolder);
  if (folder.empty() || mail.empty()) return false;
  const std::string target = FullFolderKey(folder);
  const std::string root = FullFolderKey(mail);
  if (target.size() <= root.size() || target.compare(0, root.size(), root) != 0) return false;
  const int count = static_cast<int>(core::DomainCount());
  for (int i = 0; i < count; ++i) {
    if (FullFolderKey(mail + core::DomainListGetName(i) + "\\") == target) return false;
  }
  if (!core::IsDeletableFolder(folder) || !core::IsDeletableMailboxFolder(folder)) return false;
  return core::DeleteDirectory(folder, "*.*", true);
}

void RunAfterwards(const Afterwards& after) {
  if (after.notifyServices) UpdateConfigurationSession();
  if (after.pauseRefusal) core::PauseAfterRefusal();
  // Whatever the platform and whether or not the service runs.
  if (after.spamIndexNotice) core::SendServiceCommand(core::ServerSmtp, core::SpamIndexMessage, 0, false, 0);
}

}  // namespace api
