#include "sender/com/Kelpa.h"

#include <new>
#include <string>
#include <string_view>

#include "core/archive/ArchiveFormat.h"
#include "core/archive/FolderArchive.h"
#include "core/platform/TextConversion.h"

namespace sender {
namespace {

constexpr DISPID kRestoreFilesId = 202;
constexpr UINT kRestoreFilesArguments = 3;
constexpr DISPID kRestoreFilesResult = 2;  // the parameter's position

VARIANT_BOOL AsVariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// A text argument as the 8-bit text the archive routines take, refused when
// it would name something else: a NUL inside, or a character without an
// exact form in the ANSI code page.
bool TextArgument(BSTR text, std::string& out) {
  const std::wstring_view wide = core::BstrText(text);
  return wide.find(L'\0') == std::wstring_view::npos && core::WideToAnsiExact(wide, out);
}

// A file or folder name: also refused past 255 characters, where a cut
// would name another file.
bool PathArgument(BSTR text, std::string& out) {
  return TextArgument(text, out) && out.size() <= core::kMaxEntryNameLength;
}

// An entry-name prefix: every name made of it and a file name must be one a
// restore accepts, so it may not climb out of the target folder.
bool PrefixArgument(BSTR text, std::string& out) {
  std::string checked;
  return PathArgument(text, out) && (out.empty() || core::CheckEntryName(out + "f", 0, checked));
}

}  // namespace

HRESULT STDMETHODCALLTYPE Kelpa::AddFiles(BSTR packageFile, BSTR directory, VARIANT_BOOL* result) {
  return Guarded(
      [&] {
        std::string package, folder;
        *result = AsVariantBool(PathArgument(packageFile, package) && PathArgument(directory, folder) &&
                                core::PackFolder(package, folder, {}));
        return S_OK;
      },
      result);
}

HRESULT STDMETHODCALLTYPE Kelpa::AddFilesEx(BSTR packageFile, BSTR directory, VARIANT_BOOL append, BSTR prefix,
                                            VARIANT_BOOL zlib, BSTR skipList, VARIANT_BOOL* result) {
  return Guarded(
      [&] {
        std::string package, folder;
        core::PackOptions options;
        options.append = append != VARIANT_FALSE;
        options.compress = zlib != VARIANT_FALSE;
        *result = AsVariantBool(PathArgument(packageFile, package) && PathArgument(directory, folder) &&
                                PrefixArgument(prefix, options.prefix) && TextArgument(skipList, options.skipList) &&
                                core::PackFolder(package, folder, options));
        return S_OK;
      },
      result);
}

HRESULT STDMETHODCALLTYPE Kelpa::RestoreFiles(BSTR packageFile, BSTR directory, VARIANT_BOOL* result) {
  if (result == nullptr) return E_POINTER;
  return Guarded([&] {
    std::string package, folder;
    *result = AsVariantBool(PathArgument(packageFile, package) && PathArgument(directory, folder) &&
                            core::UnpackFolder(package, folder, true, "", 0));
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE Kelpa::RestoreFilesEx(BSTR packageFile, BSTR directory, VARIANT_BOOL overwrite, BSTR keepList,
                                                LONG fileSeek, VARIANT_BOOL* result) {
  return Guarded(
      [&] {
        std::string package, folder, keep;
        *result = AsVariantBool(fileSeek >= 0 && PathArgument(packageFile, package) &&
                                PathArgument(directory, folder) && TextArgument(keepList, keep) &&
                                core::UnpackFolder(package, folder, overwrite != VARIANT_FALSE, keep,
                                                   static_cast<std::uint64_t>(fileSeek)));
        return S_OK;
      },
      result);
}

HRESULT STDMETHODCALLTYPE Kelpa::ListFiles(BSTR packageFile, BSTR* result) {
  return Guarded(
      [&] {
        std::string package, list;
        if (PathArgument(packageFile, package)) core::ListPackage(package, list);
        core::UniqueBstr text = core::AnsiToBstr(list);
        if (!text) throw std::bad_alloc();
        *result = text.release();
        return S_OK;
      },
      result);
}

HRESULT STDMETHODCALLTYPE Kelpa::Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                        VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  using Base = core::DispatchObject<Kelpa, IKelpa, IID_IKelpa>;
  if (id != kRestoreFilesId || params == nullptr || params->rgvarg == nullptr ||
      params->cArgs != kRestoreFilesArguments || params->cNamedArgs > kRestoreFilesArguments) {
    return Base::Invoke(id, iid, locale, flags, params, result, exception, argumentError);
  }
  // Named arguments come first, in the order of their DISPIDs; positional
  // ones follow last to first, so Result is the first of them.
  UINT at = params->cNamedArgs;
  for (UINT named = 0; named < params->cNamedArgs; ++named) {
    if (params->rgdispidNamedArgs != nullptr && params->rgdispidNamedArgs[named] == kRestoreFilesResult) at = named;
  }
  if (at == params->cNamedArgs && params->cNamedArgs != 0) {
    return Base::Invoke(id, iid, locale, flags, params, result, exception, argumentError);
  }
  const VARIANT& argument = params->rgvarg[at];
  const VARTYPE type = V_VT(&argument);
  const bool writeBack = type == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&argument) != nullptr;
  // A reference to a VARIANT_BOOL fits as it is; other references are the
  // dispatcher's to refuse.
  if (!writeBack && (type & VT_BYREF) != 0) {
    return Base::Invoke(id, iid, locale, flags, params, result, exception, argumentError);
  }
  VARIANT_BOOL outcome = VARIANT_FALSE;
  VARIANT adapted[kRestoreFilesArguments];
  for (UINT index = 0; index < kRestoreFilesArguments; ++index)
    adapted[index] = params->rgvarg[index];
  V_VT(&adapted[at]) = VT_BYREF | VT_BOOL;
  V_BOOLREF(&adapted[at]) = &outcome;
  DISPPARAMS call = *params;
  call.rgvarg = adapted;
  const HRESULT answer = Base::Invoke(id, iid, locale, flags, &call, result, exception, argumentError);
  // A value passed by value restores without telling the outcome.
  if (SUCCEEDED(answer) && writeBack) {
    VARIANT* target = V_VARIANTREF(&argument);
    ::VariantClear(target);
    V_VT(target) = VT_BOOL;
    V_BOOL(target) = outcome;
  }
  return answer;
}

}  // namespace sender
