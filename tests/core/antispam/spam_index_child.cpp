// For the index builder's kill test: indexes FOLDER as genuine, then as spam,
// and again, until it is killed; sets the named event EVENT once it starts.
//   spam_index_child CONFIG-FOLDER FOLDER EVENT (folders without a last "\")
#include <windows.h>

#include <string>

#include "core/antispam/SpamIndex.h"
#include "core/config/ConfigStore.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  core::SetConfigFolder(std::string(argv[1]) + "\\");
  const std::string folder = std::string(argv[2]) + "\\";
  if (HANDLE started = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3])) {
    SetEvent(started);
    CloseHandle(started);
  }
  for (bool spam = false;; spam = !spam)
    core::IndexSpamFolder(folder, spam);
}
