#pragma once
// The process-wide table of eight locks. Each lock guards one family of files
// or outside calls (0: account and remote-account files, 1: directory sync,
// 4: record caches, 5: database back end; 2, 3, 6, 7 exist but are unused).
//
// Lock order, for code that holds more than one: in the sending library its
// configuration lock (sender/config/SendingConfig.h), then the installation
// lock (InstallationLock.h, shared by every process), then 1, then 5, then the
// domain table's reload lock, then its own reader-writer lock, then 0, then 4. Lock 4 is never held across
// file I/O or another lock.
#include <cstddef>

namespace core {

constexpr int LockCount = 8;
constexpr int AccountFilesLock = 0;
constexpr int DirectorySyncLock = 1;
constexpr int RecordCacheLock = 4;
constexpr int DatabaseLockIndex = 5;

// Creates all eight locks, or (create false) frees each existing one.
void CreateLockTable(bool create);
// Enter or leave lock n; nothing when the lock does not exist.
void EnterLock(int n);
void LeaveLock(int n);

// Scoped hold of one lock of the table, by number (the locks are not
// objects a caller holds, so the guard templates of UniqueResource.h, which
// guard a lock object, do not fit).
class TableLock {
 public:
  explicit TableLock(int n) : n_(n) { EnterLock(n_); }
  ~TableLock() { LeaveLock(n_); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

 private:
  int n_;
};

}  // namespace core
