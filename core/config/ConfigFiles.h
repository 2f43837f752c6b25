#pragma once
// Reading the configuration folder's line-by-line text files (path
// overrides, bind, relay and shield lists). Binary records are read with
// ReadFileBytes of the file unit, which tells a missing file from one that
// is there but cannot be read.
#include <string>
#include <string_view>
#include <vector>

namespace core {

// Splits text into lines at CR LF, LF or a lone CR; a final line without an
// ending counts, an ending at the very end adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);

// A text file's bytes (up to the reader's cap); false when it cannot be read.
bool ReadTextFile(const std::string& fileName, std::string& text);

// The lines of a text file; false (and no lines) when it cannot be read.
bool ReadTextLines(const std::string& fileName, std::vector<std::string>& lines);

}  // namespace core
