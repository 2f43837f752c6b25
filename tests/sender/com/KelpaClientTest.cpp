// A C++ client of VelmoraCOM.dll on the generated header: the library is
// registered for the run (DllRegisterServer), Kelpa is created by
// CoCreateInstance from a multithreaded and from a single-threaded
// apartment (there through the type-library marshaller), each method is
// called early bound and by DISPID, and the library may be unloaded only
// while nothing of it lives.
#include <windows.h>

#include <gtest/gtest.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "VelmoraCOM.h"
#include "tests/support/com_text.h"

namespace {

using testing_support::Bstr;

namespace fs = std::filesystem;

HMODULE g_dll = nullptr;

template <typename Function>
Function Export(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(g_dll, name)));
}
using Entry = HRESULT(STDAPICALLTYPE*)();
using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

class Registered : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::string path = std::string("Z:") + std::getenv("VM_VELMORA_DLL");
    g_dll = LoadLibraryA(path.c_str());
    ASSERT_NE(g_dll, nullptr);
    ASSERT_EQ(Export<Entry>("DllRegisterServer")(), S_OK);
  }
  void TearDown() override {
    EXPECT_EQ(Export<Entry>("DllUnregisterServer")(), S_OK);
    FreeLibrary(g_dll);
  }
};
const auto* const g_registered = ::testing::AddGlobalTestEnvironment(new Registered);

