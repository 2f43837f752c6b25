#pragma once
// The configuration store: the process-wide folders, the shared settings
// record, the path overrides ("path.cfg"), the global bindings ("bind.dat"),
// and the load and save of "settings.cfg" itself. The whole load sequence,
// with the steps of other subsystems, is run by core/startup.
//
// The settings record is shared by every thread and is never seen scrambled:
// the load works on a copy and publishes it, the save writes a scrambled copy.
// The folder texts are guarded and handed out as copies.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/config/SettingsRecord.h"

namespace core {

// ---- Process-wide state -------------------------------------------------

// The in-memory settings record (built-in image until a load reads the file).
SettingsRecord& Settings();

// Installation (root) and configuration folders, each ending in "\" once set.
std::string RootFolder();
void SetRootFolder(std::string_view folder);
std::string ConfigFolder();
void SetConfigFolder(std::string_view folder);

// Whether the configuration folder is a full path (a drive or a share).
// Nothing is ever written to a relative one: it would land in whatever
// folder the host process happens to run in.
bool ConfigFolderIsAbsolute();

// Front of the message-file names: "path.cfg" line 4 + settings text at 201.
std::string MessageFilePrefix();
// Anti-spam folder named by "path.cfg" line 6 (normalised), empty when none.
std::string PathAntiSpamFolder();
// Outgoing bind address ("path.cfg" line 10, then "bind.dat") and IPv6 bind list.
std::string OutgoingBindAddress();
std::string IPv6BindList();
// Whether the last load found a "settings.cfg" that it could not read; saves
// are refused meanwhile so that the file is not replaced by defaults.
bool SettingsFileUnreadable();

// ---- Paths the configuration names -----------------------------------------

// True when the path contains ":" or "\\" (a drive or a share).
bool IsAbsolutePath(std::string_view path);
// Empty stays empty; an absolute name is kept; otherwise configuration
// folder + name.
std::string ConfigFilePath(std::string_view name);
// An account's mailbox folder: mail root folder (unless the path is
// absolute) + the path, ending in "\"; withFolder appends the first ";"
// item of folderText (at most 63 characters; "inbox" when empty) and "\".
std::string GetMailboxPath(std::string_view path, bool withFolder, std::string_view folderText);

// The LDAP server of directory synchronisation: the first item of the
// configured server list when the LDAP server setting is on, else (or when
// that is empty) "localhost".
std::string GetLDAPHost();

// ---- Steps of the load and save ------------------------------------------

// Reads rootFolder + "path.cfg": line 1 configuration folder, 4 message-file
// prefix, 6 anti-spam folder, 10 "text|outgoing bind address", 11 host name.
// Empty lines keep their item; the items of an earlier "path.cfg" are
// forgotten first. A missing file leaves the configuration folder as it is.
void ReadPathConfig(const std::string& rootFolder);

enum class SettingsFileRead { Read, Missing, Unreadable };

// Reads "settings.cfg" over the current record, applies the folders, clamps,
// defaults, list rules and path overrides of the load and publishes the
// result. Missing: the record goes back to the built-in image. Unreadable:
// the record stays as it is and saves are refused until a read succeeds.
// At most length bytes of the file are taken (a library whose record is
// shorter); every byte beyond keeps what the record held.
SettingsFileRead ReadSettingsFile(std::size_t length = SettingsRecordSize);

// Places the temp, mail, logs and archive folders of the record under the
// root folder: an empty one becomes root + "temp\", "mail\", "logs\" or
// "archive\", a relative one (no drive, no leading "\") root + its text.
// For a library whose host may run in any folder, so that no folder of the
// record depends on the current folder.
void PlaceFoldersUnderRoot();

// Writes "settings.cfg" (scrambled) through a temporary file, creating the
// configuration folder first, under the installation lock: the bytes this
// process changed since it last read or wrote the file go onto the file as
// it is now; the others keep what the file holds (another process's
// changes). Nothing is written when that leaves the file as it is. False
// without writing while the last load could not read the existing file,
// the folder is not a full path or the lock was not granted.
bool WriteSettingsFile();

// Takes bytes of the record from "settings.cfg" as it is now, as if this
// process had read them at its load (the domain count, when the domain table
// is read again). False when the file cannot be read.
bool AdoptStoredSettingBytes(std::size_t offset, std::size_t width);

// Reads the global "bind.dat" (Outgoing_Bind=, IPv6_Bind=) over what the
// path overrides said.
void ReadGlobalBindFile();

}  // namespace core
