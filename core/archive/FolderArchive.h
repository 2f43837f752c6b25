#pragma once
// Packing folders into "ILDS" archives and restoring them, on the Win32 file
// system. Names are 8-bit texts in the ANSI code page with "\" as separator.
// Nothing is lost on failure: a new archive replaces the old one only when
// it was written whole, an appended one is cut back to its last whole entry,
// and a restored file replaces its target only when it is complete.

#include <cstdint>
#include <string>
#include <vector>

namespace core {

// How PackFolder packs.
struct PackOptions {
  // Add the entries to the end of an existing archive of version 2 or later
  // (then with that archive's compress flag) instead of writing a new one.
  bool append = false;
  // Put before every entry name.
  std::string prefix{};
  bool compress = true;
  // File names (";"-separated, ASCII case ignored) left out in every subfolder.
  std::string skipList{};
  // Walk subfolders too.
  bool recurse = true;
};

// Packs source (a folder, walked in directory-listing order, or one file)
// into archive as options say. Entry names are prefix + the path below
// source. Reparse points, the archive itself and its temporary
// file are passed by. False when nothing could be written, the source is
// missing, or any file was left out (unreadable, over 2 GB, a name without
// an exact ANSI form or over 255 bytes); what was packed then stays.
bool PackFolder(const std::string& archive, const std::string& source, const PackOptions& options = {});

// Restores the archive that starts at startOffset of the file archive into
// target (created when missing). Without overwrite an existing file is kept
// unless ShouldRestoreFile says otherwise. Each file is written to a
// temporary file beside it and moved over the target only when complete.
// False when an entry was refused or failed; the other entries are restored.
// written, when given, receives the path below target of every file that
// was replaced or created, in archive order, also when the answer is false.
// A start offset past the end of the file is false and creates nothing.
bool UnpackFolder(const std::string& archive, const std::string& target, bool overwrite, const std::string& keepList,
                  std::uint64_t startOffset, std::vector<std::string>* written = nullptr);

// The listing of the archive file package (ListPackage of ArchiveFormat.h);
// false, with an empty list, when it cannot be opened.
bool ListPackage(const std::string& package, std::string& list);

// Whether a restore without overwrite writes targetFile: always when it is
// missing; when it exists, only with a non-empty keep list that does not
// hold entryName (ListHoldsName).
bool ShouldRestoreFile(const std::string& targetFile, const std::string& entryName, const std::string& keepList);

// The configuration backup: configFolder as a new compressed archive, then,
// when rootFolder + "webmail\config\" exists and the first pack succeeded,
// that folder appended under the prefix "..webmail\config\". True when every
// pack that ran succeeded.
bool BackupConfigFolder(const std::string& archive, const std::string& configFolder, const std::string& rootFolder);

// Restores a configuration backup into configFolder, overwriting; web-mail
// entries land under configFolder + "..webmail\config\". written as for
// UnpackFolder: the caller learns which files the restore replaced.
bool RestoreConfigFolder(const std::string& archive, const std::string& configFolder,
                         std::vector<std::string>* written = nullptr);

}  // namespace core
