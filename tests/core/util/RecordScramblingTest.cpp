#include "core/util/RecordScrambling.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/support/records.h"

namespace {

using records::Key;  // written out independently of the library's table

TEST(ScrambleBuffer, ZeroBytesBecomeTheKeyFromTheStartIndex) {
  std::vector<std::uint8_t> zeros(40, 0);
  core::ScrambleBuffer(zeros.data(), static_cast<std::ptrdiff_t>(zeros.size()), 0);
  for (std::size_t i = 0; i < zeros.size(); ++i)
    EXPECT_EQ(zeros[i], Key[i % 16]) << i;

  // Start 8 uses key bytes 8-11; a start past 16 wraps like the position it stands for.
  for (const std::ptrdiff_t start : {8, 20344}) {
    std::vector<std::uint8_t> four(4, 0);
    core::ScrambleBuffer(four.data(), 4, start);
    EXPECT_EQ(four, std::vector<std::uint8_t>(Key + 8, Key + 12)) << start;
  }
}

TEST(ScrambleBuffer, TwiceRestoresAndSplitCallsMatchOneCall) {
  std::vector<std::uint8_t> data(100);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const std::vector<std::uint8_t> original = data;
  std::vector<std::uint8_t> whole = data;
  core::ScrambleBuffer(whole.data(), 100, 0);
  core::ScrambleBuffer(data.data(), 37, 0);
  core::ScrambleBuffer(data.data() + 37, 63, 37);
  EXPECT_EQ(data, whole);
  core::ScrambleBuffer(data.data(), 100, 0);
  EXPECT_EQ(data, original);

  core::ScrambleBuffer(data.data(), 0, 0);  // non-positive lengths and null do nothing
  core::ScrambleBuffer(data.data(), -5, 0);
  core::ScrambleBuffer(nullptr, 10, 0);
  EXPECT_EQ(data, original);
}

}  // namespace
