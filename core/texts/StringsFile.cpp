#include "core/texts/StringsFile.h"

#include <string>
#include <vector>

#include "core/config/ConfigFiles.h"
#include "core/config/ConfigStore.h"
#include "core/texts/MessageTexts.h"

namespace core {

void LoadStringsFile() {
  std::vector<std::string> lines;
  if (!ReadTextLines(ConfigFolder() + "strings.dat", lines)) return;
  std::vector<StringsEntry> entries;
  StringsEntry entry;
  for (const std::string& line : lines)
    if (ParseStringsLine(line, entry)) entries.push_back(std::move(entry));
  ApplyStringsEntries(entries);
}

}  // namespace core
