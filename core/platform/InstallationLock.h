#pragma once
// The installation lock: one named mutex per configuration folder, shared by
// every process on the machine that loads one of the libraries (32-bit or
// 64-bit), so that two programs administering one installation never
// interleave a check and the write it allows. Its name comes from the
// folder's full path, case-folded and hashed.
//
// Lock order: the state lock of the exports, then this lock, then the lock
// table's locks (LockTable.h). It is re-entrant on one thread. A wait is
// bounded (WaitBoundMs); a hold that was not granted writes nothing. When
// the previous owner died while holding it, the next owner takes it over and
// every process drops what it derived from the account files (a reset entry
// in the change list below).
//
// Beside the mutex, a small named section holds the list of the latest
// changes to account files, written under the lock, so that a process can
// tell which of its per-domain indexes another process made stale without
// looking at every domain's file.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace core {

inline constexpr unsigned long InstallationWaitBoundMs = 10000;

// The folder the lock belongs to (the configuration folder; set by the
// configuration store whenever that changes).
void SetInstallationFolder(std::string_view folder);

class InstallationHold {
 public:
  InstallationHold();
  ~InstallationHold();
  InstallationHold(const InstallationHold&) = delete;
  InstallationHold& operator=(const InstallationHold&) = delete;

  // False when the wait ran out: the caller must write nothing.
  bool held() const { return held_; }

 private:
  bool held_ = false;
  bool owns_ = false;
  // The outermost hold keeps the kernel objects alive; the thread only
  // notes a plain pointer to them (no thread-local object with a destructor).
  std::shared_ptr<void> objects_;
};

// Test hook: every hold is granted without touching the mutex (the cost of
// the lock measured against no lock).
void SetInstallationHoldSkipped(bool skipped);

// ---- Changes to account files -------------------------------------------------

enum class AccountFileChange : std::uint32_t { Appended = 1, Other = 2, Reset = 3 };

struct AccountFileNote {
  std::uint64_t generation = 0;
  std::uint64_t domainKey = 0;  // AccountFileKey of the domain (0 for a reset)
  AccountFileChange change = AccountFileChange::Other;
  bool ours = false;  // written by this process
};

// Key of a domain's account file in the change list.
std::uint64_t AccountFileKey(std::string_view lowerDomainName);

// Records a change (call holding the lock; nothing otherwise).
void NoteAccountFileChange(std::uint64_t domainKey, AccountFileChange change);
// The generation of the latest change (0 when the list is not available).
std::uint64_t AccountFileGeneration();
// The changes after generation `after` up to now; false when they are no
// longer all kept (or the list is not available): treat everything as
// changed then.
bool AccountFileChangesSince(std::uint64_t after, std::vector<AccountFileNote>& out);

}  // namespace core
