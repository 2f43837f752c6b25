#include "core/util/Punycode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace core {
namespace {

using CodePoints = std::vector<std::uint32_t>;

// Decodes into room for `capacity` code points; on success the capacity becomes the length.
int Status(std::string_view input, std::uint32_t capacity, CodePoints* result = nullptr) {
  CodePoints output;
  const int status = PunycodeDecode(static_cast<std::uint32_t>(input.size()), input.data(), capacity, output);
  EXPECT_TRUE(status != PunycodeSuccess || capacity == output.size()) << input;
  if (result != nullptr) *result = output;
  return status;
}

CodePoints Decode(std::string_view input) {
  CodePoints output;
  EXPECT_EQ(Status(input, static_cast<std::uint32_t>(input.size()), &output), PunycodeSuccess) << input;
  return output;
}

// Samples of RFC 3492 section 7.1: (A), (B), (L) and (S).
TEST(Punycode, RfcSamples) {
  EXPECT_EQ(Decode("egbpdaj6bu4bxfgehfvwxn"),
            (CodePoints{0x0644, 0x064A, 0x0647, 0x0645, 0x0627, 0x0628, 0x062A, 0x0643, 0x0644, 0x0645, 0x0648, 0x0634,
                        0x0639, 0x0631, 0x0628, 0x064A, 0x061F}));
  EXPECT_EQ(Decode("ihqwcrb4cv8a8dqg056pqjye"),
            (CodePoints{0x4ED6, 0x4EEC, 0x4E3A, 0x4EC0, 0x4E48, 0x4E0D, 0x8BF4, 0x4E2D, 0x6587}));
  EXPECT_EQ(Decode("3B-ww4c5e180e575a65lsy2b"),
            (CodePoints{0x33, 0x5E74, 0x42, 0x7D44, 0x91D1, 0x516B, 0x5148, 0x751F}));
  EXPECT_EQ(Decode("-> $1.00 <--"), (CodePoints{'-', '>', ' ', '$', '1', '.', '0', '0', ' ', '<', '-'}));
}

TEST(Punycode, ToWide) {
  EXPECT_EQ(PunycodeToWide("bcher-kva"), u"b\u00FCcher");
  // U+1F600 between 'a' and 'b': delta (0x1F600 - 128) * 3 + 1 = 385153,
  // written with bias 72 as the digits n, o, 8, 2, a.
  EXPECT_EQ(PunycodeToWide("ab-no82a"),
            u"a\xD83D\xDE00"
            u"b");
  EXPECT_EQ(PunycodeToWide("a-h023p"), u"a\xDBFF\xDFFF");  // U+10FFFF
  EXPECT_EQ(PunycodeToWide("a-!"), u"");                   // failures give nothing
}

TEST(Punycode, FailureStatuses) {
  EXPECT_EQ(Status("", 10), PunycodeEmptyInput);
  EXPECT_EQ(Status("ab-c", 1), PunycodeBigOutput);
  EXPECT_EQ(Status("bcher-kva", 5), PunycodeBigOutput);  // the basic part fits, the insertion does not
  EXPECT_EQ(Status("\xE4-abc", 10), PunycodeBadInput);   // non-basic before the delimiter
  EXPECT_EQ(Status("a-!", 10), PunycodeBadInput);        // no punycode digit
  EXPECT_EQ(Status("a-9", 10), PunycodeBadInput);        // ends inside an integer
  EXPECT_EQ(Status("a-99999999999", 20), PunycodeOverflow);
  // Code points Unicode does not allow: U+D800, U+DFFF, U+110000.
  for (const char* bad : {"a-rc4g", "a-qo7g", "a-j023p"})
    EXPECT_EQ(Status(bad, 10), PunycodeBadInput) << bad;
  EXPECT_EQ(Status("bcher-kva", 100), PunycodeSuccess);  // spare room is fine
}

}  // namespace
}  // namespace core
