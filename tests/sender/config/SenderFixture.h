// What the sending library's Windows tests share: a registry value set for
// the length of a test, and the library's start as its DllMain runs it.
#pragma once

#include <windows.h>

#include <string>

#include "core/startup/LibraryStart.h"

namespace senderfix {

// A value under a key of HKEY_LOCAL_MACHINE, removed again at the end (the
// key stays). No value text: the value is removed at once; a zero key
// removes the whole key instead.
class RegistryValue {
 public:
  RegistryValue(std::string key, const char* name, const std::string* text, DWORD type = REG_SZ)
      : key_(std::move(key)), name_(name) {
    Remove();
    if (text == nullptr) return;
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
      return;
    RegSetValueExA(handle, name_, 0, type, reinterpret_cast<const BYTE*>(text->c_str()),
                   static_cast<DWORD>(text->size() + 1));
    RegCloseKey(handle);
  }
  ~RegistryValue() { Remove(); }
  RegistryValue(const RegistryValue&) = delete;
  RegistryValue& operator=(const RegistryValue&) = delete;

  static void RemoveKey(const std::string& key) { RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()); }

 private:
  void Remove() const {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS) return;
    RegDeleteValueA(handle, name_);
    RegCloseKey(handle);
  }
  std::string key_;
  const char* name_;
};

// The units started once per process with the sending profile.
inline void StartSendingLibrary() {
  static const bool started = [] {
    core::StartLibraryUnits(core::SendingProfile);
    return true;
  }();
  (void)started;
}

}  // namespace senderfix
