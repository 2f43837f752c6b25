#include "core/platform/SehGuard.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t TestCode = 0xE0001234u;
constexpr std::uint32_t AccessViolation = 0xC0000005u;

// Head of the calling thread's exception chain. Only the 32-bit build has
// one (x64 finds handlers through unwind tables); there the check is void.
void* ChainHead() {
  void* head = nullptr;
#if defined(__i386__)
  asm volatile("movl %%fs:0, %0" : "=r"(head));
#endif
  return head;
}

void WriteToBadAddress() {
  volatile std::uintptr_t address = 8;
  *reinterpret_cast<volatile int*>(address) = 1;
}

// Raises from a few frames down, so the guard has stack to discard.
void RaiseDeep(int depth, std::uint32_t code = TestCode) {
  volatile int keep = depth;
  if (keep > 0)
    RaiseDeep(keep - 1, code);
  else
    RaiseException(code, 0, 0, nullptr);
}

TEST(SehGuard, ReportsHowTheBodyEndedAndRestoresTheChain) {
  void* head = ChainHead();
  std::uint32_t code = 99;
  int ran = 0;
  auto normal = [&] { ++ran; };
  EXPECT_TRUE(core::RunGuardedCall(normal, &code));
  EXPECT_EQ(code, 0u);
  auto raise = [&] {
    RaiseDeep(20);
    ++ran;
  };
  EXPECT_FALSE(core::RunGuardedCall(raise, &code));
  EXPECT_EQ(code, TestCode);
  EXPECT_EQ(ran, 1);
  auto fault = [] { WriteToBadAddress(); };
  EXPECT_FALSE(core::RunGuardedCall(fault, &code));
  EXPECT_EQ(code, AccessViolation);
  // Many catches in a row: neither the stack nor the chain grows.
  int caught = 0;
  volatile std::uintptr_t firstDepth = 0, lastDepth = 0;
  auto measured = [&] {
    volatile int local = 0;
    lastDepth = reinterpret_cast<std::uintptr_t>(&local);
    if (firstDepth == 0) firstDepth = lastDepth;
    RaiseDeep(5);
  };
  for (int i = 0; i < 2000; ++i)
    caught += core::RunGuardedCall(measured) ? 0 : 1;
  EXPECT_EQ(caught, 2000);
  EXPECT_EQ(firstDepth, lastDepth);
  EXPECT_EQ(ChainHead(), head);
}

TEST(SehGuard, NestedGuardsCatchInnermostFirst) {
  std::uint32_t innerCode = 0, outerCode = 0;
  bool innerResult = true;
  // The inner guard catches, the outer body goes on, and its own exception
  // reaches the outer guard.
  auto outer = [&] {
    auto inner = [] { WriteToBadAddress(); };
    innerResult = core::RunGuardedCall(inner, &innerCode);
    RaiseException(TestCode, 0, 0, nullptr);
  };
  EXPECT_FALSE(core::RunGuardedCall(outer, &outerCode));
  EXPECT_FALSE(innerResult);
  EXPECT_EQ(innerCode, AccessViolation);
  EXPECT_EQ(outerCode, TestCode);
  // A library that throws and catches its own C++ exception inside the call
  // handles it itself: the guard is asked only for what nobody handled.
  int handled = 0;
  auto ownThrow = [&] {
    try {
      throw 42;
    } catch (int value) {
      handled = value;
    }
  };
  EXPECT_TRUE(core::RunGuardedCall(ownThrow));
  EXPECT_EQ(handled, 42);
}

TEST(SehGuard, ThreadsCatchTheirOwnExceptions) {
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &wrong] {
      void* head = ChainHead();
      const std::uint32_t own = TestCode + static_cast<std::uint32_t>(t);
      for (int i = 0; i < 200; ++i) {
        std::uint32_t code = 0;
        auto body = [&] { i % 2 != 0 ? WriteToBadAddress() : RaiseDeep(3, own); };
        if (core::RunGuardedCall(body, &code) || code != (i % 2 != 0 ? AccessViolation : own)) ++wrong;
      }
      if (ChainHead() != head) ++wrong;
    });
  }
  for (std::thread& th : threads)
    th.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
