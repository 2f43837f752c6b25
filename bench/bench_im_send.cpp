// Instant messages: 10,000 SendMessage calls on one IMMessage (the account
// cache warm, the recipient offline) against 10,000 rounds of what the
// store needs at least: reading "Last.dat" and appending the same element
// with CreateFile, WriteFile and CloseHandle; in alternating rounds of
// 1,000. Then EncodeXMLText over 1 MB and 32 MB (2^20 and 2^25 characters)
// of "&<é" text: the time per MB of each against a plain copy of the same
// text and against a fill of a string of the result's size, and of the one
// against the other.
// Runs under Wine; writes the sending library's registry value while it
// runs.
#include <windows.h>

#include <cstdint>
#include <string>

#include "bench/bench_files.h"
#include "bench/harness.h"
#include "core/startup/LibraryStart.h"
#include "sender/com/IMMessage.h"
#include "sender/config/SendingConfig.h"
#include "sender/im/PendingMessage.h"
#include "sender/im/XmlText.h"
#include "tests/support/records.h"

namespace {

constexpr int Rounds = 10, PerRound = 1000;

void WriteText(const std::string& path, const std::string& text) {
  core::WriteFileAtomic(path, text.data(), text.size());
}

// The least a store needs: the number read, the element appended.
std::uint64_t ReadAndAppend(const std::string& last, const std::string& pending, const std::string& element) {
  char line[256];
  DWORD got = 0;
  HANDLE file = CreateFileA(last.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ReadFile(file, line, sizeof line, &got, nullptr);
  CloseHandle(file);
  file = CreateFileA(pending.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, element.data(), static_cast<DWORD>(element.size()), &written, nullptr);
  CloseHandle(file);
  return got + written;
}

BSTR Bstr(const wchar_t* text) { return SysAllocString(text); }

void Encoding() {
  long long perMegabyte[2] = {};
  int i = 0;
  for (const std::size_t megabytes : {1u, 32u}) {
    std::u16string text;
    while (text.size() < megabytes << 20)
      text += u"&<\u00E9";
    text.resize(megabytes << 20);
    const int repetitions = megabytes == 1 ? 64 : 4;
    const auto [ours, copy] = bench::AlternatingMedians(
        repetitions, [&] { return sender::EncodeXMLText(text).size(); }, [&] { return std::u16string(text).size(); });
    perMegabyte[i++] = ours / static_cast<long long>(megabytes);
    const std::string name = "encode_per_mb_" + std::to_string(megabytes) + "mb_vs_copy";
    bench::Report(name.c_str(), ours / static_cast<long long>(megabytes), copy / static_cast<long long>(megabytes));
    // The result is 11 bytes per 3 characters, the copy 6: a fill of the
    // result's size shows what the memory alone costs.
    const std::size_t size = sender::EncodeXMLText(text).size();
    const long long fill = bench::MedianNanoseconds(repetitions, [&] { return std::string(size, 'x').size(); });
    const std::string against = "encode_per_mb_" + std::to_string(megabytes) + "mb_vs_result_sized_fill";
    bench::Report(against.c_str(), ours / static_cast<long long>(megabytes), fill / static_cast<long long>(megabytes));
  }
  bench::Report("encode_per_mb_1mb_vs_32mb", perMegabyte[0], perMegabyte[1]);
}

}  // namespace

int main() {
  core::StartLibraryUnits(core::SendingProfile);
  const std::string root = bench::TempBenchFolder("im-send");
  const std::string config = root + "config\\", box = root + "mail\\a.test\\ann\\~IM\\";
  CreateDirectoryA(config.c_str(), nullptr);
  CreateDirectoryA((config + "a.test").c_str(), nullptr);
  for (const char* folder : {"mail", "mail\\a.test", "mail\\a.test\\ann", "mail\\a.test\\ann\\~IM"})
    CreateDirectoryA((root + folder).c_str(), nullptr);
  records::SettingsFile settings(1);
  settings.U8(records::settings::FirstProcessor, 0);
  WriteText(config + "settings.cfg", settings.Scrambled());
  WriteText(config + "domains.cfg", records::DomainEntry("a.test"));
  bench::WriteAccountFile(config + "a.test\\users.cfg", 1, [](std::uint32_t, std::uint8_t* r) {
    bench::PutText(r, records::user::Aliases, "ann");
    bench::PutText(r, records::user::MailboxPath, "a.test\\ann");
  });
  WriteText(box + "Last.dat", "0\r\n");
  const bench::MachineText installDir(sender::SendingInstallKey, sender::InstallDirValue, root);

  void* out = nullptr;
  if (core::CreateComObject<sender::IMMessage>(IID_IIMMessage, &out) != S_OK) return 1;
  IIMMessage* im = static_cast<IIMMessage*>(out);
  BSTR to = Bstr(L"ann@a.test"), body = Bstr(L"hello &<\u00E9 from the benchmark");
  im->put_MessageTo(to);
  im->put_MessageBody(body);
  VARIANT_BOOL sent = VARIANT_FALSE;
  if (im->SendMessage(&sent) != S_OK || sent != VARIANT_TRUE) return 1;  // the account cache warm

  sender::ImFields fields{.body = u"hello &<\u00E9 from the benchmark", .to = u"ann@a.test"};
  std::string element;
  sender::BuildPendingMessage(fields, "20240131T09:05:07", element);
  const auto [ours, baseline] = bench::AlternatingMedians(
      Rounds,
      [&] {
        int ok = 0;
        for (int i = 0; i < PerRound; ++i)
          ok += im->SendMessage(&sent) == S_OK && sent == VARIANT_TRUE;
        return ok;
      },
      [&] {
        std::uint64_t bytes = 0;
        for (int i = 0; i < PerRound; ++i)
          bytes += ReadAndAppend(box + "Last.dat", box + "Baseline.dat", element);
        return bytes;
      });
  bench::Report("im_send_1000_vs_read_and_append", ours, baseline);
  im->Release();
  SysFreeString(to);
  SysFreeString(body);
  core::DeleteDirectory(root, "*.*", true);

  Encoding();
  return 0;
}
