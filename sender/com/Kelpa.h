#pragma once
// The data packager (coclass Kelpa, interface IKelpa): packs a folder into
// an "ILDS" archive, restores one into a folder and lists its entries. It
// only converts the arguments and calls the archive routines of
// core/archive; it holds no data of its own.
#include "core/com/DispatchObject.h"
#include "sender/com/Interfaces.h"

namespace sender {

class Kelpa final : public core::DispatchObject<Kelpa, IKelpa, IID_IKelpa> {
 public:
  static constexpr const wchar_t* kProgId = L"VelmoraCOM.Kelpa";

  HRESULT STDMETHODCALLTYPE AddFiles(BSTR packageFile, BSTR directory, VARIANT_BOOL* result) override;
  // The outcome goes to result, an in/out parameter; the answer is S_OK
  // whatever the outcome.
  HRESULT STDMETHODCALLTYPE RestoreFiles(BSTR packageFile, BSTR directory, VARIANT_BOOL* result) override;
  HRESULT STDMETHODCALLTYPE ListFiles(BSTR packageFile, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE RestoreFilesEx(BSTR packageFile, BSTR directory, VARIANT_BOOL overwrite, BSTR keepList,
                                           LONG fileSeek, VARIANT_BOOL* result) override;
  HRESULT STDMETHODCALLTYPE AddFilesEx(BSTR packageFile, BSTR directory, VARIANT_BOOL append, BSTR prefix,
                                       VARIANT_BOOL zlib, BSTR skipList, VARIANT_BOOL* result) override;

  // Late-bound RestoreFiles: a script passes its variable for the outcome
  // as a reference to a VARIANT, which the type library's VARIANT_BOOL*
  // does not take; the outcome is written back into that VARIANT.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) override;
};

}  // namespace sender
