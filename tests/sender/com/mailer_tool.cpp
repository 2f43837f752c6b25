// Drives Mailer objects late bound, as a script would, for the oracle test
// and the benchmark: loads VelmoraCOM.dll by path, takes objects from its
// class factory (no registration needed) and runs a job file of lines
// (texts as hexadecimal UTF-8, "-" for an empty one):
//   new                    a fresh Mailer in place of the current one
//   put NAME HEX           property put (IsHTML: "1" or "0")
//   append NAME HEX        property get, then put of the value and the text
//   call NAME [HEX...]     method call
//   get NAME               property get
//   encode NAME HEX        property put of what EncodeHeader makes of the text
//   now                    the time, seconds since 1970 (UTC)
// Each call, get and now writes one line to OUT: the HRESULT in
// hexadecimal, a blank, and the result as hexadecimal UTF-8 (booleans
// "true"/"false").
//   mailer_tool DLL JOB OUT
// Exits 0 when the job ran to its end, 2 otherwise.
#include <windows.h>

#include <oleauto.h>
#include <shellapi.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "VelmoraCOM.h"

namespace {

std::string Unhex(const std::string& hex) {
  std::string bytes;
  if (hex == "-") return bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string Hex(const std::string& bytes) {
  static constexpr char Digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes)
    hex += {Digits[c >> 4], Digits[c & 15]};
  return hex;
}

BSTR WideOf(const std::string& utf8) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(length));
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text, length);
  return text;
}

std::string Utf8Of(const VARIANT& value) {
  if (V_VT(&value) == VT_BOOL) return V_BOOL(&value) != VARIANT_FALSE ? "true" : "false";
  if (V_VT(&value) == VT_I4) return std::to_string(V_I4(&value));
  if (V_VT(&value) != VT_BSTR) return "";
  const BSTR text = V_BSTR(&value);
  const int wide = static_cast<int>(SysStringLen(text));
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, wide, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, wide, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

class Driver {
 public:
  explicit Driver(IClassFactory* factory) : factory_(factory) {}
  ~Driver() {
    if (mailer_ != nullptr) mailer_->Release();
  }

  bool New() {
    if (mailer_ != nullptr) mailer_->Release();
    mailer_ = nullptr;
    return SUCCEEDED(factory_->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&mailer_)));
  }

  // Arguments as given (first to last); answers the HRESULT, result in out.
  HRESULT Invoke(const std::string& name, WORD kind, std::vector<VARIANT> arguments, VARIANT& out) {
    std::wstring wide(name.begin(), name.end());
    LPOLESTR names[] = {wide.data()};
    DISPID id = 0;
    HRESULT answer = mailer_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(answer)) return answer;
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), kind == DISPATCH_PROPERTYPUT ? &putId : nullptr,
                      static_cast<UINT>(reversed.size()), kind == DISPATCH_PROPERTYPUT ? 1u : 0u};
    VariantInit(&out);
    answer = mailer_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params,
                             kind == DISPATCH_PROPERTYPUT ? nullptr : &out, nullptr, nullptr);
    for (VARIANT& argument : arguments)
      VariantClear(&argument);
    return answer;
  }

 private:
  IClassFactory* factory_;
  IDispatch* mailer_ = nullptr;
};

VARIANT Text(const std::string& utf8) {
  VARIANT value;
  V_VT(&value) = VT_BSTR;
  V_BSTR(&value) = WideOf(utf8);
  return value;
}

int Run(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  HMODULE dll = LoadLibraryW(argv[1]);
  if (dll == nullptr) return 2;
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
  IClassFactory* factory = nullptr;
  if (get == nullptr || FAILED(get(CLSID_Mailer, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return 2;
  std::ifstream job{std::filesystem::path(argv[2])};
  std::ofstream out(std::filesystem::path(argv[3]), std::ios::binary);
  int code = 0;
  {
    Driver driver(factory);
    if (!driver.New()) return 2;
    for (std::string line; std::getline(job, line);) {
      std::istringstream words(line);
      std::string verb, name, hex;
      words >> verb >> name;
      std::vector<std::string> arguments;
      while (words >> hex)
        arguments.push_back(Unhex(hex));
      VARIANT result;
      VariantInit(&result);
      HRESULT answer = S_OK;
      if (verb == "new") {
        if (!driver.New()) code = 2;
        continue;
      } else if (verb == "put" && name == "IsHTML") {
        VARIANT flag;
        V_VT(&flag) = VT_BOOL;
        V_BOOL(&flag) = arguments.at(0) == "1" ? VARIANT_TRUE : VARIANT_FALSE;
        answer = driver.Invoke(name, DISPATCH_PROPERTYPUT, {flag}, result);
      } else if (verb == "put") {
        answer = driver.Invoke(name, DISPATCH_PROPERTYPUT, {Text(arguments.at(0))}, result);
      } else if (verb == "now") {
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        const ULONGLONG units = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        out << "00000000 " << Hex(std::to_string(units / 10'000'000ULL - 11'644'473'600ULL)) << '\n';
      } else if (verb == "encode") {
        answer = driver.Invoke("EncodeHeader", DISPATCH_METHOD, {Text(arguments.at(0))}, result);
        const std::string encoded = Utf8Of(result);
        VariantClear(&result);
        if (SUCCEEDED(answer)) answer = driver.Invoke(name, DISPATCH_PROPERTYPUT, {Text(encoded)}, result);
      } else if (verb == "append") {
        answer = driver.Invoke(name, DISPATCH_PROPERTYGET, {}, result);
        const std::string value = Utf8Of(result) + arguments.at(0);
        VariantClear(&result);
        if (SUCCEEDED(answer)) answer = driver.Invoke(name, DISPATCH_PROPERTYPUT, {Text(value)}, result);
      } else if (verb == "call" || verb == "get") {
        std::vector<VARIANT> values;
        for (const std::string& argument : arguments)
          values.push_back(Text(argument));
        answer = driver.Invoke(name, verb == "get" ? DISPATCH_PROPERTYGET : DISPATCH_METHOD, values, result);
        char status[16];
        std::snprintf(status, sizeof status, "%08lx", static_cast<unsigned long>(answer));
        out << status << ' ' << Hex(Utf8Of(result)) << '\n';
      } else {
        code = 2;
      }
      if (FAILED(answer) && verb != "call" && verb != "get") code = 2;
      VariantClear(&result);
    }
  }
  factory->Release();
  return code;
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const int code = argv == nullptr ? 2 : Run(argc, argv);
  LocalFree(argv);
  CoUninitialize();
  return code;
}
