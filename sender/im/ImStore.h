#pragma once
// A recipient's instant-message store: the folder "~IM\" of the account's
// mailbox, where the instant-messaging service keeps "Last.dat" (the
// session number of an online user, else 0) and reads and removes
// "Pending.dat" (the stored messages, one element after another). The
// sending library finds the account through its configuration
// (sender/config), appends one element per message and tells the service
// when the recipient is online.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "sender/im/PendingMessage.h"

namespace sender {

struct ImStoreProbe {
  std::string lastPath;     // mailbox folder + "~IM\Last.dat"
  std::int32_t number = 0;  // the first line of "Last.dat"; 0 when unreadable
};

// The address as the account lookup takes it: cut to 255 UTF-16 units (a
// pair stays whole) and converted to the ANSI code page. False for a NUL or
// a character without an exact form there: it could name another account.
bool LookupAddressText(std::u16string_view address, std::string& out);

// True when the address names an account whose "Last.dat" exists, with its
// path and number (the number's first line, at most 255 characters read;
// 0 when it is no number or the file cannot be read). False when the
// account is not found or the path would exceed 255 characters.
bool ProbeIMStore(std::string_view address, ImStoreProbe& probe);

// What IsOnline answers: the probe found the store and the number is not 0.
bool IsRecipientOnline(std::u16string_view address);

// Stores the message for MessageTo: false, nothing written or sent, when
// the element is refused or the probe fails. The element is appended to
// "Pending.dat" beside "Last.dat" (AppendPending); when the number is not 0
// the service is told {0x1000, 0x501, number, 0} (kind 3, "Tolum" names),
// also when the file could not be opened, never after a failed write. True
// when the element was written.
bool WritePendingMessage(const ImFields& fields);

enum class AppendOutcome : std::uint8_t { Written, NotOpened, Failed };

// Appends bytes to the file as one write, atomically among writers: the
// file opened (created when missing) sharing read, write and delete; a
// process-wide lock and an exclusive lock of a fixed range past any real
// size (tried for up to 10 seconds); the bytes written at the current end
// in one WriteFile. A failed or short write cuts the file back to its size
// before (Failed); so does a lock not had in time.
AppendOutcome AppendPending(const std::string& path, std::string_view bytes);

// Tests only: the WriteFile of AppendPending; nullptr restores it.
using PendingWrite = BOOL(WINAPI*)(HANDLE file, const void* data, DWORD size, DWORD* written, OVERLAPPED* overlapped);
void SetPendingWriteForTesting(PendingWrite write) noexcept;

}  // namespace sender
