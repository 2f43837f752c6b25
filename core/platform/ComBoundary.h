#pragma once
// The boundary of a COM method (core/platform/Boundary.h in its HRESULT
// form): the out values are cleared before the body runs, so a caller never
// sees stale ones; an early end answers E_OUTOFMEMORY for std::bad_alloc and
// E_UNEXPECTED for anything else, clears the out values again and leaves an
// IErrorInfo whose source is the class's ProgID.
#include <windows.h>

#include <oleauto.h>

#include "core/platform/Boundary.h"

namespace core {

// Empties one out value: pointers and numbers become zero, a VARIANT empty.
// A null out pointer is left alone (the body answers E_POINTER for it).
template <typename T>
void ClearOut(T* out) noexcept {
  if (out != nullptr) *out = T{};
}
inline void ClearOut(VARIANT* out) noexcept {
  if (out != nullptr) ::VariantInit(out);
}

// The answer of a method whose body ended early in fault.
HRESULT FaultResult(BoundaryFault fault) noexcept;

// Makes an IErrorInfo with progId as its source and description, of the
// interface iid, the calling thread's error information; forgets the former
// one whatever happens.
void SetComError(const wchar_t* progId, const wchar_t* description, const GUID& iid = GUID_NULL) noexcept;

// Runs body() (answering HRESULT) for the class named progId, with the out
// values outs cleared first. The thread's error information is forgotten on
// entry, so that it never tells of an older call.
template <typename Body, typename... Outs>
HRESULT ComBoundary(const wchar_t* progId, Body&& body, Outs*... outs) noexcept {
  (ClearOut(outs), ...);
  ::SetErrorInfo(0, nullptr);
  HRESULT answer = E_UNEXPECTED;
  auto run = [&] { answer = body(); };
  const BoundaryFault fault = RunAtBoundary(run);
  if (fault == BoundaryFault::None) return answer;
  (ClearOut(outs), ...);
  answer = FaultResult(fault);
  SetComError(progId, answer == E_OUTOFMEMORY ? L"Out of memory." : L"Unexpected failure.");
  return answer;
}

}  // namespace core
