// IndexSpamFolder over 5,000 messages of 30 KB without a status, against a
// loop that reads each file and writes it twice (the rewrite and the index
// copy); then over the marked folder, against reading the first 4 KB of each
// file (a marked message needs its header block only). Run under Wine with a
// folder argument on a real disk (default: the temporary folder).

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/harness.h"
#include "core/antispam/SpamIndex.h"
#include "core/config/ConfigStore.h"

namespace {

constexpr int Messages = 5000;
constexpr std::size_t MessageBytes = 30 * 1024;

long long Nanoseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return (to.QuadPart - from.QuadPart) * 1000000000LL / frequency.QuadPart;
}

template <class Body>
long long Time(Body&& body) {
  LARGE_INTEGER from, to;
  QueryPerformanceCounter(&from);
  bench::g_sink = bench::g_sink + static_cast<std::uint64_t>(body());
  QueryPerformanceCounter(&to);
  return Nanoseconds(from, to);
}

std::size_t ReadFirst(const std::string& name, std::vector<char>& buffer, std::size_t bytes) {
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD got = 0;
  ReadFile(file, buffer.data(), static_cast<DWORD>(bytes), &got, nullptr);
  CloseHandle(file);
  return got;
}

void WriteWhole(const std::string& name, const char* data, std::size_t bytes) {
  HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD put = 0;
  WriteFile(file, data, static_cast<DWORD>(bytes), &put, nullptr);
  CloseHandle(file);
}

}  // namespace

int main(int argc, char** argv) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string root =
      std::string(argc > 1 ? argv[1] : temp) + "\\bench_spam_" + std::to_string(GetCurrentProcessId()) + "\\";
  const std::string box = root + "box\\", copies = root + "copies\\";
  CreateDirectoryA(root.c_str(), nullptr);
  CreateDirectoryA(box.c_str(), nullptr);
  CreateDirectoryA(copies.c_str(), nullptr);
  CreateDirectoryA((root + "config").c_str(), nullptr);
  core::SetConfigFolder(root + "config\\");

  std::string message = "From: a@example.test\r\nSubject: bench\r\n\r\n";
  while (message.size() < MessageBytes - 5)
    message += "a body line of text, long enough to be typical.....\r\n";
  message.resize(MessageBytes - 5);
  message += "\r\n.\r\n";
  std::vector<std::string> names;
  for (int i = 0; i < Messages; ++i) {
    names.push_back(std::to_string(i) + ".tmp");
    WriteWhole(box + names.back(), message.data(), message.size());
  }

  std::vector<char> buffer(MessageBytes + 4096);
  const long long baseline = Time([&] {
    std::size_t total = 0;
    for (const std::string& name : names) {
      const std::size_t got = ReadFirst(box + name, buffer, buffer.size());
      WriteWhole(copies + name + ".1", buffer.data(), got);
      WriteWhole(copies + name + ".2", buffer.data(), got);
      total += got;
    }
    return total;
  });
  const long long ours = Time([&] { return core::IndexSpamFolder(box, false); });
  bench::Report("spam_index_first_run", ours, baseline);

  const long long headBaseline = Time([&] {
    std::size_t total = 0;
    for (const std::string& name : names)
      total += ReadFirst(box + name, buffer, 4096);
    return total;
  });
  const long long again = Time([&] { return core::IndexSpamFolder(box, false); });
  bench::Report("spam_index_marked_run", again, headBaseline);

  std::string cleanup = "cmd /c rmdir /s /q \"" + root + "\"";
  std::system(cleanup.c_str());
  return 0;
}
