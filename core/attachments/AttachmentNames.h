#pragma once
// The one rule that turns a name a message declares (a MIME "filename" or
// "name", a uuencode "begin" name) into a file name in the extraction
// folder. Messages come from anyone: the result is a single component that
// Windows stores as an ordinary file of exactly that name.
#include <cstddef>
#include <string>
#include <string_view>

namespace core {

// A written file's full path is a short text: at most this long.
inline constexpr std::size_t MaxAttachmentPath = 255;
// A declared extension longer than this is not kept on a generated name.
inline constexpr std::size_t MaxKeptExtension = 16;

// The last component (after the last "\" or "/"), without control
// characters (below 32, and 127) and without : * ? " < > |, and with its
// trailing dots and blanks removed. May be empty.
std::string CleanFileComponent(std::string_view declared);

// Whether Windows takes the name as a device whatever the folder: CON, PRN,
// AUX, NUL, COM0-9, LPT0-9 (also with the superscript digits 1, 2, 3),
// CONIN$, CONOUT$; any letter case, with or without an extension, blanks
// before the first "." ignored.
bool IsDeviceName(std::string_view name);

// Whether a cleaned name cannot be used as it stands: empty or a device.
bool NeedsGeneratedName(std::string_view cleaned);

// The extension of a cleaned name with its dot (".gz" of "nul.tar.gz") when
// it is 1 to 16 letters, digits, "-" or "_"; otherwise empty.
std::string KeptExtension(std::string_view cleaned);

// Whether the text is one component as CleanFileComponent and the device
// rule leave it (what a generated name must be too).
bool IsCleanFileComponent(std::string_view name);

}  // namespace core
