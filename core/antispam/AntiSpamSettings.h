#pragma once
// The process-wide anti-spam settings: "spam.dat" in the anti-spam folder,
// read when the configuration loads and written back on request. The values
// are published whole under a reader-writer lock, because the sending
// library reads the file again on free threads while others read values.
#include <string>

#include "core/antispam/SpamDat.h"

namespace core {

// What the rule-file step needs from a read: the rules folder (cut to 255
// characters) and whether the custom rule files are skipped.
struct SpamRulesRequest {
  std::string rulesFolder;
  bool skipCustom = false;
};
using SpamRulesStep = void (*)(const SpamRulesRequest& request);

// Installs the rule-file step a read with loadRules runs when the rules are
// enabled; null (the default) runs none.
void SetSpamRulesStep(SpamRulesStep step);

inline constexpr int SpamDatWrite = 1;

// mode SpamDatWrite writes the current settings to the file; any other mode
// reads it (a missing or unreadable file changes nothing) and, with
// loadRules, runs the rule-file step. An empty file name is the anti-spam
// folder's "spam.dat"; the folder ("path.cfg" line 6, else root folder +
// "Spam\") is derived again at each such call. A failed write keeps the old
// file and throws std::runtime_error.
void LoadSaveSpamSettings(const std::string& fileName, int mode, bool loadRules);

// The configuration load's anti-spam step: the default file read with its
// rules.
void ReadAntiSpamSettings();

std::string AntiSpamFolder();
SpamSettings CurrentSpamSettings();
bool SpamChallengeOn();

}  // namespace core
