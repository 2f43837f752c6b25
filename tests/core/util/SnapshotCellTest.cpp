// The lock-free published value: what a reader sees, when a withdrawn value
// is freed, and readers against a writer that replaces it all the time
// (under the sanitizers natively, a freed value read is a failure).
#include "core/util/SnapshotCell.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace core {
namespace {

std::atomic<int> g_alive{0};

// Every element holds the generation: a torn or freed value shows.
struct Generation {
  explicit Generation(int g) : values(64, g) { ++g_alive; }
  ~Generation() { --g_alive; }
  Generation(const Generation&) = delete;
  Generation& operator=(const Generation&) = delete;
  bool Whole() const {
    for (int v : values)
      if (v != values[0]) return false;
    return true;
  }
  std::vector<int> values;
};

TEST(SnapshotCell, PublishReadWithdrawAndFreeOnceUnpinned) {
  {
    SnapshotCell<Generation> cell;
    EXPECT_FALSE(cell.Read());
    EXPECT_TRUE(cell.PublishIfEmpty(std::make_unique<const Generation>(1)));
    EXPECT_FALSE(cell.PublishIfEmpty(std::make_unique<const Generation>(2)));  // the first one stays
    EXPECT_EQ(g_alive.load(), 1);
    {
      auto pin = cell.Read();
      ASSERT_TRUE(pin);
      EXPECT_EQ(pin->values[0], 1);
      cell.Withdraw();
      EXPECT_FALSE(cell.Read());
      EXPECT_EQ(pin->values[0], 1);  // still alive while pinned
      EXPECT_EQ(cell.Waiting(), 1u);
    }
    EXPECT_TRUE(cell.PublishIfEmpty(std::make_unique<const Generation>(3)));
    EXPECT_EQ(cell.Waiting(), 0u);  // freed once nobody pinned it
    EXPECT_EQ(g_alive.load(), 1);

    // Every slot pinned: a further reader gets nothing, never a wrong value.
    std::vector<SnapshotCell<Generation>::Pin> pins;
    for (std::size_t i = 0; i < SnapshotCell<Generation>::SlotCount; ++i)
      pins.push_back(cell.Read());
    EXPECT_FALSE(cell.Read());
    pins.clear();
    EXPECT_TRUE(cell.Read());
  }
  EXPECT_EQ(g_alive.load(), 0);
}

TEST(SnapshotCell, ReadersSeeWholeValuesWhileAWriterReplacesThem) {
  SnapshotCell<Generation> cell;
  std::atomic<bool> stop{false};
  std::atomic<long> seen{0}, bad{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 4; ++r) {
    readers.emplace_back([&] {
      int last = 0;
      while (!stop.load()) {
        auto pin = cell.Read();
        if (!pin) continue;
        // Whole, and never older than one this reader saw before.
        if (!pin->Whole() || pin->values[0] < last) ++bad;
        last = pin->values[0];
        ++seen;
      }
    });
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (int g = 1; g <= 20000 && std::chrono::steady_clock::now() < until; ++g) {
    cell.Withdraw();
    cell.PublishIfEmpty(std::make_unique<const Generation>(g));
  }
  stop = true;
  for (auto& t : readers)
    t.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(seen.load(), 0);
  cell.Withdraw();
  EXPECT_EQ(cell.Waiting(), 0u);
  EXPECT_EQ(g_alive.load(), 0);
}

}  // namespace
}  // namespace core
