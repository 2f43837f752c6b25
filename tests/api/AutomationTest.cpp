// The four automation classes linked in-process (made by their class-table
// creators, as the factories make them), early bound, over fresh
// installations: the edge cases of each class, the mended faults, and
// threads sharing the library and one object.
#include <windows.h>

#include <gtest/gtest.h>
#include <oleauto.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "api/ExportSupport.h"
#include "api/Session.h"
#include "api/automation/Objects.h"
#include "api/automation/PropertyValues.h"
#include "core/control/ServiceControl.h"
#include "core/platform/OwnedVariant.h"
#include "include/Api.h"
#include "tests/api/ExportSession.h"
#include "tests/support/com_text.h"
#include "tests/support/installation.h"

namespace {

using testing_support::Bstr;
using testing_support::Take;
using testing_support::Wide;

using api::automation::ApiObject;
using AccountClass = api::automation::AccountObject;
using DomainClass = api::automation::DomainObject;
using RemoteClass = api::automation::RemoteAccountObject;
using core::UniqueComReference;

class Environment : public fixture::QuietLibrary {
 public:
  void SetUp() override {
    QuietLibrary::SetUp();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  }
};
const auto* const registered = ::testing::AddGlobalTestEnvironment(new Environment);

template <class T, class I>
UniqueComReference<I> Make(const IID& iid) {
  UniqueComReference<I> object;
  EXPECT_EQ(core::CreateComObject<T>(iid, reinterpret_cast<void**>(object.put())), S_OK);
  return object;
}
auto MakeApi() { return Make<ApiObject, IAPIObject>(IID_IAPIObject); }
auto MakeDomain() { return Make<DomainClass, IDomainObject>(IID_IDomainObject); }
auto MakeAccount() { return Make<AccountClass, IAccountObject>(IID_IAccountObject); }
auto MakeRemote() { return Make<RemoteClass, IRemoteAccountObject>(IID_IRemoteAccountObject); }

// An owned VARIANT made from a number or a text.
struct Var : core::OwnedVariant {
  Var() = default;
  explicit Var(LONG n) {
    V_VT(&v) = VT_I4;
    V_I4(&v) = n;
  }
  explicit Var(const std::wstring& text) {
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text.c_str());
  }
};

template <class I>
LONG LastErr(I* object) {
  LONG err = 99;
  EXPECT_EQ(object->get_LastErr(&err), S_OK);
  return err;
}

// Calls a method answering VARIANT_BOOL through R and tells it as bool.
#define YES(call)                     \
  [&] {                               \
    VARIANT_BOOL answer = 7;          \
    VARIANT_BOOL* const R = &answer;  \
    EXPECT_EQ((call), S_OK) << #call; \
    return answer == VARIANT_TRUE;    \
  }()

class Automation : public ::testing::Test {
 protected:
  // An installation with its settings file, initialised through the object.
  void SetUp() override {
    // Each installation reads its own names file (or none).
    api::automation::ResetSettingNames();
    fixture::WriteSettings(install_.config(), fixture::SettingsFile());
    api_ = MakeApi();
    Bstr root(Wide(install_.root()));
    ASSERT_TRUE(YES(api_.get()->Init(root.value, R)));
  }
  void TearDown() override { Done(); }

  // Adds a domain through a DomainObject; answers its object.
  UniqueComReference<IDomainObject> AddDomain(const std::wstring& name) {
    auto domain = MakeDomain();
    Bstr text(name);
    EXPECT_TRUE(YES(domain.get()->New(text.value, R)));
    EXPECT_TRUE(YES(domain.get()->Save(R)));
    return domain;
  }
  void AddAccount(IDomainObject* domain, const std::wstring& email, const std::wstring& password) {
    Bstr text(email);
    Var made;
    ASSERT_EQ(domain->NewAccount(text.value, &made.v), S_OK);
    ASSERT_EQ(V_VT(&made.v), VT_DISPATCH);
    UniqueComReference<IAccountObject> account;
    ASSERT_EQ(V_DISPATCH(&made.v)->QueryInterface(IID_IAccountObject, reinterpret_cast<void**>(account.put())), S_OK);
    Var id(33L), value(password);
    EXPECT_TRUE(YES(account.get()->SetProperty(id.v, value.v, R)));
    EXPECT_TRUE(YES(account.get()->Save(R)));
  }
  std::wstring Alias(IAccountObject* account) {
    Var id(3L), value;
    EXPECT_EQ(account->GetProperty(id.v, &value.v), S_OK);
    return V_VT(&value.v) == VT_BSTR ? std::wstring(V_BSTR(&value.v), SysStringLen(V_BSTR(&value.v))) : L"?";
  }
  void Done() {
    if (api_) api_.get()->Done();
  }

