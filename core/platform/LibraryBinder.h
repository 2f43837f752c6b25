#pragma once
// The run-time binding of an outside library: one load, a table of entry
// points bound by name, and one release. A library that lacks an entry point
// its table requires binds nothing at all and is freed at once, so a caller
// never runs half a client; entry points marked optional may stay null and
// each call then answers its own failure value.
#include <windows.h>

#include <string>
#include <utility>

#include "core/platform/Handles.h"

namespace core {

// Binds the entry points of one loaded module into a table; remembers whether
// every required name was found.
class EntryBinder {
 public:
  explicit EntryBinder(HMODULE module) noexcept : module_(module) {}

  template <typename Proc>
  void Required(const char* name, Proc& slot) noexcept {
    slot = Find<Proc>(name);
    if (slot == nullptr) complete_ = false;
  }
  template <typename Proc>
  void Optional(const char* name, Proc& slot) noexcept {
    slot = Find<Proc>(name);
  }

  bool complete() const noexcept { return complete_; }

 private:
  template <typename Proc>
  Proc Find(const char* name) const noexcept {
    // Through void (*)() so the compiler accepts the change of signature.
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(::GetProcAddress(module_, name)));
  }

  HMODULE module_;
  bool complete_ = true;
};

// One outside library and its table of entry points (a struct of function
// pointers, value-initialised = nothing bound). Not synchronised: the owner
// holds its own lock around Load, Free and every call through entries().
template <typename Table>
class BoundLibrary {
 public:
  using BindTable = void (*)(EntryBinder&, Table&);

  // Unless loaded: loads path with LoadLibraryExA's flags (callers give a
  // full path wherever the file's place is known, so that the system's DLL
  // search is not walked for it) and binds the table with bind. True when loaded afterwards. When the file does not
  // load or a required entry point is missing nothing is bound and the library is freed before the answer.
  bool Load(const std::string& path, DWORD flags, BindTable bind) {
    if (module_) return true;
    if (path.empty()) return false;
    UniqueModule module(::LoadLibraryExA(path.c_str(), nullptr, flags));
    if (!module) return false;
    Table entries{};
    EntryBinder binder(module.get());
    bind(binder, entries);
    if (!binder.complete()) return false;  // the module is freed here
    entries_ = entries;
    module_ = std::move(module);
    return true;
  }

  // Forgets the table and frees the library; a second call does nothing.
  void Free() noexcept {
    entries_ = Table{};
    module_.reset();
  }

  bool loaded() const noexcept { return module_.valid(); }
  const Table& entries() const noexcept { return entries_; }
  HMODULE module() const noexcept { return module_.get(); }

 private:
  UniqueModule module_;
  Table entries_{};
};

}  // namespace core
