// A second program administering the installation while the sending
// library's test reads it: through Api.dll it saves the settings and rewrites,
// appends and deletes accounts of a.test until the time is up; the accounts
// "s0" to "s9" stay, though "s0" is rewritten in place each round.
//
//   api_rewriter.exe <Api.dll> <installation folder> <seconds>
//
// Exit code: 0 done (with at least one round), 100 Api.dll or an export
// missing, 1 an export failed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/sender/config/ApiLibrary.h"
#include "tests/support/records.h"

int main(int argc, char** argv) {
  if (argc != 4) return 100;
  senderfix::ApiLibrary api(argv[1]);
  if (!api.bound() || api.Init(argv[2]) != 0) return 100;
  const DWORD until = GetTickCount() + static_cast<DWORD>(std::atoi(argv[3])) * 1000;
  int rounds = 0;
  for (; GetTickCount() < until; ++rounds) {
    const auto stable = records::NewAccount{.aliases = "s0", .mailbox = "s0", .password = "p" + std::to_string(rounds)}
                            .Make<std::vector<std::uint8_t>>();
    const auto extra =
        records::NewAccount{.aliases = "extra" + std::to_string(rounds), .mailbox = "extra" + std::to_string(rounds)}
            .Make<std::vector<std::uint8_t>>();
    const bool ok = api.Set<std::uint16_t>(12, static_cast<std::uint16_t>(rounds)) == 0 && (api.SaveConfig(), true) &&
                    api.SaveUser("a.test", 0, stable.data(), API_ACCOUNT_RECORD_SIZE) == 0 &&
                    api.AddUser("a.test", extra.data(), API_ACCOUNT_RECORD_SIZE) == 0 &&
                    (rounds % 3 != 2 || api.DeleteUser("a.test", api.GetUserCount("a.test") - 1) == 0);
    if (!ok) {
      std::printf("round %d failed\n", rounds);
      return 1;
    }
  }
  api.Done();
  std::printf("%d rounds\n", rounds);
  return rounds > 0 ? 0 : 1;
}