  fixture::TempInstall install_{"automation"};
  UniqueComReference<IAPIObject> api_;
};

TEST_F(Automation, TheEdgeCasesOfEachClass) {
  // LastErr after a LoadDomain of 913 reads 0; a failed Open of a domain not served -3.
  auto one = AddDomain(L"one");
  AddDomain(L"two");
  auto domain = MakeDomain();
  Bstr oneName(L"one"), missing(L"missing.test");
  EXPECT_TRUE(YES(domain.get()->Open(oneName.value, R)));
  EXPECT_EQ(LastErr(domain.get()), 0);
  EXPECT_FALSE(YES(domain.get()->Open(missing.value, R)));
  EXPECT_EQ(LastErr(domain.get()), -3);

  // The domain list: one;two; and one zero character.
  BSTR list = nullptr;
  ASSERT_EQ(api_.get()->GetDomainList(&list), S_OK);
  EXPECT_EQ(Take(list), std::wstring(L"one;two;\0", 9));

  // New then Save stores the six administrator aliases unless setting 4 changed.
  EXPECT_TRUE(YES(domain.get()->Open(oneName.value, R)));
  Var adminId(4L), admin;
  EXPECT_EQ(domain.get()->GetProperty(adminId.v, &admin.v), S_OK);
  EXPECT_EQ(std::wstring(V_BSTR(&admin.v)), L"postmaster;admin;administrator;supervisor;hostmaster;webmaster");
  auto three = MakeDomain();
  Bstr threeName(L"three");
  EXPECT_TRUE(YES(three.get()->New(threeName.value, R)));
  Var chosen(L"boss");
  EXPECT_TRUE(YES(three.get()->SetProperty(adminId.v, chosen.v, R)));
  EXPECT_TRUE(YES(three.get()->Save(R)));
  Var stored;
  EXPECT_TRUE(YES(domain.get()->Open(threeName.value, R)));
  EXPECT_EQ(domain.get()->GetProperty(adminId.v, &stored.v), S_OK);
  EXPECT_EQ(std::wstring(V_BSTR(&stored.v)), L"boss");

  // An account address without "@" belongs to the first domain of the table.
  auto account = MakeAccount();
  Bstr bare(L"ann");
  EXPECT_TRUE(YES(account.get()->New(bare.value, R)));
  BSTR where = nullptr;
  ASSERT_EQ(account.get()->get_Domain(&where), S_OK);
  EXPECT_EQ(Take(where), L"one");
  EXPECT_TRUE(YES(account.get()->Save(R)));
  AddAccount(one.get(), L"bob", L"bobpass1");

  // A successful FindInit reads -1; FindNext at the end false and 0.
  auto walker = MakeAccount();
  EXPECT_TRUE(YES(walker.get()->FindInit(oneName.value, R)));
  EXPECT_EQ(LastErr(walker.get()), -1);
  std::set<std::wstring> walked;
  while (YES(walker.get()->FindNext(R)))
    walked.insert(Alias(walker.get()));
  EXPECT_EQ(LastErr(walker.get()), 0);
  EXPECT_EQ(walked, (std::set<std::wstring>{L"ann", L"bob"}));

  // RemoteAccountObject Open(2) then Save rewrites record 2; Count stays.
  auto remote = MakeRemote();
  for (const wchar_t* name : {L"r0", L"r1", L"r2"}) {
    EXPECT_TRUE(YES(remote.get()->New(R)));
    Var nameId(224L), text(name);
    EXPECT_TRUE(YES(remote.get()->SetProperty(nameId.v, text.v, R)));
    EXPECT_TRUE(YES(remote.get()->Save(R)));
  }
  EXPECT_TRUE(YES(remote.get()->Open(2, R)));
  Var nameId(224L), renamed(L"r2 again");
  EXPECT_TRUE(YES(remote.get()->SetProperty(nameId.v, renamed.v, R)));
  EXPECT_TRUE(YES(remote.get()->Save(R)));
  LONG count = 0;
  EXPECT_EQ(remote.get()->Count(&count), S_OK);
  EXPECT_EQ(count, 3);
  std::uint8_t record[API_REMOTE_ACCOUNT_RECORD_SIZE] = {};
  EXPECT_EQ(LoadRA(2, record, sizeof record), API_REMOTE_ACCOUNT_RECORD_SIZE);
  EXPECT_EQ(records::TextAt(record, records::remote::Name), "r2 again");
  char domainField[64] = {};
  EXPECT_EQ(GetRASetting(record, sizeof record, 235, domainField, 63), 3);  // the first domain
  EXPECT_STREQ(domainField, "one");

  // OpenAccount of an alias no account has: empty, and the domain reads -1.
  Bstr nobody(L"nobody");
  Var none;
  EXPECT_TRUE(YES(domain.get()->Open(oneName.value, R)));
  EXPECT_EQ(domain.get()->OpenAccount(nobody.value, &none.v), S_OK);
  EXPECT_EQ(V_VT(&none.v), VT_EMPTY);
  EXPECT_EQ(LastErr(domain.get()), -1);
}

