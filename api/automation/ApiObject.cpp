// APIObject: the server-wide exports and the domain table.
#include "api/Session.h"
#include "api/automation/ObjectSupport.h"
#include "api/automation/ObjectText.h"
#include "api/automation/Objects.h"
#include "core/platform/TextConversion.h"

namespace api::automation {
namespace {

constexpr PropertyTarget Settings{};

// The answer of the exports that report by a code.
VARIANT_BOOL Coded(std::int32_t code, std::int32_t& lastErr) {
  lastErr = code;
  return BoolAnswer(code >= 0);
}

}  // namespace

HRESULT STDMETHODCALLTYPE ApiObject::Done() {
  return Serialised([&] {
    ::Done();
    lastErr_ = 0;
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE ApiObject::Init(BSTR Path, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        const std::string path = TextArgument(Path);
        *Result = Coded(::Init(NullWhenEmpty(path)), lastErr_);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE ApiObject::UpdateConfiguration() {
  return Serialised([&] {
    ::UpdateConfiguration();
    lastErr_ = 0;
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE ApiObject::ReloadServices() {
  return Serialised([&] {
    ::ReloadServices();
    lastErr_ = 0;
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE ApiObject::BackupConfig(BSTR Path, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        *Result = Coded(::BackupConfig(TextArgument(Path).c_str()), lastErr_);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE ApiObject::RestoreConfig(BSTR Path, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        *Result = Coded(::RestoreConfig(TextArgument(Path).c_str()), lastErr_);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE ApiObject::SpamIndexNow(BSTR Email, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        const std::string email = TextArgument(Email);
        *Result = Coded(::SpamIndexNow(NullWhenEmpty(email)), lastErr_);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE ApiObject::GetDomainCount(LONG* Result) {
  return Serialised(
      [&] {
        lastErr_ = ::GetDomainCount();
        *Result = lastErr_;
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE ApiObject::Save(VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        ::SaveConfig();
        // A save that was refused or failed leaves the change pending.
        lastErr_ = IsChanged() ? API_FAILED : API_OK;
        *Result = BoolAnswer(lastErr_ == API_OK);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE ApiObject::DeleteDomain(BSTR Domain, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        // A name that is not served gives -1, which the export refuses with -3.
        *Result = Coded(::DeleteDomain(::GetDomainIndex(TextArgument(Domain).c_str())), lastErr_);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE ApiObject::RenameDomain(BSTR OldDomain, BSTR NewDomain, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        const std::string from = TextArgument(OldDomain);
        const std::string to = TextArgument(NewDomain);
        *Result = Coded(::RenameDomain(from.c_str(), to.c_str()), lastErr_);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE ApiObject::SetProperty(VARIANT Command, VARIANT Value, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        SetPropertyFrom(Settings, Command, Value, Result, lastErr_);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE ApiObject::get_LastErr(LONG* Result) {
  return Serialised(
      [&] {
        *Result = LastErrAnswer(lastErr_);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE ApiObject::GetDomainList(BSTR* Result) {
  return Serialised(
      [&] {
        *Result = TextAnswer(DomainListAnswer(lastErr_));
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE ApiObject::GetDomain(LONG Index, BSTR* Result) {
  return Serialised(
      [&] {
        *Result = TextAnswer(DomainNameAt(Index));
        lastErr_ = 0;
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE ApiObject::OpenDomain(BSTR Domain, VARIANT* Result) {
  return Serialised(
      [&] { return MakeChild<DomainObject, IDomainObject>(IID_IDomainObject, true, Domain, Result, lastErr_); },
      Result);
}

HRESULT STDMETHODCALLTYPE ApiObject::NewDomain(BSTR Domain, VARIANT* Result) {
  return Serialised(
      [&] { return MakeChild<DomainObject, IDomainObject>(IID_IDomainObject, false, Domain, Result, lastErr_); },
      Result);
}

HRESULT STDMETHODCALLTYPE ApiObject::GetProperty(VARIANT Command, VARIANT* Result) {
  return Serialised(
      [&] {
        GetPropertyInto(Settings, Command, Result, lastErr_);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE ApiObject::GetDomainIndex(BSTR Domain, LONG* Result) {
  return Serialised(
      [&] {
        lastErr_ = ::GetDomainIndex(TextArgument(Domain).c_str());
        *Result = lastErr_;
        return S_OK;
      },
      Result);
}

}  // namespace api::automation
