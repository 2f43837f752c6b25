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
  ApplyStringsLines(lines);
}

}  // namespace core
