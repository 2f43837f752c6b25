#pragma once
// Automation strings in the COM client tests: an owned BSTR for an
// argument, and the text of a BSTR a method answered (freed).
#include <oleauto.h>
#include <windows.h>

#include <string>

namespace testing_support {

struct Bstr {
  explicit Bstr(const std::wstring& text) : value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(value); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR value;
};

inline std::wstring Take(BSTR text) {
  std::wstring value(text, SysStringLen(text));
  SysFreeString(text);
  return value;
}

// ASCII text widened character by character.
inline std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace testing_support