TEST_F(Automation, InitWithAnEmptyTextTakesTheRegistryFolder) {
  fixture::TempInstall listed("listed");
  fixture::SettingsFile other;
  other.U16(fixture::settings::Id12, 4321);
  fixture::WriteSettings(listed.config(), other);
  fixture::InstallDirValue value(listed.root());
  Bstr empty(L"");
  EXPECT_TRUE(YES(api_.get()->Init(empty.value, R)));
  Var id(12L), got;
  EXPECT_EQ(api_.get()->GetProperty(id.v, &got.v), S_OK);
  ASSERT_EQ(V_VT(&got.v), VT_BSTR);  // a bare number reads as text
  EXPECT_EQ(std::wstring(V_BSTR(&got.v), SysStringLen(V_BSTR(&got.v))), std::wstring(L"\xE1\x10\0\0", 4));
}

TEST_F(Automation, DomainSavesFindTheirDomainStrictly) {
  auto first = AddDomain(L"first.test");
  std::uint8_t before[API_DOMAIN_RECORD_SIZE] = {}, after[API_DOMAIN_RECORD_SIZE] = {};
  ASSERT_EQ(LoadDomain(0, before, sizeof before), API_DOMAIN_RECORD_SIZE);

  // A refused new domain is no longer new, and has no index: its next Save
  // answers false with -3 and writes nothing (domain 0 least of all).
  auto refused = MakeDomain();
  Bstr bad(L"bad_name");
  EXPECT_TRUE(YES(refused.get()->New(bad.value, R)));
  EXPECT_FALSE(YES(refused.get()->Save(R)));
  EXPECT_EQ(LastErr(refused.get()), -1);
  Bstr fine(L"fine.test");
  EXPECT_EQ(refused.get()->put_Name(fine.value), S_OK);
  EXPECT_FALSE(YES(refused.get()->Save(R)));
  EXPECT_EQ(LastErr(refused.get()), -3);
  ASSERT_EQ(LoadDomain(0, after, sizeof after), API_DOMAIN_RECORD_SIZE);
  EXPECT_EQ(std::memcmp(before, after, sizeof before), 0);
  EXPECT_EQ(GetDomainCount(), 1);

  // The binding written by Save is one line: CR, LF and NUL become blanks.
  auto bound = MakeDomain();
  Bstr name(L"bound.test"), binding(std::wstring(L"10.0.0.1\r\n10.0.0.2\0x", 20));
  EXPECT_TRUE(YES(bound.get()->New(name.value, R)));
  EXPECT_EQ(bound.get()->put_IPAddress(binding.value), S_OK);
  EXPECT_TRUE(YES(bound.get()->Save(R)));
  LONG index = -9;
  EXPECT_EQ(api_.get()->GetDomainIndex(name.value, &index), S_OK);
  EXPECT_EQ(index, 1);
  char text[64] = {};
  EXPECT_EQ(GetDomainIP(1, text, sizeof text), 20);
  EXPECT_STREQ(text, "10.0.0.1  10.0.0.2 x");
  auto reopened = MakeDomain();
  EXPECT_TRUE(YES(reopened.get()->Open(name.value, R)));
  BSTR read = nullptr;
  ASSERT_EQ(reopened.get()->get_IPAddress(&read), S_OK);
  EXPECT_EQ(Take(read), L"10.0.0.1  10.0.0.2 x");

  // A not-served name gives DeleteDomain -3 and deletes nothing.
  Bstr missing(L"missing.test");
  EXPECT_FALSE(YES(api_.get()->DeleteDomain(missing.value, R)));
  EXPECT_EQ(LastErr(api_.get()), -3);
  EXPECT_EQ(GetDomainCount(), 2);
}

