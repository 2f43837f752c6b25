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

// The ways a body can end, each with what the boundary must make of it: by
// default, and under rules that answer E_FAIL and name an interface.
struct Ending {
  const char* name;
  void (*body)();
  BoundaryFault fault;
  HRESULT com;
  HRESULT comFail;
};

const Ending Endings[] = {
    {"returns", [] {}, BoundaryFault::None, S_FALSE, S_FALSE},
    {"std exception", [] { throw std::runtime_error("inside"); }, BoundaryFault::Standard, E_UNEXPECTED, E_FAIL},
    {"bad_alloc", [] { throw std::bad_alloc(); }, BoundaryFault::OutOfMemory, E_OUTOFMEMORY, E_OUTOFMEMORY},
    {"unknown", [] { throw 42; }, BoundaryFault::Unknown, E_UNEXPECTED, E_FAIL},
    {"access violation", &WriteToBadAddress, BoundaryFault::Structured, E_UNEXPECTED, E_FAIL},
    {"raised", [] { RaiseException(0xE0000123u, 0, 0, nullptr); }, BoundaryFault::Structured, E_UNEXPECTED, E_FAIL},
    {"com error", [] { throw core::ComError(DISP_E_TYPEMISMATCH, L"Not a date."); }, BoundaryFault::Unknown,
     DISP_E_TYPEMISMATCH, DISP_E_TYPEMISMATCH},
    {"com error without failure", [] { throw core::ComError(S_OK, L"odd"); }, BoundaryFault::Unknown, E_UNEXPECTED,
     E_FAIL},
};

// An interface id of no meaning, for the error information.
constexpr GUID Widget = {0x1f846749, 0x8b58, 0x4328, {0x8f, 0x9a, 0xb0, 0xf6, 0x27, 0x16, 0xd0, 0x08}};

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

// The source, description and interface of the thread's error information;
// empty when there is none.
struct ErrorTold {
  std::wstring source, description;
  GUID iid = GUID_NULL;
};
ErrorTold TakeError() {
  ErrorTold told;
  IErrorInfo* info = nullptr;
  if (::GetErrorInfo(0, &info) != S_OK || info == nullptr) return told;
  BSTR source = nullptr, description = nullptr;
  info->GetSource(&source);
  info->GetDescription(&description);
  info->GetGUID(&told.iid);
  told.source = source != nullptr ? source : L"";
  told.description = description != nullptr ? description : L"";
  ::SysFreeString(source);
  ::SysFreeString(description);
  info->Release();
  return told;
}

TEST(Boundary, ComMethodsClearOutValuesAndLeaveErrorInformation) {
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  for (const bool failRules : {false, true}) {
    const core::ComFaultRules rules = failRules ? core::ComFaultRules{E_FAIL, &Widget} : core::ComFaultRules{};
    for (const Ending& e : Endings) {
      SCOPED_TRACE(std::string(e.name) + (failRules ? " (E_FAIL rules)" : ""));
      core::SetComError(L"Earlier.Call", L"stale");  // must not survive the next call
      wchar_t stale[] = L"stale";
      BSTR text = stale;
      std::int32_t count = 9;
      VARIANT value;
      value.vt = VT_I4;
      value.lVal = 3;
      bool clearedFirst = false;
      const HRESULT answer = core::ComBoundary(
          L"Test.Widget", rules,
          [&]() -> HRESULT {
            clearedFirst = text == nullptr && count == 0 && value.vt == VT_EMPTY;
            count = 4;
            e.body();
            return S_FALSE;
          },
          &text, &count, &value);
      EXPECT_TRUE(clearedFirst);
      EXPECT_EQ(answer, failRules ? e.comFail : e.com);
      const bool returned = e.fault == BoundaryFault::None;
      EXPECT_EQ(count, returned ? 4 : 0);  // no half-made value after a failure
      const ErrorTold told = TakeError();
      EXPECT_EQ(told.source, returned ? L"" : L"Test.Widget");
      EXPECT_TRUE(IsEqualGUID(told.iid, failRules && !returned ? Widget : GUID_NULL));
      if (answer == DISP_E_TYPEMISMATCH) {
        EXPECT_EQ(told.description, L"Not a date.");
      }
    }
  }
  ::CoUninitialize();
}

}  // namespace
