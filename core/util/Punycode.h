#pragma once
// RFC 3492 punycode decoding (without the optional case flags), used for the
// "xn--" labels of internationalised domain names.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace core {

bool IsBasicCodePoint(std::uint32_t codePoint);
bool IsPunycodeDelimiter(std::uint32_t codePoint);

// '0'-'9' -> 26-35, letters -> 0-25, anything else 36.
std::uint32_t PunycodeDigitValue(std::uint32_t codePoint);

std::uint32_t PunycodeAdapt(std::uint32_t delta, std::uint32_t numPoints, bool firstTime);

enum PunycodeStatus : int {
  PunycodeSuccess = 0,
  PunycodeBadInput = 1,
  PunycodeBigOutput = 2,
  PunycodeOverflow = 3,
  PunycodeEmptyInput = 4
};

// outputLength: in the capacity in code points, out (on success) the count;
// output then holds exactly that many code points. Decoded code points above
// U+10FFFF or in the surrogate range are bad input.
int PunycodeDecode(std::uint32_t inputLength, const char* input, std::uint32_t& outputLength,
                   std::vector<std::uint32_t>& output);

// The decoded label as UTF-16 (surrogate pairs above U+FFFF); empty on failure.
std::u16string PunycodeToWide(std::string_view label);

}  // namespace core