TEST_F(Automation, SettingsChangedBehindTheLibrary) {
  fixture::InstallDirValue value(install_.root());
  AddDomain(L"one.test");
  // An unsaved change survives an Open after another program rewrote the file.
  Var id(12L), changed(777L);
  EXPECT_TRUE(YES(api_.get()->SetProperty(id.v, changed.v, R)));
  fixture::SettingsFile rewritten(1);
  rewritten.U16(fixture::settings::Id12, 111);
  std::string entries = records::DomainEntries({"one.test"});
  fixture::WriteSettings(install_.config(), rewritten);
  ASSERT_TRUE(fixture::BackdateFile(install_.config() + "settings.cfg"));
  auto domain = MakeDomain();
  Bstr name(L"one.test");
  EXPECT_TRUE(YES(domain.get()->Open(name.value, R)));
  std::uint16_t got = 0;
  EXPECT_EQ(GetConfigSetting(12, &got, 2), 2);
  EXPECT_EQ(got, 777);

  // Saved, it is on disk; a rewrite then reloads at the next Open, also
  // when two threads open at once.
  EXPECT_TRUE(YES(api_.get()->Save(R)));
  EXPECT_EQ(LastErr(api_.get()), 0);
  fixture::WriteSettings(install_.config(), rewritten);
  ASSERT_TRUE(fixture::BackdateFile(install_.config() + "settings.cfg", 2002));
  std::atomic<int> opened{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
      {
        auto own = MakeDomain();
        Bstr text(L"one.test");
        VARIANT_BOOL ok = 0;
        if (own.get()->Open(text.value, &ok) == S_OK && ok == VARIANT_TRUE) ++opened;
      }
      CoUninitialize();
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(opened.load(), 2);
  EXPECT_EQ(GetConfigSetting(12, &got, 2), 2);
  EXPECT_EQ(got, 111);

  // A save the library refuses (the file unreadable at the load) answers false.
  Var again(5L);
  EXPECT_TRUE(YES(api_.get()->SetProperty(id.v, again.v, R)));
  HANDLE held =
      CreateFileA((install_.config() + "settings.cfg").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  Bstr root(Wide(install_.root()));
  EXPECT_FALSE(YES(api_.get()->Init(root.value, R)));
  EXPECT_FALSE(YES(api_.get()->Save(R)));
  EXPECT_EQ(LastErr(api_.get()), -1);
  CloseHandle(held);
  EXPECT_TRUE(YES(api_.get()->Init(root.value, R)));
}

TEST_F(Automation, AccountsKeepTheirPlace) {
  auto domain = AddDomain(L"acc.test");
  // An empty domain lists one zero character, not a failure.
  BSTR list = nullptr;
  ASSERT_EQ(domain.get()->GetAccountList(&list), S_OK);
  EXPECT_EQ(Take(list), std::wstring(1, L'\0'));
  EXPECT_EQ(LastErr(domain.get()), 0);

  AddAccount(domain.get(), L"ann", L"annpass1");
  AddAccount(domain.get(), L"bob", L"bobpass1");
  ASSERT_EQ(domain.get()->GetAccountList(&list), S_OK);
  EXPECT_EQ(Take(list), std::wstring(L"ann;bob;\0", 9));

  // An accepted login makes the object refer to that stored account: the
  // password change is saved over bob alone.
  auto account = MakeAccount();
  Bstr user(L"bob"), password(L"bobpass1"), ip(L"127.0.0.1");
  EXPECT_TRUE(YES(account.get()->AuthenticateUser(user.value, password.value, ip.value, R)));
  Var id(33L), changed(L"bobpass2");
  EXPECT_TRUE(YES(account.get()->SetProperty(id.v, changed.v, R)));
  EXPECT_TRUE(YES(account.get()->Save(R)));
  EXPECT_EQ(GetUserCount("acc.test"), 2);
  std::uint8_t record[API_ACCOUNT_RECORD_SIZE] = {};
  ASSERT_EQ(LoadUser("acc.test", 0, record, sizeof record), API_ACCOUNT_RECORD_SIZE);
  EXPECT_EQ(records::TextAt(record, records::user::Password), "annpass1");
  ASSERT_EQ(LoadUser("acc.test", 1, record, sizeof record), API_ACCOUNT_RECORD_SIZE);
  EXPECT_EQ(records::TextAt(record, records::user::Password), "bobpass2");

  // A first Save refused (alias in use) leaves no index: the next Save adds.
  auto late = MakeAccount();
  Bstr taken(L"ann@acc.test");
  EXPECT_TRUE(YES(late.get()->New(taken.value, R)));
  EXPECT_FALSE(YES(late.get()->Save(R)));
  EXPECT_EQ(LastErr(late.get()), -1);
  Var aliasId(3L), free(L"cy");
  EXPECT_TRUE(YES(late.get()->SetProperty(aliasId.v, free.v, R)));
  EXPECT_TRUE(YES(late.get()->Save(R)));
  EXPECT_EQ(GetUserCount("acc.test"), 3);
  EXPECT_TRUE(YES(late.get()->Save(R)));  // now over its own record
  EXPECT_EQ(GetUserCount("acc.test"), 3);

  // The mailbox check: bob's mailbox with bob's password is taken.
  Bstr alias(L"dee"), mailbox(L"bob"), other(L"x1234567"), here(L"");
  EXPECT_FALSE(YES(account.get()->CanCreateMailbox(alias.value, mailbox.value, changed.v.bstrVal, here.value, R)));
  EXPECT_TRUE(YES(account.get()->CanCreateMailbox(alias.value, mailbox.value, other.value, here.value, R)));

  // Data: the record itself in a 32-bit process, 0 in a 64-bit one.
  LONG data = -1;
  EXPECT_EQ(account.get()->get_Data(&data), S_OK);
  if constexpr (sizeof(void*) == 4) {
    char aliases[64] = {};
    EXPECT_EQ(GetUserSetting(reinterpret_cast<void*>(static_cast<std::uintptr_t>(data)), API_ACCOUNT_RECORD_SIZE, 3,
                             aliases, 63),
              3);
    EXPECT_STREQ(aliases, "bob");
  } else {
    EXPECT_EQ(data, 0);
  }

  // An object released mid-walk closes its walk.
  const std::size_t open = api::OpenEnumerationCount();
  {
    auto walker = MakeAccount();
    Bstr name(L"acc.test");
    EXPECT_TRUE(YES(walker.get()->FindInit(name.value, R)));
    EXPECT_TRUE(YES(walker.get()->FindNext(R)));
    EXPECT_EQ(api::OpenEnumerationCount(), open + 1);
  }
  EXPECT_EQ(api::OpenEnumerationCount(), open);
}

TEST_F(Automation, FailuresAnswerTheirHresultWithTheirDescription) {
  // The shipped names file names account setting 19 a date.
  ASSERT_TRUE(CopyFileA((std::string(std::getenv("VM_SOURCE_DIR")) + "/api/sdk/APIConst.inc").c_str(),
                        (install_.root() + "APIConst.inc").c_str(), FALSE));
  api::automation::ResetSettingNames();
  auto account = MakeAccount();
  Var name(L"Account_Date19"), date, notADate(L"not a date"), got;
  V_VT(&date.v) = VT_DATE;
  V_DATE(&date.v) = 45000.5;
  EXPECT_TRUE(YES(account.get()->SetProperty(name.v, date.v, R)));
  EXPECT_EQ(account.get()->GetProperty(name.v, &got.v), S_OK);
  EXPECT_EQ(V_VT(&got.v), VT_DATE);
  EXPECT_EQ(V_DATE(&got.v), 45000.5);

  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(account.get()->SetProperty(name.v, notADate.v, &result), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(result, VARIANT_FALSE);
  // The error information tells until the thread's next call.
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR source = nullptr, description = nullptr;
  GUID iid{};
  info->GetSource(&source);
  info->GetDescription(&description);
  info->GetGUID(&iid);
  info->Release();
  EXPECT_EQ(Take(source), L"TolumCOM.AccountObject");
  EXPECT_EQ(Take(description), L"The value is not a date.");
  EXPECT_TRUE(IsEqualGUID(iid, IID_IAccountObject));
  EXPECT_EQ(LastErr(account.get()), 0);  // as it was

  // A number too large for an integer setting: the conversion's own answer.
  Var sizeId(27L), huge;
  V_VT(&huge.v) = VT_R8;
  V_R8(&huge.v) = 1e20;
  EXPECT_EQ(account.get()->SetProperty(sizeId.v, huge.v, &result), DISP_E_OVERFLOW);

  // A text with no exact form in the code page names nothing; a null out
  // pointer is refused before anything runs.
  Bstr lone(L"\xD800");
  EXPECT_EQ(account.get()->Open(lone.value, &result), E_INVALIDARG);
  Bstr fine(L"ann");
  EXPECT_EQ(account.get()->Open(fine.value, nullptr), E_POINTER);
}

// Eight threads with objects of their own, and two on one object, for ten
// seconds: nothing torn, nothing closed twice.
TEST_F(Automation, ThreadsShareTheLibraryAndOneObject) {
  auto shared = AddDomain(L"shared.test");
  AddAccount(shared.get(), L"ann", L"annpass1");
  AddAccount(shared.get(), L"bob", L"bobpass1");
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::atomic<int> failures{0}, rounds{0}, firstLine{0};
  // Counts a failure and keeps the line of the first.
  auto fail = [&](int line) {
    int none = 0;
    firstLine.compare_exchange_strong(none, line);
    failures.fetch_add(1);
  };
  auto mta = [](auto body) {
    return [body] {
      if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return;
      body();
      CoUninitialize();
    };
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back(mta([&, t] {
      auto domain = MakeDomain();
      const std::wstring name = L"own" + std::to_wstring(t) + L".test";
      Bstr text(name);
      VARIANT_BOOL ok = 0;
      if (domain.get()->New(text.value, &ok) != S_OK || domain.get()->Save(&ok) != S_OK || ok != VARIANT_TRUE) {
        fail(__LINE__);
        return;
      }
      for (int n = 0; std::chrono::steady_clock::now() < until; ++n) {
        Bstr email(L"u" + std::to_wstring(n) + L"@" + name);
        Var made;
        if (domain.get()->NewAccount(email.value, &made.v) != S_OK || V_VT(&made.v) != VT_DISPATCH) fail(__LINE__);
        IAccountObject* account = nullptr;
        if (V_DISPATCH(&made.v)->QueryInterface(IID_IAccountObject, reinterpret_cast<void**>(&account)) != S_OK) {
          fail(__LINE__);
          continue;
        }
        if (account->Save(&ok) != S_OK || ok != VARIANT_TRUE) fail(__LINE__);
        account->Release();
        ++rounds;
      }
    }));
  }
  auto one = MakeAccount();
  for (const wchar_t* who : {L"ann@shared.test", L"bob@shared.test"}) {
    threads.emplace_back(mta([&, who] {
      Bstr email(who), domainName(L"shared.test");
      while (std::chrono::steady_clock::now() < until) {
        VARIANT_BOOL ok = 0;
        if (one.get()->Open(email.value, &ok) != S_OK || ok != VARIANT_TRUE) fail(__LINE__);
        // Whole records only: either account, or none after the other's FindInit.
        const std::wstring alias = Alias(one.get());
        if (alias != L"ann" && alias != L"bob" && !alias.empty()) fail(__LINE__);
        if (one.get()->FindInit(domainName.value, &ok) != S_OK) fail(__LINE__);
        one.get()->FindNext(&ok);
        if (one.get()->FindDone() != S_OK) fail(__LINE__);
      }
    }));
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(failures.load(), 0) << "first at line " << firstLine.load();
  EXPECT_GT(rounds.load(), 8);
  EXPECT_EQ(api::OpenEnumerationCount(), 0u);
  for (int t = 0; t < 8; ++t) {
    const std::string name = "own" + std::to_string(t) + ".test";
    EXPECT_GT(GetUserCount(name.c_str()), 0) << name;
  }
}

}  // namespace
