// Example of the main job: an administration session as a client runs it.
// Loads Api.dll, starts a session on a fresh installation folder, adds two
// domains and their accounts, lists them, changes a setting by id,
// authenticates one account, renames a domain, deletes an account, saves,
// backs the configuration up into a file beside the installation, changes a
// setting, restores the backup, ends the session, shows that the setting on
// disk is the restored one, and prints every answer and the files written.
//
//   walkthrough.exe <Api.dll> <installation folder>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "include/Api.h"

namespace {

HMODULE api = nullptr;
template <typename Proc>
Proc Export(const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(api, name)));
}

void ListFiles(const std::string& folder, const std::string& prefix) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    std::printf("  %s%s%s\n", prefix.c_str(), name.c_str(), isFolder ? "\\" : "");
    if (isFolder) ListFiles(folder + name + "\\", prefix + name + "\\");
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

// An account record with its aliases and password; the mailbox name and
// folder are left empty for the library to derive.
std::vector<std::uint8_t> Account(const std::string& aliases, const std::string& password) {
  std::vector<std::uint8_t> record(API_ACCOUNT_RECORD_SIZE, 0);
  const auto setText = Export<ApiSetRecordSettingProc>("SetUserSetting");
  setText(record.data(), API_ACCOUNT_RECORD_SIZE, 3, aliases.data(), static_cast<std::int32_t>(aliases.size()));
  setText(record.data(), API_ACCOUNT_RECORD_SIZE, 33, password.data(), static_cast<std::int32_t>(password.size()));
  return record;
}

void Say(const char* step, std::int32_t answer) { std::printf("%-46s = %d\n", step, answer); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return std::fprintf(stderr, "usage: walkthrough <Api.dll> <installation folder>\n"), 2;
  std::string root = argv[2];
  if (root.back() != '\\') root += '\\';
  CreateDirectoryA(root.c_str(), nullptr);
  if ((api = LoadLibraryA(argv[1])) == nullptr) return std::fprintf(stderr, "cannot load %s\n", argv[1]), 1;

  const auto init = Export<ApiInitProc>("Init");
  const std::int32_t fresh = init(root.c_str());
  Say("Init(fresh folder) (-4: no settings, defaults)", fresh);
  Export<ApiVoidProc>("SaveConfig")();
  Say("Init(folder) after SaveConfig", init(root.c_str()));
  const std::string mail = root + "mail\\";
  const auto setSetting = Export<ApiSetConfigSettingProc>("SetConfigSetting");
  Say("SetConfigSetting(5, mail folder)", setSetting(5, mail.data(), static_cast<std::int32_t>(mail.size())));

  std::vector<std::uint8_t> domain(API_DOMAIN_RECORD_SIZE, 0);
  const auto addDomain = Export<ApiAddDomainProc>("AddDomain");
  Say("AddDomain(example.com)", addDomain("example.com", domain.data(), API_DOMAIN_RECORD_SIZE));
  Say("AddDomain(example.org)", addDomain("example.org", domain.data(), API_DOMAIN_RECORD_SIZE));
  const auto addUser = Export<ApiAddUserProc>("AddUser");
  Say("AddUser(example.com, ann;anna.b)", addUser("example.com", Account("ann;anna.b", "Secret12").data(), 2848));
  Say("AddUser(example.com, bob)", addUser("example.com", Account("bob", "bobpass1").data(), 2848));
  Say("AddUser(example.com, bob again: alias in use)", addUser("example.com", Account("x;bob", "x").data(), 2848));

  char list[256] = {};
  const std::int32_t length = Export<ApiGetUserListProc>("GetUserList")("example.com", list, sizeof list);
  Say("GetUserList(example.com)", length);
  for (const char* item = list; *item != '\0'; item += std::string(item).size() + 1)
    std::printf("  %s\n", item);

  std::vector<std::uint8_t> record(API_ACCOUNT_RECORD_SIZE, 0);
  std::int32_t domainIndex = -1;
  Say("AuthenticateUser(ann, Secret12)",
      Export<ApiAuthenticateUserProc>("AuthenticateUser")("ann", "Secret12", "", &domainIndex, record.data(), 2848));
  std::printf("  domain index %d\n", domainIndex);
  Say("RenameDomain(example.org, example.net)",
      Export<ApiRenameDomainProc>("RenameDomain")("example.org", "example.net"));
  Say("DeleteUser(example.com, bob)",
      Export<ApiDeleteUserProc>("DeleteUser")("example.com",
                                              Export<ApiGetUserIndexProc>("GetUserIndex")("example.com", "bob")));
  Export<ApiVoidProc>("SaveConfig")();
  std::printf("SaveConfig()\n");

  // A backup holds the files on disk (hence SaveConfig first); a restore
  // replaces them and leaves the change in memory unsaved, and Init reads them.
  const std::string backup = root.substr(0, root.size() - 1) + ".ilds";
  Say("BackupConfig(<installation>.ilds)", Export<ApiNameProc>("BackupConfig")(backup.c_str()));
  const std::string other = root + "elsewhere\\";
  Say("SetConfigSetting(5, another mail folder)", setSetting(5, other.data(), static_cast<std::int32_t>(other.size())));
  Say("RestoreConfig(<installation>.ilds)", Export<ApiNameProc>("RestoreConfig")(backup.c_str()));
  Export<ApiVoidProc>("Done")();
  std::printf("Done()\n");
  Say("Init(folder) reading the restored files", init(root.c_str()));
  char onDisk[256] = {};
  const std::int32_t got = Export<ApiGetConfigSettingProc>("GetConfigSetting")(5, onDisk, sizeof onDisk - 1);
  const bool restored = got >= 0 && mail == onDisk;
  std::printf("  mail folder on disk: %s (%s)\n", onDisk, restored ? "the restored one" : "NOT the restored one");
  std::printf("files in %s:\n", root.c_str());
  ListFiles(root, "");
  FreeLibrary(api);
  return fresh == -4 && restored ? 0 : 1;
}
