#include "sender/com/IMMessage.h"

#include <new>
#include <string>
#include <string_view>

#include "core/db/DbLibrary.h"
#include "core/platform/Handles.h"
#include "core/platform/TextConversion.h"
#include "sender/config/SendingConfig.h"
#include "sender/im/ImStore.h"

namespace sender {
namespace {

// The live objects. The back end is process-wide: it goes with the last
// object, and a creation waits for that unload to end before its own load
// connects it again.
SRWLOCK g_liveLock = SRWLOCK_INIT;
std::size_t g_live = 0;

VARIANT_BOOL AsVariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// A BSTR is UTF-16 on Windows; a null one is the empty text.
std::u16string Text(BSTR text) {
  const std::wstring_view wide = core::BstrText(text);
  return std::u16string(reinterpret_cast<const char16_t*>(wide.data()), wide.size());
}

}  // namespace

IMMessage::IMMessage() noexcept {
  {
    core::ExclusiveSrwGuard guard(g_liveLock);
    ++g_live;
  }
  try {
    loaded_ = LoadSendingConfig();
  } catch (...) {
    loaded_ = false;
  }
}

IMMessage::~IMMessage() {
  core::ExclusiveSrwGuard guard(g_liveLock);
  if (--g_live != 0) return;
  try {
    core::UnloadDBLibrary();
  } catch (...) {
  }
}

HRESULT IMMessage::Get(Field field, BSTR* value) {
  return Guarded(
      [&] {
        std::u16string copy;
        {
          core::SharedSrwGuard guard(lock_);
          copy = fields_.*field;
        }
        core::UniqueBstr text =
            core::WideToBstr(std::wstring_view(reinterpret_cast<const wchar_t*>(copy.data()), copy.size()));
        if (!text) throw std::bad_alloc();
        *value = text.release();
        return S_OK;
      },
      value);
}

HRESULT IMMessage::Put(Field field, BSTR value) {
  return Guarded([&] {
    std::u16string text = Text(value);
    core::ExclusiveSrwGuard guard(lock_);
    (fields_.*field).swap(text);
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE IMMessage::Reset() {
  return Guarded([&] {
    ImFields empty;
    core::ExclusiveSrwGuard guard(lock_);
    std::swap(fields_, empty);
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE IMMessage::AddAttribute(BSTR attribute, BSTR value) {
  return Guarded([&] {
    std::pair<std::u16string, std::u16string> pair{Text(attribute), Text(value)};
    core::ExclusiveSrwGuard guard(lock_);
    fields_.attributes.push_back(std::move(pair));
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE IMMessage::AddTag(BSTR tag) {
  return Guarded([&] {
    const std::u16string text = Text(tag);
    core::ExclusiveSrwGuard guard(lock_);
    fields_.raw += text;
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE IMMessage::SendMessage(VARIANT_BOOL* result) {
  return Guarded(
      [&] {
        if (!loaded_) return S_OK;
        ImFields copy;
        {
          core::SharedSrwGuard guard(lock_);
          copy = fields_;
        }
        *result = AsVariantBool(WritePendingMessage(copy));
        return S_OK;
      },
      result);
}

HRESULT STDMETHODCALLTYPE IMMessage::IsOnline(BSTR email, VARIANT_BOOL* result) {
  return Guarded(
      [&] {
        *result = AsVariantBool(loaded_ && IsRecipientOnline(Text(email)));
        return S_OK;
      },
      result);
}

}  // namespace sender
