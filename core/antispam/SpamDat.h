#pragma once
// The anti-spam settings file "spam.dat": one "Key=Value" line per setting.
// One table of keys (name with its "=", kind, default, field) drives the
// reader, the writer and the defaults, so a key cannot be read one way and
// written another. Pure over text: no file, no lock.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace core {

struct SpamSettings {
  bool bayesian;
  bool bayesianNoTag;
  bool bayesianIgnoreMissing;
  double spamPercentage;  // a fraction: 90 in the file is 0.9
  bool addSubject;
  std::string addSubjectString;
  std::uint8_t outgoingRules;
  bool autoIndexing;
  std::int32_t indexGenuinePercentage;
  std::int32_t indexSpamPercentage;
  bool archiveIndexedMessages;
  std::int32_t ignoreMessagesLarger;
  std::int32_t messageBalance;
  std::int32_t maxIndexMessagesPerDay;
  std::string indexUsers;    // ";a@x.com;b@y.com;": lower case, no blanks
  std::string wordStopList;  // as indexUsers
  std::uint8_t logging;
  bool useSpamFolder;
  std::int32_t deleteSpamMailOlder;
  bool useImap;
  bool bypassNonUsers;
  bool customUsers;
  std::string imapFolder;
  std::int32_t customLow;
  std::int32_t customMedium;
  std::int32_t customHigh;
  std::string skipIndexingForCharsets;  // blanks removed, case kept
  bool charsetSpam;
  bool missingCharset;
  bool update;
  std::uint8_t updateDays;
  std::int32_t updateMinutes;  // time of day in minutes, 0..1439
  bool useCustomDb;
  std::string updateUrl;
  std::string filterRecords;
  bool htmlPartsOnly;
  bool htmlExternalUrl;
  bool htmlNoText;
  bool htmlScript;
  bool htmlEqual;
  std::string htmlOtherFilters;
  bool challenge;
  bool challengeAddOutgoing;
  bool challengeMarked;
  bool challengeUnmarked;
  std::int32_t challengeExpires;
  std::string challengeUrl;
  std::string challengeConnection;
  std::string challengeEmailFrom;
  std::string challengeMailFrom;
  bool challengePerc;
  std::int32_t challengeSpam;
  std::int32_t challengeGenuine;
  bool challengeSeparateUsers;
  bool challengeSaPerc;
  std::int32_t challengeSaSpam;
  std::int32_t challengeSaGenuine;
  bool challengeGroupWare;
  bool challengeSendOnce;
  std::string challengeFont;
  std::int32_t challengeFontSize;
  bool assassinEnabled;
  bool assassinMarked;
  std::string assassinRulesPath;
  bool assassinReporting;
  bool assassinNoCustom;
  std::int32_t maxText;

  // The time of day as a fraction of a day.
  double UpdateTimeOfDay() const { return updateMinutes / 1440.0; }
  bool operator==(const SpamSettings&) const = default;
};

enum class SpamKeyKind : std::uint8_t {
  Boolean,     // "0"/"1"; true only when the value reads as 1
  Integer,     // 32-bit
  Byte,        // the low byte of the value read
  Text,        // as it stands
  List,        // ";" + items + ";", lower case, no blanks
  Charsets,    // blanks removed, case kept
  Percentage,  // whole hundredths in the file, a fraction in memory
  TimeOfDay,   // "H:MM"
};

struct SpamKey {
  std::string_view name;  // with its "="
  SpamKeyKind kind;
  std::string_view defaultValue;  // in the file's form
  bool SpamSettings::*flag = nullptr;
  std::int32_t SpamSettings::*number = nullptr;
  std::uint8_t SpamSettings::*byte = nullptr;
  std::string SpamSettings::*text = nullptr;
  double SpamSettings::*fraction = nullptr;
};

inline constexpr std::size_t SpamKeyCount = 67;

// The keys in the order the file is written.
std::span<const SpamKey> SpamKeys();

// The values before any file was read.
SpamSettings DefaultSpamSettings();

// Applies the lines of a "spam.dat" text: "Key=Value" after the blanks
// around the "=" are trimmed, the key matched without regard to case; empty
// values, unknown keys and a time of day out of range change nothing. Keys
// the text lacks keep their values.
void ReadSpamDat(std::string_view text, SpamSettings& settings);

// Every key in table order, each line ended by CR LF.
std::string WriteSpamDat(const SpamSettings& settings);

// The text without leading and trailing ";".
std::string TrimSemicolons(std::string_view text);

// "H:MM" (hours before the first ":", minutes after it) as minutes of the
// day; false when the hours are outside 0-23 or the minutes outside 0-59.
bool ReadTimeOfDay(std::string_view value, std::int32_t& minutes);

}  // namespace core
