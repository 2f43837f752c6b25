#pragma once
// The mail sender (coclass Mailer, interface IMailer): a client sets the
// server, envelope, header fields and body, adds recipients, headers and
// files, and SendMail composes one message (sender/mail/MailComposer.h) and
// delivers it over one SMTP client thread (sender/mail/MailDelivery.h).
// Texts cross through the system's ANSI code page; file names stay UTF-16.
// Result and Response tell the outcome of the last send.
#include <windows.h>

#include <cstdint>
#include <string>

#include "core/com/DispatchObject.h"
#include "sender/com/Interfaces.h"
#include "sender/mail/MailDraft.h"

namespace sender {

class Mailer final : public core::DispatchObject<Mailer, IMailer, IID_IMailer> {
 public:
  static constexpr const wchar_t* kProgId = L"VelmoraCOM.Mailer";

  HRESULT STDMETHODCALLTYPE get_RemoteHost(BSTR* value) override;
  HRESULT STDMETHODCALLTYPE put_RemoteHost(BSTR value) override;
  HRESULT STDMETHODCALLTYPE get_FromAddress(BSTR* value) override;
  HRESULT STDMETHODCALLTYPE put_FromAddress(BSTR value) override;
  HRESULT STDMETHODCALLTYPE get_FromName(BSTR* value) override;
  HRESULT STDMETHODCALLTYPE put_FromName(BSTR value) override;
  // The body as it was put: dots are stuffed when a message is composed.
  HRESULT STDMETHODCALLTYPE get_BodyText(BSTR* value) override;
  HRESULT STDMETHODCALLTYPE put_BodyText(BSTR value) override;
  HRESULT STDMETHODCALLTYPE get_Subject(BSTR* value) override;
  HRESULT STDMETHODCALLTYPE put_Subject(BSTR value) override;
  HRESULT STDMETHODCALLTYPE get_Recipients(BSTR* value) override;
  HRESULT STDMETHODCALLTYPE put_Recipients(BSTR value) override;
  HRESULT STDMETHODCALLTYPE get_MailFrom(BSTR* value) override;
  HRESULT STDMETHODCALLTYPE put_MailFrom(BSTR value) override;
  HRESULT STDMETHODCALLTYPE get_ContentTransferEncoding(BSTR* value) override;
  HRESULT STDMETHODCALLTYPE put_ContentTransferEncoding(BSTR value) override;
  HRESULT STDMETHODCALLTYPE get_Charset(BSTR* value) override;
  HRESULT STDMETHODCALLTYPE put_Charset(BSTR value) override;
  HRESULT STDMETHODCALLTYPE get_IsHTML(VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE put_IsHTML(VARIANT_BOOL value) override;
  HRESULT STDMETHODCALLTYPE get_Result(LONG* value) override;
  HRESULT STDMETHODCALLTYPE get_Response(BSTR* value) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE get_Helo(BSTR* value) override;
  HRESULT STDMETHODCALLTYPE put_Helo(BSTR value) override;
  HRESULT STDMETHODCALLTYPE AddRecipient(BSTR email, BSTR name) override;
  HRESULT STDMETHODCALLTYPE AddCc(BSTR email, BSTR name) override;
  HRESULT STDMETHODCALLTYPE AddBcc(BSTR email, BSTR name) override;
  // Composes from a copy of the fields, changing none of them, and sends;
  // true when Result is 1. Blocks until the SMTP thread has ended (up to
  // ten minutes waiting for the server's answer to the data).
  HRESULT STDMETHODCALLTYPE SendMail(VARIANT_BOOL* result) override;
  HRESULT STDMETHODCALLTYPE AddCustomHeader(BSTR headerValue) override;
  HRESULT STDMETHODCALLTYPE AddAddress(BSTR email, BSTR name) override;
  HRESULT STDMETHODCALLTYPE AddReplyTo(BSTR email, BSTR name) override;
  // Files are read only when a message is composed.
  HRESULT STDMETHODCALLTYPE AddAttachment(BSTR attachment) override;
  // With a Charset naming UTF-8 the text is encoded as UTF-8, else in the
  // ANSI code page (never splitting a double-byte character).
  HRESULT STDMETHODCALLTYPE EncodeHeader(BSTR header, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE AddEmbeddedImage(BSTR fileName, BSTR cid) override;
  // A file that cannot be opened adds nothing; one that fails while it is
  // read fails the call and adds nothing.
  HRESULT STDMETHODCALLTYPE AppendBodyFromFile(BSTR fileName) override;

 private:
  HRESULT GetText(std::string MailDraft::*field, BSTR* value);
  HRESULT PutText(std::string MailDraft::*field, BSTR value);
  HRESULT Add(AddressKind kind, BSTR email, BSTR name);
  HRESULT AddPart(BSTR fileName, BSTR contentId);

  // One client at a time uses an object, but a free-threaded object may be
  // reached from several threads: the fields are read and written under it.
  SRWLOCK lock_ = SRWLOCK_INIT;
  MailDraft draft_;
  std::int32_t result_ = 0;
  std::string response_;
};

}  // namespace sender
