// Times ApplySystemVariables of a 20 MB ".tmp" message (200,000 lines, one
// in ten holding two variables of the message's headers) against a plain
// line copy of the same file (each line read and written with CRLF through
// the same reader and a 64 KB buffer). The message is put back before each
// round, outside the timing; the header block is read once per run.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "bench/harness.h"
#include "core/config/ConfigStore.h"
#include "core/config/SettingsRecord.h"
#include "core/mime/MessageFiles.h"
#include "core/platform/Files.h"
#include "core/startup/LibraryStart.h"
#include "core/variables/SystemVariables.h"

namespace {

constexpr int LineCount = 200000;

std::string MakeMessage() {
  std::string text = "From: \"Ann Example\" <ann@a.example>\r\nTo: bob@b.example\r\nSubject: The report\r\n\r\n";
  const std::string filler(88, 'x');
  for (int i = 0; i < LineCount; ++i) {
    if (i % 10 == 0) {
      text += "Dear %%To_Alias%%, here is %%Subject%% line " + std::to_string(i) + "\r\n";
    } else {
      text += filler + std::to_string(1000000 + i) + "\r\n";
    }
  }
  return text + ".\r\n";
}

void Write(const std::string& name, const std::string& data) {
  const HANDLE file =
      CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  CloseHandle(file);
}

// The baseline: every line read and written again with CRLF.
std::uint64_t LineCopy(const std::string& from, const std::string& to) {
  core::FileSource source;
  source.Open(from);
  const HANDLE file = CreateFileA(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  core::FileSink sink(file);
  core::LineReader reader(source);
  std::string buffer;
  std::string_view line;
  std::uint64_t lines = 0;
  while (reader.ReadLineView(line)) {
    buffer.append(line);
    buffer += "\r\n";
    ++lines;
    if (buffer.size() >= 64 * 1024) {
      sink.Write(buffer);
      buffer.clear();
    }
  }
  sink.Write(buffer);
  CloseHandle(file);
  return lines;
}

long long Nanoseconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  core::StartLibraryUnits({});
  const std::string folder = bench::TempBenchFolder("vars");
  core::SetShortString(core::Settings().data(), core::cfg::TempFolder, folder + "temp\\");
  const std::string original = folder + "original.tmp", message = folder + "welcome.tmp", copy = folder + "copy.tmp";
  const std::string text = MakeMessage();
  Write(original, text);
  std::printf("message: %zu bytes, %d lines\n", text.size(), LineCount + 5);

  std::vector<long long> ours, baseline;
  for (int round = 0; round < 15; ++round) {
    CopyFileA(original.c_str(), message.c_str(), FALSE);
    core::MessageContext context;
    context.messageFile = message;
    auto start = std::chrono::steady_clock::now();
    if (!core::ApplySystemVariables(context)) std::printf("ApplySystemVariables failed\n");
    ours.push_back(Nanoseconds(start));
    start = std::chrono::steady_clock::now();
    bench::g_sink = bench::g_sink + LineCopy(original, copy);
    baseline.push_back(Nanoseconds(start));
  }
  bench::Report("apply_variables", bench::Median(ours), bench::Median(baseline));

  std::string head;
  core::ReadFileBytes(message, 0, 160, head);
  const std::size_t body = head.find("\r\n\r\n") + 4;
  std::printf("first line: %s\n", head.substr(body, head.find("\r\n", body) - body).c_str());
  for (const std::string& name : {original, message, copy})
    DeleteFileA(name.c_str());
  RemoveDirectoryA((folder + "temp").c_str());
  RemoveDirectoryA(folder.c_str());
  core::StopLibraryUnits();
  return 0;
}
