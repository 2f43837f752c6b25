#include "core/texts/StringsFile.h"

#include <string>

#include "core/config/ConfigFiles.h"
#include "core/config/ConfigStore.h"
#include "core/texts/MessageTexts.h"

namespace core {

void LoadStringsFile() {
  std::string text;
  if (!ReadTextFile(ConfigFolder() + "strings.dat", text)) return;
  ApplyStringsText(text);
}

}  // namespace core
