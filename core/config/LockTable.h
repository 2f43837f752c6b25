#pragma once
// The process-wide table of eight locks. Each lock guards one family of files
// or outside calls (0: account and remote-account files, 1: directory sync,
// 4: record caches, 5: database back end; 2, 3, 6, 7 exist but are unused).
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

// Scoped hold of one lock of the table.
class ScopedLock {
 public:
  explicit ScopedLock(int n);
  ~ScopedLock();
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  int n_;
};

// Whether calls into the database back end go without lock 5 (settings byte
// 152). Answered by the configuration store; false until one is installed.
using DatabaseNoLockQuery = bool (*)();
void SetDatabaseNoLockQuery(DatabaseNoLockQuery query);

// Lock 5 around one call into the database back end, unless the settings say
// otherwise. Remembers whether it entered, because the setting may change
// between enter and leave.
class LockDatabase {
 public:
  LockDatabase();
  ~LockDatabase();
  LockDatabase(const LockDatabase&) = delete;
  LockDatabase& operator=(const LockDatabase&) = delete;
  bool entered() const { return entered_; }

 private:
  bool entered_ = false;
};

}  // namespace core
