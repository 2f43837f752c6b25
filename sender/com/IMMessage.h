#pragma once
// The instant message (coclass IMMessage, interface IIMMessage): a script
// sets the fields and calls SendMessage to leave the message in the
// recipient's store (sender/im/ImStore.h); IsOnline asks the same store.
//
// Each creation loads the server's configuration (sender/config); an
// object whose load failed answers false and touches nothing. Fields keep
// the UTF-16 text as set, under a lock of the object's own (the class is
// free-threaded); SendMessage works on a copy. When the last live object
// goes, the database back end is unloaded (after any call in flight).
#include <windows.h>

#include "core/com/DispatchObject.h"
#include "sender/com/Interfaces.h"
#include "sender/im/PendingMessage.h"

namespace sender {

class IMMessage final : public core::DispatchObject<IMMessage, IIMMessage, IID_IIMMessage> {
 public:
  static constexpr const wchar_t* kProgId = L"VelmoraCOM.IMMessage";

  IMMessage() noexcept;
  ~IMMessage();

  HRESULT STDMETHODCALLTYPE get_MessageBody(BSTR* value) override { return Get(&ImFields::body, value); }
  HRESULT STDMETHODCALLTYPE put_MessageBody(BSTR value) override { return Put(&ImFields::body, value); }
  HRESULT STDMETHODCALLTYPE get_MessageFrom(BSTR* value) override { return Get(&ImFields::from, value); }
  HRESULT STDMETHODCALLTYPE put_MessageFrom(BSTR value) override { return Put(&ImFields::from, value); }
  HRESULT STDMETHODCALLTYPE get_MessageSubject(BSTR* value) override { return Get(&ImFields::subject, value); }
  HRESULT STDMETHODCALLTYPE put_MessageSubject(BSTR value) override { return Put(&ImFields::subject, value); }
  HRESULT STDMETHODCALLTYPE get_MessageTo(BSTR* value) override { return Get(&ImFields::to, value); }
  HRESULT STDMETHODCALLTYPE put_MessageTo(BSTR value) override { return Put(&ImFields::to, value); }
  HRESULT STDMETHODCALLTYPE get_MessageType(BSTR* value) override { return Get(&ImFields::type, value); }
  HRESULT STDMETHODCALLTYPE put_MessageType(BSTR value) override { return Put(&ImFields::type, value); }
  HRESULT STDMETHODCALLTYPE get_MessageTag(BSTR* value) override { return Get(&ImFields::tag, value); }
  HRESULT STDMETHODCALLTYPE put_MessageTag(BSTR value) override { return Put(&ImFields::tag, value); }
  // Empties every field and the attributes; the object stays loaded.
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE SendMessage(VARIANT_BOOL* result) override;
  HRESULT STDMETHODCALLTYPE AddAttribute(BSTR attribute, BSTR value) override;
  HRESULT STDMETHODCALLTYPE AddTag(BSTR tag) override;
  HRESULT STDMETHODCALLTYPE IsOnline(BSTR email, VARIANT_BOOL* result) override;

  // Whether the configuration load at creation succeeded.
  bool Loaded() const noexcept { return loaded_; }

 private:
  using Field = std::u16string ImFields::*;
  HRESULT Get(Field field, BSTR* value);
  HRESULT Put(Field field, BSTR value);

  mutable SRWLOCK lock_ = SRWLOCK_INIT;
  ImFields fields_;
  bool loaded_ = false;
};

}  // namespace sender
