#pragma once
// The two operations of the plug-in over the host's table, each in its own
// apartment turn with its own APIObject; and the texts that travel between
// the host's 8-bit variables and the object's BSTRs and VARIANTs.
#include <windows.h>
// (after windows.h, which it needs)
#include <oleauto.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "core/platform/TextConversion.h"
#include "include/Pellacor.h"

namespace pellacor {

// module holds the string table of the variables' names.
std::int32_t SetSetting(HMODULE module, PellacorHostTable* table);
std::int32_t GetSetting(HMODULE module, PellacorHostTable* table);

// A host text (at most 255 bytes of the ANSI code page) as a BSTR; empty
// when it has no exact UTF-16 form.
bool HostTextToBstr(std::string_view text, core::UniqueBstr& out);

// What GetProperty answered, as host text of at most 255 bytes: texts
// through the ANSI code page, numbers in their invariant decimal form, dates
// as "yyyy-mm-dd hh:nn:ss". Empty (VT_EMPTY, VT_NULL) means no value.
enum class ValueText : std::uint8_t { Text, NoValue, Unwritable };
ValueText ResultToHostText(const VARIANT& value, std::string& out);

}  // namespace pellacor