void Write(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

std::string Read(const fs::path& file) {
  std::ostringstream bytes;
  bytes << std::ifstream(file, std::ios::binary).rdbuf();
  return bytes.str();
}

std::set<std::wstring> Lines(IKelpa* kelpa, const fs::path& archive) {
  Bstr file(archive.wstring());
  BSTR list = nullptr;
  EXPECT_EQ(kelpa->ListFiles(file.value, &list), S_OK);
  std::set<std::wstring> lines;
  std::wstring text(list, SysStringLen(list));
  SysFreeString(list);
  for (std::size_t at = 0, end; (end = text.find(L"\r\n", at)) != std::wstring::npos; at = end + 2)
    lines.insert(text.substr(at, end - at));
  return lines;
}

VARIANT_BOOL Add(IKelpa* kelpa, const fs::path& archive, const std::wstring& folder, VARIANT_BOOL append,
                 const std::wstring& prefix, VARIANT_BOOL zlib, const std::wstring& skip) {
  Bstr file(archive.wstring()), source(folder), front(prefix), skipList(skip);
  VARIANT_BOOL outcome = VARIANT_TRUE;
  EXPECT_EQ(kelpa->AddFilesEx(file.value, source.value, append, front.value, zlib, skipList.value, &outcome), S_OK);
  return outcome;
}

VARIANT_BOOL Restore(IKelpa* kelpa, const fs::path& archive, const std::wstring& folder, LONG seek) {
  Bstr file(archive.wstring()), target(folder), keep(L"");
  VARIANT_BOOL outcome = VARIANT_TRUE;
  EXPECT_EQ(kelpa->RestoreFilesEx(file.value, target.value, VARIANT_TRUE, keep.value, seek, &outcome), S_OK);
  return outcome;
}

// Every method, early bound and through IDispatch, in one apartment.
void Exercise(const fs::path& work, bool direct) {
  fs::remove_all(work);
  const fs::path tree = work / "tree";
  Write(tree / "a.txt", "hello");
  Write(tree / "sub" / "b.bin", "abc");
  Write(tree / "skip.txt", "zz");
  IKelpa* kelpa = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_Kelpa, nullptr, CLSCTX_INPROC_SERVER, IID_IKelpa, reinterpret_cast<void**>(&kelpa)),
            S_OK);

  // AddFiles compresses; RestoreFiles tells its outcome through its third parameter.
  Bstr archive((work / "one.ilds").wstring()), source(tree.wstring()), target((work / "out").wstring());
  VARIANT_BOOL outcome = VARIANT_FALSE;
  EXPECT_EQ(kelpa->AddFiles(archive.value, source.value, &outcome), S_OK);
  EXPECT_EQ(outcome, VARIANT_TRUE);
  std::set<std::wstring> names;
  for (const std::wstring& line : Lines(kelpa, work / "one.ilds"))
    names.insert(line.substr(0, line.find(L';')));
  EXPECT_EQ(names, (std::set<std::wstring>{L"a.txt", L"skip.txt", L"sub\\b.bin"}));
  outcome = VARIANT_FALSE;
  EXPECT_EQ(kelpa->RestoreFiles(archive.value, target.value, &outcome), S_OK);
  EXPECT_EQ(outcome, VARIANT_TRUE);
  EXPECT_EQ(Read(work / "out" / "sub" / "b.bin"), "abc");

  // Raw, with a prefix and a skip list; appended entries take the archive's own flag.
  const fs::path two = work / "two.ilds";
  EXPECT_EQ(Add(kelpa, two, tree.wstring(), VARIANT_FALSE, L"..webmail\\config\\", VARIANT_FALSE, L"SKIP.TXT"),
            VARIANT_TRUE);
  Write(work / "more" / "c.txt", "four");
  EXPECT_EQ(Add(kelpa, two, (work / "more").wstring(), VARIANT_TRUE, L"m\\", VARIANT_TRUE, L""), VARIANT_TRUE);
  EXPECT_EQ(Lines(kelpa, two),
            (std::set<std::wstring>{L"..webmail\\config\\a.txt;5", L"..webmail\\config\\sub\\b.bin;3", L"m\\c.txt;4"}));
  EXPECT_EQ(Restore(kelpa, two, (work / "out2").wstring(), 0), VARIANT_TRUE);
  EXPECT_EQ(Read(work / "out2" / "..webmail" / "config" / "a.txt"), "hello");

  // Refused arguments touch nothing: a prefix leaving the folder, a path
  // over 255 characters, with a NUL or without an exact ANSI form, a seek
  // outside the file, an append to a missing archive.
  const fs::path refused = work / "refused.ilds";
  EXPECT_EQ(Add(kelpa, refused, tree.wstring(), VARIANT_FALSE, L"..\\", VARIANT_TRUE, L""), VARIANT_FALSE);
  EXPECT_EQ(Add(kelpa, refused, tree.wstring(), VARIANT_FALSE, L"C:\\x\\", VARIANT_TRUE, L""), VARIANT_FALSE);
  EXPECT_EQ(Add(kelpa, refused, tree.wstring(), VARIANT_TRUE, L"", VARIANT_TRUE, L""), VARIANT_FALSE);
  const std::wstring longName = (work / std::wstring(255, L'x')).wstring();
  EXPECT_EQ(Add(kelpa, longName, tree.wstring(), VARIANT_FALSE, L"", VARIANT_TRUE, L""), VARIANT_FALSE);
  EXPECT_EQ(Add(kelpa, refused.wstring() + std::wstring(1, L'\0') + L"x", tree.wstring(), VARIANT_FALSE, L"",
                VARIANT_TRUE, L""),
            VARIANT_FALSE);
  EXPECT_EQ(Add(kelpa, refused.wstring() + L"\xD800", tree.wstring(), VARIANT_FALSE, L"", VARIANT_TRUE, L""),
            VARIANT_FALSE);
  EXPECT_EQ(Restore(kelpa, two, (work / "out3").wstring(), -1), VARIANT_FALSE);
  EXPECT_EQ(Restore(kelpa, two, (work / "out3").wstring(), static_cast<LONG>(fs::file_size(two) + 1)), VARIANT_FALSE);
  EXPECT_EQ(Lines(kelpa, work / "missing.ilds"), std::set<std::wstring>{});
  std::set<std::wstring> present;
  for (const auto& entry : fs::directory_iterator(work))
    present.insert(entry.path().filename().wstring());
  EXPECT_EQ(present, (std::set<std::wstring>{L"tree", L"one.ilds", L"out", L"two.ilds", L"more", L"out2"}));

  if (direct) {
    EXPECT_EQ(kelpa->AddFiles(archive.value, source.value, nullptr), E_POINTER);
    EXPECT_EQ(kelpa->RestoreFiles(archive.value, target.value, nullptr), E_POINTER);
    EXPECT_EQ(kelpa->ListFiles(archive.value, nullptr), E_POINTER);
    EXPECT_EQ(kelpa->AddFilesEx(archive.value, source.value, 0, nullptr, 0, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(kelpa->RestoreFilesEx(archive.value, target.value, 0, nullptr, 0, nullptr), E_POINTER);
    ISupportErrorInfo* errors = nullptr;
    ASSERT_EQ(kelpa->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errors)), S_OK);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IKelpa), S_OK);
    errors->Release();
  }

  // By DISPID: AddFilesEx is 204 and RestoreFilesEx 205, against their order.
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(kelpa->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  LPOLESTR names2[] = {const_cast<LPOLESTR>(L"AddFilesEx"), const_cast<LPOLESTR>(L"RestoreFilesEx")};
  DISPID ids[2] = {};
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names2, 1, LOCALE_USER_DEFAULT, &ids[0]), S_OK);
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names2 + 1, 1, LOCALE_USER_DEFAULT, &ids[1]), S_OK);
  EXPECT_EQ(ids[0], 204);
  EXPECT_EQ(ids[1], 205);
  auto invoke = [&](DISPID id, VARIANT* arguments, UINT count, VARIANT* result) {
    DISPPARAMS params{arguments, nullptr, count, 0};
    return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, nullptr, nullptr);
  };
  VARIANT arguments[6];
  auto text = [](VARIANT& v, const std::wstring& value) {
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(value.c_str());
  };
  auto flag = [](VARIANT& v, bool value) {
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE;
  };
  text(arguments[5], (work / "three.ilds").wstring());  // last to first
  text(arguments[4], tree.wstring());
  flag(arguments[3], false);
  text(arguments[2], L"d\\");
  flag(arguments[1], false);
  text(arguments[0], L"skip.txt;a.txt");
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(invoke(204, arguments, 6, &result), S_OK);
  EXPECT_EQ(V_VT(&result), VT_BOOL);
  EXPECT_EQ(V_BOOL(&result), VARIANT_TRUE);
  EXPECT_EQ(Lines(kelpa, work / "three.ilds"), std::set<std::wstring>{L"d\\sub\\b.bin;3"});
  for (VARIANT& argument : arguments)
    VariantClear(&argument);
  text(arguments[4], (work / "three.ilds").wstring());
  text(arguments[3], (work / "out4").wstring());
  flag(arguments[2], true);
  text(arguments[1], L"");
  V_VT(&arguments[0]) = VT_I4;
  V_I4(&arguments[0]) = 0;
  EXPECT_EQ(invoke(205, arguments, 5, &result), S_OK);
  EXPECT_EQ(V_BOOL(&result), VARIANT_TRUE);
  EXPECT_EQ(Read(work / "out4" / "d" / "sub" / "b.bin"), "abc");
  for (VARIANT& argument : arguments)
    VariantClear(&argument);

  // RestoreFiles' Result as a script passes it: a reference to a VARIANT,
  // a reference to a VARIANT_BOOL, or a value (restores, tells nothing).
  VARIANT variable;
  VARIANT_BOOL plain = VARIANT_FALSE;
  for (VARTYPE form : {VARTYPE(VT_BYREF | VT_VARIANT), VARTYPE(VT_BYREF | VT_BOOL), VARTYPE(VT_BOOL)}) {
    SCOPED_TRACE(form);
    V_VT(&variable) = VT_I4;
    V_I4(&variable) = 7;
    plain = VARIANT_FALSE;
    text(arguments[2], (work / "one.ilds").wstring());
    text(arguments[1], (work / ("out5-" + std::to_string(form))).wstring());
    V_VT(&arguments[0]) = form;
    if (form == (VT_BYREF | VT_VARIANT)) V_VARIANTREF(&arguments[0]) = &variable;
    if (form == (VT_BYREF | VT_BOOL)) V_BOOLREF(&arguments[0]) = &plain;
    if (form == VT_BOOL) V_BOOL(&arguments[0]) = VARIANT_FALSE;
    EXPECT_EQ(invoke(202, arguments, 3, nullptr), S_OK);
    if (form == (VT_BYREF | VT_VARIANT)) {
      EXPECT_EQ(V_VT(&variable), VT_BOOL);
      EXPECT_EQ(V_BOOL(&variable), VARIANT_TRUE);
    }
    if (form == (VT_BYREF | VT_BOOL)) {
      EXPECT_EQ(plain, VARIANT_TRUE);
    }
    EXPECT_EQ(Read(work / ("out5-" + std::to_string(form)) / "a.txt"), "hello");
    VariantClear(&arguments[2]);
    VariantClear(&arguments[1]);
  }
  dispatch->Release();
  kelpa->Release();
  fs::remove_all(work);
}

