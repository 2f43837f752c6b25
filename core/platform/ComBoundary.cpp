#include "core/platform/ComBoundary.h"

namespace core {

void SetComError(const wchar_t* progId, const wchar_t* description, const GUID& iid) noexcept {
  ::SetErrorInfo(0, nullptr);
  ICreateErrorInfo* create = nullptr;
  if (FAILED(::CreateErrorInfo(&create)) || create == nullptr) return;
  // The texts are only read: the interface merely lacks const.
  create->SetSource(const_cast<LPOLESTR>(progId));
  create->SetDescription(const_cast<LPOLESTR>(description));
  create->SetGUID(iid);
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) && info != nullptr) {
    ::SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
}

}  // namespace core
