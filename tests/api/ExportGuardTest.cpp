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
  constexpr ExportRules anyState{StateHold::None, false, API_NOT_INITIALISED, -77};
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
  constexpr ExportRules enumeration{StateHold::Shared, true, 0, 0};  // answers false instead of -5
  EXPECT_EQ(Guarded(enumeration, [] { return 1; }), 0);

  constexpr ExportRules shared{StateHold::Shared, false, API_NOT_INITIALISED, API_FAILED};
  EXPECT_EQ(Guarded(shared, [] { return OtherThreadCan(false) && !OtherThreadCan(true) ? 1 : 0; }), 1);
  EXPECT_EQ(Guarded(api::Replacing, [] { return !OtherThreadCan(false) ? 1 : 0; }), 1);
  EXPECT_TRUE(OtherThreadCan(true));  // released afterwards, also after an exception
  Guarded(api::Replacing, [] { throw 1; });
  EXPECT_TRUE(OtherThreadCan(true));
}

}  // namespace
