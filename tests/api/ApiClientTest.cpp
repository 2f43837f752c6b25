// A C++ client of the registered Api.dll on the generated header: the four
// classes made by CoCreateInstance in a multithreaded apartment and from a
// single-threaded one (there through the type-library marshaller), a failing
// call's answer on both sides, the unload rule, and children made inside a
// copy of the library that is not the registered one.
#include <windows.h>

#include <gtest/gtest.h>
#include <oleauto.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "TolumCOM.h"
#include "core/platform/Handles.h"
#include "tests/api/Fixture.h"
#include "tests/support/com_text.h"

namespace {

using core::UniqueComReference;
using testing_support::Bstr;
using testing_support::Wide;

// The interface of a child answered in a VARIANT.
template <class I>
bool Child(VARIANT& made, const IID& iid, UniqueComReference<I>& child) {
  const bool ok = V_VT(&made) == VT_DISPATCH &&
                  V_DISPATCH(&made)->QueryInterface(iid, reinterpret_cast<void**>(child.put())) == S_OK;
  VariantClear(&made);
  return ok;
}

std::wstring ErrorDescription() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return L"";
  BSTR description = nullptr;
  info->GetDescription(&description);
  info->Release();
  std::wstring text = description != nullptr ? description : L"";
  SysFreeString(description);
  return text;
}

