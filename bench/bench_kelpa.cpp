// The data packager under Wine (build the windows64 preset first):
//  - ListFiles of a 100,000-entry archive through IKelpa against reading the
//    same file in 64 KiB blocks (target 2x);
//  - AddFiles and RestoreFiles of a generated 200 MB tree through
//    kelpa_tool.exe (VelmoraCOM.dll in a process of its own) against
//    ilds_tool.exe pack and unpack of the same tree, both started the same
//    way (target 1.05x); a restore overwrites the same folder each round.
// Each pair alternates round by round; medians.
#include <windows.h>

#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "VelmoraCOM.h"
#include "bench/harness.h"

namespace {

std::wstring Windows(const char* path) {
  std::wstring text = L"Z:";
  for (const char* c = path; *c != 0; ++c)
    text += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
  return text;
}

bool WriteWhole(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
  CloseHandle(file);
  return ok;
}

std::uint64_t ReadInBlocks(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  std::vector<char> block(64 * 1024);
  std::uint64_t total = 0;
  DWORD got = 0;
  while (ReadFile(file, block.data(), static_cast<DWORD>(block.size()), &got, nullptr) && got > 0)
    total += got + static_cast<unsigned char>(block[0]);
  CloseHandle(file);
  return total;
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// Runs a program to its end; its exit status.
DWORD Run(std::wstring command) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return 99;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 99;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

void DeleteTree(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        DeleteTree(folder + L"\\" + name);
      } else {
        DeleteFileW((folder + L"\\" + name).c_str());
      }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

int main() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring work = std::wstring(temp) + L"bench_kelpa-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(work.c_str(), nullptr);
  const std::wstring dll = Windows(VELMORA_DLL_PATH), kelpaTool = Windows(KELPA_TOOL_PATH),
                     ildsTool = Windows(ILDS_TOOL_PATH);

  // 100,000 raw entries of 64 bytes each.
  std::string archive("ILDS\x05\0\0\0\0\x02\0\0\0", 13);
  for (int i = 0; i < 100000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "d%02d\\f%06d", i % 50, i);
    archive += static_cast<char>(std::strlen(name));
    archive += name;
    archive += std::string("\x40\0\0\0", 4) + std::string(64, static_cast<char>('a' + i % 26));
  }
  const std::wstring listed = work + L"\\list.ilds";
  if (!WriteWhole(listed, archive)) return 1;

  HMODULE module = LoadLibraryW(dll.c_str());
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get =
      module == nullptr
          ? nullptr
          : reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  IClassFactory* factory = nullptr;
  IKelpa* kelpa = nullptr;
  if (get == nullptr || FAILED(get(CLSID_Kelpa, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
      FAILED(factory->CreateInstance(nullptr, IID_IKelpa, reinterpret_cast<void**>(&kelpa)))) {
    std::fprintf(stderr, "bench_kelpa: cannot load %ls\n", dll.c_str());
    return 1;
  }
  factory->Release();
  BSTR file = SysAllocString(listed.c_str());
  // Short runs on a loaded machine: the fastest of many rounds tells the
  // cost of each, the medians what a caller sees.
  std::vector<long long> lists, reads;
  for (int round = 0; round < 25; ++round) {
    lists.push_back(bench::MedianNanoseconds(1, [&] {
      BSTR text = nullptr;
      kelpa->ListFiles(file, &text);
      const UINT length = SysStringLen(text);
      SysFreeString(text);
      return length;
    }));
    reads.push_back(bench::MedianNanoseconds(1, [&] { return ReadInBlocks(listed); }));
  }
  std::sort(lists.begin(), lists.end());
  std::sort(reads.begin(), reads.end());
  bench::Report("bench_kelpa ListFiles of 100,000 entries against 64 KiB reads, medians (target 2)", lists[12],
                reads[12]);
  bench::Report("bench_kelpa ListFiles of 100,000 entries against 64 KiB reads, fastest (target 2)", lists[0],
                reads[0]);
  SysFreeString(file);
  kelpa->Release();

  // A 200 MB tree of 400 files: text, random bytes and zeros.
  std::mt19937 random(7);
  std::string text;
  while (text.size() < (1u << 20))
    text += "line " + std::to_string(random() % 100000) + " of the mail server's data\r\n";
  std::string noise(1u << 20, '\0');
  for (char& c : noise)
    c = static_cast<char>(random());
  const std::wstring tree = work + L"\\tree";
  CreateDirectoryW(tree.c_str(), nullptr);
  for (int i = 0; i < 400; ++i) {
    const std::wstring folder = tree + L"\\d" + std::to_wstring(i % 20);
    CreateDirectoryW(folder.c_str(), nullptr);
    std::string bytes;
    while (bytes.size() < 500 * 1024)
      bytes += i % 3 == 0 ? text : i % 3 == 1 ? noise : std::string(1u << 20, '\0');
    bytes.resize(500 * 1024 + static_cast<std::size_t>(i));
    if (!WriteWhole(folder + L"\\f" + std::to_wstring(i) + L".dat", bytes)) return 1;
  }
  const std::wstring ours = work + L"\\ours.ilds", theirs = work + L"\\theirs.ilds";
  const std::wstring kelpaRun = Quoted(kelpaTool) + L" " + Quoted(dll), ildsRun = Quoted(ildsTool);
  bool ok = true;
  // The side that runs first changes every round: a run pays for writing
  // back the 200 MB the run before it wrote.
  const auto [add, pack] = bench::AlternatingMedians(
      5, [&] { return ok &= Run(kelpaRun + L" add " + Quoted(ours) + L" " + Quoted(tree)) == 0; },
      [&] { return ok &= Run(ildsRun + L" pack " + Quoted(theirs) + L" " + Quoted(tree)) == 0; }, true);
  bench::Report("bench_kelpa AddFiles of 200 MB against ilds_tool pack (target 1.05)", add, pack);
  const auto [restore, unpack] = bench::AlternatingMedians(
      5, [&] { return ok &= Run(kelpaRun + L" restore " + Quoted(ours) + L" " + Quoted(work + L"\\out")) == 0; },
      [&] { return ok &= Run(ildsRun + L" unpack " + Quoted(theirs) + L" " + Quoted(work + L"\\base")) == 0; }, true);
  bench::Report("bench_kelpa RestoreFiles of 200 MB against ilds_tool unpack (target 1.05)", restore, unpack);
  DeleteTree(work);
  if (!ok) std::fprintf(stderr, "bench_kelpa: a pack or restore failed\n");
  return ok ? 0 : 1;
}
