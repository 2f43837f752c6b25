#pragma once
// What the domain, account and remote-account exports share: caller texts
// and buffers, the domain lookup by name, the guarded deletion of mail
// folders, and the work that waits until the state hold is released (the
// notices to the services, the pause after a refused login), so that no
// other caller waits for it and no hold is ever taken inside another.
#include <cstdint>
#include <string>

#include "api/ExportGuard.h"

namespace api {

inline constexpr std::size_t CallerTextLength = 255;

// A caller's zero-terminated text cut to max characters, reading no byte
// past them; null is empty.
std::string CallerText(const char* text, std::size_t max = CallerTextLength);

// Whether a caller's buffer of len bytes can hold a record of size bytes.
bool RecordUsable(const void* buffer, std::int32_t len, std::size_t size);

// Places text in the caller's buffer: -3, buffer untouched, when it does not
// fit; else all len bytes zeroed, the text copied and its length answered.
std::int32_t PutText(const std::string& text, void* buffer, std::int32_t len);

// The index of the domain a caller names (cut to 255; sub-domains and
// aliases resolved), -1 when it is not served.
int DomainIndexOf(const char* name);
int DomainIndexOf(const std::string& name);

// Storage mode 2 with the database back end loaded.
bool DatabaseStorage();

// Deletes a mail folder with everything below it, but only when its full
// path lies strictly inside the mail folder (setting 5), is no served
// domain's mail folder and passes the deletable-folder checks. False when
// it stays.
bool DeleteMailFolderInside(const std::string& folder);
// The full path of a folder, lower case, "\" separated and ending in "\".
std::string FullFolderKey(const std::string& folder);

enum class FolderUse { Inside, InsideOrAbove };
// Whether an account of any served domain keeps its mail inside the folder
// (or, InsideOrAbove, also in a folder above it); true as well when some
// domain's accounts cannot be walked.
bool MailFolderInUse(const std::string& folder, FolderUse use);

// Work an export leaves for after its hold.
struct Afterwards {
  bool notifyServices = false;   // 0x500 to the five services
  bool pauseRefusal = false;     // the pause after a refused login
  bool spamIndexNotice = false;  // 0x5A0 over the SMTP service's pipe
};
void RunAfterwards(const Afterwards& after);

// Runs body(Afterwards&) under the rules, then, with no hold, what it left.
inline constexpr ExportRules Released{.hold = StateHold::None, .needsInit = false};
template <typename Body>
std::int32_t GuardedThen(const ExportRules& rules, Body&& body) {
  Afterwards after;
  const std::int32_t answer = Guarded(rules, [&] { return body(after); });
  Guarded(Released, [&] { RunAfterwards(after); });
  return answer;
}

// Domain changes replace the domain table: the state lock exclusively.
inline constexpr ExportRules Changing{.hold = StateHold::Exclusive};

// Closes and frees the enumerations callers left open (library unload).
void FreeEnumerations();
// How many enumerations are open (tests).
std::size_t OpenEnumerationCount();

// For the automation classes, which call the exports and these (each under
// its own hold, like an export):
//
// Writes the IP binding of the domain at index without saving the
// configuration or notifying (the caller saves next); CR, LF and NUL become
// blanks, since "bind.dat" holds one binding a line. 0, -3 bad index, -1.
std::int32_t WriteDomainBinding(std::int32_t index, std::string text);
// Whether an account may take the mailbox name with the password in the
// domain the text names (strict find): 1 free, 0 taken (or the check could
// not be made), -1 domain not served, -5 not initialised.
std::int32_t MailboxFreeIn(const std::string& domain, const std::string& mailbox, const std::string& password,
                           const std::string& aliases);

}  // namespace api
