// Adds accounts through the real Api.dll, as an outside client does, so that
// each gets the welcome message of its domain:
//   welcome_client.exe <Api.dll> <installation root> (<domain> <alias> <imap 0|1>)...
// Prints one line per call with its answer.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "include/Api.h"
#include "tests/support/records.h"

template <typename Proc>
Proc Bind(HMODULE api, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void*>(::GetProcAddress(api, name)));
}

int main(int argc, char** argv) {
  if (argc < 3 || (argc - 3) % 3 != 0) return 2;
  const HMODULE api = ::LoadLibraryA(argv[1]);
  if (api == nullptr) return 3;
  const auto init = Bind<ApiInitProc>(api, "Init");
  const auto addUser = Bind<ApiAddUserProc>(api, "AddUser");
  const auto done = Bind<ApiVoidProc>(api, "Done");
  if (init == nullptr || addUser == nullptr || done == nullptr) return 4;
  std::printf("Init = %d\n", static_cast<int>(init(argv[2])));
  int failures = 0;
  for (int i = 3; i < argc; i += 3) {
    records::Record account(records::AccountSize);
    account.Text(records::user::Aliases, argv[i + 1]).U8(records::user::MailboxType, std::atoi(argv[i + 2]));
    const std::int32_t result = addUser(argv[i], account.data(), static_cast<std::int32_t>(records::AccountSize));
    std::printf("AddUser %s %s = %d\n", argv[i], argv[i + 1], static_cast<int>(result));
    failures += result != 0;
  }
  done();
  ::FreeLibrary(api);
  return failures == 0 ? 0 : 1;
}
