#include "core/com/ComServer.h"

#include <atomic>
#include <vector>

#include "core/platform/Boundary.h"
#include "core/platform/ComBoundary.h"
#include "core/platform/Handles.h"

namespace core {
namespace {

std::atomic<HMODULE> g_module{nullptr};
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

// The module's type library and the type information handed out so far.
struct TypeInfoEntry {
  IID iid;
  ServerTypeInfo info;
};
SRWLOCK g_typeLock = SRWLOCK_INIT;
ITypeLib* g_typeLibrary = nullptr;
std::vector<TypeInfoEntry>* g_typeInfos = nullptr;

bool LookUpTypeInfo(const IID& iid, ServerTypeInfo& info) {
  if (g_typeInfos == nullptr) return false;
  for (const TypeInfoEntry& entry : *g_typeInfos) {
    if (IsEqualIID(entry.iid, iid)) {
      info = entry.info;
      return true;
    }
  }
  return false;
}

// Under the exclusive lock: loads the library when not yet done and adds
// the type information of iid.
HRESULT LoadTypeInfo(const IID& iid, ServerTypeInfo& info) {
  if (g_typeLibrary == nullptr) {
    const std::wstring path = ServerModulePath();
    if (path.empty()) return TYPE_E_CANTLOADLIBRARY;
    ITypeLib* library = nullptr;
    const HRESULT loaded = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(loaded)) return loaded;
    g_typeLibrary = library;
  }
  if (g_typeInfos == nullptr) g_typeInfos = new std::vector<TypeInfoEntry>();
  ITypeInfo* dispatch = nullptr;
  HRESULT answer = g_typeLibrary->GetTypeInfoOfGuid(iid, &dispatch);
  if (FAILED(answer)) return answer;
  ITypeInfo* vtable = dispatch;
  vtable->AddRef();
  // A dual interface: its dispatch view refers to its vtable view as -1.
  HREFTYPE reference = 0;
  if (SUCCEEDED(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &reference))) {
    ITypeInfo* interfaceView = nullptr;
    if (SUCCEEDED(dispatch->GetRefTypeInfo(reference, &interfaceView))) {
      vtable->Release();
      vtable = interfaceView;
    }
  }
  info = {dispatch, vtable};
  try {
    g_typeInfos->push_back({iid, info});
  } catch (...) {
    dispatch->Release();
    vtable->Release();
    info = {};
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace

void NoteServerModule(HMODULE module) noexcept { g_module.store(module); }

HMODULE ServerModule() noexcept { return g_module.load(); }

std::wstring ServerModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(g_module.load(), path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

void ReleaseServerTypeLibrary() noexcept {
  ExclusiveSrwGuard hold(g_typeLock);
  if (g_typeInfos != nullptr) {
    for (TypeInfoEntry& entry : *g_typeInfos) {
      entry.info.dispatch->Release();
      entry.info.vtable->Release();
    }
    delete g_typeInfos;
    g_typeInfos = nullptr;
  }
  if (g_typeLibrary != nullptr) g_typeLibrary->Release();
  g_typeLibrary = nullptr;
}

HRESULT FindServerTypeInfo(const IID& iid, ServerTypeInfo& info) noexcept {
  info = {};
  {
    SharedSrwGuard hold(g_typeLock);
    if (LookUpTypeInfo(iid, info)) return S_OK;
  }
  return AtBoundary<HRESULT>(E_UNEXPECTED, [&] {
    ExclusiveSrwGuard hold(g_typeLock);
    if (LookUpTypeInfo(iid, info)) return S_OK;
    return LoadTypeInfo(iid, info);
  });
}

void CountObject(bool created) noexcept {
  if (created) {
    g_objects.fetch_add(1);
  } else {
    g_objects.fetch_sub(1);
  }
}

void CountLock(bool locked) noexcept {
  if (locked) {
    g_locks.fetch_add(1);
  } else {
    g_locks.fetch_sub(1);
  }
}

HRESULT ServerCanUnloadNow() noexcept { return g_objects.load() == 0 && g_locks.load() == 0 ? S_OK : S_FALSE; }

HRESULT ServerGetClassObject(const ComServer& server, REFCLSID clsid, REFIID iid, void** out) noexcept {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  for (ComClass& row : server.classes) {
    if (IsEqualCLSID(row.Clsid(), clsid)) return row.QueryInterface(iid, out);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT STDMETHODCALLTYPE ComClass::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
  *out = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

// The factory lives as long as the library; a reference to it keeps the
// library loaded.
ULONG STDMETHODCALLTYPE ComClass::AddRef() {
  CountLock(true);
  return 2;
}

ULONG STDMETHODCALLTYPE ComClass::Release() {
  CountLock(false);
  return 1;
}

HRESULT STDMETHODCALLTYPE ComClass::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  return ComBoundary(
      progId_, [&] { return create_(iid, out); }, out);
}

HRESULT STDMETHODCALLTYPE ComClass::LockServer(BOOL lock) {
  CountLock(lock != FALSE);
  return S_OK;
}

}  // namespace core
