// AccountObject: one account record, authentication and the walk over a
// domain's accounts.
#include <algorithm>
#include <array>
#include <string_view>

#include "api/ExportSupport.h"
#include "api/automation/ObjectSupport.h"
#include "api/automation/ObjectText.h"
#include "api/automation/Objects.h"
#include "core/db/DbInterface.h"
#include "core/util/LittleEndian.h"
#include "core/util/NameText.h"

namespace api::automation {
namespace {

constexpr std::int32_t RecordSize = API_ACCOUNT_RECORD_SIZE;
constexpr std::int32_t AliasListId = 3;
constexpr std::int32_t AliasListLength = 255;

std::string FirstAlias(const std::uint8_t* record) {
  char aliases[AliasListLength + 1] = {};
  const std::int32_t length = GetUserSetting(record, RecordSize, AliasListId, aliases, AliasListLength);
  return length > 0 ? core::FirstListItem(std::string_view(aliases, static_cast<std::size_t>(length))) : std::string();
}

// The walk block's position and domain of the record just delivered.
std::int32_t WalkPosition(const void* walk) {
  return static_cast<std::int32_t>(
      core::LoadLE<std::uint32_t>(static_cast<const std::uint8_t*>(walk) + core::DbEnumPositionOffset));
}
std::string WalkDomain(const void* walk) {
  const auto* text = static_cast<const std::uint8_t*>(walk) + core::DbEnumDomainOffset;
  return std::string(reinterpret_cast<const char*>(text + 1), std::min<std::size_t>(text[0], 95));
}

}  // namespace

AccountObject::AccountObject() { Reset(); }

AccountObject::~AccountObject() { EndWalk(); }

void AccountObject::EndWalk() {
  if (walk_ != nullptr) APIDoneUsers(walk_);
  walk_ = nullptr;
}

void AccountObject::Reset() {
  EndWalk();
  record_.fill(0);
  SetUserDefaults(record_.data(), RecordSize, 0);
  isNew_ = true;
  domain_.clear();
  index_ = -1;
}

void AccountObject::FindOwnIndex() {
  index_ = GetUserIndex(domain_.c_str(), FirstAlias(record_.data()).c_str());
  isNew_ = false;
}

HRESULT STDMETHODCALLTYPE AccountObject::get_LastErr(LONG* Result) {
  return Serialised(
      [&] {
        *Result = LastErrAnswer(lastErr_);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE AccountObject::get_Domain(BSTR* Result) {
  return Serialised(
      [&] {
        *Result = TextAnswer(domain_);
        lastErr_ = 0;
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE AccountObject::New(BSTR Email, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        const std::string email = TextArgument(Email);
        Reset();
        lastErr_ = 0;
        const AccountAddress address = SplitAccountAddress(email, DomainNameAt(0));
        domain_ = address.domain;
        // The setting cuts the list to 255 characters.
        SetUserSetting(record_.data(), RecordSize, AliasListId, address.alias.data(),
                       static_cast<std::int32_t>(address.alias.size()));
        *Result = VARIANT_TRUE;
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE AccountObject::Open(BSTR Email, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        const std::string email = TextArgument(Email);
        Reset();
        const AccountAddress address = SplitAccountAddress(email, DomainNameAt(0));
        domain_ = address.domain;
        index_ = GetUserIndex(domain_.c_str(), address.alias.c_str());
        lastErr_ = LoadUser(domain_.c_str(), index_, record_.data(), RecordSize);
        isNew_ = false;
        *Result = BoolAnswer(lastErr_ >= 0);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE AccountObject::Save(VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        if (domain_.empty()) domain_ = DomainNameAt(0);
        // A first save that failed left no record to save over: add again.
        if (isNew_ || index_ < 0) {
          lastErr_ = AddUser(domain_.c_str(), record_.data(), RecordSize);
          if (lastErr_ >= 0) {
            FindOwnIndex();
          } else {
            isNew_ = false;
          }
        } else {
          lastErr_ = SaveUser(domain_.c_str(), index_, record_.data(), RecordSize);
        }
        *Result = BoolAnswer(lastErr_ >= 0);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE AccountObject::Delete(VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        lastErr_ = DeleteUser(domain_.c_str(), index_);
        *Result = BoolAnswer(lastErr_ >= 0);
        Reset();
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE AccountObject::SetProperty(VARIANT Command, VARIANT Value, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        SetPropertyFrom({core::SettingFamily::Account, record_.data(), RecordSize}, Command, Value, Result, lastErr_);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE AccountObject::GetProperty(VARIANT Command, VARIANT* Result) {
  return Serialised(
      [&] {
        GetPropertyInto({core::SettingFamily::Account, record_.data(), RecordSize}, Command, Result, lastErr_);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE AccountObject::AuthenticateUser(BSTR Username, BSTR Password, BSTR IP, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        const std::string user = TextArgument(Username);
        std::string password = TextArgument(Password);
        const std::string ip = TextArgument(IP);
        std::int32_t domainIndex = -1;
        lastErr_ =
            ::AuthenticateUser(user.c_str(), password.c_str(), ip.c_str(), &domainIndex, record_.data(), RecordSize);
        SecureZeroMemory(password.data(), password.size());
        if (lastErr_ >= 0) {
          domain_ = DomainNameAt(domainIndex);
          // The object now holds that stored account, as after Open: a Save
          // must write it back, not add it again or overwrite another.
          FindOwnIndex();
        }
        *Result = BoolAnswer(lastErr_ >= 0);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE AccountObject::FindInit(BSTR Domain, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        const std::string domain = TextArgument(Domain);
        Reset();  // ends an open walk first
        const bool open = APIInitUsers(&walk_, domain.c_str()) != 0;
        if (!open) walk_ = nullptr;
        lastErr_ = open ? -1 : 0;  // the answer as an automation boolean
        *Result = BoolAnswer(open);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE AccountObject::FindNext(VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        const bool placed = walk_ != nullptr && APINextUser(walk_, record_.data(), RecordSize) != 0;
        if (placed) {
          index_ = WalkPosition(walk_);
          domain_ = WalkDomain(walk_);
          isNew_ = false;
        }
        lastErr_ = placed ? -1 : 0;
        *Result = BoolAnswer(placed);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE AccountObject::FindDone() {
  return Serialised([&] {
    EndWalk();
    lastErr_ = 0;
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE AccountObject::CanCreateMailbox(BSTR Alias, BSTR Mailbox, BSTR Password, BSTR Domain,
                                                          VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        const std::string alias = TextArgument(Alias);
        const std::string mailbox = TextArgument(Mailbox);
        std::string password = TextArgument(Password);
        std::string domain = TextArgument(Domain);
        if (domain.empty()) domain = domain_;
        lastErr_ = 0;
        *Result = BoolAnswer(MailboxFreeIn(domain, mailbox, password, alias) == 1);
        SecureZeroMemory(password.data(), password.size());
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE AccountObject::get_Data(LONG* Result) {
  return Serialised(
      [&] {
        *Result = RecordAddress(record_.data());
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE AccountObject::MailboxConvertMessages(BSTR MailboxPath, VARIANT_BOOL FromIMAP,
                                                                VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        *Result = BoolAnswer(::MailboxConvertMessages(TextArgument(MailboxPath).c_str(), FromIMAP != 0 ? 1 : 0) != 0);
        return S_OK;
      },
      Result);
}

}  // namespace api::automation
