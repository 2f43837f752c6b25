#include "core/antispam/AntiSpamSettings.h"

#include <windows.h>

#include <atomic>
#include <stdexcept>

#include "core/config/ConfigStore.h"
#include "core/platform/Files.h"
#include "core/platform/Handles.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::size_t FolderLength = 255;
constexpr std::size_t MaxSpamDatBytes = 16u << 20;

struct State {
  SRWLOCK lock = SRWLOCK_INIT;
  std::string folder;
  SpamSettings settings = DefaultSpamSettings();
};

State& Shared() {
  static State state;
  return state;
}

std::atomic<SpamRulesStep> g_rulesStep{nullptr};

std::string DeriveFolder() {
  std::string folder = PathAntiSpamFolder();
  if (folder.empty()) folder = CutTo(RootFolder() + "Spam\\", FolderLength);
  State& state = Shared();
  ExclusiveSrwGuard hold(state.lock);
  state.folder = folder;
  return folder;
}

void ReadFile(const std::string& fileName, bool loadRules) {
  std::string text;
  State& state = Shared();
  SpamSettings next;
  if (ReadFileBytes(fileName, 0, MaxSpamDatBytes, text) == FileReadResult::Read) {
    // Built in a copy and published at once: a reader sees the old values
    // or the new ones, never half of a file.
    {
      SharedSrwGuard hold(state.lock);
      next = state.settings;
    }
    ReadSpamDat(text, next);
    ExclusiveSrwGuard hold(state.lock);
    state.settings = next;
  } else {
    SharedSrwGuard hold(state.lock);
    next = state.settings;
  }

  const SpamRulesStep step = g_rulesStep.load();
  if (!loadRules || !next.assassinEnabled || step == nullptr) return;
  SpamRulesRequest request;
  request.rulesFolder =
      CutTo(next.assassinRulesPath.empty() ? AntiSpamFolder() + "Rules\\" : next.assassinRulesPath, FolderLength);
  request.skipCustom = next.assassinNoCustom;
  step(request);
}

}  // namespace

void SetSpamRulesStep(SpamRulesStep step) { g_rulesStep.store(step); }

void LoadSaveSpamSettings(const std::string& fileName, int mode, bool loadRules) {
  std::string name = fileName;
  if (name.empty()) name = DeriveFolder() + "spam.dat";
  if (mode != SpamDatWrite) {
    ReadFile(name, loadRules);
    return;
  }
  const std::string text = WriteSpamDat(CurrentSpamSettings());
  // Through a temporary beside the file: a failed write leaves the old one.
  if (!WriteFileAtomic(name, text.data(), text.size())) throw std::runtime_error("cannot write " + name);
}

void ReadAntiSpamSettings() { LoadSaveSpamSettings({}, 0, true); }

std::string AntiSpamFolder() {
  State& state = Shared();
  SharedSrwGuard hold(state.lock);
  return state.folder;
}

SpamSettings CurrentSpamSettings() {
  State& state = Shared();
  SharedSrwGuard hold(state.lock);
  return state.settings;
}

bool SpamChallengeOn() {
  State& state = Shared();
  SharedSrwGuard hold(state.lock);
  return state.settings.challenge;
}

}  // namespace core
