#pragma once
// What the plug-in needs of COM for one call: the thread's apartment, one
// object made by class id, and the exception raised when either fails.
#include <windows.h>

#include <objbase.h>

#include <exception>
#include <string>

#include "core/platform/Handles.h"

namespace pellacor {

// A COM failure: the caller's message and the system's text for the
// HRESULT, combined as "message\nHRESULT - text" (what()).
class ComException : public std::exception {
 public:
  ComException(const char* message, HRESULT hr);
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

// COM for the calling thread for the life of the object. A thread the host
// already runs in the multithreaded apartment (RPC_E_CHANGED_MODE) is used
// as it is and left initialised; otherwise every successful CoInitialize
// (S_FALSE too) is paired with one CoUninitialize.
class ComApartment {
 public:
  ComApartment();
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool paired_ = false;
};

// One object made by class id (in-process or local server) as IUnknown,
// asked for further interfaces; released when the holder goes.
class SmartComObject {
 public:
  explicit SmartComObject(const CLSID& clsid);

  template <typename I>
  core::UniqueComReference<I> Acquire(const IID& iid) const {
    core::UniqueComReference<I> reference;
    const HRESULT hr = object_.get()->QueryInterface(iid, reinterpret_cast<void**>(reference.put()));
    if (FAILED(hr) || !reference) throw ComException("CSmartComObject could not acquire interface.", hr);
    return reference;
  }

 private:
  core::UniqueComReference<IUnknown> object_;
};

}  // namespace pellacor
