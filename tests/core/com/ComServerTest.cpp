// The COM server kit's registration, with this program as the server: its
// resource TYPELIB 1 is the probe library. A write failing at any step puts
// back what was there before, a foreign key included. (The keys written and
// removed are checked on the built DLLs by their regsvr32 tests.)
#include <windows.h>

#include <gtest/gtest.h>
#include <olectl.h>

#include <string>

#include "core/com/ComServer.h"
#include "probe.h"

namespace {

// {3AAAED38-A3D6-4352-8B22-5B5BBE61D064}
const CLSID kProbeClass = {0x3aaaed38, 0xa3d6, 0x4352, {0x8b, 0x22, 0x5b, 0x5b, 0xbe, 0x61, 0xd0, 0x64}};
const GUID kProbeLibrary = {0x82193095, 0x3e14, 0x41cc, {0x97, 0x52, 0xdd, 0xaf, 0x02, 0xe4, 0x40, 0x6e}};
constexpr const wchar_t* kClassKey = L"CLSID\\{3AAAED38-A3D6-4352-8B22-5B5BBE61D064}";
constexpr const wchar_t* kProgId = L"ProbeLib.Probe";
constexpr const wchar_t* kLibraryKey = L"TypeLib\\{82193095-3E14-41CC-9752-DDAF02E4406E}";
constexpr const wchar_t* kInterfaceKey = L"Interface\\{950F16CF-61FA-4061-88C9-5021BF1F1EDD}";

HRESULT CreateNothing(REFIID, void** out) {
  *out = nullptr;
  return E_NOINTERFACE;
}

core::ComClass g_rows[] = {{kProbeClass, kProgId, L"Probe Object", &CreateNothing}};
const core::ComServer g_server{kProbeLibrary, 1, 0, g_rows};

// A key and everything below it as text ("-" when missing).
std::wstring Dump(HKEY parent, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return path + L" -\n";
  std::wstring text = L"[" + path + L"]\n";
  wchar_t name[256];
  BYTE data[1024];
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = 256, dataLength = sizeof data, type = 0;
    if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) break;
    text += std::wstring(name, nameLength) + L"=" + std::to_wstring(type) + L":" +
            std::wstring(reinterpret_cast<wchar_t*>(data), dataLength / sizeof(wchar_t)) + L"\n";
  }
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = 256;
    if (RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    text += Dump(key, std::wstring(name, nameLength));
  }
  RegCloseKey(key);
  return text;
}

std::wstring Everything() {
  std::wstring text;
  for (const wchar_t* path : {kClassKey, kProgId, kLibraryKey, kInterfaceKey})
    text += Dump(HKEY_CLASSES_ROOT, path);
  return text;
}

std::wstring Text(const std::wstring& key, const wchar_t* name = nullptr) {
  wchar_t text[1024] = {};
  DWORD size = sizeof text;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
    return L"-";
  }
  return text;
}

class ComServerRegistration : public ::testing::Test {
 protected:
  void SetUp() override {
    core::NoteServerModule(GetModuleHandleW(nullptr));
    core::FailRegistryWriteForTesting(0);
    core::UnregisterServer(g_server);
  }
  void TearDown() override {
    core::FailRegistryWriteForTesting(0);
    core::UnregisterServer(g_server);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
    core::ReleaseServerTypeLibrary();
  }
};

TEST_F(ComServerRegistration, FailurePartWayPutsBackWhatWasThere) {
  // A foreign ProgID key with a value and a subkey of its own.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (std::wstring(kProgId) + L"\\Other").c_str(), 0, nullptr, 0, KEY_WRITE,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const wchar_t old[] = L"old";
  RegSetValueExW(key, L"Kept", 0, REG_SZ, reinterpret_cast<const BYTE*>(old), sizeof old);
  RegCloseKey(key);
  const std::wstring before = Everything();
  // Eight writes of the class, then the type library and its locale-0 key.
  const struct {
    int failAt;
    HRESULT answer;
  } rows[] = {{1, SELFREG_E_CLASS},
              {2, SELFREG_E_CLASS},
              {3, SELFREG_E_CLASS},
              {4, SELFREG_E_CLASS},
              {5, SELFREG_E_CLASS},
              {6, SELFREG_E_CLASS},
              {7, SELFREG_E_CLASS},
              {8, SELFREG_E_CLASS},
              {9, SELFREG_E_TYPELIB},
              {10, SELFREG_E_TYPELIB},
              {11, S_OK}};
  for (const auto& row : rows) {
    core::FailRegistryWriteForTesting(row.failAt);
    EXPECT_EQ(core::RegisterServer(g_server), row.answer) << row.failAt;
    if (row.answer != S_OK) {
      EXPECT_EQ(Everything(), before) << row.failAt;
    }
  }
  EXPECT_EQ(Text(std::wstring(kProgId) + L"\\Other", L"Kept"), L"old");
}

}  // namespace
