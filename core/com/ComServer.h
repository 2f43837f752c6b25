#pragma once
// The COM server kit: what an in-process automation server of this project
// is made of, so that each library only lists its classes and writes their
// methods.
//
// A server (one DLL) declares, in one source file:
//
//   constinit core::ComClass g_classes[] = {
//       // CLSID, ProgID, coclass help string, creator: one row per class.
//       {CLSID_Kelpa, L"VelmoraCOM.Kelpa", L"Velmora Data Packager", &core::CreateComObject<Kelpa>},
//   };
//   constinit const core::ComServer g_server{LIBID_VelmoraCOM, 1, 0, g_classes};
//
// and its four exports forward to the kit:
//
//   STDAPI DllGetClassObject(REFCLSID c, REFIID i, void** o) { return core::ServerGetClassObject(g_server, c, i, o); }
//   STDAPI DllCanUnloadNow() { return core::ServerCanUnloadNow(); }
//   STDAPI DllRegisterServer() { return core::RegisterServer(g_server); }
//   STDAPI DllUnregisterServer() { return core::UnregisterServer(g_server); }
//
// Its DllMain calls NoteServerModule(instance) at DLL_PROCESS_ATTACH and, at
// a DLL_PROCESS_DETACH caused by FreeLibrary (reserved null),
// ReleaseServerTypeLibrary(). The type library is the DLL's resource
// TYPELIB 1 (cmake/Com.cmake: vm_typelib); adding a class is one row.
//
// Each row is also the class's factory: a static object, made when the
// library is loaded, that makes a new object for every request (no
// aggregation: CLASS_E_NOAGGREGATION). A reference held to a factory counts
// as a server lock, like LockServer(TRUE).
//
// Classes derive from core::DispatchObject (core/com/DispatchObject.h),
// which gives IUnknown, IDispatch over the type library and
// ISupportErrorInfo; each method runs its body in Guarded(...).
//
// Registration (RegisterServer) writes, under HKEY_CLASSES_ROOT, for each row:
//   CLSID\{clsid}                    default: the coclass help string
//   CLSID\{clsid}\InprocServer32     default: the DLL's full path
//                                    (GetModuleFileNameW); ThreadingModel "Free"
//   CLSID\{clsid}\ProgID             default: the ProgID
//   CLSID\{clsid}\TypeLib            default: {libid}
//   CLSID\{clsid}\Version            default: "major.minor"
//   <ProgID>                         default: the coclass help string
//   <ProgID>\CLSID                   default: {clsid}
// then registers the type library with RegisterTypeLib (the DLL's path; the
// interfaces' keys with the type-library marshaller) and adds
// TypeLib\{libid}\<major.minor>\0\win32 (win64 in a 64-bit build), since some
// marshallers look only under locale 0. A failure part-way puts back every
// key and value as it was before and answers SELFREG_E_CLASS (class keys) or
// SELFREG_E_TYPELIB (type library). Unregistration (UnregisterServer)
// removes the rows' class and ProgID keys, the library's version key and the
// interface keys of the library; it answers S_OK also when nothing was there.
#include <windows.h>

#include <oleauto.h>

#include <span>
#include <string>

namespace core {

// Makes one new object and answers its interface iid in *out; on failure
// *out is null and nothing lives on.
using ComCreator = HRESULT (*)(REFIID iid, void** out);

// One creatable class: a row of the server's class table and its factory.
class ComClass final : public IClassFactory {
 public:
  constexpr ComClass(const CLSID& clsid, const wchar_t* progId, const wchar_t* helpString, ComCreator create) noexcept
      : clsid_(&clsid), progId_(progId), helpString_(helpString), create_(create) {}

  const CLSID& Clsid() const noexcept { return *clsid_; }
  const wchar_t* ProgId() const noexcept { return progId_; }
  const wchar_t* HelpString() const noexcept { return helpString_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  const CLSID* clsid_;
  const wchar_t* progId_;
  const wchar_t* helpString_;
  ComCreator create_;
};

// One server: its type library's id and version, and its class table.
struct ComServer {
  const GUID& libraryId;
  WORD majorVersion;
  WORD minorVersion;
  std::span<ComClass> classes;
};

// DllMain: the module whose path is registered and whose type library the
// objects use.
void NoteServerModule(HMODULE module) noexcept;
HMODULE ServerModule() noexcept;
// Its full path (GetModuleFileNameW); empty when it cannot be read.
std::wstring ServerModulePath();
// DllMain at FreeLibrary: lets go of the cached type library.
void ReleaseServerTypeLibrary() noexcept;

// The four exports.
HRESULT ServerGetClassObject(const ComServer& server, REFCLSID clsid, REFIID iid, void** out) noexcept;
HRESULT ServerCanUnloadNow() noexcept;
HRESULT RegisterServer(const ComServer& server) noexcept;
HRESULT UnregisterServer(const ComServer& server) noexcept;

// The counts behind ServerCanUnloadNow: objects alive, and locks (LockServer
// and factory references). The server may be unloaded only at zero and zero.
void CountObject(bool created) noexcept;
void CountLock(bool locked) noexcept;

// The type information of interface iid from the module's own type library
// (loaded once, REGKIND_NONE; later calls share it): the dispatch view that
// clients see, and for a dual interface its vtable view, which DispInvoke
// calls through. Borrowed pointers, valid until ReleaseServerTypeLibrary.
struct ServerTypeInfo {
  ITypeInfo* dispatch = nullptr;
  ITypeInfo* vtable = nullptr;
};
HRESULT FindServerTypeInfo(const IID& iid, ServerTypeInfo& info) noexcept;

// Tests only: the n-th registry write of the next registrations fails
// (1 = the first; 0 = none), to prove that a failure leaves nothing behind.
void FailRegistryWriteForTesting(int n) noexcept;

}  // namespace core
