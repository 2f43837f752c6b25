#pragma once
// The state of one message as the message-handling routines see it: the
// message-file routines, the variable expansion and the anti-spam index
// builder. A context is made empty by its user, which fills what it knows;
// an empty text means "not known".
#include <cstdint>
#include <functional>
#include <string>

namespace core {

// The client connection a message came in on (the socket layer's object);
// only its remote address is read here.
class ClientConnection {
 public:
  virtual ~ClientConnection() = default;
  virtual std::string RemoteAddress() const = 0;
};

// Bits of MessageContext::filterFlags.
enum FilterFlag : std::uint16_t {
  SpamAssassinScorePresent = 1 << 0,
  BayesProbabilityPresent = 1 << 1,
  HtmlFilterHit = 1 << 2,
  CharsetFilterHit = 1 << 3,
  StaticFilterHit = 1 << 4,
  ContentFilterHit = 1 << 5,
  AntiSpamHit = 1 << 6,
};

inline constexpr std::size_t ContextSenderLength = 127;

struct MessageContext {
  std::string sender;       // envelope sender, at most 127 characters
  std::string messageFile;  // full name of the message's file
  std::int32_t messageSize = 0;
  std::uint16_t recipientCount = 0;
  std::string recipients;  // addresses, each followed by ";"
  const ClientConnection* connection = nullptr;
  bool hasIPText = false;  // ipText holds the client's address
  std::string ipText;
  std::uint32_t bayesProbability = 0;  // 1/10,000
  std::uint16_t filterFlags = 0;
  std::int32_t spamAssassinScore = 0;  // hundredths
  std::string virusName;
};

// The connection's remote address; without a connection the IP text when
// its flag is set; else empty. Never throws.
std::string GetClientIP(const MessageContext& context);

// The filter results as "SpamAssassin=5.30,Bayes=87.50%,HTML,..." in bit
// order, without a final ","; empty when no flag is set.
std::string BuildSpamStatusText(const MessageContext& context);

// The item at the 0-based index of a list of items each followed by ";",
// trimmed; empty when there is no such item. A non-empty list without any
// ";" is one item, and gets its ";" appended.
std::string GetListItemAt(std::string& list, int index);

// The variable expansion of a message file (the context's message file is
// rewritten; it may name another file afterwards); true on success. Until a
// unit installs one, templates pass through unchanged.
using SystemVariablesHook = std::function<bool(MessageContext& context)>;
void SetSystemVariablesHook(SystemVariablesHook hook);
bool RunSystemVariablesHook(MessageContext& context);

}  // namespace core
