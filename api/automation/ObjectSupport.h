#pragma once
// What the four automation classes share around the exports: their texts in
// and out, the domain table's names, the list answers and the record address
// of the Data property.
#include <windows.h>
// (after windows.h, which it needs)
#include <oleauto.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "api/automation/PropertyValues.h"

namespace api::automation {

// A text argument as the system code page's 8-bit text. A NUL inside, or a
// character without an exact form there, would name something else: it
// raises core::ComError (E_INVALIDARG) unless the text keeps NULs as they
// are (keepNul; they reach no export as a terminator).
std::string TextArgument(BSTR text, bool keepNul = false);
// An 8-bit text of the system code page as a new BSTR (bad_alloc when no
// memory is left).
BSTR TextAnswer(std::string_view text);

inline VARIANT_BOOL BoolAnswer(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }
// Init and SpamIndexNow take an empty text as none at all.
inline const char* NullWhenEmpty(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

// The name of the domain at index in the domain table; empty when there is
// none (the first domain: index 0).
std::string DomainNameAt(std::int32_t index);

// The list answers (ListAnswerText) of GetDomainList and GetUserList(domain);
// lastErr receives the export's answer. A list that grew between the count
// and the call (-3) is asked once more with a fresh count.
std::string DomainListAnswer(std::int32_t& lastErr);
std::string AccountListAnswer(const std::string& domain, std::int32_t& lastErr);

// GetProperty and SetProperty of every class over its target: lastErr as
// the property values leave it; a value that cannot be converted raises
// core::ComError with the conversion's own HRESULT (lastErr unchanged).
void GetPropertyInto(const PropertyTarget& target, const VARIANT& command, VARIANT* result, std::int32_t& lastErr);
void SetPropertyFrom(const PropertyTarget& target, const VARIANT& command, const VARIANT& value, VARIANT_BOOL* result,
                     std::int32_t& lastErr);

// The Data property: the record's address in a 32-bit process; 0 in a 64-bit
// one, whose addresses do not fit.
LONG RecordAddress(const void* record);

}  // namespace api::automation
