#include "core/antispam/AntiSpamSettings.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "core/config/ConfigFiles.h"
#include "core/config/ConfigStore.h"
#include "core/util/Numbers.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::size_t FolderLength = 255;

std::mutex g_folderMutex;
std::string g_folder;
std::atomic<bool> g_spamChallenge{false};

}  // namespace

void ReadAntiSpamSettings() {
  std::string folder = PathAntiSpamFolder();
  if (folder.empty()) folder = CutTo(RootFolder() + "Spam\\", FolderLength);
  {
    std::lock_guard<std::mutex> guard(g_folderMutex);
    g_folder = folder;
  }

  std::vector<std::string> lines;
  if (!ReadTextLines(folder + "spam.dat", lines)) return;
  constexpr std::string_view key = "SpamChallenge=";
  for (const std::string& raw : lines) {
    if (raw.find('=') == std::string::npos) continue;
    const std::string line = TrimAroundSeparator(raw, '=');
    if (line.size() < key.size() || !SameText(std::string_view(line).substr(0, key.size()), key)) continue;
    const std::string value = line.substr(line.find('=') + 1);
    if (!value.empty()) g_spamChallenge.store(TextToInt(value) == 1);
  }
}

std::string AntiSpamFolder() {
  std::lock_guard<std::mutex> guard(g_folderMutex);
  return g_folder;
}

bool SpamChallengeOn() { return g_spamChallenge.load(); }

}  // namespace core
