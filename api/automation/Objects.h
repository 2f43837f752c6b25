#pragma once
// The four automation classes of the administration library. Each object
// keeps one record (or none, for APIObject) and its LastErr, and each method
// calls the exports (never holding the library's state across one), keeps
// the export's answer as LastErr and answers whether it succeeded.
//
// Every member runs in Serialised (core/com/DispatchObject.h): the object's
// own lock, taken before any other, since the classes are registered "Free"
// and two threads of a client may reach one object; then the safecall
// boundary, whose failures answer E_FAIL (or the conversion's own HRESULT)
// with error information naming the class and its interface.
#include <array>
#include <cstdint>
#include <string>

#include "api/automation/Interfaces.h"
#include "core/com/DispatchObject.h"
#include "core/platform/Handles.h"
#include "include/Api.h"

namespace api::automation {

class ApiObject final : public core::DispatchObject<ApiObject, IAPIObject, IID_IAPIObject> {
 public:
  static constexpr const wchar_t* kProgId = L"TolumCOM.APIObject";
  static constexpr core::ComFaultRules kFaultRules{E_FAIL, &IID_IAPIObject};

  HRESULT STDMETHODCALLTYPE Done() override;
  HRESULT STDMETHODCALLTYPE Init(BSTR Path, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE UpdateConfiguration() override;
  HRESULT STDMETHODCALLTYPE ReloadServices() override;
  HRESULT STDMETHODCALLTYPE BackupConfig(BSTR Path, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE RestoreConfig(BSTR Path, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE SpamIndexNow(BSTR Email, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE GetDomainCount(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE Save(VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE DeleteDomain(BSTR Domain, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE RenameDomain(BSTR OldDomain, BSTR NewDomain, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE SetProperty(VARIANT Command, VARIANT Value, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE get_LastErr(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE GetDomainList(BSTR* Result) override;
  HRESULT STDMETHODCALLTYPE GetDomain(LONG Index, BSTR* Result) override;
  HRESULT STDMETHODCALLTYPE OpenDomain(BSTR Domain, VARIANT* Result) override;
  HRESULT STDMETHODCALLTYPE NewDomain(BSTR Domain, VARIANT* Result) override;
  HRESULT STDMETHODCALLTYPE GetProperty(VARIANT Command, VARIANT* Result) override;
  HRESULT STDMETHODCALLTYPE GetDomainIndex(BSTR Domain, LONG* Result) override;

 private:
  std::int32_t lastErr_ = 0;
};

class DomainObject final : public core::DispatchObject<DomainObject, IDomainObject, IID_IDomainObject> {
 public:
  static constexpr const wchar_t* kProgId = L"TolumCOM.DomainObject";
  static constexpr core::ComFaultRules kFaultRules{E_FAIL, &IID_IDomainObject};

  DomainObject();

  HRESULT STDMETHODCALLTYPE get_LastErr(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* Result) override;
  HRESULT STDMETHODCALLTYPE put_Name(BSTR Value) override;
  HRESULT STDMETHODCALLTYPE get_IPAddress(BSTR* Result) override;
  HRESULT STDMETHODCALLTYPE put_IPAddress(BSTR Value) override;
  HRESULT STDMETHODCALLTYPE Open(BSTR Domain, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE Save(VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE New(BSTR Domain, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE GetAccountCount(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE GetAccountList(BSTR* Result) override;
  HRESULT STDMETHODCALLTYPE GetAccount(LONG Index, BSTR* Result) override;
  HRESULT STDMETHODCALLTYPE DeleteAccount(BSTR Email, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE Delete(VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE GetProperty(VARIANT Command, VARIANT* Result) override;
  HRESULT STDMETHODCALLTYPE SetProperty(VARIANT Command, VARIANT Value, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE OpenAccount(BSTR Email, VARIANT* Result) override;
  HRESULT STDMETHODCALLTYPE NewAccount(BSTR Email, VARIANT* Result) override;
  HRESULT STDMETHODCALLTYPE GetAccountIndexByAlias(BSTR Email, LONG* Result) override;
  HRESULT STDMETHODCALLTYPE get_Data(LONG* Result) override;

 private:
  void Reset();
  HRESULT AccountChild(bool open, BSTR Email, VARIANT* Result);

  std::int32_t lastErr_ = 0;
  std::string name_;
  bool isNew_ = true;
  std::array<std::uint8_t, API_DOMAIN_RECORD_SIZE> record_{};
  std::int32_t index_ = -1;
  std::string ipAddress_;
};

class AccountObject final : public core::DispatchObject<AccountObject, IAccountObject, IID_IAccountObject> {
 public:
  static constexpr const wchar_t* kProgId = L"TolumCOM.AccountObject";
  static constexpr core::ComFaultRules kFaultRules{E_FAIL, &IID_IAccountObject};

  AccountObject();
  ~AccountObject();

  HRESULT STDMETHODCALLTYPE get_LastErr(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE get_Domain(BSTR* Result) override;
  HRESULT STDMETHODCALLTYPE New(BSTR Email, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE Open(BSTR Email, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE Save(VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE Delete(VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE SetProperty(VARIANT Command, VARIANT Value, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE GetProperty(VARIANT Command, VARIANT* Result) override;
  HRESULT STDMETHODCALLTYPE AuthenticateUser(BSTR Username, BSTR Password, BSTR IP, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE FindInit(BSTR Domain, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE FindNext(VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE FindDone() override;
  HRESULT STDMETHODCALLTYPE CanCreateMailbox(BSTR Alias, BSTR Mailbox, BSTR Password, BSTR Domain,
                                             VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE get_Data(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE MailboxConvertMessages(BSTR MailboxPath, VARIANT_BOOL FromIMAP,
                                                   VARIANT_BOOL* Result) override;

 private:
  void EndWalk();
  void Reset();
  // After the record came from the store: the index of its first alias.
  void FindOwnIndex();

  std::int32_t lastErr_ = 0;
  std::array<std::uint8_t, API_ACCOUNT_RECORD_SIZE> record_{};
  bool isNew_ = true;
  std::string domain_;
  std::int32_t index_ = -1;
  void* walk_ = nullptr;  // the enumeration handle of APIInitUsers
};

class RemoteAccountObject final
    : public core::DispatchObject<RemoteAccountObject, IRemoteAccountObject, IID_IRemoteAccountObject> {
 public:
  static constexpr const wchar_t* kProgId = L"TolumCOM.RemoteAccountObject";
  static constexpr core::ComFaultRules kFaultRules{E_FAIL, &IID_IRemoteAccountObject};

  HRESULT STDMETHODCALLTYPE get_LastErr(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE get_Data(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE New(VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE Open(LONG Index, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE Save(VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE Delete(VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE SetProperty(VARIANT Command, VARIANT Value, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE GetProperty(VARIANT Command, VARIANT* Result) override;
  HRESULT STDMETHODCALLTYPE DeleteIndex(LONG Index, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE Count(LONG* Result) override;

 private:
  void Reset();

  std::int32_t lastErr_ = 0;
  std::array<std::uint8_t, API_REMOTE_ACCOUNT_RECORD_SIZE> record_{};
  bool isNew_ = true;
  std::int32_t index_ = -1;
};

// OpenDomain, NewDomain, OpenAccount and NewAccount: a child made inside
// this module, never by ProgID through the registry (which could name
// another copy of the library with its own state, or none at all), asked to
// Open or New text. Its LastErr becomes lastErr; result receives its
// IDispatch, or stays empty when the child answered false. A failing HRESULT
// of the child is the answer, with the child's error information.
template <class Child, class Interface>
HRESULT MakeChild(const IID& iid, bool open, BSTR text, VARIANT* result, std::int32_t& lastErr) {
  core::UniqueComReference<Interface> child;
  HRESULT answer = core::CreateComObject<Child>(iid, reinterpret_cast<void**>(child.put()));
  if (FAILED(answer)) return answer;
  VARIANT_BOOL made = VARIANT_FALSE;
  answer = open ? child.get()->Open(text, &made) : child.get()->New(text, &made);
  if (FAILED(answer)) return answer;
  LONG childErr = 0;
  answer = child.get()->get_LastErr(&childErr);
  if (FAILED(answer)) return answer;
  lastErr = childErr;
  if (made != VARIANT_FALSE) {
    V_VT(result) = VT_DISPATCH;
    V_DISPATCH(result) = child.release();
  }
  return S_OK;
}

}  // namespace api::automation
