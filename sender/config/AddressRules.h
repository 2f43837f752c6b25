#pragma once
// The address rules of the sending library's account lookup: the address
// split into alias and domain, the rule for quoted local parts, and the
// aliases refused before anything is read. Pure, so that it builds and is
// fuzzed natively.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace sender {

// Why an address names no account, decided before any file or back end is
// asked.
enum class AddressRefusal : std::uint8_t {
  None,
  EmptyAlias,     // nothing (or only blanks) before the "@"
  ListSeparator,  // a ";": the list matcher would take two aliases and find an account holding either
  GroupOrFile,    // a leading "[" (a group reference) or "{" (an include that reads a file it names)
  TooLong,        // alias + "@" + domain over 255 characters: the back end would get a cut address
};

// The longest alias + "@" + domain the lookup takes.
inline constexpr std::size_t MaxLookupAddress = 255;

struct LookupAddress {
  std::string alias;
  std::string domain;
  AddressRefusal refusal = AddressRefusal::None;
};

// The first served domain, asked for only when an address without "@" needs
// it and its alias is not refused.
using FirstDomain = std::function<std::string()>;

// The bare address (the text in angle brackets; CR, LF and NUL dropped)
// split at its first "@"; without "@" the alias is the whole address and the
// domain is firstDomain(). An alias that holds a double quote loses every
// double quote and then, when it holds a ":", everything from the first ":"
// on. The refusal is RefuseLookup of the result.
LookupAddress SplitLookupAddress(std::string_view address, const FirstDomain& firstDomain);

// Whether alias + "@" + domain can name an account at all.
AddressRefusal RefuseLookup(std::string_view alias, std::string_view domain);

}  // namespace sender
