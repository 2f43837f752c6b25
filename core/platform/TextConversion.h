#pragma once
// Conversions between the system's 8-bit ("ANSI") texts, UTF-16 texts and
// automation strings (BSTR). The exact forms refuse a text that has no
// faithful counterpart (no default character, no best-fit look-alike such as
// a full-width dot for "."), because such a text would name another file,
// domain or account. The code page is a parameter for the tests; callers use
// the system's (CP_ACP).
#include <windows.h>

#include <oleauto.h>

#include <string>
#include <string_view>

#include "core/platform/UniqueResource.h"

namespace core {

inline void FreeBstr(BSTR text) noexcept { ::SysFreeString(text); }
using UniqueBstr = UniqueResource<BSTR, &FreeBstr>;

// The text in codePage only when every character has an exact form there and
// converting back gives the same text. An empty text is exact.
bool WideToAnsiExact(std::wstring_view text, std::string& out, UINT codePage = CP_ACP);
bool WideToAnsiExact(std::u16string_view text, std::string& out, UINT codePage = CP_ACP);

// The text in codePage, a character without a form there as "?" (no
// best-fit look-alikes): for message texts, where a stand-in is expected
// and nothing is named by the text.
std::string WideToAnsi(std::wstring_view text, UINT codePage = CP_ACP);

// The UTF-16 form of an 8-bit text; bytes that are no character of codePage
// become the code page's replacement.
std::wstring AnsiToWide(std::string_view text, UINT codePage = CP_ACP);
// Same, but refuses a text with a byte sequence that is no character there.
bool AnsiToWideExact(std::string_view text, std::wstring& out, UINT codePage = CP_ACP);

// Each byte becomes the UTF-16 unit of the same value (Latin-1), whatever the
// code page: for texts that are bytes rather than characters.
std::wstring WidenBytes(std::string_view bytes);

// Automation strings. A null BSTR is the empty text; an allocation that fails
// answers an empty owner.
std::wstring_view BstrText(BSTR text) noexcept;
UniqueBstr WideToBstr(std::wstring_view text);
UniqueBstr AnsiToBstr(std::string_view text, UINT codePage = CP_ACP);
bool BstrToAnsiExact(BSTR text, std::string& out, UINT codePage = CP_ACP);
std::string BstrToAnsi(BSTR text, UINT codePage = CP_ACP);

}  // namespace core
