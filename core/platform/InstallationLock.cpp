#include "core/platform/InstallationLock.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "core/platform/Handles.h"
#include "core/util/PathText.h"

namespace core {
namespace {

constexpr std::uint32_t SharedMagic = 0x314C4349;  // layout 1 of the change list
constexpr std::size_t NotesKept = 128;

// Fixed-width fields only: 32-bit and 64-bit processes map the same bytes.
struct SharedNote {
  std::uint64_t generation;
  std::uint64_t domainKey;
  std::uint64_t writer;
  std::uint32_t change;
  std::uint32_t unused;
};
struct SharedList {
  std::uint32_t magic;
  std::uint32_t unused;
  std::uint64_t generation;
  SharedNote notes[NotesKept];
};

struct Objects {
  UniqueHandle mutex;
  UniqueHandle section;
  UniqueView view;
  SharedList* list = nullptr;
};

std::mutex g_objectsMutex;
std::string g_folder;
std::shared_ptr<Objects> g_objects;
std::atomic<bool> g_skipped{false};

thread_local int t_depth = 0;
thread_local Objects* t_held = nullptr;  // owned by the outermost hold

std::uint64_t WriterToken() {
  static const std::uint64_t token =
      (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32) ^ ::GetTickCount64() ^ 0x9E3779B97F4A7C15ull;
  return token;
}

// The folder as every process resolves it: full path, lower case, no
// trailing separator.
std::string FoldedFolder(const std::string& folder) {
  char buffer[MAX_PATH * 2] = {};
  const DWORD length = ::GetFullPathNameA(folder.c_str(), sizeof buffer, buffer, nullptr);
  std::string full = length > 0 && length < sizeof buffer ? std::string(buffer, length) : folder;
  if (!full.empty()) ::CharLowerBuffA(full.data(), static_cast<DWORD>(full.size()));
  for (char& c : full)
    c = c == '/' ? '\\' : c;
  while (!full.empty() && full.back() == '\\')
    full.pop_back();
  return full;
}

// Objects of other users' processes (a service, an installer) must be
// usable too: no access list at all.
struct OpenAccess {
  SECURITY_DESCRIPTOR descriptor{};
  SECURITY_ATTRIBUTES attributes{};
  OpenAccess() {
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = &descriptor;
  }
};

std::shared_ptr<Objects> OpenObjects(const std::string& folder) {
  auto objects = std::make_shared<Objects>();
  const std::string folded = FoldedFolder(folder);
  OpenAccess access;
  const std::string lockName = InstallationObjectName("Global\\MailInstallationLock-", folded);
  objects->mutex.reset(::CreateMutexA(&access.attributes, FALSE, lockName.c_str()));
  if (!objects->mutex) objects->mutex.reset(::OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, lockName.c_str()));
  const std::string listName = InstallationObjectName("Global\\MailInstallationChanges-", folded);
  objects->section.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, &access.attributes, PAGE_READWRITE, 0,
                                              sizeof(SharedList), listName.c_str()));
  if (!objects->section) objects->section.reset(::OpenFileMappingA(FILE_MAP_WRITE, FALSE, listName.c_str()));
  if (objects->section)
    objects->view.reset(::MapViewOfFile(objects->section.get(), FILE_MAP_WRITE, 0, 0, sizeof(SharedList)));
  if (objects->view) objects->list = static_cast<SharedList*>(objects->view.get());
  return objects;
}

std::shared_ptr<Objects> CurrentObjects() {
  std::lock_guard<std::mutex> guard(g_objectsMutex);
  if (g_objects == nullptr && !g_folder.empty()) g_objects = OpenObjects(g_folder);
  return g_objects;
}

// The list as it stands, set up on first use (caller holds the lock).
SharedList* List() {
  Objects* objects = t_held;
  if (objects == nullptr || objects->list == nullptr) return nullptr;
  SharedList* list = objects->list;
  if (list->magic != SharedMagic) {
    list->generation = 0;
    list->magic = SharedMagic;
  }
  return list;
}

void Append(SharedList& list, std::uint64_t domainKey, AccountFileChange change) {
  const std::uint64_t next = list.generation + 1;
  SharedNote& note = list.notes[next % NotesKept];
  note.generation = next;
  note.domainKey = domainKey;
  note.writer = WriterToken();
  note.change = static_cast<std::uint32_t>(change);
  // Published last: a process killed before this line leaves the list as it was.
  list.generation = next;
}

}  // namespace

void SetInstallationFolder(std::string_view folder) {
  std::lock_guard<std::mutex> guard(g_objectsMutex);
  if (g_folder == folder) return;
  g_folder = std::string(folder);
  g_objects.reset();  // holds in flight keep theirs
}

void SetInstallationHoldSkipped(bool skipped) { g_skipped.store(skipped); }

InstallationHold::InstallationHold() {
  if (t_depth > 0) {
    held_ = true;
    owns_ = true;
    ++t_depth;
    return;
  }
  std::shared_ptr<Objects> objects = CurrentObjects();
  if (objects == nullptr || g_skipped.load() || !objects->mutex) {
    // No installation yet, or no kernel object to be had: nothing to share.
    held_ = true;
    owns_ = true;
    t_held = objects.get();
    objects_ = std::move(objects);
    t_depth = 1;
    return;
  }
  const DWORD waited = ::WaitForSingleObject(objects->mutex.get(), InstallationWaitBoundMs);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return;
  held_ = true;
  owns_ = true;
  t_held = objects.get();
  objects_ = std::move(objects);
  t_depth = 1;
  if (waited == WAIT_ABANDONED) {
    // Its owner died inside a change: whatever anyone derived from the
    // account files is to be read again.
    if (SharedList* list = List()) Append(*list, 0, AccountFileChange::Reset);
  }
}

InstallationHold::~InstallationHold() {
  if (!owns_ || --t_depth > 0) return;
  Objects* objects = t_held;
  t_held = nullptr;
  if (objects != nullptr && objects->mutex && !g_skipped.load()) ::ReleaseMutex(objects->mutex.get());
}

std::uint64_t AccountFileKey(std::string_view lowerDomainName) {
  return InstallationNameHash(lowerDomainName) | 1;  // never 0, the key of a reset
}

void NoteAccountFileChange(std::uint64_t domainKey, AccountFileChange change) {
  if (t_depth == 0) return;
  if (SharedList* list = List()) Append(*list, domainKey, change);
}

std::uint64_t AccountFileGeneration() {
  if (t_depth == 0) return 0;
  SharedList* list = List();
  return list != nullptr ? list->generation : 0;
}

bool AccountFileChangesSince(std::uint64_t after, std::vector<AccountFileNote>& out) {
  out.clear();
  SharedList* list = t_depth > 0 ? List() : nullptr;
  if (list == nullptr || after > list->generation || list->generation - after > NotesKept - 1) return false;
  for (std::uint64_t g = after + 1; g <= list->generation; ++g) {
    const SharedNote& note = list->notes[g % NotesKept];
    if (note.generation != g) return false;
    AccountFileNote copy;
    copy.generation = g;
    copy.domainKey = note.domainKey;
    copy.change = static_cast<AccountFileChange>(note.change);
    copy.ours = note.writer == WriterToken();
    out.push_back(copy);
  }
  return true;
}

}  // namespace core
