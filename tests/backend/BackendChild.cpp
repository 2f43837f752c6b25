// Second process of the back-end tests: loads a DB.dll, connects and appends
// accounts to one domain, as another service or tool sharing the database
// would. Arguments: library, connection text ("-" for the default), domain,
// alias prefix, count, name of the start event. Once connected it releases
// the semaphore of that name + " ready" and waits for the event, so that
// every child appends at the same time. Exit code: the number of appends
// that failed, or 100 when the library could not be used at all.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/db/DbInterface.h"
#include "tests/support/records.h"

int main(int argc, char** argv) {
  if (argc != 7) return 100;
  const HMODULE db = LoadLibraryA(argv[1]);
  if (db == nullptr) return 100;
  const auto set =
      reinterpret_cast<core::DBSetConnectionProc>(reinterpret_cast<void*>(GetProcAddress(db, "DBSetConnection")));
  const auto reload =
      reinterpret_cast<core::DBReloadConfigProc>(reinterpret_cast<void*>(GetProcAddress(db, "DBReloadConfig")));
  const auto save = reinterpret_cast<core::DBSaveUsersProc>(reinterpret_cast<void*>(GetProcAddress(db, "DBSaveUsers")));
  if (set == nullptr || reload == nullptr || save == nullptr) return 100;
  set(std::string(argv[2]) == "-" ? "" : argv[2]);
  if (reload() == 0) return 100;
  const HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, (std::string(argv[6]) + " ready").c_str());
  const HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, argv[6]);
  if (ready == nullptr || go == nullptr) return 100;
  ReleaseSemaphore(ready, 1, nullptr);
  if (WaitForSingleObject(go, 30000) != WAIT_OBJECT_0) return 100;
  int failed = 0;
  const int count = std::atoi(argv[5]);
  for (int i = 0; i < count; ++i) {
    std::vector<std::uint8_t> record(records::AccountSize, 0);
    records::PutText(record.data(), records::user::Aliases, std::string(argv[4]) + std::to_string(i));
    if (save(argv[3], record.data(), -1) == 0) ++failed;
  }
  return failed;
}
