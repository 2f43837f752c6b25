#pragma once
// The base of every automation class of the COM servers: IUnknown with an
// atomic count, IDispatch over the server's own type library
// (DispGetIDsOfNames, DispInvoke) and ISupportErrorInfo, for one dual
// interface. A class is written as
//
//   class Kelpa final : public core::DispatchObject<Kelpa, IKelpa, IID_IKelpa> {
//    public:
//     static constexpr const wchar_t* kProgId = L"VelmoraCOM.Kelpa";
//     HRESULT STDMETHODCALLTYPE ListFiles(BSTR file, BSTR* result) override {
//       return Guarded([&] { ...; return S_OK; }, result);
//     }
//   };
//
// and made by core::CreateComObject<Kelpa> from its row of the class table
// (core/com/ComServer.h). Guarded is the safecall boundary of one method:
// a null out pointer answers E_POINTER before the body runs; the outs are
// cleared first (BSTRs and pointers null, numbers and booleans 0, VARIANTs
// empty); an exception out of the body answers E_OUTOFMEMORY (bad_alloc),
// a core::ComError's own HRESULT, or E_UNEXPECTED, with an IErrorInfo whose
// source is kProgId, the outs cleared again (core/platform/ComBoundary.h).
// A class that declares
//
//     static constexpr core::ComFaultRules kFaultRules{E_FAIL, &IID_IThing};
//
// answers those rules' HRESULT instead of E_UNEXPECTED and names its
// interface in the error information. Serialised is Guarded under the
// object's own lock, taken before anything else and released however the
// body ended, for classes whose objects hold state that two threads of a
// free-threaded client could otherwise tear. An in/out parameter is not an
// out: the body checks it itself. A class may override Invoke to adapt
// arguments and then call DispatchObject::Invoke.
#include <windows.h>

#include <oleauto.h>

#include <atomic>
#include <new>

#include "core/com/ComServer.h"
#include "core/platform/ComBoundary.h"
#include "core/platform/Handles.h"

namespace core {

template <class Derived, class Interface, const IID& InterfaceId>
class DispatchObject : public Interface, public ISupportErrorInfo {
 public:
  DispatchObject() noexcept { CountObject(true); }
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, InterfaceId)) {
      *out = static_cast<Interface*>(this);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1) + 1; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = refs_.fetch_sub(1) - 1;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ServerTypeInfo info;
    const HRESULT found = FindServerTypeInfo(InterfaceId, info);
    if (FAILED(found)) return found;
    info.dispatch->AddRef();
    *out = info.dispatch;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ServerTypeInfo info;
    const HRESULT found = FindServerTypeInfo(InterfaceId, info);
    if (FAILED(found)) return found;
    return ::DispGetIDsOfNames(info.vtable, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ServerTypeInfo info;
    const HRESULT found = FindServerTypeInfo(InterfaceId, info);
    if (FAILED(found)) return found;
    return ::DispInvoke(static_cast<Interface*>(this), info.vtable, id, flags, params, result, exception,
                        argumentError);
  }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return IsEqualIID(iid, InterfaceId) ? S_OK : S_FALSE;
  }

 protected:
  ~DispatchObject() { CountObject(false); }

  // The safecall boundary of one method (see above).
  template <typename Body, typename... Outs>
  static HRESULT Guarded(Body&& body, Outs*... outs) noexcept {
    if (((outs == nullptr) || ...)) return E_POINTER;
    return ComBoundary(Derived::kProgId, FaultRules(), body, outs...);
  }

  // Guarded under the object's own lock (see above).
  template <typename Body, typename... Outs>
  HRESULT Serialised(Body&& body, Outs*... outs) noexcept {
    ExclusiveSrwGuard hold(memberLock_);
    return Guarded(body, outs...);
  }

 private:
  static constexpr ComFaultRules FaultRules() noexcept {
    if constexpr (requires { Derived::kFaultRules; }) {
      return Derived::kFaultRules;
    } else {
      return ComFaultRules{};
    }
  }

  std::atomic<ULONG> refs_{1};
  SRWLOCK memberLock_ = SRWLOCK_INIT;
};

// The creator of a class's row: a new object, asked for iid.
template <class T>
HRESULT CreateComObject(REFIID iid, void** out) noexcept {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  T* object = new (std::nothrow) T();
  if (object == nullptr) return E_OUTOFMEMORY;
  const HRESULT answer = object->QueryInterface(iid, out);
  object->Release();
  return answer;
}

}  // namespace core
