#pragma once
// The message files of account mailboxes on disk: unique names, the two
// forms and their conversion, the welcome message of a new account, and the
// rewrite of one header of a context's message. Files are read and written
// in binary, in large blocks. A new file is written unshared (no reader
// opens half a message) and deleted again when writing fails; an existing
// one is replaced through a temporary file, so it is never lost half-way.
#include <string>
#include <string_view>

#include "core/accounts/AccountRecord.h"
#include "core/messages/MessageContext.h"

namespace core {

// A message-file name in the folder that nothing on disk holds yet: prefix,
// local time "yyyymmddhhnnss", a process-wide counter as 4 hex digits (the
// first name ends in 0001), extension. Creates the folder. Runs under lock
// 0; empty when no free name was found or on any error.
std::string NewMessageFileName(const std::string& folder, std::string_view extension);

// Writes the ".imap" file's text (without its 26-byte header) as a ".tmp"
// file: stuffed, end mark appended. False, with nothing written, when the
// source cannot be opened or the target not written.
bool ImapToTmpMessage(const std::string& imapFile, const std::string& tmpFile);

// Appends the ".tmp" message to the existing target, unstuffed and without
// its end mark. False when either file cannot be opened or a write fails.
bool AppendUnstuffedMessage(const std::string& targetFile, const std::string& tmpFile);

// Converts every message file of the mailbox into the other form: ".tmp"
// files of the mailbox folder into ".imap" files of its "inbox\" (named
// base + "-" + the header's 24 characters), or back. Sources stay; a target
// from an earlier run is replaced; two sources of one run that would share a
// target name each get their own. True when at least one source was found;
// false for an empty path.
bool ConvertMailboxMessages(std::string_view mailboxPath, bool fromImap);

// Places the welcome message that "messages.dat" (listFile) names for the
// domain ("*" for every domain; the first matching line counts) into the new
// account's mailbox, as "welcome.tmp" or "inbox\welcome.imap" by the
// account's mailbox type. No file when the list or the template is missing
// or the template is empty.
void ImportMessageFile(const std::string& listFile, std::string_view domain, const AccountRecordBytes& record);

// Writes the context's message anew in the temporary folder with one header
// replaced (or added with addIfMissing); once the new file is complete, the
// old one is deleted (deleteOld) and the context names the new one. False,
// with the context and the old file unchanged, when that failed.
bool SetMessageFileHeader(MessageContext& context, std::string_view headerName, std::string_view value, bool deleteOld,
                          bool addIfMissing);

// Installs the welcome-message import into the account store.
void InstallMessageHooks();

}  // namespace core
