#pragma once
// The boundary of a COM method (core/platform/Boundary.h in its HRESULT
// form): the out values are cleared before the body runs, so a caller never
// sees stale ones; an early end answers E_OUTOFMEMORY for std::bad_alloc,
// the ComError's own HRESULT for a ComError, and the rules' answer for
// anything else (E_UNEXPECTED unless the class asks for another), clears the
// out values again and leaves an IErrorInfo whose source is the class's
// ProgID (and whose GUID is the class's interface, when the rules name it).
#include <windows.h>

#include <oleauto.h>

#include <string>
#include <utility>

#include "core/platform/Boundary.h"

namespace core {

// How a class's methods answer a body that ended early.
struct ComFaultRules {
  HRESULT plain = E_UNEXPECTED;  // any exception but bad_alloc and ComError
  const GUID* iid = nullptr;     // the error information's interface, or none
};

// Raised by a method's body to answer its own failing HRESULT with a
// description (a value that cannot be converted, say).
class ComError {
 public:
  ComError(HRESULT answer, std::wstring description) : answer_(answer), description_(std::move(description)) {}
  HRESULT answer() const noexcept { return answer_; }
  const std::wstring& description() const noexcept { return description_; }

 private:
  HRESULT answer_;
  std::wstring description_;
};

// Empties one out value: pointers and numbers become zero, a VARIANT empty.
// A null out pointer is left alone (the body answers E_POINTER for it).
template <typename T>
void ClearOut(T* out) noexcept {
  if (out != nullptr) *out = T{};
}
inline void ClearOut(VARIANT* out) noexcept {
  if (out != nullptr) ::VariantInit(out);
}

// Makes an IErrorInfo with progId as its source and description, of the
// interface iid, the calling thread's error information; forgets the former
// one whatever happens.
void SetComError(const wchar_t* progId, const wchar_t* description, const GUID& iid = GUID_NULL) noexcept;

// Runs body() (answering HRESULT) for the class named progId, with the out
// values outs cleared first. The thread's error information is forgotten on
// entry, so that it never tells of an older call.
template <typename Body, typename... Outs>
HRESULT ComBoundary(const wchar_t* progId, const ComFaultRules& rules, Body&& body, Outs*... outs) noexcept {
  (ClearOut(outs), ...);
  ::SetErrorInfo(0, nullptr);
  HRESULT answer = E_UNEXPECTED;
  bool raised = false;
  std::wstring description;
  auto run = [&] {
    try {
      answer = body();
    } catch (const ComError& error) {
      raised = true;
      answer = error.answer();
      description = error.description();  // a bad_alloc here is caught as one
    }
  };
  const BoundaryFault fault = RunAtBoundary(run);
  if (fault == BoundaryFault::None && !raised) return answer;
  (ClearOut(outs), ...);
  const GUID& iid = rules.iid != nullptr ? *rules.iid : GUID_NULL;
  if (fault == BoundaryFault::None) {
    SetComError(progId, description.c_str(), iid);
    return FAILED(answer) ? answer : rules.plain;
  }
  answer = fault == BoundaryFault::OutOfMemory ? E_OUTOFMEMORY : rules.plain;
  SetComError(progId, answer == E_OUTOFMEMORY ? L"Out of memory." : L"Unexpected failure.", iid);
  return answer;
}

template <typename Body, typename... Outs>
HRESULT ComBoundary(const wchar_t* progId, Body&& body, Outs*... outs) noexcept {
  return ComBoundary(progId, ComFaultRules{}, body, outs...);
}

}  // namespace core
