#pragma once
// GetProperty and SetProperty of the automation classes, over the settings
// record or a caller's domain, account or remote-account record: the Command
// variant becomes a setting id and kind (by the names file, else as a number),
// the Value variant the bytes the setting functions take, and their answer a
// variant again.
#include <windows.h>
// (after windows.h, which it needs)
#include <oleauto.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/config/SettingFields.h"

namespace api::automation {

struct PropertyTarget {
  core::SettingFamily family = core::SettingFamily::Config;
  void* record = nullptr;  // the caller's record, for all but Config
  std::int32_t recordLen = 0;
};

struct PropertyOutcome {
  HRESULT hr = S_OK;
  std::int32_t lastErr = 0;  // the object's LastErr after the call
  std::wstring description;  // why a Value was rejected (hr failed)
};

// answer receives the value, VT_EMPTY when the get failed or the command names
// nothing. lastErr is the object's LastErr before the call.
PropertyOutcome GetPropertyOf(const PropertyTarget& target, const VARIANT& command, VARIANT* answer,
                              std::int32_t lastErr);
// answer receives whether the set function succeeded; untouched with a failed hr.
PropertyOutcome SetPropertyOf(const PropertyTarget& target, const VARIANT& command, const VARIANT& value,
                              VARIANT_BOOL* answer, std::int32_t lastErr);

// UTF-16 to the ANSI code page, exact or not at all (no best-fit stand-ins),
// cut to maxBytes without leaving half a double-byte character.
bool ToAnsiExact(const wchar_t* text, std::size_t length, std::size_t maxBytes, std::string& out);

// The names table is loaded once per process; these let tests start over
// and count the loads. Not for use while other threads look names up.
void ResetSettingNames();
int SettingNameLoads();

}  // namespace api::automation
