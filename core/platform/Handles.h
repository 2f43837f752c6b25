#pragma once
// The Windows resource kinds of the project, each one line over the
// templates of UniqueResource.h. Later kinds (sockets, LDAP sessions, COM
// references, mapped views) are declared here the same way.
// The build defines WIN32_LEAN_AND_MEAN, so windows.h does not pull in the
// older winsock.h that would clash with winsock2.h.
#include <windows.h>
#include <winsock2.h>

#include "core/platform/UniqueResource.h"

namespace core {

// Both null and INVALID_HANDLE_VALUE mean "no handle": the API uses either.
inline bool IsUsableHandle(HANDLE handle) noexcept { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

inline void CloseKernelHandle(HANDLE handle) noexcept { ::CloseHandle(handle); }
inline void CloseFind(HANDLE handle) noexcept { ::FindClose(handle); }
inline void CloseService(SC_HANDLE handle) noexcept { ::CloseServiceHandle(handle); }
inline void CloseKey(HKEY key) noexcept { ::RegCloseKey(key); }
inline void ReleaseModule(HMODULE module) noexcept { ::FreeLibrary(module); }
inline void UnmapView(void* view) noexcept { ::UnmapViewOfFile(view); }
inline void CloseSocket(SOCKET socket) noexcept { ::closesocket(socket); }
inline bool IsUsableSocket(SOCKET socket) noexcept { return socket != INVALID_SOCKET; }

using UniqueHandle = UniqueResource<HANDLE, &CloseKernelHandle, &IsUsableHandle>;
using UniqueFindHandle = UniqueResource<HANDLE, &CloseFind, &IsUsableHandle>;
using UniqueServiceHandle = UniqueResource<SC_HANDLE, &CloseService>;
using UniqueKey = UniqueResource<HKEY, &CloseKey>;
using UniqueModule = UniqueResource<HMODULE, &ReleaseModule>;
using UniqueView = UniqueResource<void*, &UnmapView>;
using UniqueSocket = UniqueResource<SOCKET, &CloseSocket, &IsUsableSocket, INVALID_SOCKET>;
// A counted COM reference of interface I.
template <typename I>
void ReleaseComReference(I* reference) noexcept {
  reference->Release();
}
template <typename I>
using UniqueComReference = UniqueResource<I*, &ReleaseComReference<I>>;

inline void AcquireShared(SRWLOCK* lock) noexcept { ::AcquireSRWLockShared(lock); }
inline void ReleaseShared(SRWLOCK* lock) noexcept { ::ReleaseSRWLockShared(lock); }
inline void AcquireExclusive(SRWLOCK* lock) noexcept { ::AcquireSRWLockExclusive(lock); }
inline void ReleaseExclusive(SRWLOCK* lock) noexcept { ::ReleaseSRWLockExclusive(lock); }
inline void EnterSection(CRITICAL_SECTION* section) noexcept { ::EnterCriticalSection(section); }
inline void LeaveSection(CRITICAL_SECTION* section) noexcept { ::LeaveCriticalSection(section); }

using SharedSrwGuard = LockGuard<SRWLOCK, &AcquireShared, &ReleaseShared>;
using ExclusiveSrwGuard = LockGuard<SRWLOCK, &AcquireExclusive, &ReleaseExclusive>;
using SectionGuard = LockGuard<CRITICAL_SECTION, &EnterSection, &LeaveSection>;

}  // namespace core
