#include "installer/pellacor/ComSupport.h"

#include <cstdio>

namespace pellacor {
namespace {

constexpr std::size_t MaxMessage = 255;

std::string SystemText(HRESULT hr) {
  char text[MaxMessage + 1] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(hr),
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  return std::string(text, length < sizeof text ? length : 0);
}

}  // namespace

ComException::ComException(const char* message, HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "%lX", static_cast<unsigned long>(hr));
  text_ = std::string(message).substr(0, MaxMessage) + "\n" + code + " - " + SystemText(hr);
}

ComApartment::ComApartment() {
  const HRESULT hr = CoInitialize(nullptr);
  if (hr == RPC_E_CHANGED_MODE) return;  // the host's multithreaded apartment
  if (FAILED(hr)) throw ComException("Could not initialize COM", hr);
  paired_ = true;
}

ComApartment::~ComApartment() {
  if (paired_) CoUninitialize();
}

SmartComObject::SmartComObject(const CLSID& clsid) {
  const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                      reinterpret_cast<void**>(object_.put()));
  if (FAILED(hr) || !object_) throw ComException("CSmartComObject could not create COM Instance.", hr);
}

}  // namespace pellacor
