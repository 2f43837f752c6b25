#include "api/automation/PropertyValues.h"

#include <atomic>
#include <cstring>
#include <memory>

#include "api/Session.h"
#include "api/StateGuard.h"
#include "api/automation/SettingNames.h"
#include "core/config/ConfigStore.h"
#include "core/platform/Files.h"
#include "core/platform/Handles.h"
#include "core/platform/OwnedVariant.h"
#include "core/platform/TextConversion.h"
#include "include/Api.h"

namespace api::automation {
namespace {

// Built aside under the load lock and published whole, so no reader sees
// half a table and two first lookups read the file once.
std::atomic<const SettingNameTable*> g_table{nullptr};
SRWLOCK g_loadLock = SRWLOCK_INIT;
std::atomic<int> g_loads{0};

struct TableOwner {
  ~TableOwner() { delete g_table.exchange(nullptr); }
} g_owner;

// Null while the table is not loaded: before Init, or while the root folder
// is not a full path, no file is read (a relative root would mean the
// caller's current folder) and the next lookup tries again.
const SettingNameTable* Table() {
  if (const SettingNameTable* table = g_table.load(std::memory_order_acquire)) return table;
  core::ExclusiveSrwGuard load(g_loadLock);
  if (const SettingNameTable* table = g_table.load(std::memory_order_acquire)) return table;
  std::string root;
  {
    core::SharedSrwGuard state(StateLock());
    if (!IsInitialised()) return nullptr;
    root = core::RootFolder();
  }
  if (!IsFullFolderPath(root)) return nullptr;
  std::string chosen;
  for (const std::string& candidate : NamesFileCandidates(root))
    if (core::FileExists(candidate)) chosen = candidate;
  std::string image;
  if (!chosen.empty() && !core::ReadFileToString(chosen, false, image)) image.clear();
  auto table = std::make_unique<SettingNameTable>(SettingNameTable::Parse(image));
  g_loads.fetch_add(1);
  g_table.store(table.get(), std::memory_order_release);
  return table.release();
}

// By-reference variants (a script's variables) become their values first:
// their type is what decides the kind.
HRESULT CopyIndirect(core::OwnedVariant& into, const VARIANT& from) {
  return VariantCopyInd(&into.v, const_cast<VARIANT*>(&from));
}

bool TextOf(const VARIANT& from, std::size_t maxBytes, std::string& out) {
  core::OwnedVariant text;
  if (FAILED(VariantChangeType(&text.v, const_cast<VARIANT*>(&from), 0, VT_BSTR))) return false;
  return ToAnsiExact(text.v.bstrVal, SysStringLen(text.v.bstrVal), maxBytes, out);
}

struct Resolved {
  bool known = false;
  std::int32_t id = 0;
  ValueKind kind = ValueKind::Text;
};

// A name of the table, else a number; value is null for a get.
Resolved Resolve(const VARIANT& command, const VARIANT* value) {
  if (command.vt == VT_EMPTY || command.vt == VT_NULL) return {};
  std::string text;
  if (TextOf(command, MaxCommandLength, text)) {
    if (const SettingNameTable* table = Table()) {
      if (const SettingName* row = table->Find(text)) return {true, row->id, row->kind};
    }
  }
  core::OwnedVariant number;
  if (FAILED(VariantChangeType(&number.v, const_cast<VARIANT*>(&command), 0, VT_I4))) return {};
  Resolved r{true, number.v.lVal, ValueKind::Text};
  if (value != nullptr)
    r.kind = value->vt == VT_DATE ? ValueKind::Date : value->vt == VT_BSTR ? ValueKind::Text : ValueKind::Integer;
  return r;
}

// What a command that names nothing answers: as an id that does not exist.
std::int32_t UnknownCommandError() { return IsInitialised() ? API_FAILED : API_NOT_INITIALISED; }

constexpr std::int32_t GetBufferSize = 255;

std::int32_t CallGet(const PropertyTarget& t, std::int32_t id, std::uint8_t* buffer) {
  switch (t.family) {
    case core::SettingFamily::Config:
      return GetConfigSetting(id, buffer, GetBufferSize);
    case core::SettingFamily::Domain:
      return GetDomainSetting(t.record, t.recordLen, id, buffer, GetBufferSize);
    case core::SettingFamily::Account:
      return GetUserSetting(t.record, t.recordLen, id, buffer, GetBufferSize);
    case core::SettingFamily::RemoteAccount:
      return GetRASetting(t.record, t.recordLen, id, buffer, GetBufferSize);
  }
  return API_FAILED;
}

std::int32_t CallSet(const PropertyTarget& t, std::int32_t id, const std::string& bytes) {
  const auto length = static_cast<std::int32_t>(bytes.size());
  switch (t.family) {
    case core::SettingFamily::Config:
      return SetConfigSetting(id, bytes.data(), length);
    case core::SettingFamily::Domain:
      return SetDomainSetting(t.record, t.recordLen, id, bytes.data(), length);
    case core::SettingFamily::Account:
      return SetUserSetting(t.record, t.recordLen, id, bytes.data(), length);
    case core::SettingFamily::RemoteAccount:
      return SetRASetting(t.record, t.recordLen, id, bytes.data(), length);
  }
  return API_FAILED;
}

HRESULT ToBytes(const VARIANT& value, ValueKind kind, std::string& bytes, std::wstring& why) {
  core::OwnedVariant converted;
  switch (kind) {
    case ValueKind::Date: {
      const HRESULT hr = VariantChangeType(&converted.v, const_cast<VARIANT*>(&value), 0, VT_DATE);
      if (FAILED(hr)) {
        why = L"The value is not a date.";
        return hr;
      }
      bytes.assign(reinterpret_cast<const char*>(&converted.v.date), sizeof(double));
      return S_OK;
    }
    case ValueKind::Text: {
      const HRESULT hr = VariantChangeType(&converted.v, const_cast<VARIANT*>(&value), 0, VT_BSTR);
      if (FAILED(hr)) {
        why = L"The value is not a text.";
        return hr;
      }
      if (!ToAnsiExact(converted.v.bstrVal, SysStringLen(converted.v.bstrVal), 255, bytes)) {
        why = L"The value has no exact form as text of the system code page.";
        return DISP_E_TYPEMISMATCH;
      }
      return S_OK;
    }
    case ValueKind::Integer: {
      const HRESULT hr = VariantChangeType(&converted.v, const_cast<VARIANT*>(&value), 0, VT_I4);
      if (FAILED(hr)) {
        why = L"The value is not a 32-bit integer.";
        return hr;
      }
      const auto n = static_cast<std::uint32_t>(converted.v.lVal);
      const char le[4] = {static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                          static_cast<char>(n >> 24)};
      bytes.assign(le, 4);
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

void ToVariant(ValueKind kind, const std::uint8_t* bytes, std::int32_t length, VARIANT* answer) {
  switch (kind) {
    case ValueKind::Date:
      answer->vt = VT_DATE;
      std::memcpy(&answer->date, bytes, sizeof(double));
      return;
    case ValueKind::Text: {
      core::UniqueBstr text =
          core::AnsiToBstr(std::string_view(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length)));
      if (!text) return;
      answer->vt = VT_BSTR;
      answer->bstrVal = text.release();
      return;
    }
    case ValueKind::Integer:
      answer->vt = VT_I4;
      answer->lVal =
          static_cast<LONG>(static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                            static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24);
      return;
  }
}

}  // namespace

bool ToAnsiExact(const wchar_t* text, std::size_t length, std::size_t maxBytes, std::string& out) {
  out.clear();
  std::string bytes;
  if (!core::WideToAnsiExact(std::wstring_view(text, length), bytes)) return false;
  const bool utf8 = GetACP() == CP_UTF8;
  std::size_t cut = 0;
  while (cut < bytes.size()) {
    std::size_t step = 1;
    if (utf8) {
      while (cut + step < bytes.size() && (static_cast<unsigned char>(bytes[cut + step]) & 0xC0) == 0x80)
        ++step;
    } else if (IsDBCSLeadByte(static_cast<BYTE>(bytes[cut])) && cut + 1 < bytes.size()) {
      step = 2;
    }
    if (cut + step > maxBytes) break;
    cut += step;
  }
  bytes.resize(cut);
  out = std::move(bytes);
  return true;
}

PropertyOutcome GetPropertyOf(const PropertyTarget& target, const VARIANT& command, VARIANT* answer,
                              std::int32_t lastErr) {
  PropertyOutcome outcome{S_OK, lastErr, {}};
  VariantInit(answer);
  core::OwnedVariant cmd;
  const Resolved r = SUCCEEDED(CopyIndirect(cmd, command)) ? Resolve(cmd.v, nullptr) : Resolved{};
  if (!r.known) {
    outcome.lastErr = UnknownCommandError();
    return outcome;
  }
  std::uint8_t buffer[GetBufferSize] = {};
  const std::int32_t result = CallGet(target, r.id, buffer);
  if (result >= 0) ToVariant(r.kind, buffer, result > GetBufferSize ? GetBufferSize : result, answer);
  outcome.lastErr = result;
  return outcome;
}

PropertyOutcome SetPropertyOf(const PropertyTarget& target, const VARIANT& command, const VARIANT& value,
                              VARIANT_BOOL* answer, std::int32_t lastErr) {
  PropertyOutcome outcome{S_OK, lastErr, {}};
  core::OwnedVariant cmd;
  core::OwnedVariant val;
  const HRESULT copied = CopyIndirect(val, value);
  const Resolved r = SUCCEEDED(CopyIndirect(cmd, command)) ? Resolve(cmd.v, &val.v) : Resolved{};
  if (!r.known) {
    *answer = VARIANT_FALSE;
    outcome.lastErr = UnknownCommandError();
    return outcome;
  }
  std::string bytes;
  outcome.hr = FAILED(copied) ? copied : ToBytes(val.v, r.kind, bytes, outcome.description);
  if (FAILED(outcome.hr)) {
    if (outcome.description.empty()) outcome.description = L"The value cannot be read.";
    return outcome;
  }
  const std::int32_t result = CallSet(target, r.id, bytes);
  *answer = result >= 0 ? VARIANT_TRUE : VARIANT_FALSE;
  outcome.lastErr = result;
  return outcome;
}

void ResetSettingNames() {
  core::ExclusiveSrwGuard load(g_loadLock);
  delete g_table.exchange(nullptr);
  g_loads.store(0);
}

int SettingNameLoads() { return g_loads.load(); }

}  // namespace api::automation
