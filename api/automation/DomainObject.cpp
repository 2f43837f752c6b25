// DomainObject: one domain record and the accounts of its domain.
#include <array>
#include <new>
#include <string_view>

#include "api/ExportSupport.h"
#include "api/Session.h"
#include "api/automation/ObjectSupport.h"
#include "api/automation/ObjectText.h"
#include "api/automation/Objects.h"
#include "core/platform/TextConversion.h"
#include "core/util/NameText.h"

namespace api::automation {
namespace {

constexpr std::int32_t RecordSize = API_DOMAIN_RECORD_SIZE;
constexpr std::int32_t AdministratorAliasId = 4;
constexpr std::string_view AdministratorAliases = "postmaster;admin;administrator;supervisor;hostmaster;webmaster";

// The domain's IP binding text, however long "bind.dat" made it.
std::string BindingOf(std::int32_t index) {
  for (std::int32_t size = 256; size <= 65536; size *= 2) {
    std::string buffer(static_cast<std::size_t>(size), '\0');
    const std::int32_t length = GetDomainIP(index, buffer.data(), size);
    if (length >= 0) return buffer.substr(0, static_cast<std::size_t>(length));
    if (length != API_BAD_ARGUMENT || index < 0 || index >= GetDomainCount()) break;
  }
  return {};
}

}  // namespace

DomainObject::DomainObject() { Reset(); }

void DomainObject::Reset() {
  record_.fill(0);
  SetDomainDefaults(record_.data(), RecordSize, 0);
  name_.clear();
  isNew_ = true;
  ipAddress_.clear();
  index_ = -1;
}

HRESULT STDMETHODCALLTYPE DomainObject::get_LastErr(LONG* Result) {
  return Serialised(
      [&] {
        *Result = LastErrAnswer(lastErr_);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE DomainObject::get_Name(BSTR* Result) {
  return Serialised(
      [&] {
        *Result = TextAnswer(name_);
        lastErr_ = 0;
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE DomainObject::put_Name(BSTR Value) {
  return Serialised([&] {
    name_ = TextArgument(Value);
    lastErr_ = 0;
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE DomainObject::get_IPAddress(BSTR* Result) {
  return Serialised(
      [&] {
        *Result = TextAnswer(ipAddress_);
        lastErr_ = 0;
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE DomainObject::put_IPAddress(BSTR Value) {
  return Serialised([&] {
    // Kept as given; Save writes it as one line.
    ipAddress_ = TextArgument(Value, true);
    lastErr_ = 0;
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE DomainObject::Open(BSTR Domain, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        const std::string domain = TextArgument(Domain);
        ReloadIfSettingsChanged();
        Reset();
        name_ = domain;
        isNew_ = false;
        index_ = ::GetDomainIndex(domain.c_str());
        lastErr_ = LoadDomain(index_, record_.data(), RecordSize);
        ipAddress_ = BindingOf(index_);
        *Result = BoolAnswer(lastErr_ >= 0);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE DomainObject::Save(VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        if (isNew_) {
          ReloadIfSettingsChanged();
          lastErr_ = AddDomain(name_.c_str(), record_.data(), RecordSize);
          // The strict find: a miss is -1, never another domain's index.
          if (lastErr_ >= 0) index_ = ::GetDomainIndex(name_.c_str());
          isNew_ = false;
        } else if (index_ < 0) {
          // Nothing stored to save over, and no domain 0 to overwrite.
          lastErr_ = API_BAD_ARGUMENT;
          *Result = VARIANT_FALSE;
          return S_OK;
        } else {
          lastErr_ = SaveDomain(index_, record_.data(), RecordSize);
        }
        if (lastErr_ >= 0) WriteDomainBinding(index_, ipAddress_);
        *Result = BoolAnswer(lastErr_ >= 0);
        SaveConfig();
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE DomainObject::New(BSTR Domain, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        const std::string domain = TextArgument(Domain);
        Reset();
        lastErr_ = 0;
        name_ = domain;
        SetDomainSetting(record_.data(), RecordSize, AdministratorAliasId, AdministratorAliases.data(),
                         static_cast<std::int32_t>(AdministratorAliases.size()));
        *Result = VARIANT_TRUE;
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE DomainObject::GetAccountCount(LONG* Result) {
  return Serialised(
      [&] {
        lastErr_ = GetUserCount(name_.c_str());
        *Result = lastErr_;
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE DomainObject::GetAccountList(BSTR* Result) {
  return Serialised(
      [&] {
        *Result = TextAnswer(AccountListAnswer(name_, lastErr_));
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE DomainObject::GetAccount(LONG Index, BSTR* Result) {
  return Serialised(
      [&] {
        std::array<std::uint8_t, API_ACCOUNT_RECORD_SIZE> account{};
        lastErr_ = LoadUser(name_.c_str(), Index, account.data(), API_ACCOUNT_RECORD_SIZE);
        std::string alias;
        if (lastErr_ >= 0) {
          char aliases[256] = {};
          const std::int32_t length = GetUserSetting(account.data(), API_ACCOUNT_RECORD_SIZE, 3, aliases, 255);
          if (length > 0) alias = core::FirstListItem(std::string_view(aliases, static_cast<std::size_t>(length)));
        }
        *Result = TextAnswer(alias);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE DomainObject::DeleteAccount(BSTR Email, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        const AccountAddress address = SplitAccountAddress(TextArgument(Email), name_);
        const char* domain = address.domain.c_str();
        lastErr_ = DeleteUser(domain, GetUserIndex(domain, address.alias.c_str()));
        *Result = BoolAnswer(lastErr_ >= 0);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE DomainObject::Delete(VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        lastErr_ = DeleteDomain(index_);
        *Result = BoolAnswer(lastErr_ >= 0);
        Reset();
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE DomainObject::GetProperty(VARIANT Command, VARIANT* Result) {
  return Serialised(
      [&] {
        GetPropertyInto({core::SettingFamily::Domain, record_.data(), RecordSize}, Command, Result, lastErr_);
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE DomainObject::SetProperty(VARIANT Command, VARIANT Value, VARIANT_BOOL* Result) {
  return Serialised(
      [&] {
        SetPropertyFrom({core::SettingFamily::Domain, record_.data(), RecordSize}, Command, Value, Result, lastErr_);
        return S_OK;
      },
      Result);
}

// The child account of "alias@domain", the domain being this one's when the
// address names none.
HRESULT DomainObject::AccountChild(bool open, BSTR Email, VARIANT* Result) {
  const AccountAddress address = SplitAccountAddress(TextArgument(Email), name_);
  core::UniqueBstr full = core::AnsiToBstr(address.alias + "@" + address.domain);
  if (!full) throw std::bad_alloc();
  return MakeChild<AccountObject, IAccountObject>(IID_IAccountObject, open, full.get(), Result, lastErr_);
}

HRESULT STDMETHODCALLTYPE DomainObject::OpenAccount(BSTR Email, VARIANT* Result) {
  return Serialised([&] { return AccountChild(true, Email, Result); }, Result);
}

HRESULT STDMETHODCALLTYPE DomainObject::NewAccount(BSTR Email, VARIANT* Result) {
  return Serialised([&] { return AccountChild(false, Email, Result); }, Result);
}

HRESULT STDMETHODCALLTYPE DomainObject::GetAccountIndexByAlias(BSTR Email, LONG* Result) {
  return Serialised(
      [&] {
        const AccountAddress address = SplitAccountAddress(TextArgument(Email), name_);
        lastErr_ = GetUserIndex(address.domain.c_str(), address.alias.c_str());
        *Result = lastErr_;
        return S_OK;
      },
      Result);
}

HRESULT STDMETHODCALLTYPE DomainObject::get_Data(LONG* Result) {
  return Serialised(
      [&] {
        *Result = RecordAddress(record_.data());
        return S_OK;
      },
      Result);
}

}  // namespace api::automation