// One administration round over an installation through an APIObject; in
// an MTA also the error information of a refused text.
void Administer(IAPIObject* api, const std::string& root, bool sameApartment) {
  VARIANT_BOOL ok = 0;
  Bstr path(Wide(root)), domainName(L"client.test"), email(L"ann");
  ASSERT_EQ(api->Init(path.value, &ok), S_OK);
  ASSERT_EQ(ok, VARIANT_TRUE);
  VARIANT made;
  VariantInit(&made);
  ASSERT_EQ(api->NewDomain(domainName.value, &made), S_OK);
  UniqueComReference<IDomainObject> domain;
  ASSERT_TRUE(Child(made, IID_IDomainObject, domain));
  ASSERT_EQ(domain.get()->Save(&ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  ASSERT_EQ(domain.get()->NewAccount(email.value, &made), S_OK);
  UniqueComReference<IAccountObject> account;
  ASSERT_TRUE(Child(made, IID_IAccountObject, account));
  VARIANT id, value;
  V_VT(&id) = VT_I4;
  V_I4(&id) = 33;
  V_VT(&value) = VT_BSTR;
  V_BSTR(&value) = SysAllocString(L"annpass1");
  EXPECT_EQ(account.get()->SetProperty(id, value, &ok), S_OK);
  VariantClear(&value);
  EXPECT_EQ(account.get()->Save(&ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  BSTR list = nullptr;
  ASSERT_EQ(domain.get()->GetAccountList(&list), S_OK);
  EXPECT_EQ(std::wstring(list, SysStringLen(list)), std::wstring(L"ann;\0", 5));
  SysFreeString(list);

  UniqueComReference<IRemoteAccountObject> remote;
  ASSERT_EQ(CoCreateInstance(CLSID_RemoteAccountObject, nullptr, CLSCTX_INPROC_SERVER, IID_IRemoteAccountObject,
                             reinterpret_cast<void**>(remote.put())),
            S_OK);
  EXPECT_EQ(remote.get()->Save(&ok), S_OK);
  LONG count = 0;
  EXPECT_EQ(remote.get()->Count(&count), S_OK);
  EXPECT_EQ(count, 1);

  // A text with no form in the code page: the HRESULT on both sides; the
  // description only where no marshaller stands between (Wine's
  // type-library marshaller carries the HRESULT alone).
  Bstr lone(std::wstring(L"\xD800"));
  EXPECT_EQ(account.get()->Open(lone.value, &ok), E_INVALIDARG);
  if (sameApartment) {
    EXPECT_EQ(ErrorDescription(), L"The text has no exact form in the system code page.");
  }
  api->Done();
}

using Entry = HRESULT(STDAPICALLTYPE*)();
using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
template <typename Function>
Function Export(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// First: under Wine, making an object for a single-threaded apartment hands
// that apartment the class factory through the marshaller, and the hold on
// it outlives the apartment, so the library then never counts as unused.
TEST(ApiClient, UnloadsOnlyWhileNothingLives) {
  std::thread([] {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    {
      UniqueComReference<IClassFactory> factory;
      ASSERT_EQ(CoGetClassObject(CLSID_AccountObject, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                 reinterpret_cast<void**>(factory.put())),
                S_OK);
      const auto canUnload = Export<Entry>(GetModuleHandleA("Api.dll"), "DllCanUnloadNow");
      ASSERT_NE(canUnload, nullptr);
      EXPECT_EQ(canUnload(), S_FALSE);  // a factory held is a lock
      UniqueComReference<IAccountObject> account;
      ASSERT_EQ(factory.get()->CreateInstance(nullptr, IID_IAccountObject, reinterpret_cast<void**>(account.put())),
                S_OK);
      ASSERT_EQ(factory.get()->LockServer(TRUE), S_OK);
      factory.reset();
      EXPECT_EQ(canUnload(), S_FALSE);  // a lock and an object
      ASSERT_EQ(CoGetClassObject(CLSID_AccountObject, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                 reinterpret_cast<void**>(factory.put())),
                S_OK);
      EXPECT_EQ(factory.get()->LockServer(FALSE), S_OK);
      factory.reset();
      EXPECT_EQ(canUnload(), S_FALSE);  // the object
      // A child made by a parent counts as long as it lives.
      VARIANT made;
      VariantInit(&made);
      UniqueComReference<IDomainObject> domain;
      ASSERT_EQ(CoCreateInstance(CLSID_DomainObject, nullptr, CLSCTX_INPROC_SERVER, IID_IDomainObject,
                                 reinterpret_cast<void**>(domain.put())),
                S_OK);
      Bstr email(L"x@y");
      ASSERT_EQ(domain.get()->NewAccount(email.value, &made), S_OK);
      domain.reset();
      account.reset();
      EXPECT_EQ(canUnload(), S_FALSE);  // the child
      VariantClear(&made);
      EXPECT_EQ(canUnload(), S_OK);
    }
    CoUninitialize();
  }).join();
}

void InApartment(DWORD model, bool sameApartment, const char* tag) {
  std::thread([&] {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, model)));
    {
      fixture::TempInstall install(tag);
      fixture::WriteSettings(install.config(), fixture::SettingsFile());
      UniqueComReference<IAPIObject> api;
      ASSERT_EQ(CoCreateInstance(CLSID_APIObject, nullptr, CLSCTX_INPROC_SERVER, IID_IAPIObject,
                                 reinterpret_cast<void**>(api.put())),
                S_OK);
      Administer(api.get(), install.root(), sameApartment);
    }
    CoUninitialize();
  }).join();
}

TEST(ApiClient, EarlyBoundFromAMultithreadedApartment) { InApartment(COINIT_MULTITHREADED, true, "client-mta"); }

TEST(ApiClient, EarlyBoundFromASingleThreadedApartment) { InApartment(COINIT_APARTMENTTHREADED, false, "client-sta"); }

// A copy of the library elsewhere, loaded by path, is not the registered
// one: its parents still open and make their domains, because children are
// made inside the module that serves the parent.
TEST(ApiClient, ChildrenComeFromTheParentsOwnModule) {
  std::thread([] {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    fixture::TempInstall install("client-copy");
    fixture::WriteSettings(install.config(), fixture::SettingsFile());
    const std::string copy = install.root() + "Api.dll";
    ASSERT_TRUE(CopyFileA((std::string("Z:") + std::getenv("VM_API_DLL")).c_str(), copy.c_str(), FALSE));
    HMODULE module = LoadLibraryA(copy.c_str());
    ASSERT_NE(module, nullptr);
    {
      UniqueComReference<IClassFactory> factory;
      ASSERT_EQ(Export<GetClassObject>(module, "DllGetClassObject")(CLSID_APIObject, IID_IClassFactory,
                                                                    reinterpret_cast<void**>(factory.put())),
                S_OK);
      UniqueComReference<IAPIObject> api;
      ASSERT_EQ(factory.get()->CreateInstance(nullptr, IID_IAPIObject, reinterpret_cast<void**>(api.put())), S_OK);
      VARIANT_BOOL ok = 0;
      Bstr path(Wide(install.root())), name(L"copy.test");
      ASSERT_EQ(api.get()->Init(path.value, &ok), S_OK);
      VARIANT made;
      VariantInit(&made);
      ASSERT_EQ(api.get()->NewDomain(name.value, &made), S_OK);
      UniqueComReference<IDomainObject> domain;
      ASSERT_TRUE(Child(made, IID_IDomainObject, domain));
      ASSERT_EQ(domain.get()->Save(&ok), S_OK);
      EXPECT_EQ(ok, VARIANT_TRUE);
      ASSERT_EQ(api.get()->OpenDomain(name.value, &made), S_OK);
      UniqueComReference<IDomainObject> opened;
      EXPECT_TRUE(Child(made, IID_IDomainObject, opened));
      LONG err = 1;
      EXPECT_EQ(api.get()->get_LastErr(&err), S_OK);
      EXPECT_EQ(err, 0);
      api.get()->Done();
    }
    EXPECT_EQ(Export<Entry>(module, "DllCanUnloadNow")(), S_OK);
    FreeLibrary(module);
    CoUninitialize();
  }).join();
}

}  // namespace
