#include "core/antispam/SpamDat.h"

#include <array>
#include <cmath>
#include <utility>

#include "core/util/Numbers.h"
#include "core/util/Text.h"

namespace core {
namespace {

using S = SpamSettings;
using K = SpamKeyKind;

constexpr SpamKey Flag(std::string_view name, std::string_view value, bool S::*field) {
  SpamKey key{name, K::Boolean, value};
  key.flag = field;
  return key;
}
constexpr SpamKey Number(std::string_view name, std::string_view value, std::int32_t S::*field, K kind = K::Integer) {
  SpamKey key{name, kind, value};
  key.number = field;
  return key;
}
constexpr SpamKey Byte(std::string_view name, std::string_view value, std::uint8_t S::*field) {
  SpamKey key{name, K::Byte, value};
  key.byte = field;
  return key;
}
constexpr SpamKey Text(std::string_view name, std::string_view value, std::string S::*field, K kind = K::Text) {
  SpamKey key{name, kind, value};
  key.text = field;
  return key;
}
constexpr SpamKey Percent(std::string_view name, std::string_view value, double S::*field) {
  SpamKey key{name, K::Percentage, value};
  key.fraction = field;
  return key;
}

// The update server's host and the challenge sender's address are
// placeholders: the filter service's own installation overrides both.
const std::array<SpamKey, SpamKeyCount> kKeys = {{
    Flag("SpamBayesian=", "1", &S::bayesian),
    Flag("SpamBayesianNoTag=", "0", &S::bayesianNoTag),
    Flag("SpamBayesianIgnoreMissing=", "1", &S::bayesianIgnoreMissing),
    Percent("SpamPercentage=", "90", &S::spamPercentage),
    Flag("AddSubject=", "1", &S::addSubject),
    Text("AddSubjectString=", "[Spam]", &S::addSubjectString),
    Byte("OutgoingRules=", "0", &S::outgoingRules),
    Flag("AutoIndexing=", "0", &S::autoIndexing),
    Number("IndexGenuinePercentage=", "30", &S::indexGenuinePercentage),
    Number("IndexSpamPercentage=", "99", &S::indexSpamPercentage),
    Flag("ArchiveIndexedMessages=", "1", &S::archiveIndexedMessages),
    Number("IgnoreMessagesLarger=", "96", &S::ignoreMessagesLarger),
    Number("MessageBalance=", "100", &S::messageBalance),
    Number("MaxIndexMessagesPerDay=", "1000", &S::maxIndexMessagesPerDay),
    Text("IndexUsers=", "", &S::indexUsers, K::List),
    Text("WordStopList=", "fw;re", &S::wordStopList, K::List),
    Byte("Logging=", "0", &S::logging),
    Flag("UseSpamFolder=", "0", &S::useSpamFolder),
    Number("DeleteSpamMailOlder=", "3", &S::deleteSpamMailOlder),
    Flag("SpamUseIMAP=", "1", &S::useImap),
    Flag("SpamBypassNonUsers=", "1", &S::bypassNonUsers),
    Flag("SpamCustomUsers=", "1", &S::customUsers),
    Text("SpamIMAPFolder=", "Spam", &S::imapFolder),
    Number("SpamCustomLow=", "9", &S::customLow),
    Number("SpamCustomMedium=", "6", &S::customMedium),
    Number("SpamCustomHigh=", "3", &S::customHigh),
    Text("SkipIndexingForCharsets=", "gb2312;big5", &S::skipIndexingForCharsets, K::Charsets),
    Flag("CharsetSpam=", "1", &S::charsetSpam),
    Flag("MissingCharset=", "1", &S::missingCharset),
    Flag("SpamUpdate=", "0", &S::update),
    Byte("SpamUpdateDays=", "0", &S::updateDays),
    Number("SpamUpdateTime=", "0:00", &S::updateMinutes, K::TimeOfDay),
    Flag("SpamUseCustomDB=", "1", &S::useCustomDb),
    Text("SpamUpdateURL=", "http://update.example.com/update/spam.xml", &S::updateUrl),
    Text("SpamFilterRecords=", "7,0,1", &S::filterRecords),
    Flag("SpamHTMLPartsOnly=", "1", &S::htmlPartsOnly),
    Flag("SpamHTMLExternalURL=", "1", &S::htmlExternalUrl),
    Flag("SpamHTMLNoText=", "1", &S::htmlNoText),
    Flag("SpamHTMLScript=", "1", &S::htmlScript),
    Flag("SpamHTMLEqual=", "1", &S::htmlEqual),
    Text("SpamHTMLOtherFilters=", "", &S::htmlOtherFilters),
    Flag("SpamChallenge=", "0", &S::challenge),
    Flag("SpamChallengeAddOutgoing=", "1", &S::challengeAddOutgoing),
    Flag("SpamChallengeMarked=", "0", &S::challengeMarked),
    Flag("SpamChallengeUnMarked=", "0", &S::challengeUnmarked),
    Number("SpamChallengeExpires=", "7", &S::challengeExpires),
    Text("SpamChallengeURL=", "", &S::challengeUrl),
    Text("SpamChallengeConnection=", "VelmoraSpamChallenge", &S::challengeConnection),
    Text("SpamChallengeEmailFrom=", "<>", &S::challengeEmailFrom),
    Text("SpamChallengeMailFrom=", "Challenge Response <challenge@example.com>", &S::challengeMailFrom),
    Flag("SpamChallengePerc=", "0", &S::challengePerc),
    Number("SpamChallengeSpam=", "90", &S::challengeSpam),
    Number("SpamChallengeGenuine=", "30", &S::challengeGenuine),
    Flag("SpamChallengeSeparateUsers=", "0", &S::challengeSeparateUsers),
    Flag("SpamChallengeSAPerc=", "0", &S::challengeSaPerc),
    Number("SpamChallengeSASpam=", "1000", &S::challengeSaSpam),
    Number("SpamChallengeSAGenuine=", "3", &S::challengeSaGenuine),
    Flag("SpamChallengeGroupWare=", "1", &S::challengeGroupWare),
    Flag("SpamChallengeSendOnce=", "1", &S::challengeSendOnce),
    Text("SpamChallengeFont=", "Arial", &S::challengeFont),
    Number("SpamChallengeFontSize=", "22", &S::challengeFontSize),
    Flag("SpamAssassinEnabled=", "1", &S::assassinEnabled),
    Flag("SpamAssassinMarked=", "0", &S::assassinMarked),
    Text("SpamAssassinRulesPath=", "", &S::assassinRulesPath),
    Flag("SpamAssassinReporting=", "0", &S::assassinReporting),
    Flag("SpamAssassinNoCustom=", "0", &S::assassinNoCustom),
    Number("SpamMaxText=", "32", &S::maxText),
}};

std::string WithoutBlanks(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text)
    if (c != ' ') result.push_back(c);
  return result;
}

void Apply(const SpamKey& key, std::string_view value, SpamSettings& s) {
  switch (key.kind) {
    case K::Boolean:
      s.*key.flag = TextToInt(value) == 1;
      break;
    case K::Integer:
      s.*key.number = TextToInt(value);
      break;
    case K::Byte:
      s.*key.byte = static_cast<std::uint8_t>(TextToInt(value) & 0xFF);
      break;
    case K::Text:
      s.*key.text = std::string(value);
      break;
    case K::List:
      // Outer ";" of the value are dropped before wrapping: the writer drops
      // them too, so a value and its written form read the same.
      {
        // Appended in steps: GCC 12 at -O3 warns falsely on ";" + text + ";".
        std::string list = ";";
        list += TrimSemicolons(LowerCase(WithoutBlanks(value)));
        list += ';';
        s.*key.text = std::move(list);
      }
      break;
    case K::Charsets:
      s.*key.text = WithoutBlanks(value);
      break;
    case K::Percentage:
      s.*key.fraction = TextToInt(value) / 100.0;
      break;
    case K::TimeOfDay: {
      // Out of range is ignored like an empty value: raising here would end
      // the whole load with the later keys unread.
      std::int32_t minutes = 0;
      if (ReadTimeOfDay(value, minutes)) s.*key.number = minutes;
      break;
    }
  }
}

void AppendValue(const SpamKey& key, const SpamSettings& s, std::string& out) {
  switch (key.kind) {
    case K::Boolean:
      out += s.*key.flag ? '1' : '0';
      break;
    case K::Integer:
      out += std::to_string(s.*key.number);
      break;
    case K::Byte:
      out += std::to_string(s.*key.byte);
      break;
    case K::Text:
    case K::Charsets:
      out += s.*key.text;
      break;
    case K::List:
      out += TrimSemicolons(s.*key.text);
      break;
    case K::Percentage:
      out += std::to_string(std::llround(s.*key.fraction * 100.0));
      break;
    case K::TimeOfDay: {
      const std::int32_t minutes = s.*key.number;
      out += std::to_string(minutes / 60);
      out += ':';
      out += static_cast<char>('0' + minutes % 60 / 10);
      out += static_cast<char>('0' + minutes % 10);
      break;
    }
  }
}

bool StartsWithText(std::string_view line, std::string_view prefix) {
  return line.size() >= prefix.size() && SameText(line.substr(0, prefix.size()), prefix);
}

void ReadLine(std::string_view raw, SpamSettings& settings) {
  if (raw.find('=') == std::string_view::npos) return;
  const std::string line = TrimAroundSeparator(raw, '=');
  const std::size_t equals = line.find('=');
  if (equals == std::string::npos || equals + 1 == line.size()) return;
  const std::string_view value = std::string_view(line).substr(equals + 1);
  for (const SpamKey& key : kKeys) {
    if (StartsWithText(line, key.name)) {
      Apply(key, value, settings);
      return;
    }
  }
}

}  // namespace

