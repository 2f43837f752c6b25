#include "sender/com/Mailer.h"

#include <new>

#include "core/platform/Handles.h"
#include "core/platform/TextConversion.h"
#include "sender/mail/MailComposer.h"
#include "sender/mail/MailDelivery.h"

namespace sender {
namespace {

HRESULT AnswerText(std::string_view text, BSTR* value) {
  core::UniqueBstr bstr = core::AnsiToBstr(text);
  if (!bstr) throw std::bad_alloc();
  *value = bstr.release();
  return S_OK;
}

bool AnsiLeadByte(unsigned char byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

}  // namespace

HRESULT Mailer::GetText(std::string MailDraft::*field, BSTR* value) {
  return Guarded(
      [&] {
        core::ExclusiveSrwGuard hold(lock_);
        return AnswerText(draft_.*field, value);
      },
      value);
}

HRESULT Mailer::PutText(std::string MailDraft::*field, BSTR value) {
  return Guarded([&] {
    std::string text = core::BstrToAnsi(value);
    core::ExclusiveSrwGuard hold(lock_);
    draft_.*field = std::move(text);
    return S_OK;
  });
}

HRESULT Mailer::Add(AddressKind kind, BSTR email, BSTR name) {
  return Guarded([&] {
    const std::string address = core::BstrToAnsi(email), display = core::BstrToAnsi(name);
    core::ExclusiveSrwGuard hold(lock_);
    sender::AddAddress(draft_, kind, address, display);
    return S_OK;
  });
}

HRESULT Mailer::AddPart(BSTR fileName, BSTR contentId) {
  return Guarded([&] {
    MailPart part{core::BstrToAnsi(fileName), core::BstrToAnsi(contentId), std::wstring(core::BstrText(fileName))};
    core::ExclusiveSrwGuard hold(lock_);
    draft_.parts.push_back(std::move(part));
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE Mailer::get_RemoteHost(BSTR* value) { return GetText(&MailDraft::remoteHost, value); }
HRESULT STDMETHODCALLTYPE Mailer::put_RemoteHost(BSTR value) { return PutText(&MailDraft::remoteHost, value); }
HRESULT STDMETHODCALLTYPE Mailer::get_FromAddress(BSTR* value) { return GetText(&MailDraft::fromAddress, value); }
HRESULT STDMETHODCALLTYPE Mailer::put_FromAddress(BSTR value) { return PutText(&MailDraft::fromAddress, value); }
HRESULT STDMETHODCALLTYPE Mailer::get_FromName(BSTR* value) { return GetText(&MailDraft::fromName, value); }
HRESULT STDMETHODCALLTYPE Mailer::put_FromName(BSTR value) { return PutText(&MailDraft::fromName, value); }
HRESULT STDMETHODCALLTYPE Mailer::get_BodyText(BSTR* value) { return GetText(&MailDraft::bodyText, value); }
HRESULT STDMETHODCALLTYPE Mailer::put_BodyText(BSTR value) { return PutText(&MailDraft::bodyText, value); }
HRESULT STDMETHODCALLTYPE Mailer::get_Subject(BSTR* value) { return GetText(&MailDraft::subject, value); }
HRESULT STDMETHODCALLTYPE Mailer::put_Subject(BSTR value) { return PutText(&MailDraft::subject, value); }
HRESULT STDMETHODCALLTYPE Mailer::get_Recipients(BSTR* value) { return GetText(&MailDraft::recipients, value); }
HRESULT STDMETHODCALLTYPE Mailer::put_Recipients(BSTR value) { return PutText(&MailDraft::recipients, value); }
HRESULT STDMETHODCALLTYPE Mailer::get_MailFrom(BSTR* value) { return GetText(&MailDraft::mailFrom, value); }
HRESULT STDMETHODCALLTYPE Mailer::put_MailFrom(BSTR value) { return PutText(&MailDraft::mailFrom, value); }
HRESULT STDMETHODCALLTYPE Mailer::get_ContentTransferEncoding(BSTR* value) {
  return GetText(&MailDraft::contentTransferEncoding, value);
}
HRESULT STDMETHODCALLTYPE Mailer::put_ContentTransferEncoding(BSTR value) {
  return PutText(&MailDraft::contentTransferEncoding, value);
}
HRESULT STDMETHODCALLTYPE Mailer::get_Charset(BSTR* value) { return GetText(&MailDraft::charset, value); }
HRESULT STDMETHODCALLTYPE Mailer::put_Charset(BSTR value) { return PutText(&MailDraft::charset, value); }
HRESULT STDMETHODCALLTYPE Mailer::get_Helo(BSTR* value) { return GetText(&MailDraft::helo, value); }
HRESULT STDMETHODCALLTYPE Mailer::put_Helo(BSTR value) { return PutText(&MailDraft::helo, value); }

HRESULT STDMETHODCALLTYPE Mailer::get_IsHTML(VARIANT_BOOL* value) {
  return Guarded(
      [&] {
        core::ExclusiveSrwGuard hold(lock_);
        *value = draft_.isHtml ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
      },
      value);
}

HRESULT STDMETHODCALLTYPE Mailer::put_IsHTML(VARIANT_BOOL value) {
  return Guarded([&] {
    core::ExclusiveSrwGuard hold(lock_);
    draft_.isHtml = value != VARIANT_FALSE;
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE Mailer::get_Result(LONG* value) {
  return Guarded(
      [&] {
        core::ExclusiveSrwGuard hold(lock_);
        *value = result_;
        return S_OK;
      },
      value);
}

HRESULT STDMETHODCALLTYPE Mailer::get_Response(BSTR* value) {
  return Guarded(
      [&] {
        core::ExclusiveSrwGuard hold(lock_);
        return AnswerText(response_, value);
      },
      value);
}

HRESULT STDMETHODCALLTYPE Mailer::Reset() {
  return Guarded([&] {
    core::ExclusiveSrwGuard hold(lock_);
    draft_ = MailDraft{};
    result_ = 0;
    response_.clear();
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE Mailer::AddRecipient(BSTR email, BSTR name) { return Add(AddressKind::To, email, name); }
HRESULT STDMETHODCALLTYPE Mailer::AddAddress(BSTR email, BSTR name) { return Add(AddressKind::To, email, name); }
HRESULT STDMETHODCALLTYPE Mailer::AddCc(BSTR email, BSTR name) { return Add(AddressKind::Cc, email, name); }
HRESULT STDMETHODCALLTYPE Mailer::AddBcc(BSTR email, BSTR name) { return Add(AddressKind::Bcc, email, name); }
HRESULT STDMETHODCALLTYPE Mailer::AddReplyTo(BSTR email, BSTR name) { return Add(AddressKind::ReplyTo, email, name); }
HRESULT STDMETHODCALLTYPE Mailer::AddAttachment(BSTR attachment) { return AddPart(attachment, nullptr); }
HRESULT STDMETHODCALLTYPE Mailer::AddEmbeddedImage(BSTR fileName, BSTR cid) { return AddPart(fileName, cid); }

HRESULT STDMETHODCALLTYPE Mailer::AddCustomHeader(BSTR headerValue) {
  return Guarded([&] {
    const std::string header = core::BstrToAnsi(headerValue);
    core::ExclusiveSrwGuard hold(lock_);
    sender::AddCustomHeader(draft_, header);
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE Mailer::SendMail(VARIANT_BOOL* result) {
  return Guarded(
      [&] {
        MailDraft draft;
        {
          core::ExclusiveSrwGuard hold(lock_);
          response_.clear();
          result_ = -1;
          draft = draft_;
        }
        FilePartReader reader(draft.parts);
        const MailOutcome outcome = DeliverMail(draft, reader);
        {
          core::ExclusiveSrwGuard hold(lock_);
          result_ = outcome.result;
          response_ = outcome.response;
        }
        *result = outcome.result >= 0 ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
      },
      result);
}

HRESULT STDMETHODCALLTYPE Mailer::EncodeHeader(BSTR header, BSTR* result) {
  return Guarded(
      [&] {
        std::string charset;
        {
          core::ExclusiveSrwGuard hold(lock_);
          charset = draft_.charset;
        }
        const bool utf8 = NamesUtf8(charset);
        const std::string text = core::WideToAnsi(core::BstrText(header), utf8 ? CP_UTF8 : CP_ACP);
        return AnswerText(sender::EncodeHeader(text, charset, utf8 ? nullptr : &AnsiLeadByte), result);
      },
      result);
}

HRESULT STDMETHODCALLTYPE Mailer::AppendBodyFromFile(BSTR fileName) {
  return Guarded([&] {
    std::string bytes;
    const std::wstring file(core::BstrText(fileName));
    switch (ReadWholeFile(file, bytes)) {
      case FileReadResult::NotOpened:
        return S_OK;
      case FileReadResult::Failed: {
        core::SetComError(kProgId, L"The file could not be read.", IID_IMailer);
        return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
      }
      case FileReadResult::Read:
        break;
    }
    core::ExclusiveSrwGuard hold(lock_);
    draft_.bodyText += bytes;
    return S_OK;
  });
}

}  // namespace sender
