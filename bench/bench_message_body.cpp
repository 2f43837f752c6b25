// ReadMessageBody over a message whose text part is 20 MB of base64 lines,
// against a bare line read (getline) of the same file. The walk decodes each
// line, so some cost over the bare read is expected; a large ratio means
// lines are copied or scanned more than once.

#include <stdio.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/harness.h"
#include "bench/stdio_files.h"
#include "core/mime/MessageBody.h"

int main() {
  constexpr std::size_t PartSize = 20u * 1024u * 1024u;
  constexpr int Repetitions = 5;
  const std::string fileName = "/tmp/bench_body_" + std::to_string(std::rand()) + ".eml";
  {
    std::FILE* file = std::fopen(fileName.c_str(), "wb");
    if (file == nullptr) return 1;
    std::fputs(
        "From: a@example.org\r\nSubject: big\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
        "--b\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n\r\n",
        file);
    const std::string line = "VGhlIHF1aWNrIGJyb3duIGZveCBqdW1wcyBvdmVyIHRoZSBsYXp5IGRvZy4gVGhlIHF1aWNr\r\n";
    for (std::size_t written = 0; written < PartSize; written += line.size())
      std::fputs(line.c_str(), file);
    std::fputs("--b--\r\n", file);
    std::fclose(file);
  }

  const long long ours = bench::MedianNanoseconds(Repetitions, [&] {
    bench::StdioSource source(fileName.c_str());
    core::LineReader reader(source);
    std::string text;
    std::int32_t index = 0;
    core::ReadMessageBody(reader, text, 0, "", index);
    return text.size();
  });
  const long long baseline = bench::MedianNanoseconds(Repetitions, [&] {
    std::FILE* file = std::fopen(fileName.c_str(), "rb");
    char* line = nullptr;
    std::size_t capacity = 0;
    std::size_t total = 0;
    for (ssize_t got; (got = getline(&line, &capacity, file)) >= 0;)
      total += static_cast<std::size_t>(got);
    std::free(line);
    std::fclose(file);
    return total;
  });

  std::remove(fileName.c_str());
  bench::Report("message_body_20mb", ours, baseline);
  return 0;
}
