#pragma once
// Setting names for the automation classes' GetProperty and SetProperty: the
// names file of the developer kit ("name = id; // kind" lines), the table read
// from it, and the text of the file the project ships, written from the
// setting tables. No OS call here.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace api::automation {

// How a property value travels: a 32-bit integer, a date or 8-bit text.
enum class ValueKind : std::uint8_t { Integer = 0, Date = 1, Text = 2 };

struct SettingName {
  std::string name;  // lower case, never empty, at most MaxNameLength characters
  std::int32_t id = 0;
  ValueKind kind = ValueKind::Integer;
};

inline constexpr std::size_t MaxNameLength = 127;
inline constexpr std::size_t MaxCommandLength = 255;

// The names file, and where it is looked for under the root folder: each
// candidate that exists replaces the one before, so the last one wins.
inline constexpr std::string_view NamesFileName = "APIConst.inc";
std::vector<std::string> NamesFileCandidates(std::string_view root);

// A drive ("C:\") or UNC ("\\server\") path: the only roots the names file is
// read under, so that a missing root never means the current folder.
bool IsFullFolderPath(std::string_view root);

// One line of the names file; false when it names nothing (no "=" or no
// "//", or an empty name).
bool ParseSettingLine(std::string_view line, SettingName& out);

class SettingNameTable {
 public:
  // Lines end at CR, LF or the end of the image; every byte is text (a
  // Ctrl-Z does not end the file).
  static SettingNameTable Parse(std::string_view image);

  // A command that starts with a digit names the first row of that id; any
  // other text the first row of that name (any case). Null when none.
  const SettingName* Find(std::string_view command) const;

  const std::vector<SettingName>& Rows() const { return rows_; }

 private:
  std::vector<SettingName> rows_;
};

// The names file as shipped: every row with an id of the four setting tables,
// settings record first (a bare number takes the kind of the first row with
// its id), then domain, account and remote-account rows.
std::string SettingConstantsText();

}  // namespace api::automation