void InApartment(DWORD model, const fs::path& work, bool direct) {
  std::thread([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, model), S_OK);
    Exercise(work, direct);
    CoUninitialize();
  }).join();
}

fs::path Work(const char* name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return fs::path(temp) / (std::string("kelpa-") + name + "-" + std::to_string(GetCurrentProcessId()));
}

TEST(KelpaServer, UnloadsOnlyWhileNothingLives) {
  auto canUnload = Export<Entry>("DllCanUnloadNow");
  auto get = Export<GetClassObject>("DllGetClassObject");
  EXPECT_EQ(canUnload(), S_OK);
  IClassFactory* factory = nullptr;
  void* none = &factory;
  // The library's own id names no class.
  EXPECT_EQ(get(LIBID_VelmoraCOM, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(none, nullptr);
  ASSERT_EQ(get(CLSID_Kelpa, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(canUnload(), S_FALSE);
  none = &factory;
  EXPECT_EQ(factory->CreateInstance(factory, IID_IUnknown, &none), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IMailer, &none), E_NOINTERFACE);
  IKelpa* kelpa = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKelpa, reinterpret_cast<void**>(&kelpa)), S_OK);
  factory->Release();
  EXPECT_EQ(canUnload(), S_FALSE);
  kelpa->Release();
  EXPECT_EQ(canUnload(), S_OK);
  ASSERT_EQ(get(CLSID_Kelpa, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  EXPECT_EQ(canUnload(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(canUnload(), S_OK);
}

TEST(KelpaServer, EarlyBoundFromAMultithreadedApartment) { InApartment(COINIT_MULTITHREADED, Work("mta"), true); }

TEST(KelpaServer, EarlyBoundFromASingleThreadedApartment) { InApartment(COINIT_APARTMENTTHREADED, Work("sta"), false); }

}  // namespace
