#pragma once
// A VARIANT that clears itself: the one owner of a variant's contents (a
// BSTR, an interface, an array) for the COM classes, their callers and the
// tests.

#include <windows.h>
// windows.h first: oleauto.h needs its types.
#include <oleauto.h>

namespace core {

struct OwnedVariant {
  VARIANT v;
  OwnedVariant() noexcept { VariantInit(&v); }
  ~OwnedVariant() { VariantClear(&v); }
  OwnedVariant(const OwnedVariant&) = delete;
  OwnedVariant& operator=(const OwnedVariant&) = delete;
};

}  // namespace core
