#include "core/messages/MessageContext.h"

#include <utility>

#include "core/util/Numbers.h"
#include "core/util/Text.h"

namespace core {
namespace {

// Installed while the library starts, before any caller runs.
SystemVariablesHook g_systemVariables;

}  // namespace

std::string GetClientIP(const MessageContext& context) {
  try {
    if (context.connection != nullptr) return context.connection->RemoteAddress();
    return context.hasIPText ? context.ipText : std::string();
  } catch (...) {
    return {};
  }
}

std::string BuildSpamStatusText(const MessageContext& context) {
  const std::uint16_t flags = context.filterFlags;
  std::string text;
  if (flags & SpamAssassinScorePresent)
    text += "SpamAssassin=" + FormatFloatFixed(2, context.spamAssassinScore / 100.0) + ",";
  if (flags & BayesProbabilityPresent) text += "Bayes=" + FormatFloatFixed(2, context.bayesProbability / 100.0) + "%,";
  const std::pair<FilterFlag, const char*> named[] = {{HtmlFilterHit, "HTML"},
                                                      {CharsetFilterHit, "Charset"},
                                                      {StaticFilterHit, "StaticFilter"},
                                                      {ContentFilterHit, "ContentFilter"},
                                                      {AntiSpamHit, "AntiSpam"}};
  for (const auto& [flag, name] : named) {
    if (flags & flag) text += std::string(name) + ",";
  }
  if (!text.empty()) text.pop_back();
  return text;
}

std::string GetListItemAt(std::string& list, int index) {
  if (!list.empty() && list.find(';') == std::string::npos) list += ';';
  if (index < 0) return {};
  return GetDelimitedItem(list, index, ';');
}

void SetSystemVariablesHook(SystemVariablesHook hook) { g_systemVariables = std::move(hook); }

bool RunSystemVariablesHook(MessageContext& context) { return !g_systemVariables || g_systemVariables(context); }

}  // namespace core
