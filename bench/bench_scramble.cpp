// Scrambles 100 MB with ScrambleBuffer against a plain copy of the same
// bytes. Scrambling is one XOR per byte, so it should run close to memory
// speed; a large ratio means the key lookup is done byte by byte.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bench/harness.h"
#include "core/util/RecordScrambling.h"

int main() {
  constexpr std::size_t Size = 100u * 1024u * 1024u;
  constexpr int Repetitions = 7;
  std::vector<std::uint8_t> source(Size);
  for (std::size_t i = 0; i < Size; ++i)
    source[i] = static_cast<std::uint8_t>(i * 131u + (i >> 9));
  std::vector<std::uint8_t> target(Size);

  // Both bodies touch the same two buffers once each: copy, or scramble in place
  // after an odd start so the key does not line up with the buffer.
  std::memcpy(target.data(), source.data(), Size);
  const long long ours = bench::MedianNanoseconds(Repetitions, [&] {
    core::ScrambleBuffer(target.data(), static_cast<std::ptrdiff_t>(Size), 5);
    return target[Size / 2];
  });

  const long long baseline = bench::MedianNanoseconds(Repetitions, [&] {
    std::memcpy(target.data(), source.data(), Size);
    return target[Size / 3];
  });

  bench::Report("scramble_100mb", ours, baseline);
  return 0;
}
