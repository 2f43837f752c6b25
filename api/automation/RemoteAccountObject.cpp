// RemoteAccountObject: one remote-account record.
#include "api/automation/ObjectSupport.h"
#include "api/automation/ObjectText.h"
#include "api/automation/Objects.h"

namespace api::automation {
namespace {

constexpr std::int32_t RecordSize = API_REMOTE_ACCOUNT_RECORD_SIZE;
constexpr std::int32_t DomainId = 235;  // text of at most 63 characters

}  // namespace

void RemoteAccountObject::Reset() {
  record_.fill(0);
  isNew_ = true;
  index_ = -1;
}

HRESULT STDMETHODCALLTYPE RemoteAccountObject::get_LastErr(LONG* Result) {
  return Serialised(
      [&] {
        *Result = LastErrAnswer(lastErr_);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE RemoteAccountObject::get_Data(LONG* Result) {
  return Serialised(
      [&] {
        *Result = RecordAddress(record_.data());
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE RemoteAccountObject::New(VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        Reset();
        lastErr_ = 0;
        *Result = VARIANT_TRUE;
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE RemoteAccountObject::Open(LONG Index, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        lastErr_ = LoadRA(Index, record_.data(), RecordSize);
        index_ = Index;
        isNew_ = false;
        *Result = BoolAnswer(lastErr_ >= 0);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE RemoteAccountObject::Save(VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        char domain[64] = {};
        if (GetRASetting(record_.data(), RecordSize, DomainId, domain, sizeof domain) == 0) {
          const std::string first = DomainNameAt(0);
          SetRASetting(record_.data(), RecordSize, DomainId, first.data(), static_cast<std::int32_t>(first.size()));
        }
        // A first save that failed left no record to save over: add again.
        if (isNew_ || index_ < 0) {
          lastErr_ = AddRA(record_.data(), RecordSize);
          if (lastErr_ >= 0) index_ = GetRACount() - 1;
          isNew_ = false;
        } else {
          lastErr_ = SaveRA(index_, record_.data(), RecordSize);
        }
        *Result = BoolAnswer(lastErr_ >= 0);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE RemoteAccountObject::Delete(VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        lastErr_ = DeleteRA(index_);
        *Result = BoolAnswer(lastErr_ >= 0);
        Reset();
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE RemoteAccountObject::SetProperty(VARIANT Command, VARIANT Value, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        SetPropertyFrom({core::SettingFamily::RemoteAccount, record_.data(), RecordSize}, Command, Value, Result,
                        lastErr_);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE RemoteAccountObject::GetProperty(VARIANT Command, VARIANT* Result) {
  return Serialised(
      [&] {
        GetPropertyInto({core::SettingFamily::RemoteAccount, record_.data(), RecordSize}, Command, Result, lastErr_);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE RemoteAccountObject::DeleteIndex(LONG Index, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        lastErr_ = DeleteRA(Index);
        *Result = BoolAnswer(lastErr_ >= 0);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE RemoteAccountObject::Count(LONG* Result) {
  return Serialised(
      [&] {
        *Result = GetRACount();
        return S_OK;
      },
      Result);
}

}  // namespace api::automation
