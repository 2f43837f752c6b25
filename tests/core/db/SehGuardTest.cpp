#include "core/db/SehGuard.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t TestCode = 0xE0001234u;
constexpr std::uint32_t AccessViolation = 0xC0000005u;

// Head of the calling thread's exception chain.
void* ChainHead() {
  void* head = nullptr;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

void WriteToBadAddress() {
  volatile std::uintptr_t address = 8;
  *reinterpret_cast<volatile int*>(address) = 1;
}

// Raises from a few frames down, so the guard has stack to discard.
void RaiseDeep(int depth) {
  volatile int keep = depth;
  if (keep > 0) {
    RaiseDeep(keep - 1);
  } else {
    RaiseException(TestCode, 0, 0, nullptr);
  }
}

TEST(SehGuard, ReportsHowTheBodyEnded) {
  void* head = ChainHead();
  std::uint32_t code = 99;
  int ran = 0;
  auto normal = [&] { ++ran; };
  EXPECT_TRUE(core::RunGuardedCall(normal, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ran, 1);

  auto raise = [&] { RaiseDeep(20); ++ran; };
  EXPECT_FALSE(core::RunGuardedCall(raise, &code));
  EXPECT_EQ(code, TestCode);
  EXPECT_EQ(ran, 1);

  auto fault = [] { WriteToBadAddress(); };
  EXPECT_FALSE(core::RunGuardedCall(fault, &code));
  EXPECT_EQ(code, AccessViolation);
  EXPECT_FALSE(core::RunGuardedCall(fault));

  // The thread's exception chain is back as it was.
  EXPECT_EQ(ChainHead(), head);
}

TEST(SehGuard, RepeatedCatchesKeepTheStack) {
  void* head = ChainHead();
  int caught = 0;
  for (int i = 0; i < 2000; ++i) {
    auto raise = [] { RaiseDeep(5); };
    if (!core::RunGuardedCall(raise)) ++caught;
  }
  EXPECT_EQ(caught, 2000);
  EXPECT_EQ(ChainHead(), head);
}

TEST(SehGuard, NestedGuardsCatchInnermostFirst) {
  std::uint32_t innerCode = 0;
  std::uint32_t outerCode = 0;
  bool innerResult = true;
  bool afterInner = false;
  auto outer = [&] {
    auto inner = [] { RaiseException(TestCode, 0, 0, nullptr); };
    innerResult = core::RunGuardedCall(inner, &innerCode);
    afterInner = true;
  };
  EXPECT_TRUE(core::RunGuardedCall(outer, &outerCode));
  EXPECT_FALSE(innerResult);
  EXPECT_EQ(innerCode, TestCode);
  EXPECT_TRUE(afterInner);

  // After an inner guard has caught and returned, a later exception in the
  // outer body reaches the outer guard.
  auto outerRaises = [&] {
    auto inner = [] { WriteToBadAddress(); };
    innerResult = core::RunGuardedCall(inner, &innerCode);
    RaiseException(TestCode, 0, 0, nullptr);
  };
  EXPECT_FALSE(core::RunGuardedCall(outerRaises, &outerCode));
  EXPECT_EQ(innerCode, AccessViolation);
  EXPECT_EQ(outerCode, TestCode);
}

TEST(SehGuard, ThreadsCatchTheirOwnExceptions) {
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &wrong] {
      void* head = ChainHead();
      for (int i = 0; i < 200; ++i) {
        std::uint32_t code = 0;
        int value = 0;
        const int kind = (i + t) % 3;
        auto body = [&] {
          if (kind == 1) RaiseException(TestCode + static_cast<std::uint32_t>(t), 0, 0, nullptr);
          if (kind == 2) WriteToBadAddress();
          value = t;
        };
        const bool returned = core::RunGuardedCall(body, &code);
        const bool right = kind == 0   ? returned && value == t && code == 0
                           : kind == 1 ? !returned && code == TestCode + static_cast<std::uint32_t>(t)
                                       : !returned && code == AccessViolation;
        if (!right) ++wrong;
      }
      if (ChainHead() != head) ++wrong;
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
