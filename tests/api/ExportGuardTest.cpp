// The one guard around exported bodies: answers, exceptions and the hold of
// the library-state lock.
#include "api/ExportGuard.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "tests/api/Fixture.h"

namespace {

using api::ExportRules;
using api::Guarded;
using api::StateHold;

// Whether another thread could take the state lock shared / exclusive now.
bool OtherThreadCan(bool exclusive) {
  bool taken = false;
  std::thread([&] {
    SRWLOCK& lock = api::StateLock();
    taken = exclusive ? TryAcquireSRWLockExclusive(&lock) : TryAcquireSRWLockShared(&lock);
    if (taken) exclusive ? ReleaseSRWLockExclusive(&lock) : ReleaseSRWLockShared(&lock);
  }).join();
  return taken;
}

TEST(ExportGuard, MapsOutcomesAndTurnsExceptionsIntoTheExportsAnswer) {
  constexpr ExportRules anyState{.hold = StateHold::None, .needsInit = false, .onException = -77};
  EXPECT_EQ(Guarded(anyState, [] { return core::Outcome::Of(12); }), 12);
  EXPECT_EQ(Guarded(anyState, [] { return core::Outcome::Fail(core::Status::BadArgument); }), -3);
  EXPECT_EQ(Guarded(anyState, [] { return core::Outcome::Fail(core::Status::NotFound); }), -1);
  EXPECT_EQ(Guarded(anyState, [] { return core::Outcome::Fail(core::Status::Unreadable); }), -4);
  EXPECT_EQ(Guarded(anyState, []() -> std::int32_t { throw std::runtime_error("inside"); }), -77);
  bool ran = false;
  Guarded(anyState, [&] {
    ran = true;
    throw 1;
  });  // an export that answers nothing swallows it
  EXPECT_TRUE(ran);
}

TEST(ExportGuard, NotInitialisedAndTheStateLock) {
  fixture::TempInstall empty("guard");
  EXPECT_EQ(Init(empty.root().c_str()), -4);  // no settings: not initialised
  bool ran = false;
  EXPECT_EQ(Guarded(api::Reading, [&] { return ran = true; }), -5);
  EXPECT_FALSE(ran);
  constexpr ExportRules enumeration{.notInitialised = 0, .onException = 0};  // answers false instead of -5
  EXPECT_EQ(Guarded(enumeration, [] { return 1; }), 0);

  constexpr ExportRules shared{.needsInit = false};
  EXPECT_EQ(Guarded(shared, [] { return OtherThreadCan(false) && !OtherThreadCan(true) ? 1 : 0; }), 1);
  EXPECT_EQ(Guarded(api::Replacing, [] { return !OtherThreadCan(false) ? 1 : 0; }), 1);
  EXPECT_TRUE(OtherThreadCan(true));  // released afterwards, also after an exception
  Guarded(api::Replacing, [] { throw 1; });
  EXPECT_TRUE(OtherThreadCan(true));
}

// A caller inside the library holds the state once around several exports
// and a re-initialisation: the nested holds take nothing, so the lock is never
// entered twice by one thread (which would never return).
TEST(ExportGuard, OneHoldAroundSeveralExports) {
  constexpr ExportRules anyState{.needsInit = false};
  fixture::TempInstall install("hold");
  fixture::WriteSettings(install.config(), fixture::SettingsFile());
  ASSERT_EQ(Init(install.root().c_str()), 0);
  {
    api::StateGuard outer(StateHold::Exclusive);
    ASSERT_TRUE(outer.holds());
    EXPECT_EQ(Guarded(anyState, [] { return api::HeldByThisThread() == StateHold::Exclusive ? 1 : 0; }), 1);
    EXPECT_EQ(Guarded(api::Replacing, [] { return 2; }), 2);
    EXPECT_FALSE(api::ReloadIfSettingsChanged());  // unchanged settings, and no second hold
    EXPECT_FALSE(OtherThreadCan(false));           // still held by the outer guard
  }
  EXPECT_TRUE(OtherThreadCan(true));
  {
    api::StateGuard outer(StateHold::Shared);
    EXPECT_EQ(Guarded(anyState, [] { return 3; }), 3);
    // Raising a shared hold to exclusive is refused rather than waited for.
    EXPECT_EQ(Guarded(api::Replacing, [] { return 4; }), API_FAILED);
    EXPECT_FALSE(api::ReloadIfSettingsChanged());
    EXPECT_EQ(api::HeldByThisThread(), StateHold::Shared);
  }
  EXPECT_EQ(api::HeldByThisThread(), StateHold::None);
  // A structured exception in a body answers the failure and releases the hold.
  EXPECT_EQ(Guarded(api::Replacing,
                    []() -> std::int32_t {
                      RaiseException(0xE0000042u, 0, 0, nullptr);
                      return 1;
                    }),
            API_FAILED);
  EXPECT_TRUE(OtherThreadCan(true));
  Done();
}

}  // namespace
