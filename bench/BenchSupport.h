// Helpers shared by the benchmark programs: medians of repeated runs and a
// main() preamble that interleaves the contenders on this shared machine.
#ifndef BENCH_BENCHSUPPORT_H
#define BENCH_BENCHSUPPORT_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace bench {

// The middle value of the repetitions (0 when there are none).
template <class T>
T median(std::vector<T> v) {
  if (v.empty()) return T();
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The value below which a share q (0..1) of the samples lie (0 when none).
template <class T>
T percentile(std::vector<T> v, double q) {
  if (v.empty()) return T();
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5);
  return v[i < v.size() ? i : v.size() - 1];
}

// Runs every registered benchmark with random interleaving and aggregates
// only, so that contenders see the same load and medians are compared.
inline void runInterleaved(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  static char brief[] = "--benchmark_report_aggregates_only=true";
  args.push_back(interleave);
  args.push_back(brief);
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}

}  // namespace bench

#endif
