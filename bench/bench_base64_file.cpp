// Base64 of a 100 MB file in lines of 72 characters, the encoder that
// Base64EncodeFile runs, against coreutils "base64 -w 72" on the same file;
// both write to /dev/null. Reading whole lines per block should keep the
// ratio near 1.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/harness.h"
#include "bench/stdio_files.h"
#include "core/mime/TransferCodecs.h"

int main() {
  constexpr std::size_t Size = 100u * 1024u * 1024u;
  constexpr int Repetitions = 5;
  const std::string fileName = "/tmp/bench_base64_" + std::to_string(std::rand()) + ".bin";
  {
    std::vector<char> data(Size);
    for (std::size_t i = 0; i < Size; ++i)
      data[i] = static_cast<char>(i * 131u + (i >> 9));
    std::FILE* file = std::fopen(fileName.c_str(), "wb");
    if (file == nullptr || std::fwrite(data.data(), 1, Size, file) != Size) return 1;
    std::fclose(file);
  }
  std::FILE* null = std::fopen("/dev/null", "wb");
  if (null == nullptr) return 1;

  const long long ours = bench::MedianNanoseconds(Repetitions, [&] {
    bench::StdioSource source(fileName.c_str());
    bench::StdioSink sink(null);
    return core::Base64EncodeStream(source, &sink, nullptr, 0) ? 1 : 0;
  });
  const std::string command = "base64 -w 72 " + fileName + " > /dev/null";
  const long long baseline = bench::MedianNanoseconds(Repetitions, [&] { return std::system(command.c_str()); });

  std::fclose(null);
  std::remove(fileName.c_str());
  bench::Report("base64_file_100mb", ours, baseline);
  return 0;
}
