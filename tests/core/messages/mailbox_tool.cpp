// Command-line front of the mailbox conversion, for the oracle test and the
// benchmark:
//   mailbox_tool MAILBOX to-imap|from-imap [MAILBOX to-imap|from-imap ...]
// Prints "true" or "false" for each pair (whether a source was found); exits
// 0 when every pair said true, 1 otherwise, 2 on wrong use.
#include <cstdio>
#include <string>

#include "core/messages/MailboxFiles.h"
#include "core/platform/LockTable.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 == 0) {
    std::fprintf(stderr, "usage: mailbox_tool MAILBOX to-imap|from-imap [...]\n");
    return 2;
  }
  core::CreateLockTable(true);
  bool all = true;
  for (int i = 1; i + 1 < argc; i += 2) {
    const bool found = core::ConvertMailboxMessages(argv[i], std::string(argv[i + 1]) == "from-imap");
    std::printf("%s\n", found ? "true" : "false");
    all = all && found;
  }
  return all ? 0 : 1;
}
