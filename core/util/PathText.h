#pragma once
// Path texts with "\" as separator.

#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// An empty path stays empty. Otherwise "/" becomes "\" when
// slashesToBackslashes is set, and the path ends with exactly the trailing
// "\" it had or got, removed again when keepTrailingBackslash is false.
std::string NormalizePath(std::string_view path, bool keepTrailingBackslash, bool slashesToBackslashes);

// Whether a name (a domain name, say) may be used as one folder name below a
// folder of ours: not empty, not made of dots only, no "..", no leading or
// trailing "." or blank, none of \ / : * ? " < > | or a control character,
// and no reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$,
// CONOUT$), with or without an extension.
bool IsSafeFolderName(std::string_view name);

// The name of a machine-wide kernel object of one installation: prefix +
// 16 hexadecimal digits of a 64-bit FNV-1a hash of the folder text as given
// (the caller passes the full, case-folded path, so that every process,
// 32-bit or 64-bit, derives the same name).
std::string InstallationObjectName(std::string_view prefix, std::string_view foldedFolder);
// The 64-bit FNV-1a hash behind those names.
std::uint64_t InstallationNameHash(std::string_view text);

// Whether a mailbox folder path relative to the mail root stays below it:
// no part (between "\" or "/") made only of dots and blanks, which would
// climb out or name the folder above, and no leading separator.
bool MailboxPathStaysInside(std::string_view path);

}  // namespace core
