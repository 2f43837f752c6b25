#pragma once
// Reading the configuration folder's files: binary records whose absence
// must be told apart from a file that is there but cannot be read, and the
// line-by-line text files (path overrides, bind, relay and shield lists).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace core {

enum class FileReadResult { Read, Missing, Unreadable };

// Reads up to maxBytes from byte offset on into out (emptied first). Missing:
// the file or its folder does not exist. Unreadable: it exists but could not
// be opened or read (locked by another process, no access, a folder).
FileReadResult ReadFileBytes(const std::string& fileName, std::uint64_t offset, std::size_t maxBytes,
                             std::string& out);

// Splits text into lines at CR LF, LF or a lone CR; a final line without an
// ending counts, an ending at the very end adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);

// The lines of a text file; false (and no lines) when it cannot be read.
bool ReadTextLines(const std::string& fileName, std::vector<std::string>& lines);

}  // namespace core
