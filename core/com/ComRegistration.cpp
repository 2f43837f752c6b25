// Registration and unregistration of a COM server under HKEY_CLASSES_ROOT
// (what is written: core/com/ComServer.h). Every key a registration may
// change is copied whole before the first change, so that a failure
// part-way can put the registry back as it was.
#include <windows.h>

#include <oleauto.h>
#include <olectl.h>

#include <atomic>
#include <string>
#include <vector>

#include "core/com/ComServer.h"
#include "core/platform/Boundary.h"
#include "core/platform/Handles.h"

namespace core {
namespace {

std::atomic<int> g_failAt{0};
std::atomic<int> g_writes{0};

// False for the write the test seam chose to fail.
bool WriteAllowed() {
  const int failAt = g_failAt.load();
  return failAt == 0 || g_writes.fetch_add(1) + 1 != failAt;
}

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  ::StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring VersionText(const ComServer& server) {
  wchar_t text[24] = {};
  ::swprintf(text, 24, L"%x.%x", server.majorVersion, server.minorVersion);
  return text;
}

constexpr const wchar_t* kPlatformKey = sizeof(void*) == 8 ? L"win64" : L"win32";

// Keys are copied at most this deep; the server's keys are three levels.
constexpr int kMaxCopyDepth = 16;

struct ValueImage {
  std::wstring name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct KeyImage {
  std::wstring name;
  std::vector<ValueImage> values;
  std::vector<KeyImage> keys;
};

bool ReadKey(HKEY key, KeyImage& image, int depth) {
  if (depth > kMaxCopyDepth) return false;
  DWORD subkeys = 0, longestSubkey = 0, values = 0, longestName = 0, longestData = 0;
  if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr, &values, &longestName,
                         &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  for (DWORD index = 0; index < values; ++index) {
    ValueImage value;
    std::wstring name(longestName + 1, L'\0');
    DWORD nameLength = longestName + 1;
    value.data.resize(longestData + 1);
    DWORD dataLength = longestData + 1;
    if (::RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &value.type, value.data.data(), &dataLength) !=
        ERROR_SUCCESS) {
      return false;
    }
    value.name.assign(name.data(), nameLength);
    value.data.resize(dataLength);
    image.values.push_back(std::move(value));
  }
  for (DWORD index = 0; index < subkeys; ++index) {
    std::wstring name(longestSubkey + 1, L'\0');
    DWORD nameLength = longestSubkey + 1;
    if (::RegEnumKeyExW(key, index, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    KeyImage child;
    child.name.assign(name.data(), nameLength);
    UniqueKey opened;
    if (::RegOpenKeyExW(key, child.name.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS ||
        !ReadKey(opened.get(), child, depth + 1)) {
      return false;
    }
    image.keys.push_back(std::move(child));
  }
  return true;
}

bool WriteKey(HKEY parent, const KeyImage& image) {
  UniqueKey key;
  if (::RegCreateKeyExW(parent, image.name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  bool ok = true;
  for (const ValueImage& value : image.values) {
    ok = ::RegSetValueExW(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                          static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS &&
         ok;
  }
  for (const KeyImage& child : image.keys)
    ok = WriteKey(key.get(), child) && ok;
  return ok;
}

// True when the key is gone afterwards (also when it never was there).
bool DeleteTree(const std::wstring& path) {
  const LSTATUS status = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// The default text of a key; empty when missing.
std::wstring DefaultText(const std::wstring& path) {
  wchar_t text[512] = {};
  DWORD size = sizeof text;
  if (::RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
    return {};
  }
  return text;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// The keys below HKEY_CLASSES_ROOT a registration changed, each as it stood
// before its first change.
class RegistryJournal {
 public:
  // Copies path once, before anything below it changes.
  bool Keep(const std::wstring& path) {
    for (const Kept& kept : kept_) {
      if (SameText(kept.path, path)) return true;
    }
    Kept kept{path, false, {}};
    UniqueKey key;
    const LSTATUS status = ::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put());
    if (status == ERROR_SUCCESS) {
      kept.existed = true;
      kept.image.name = path;
      if (!ReadKey(key.get(), kept.image, 0)) return false;
    } else if (status != ERROR_FILE_NOT_FOUND) {
      return false;
    }
    kept_.push_back(std::move(kept));
    return true;
  }

  // Sets a text value of key, inside the kept subtree keep.
  bool SetText(const std::wstring& keep, const std::wstring& key, const wchar_t* name, const std::wstring& text) {
    if (!Keep(keep) || !WriteAllowed()) return false;
    UniqueKey opened;
    if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, opened.put(), nullptr) !=
        ERROR_SUCCESS) {
      return false;
    }
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(opened.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes) ==
           ERROR_SUCCESS;
  }

  // Puts every kept key back as it was, the last kept first.
  void Undo() noexcept {
    for (auto kept = kept_.rbegin(); kept != kept_.rend(); ++kept) {
      DeleteTree(kept->path);
      if (kept->existed) WriteKey(HKEY_CLASSES_ROOT, kept->image);
    }
    kept_.clear();
  }

 private:
  struct Kept {
    std::wstring path;
    bool existed;
    KeyImage image;
  };
  std::vector<Kept> kept_;
};

bool RegisterClassRow(const ComServer& server, const ComClass& row, const std::wstring& path,
                      RegistryJournal& journal) {
  const std::wstring clsid = GuidText(row.Clsid());
  const std::wstring classKey = L"CLSID\\" + clsid;
  const std::wstring progId = row.ProgId();
  return journal.SetText(classKey, classKey, nullptr, row.HelpString()) &&
         journal.SetText(classKey, classKey + L"\\InprocServer32", nullptr, path) &&
         journal.SetText(classKey, classKey + L"\\InprocServer32", L"ThreadingModel", L"Free") &&
         journal.SetText(classKey, classKey + L"\\ProgID", nullptr, progId) &&
         journal.SetText(classKey, classKey + L"\\TypeLib", nullptr, GuidText(server.libraryId)) &&
         journal.SetText(classKey, classKey + L"\\Version", nullptr, VersionText(server)) &&
         journal.SetText(progId, progId, nullptr, row.HelpString()) &&
         journal.SetText(progId, progId + L"\\CLSID", nullptr, clsid);
}

inline void ReleaseTypeLib(ITypeLib* library) noexcept { library->Release(); }
using UniqueTypeLib = UniqueResource<ITypeLib*, &ReleaseTypeLib>;

// The interfaces the library describes.
std::vector<IID> InterfacesOf(ITypeLib* library) {
  std::vector<IID> interfaces;
  const UINT count = library->GetTypeInfoCount();
  for (UINT index = 0; index < count; ++index) {
    TYPEKIND kind = TKIND_MAX;
    if (FAILED(library->GetTypeInfoType(index, &kind)) || (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH)) {
      continue;
    }
    ITypeInfo* info = nullptr;
    if (FAILED(library->GetTypeInfo(index, &info))) continue;
    TYPEATTR* attributes = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&attributes))) {
      interfaces.push_back(attributes->guid);
      info->ReleaseTypeAttr(attributes);
    }
    info->Release();
  }
  return interfaces;
}

bool RegisterLibrary(const ComServer& server, const std::wstring& path, RegistryJournal& journal) {
  UniqueTypeLib library;
  if (FAILED(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()))) return false;
  const std::wstring libraryKey = L"TypeLib\\" + GuidText(server.libraryId);
  if (!journal.Keep(libraryKey)) return false;
  for (const IID& iid : InterfacesOf(library.get())) {
    if (!journal.Keep(L"Interface\\" + GuidText(iid))) return false;
  }
  // RegisterTypeLib only reads the path.
  if (!WriteAllowed() || FAILED(::RegisterTypeLib(library.get(), const_cast<LPOLESTR>(path.c_str()), nullptr))) {
    return false;
  }
  return journal.SetText(libraryKey, libraryKey + L"\\" + VersionText(server) + L"\\0\\" + kPlatformKey, nullptr, path);
}

bool UnregisterLibrary(const ComServer& server) {
  const std::wstring libraryText = GuidText(server.libraryId);
  const std::wstring libraryKey = L"TypeLib\\" + libraryText;
  const std::wstring versionKey = libraryKey + L"\\" + VersionText(server);
  bool ok = true;
  UniqueTypeLib library;
  const std::wstring path = ServerModulePath();
  if (!path.empty() && SUCCEEDED(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()))) {
    TLIBATTR* attributes = nullptr;
    if (SUCCEEDED(library.get()->GetLibAttr(&attributes))) {
      // Nothing registered is no failure.
      ::UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                          attributes->syskind);
      library.get()->ReleaseTLibAttr(attributes);
    }
    for (const IID& iid : InterfacesOf(library.get())) {
      const std::wstring interfaceKey = L"Interface\\" + GuidText(iid);
      if (SameText(DefaultText(interfaceKey + L"\\TypeLib"), libraryText)) ok = DeleteTree(interfaceKey) && ok;
    }
  }
  // What the system's unregistration leaves of the version (FLAGS, HELPDIR,
  // locale 0), and the library's key once no version is left.
  ok = DeleteTree(versionKey) && ok;
  UniqueKey key;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, libraryKey.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
    DWORD subkeys = 0, values = 0;
    if (::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                           nullptr, nullptr) == ERROR_SUCCESS &&
        subkeys == 0 && values == 0) {
      key.reset();
      ok = DeleteTree(libraryKey) && ok;
    }
  }
  return ok;
}

}  // namespace

