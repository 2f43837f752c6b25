#include "core/antispam/RuleFilesWin.h"

#include <windows.h>

#include <cstdint>

#include "core/config/ConfigStore.h"
#include "core/platform/Handles.h"

extern "C" {
// Calls a one- or two-argument entry point and puts the stack pointer back
// afterwards, whether the callee removed its arguments or left them.
std::uintptr_t core_CallRestoringStack1(void* proc, std::uintptr_t a);
std::uintptr_t core_CallRestoringStack2(void* proc, std::uintptr_t a, std::uintptr_t b);
}

#if defined(__i386__)
// esi is callee-saved in both conventions; it carries the stack pointer
// across the call.
asm(R"(
    .text
    .p2align 4
    .globl _core_CallRestoringStack1
_core_CallRestoringStack1:
    pushl %esi
    movl %esp, %esi
    pushl 12(%esi)
    call *8(%esi)
    movl %esi, %esp
    popl %esi
    ret
    .p2align 4
    .globl _core_CallRestoringStack2
_core_CallRestoringStack2:
    pushl %esi
    movl %esp, %esi
    pushl 16(%esi)
    pushl 12(%esi)
    call *8(%esi)
    movl %esi, %esp
    popl %esi
    ret
)");
#else
// One calling convention on x86-64: a plain call.
std::uintptr_t core_CallRestoringStack1(void* proc, std::uintptr_t a) {
  return reinterpret_cast<std::uintptr_t (*)(std::uintptr_t)>(proc)(a);
}
std::uintptr_t core_CallRestoringStack2(void* proc, std::uintptr_t a, std::uintptr_t b) {
  return reinterpret_cast<std::uintptr_t (*)(std::uintptr_t, std::uintptr_t)>(proc)(a, b);
}
#endif

namespace core {
namespace {

std::string WithBackslash(std::string folder) {
  if (!folder.empty() && folder.back() != '\\') folder.push_back('\\');
  return folder;
}

}  // namespace

std::vector<std::string> WindowsRuleFiles::List(const std::string& folder, const std::string& mask) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + mask).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

RuleReadResult WindowsRuleFiles::ReadLines(const std::string& path, const std::function<void(std::string_view)>& line) {
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return RuleReadResult::NotOpened;
  std::string pending;
  bool afterCR = false;  // a CR ended the last line: an LF right after it belongs to it
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return RuleReadResult::IoError;
    if (got == 0) break;
    std::size_t start = 0;
    for (std::size_t i = 0; i < got; ++i) {
      const char c = buffer[i];
      if (c != '\r' && c != '\n') continue;
      if (c == '\n' && afterCR && i == start && pending.empty()) {
        afterCR = false;
        start = i + 1;
        continue;
      }
      pending.append(buffer + start, i - start);
      line(pending);
      pending.clear();
      afterCR = c == '\r';
      start = i + 1;
    }
    if (start < got) afterCR = false;
    pending.append(buffer + start, got - start);
  }
  if (!pending.empty()) line(pending);
  return RuleReadResult::Done;
}

std::optional<RuleFileStamp> WindowsRuleFiles::Stamp(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  RuleFileStamp stamp;
  stamp.writeTime =
      (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  stamp.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return stamp;
}

std::string OwnModuleFolder() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&OwnModuleFolder), &self))
    return {};
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  std::string folder(path, length);
  const std::size_t slash = folder.find_last_of('\\');
  return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

void RegexLibrary::Bind() {
  // Called under the rules unit's exclusive lock: one binding attempt per
  // process, never raced.
  if (bound_) return;
  bound_ = true;
  char system[MAX_PATH + 1] = {};
  const UINT systemLength = GetSystemDirectoryA(system, MAX_PATH);
  const std::string folders[] = {
      OwnModuleFolder(),
      WithBackslash(RootFolder()),
      systemLength > 0 && systemLength < MAX_PATH ? WithBackslash(std::string(system, systemLength)) : std::string(),
  };
  for (const std::string& folder : folders) {
    // Full paths only: a bare name would search the current folder and PATH.
    if (folder.size() < 3 || (folder[1] != ':' && folder.compare(0, 2, "\\\\") != 0)) continue;
    const std::string path = folder + "regex.dll";
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    // All three or none; an existing file that does not bind ends the search.
    const bool loaded = library_.Load(path, LOAD_WITH_ALTERED_SEARCH_PATH, [](EntryBinder& binder, Entries& entries) {
      binder.Required("recomp", entries.recomp);
      binder.Required("regexec", entries.regexec);
      binder.Required("regfree", entries.regfree);
    });
    if (!loaded) return;
    recomp_ = reinterpret_cast<void*>(library_.entries().recomp);
    regfree_ = reinterpret_cast<void*>(library_.entries().regfree);
    return;  // kept until the process ends
  }
}

PatternHandle RegexLibrary::Compile(const std::string& pattern, std::int32_t flags) {
  if (recomp_ == nullptr) return 0;
  return core_CallRestoringStack2(recomp_, reinterpret_cast<std::uintptr_t>(pattern.c_str()),
                                  static_cast<std::uintptr_t>(static_cast<std::uint32_t>(flags)));
}

void RegexLibrary::Free(PatternHandle handle) {
  if (regfree_ != nullptr && handle != 0) core_CallRestoringStack1(regfree_, handle);
}

SpamAssassinUnit& RulesUnit(RuleVariant variant) {
  // Never destroyed: at process exit the patterns stay with the outside library.
  // Each reader binds its own library under its own lock.
  static RegexLibrary* const apiLibrary = new RegexLibrary;
  static RegexLibrary* const senderLibrary = new RegexLibrary;
  static SpamAssassinUnit* const api = new SpamAssassinUnit(RuleVariant::Api, *apiLibrary);
  static SpamAssassinUnit* const sender = new SpamAssassinUnit(RuleVariant::Sender, *senderLibrary);
  return variant == RuleVariant::Api ? *api : *sender;
}

bool LoadSpamAssassinRules(RuleVariant variant, std::string_view folder, bool checkChanged, bool skipCustom) {
  WindowsRuleFiles files;
  return RulesUnit(variant).LoadSpamAssassinRules(files, folder, checkChanged, skipCustom);
}

void UnloadSpamAssassinRules(RuleVariant variant) { RulesUnit(variant).Unload(false); }

}  // namespace core