std::span<const SpamKey> SpamKeys() { return kKeys; }

SpamSettings DefaultSpamSettings() {
  SpamSettings settings{};
  for (const SpamKey& key : kKeys)
    if (!key.defaultValue.empty()) Apply(key, key.defaultValue, settings);
  return settings;
}

void ReadSpamDat(std::string_view text, SpamSettings& settings) {
  // Lines end at CR, LF or CR LF.
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '\r' && text[i] != '\n') continue;
    ReadLine(text.substr(start, i - start), settings);
    if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
}

std::string WriteSpamDat(const SpamSettings& settings) {
  std::string out;
  out.reserve(2048);
  for (const SpamKey& key : kKeys) {
    out += key.name;
    AppendValue(key, settings, out);
    out += "\r\n";
  }
  return out;
}

std::string TrimSemicolons(std::string_view text) {
  while (!text.empty() && text.front() == ';')
    text.remove_prefix(1);
  while (!text.empty() && text.back() == ';')
    text.remove_suffix(1);
  return std::string(text);
}

bool ReadTimeOfDay(std::string_view value, std::int32_t& minutes) {
  const std::size_t colon = value.find(':');
  const std::int32_t hours = TextToInt(value.substr(0, colon));
  const std::int32_t mins = colon == std::string_view::npos ? 0 : TextToInt(value.substr(colon + 1));
  if (hours < 0 || hours > 23 || mins < 0 || mins > 59) return false;
  minutes = hours * 60 + mins;
  return true;
}

}  // namespace core
