// Plays the installer that loads Pellacor.dll: reads blocks from a case
// file (written by pellacor_test.py), builds each block's table, calls the
// export on a thread of the block's kind and prints the answer, the
// thread's apartment afterwards, the table, and what COM saw during the
// call: the plug-in's CoInitialize and CoUninitialize (through an
// initialisation spy) and, on a single-threaded thread, the calls a
// scripted stand-in for APIObject received.
//
//   pellacor_host.exe Pellacor.dll cases.txt
//
// Case file: tab-separated lines; texts escape "\\" and bytes as \xNN.
//   block <title> none|sta|mta      starts a block
//   call get|set|get-set            get-set: a get, then a set on the same table
//   table <capacity> <name slot> <value slot>
//   fill <n>                        n entries "%F<i>%" with empty values
//   entry <name> <value>
//   standin <init> <set> <save> <get> [<text>]   register the stand-in (sta)
//   installdir <folder>|-           the registry's InstallDir before the call
//   snapshot <file> <copy>          copy file after the call
//   timeout <seconds>               of the call (default 120)
//   repeat <n>                      n calls; handles and heap bytes after the 10th and the last
//   run
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TolumCOM.h"
#include "include/Pellacor.h"

namespace {

// ---- texts ------------------------------------------------------------------

std::string Escape(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    char hex[8];
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
      out += '\\';
      ++i;
    } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      out += static_cast<char>(std::strtoul(text.substr(i + 2, 2).c_str(), nullptr, 16));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string Wide(BSTR text) {
  if (text == nullptr) return "null";
  std::string out = "\"";
  for (UINT i = 0; i < SysStringLen(text); ++i) {
    char unit[8];
    if (text[i] >= 0x20 && text[i] < 0x7F && text[i] != '\\') {
      out += static_cast<char>(text[i]);
    } else {
      std::snprintf(unit, sizeof unit, "\\u%04x", static_cast<unsigned>(text[i]));
      out += unit;
    }
  }
  return out + "\"";
}

// What COM saw during one call, in order.
std::vector<std::string> g_log;

// ---- the stand-in -----------------------------------------------------------

struct Script {
  bool init = true;
  std::string set = "true";  // true, false, E_FAIL or date (true, and the value shown as a date)
  bool save = true;
  std::string get = "empty";  // empty, E_FAIL, i4, date or bstr, with text
  std::string text;
  bool withInterface = true;
};

std::string Describe(const VARIANT& value) {
  if (value.vt == VT_BSTR) return "VT_BSTR " + Wide(value.bstrVal);
  return "vt " + std::to_string(value.vt);
}

class StandIn final : public IAPIObject {
 public:
  explicit StandIn(const Script& script) : script_(script) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown || (script_.withInterface && (iid == IID_IAPIObject || iid == IID_IDispatch))) {
      *out = static_cast<IAPIObject*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) {
      g_log.push_back("released");
      delete this;
    }
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return Unexpected("GetTypeInfoCount"); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return Unexpected("GetTypeInfo"); }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return Unexpected("GetIDsOfNames");
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return Unexpected("Invoke");
  }

  HRESULT STDMETHODCALLTYPE Done() override {
    g_log.push_back("Done");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Init(BSTR path, VARIANT_BOOL* result) override {
    g_log.push_back("Init(" + Wide(path) + ")");
    *result = script_.init ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Save(VARIANT_BOOL* result) override {
    g_log.push_back("Save");
    *result = script_.save ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetProperty(VARIANT command, VARIANT value, VARIANT_BOOL* result) override {
    std::string entry = "SetProperty(" + Describe(command) + ", " + Describe(value);
    if (script_.set == "date") {
      // As the administration library reads a text for a date setting.
      VARIANT date;
      VariantInit(&date);
      if (SUCCEEDED(VariantChangeType(&date, &value, 0, VT_DATE))) {
        char text[64];
        std::snprintf(text, sizeof text, " = date %.17g", date.date);
        entry += text;
      }
    }
    g_log.push_back(entry + ")");
    if (script_.set == "E_FAIL") return E_FAIL;
    *result = script_.set == "false" ? VARIANT_FALSE : VARIANT_TRUE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetProperty(VARIANT command, VARIANT* result) override {
    g_log.push_back("GetProperty(" + Describe(command) + ")");
    VariantInit(result);
    if (script_.get == "E_FAIL") return E_FAIL;
    if (script_.get == "i4") {
      result->vt = VT_I4;
      result->lVal = std::atol(script_.text.c_str());
    } else if (script_.get == "date") {
      result->vt = VT_DATE;
      result->date = std::strtod(script_.text.c_str(), nullptr);
    } else if (script_.get == "bstr") {
      const int length =
          MultiByteToWideChar(CP_ACP, 0, script_.text.data(), static_cast<int>(script_.text.size()), nullptr, 0);
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocStringLen(nullptr, static_cast<UINT>(length));
      MultiByteToWideChar(CP_ACP, 0, script_.text.data(), static_cast<int>(script_.text.size()), result->bstrVal,
                          length);
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE UpdateConfiguration() override { return Unexpected("UpdateConfiguration"); }
  HRESULT STDMETHODCALLTYPE ReloadServices() override { return Unexpected("ReloadServices"); }
  HRESULT STDMETHODCALLTYPE BackupConfig(BSTR, VARIANT_BOOL*) override { return Unexpected("BackupConfig"); }
  HRESULT STDMETHODCALLTYPE RestoreConfig(BSTR, VARIANT_BOOL*) override { return Unexpected("RestoreConfig"); }
  HRESULT STDMETHODCALLTYPE SpamIndexNow(BSTR, VARIANT_BOOL*) override { return Unexpected("SpamIndexNow"); }
  HRESULT STDMETHODCALLTYPE GetDomainCount(LONG*) override { return Unexpected("GetDomainCount"); }
  HRESULT STDMETHODCALLTYPE DeleteDomain(BSTR, VARIANT_BOOL*) override { return Unexpected("DeleteDomain"); }
  HRESULT STDMETHODCALLTYPE RenameDomain(BSTR, BSTR, VARIANT_BOOL*) override { return Unexpected("RenameDomain"); }
  HRESULT STDMETHODCALLTYPE get_LastErr(LONG*) override { return Unexpected("LastErr"); }
  HRESULT STDMETHODCALLTYPE GetDomainList(BSTR*) override { return Unexpected("GetDomainList"); }
  HRESULT STDMETHODCALLTYPE GetDomain(LONG, BSTR*) override { return Unexpected("GetDomain"); }
  HRESULT STDMETHODCALLTYPE OpenDomain(BSTR, VARIANT*) override { return Unexpected("OpenDomain"); }
  HRESULT STDMETHODCALLTYPE NewDomain(BSTR, VARIANT*) override { return Unexpected("NewDomain"); }
  HRESULT STDMETHODCALLTYPE GetDomainIndex(BSTR, LONG*) override { return Unexpected("GetDomainIndex"); }

 private:
  static HRESULT Unexpected(const char* name) {
    g_log.push_back(std::string("unexpected ") + name);
    return E_NOTIMPL;
  }
  Script script_;
  LONG references_ = 1;
};

class StandInFactory final : public IClassFactory {
 public:
  explicit StandInFactory(const Script& script) : script_(script) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = (iid == IID_IUnknown || iid == IID_IClassFactory) ? this : nullptr;
    return *out != nullptr ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives on the thread's stack
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* object = new StandIn(script_);
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  Script script_;
};

// The plug-in's own CoInitialize and CoUninitialize during the call.
class Spy final : public IInitializeSpy {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = (iid == IID_IUnknown || iid == IID_IInitializeSpy) ? this : nullptr;
    return *out != nullptr ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE PreInitialize(DWORD, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE PostInitialize(HRESULT hr, DWORD, DWORD) override {
    char text[48];
    std::snprintf(text, sizeof text, "CoInitialize %lx", static_cast<unsigned long>(hr));
    g_log.push_back(text);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE PreUninitialize(DWORD) override {
    g_log.push_back("CoUninitialize");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PostUninitialize(DWORD) override { return S_OK; }
};

// ---- measurements for the repeated calls ------------------------------------

// Wine answers GetProcessHandleCount and the private bytes of
// GetProcessMemoryInfo with 0, so both are counted here: every handle value
// the process can look up, and the bytes in use in every heap of the process
// (the committed private regions would count the stacks of the RPC threads
// that come and go, megabytes at a time).
unsigned long OpenHandles() {
  unsigned long count = 0;
  DWORD flags = 0;
  for (std::uintptr_t value = 4; value < 0x10000; value += 4)
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  return count;
}

std::size_t HeapBytes() {
  HANDLE heaps[256];
  const DWORD n = GetProcessHeaps(256, heaps);
  std::size_t total = 0;
  for (DWORD i = 0; i < n && i < 256; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry))
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
    HeapUnlock(heaps[i]);
  }
  return total;
}

// The least of 20 samples over two seconds: the RPC threads that serve a
// call come and go with handles and heap blocks of their own.
template <typename Measure>
auto Settled(Measure measure) {
  auto least = measure();
  for (int i = 0; i < 19; ++i) {
    Sleep(100);
    least = std::min(least, measure());
  }
  return least;
}

// ---- one block --------------------------------------------------------------

struct Block {
  std::string title, thread, call = "get";
  std::uint32_t capacity = 0, nameSlot = 0, valueSlot = 0;
  std::vector<std::pair<std::string, std::string>> entries;
  bool standIn = false;
  Script script;
  std::string installDir, snapshotFrom, snapshotTo;
  DWORD timeout = 120;
  int repeat = 1;
};

struct Exports {
  PellacorFunction set = nullptr, get = nullptr;
};

void SetInstallDir(const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Parlinex MailServer", 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  if (value == "-")
    RegDeleteValueA(key, "InstallDir");
  else
    RegSetValueExA(key, "InstallDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
}

struct Run {
  const Block* block;
  const Exports* exports;
  std::string line, com, measured;
};

std::string Answers(const Block& b, const Exports& e, PellacorHostTable& table) {
  std::string answers;
  if (b.call == "get" || b.call == "get-set") answers += std::to_string(e.get(&table));
  if (b.call == "get-set") answers += " ";
  if (b.call == "set" || b.call == "get-set") answers += std::to_string(e.set(&table));
  return answers;
}

DWORD WINAPI RunBlock(void* context) {
  Run& run = *static_cast<Run*>(context);
  const Block& b = *run.block;
  if (b.thread == "sta") CoInitialize(nullptr);
  if (b.thread == "mta") CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  StandInFactory factory(b.script);
  DWORD cookie = 0;
  if (b.standIn &&
      FAILED(CoRegisterClassObject(CLSID_APIObject, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie)))
    run.line = "stand-in not registered ";

  std::vector<char> names(std::size_t{b.capacity} * b.nameSlot + 1), values(std::size_t{b.capacity} * b.valueSlot + 1);
  PellacorHostTable table{};
  std::string answers;
  std::map<std::string, int> outcomes;  // of repeated calls
  unsigned long handles10 = 0;
  std::size_t heap10 = 0;
  for (int round = 1; round <= b.repeat; ++round) {
    std::fill(names.begin(), names.end(), 0);
    std::fill(values.begin(), values.end(), 0);
    table.capacity = b.capacity;
    table.nameSlotSize = b.nameSlot;
    table.valueSlotSize = b.valueSlot;
    table.count = static_cast<std::uint32_t>(b.entries.size());
    table.names = names.data();
    table.values = values.data();
    for (std::size_t i = 0; i < b.entries.size() && i < b.capacity; ++i) {
      b.entries[i].first.copy(&names[i * b.nameSlot], b.nameSlot);
      b.entries[i].second.copy(&values[i * b.valueSlot], b.valueSlot);
    }
    g_log.clear();
    Spy spy;
    ULARGE_INTEGER spyCookie{};
    const bool spying = SUCCEEDED(CoRegisterInitializeSpy(&spy, &spyCookie));
    answers = Answers(b, *run.exports, table);
    if (spying) CoRevokeInitializeSpy(spyCookie);
    if (b.repeat > 1) {
      std::string outcome = answers;
      for (std::uint32_t i = 0; i < table.count && i < table.capacity; ++i)
        if (std::strncmp(&names[i * b.nameSlot], "%M_ERROR%", b.nameSlot) == 0)
          outcome +=
              " M_ERROR " + std::string(&values[i * b.valueSlot], strnlen(&values[i * b.valueSlot], b.valueSlot));
      ++outcomes[outcome];
    }
    if (round == 10) {
      handles10 = Settled(OpenHandles);
      heap10 = Settled(HeapBytes);
    }
  }
  if (b.repeat >= 10) {
    for (const auto& [outcome, rounds] : outcomes)
      run.measured += outcome + " x" + std::to_string(rounds) + ", ";
    run.measured += "handles " + std::to_string(handles10) + " " + std::to_string(Settled(OpenHandles)) +
                    ", heap bytes " + std::to_string(heap10) + " " + std::to_string(Settled(HeapBytes));
  }
  if (cookie != 0) CoRevokeClassObject(cookie);

  // The host's apartment afterwards: what a multithreaded initialisation finds.
  std::string apartment;
  const HRESULT probe = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (probe == S_OK) apartment = "none";
  if (probe == S_FALSE) apartment = "mta";
  if (probe == RPC_E_CHANGED_MODE) apartment = "sta";
  if (SUCCEEDED(probe)) CoUninitialize();
  if (b.thread != "none") CoUninitialize();

  run.line += answers + " apartment " + apartment + " count " + std::to_string(table.count);
  for (std::uint32_t i = 0; i < table.count && i < table.capacity; ++i) {
    const std::string name(&names[i * b.nameSlot], strnlen(&names[i * b.nameSlot], b.nameSlot));
    if (name.rfind("%F", 0) == 0 && name.size() > 3 && name[2] >= '0' && name[2] <= '9') continue;  // filler
    run.line += " | " + Escape(name) + "=" +
                Escape(std::string(&values[i * b.valueSlot], strnlen(&values[i * b.valueSlot], b.valueSlot)));
  }
  for (const std::string& entry : g_log)
    run.com += (run.com.empty() ? "" : " | ") + entry;
  return 0;
}

void Execute(const Block& b, const Exports& exports) {
  if (!b.installDir.empty()) SetInstallDir(b.installDir);
  Run run{&b, &exports, {}, {}, {}};
  HANDLE thread = CreateThread(nullptr, 0, RunBlock, &run, 0, nullptr);
  if (WaitForSingleObject(thread, b.timeout * 1000) != WAIT_OBJECT_0) {
    std::printf("%s [%s]: no answer within %lu seconds\n", b.title.c_str(), b.thread.c_str(), b.timeout);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
  }
  CloseHandle(thread);
  if (!b.snapshotFrom.empty()) CopyFileA(b.snapshotFrom.c_str(), b.snapshotTo.c_str(), FALSE);
  std::printf("%s [%s]: %s\n", b.title.c_str(), b.thread.c_str(), run.line.c_str());
  std::printf("%s [%s] com: %s\n", b.title.c_str(), b.thread.c_str(), run.com.c_str());
  if (!run.measured.empty())
    std::printf("%s [%s] measured: %s\n", b.title.c_str(), b.thread.c_str(), run.measured.c_str());
  std::fflush(stdout);
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == '\t')
      fields.emplace_back();
    else
      fields.back() += c;
  }
  return fields;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pellacor_host Pellacor.dll cases.txt\n");
    return 2;
  }
  HMODULE module = LoadLibraryA(argv[1]);
  if (module == nullptr) {
    std::printf("cannot load %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  auto bind = [&](const char* name) {
    return reinterpret_cast<PellacorFunction>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  };
  Exports exports{bind("SetKTZConfigSetting"), bind("GetKTZConfigSetting")};
  if (exports.set == nullptr || exports.set != bind(MAKEINTRESOURCEA(2)) || exports.get == nullptr ||
      exports.get != bind(MAKEINTRESOURCEA(3))) {
    std::printf("the exports differ by name and by ordinal\n");
    return 1;
  }
  std::string strings;
  for (UINT id : {112u, 114u, 115u}) {
    char text[256] = {};
    LoadStringA(module, id, text, sizeof text);
    strings += " " + std::to_string(id) + "=" + text;
  }
  std::printf("strings:%s\n", strings.c_str());
  std::printf("null table: %d %d\n", exports.set(nullptr), exports.get(nullptr));

  // The process keeps a multithreaded apartment for its whole run, as an
  // installer's own threads often do. Without one, Wine 8 starts a host
  // thread for each free-threaded object a single-threaded caller makes and
  // ends it with the last reference; seen hung: the ending thread waits in
  // RpcServerUnregisterIf while the next creation's host thread waits for the
  // interface list the first one holds.
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);

  std::ifstream cases(argv[2], std::ios::binary);
  std::string line;
  auto block = std::make_unique<Block>();
  while (std::getline(cases, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> f = Fields(line);
    if (line.empty()) continue;
    const std::string& what = f[0];
    if (what == "block" && f.size() == 3) {
      block = std::make_unique<Block>();
      block->title = f[1];
      block->thread = f[2];
    } else if (what == "call" && f.size() == 2) {
      block->call = f[1];
    } else if (what == "table" && f.size() == 4) {
      block->capacity = std::strtoul(f[1].c_str(), nullptr, 10);
      block->nameSlot = std::strtoul(f[2].c_str(), nullptr, 10);
      block->valueSlot = std::strtoul(f[3].c_str(), nullptr, 10);
    } else if (what == "fill" && f.size() == 2) {
      for (unsigned long i = 0, n = std::strtoul(f[1].c_str(), nullptr, 10); i < n; ++i)
        block->entries.emplace_back("%F" + std::to_string(i) + "%", "");
    } else if (what == "entry" && f.size() == 3) {
      block->entries.emplace_back(Unescape(f[1]), Unescape(f[2]));
    } else if (what == "standin" && f.size() >= 5) {
      block->standIn = true;
      block->script.init = f[1] == "true";
      block->script.set = f[2];
      block->script.save = f[3] == "true";
      block->script.get = f[4];
      block->script.withInterface = f[4] != "no-interface";
      if (f.size() > 5) block->script.text = Unescape(f[5]);
    } else if (what == "installdir" && f.size() == 2) {
      block->installDir = Unescape(f[1]);
    } else if (what == "snapshot" && f.size() == 3) {
      block->snapshotFrom = Unescape(f[1]);
      block->snapshotTo = Unescape(f[2]);
    } else if (what == "timeout" && f.size() == 2) {
      block->timeout = std::strtoul(f[1].c_str(), nullptr, 10);
    } else if (what == "repeat" && f.size() == 2) {
      block->repeat = std::atoi(f[1].c_str());
    } else if (what == "run") {
      Execute(*block, exports);
    } else {
      std::printf("bad case line: %s\n", Escape(line).c_str());
      return 1;
    }
  }
  SetInstallDir("-");
  CoUninitialize();
  FreeLibrary(module);
  std::printf("done\n");
  return 0;
}
