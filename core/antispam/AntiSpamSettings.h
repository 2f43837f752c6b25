#pragma once
// The anti-spam settings as far as the configuration load needs them today:
// the anti-spam folder and the challenge-response switch of "spam.dat" that
// asks for the database back end.
#include <string>

namespace core {

// Derives the anti-spam folder ("path.cfg" line 6, else root folder +
// "Spam\") and reads "SpamChallenge=" from its "spam.dat". A missing file or
// key keeps the current value, as every anti-spam setting does between reads.
void ReadAntiSpamSettings();

std::string AntiSpamFolder();
bool SpamChallengeOn();

}  // namespace core
