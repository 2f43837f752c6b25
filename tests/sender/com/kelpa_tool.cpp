// Command-line front of the data packager for the oracle tests and the
// benchmark: loads VelmoraCOM.dll by path, takes a Kelpa object from its
// class factory (no registration needed) and calls one method of IKelpa.
//   kelpa_tool DLL list ARCHIVE OUT     the listing, as UTF-8, into OUT
//   kelpa_tool DLL add ARCHIVE FOLDER
//   kelpa_tool DLL addex ARCHIVE FOLDER APPEND PREFIX ZLIB SKIPLIST
//   kelpa_tool DLL restore ARCHIVE FOLDER
//   kelpa_tool DLL restoreex ARCHIVE FOLDER OVERWRITE KEEPLIST SEEK
// Flags are 0 or 1. Prints "true" or "false" and exits 0 or 1 accordingly
// (list: 0); 2 for a wrong use or a failing call.
#include <windows.h>

#include <oleauto.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "VelmoraCOM.h"

namespace {

// outcome is read here, after the call that writes it.
int Answer(HRESULT called, const VARIANT_BOOL& outcome) {
  if (FAILED(called)) {
    std::fprintf(stderr, "call failed: 0x%08lx\n", static_cast<unsigned long>(called));
    return 2;
  }
  std::printf("%s\n", outcome != VARIANT_FALSE ? "true" : "false");
  return outcome != VARIANT_FALSE ? 0 : 1;
}

int Run(int argc, wchar_t** argv) {
  if (argc < 5) return 2;
  HMODULE dll = LoadLibraryW(argv[1]);
  if (dll == nullptr) return 2;
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
  IClassFactory* factory = nullptr;
  IKelpa* kelpa = nullptr;
  if (get == nullptr || FAILED(get(CLSID_Kelpa, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
      FAILED(factory->CreateInstance(nullptr, IID_IKelpa, reinterpret_cast<void**>(&kelpa)))) {
    return 2;
  }
  factory->Release();
  const std::wstring command = argv[2];
  auto text = [&](int index) { return SysAllocString(index < argc ? argv[index] : L""); };
  auto flag = [&](int index) -> VARIANT_BOOL {
    return index < argc && std::wcscmp(argv[index], L"1") == 0 ? VARIANT_TRUE : VARIANT_FALSE;
  };
  BSTR archive = text(3), folder = text(4), sixth = text(6), eighth = text(8);
  VARIANT_BOOL outcome = VARIANT_FALSE;
  int code = 2;
  if (command == L"list") {
    BSTR list = nullptr;
    const HRESULT called = kelpa->ListFiles(archive, &list);
    FILE* out = _wfopen(argv[4], L"wb");
    if (SUCCEEDED(called) && out != nullptr) {
      const int length = static_cast<int>(SysStringLen(list));
      std::string utf8(static_cast<std::size_t>(length) * 3 + 1, '\0');
      const int bytes =
          WideCharToMultiByte(CP_UTF8, 0, list, length, utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
      std::fwrite(utf8.data(), 1, static_cast<std::size_t>(bytes), out);
      code = 0;
    }
    if (out != nullptr) std::fclose(out);
    SysFreeString(list);
  } else if (command == L"add") {
    code = Answer(kelpa->AddFiles(archive, folder, &outcome), outcome);
  } else if (command == L"addex") {
    code = Answer(kelpa->AddFilesEx(archive, folder, flag(5), sixth, flag(7), eighth, &outcome), outcome);
  } else if (command == L"restore") {
    code = Answer(kelpa->RestoreFiles(archive, folder, &outcome), outcome);
  } else if (command == L"restoreex") {
    code = Answer(kelpa->RestoreFilesEx(archive, folder, flag(5), sixth,
                                        argc > 7 ? static_cast<LONG>(std::wcstol(argv[7], nullptr, 10)) : 0, &outcome),
                  outcome);
  }
  SysFreeString(archive);
  SysFreeString(folder);
  SysFreeString(sixth);
  SysFreeString(eighth);
  kelpa->Release();
  return code;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const int code = argv == nullptr ? 2 : Run(argc, argv);
  LocalFree(argv);
  return code;
}
