// Stand-in for the outside pattern library "regex.dll": answers handles and
// compiles nothing. recomp refuses flags without 256 or with a bit outside
// 256|8|4|1, and patterns holding the text of REGEX_STANDIN_REFUSE. Every
// call is logged to the file named by REGEX_STANDIN_LOG:
//   "C handle flags hex-of-pattern", "F handle", "E handle" (unknown or
//   freed), "X" (any regexec call), "M n" (a new most threads inside recomp).
// Variants: REGEX_STANDIN_ZERO (recomp always 0), REGEX_STANDIN_CDECL (the
// caller removes recomp's arguments), REGEX_STANDIN_NO_EXEC (no regexec).
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

namespace {

std::mutex g_mutex;
std::set<std::uintptr_t> g_live;
std::uintptr_t g_next = 0x1000;
std::atomic<int> g_inside{0};
int g_most = 0;

// From the process environment as it is now (the C runtime's copy is taken
// at process start).
std::string Environment(const char* name) {
  char value[1024] = {};
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

void Log(const std::string& line) {
  const std::string name = Environment("REGEX_STANDIN_LOG");
  if (name.empty()) return;
  if (FILE* file = std::fopen(name.c_str(), "ab")) {
    std::fputs((line + "\n").c_str(), file);
    std::fclose(file);
  }
}

std::string Hex(const char* text) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    out.push_back(digits[*p >> 4]);
    out.push_back(digits[*p & 15]);
  }
  return out;
}

std::uintptr_t Compile(const char* pattern, int flags) {
  const int inside = ++g_inside;
  Sleep(1);  // long enough for a second thread to show up inside
  std::lock_guard<std::mutex> hold(g_mutex);
  if (inside > g_most) {
    g_most = inside;
    Log("M " + std::to_string(g_most));
  }
  --g_inside;
  std::uintptr_t handle = 0;
  const std::string refuse = Environment("REGEX_STANDIN_REFUSE");
  const bool refused = (flags & 256) == 0 || (flags & ~(256 | 8 | 4 | 1)) != 0 ||
                       (!refuse.empty() && std::strstr(pattern, refuse.c_str()) != nullptr);
#ifndef REGEX_STANDIN_ZERO
  if (!refused) {
    handle = g_next += 16;
    g_live.insert(handle);
  }
#else
  (void)refused;
  (void)g_next;
#endif
  char head[64];
  std::snprintf(head, sizeof head, "C %llu %d ", static_cast<unsigned long long>(handle), flags);
  Log(head + Hex(pattern));
  return handle;
}

}  // namespace

extern "C" {

#ifdef REGEX_STANDIN_CDECL
__declspec(dllexport) std::uintptr_t __cdecl recomp(const char* pattern, int flags) { return Compile(pattern, flags); }
#else
std::uintptr_t __stdcall recomp(const char* pattern, int flags) { return Compile(pattern, flags); }
#endif

#ifndef REGEX_STANDIN_NO_EXEC
int __stdcall regexec(std::uintptr_t, const char*, int) {
  Log("X");
  return 0;
}
#endif

void __stdcall regfree(std::uintptr_t handle) {
  std::lock_guard<std::mutex> hold(g_mutex);
  Log((g_live.erase(handle) == 1 ? "F " : "E ") + std::to_string(handle));
}

}  // extern "C"
