// Folder, file and handle helpers on the Win32 file system. Paths are 8-bit
// texts with "\" as separator; every routine reports failure by its result.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/platform/Handles.h"

namespace core {

bool DirectoryExists(const std::string& path);

// True when the folder exists afterwards; creates missing parents as needed.
bool ForceDirectory(const std::string& path);

// Creates the folder and every missing parent; failures are silent.
void CreateDirectoryChain(const std::string& path);

// Deletes the entries of folder that match mask ("" = "*.*"), sub-folders
// too when recurse is set, then the folder itself; true when the folder is
// gone at the end. Links (reparse points) are removed, never followed.
// Refuses drive and share roots and paths with "." or ".." parts.
bool DeleteDirectory(const std::string& folder, const std::string& mask, bool recurse);

// The guard of DeleteDirectory: false for drive roots ("C:\", "C:"), share
// roots ("\\server\share\"), device paths ("\\?\", "\\.\") and paths
// with "." or ".." parts.
bool IsDeletableFolder(const std::string& folder);

enum class FileReadResult { Read, Missing, Unreadable };

// Reads up to maxBytes from byte offset on into out (emptied first). Missing:
// the file or its folder does not exist. Unreadable: it exists but could not
// be opened or read (locked by another process, no access, a folder). Opens
// with every sharing mode, so a writer replacing the file is never blocked.
FileReadResult ReadFileBytes(const std::string& fileName, std::uint64_t offset, std::size_t maxBytes, std::string& out);

// Empties out, then reads the whole file into it; true when it was read.
// With deleteAfter the file is deleted afterwards, read or not.
bool ReadFileToString(const std::string& fileName, bool deleteAfter, std::string& out);

// Size in bytes, 0 when the file is missing. The name is taken literally:
// "*" and "?" are not wildcards.
std::int64_t GetFileSizeByName(const std::string& fileName);

// Last-write time as a local DOS date-time (date in the high word), 0 when missing.
std::uint32_t GetFileStamp(const std::string& fileName);

// The full last-write time and the size of a file, the version a record
// cache compares: a rewrite within the same two seconds still shows. Both 0
// when the file is missing.
struct FileVersion {
  std::uint64_t writeTime = 0;
  std::uint64_t size = 0;
  bool operator==(const FileVersion&) const = default;
};
FileVersion GetFileTimeSize(const std::string& fileName);

// Sets the last-write time from a local DOS date-time; creation and
// last-access times stay. False when the file cannot be opened or the stamp
// is no valid date.
bool SetFileDate(const std::string& fileName, std::uint32_t dosDateTime);

// True when the name exists and is not a folder.
bool FileExists(const std::string& fileName);

// Deletes the file only when its full path lies inside folder (after "..",
// "." and short names are resolved); false otherwise or when it failed.
bool DeleteFileInside(const std::string& fileName, const std::string& folder);

// Writes a whole file through a temporary file in the same folder and an
// atomic replace; the old file is untouched on any failure. When a reader
// holds the file without delete sharing, the file is rewritten in place.
bool WriteFileAtomic(const std::string& fileName, const void* data, std::size_t size);

}  // namespace core
