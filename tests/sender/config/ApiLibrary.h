// The exports of the real Api.dll that the sending library's cross-checks
// call, bound by name from the library at path (a test program and its child
// both use it).
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "include/Api.h"

namespace senderfix {

struct ApiLibrary {
  HMODULE module = nullptr;
  ApiInitProc Init = nullptr;
  ApiVoidProc Done = nullptr, SaveConfig = nullptr;
  ApiSetConfigSettingProc SetConfigSetting = nullptr;
  ApiGetConfigSettingProc GetConfigSetting = nullptr;
  ApiAddDomainProc AddDomain = nullptr;
  ApiAddUserProc AddUser = nullptr;
  ApiLoadUserProc LoadUser = nullptr;
  ApiSaveUserProc SaveUser = nullptr;
  ApiDeleteUserProc DeleteUser = nullptr;
  ApiNameProc GetUserCount = nullptr;

  explicit ApiLibrary(const char* path) : module(LoadLibraryA(path)) {
    Bind(Init, "Init");
    Bind(Done, "Done");
    Bind(SaveConfig, "SaveConfig");
    Bind(SetConfigSetting, "SetConfigSetting");
    Bind(GetConfigSetting, "GetConfigSetting");
    Bind(AddDomain, "AddDomain");
    Bind(AddUser, "AddUser");
    Bind(LoadUser, "LoadUser");
    Bind(SaveUser, "SaveUser");
    Bind(DeleteUser, "DeleteUser");
    Bind(GetUserCount, "GetUserCount");
  }
  // True when the library and every export were found.
  bool bound() const { return bound_; }

  template <typename T>
  std::int32_t Set(std::int32_t id, T value) const {
    return SetConfigSetting(id, &value, sizeof value);
  }
  std::int32_t SetText(std::int32_t id, const char* text) const {
    return SetConfigSetting(id, text, static_cast<std::int32_t>(std::strlen(text)));
  }

 private:
  template <typename T>
  void Bind(T& slot, const char* name) {
    slot = module != nullptr ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
    bound_ = bound_ && slot != nullptr;
  }
  bool bound_ = true;
};

}  // namespace senderfix
