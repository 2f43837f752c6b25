#include "core/util/Punycode.h"

#include <limits>

namespace core {

namespace {

constexpr std::uint32_t Base = 36;
constexpr std::uint32_t TMin = 1;
constexpr std::uint32_t TMax = 26;
constexpr std::uint32_t Skew = 38;
constexpr std::uint32_t Damp = 700;
constexpr std::uint32_t InitialBias = 72;
constexpr std::uint32_t InitialN = 128;
constexpr std::uint32_t MaxInt = std::numeric_limits<std::uint32_t>::max();

bool IsValidCodePoint(std::uint32_t codePoint) {
  return codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
}

}  // namespace

bool IsBasicCodePoint(std::uint32_t codePoint) { return codePoint < 128; }

bool IsPunycodeDelimiter(std::uint32_t codePoint) { return codePoint == '-'; }

std::uint32_t PunycodeDigitValue(std::uint32_t codePoint) {
  if (codePoint >= '0' && codePoint <= '9') return codePoint - '0' + 26;
  if (codePoint >= 'A' && codePoint <= 'Z') return codePoint - 'A';
  if (codePoint >= 'a' && codePoint <= 'z') return codePoint - 'a';
  return Base;
}

std::uint32_t PunycodeAdapt(std::uint32_t delta, std::uint32_t numPoints, bool firstTime) {
  delta = firstTime ? delta / Damp : delta / 2;
  if (numPoints != 0) delta += delta / numPoints;
  std::uint32_t k = 0;
  while (delta > ((Base - TMin) * TMax) / 2) {
    delta /= Base - TMin;
    k += Base;
  }
  return k + (Base - TMin + 1) * delta / (delta + Skew);
}

int PunycodeDecode(std::uint32_t inputLength, const char* input, std::uint32_t& outputLength,
                   std::vector<std::uint32_t>& output) {
  if (inputLength == 0) return PunycodeEmptyInput;
  if (input == nullptr) return PunycodeBadInput;
  const std::uint32_t capacity = outputLength;

  // Everything before the last delimiter is copied as basic code points.
  std::uint32_t basicCount = 0;
  bool hasDelimiter = false;
  for (std::uint32_t j = 0; j < inputLength; ++j) {
    if (IsPunycodeDelimiter(static_cast<unsigned char>(input[j]))) {
      basicCount = j;
      hasDelimiter = true;
    }
  }
  if (basicCount > capacity) return PunycodeBigOutput;

  output.clear();
  output.reserve(capacity < inputLength ? capacity : inputLength);
  for (std::uint32_t j = 0; j < basicCount; ++j) {
    const auto c = static_cast<unsigned char>(input[j]);
    if (!IsBasicCodePoint(c)) return PunycodeBadInput;
    output.push_back(c);
  }

  std::uint32_t n = InitialN;
  std::uint32_t i = 0;
  std::uint32_t bias = InitialBias;
  std::uint32_t count = basicCount;
  for (std::uint32_t in = hasDelimiter ? basicCount + 1 : 0; in < inputLength;) {
    const std::uint32_t oldi = i;
    std::uint32_t w = 1;
    for (std::uint32_t k = Base;; k += Base) {
      if (in >= inputLength) return PunycodeBadInput;
      const std::uint32_t digit = PunycodeDigitValue(static_cast<unsigned char>(input[in++]));
      if (digit >= Base) return PunycodeBadInput;
      if (digit > (MaxInt - i) / w) return PunycodeOverflow;
      i += digit * w;
      const std::uint32_t t = k <= bias ? TMin : (k >= bias + TMax ? TMax : k - bias);
      if (digit < t) break;
      if (w > MaxInt / (Base - t)) return PunycodeOverflow;
      w *= Base - t;
    }
    bias = PunycodeAdapt(i - oldi, count + 1, oldi == 0);
    if (i / (count + 1) > MaxInt - n) return PunycodeOverflow;
    n += i / (count + 1);
    i %= count + 1;
    if (!IsValidCodePoint(n)) return PunycodeBadInput;
    if (count >= capacity) return PunycodeBigOutput;
    output.insert(output.begin() + static_cast<std::ptrdiff_t>(i), n);
    ++i;
    ++count;
  }
  outputLength = count;
  output.resize(count);
  return PunycodeSuccess;
}

std::u16string PunycodeToWide(std::string_view label) {
  if (label.size() > MaxInt) return {};
  std::uint32_t length = static_cast<std::uint32_t>(label.size());
  std::vector<std::uint32_t> codePoints;
  if (PunycodeDecode(length, label.data(), length, codePoints) != PunycodeSuccess) return {};
  std::u16string result;
  result.reserve(codePoints.size());
  for (const std::uint32_t c : codePoints) {
    if (c < 0x10000) {
      result.push_back(static_cast<char16_t>(c));
    } else {
      result.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
  }
  return result;
}

}  // namespace core
