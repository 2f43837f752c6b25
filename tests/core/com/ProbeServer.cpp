// The type library's test server: one COM class over the widl header.
#include <windows.h>

#include <new>

#include "probe.h"

namespace {

class Probe final : public IProbe {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IProbe)) return E_NOINTERFACE;
    *out = static_cast<IProbe*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE Twice(LONG value, LONG* result) override {
    if (result == nullptr) return E_POINTER;
    *result = value * 2;
    return S_OK;
  }

 private:
  LONG refs_ = 1;
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT CreateProbe(IProbe** out) {
  if (out == nullptr) return E_POINTER;
  *out = new (std::nothrow) Probe();
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}
