#pragma once
// The index builder: marks every message of a mailbox folder with its kind
// ("X-AntiSpam-Status: " 0 genuine, 1 spam) and copies the messages whose
// kind is new into the index folders the filter service learns from.
#include <string>

namespace core {

// Configuration folder + "..\Spam\Index\", ending in "\".
std::string SpamIndexFolder();

// Marks and copies the ".tmp" and ".imap" messages of folder (ending in
// "\"); answers how many were marked. A message is never lost: it is
// rewritten into a temporary beside it and moved over itself, so a failure
// (held open, read-only, a read or write error) leaves it byte for byte and
// the run goes on. A status that is no whole number, or a header block that
// no empty line ends, leaves that message as it is.
int IndexSpamFolder(const std::string& folder, bool isSpam);

// Test seam: the write step number step (counted from this call: creating
// the temporary, each write into it, flush, stamp, attributes, move) fails;
// 0 fails none.
void FailSpamIndexWriteStep(int step);

}  // namespace core
