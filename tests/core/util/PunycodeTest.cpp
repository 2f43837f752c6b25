#include "core/util/PunycodeUnit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace core {
namespace {

int Decode(std::string_view input, std::uint32_t capacity, std::vector<std::uint32_t>& output) {
  const int status = PunycodeDecode(static_cast<std::uint32_t>(input.size()), input.data(), capacity, output);
  if (status == PunycodeSuccess) {
    EXPECT_EQ(capacity, output.size());
  }
  return status;
}

std::vector<std::uint32_t> Decode(std::string_view input) {
  std::vector<std::uint32_t> output;
  EXPECT_EQ(Decode(input, static_cast<std::uint32_t>(input.size()), output), PunycodeSuccess) << input;
  return output;
}

int Status(std::string_view input, std::uint32_t capacity) {
  std::vector<std::uint32_t> output;
  return Decode(input, capacity, output);
}

// Samples of RFC 3492 section 7.1: (A), (B), (L) and (S).
TEST(Punycode, RfcSamples) {
  EXPECT_EQ(Decode("egbpdaj6bu4bxfgehfvwxn"),
            (std::vector<std::uint32_t>{0x0644, 0x064A, 0x0647, 0x0645, 0x0627, 0x0628, 0x062A, 0x0643, 0x0644,
                                        0x0645, 0x0648, 0x0634, 0x0639, 0x0631, 0x0628, 0x064A, 0x061F}));
  EXPECT_EQ(Decode("ihqwcrb4cv8a8dqg056pqjye"),
            (std::vector<std::uint32_t>{0x4ED6, 0x4EEC, 0x4E3A, 0x4EC0, 0x4E48, 0x4E0D, 0x8BF4, 0x4E2D, 0x6587}));
  EXPECT_EQ(Decode("3B-ww4c5e180e575a65lsy2b"),
            (std::vector<std::uint32_t>{0x33, 0x5E74, 0x42, 0x7D44, 0x91D1, 0x516B, 0x5148, 0x751F}));
  EXPECT_EQ(Decode("-> $1.00 <--"), (std::vector<std::uint32_t>{'-', '>', ' ', '$', '1', '.', '0', '0', ' ', '<', '-'}));
}

TEST(Punycode, ToWide) {
  EXPECT_EQ(PunycodeToWide("bcher-kva"), u"b\u00FCcher");
  // U+1F600 between 'a' and 'b': delta (0x1F600 - 128) * 3 + 1 = 385153,
  // written with bias 72 as the digits n, o, 8, 2, a.
  EXPECT_EQ(PunycodeToWide("ab-no82a"), u"a\xD83D\xDE00" u"b");
  EXPECT_EQ(PunycodeToWide("a-h023p"), u"a\xDBFF\xDFFF");  // U+10FFFF
  EXPECT_EQ(PunycodeToWide("a-!"), u"");
}

TEST(Punycode, FailureStatuses) {
  EXPECT_EQ(Status("", 10), PunycodeEmptyInput);
  EXPECT_EQ(Status("ab-c", 1), PunycodeBigOutput);
  EXPECT_EQ(Status("bcher-kva", 5), PunycodeBigOutput);  // the basic part fits, the insertion does not
  EXPECT_EQ(Status("\xE4-abc", 10), PunycodeBadInput);   // non-basic before the delimiter
  EXPECT_EQ(Status("a-!", 10), PunycodeBadInput);         // no punycode digit
  EXPECT_EQ(Status("a-9", 10), PunycodeBadInput);         // ends inside an integer
  EXPECT_EQ(Status("a-99999999999", 20), PunycodeOverflow);
  // Code points Unicode does not allow: U+D800, U+DFFF, U+110000.
  EXPECT_EQ(Status("a-rc4g", 10), PunycodeBadInput);
  EXPECT_EQ(Status("a-qo7g", 10), PunycodeBadInput);
  EXPECT_EQ(Status("a-j023p", 10), PunycodeBadInput);

  std::vector<std::uint32_t> output;
  std::uint32_t length = 100;
  ASSERT_EQ(PunycodeDecode(9, "bcher-kva", length, output), PunycodeSuccess);
  EXPECT_EQ(length, 6u);
}

}  // namespace
}  // namespace core
