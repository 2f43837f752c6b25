#include "core/platform/LockTable.h"

#include <windows.h>

#include <atomic>

namespace core {
namespace {

CRITICAL_SECTION g_sections[LockCount];
std::atomic<bool> g_created[LockCount];

}  // namespace

void CreateLockTable(bool create) {
  for (int i = 0; i < LockCount; ++i) {
    if (create) {
      if (!g_created[i].load()) {
        InitializeCriticalSection(&g_sections[i]);
        g_created[i].store(true);
      }
    } else if (g_created[i].exchange(false)) {
      DeleteCriticalSection(&g_sections[i]);
    }
  }
}

void EnterLock(int n) {
  if (n >= 0 && n < LockCount && g_created[n].load()) EnterCriticalSection(&g_sections[n]);
}

void LeaveLock(int n) {
  if (n >= 0 && n < LockCount && g_created[n].load()) LeaveCriticalSection(&g_sections[n]);
}

}  // namespace core
