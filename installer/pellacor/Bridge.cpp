#include "installer/pellacor/Bridge.h"

#include <cstdio>
#include <cstring>

#include "TolumCOM.h"
#include "core/platform/Boundary.h"
#include "core/platform/OwnedVariant.h"
#include "installer/pellacor/ComSupport.h"
#include "installer/pellacor/HostTable.h"
#include "installer/pellacor/Resources.h"

namespace pellacor {
namespace {

// The outcomes written into M_ERROR.
constexpr std::string_view Done = "0";
constexpr std::string_view Failed = "1";
constexpr std::string_view Refused = "2";

struct Variables {
  std::string result, setting, buffer;
};

std::string LoadName(HMODULE module, UINT id) {
  char text[MaxText + 1] = {};
  const int length = LoadStringA(module, id, text, sizeof text);
  return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

Variables LoadVariables(HMODULE module) {
  return {LoadName(module, PELLACOR_RESULT_NAME), LoadName(module, PELLACOR_SETTING_NAME),
          LoadName(module, PELLACOR_BUFFER_NAME)};
}

// The host variable as a VARIANT of type BSTR; false when it is longer than
// 255 bytes or has no exact form (it is then refused, never cut).
bool VariableAsCommand(const HostTable& host, const std::string& variable, core::OwnedVariant& out) {
  const std::string_view text = host.Get(variable);
  core::UniqueBstr bstr;
  if (text.size() > MaxText || !HostTextToBstr(text, bstr)) return false;
  out.v.vt = VT_BSTR;
  out.v.bstrVal = bstr.release();
  return true;
}

// A method's Boolean answer; a call that fails counts as false.
template <typename Call>
bool Answer(Call&& call) {
  VARIANT_BOOL answer = VARIANT_FALSE;
  const HRESULT hr = call(&answer);
  return SUCCEEDED(hr) && answer != VARIANT_FALSE;
}

// The one frame of both operations: the apartment, the object and its
// IAPIObject, M_ERROR "0", then work; an exception anywhere puts "1" and
// answers 0. The references go before the apartment does.
template <typename Work>
std::int32_t Operation(HMODULE module, PellacorHostTable* table, Work&& work) {
  if (table == nullptr) return 0;
  return core::AtBoundary(std::int32_t{0}, [&] {
    HostTable host(*table);
    const Variables names = LoadVariables(module);
    const bool ran = core::AtBoundary(false, [&] {
      ComApartment apartment;
      SmartComObject object(CLSID_APIObject);
      const core::UniqueComReference<IAPIObject> api = object.Acquire<IAPIObject>(IID_IAPIObject);
      host.Put(names.result, Done);
      work(host, names, *api.get());
      return true;
    });
    if (ran) return std::int32_t{1};
    host.Put(names.result, Failed);
    return std::int32_t{0};
  });
}

}  // namespace

bool HostTextToBstr(std::string_view text, core::UniqueBstr& out) {
  std::wstring wide;
  if (!core::AnsiToWideExact(text, wide)) return false;
  out = core::WideToBstr(wide);
  return static_cast<bool>(out);
}

ValueText ResultToHostText(const VARIANT& value, std::string& out) {
  out.clear();
  switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return ValueText::NoValue;
    case VT_BSTR: {
      if (!core::BstrToAnsiExact(value.bstrVal, out) || out.size() > MaxText || out.find('\0') != std::string::npos)
        return ValueText::Unwritable;
      return ValueText::Text;
    }
    case VT_DATE: {
      // Whole seconds: the form a set of the same text turns back into
      // the same date.
      SYSTEMTIME time{};
      if (!VariantTimeToSystemTime(value.date, &time)) return ValueText::Unwritable;
      char text[32];
      std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay, time.wHour,
                    time.wMinute, time.wSecond);
      out = text;
      return ValueText::Text;
    }
    default: {
      core::OwnedVariant text;
      if (FAILED(VariantChangeTypeEx(&text.v, const_cast<VARIANT*>(&value), LOCALE_INVARIANT, 0, VT_BSTR)))
        return ValueText::Unwritable;
      return ResultToHostText(text.v, out);
    }
  }
}

std::int32_t SetSetting(HMODULE module, PellacorHostTable* table) {
  return Operation(module, table, [](HostTable& host, const Variables& names, IAPIObject& api) {
    core::OwnedVariant command, value;
    if (!VariableAsCommand(host, names.setting, command) || !VariableAsCommand(host, names.buffer, value)) {
      host.Put(names.result, Refused);
      return;
    }
    if (!Answer([&](VARIANT_BOOL* answer) { return api.Init(nullptr, answer); })) {
      host.Put(names.result, Refused);
      return;
    }
    const bool stored = Answer([&](VARIANT_BOOL* answer) { return api.SetProperty(command.v, value.v, answer); }) &&
                        Answer([&](VARIANT_BOOL* answer) { return api.Save(answer); });
    if (!stored) host.Put(names.result, Refused);
    api.Done();
  });
}

std::int32_t GetSetting(HMODULE module, PellacorHostTable* table) {
  return Operation(module, table, [](HostTable& host, const Variables& names, IAPIObject& api) {
    core::OwnedVariant command;
    if (!VariableAsCommand(host, names.setting, command)) {
      host.Put(names.buffer, "");
      host.Put(names.result, Refused);
      return;
    }
    core::OwnedVariant answer;
    std::string text;
    const HRESULT hr = api.GetProperty(command.v, &answer.v);
    const ValueText kind = FAILED(hr) ? ValueText::NoValue : ResultToHostText(answer.v, text);
    if (kind == ValueText::NoValue) host.Put(names.buffer, "");
    // A text that does not fit its slot is not written; the old value stays.
    if (kind != ValueText::Text || !host.Put(names.buffer, text)) host.Put(names.result, Refused);
  });
}

}  // namespace pellacor