void FailRegistryWriteForTesting(int n) noexcept {
  g_writes.store(0);
  g_failAt.store(n);
}

HRESULT RegisterServer(const ComServer& server) noexcept {
  return AtBoundary<HRESULT>(SELFREG_E_CLASS, [&] {
    RegistryJournal journal;
    HRESULT answer = S_OK;
    try {
      const std::wstring path = ServerModulePath();
      if (path.empty()) return SELFREG_E_CLASS;
      answer = SELFREG_E_CLASS;
      for (const ComClass& row : server.classes) {
        if (!RegisterClassRow(server, row, path, journal)) {
          journal.Undo();
          return answer;
        }
      }
      answer = SELFREG_E_TYPELIB;
      if (!RegisterLibrary(server, path, journal)) {
        journal.Undo();
        return answer;
      }
      return S_OK;
    } catch (...) {
      journal.Undo();
      return answer;
    }
  });
}

HRESULT UnregisterServer(const ComServer& server) noexcept {
  return AtBoundary<HRESULT>(SELFREG_E_CLASS, [&] {
    bool classes = true;
    for (const ComClass& row : server.classes) {
      const std::wstring clsid = GuidText(row.Clsid());
      const std::wstring progId = row.ProgId();
      classes = DeleteTree(L"CLSID\\" + clsid) && classes;
      if (SameText(DefaultText(progId + L"\\CLSID"), clsid)) classes = DeleteTree(progId) && classes;
    }
    const bool library = UnregisterLibrary(server);
    if (!classes) return SELFREG_E_CLASS;
    return library ? S_OK : SELFREG_E_TYPELIB;
  });
}

}  // namespace core
