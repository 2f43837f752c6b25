#include "core/platform/Boundary.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>

#include "core/platform/ComBoundary.h"

namespace {

using core::BoundaryFault;

void WriteToBadAddress() {
  volatile std::uintptr_t address = 8;
  *reinterpret_cast<volatile int*>(address) = 1;
}

// The ways a body can end, each with what the boundary must make of it.
struct Ending {
  const char* name;
  void (*body)();
  BoundaryFault fault;
  HRESULT com;
};

const Ending Endings[] = {
    {"returns", [] {}, BoundaryFault::None, S_FALSE},
    {"std exception", [] { throw std::runtime_error("inside"); }, BoundaryFault::Standard, E_UNEXPECTED},
    {"bad_alloc", [] { throw std::bad_alloc(); }, BoundaryFault::OutOfMemory, E_OUTOFMEMORY},
    {"unknown", [] { throw 42; }, BoundaryFault::Unknown, E_UNEXPECTED},
    {"access violation", &WriteToBadAddress, BoundaryFault::Structured, E_UNEXPECTED},
    {"raised", [] { RaiseException(0xE0000123u, 0, 0, nullptr); }, BoundaryFault::Structured, E_UNEXPECTED},
};

TEST(Boundary, EveryEndingBecomesTheDeclaredAnswer) {
  for (const Ending& e : Endings) {
    SCOPED_TRACE(e.name);
    std::uint32_t code = 7;
    auto run = [&] { e.body(); };
    EXPECT_EQ(core::RunAtBoundary(run, &code), e.fault);
    EXPECT_EQ(code != 0, e.fault == BoundaryFault::Structured);
    const bool returned = e.fault == BoundaryFault::None;
    EXPECT_EQ(core::AtBoundary(std::int32_t{-77},
                               [&] {
                                 e.body();
                                 return std::int32_t{5};
                               }),
              returned ? 5 : -77);
    bool reached = false;
    core::AtBoundary([&] {
      e.body();
      reached = true;
    });
    EXPECT_EQ(reached, returned);
  }
}

// The source of the thread's error information; empty when there is none.
std::wstring ErrorSource() {
  IErrorInfo* info = nullptr;
  if (::GetErrorInfo(0, &info) != S_OK || info == nullptr) return L"";
  BSTR source = nullptr;
  info->GetSource(&source);
  std::wstring text = source != nullptr ? source : L"";
  ::SysFreeString(source);
  info->Release();
  return text;
}

TEST(Boundary, ComMethodsClearOutValuesAndLeaveErrorInformation) {
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  for (const Ending& e : Endings) {
    SCOPED_TRACE(e.name);
    core::SetComError(L"Earlier.Call", L"stale");  // must not survive the next call
    wchar_t stale[] = L"stale";
    BSTR text = stale;
    std::int32_t count = 9;
    VARIANT value;
    value.vt = VT_I4;
    value.lVal = 3;
    bool clearedFirst = false;
    const HRESULT answer = core::ComBoundary(
        L"Test.Widget",
        [&]() -> HRESULT {
          clearedFirst = text == nullptr && count == 0 && value.vt == VT_EMPTY;
          count = 4;
          e.body();
          return S_FALSE;
        },
        &text, &count, &value);
    EXPECT_TRUE(clearedFirst);
    EXPECT_EQ(answer, e.com);
    const bool returned = e.fault == BoundaryFault::None;
    EXPECT_EQ(count, returned ? 4 : 0);  // no half-made value after a failure
    EXPECT_EQ(ErrorSource(), returned ? L"" : L"Test.Widget");
  }
  ::CoUninitialize();
}

}  // namespace
