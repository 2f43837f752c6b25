// Times the message-texts step of the configuration load ("strings.dat" of
// 10,000 lines read, parsed and swapped in) against the configuration text
// reader alone on the same file. The step adds the line rules, the literal
// decoding and the key look-up on top of the read.

#include <windows.h>

#include <string>
#include <vector>

#include "bench/harness.h"
#include "core/config/ConfigFiles.h"
#include "core/config/ConfigStore.h"
#include "core/texts/MessageTexts.h"
#include "core/texts/StringsFile.h"

namespace {

constexpr int LineCount = 10000;

std::string MakeFile() {
  const char* keys[] = {"stRRC", "STDELIVERYTO", "cLSJoin", "stUnknownKey", "stVirusAlert", "lsAddress"};
  std::string text;
  for (int i = 0; i < LineCount; ++i) {
    text += keys[i % 6];
    text += " = 'Line " + std::to_string(i) + " of the replacement texts:  %s'#13#10'and a second line'\r\n";
  }
  return text;
}

}  // namespace

int main() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + "vmbench-texts-" + std::to_string(GetCurrentProcessId()) + "\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string name = folder + "strings.dat";
  const std::string text = MakeFile();
  HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  core::SetConfigFolder(folder);

  const auto [ours, baseline] = bench::AlternatingMedians(
      41,
      [] {
        core::LoadStringsFile();
        return core::MessageText(75).size();
      },
      [&name] {
        std::vector<std::string> lines;
        core::ReadTextLines(name, lines);
        return lines.size();
      });
  bench::Report("message_texts_load", ours, baseline);
  DeleteFileA(name.c_str());
  RemoveDirectoryA(folder.c_str());
  return 0;
}
