// The type library widl builds, as resource 1 of a DLL: it loads, names the
// interface with its one method, and the class built on the widl header
// answers through it; the DLL's string table is there too.
#include <windows.h>

#include <gtest/gtest.h>
#include <oleauto.h>

#include <string>

#include "probe.h"

namespace {

std::wstring ProbePath() {
  std::string path = std::string("Z:") + PROBE_DLL_PATH;  // Wine sees the host's root as drive Z:
  return std::wstring(path.begin(), path.end());
}

TEST(TypeLibrary, DescribesTheInterface) {
  ITypeLib* lib = nullptr;
  ASSERT_EQ(LoadTypeLibEx(ProbePath().c_str(), REGKIND_NONE, &lib), S_OK);
  ITypeInfo* info = nullptr;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IProbe, &info), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  EXPECT_EQ(attr->cFuncs, 1);
  info->ReleaseTypeAttr(attr);
  FUNCDESC* method = nullptr;
  ASSERT_EQ(info->GetFuncDesc(0, &method), S_OK);
  EXPECT_EQ(method->cParams, 2);
  BSTR name = nullptr;
  UINT count = 0;
  ASSERT_EQ(info->GetNames(method->memid, &name, 1, &count), S_OK);
  info->ReleaseFuncDesc(method);
  EXPECT_EQ(std::wstring(name), L"Twice");
  SysFreeString(name);
  info->Release();
  lib->Release();
}

TEST(TypeLibrary, ClassAndStringsOfTheDll) {
  HMODULE dll = LoadLibraryW(ProbePath().c_str());
  ASSERT_NE(dll, nullptr);
  using Create = HRESULT (*)(IProbe**);
  auto create = reinterpret_cast<Create>(reinterpret_cast<void*>(GetProcAddress(dll, "CreateProbe")));
  ASSERT_NE(create, nullptr);
  IProbe* probe = nullptr;
  ASSERT_EQ(create(&probe), S_OK);
  LONG twice = 0;
  EXPECT_EQ(probe->Twice(21, &twice), S_OK);
  EXPECT_EQ(twice, 42);
  IUnknown* unknown = nullptr;
  EXPECT_EQ(probe->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  unknown->Release();
  EXPECT_EQ(probe->Release(), 0u);
  wchar_t text[64] = {};
  EXPECT_EQ(std::wstring(text, static_cast<size_t>(LoadStringW(dll, 1, text, 64))), L"probe type library");
  FreeLibrary(dll);
}

}  // namespace
