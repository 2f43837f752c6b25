// Times Mailer.SendMail of a message with a 50 MB attachment (VelmoraCOM.dll
// through its class factory) to the sink thread of bench/smtp_sink.h,
// against Base64EncodeFile of the same file plus a plain blocking send of
// those bytes to the same sink. Target: ratio under 1.3. Then the time per
// MB of a 1 MB and the 50 MB attachment beyond that of an empty one (within
// 1.2x of each other: the file is read and encoded once), and how far the
// process's working set rose during the first 50 MB send against the
// attachment's size (under 2). A second baseline sends the encoded bytes
// through the SMTP thread itself, which tells the Mailer's own share
// (reading, composing, COM) apart from the thread's (bench_smtp_send).
//   scripts/wine-run.sh build/windows64/bench/bench_mailer.exe
#include <winsock2.h>

#include <oleauto.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "VelmoraCOM.h"
#include "bench/harness.h"
#include "bench/smtp_sink.h"
#include "core/mime/MessageFiles.h"
#include "sender/net/SmtpClientThread.h"

namespace {

constexpr int Rounds = 5;
IClassFactory* g_factory = nullptr;

std::wstring Windows(const char* path) {
  std::wstring text = L"Z:";
  for (const char* c = path; *c != 0; ++c)
    text += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
  return text;
}

bool WriteFile(const std::string& path, std::size_t megabytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::mt19937 random(50);
  std::vector<std::uint32_t> block(1 << 18);  // 1 MB
  bool written = true;
  for (std::size_t i = 0; i < megabytes && written; ++i) {
    for (auto& word : block)
      word = random();
    DWORD done = 0;
    written = ::WriteFile(file, block.data(), 1 << 20, &done, nullptr) && done == 1 << 20;
  }
  CloseHandle(file);
  return written;
}

long long Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
}

long long SendByMailer(const std::string& file) {
  bench::Sink sink;
  IMailer* m = nullptr;
  if (FAILED(g_factory->CreateInstance(nullptr, IID_IMailer, reinterpret_cast<void**>(&m)))) return 0;
  const auto text = [](const std::string& value) {
    return SysAllocString(std::wstring(value.begin(), value.end()).c_str());
  };
  BSTR host = text("127.0.0.1:" + std::to_string(sink.port)), from = text("s@b"), to = text("r@b"), none = text(""),
       attachment = text(file);
  m->put_RemoteHost(host);
  m->put_MailFrom(from);
  m->AddRecipient(to, none);
  if (!file.empty()) m->AddAttachment(attachment);
  VARIANT_BOOL sent = VARIANT_FALSE;
  const auto start = std::chrono::steady_clock::now();
  m->SendMail(&sent);
  const long long elapsed = Since(start);
  if (sent == VARIANT_FALSE) std::printf("not sent: %s\n", file.c_str());
  for (BSTR value : {host, from, to, none, attachment})
    SysFreeString(value);
  m->Release();
  return elapsed;
}

long long SendPlain(const std::string& file) {
  bench::Sink sink;
  const auto start = std::chrono::steady_clock::now();
  std::string encoded;
  if (!file.empty()) core::Base64EncodeFile(file, encoded);
  encoded += ".\r\n";
  bench::SendPlainly(sink.port, encoded);
  return Since(start);
}

long long SendByThread(const std::string& file) {
  bench::Sink sink;
  const auto start = std::chrono::steady_clock::now();
  std::string encoded;
  if (!file.empty()) core::Base64EncodeFile(file, encoded);
  encoded += ".\r\n";
  auto thread =
      sender::SmtpClientThread::Create("", "127.0.0.1", "", std::move(encoded), sink.port, "<s@b>", "<r@b>", "").thread;
  if (thread) thread->WaitFor();
  return Since(start);
}

std::size_t WorkingSet(bool peak) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return peak ? counters.PeakWorkingSetSize : counters.WorkingSetSize;
}

}  // namespace

int main() {
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 2), &data);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  HMODULE module = LoadLibraryW(Windows(VELMORA_DLL_PATH).c_str());
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get =
      module == nullptr
          ? nullptr
          : reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  if (get == nullptr || FAILED(get(CLSID_Mailer, IID_IClassFactory, reinterpret_cast<void**>(&g_factory)))) {
    std::fprintf(stderr, "bench_mailer: cannot load the library\n");
    return 1;
  }
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string base = std::string(temp) + "bench_mailer-" + std::to_string(GetCurrentProcessId());
  const std::string big = base + "-50.bin", small = base + "-1.bin";
  if (!WriteFile(big, 50) || !WriteFile(small, 1)) return 1;

  // The first send of the big file, before anything else held its size.
  const std::size_t before = WorkingSet(false);
  SendByMailer(big);
  const std::size_t rise = WorkingSet(true) - before;

  std::vector<long long> ours, plain, threaded, ours1, ours0, plain1, plain0;
  for (int r = 0; r < Rounds; ++r) {
    ours.push_back(SendByMailer(big));
    plain.push_back(SendPlain(big));
    threaded.push_back(SendByThread(big));
    for (int i = 0; i < 5; ++i) {
      ours1.push_back(SendByMailer(small));
      ours0.push_back(SendByMailer(""));
      plain1.push_back(SendPlain(small));
      plain0.push_back(SendPlain(""));
    }
  }
  bench::Report("mailer_50MB", bench::Median(ours), bench::Median(plain));
  bench::Report("mailer_50MB_vs_thread", bench::Median(ours), bench::Median(threaded));
  const auto perMB = [](const std::vector<long long>& one, const std::vector<long long>& fifty,
                        const std::vector<long long>& none, const char* name) {
    const long long fixed = bench::Median(none);
    bench::Report(name, bench::Median(one) - fixed, (bench::Median(fifty) - fixed) / 50);
  };
  perMB(ours1, ours, ours0, "mailer_per_MB_1MB_vs_50MB");
  perMB(plain1, plain, plain0, "plain_per_MB_1MB_vs_50MB");
  // Bytes the working set rose by, against the attachment's bytes.
  bench::Report("mailer_working_set_rise", static_cast<long long>(rise), 50LL << 20);
  DeleteFileA(big.c_str());
  DeleteFileA(small.c_str());
  g_factory->Release();
  CoUninitialize();
  ::WSACleanup();
  return 0;
}
