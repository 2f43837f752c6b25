#pragma once
// The texts the automation classes make of their arguments and of the
// exports' answers: the split of an account address, the list texts and the
// sizes of their buffers, and LastErr as a caller reads it. No OS call here.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace api::automation {

struct AccountAddress {
  std::string alias;
  std::string domain;
};

// The text before the first "@" is the alias, the text after it the domain,
// each trimmed with runs of blanks counted once; an empty domain part (no
// "@" at all, too) takes defaultDomain.
AccountAddress SplitAccountAddress(std::string_view address, std::string_view defaultDomain);

// What a list export wrote (its items, each ended by a zero byte, and one
// more zero byte) as the classes answer it: every zero byte but the last
// turned into ";", so "one\0two\0\0" becomes "one;two;\0". Empty when the
// export wrote nothing.
std::string ListAnswerText(std::string_view written);

// Buffers for the list exports: a domain table entry holds at most 96
// bytes, an account's first alias at most 255 and its zero byte. A negative
// count (a failed count) sizes for none.
std::size_t DomainListBufferSize(std::int32_t domainCount);
std::size_t AccountListBufferSize(std::int32_t accountCount);

// LastErr as the classes answer it: a positive code (a count, a record
// size) reads as 0.
constexpr std::int32_t LastErrAnswer(std::int32_t lastErr) { return lastErr > 0 ? 0 : lastErr; }

}  // namespace api::automation
