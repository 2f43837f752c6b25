#pragma once
// Minimal timing harness: runs a body N times, takes the median wall time
// and prints "name ours=<ns> baseline=<ns> ratio=<ours/baseline>".

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

namespace bench {

// Keeps results alive so the optimiser cannot drop the measured work.
inline volatile std::uint64_t g_sink = 0;

// The middle sample (of an even count, the upper of the two middle ones).
inline long long Median(std::vector<long long> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

template <class Body>
long long MedianNanoseconds(int repetitions, Body&& body) {
  std::vector<long long> samples;
  samples.reserve(static_cast<std::size_t>(repetitions));
  for (int r = 0; r < repetitions; ++r) {
    const auto start = std::chrono::steady_clock::now();
    g_sink = g_sink + static_cast<std::uint64_t>(body());
    const auto stop = std::chrono::steady_clock::now();
    samples.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(stop - start).count());
  }
  return Median(std::move(samples));
}

// Medians of ours and of the baseline measured in turn, round by round, so
// a change in the machine's load touches both alike. With swapOrder the
// side that runs first changes every round (ours in even rounds), for work
// that pays for what the run before it left behind.
template <class Ours, class Baseline>
std::pair<long long, long long> AlternatingMedians(int rounds, Ours&& ours, Baseline&& baseline,
                                                   bool swapOrder = false) {
  std::vector<long long> a, b;
  for (int r = 0; r < rounds; ++r) {
    const bool oursFirst = !swapOrder || r % 2 == 0;
    if (oursFirst) a.push_back(MedianNanoseconds(1, ours));
    b.push_back(MedianNanoseconds(1, baseline));
    if (!oursFirst) a.push_back(MedianNanoseconds(1, ours));
  }
  return {Median(std::move(a)), Median(std::move(b))};
}

inline void Report(const char* name, long long ours, long long baseline) {
  const double ratio = baseline > 0 ? static_cast<double>(ours) / static_cast<double>(baseline) : 0.0;
  std::printf("%s ours=%lld baseline=%lld ratio=%.2f\n", name, ours, baseline, ratio);
}

}  // namespace bench
