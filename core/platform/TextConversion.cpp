#include "core/platform/TextConversion.h"

#include <algorithm>
#include <climits>

namespace core {
namespace {

// UTF-8 takes neither WC_NO_BEST_FIT_CHARS nor the used-default pointer (the
// call fails with them); its conversion has no look-alikes to refuse.
bool IsUtf8(UINT codePage) { return codePage == CP_UTF8 || (codePage == CP_ACP && ::GetACP() == CP_UTF8); }

bool Fits(std::size_t size) { return size <= static_cast<std::size_t>(INT_MAX); }

}  // namespace

bool WideToAnsiExact(std::wstring_view text, std::string& out, UINT codePage) {
  out.clear();
  if (text.empty()) return true;
  if (!Fits(text.size())) return false;
  const bool utf8 = IsUtf8(codePage);
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* used = utf8 ? nullptr : &usedDefault;
  const int size = static_cast<int>(text.size());
  const int length = ::WideCharToMultiByte(codePage, flags, text.data(), size, nullptr, 0, nullptr, used);
  if (length <= 0 || usedDefault) return false;
  out.resize(static_cast<std::size_t>(length));
  if (::WideCharToMultiByte(codePage, flags, text.data(), size, out.data(), length, nullptr, used) != length ||
      usedDefault || AnsiToWide(out, codePage) != text) {
    // The way back tells what the flags cannot: a lone surrogate, for one.
    out.clear();
    return false;
  }
  return true;
}

bool WideToAnsiExact(std::u16string_view text, std::string& out, UINT codePage) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  return WideToAnsiExact(std::wstring_view(reinterpret_cast<const wchar_t*>(text.data()), text.size()), out, codePage);
}

std::string WideToAnsi(std::wstring_view text, UINT codePage) {
  if (text.empty() || !Fits(text.size())) return {};
  const DWORD flags = IsUtf8(codePage) ? 0 : WC_NO_BEST_FIT_CHARS;
  const int size = static_cast<int>(text.size());
  const int length = ::WideCharToMultiByte(codePage, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string out(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(codePage, flags, text.data(), size, out.data(), length, nullptr, nullptr);
  return out;
}

std::wstring AnsiToWide(std::string_view text, UINT codePage) {
  if (text.empty() || !Fits(text.size())) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
  return wide;
}

bool AnsiToWideExact(std::string_view text, std::wstring& out, UINT codePage) {
  out.clear();
  if (text.empty()) return true;
  if (!Fits(text.size())) return false;
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) return false;
  out.resize(static_cast<std::size_t>(length));
  if (::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, out.data(), length) != length) {
    out.clear();
    return false;
  }
  return true;
}

std::wstring WidenBytes(std::string_view bytes) {
  std::wstring wide(bytes.size(), L'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i)
    wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
  return wide;
}

std::wstring_view BstrText(BSTR text) noexcept {
  if (text == nullptr) return {};
  return std::wstring_view(text, ::SysStringLen(text));
}

UniqueBstr WideToBstr(std::wstring_view text) {
  if (text.size() > UINT_MAX / sizeof(wchar_t)) return UniqueBstr();
  return UniqueBstr(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

UniqueBstr AnsiToBstr(std::string_view text, UINT codePage) {
  if (!Fits(text.size())) return UniqueBstr();
  const int size = static_cast<int>(text.size());
  // Straight into the BSTR, in one pass for ASCII, which every ANSI code
  // page (and UTF-8) keeps as it is: long texts (archive listings) are common.
  if ((codePage == CP_ACP || codePage == CP_UTF8) &&
      std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    UniqueBstr wide(::SysAllocStringLen(nullptr, static_cast<UINT>(size)));
    if (wide) std::copy(text.begin(), text.end(), wide.get());
    return wide;
  }
  const int length = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  UniqueBstr wide(::SysAllocStringLen(nullptr, static_cast<UINT>(length > 0 ? length : 0)));
  if (wide && length > 0) ::MultiByteToWideChar(codePage, 0, text.data(), size, wide.get(), length);
  return wide;
}

bool BstrToAnsiExact(BSTR text, std::string& out, UINT codePage) {
  return WideToAnsiExact(BstrText(text), out, codePage);
}

std::string BstrToAnsi(BSTR text, UINT codePage) { return WideToAnsi(BstrText(text), codePage); }

}  // namespace core
