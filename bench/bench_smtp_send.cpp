// Times one 100 MB message delivered by the SMTP thread against a plain
// blocking send of the same conversation, the text in 2,048-byte parts, both
// to the same sink thread of this program on 127.0.0.1 (220, 250, 250, 250,
// 354, the text discarded, 250, 221). Target: ratio under 1.5. Then the
// time per MB of a 1 MB and a 100 MB message beyond that of an empty one,
// which must stay within 1.2x of each other (the text is walked once).
//   scripts/wine-run.sh build/windows64/bench/bench_smtp_send.exe

#include <winsock2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/harness.h"
#include "bench/smtp_sink.h"
#include "core/platform/Handles.h"
#include "sender/net/SmtpClientThread.h"

namespace {

constexpr int Rounds = 5;

// A message of lines of 76 characters, with the end mark.
std::string Message(std::size_t megabytes) {
  std::string line(76, 'x');
  line += "\r\n";
  std::string text;
  text.reserve(megabytes << 20);
  while (text.size() + line.size() + 3 < (megabytes << 20))
    text += line;
  return text + ".\r\n";
}

long long Nanoseconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
}

using bench::Sink;

long long SendByThread(const std::string& text) {
  Sink sink;
  std::string copy = text;  // the thread takes the text; copying is not measured
  const auto start = std::chrono::steady_clock::now();
  auto thread =
      sender::SmtpClientThread::Create("", "127.0.0.1", "", std::move(copy), sink.port, "<s@b>", "<r@b>", "").thread;
  if (!thread) return 0;
  thread->WaitFor();
  const long long elapsed = Nanoseconds(start);
  if (!thread->Sent()) std::printf("not sent: %s\n", thread->LastReply().c_str());
  return elapsed;
}

long long SendPlain(const std::string& text) {
  Sink sink;
  const auto start = std::chrono::steady_clock::now();
  bench::SendPlainly(sink.port, text);
  return Nanoseconds(start);
}

long long Median(std::vector<long long> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

}  // namespace

int main() {
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 2), &data);
  const std::string big = Message(100), small = Message(1), empty = ".\r\n";

  // Round by round, so a change in the machine's load touches all alike.
  std::vector<long long> ours, plain, ours1, ours0, plain1, plain0;
  for (int r = 0; r < Rounds; ++r) {
    ours.push_back(SendByThread(big));
    plain.push_back(SendPlain(big));
    for (int i = 0; i < 5; ++i) {
      ours1.push_back(SendByThread(small));
      ours0.push_back(SendByThread(empty));
      plain1.push_back(SendPlain(small));
      plain0.push_back(SendPlain(empty));
    }
  }
  bench::Report("smtp_send_100MB", Median(ours), Median(plain));
  // Per MB of text: what a message costs beyond an empty one (connection,
  // thread, five round trips), for 1 MB against a hundredth of 100 MB; the
  // plain sends show what the loopback itself gives for the same pair.
  const auto perMB = [](const std::vector<long long>& one, const std::vector<long long>& hundred,
                        const std::vector<long long>& none, const char* name) {
    const long long fixed = Median(none);
    bench::Report(name, Median(one) - fixed, (Median(hundred) - fixed) / 100);
  };
  perMB(ours1, ours, ours0, "smtp_send_per_MB_1MB_vs_100MB");
  perMB(plain1, plain, plain0, "plain_send_per_MB_1MB_vs_100MB");
  ::WSACleanup();
  return 0;
}
