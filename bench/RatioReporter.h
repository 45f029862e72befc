// RatioReporter: console output of Google Benchmark plus, at the end, the
// speed of each of our benchmarks relative to its outside baseline measured in
// the same run, from CPU times ("ratio" > 1 means ours is faster). With
// repetitions the medians are compared. withRepetitions() adds a default
// repetition count to the command line (the machine is shared; medians of
// several runs are steadier than one run).
#ifndef BENCH_RATIO_REPORTER_H
#define BENCH_RATIO_REPORTER_H

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Compares benchmark `ours` with `baseline` (full names, arguments included).
  void addPair(const std::string& ours, const std::string& baseline) {
    pairs.push_back({ours, baseline});
  }

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      const std::string name = r.run_name.str();
      if (r.run_type == Run::RT_Aggregate) {
        if (r.aggregate_name == "median") {
          times[name] = r.GetAdjustedCPUTime();
          medians[name] = true;
        }
      } else if (!medians[name]) {
        times[name] = r.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // argv plus --benchmark_repetitions=<count> unless the caller gave one.
  static std::vector<char*> withRepetitions(int argc, char** argv, const char* count) {
    static std::string flag;
    std::vector<char*> args(argv, argv + argc);
    for (int i = 1; i < argc; ++i)
      if (std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0) return args;
    flag = std::string("--benchmark_repetitions=") + count;
    args.push_back(&flag[0]);
    return args;
  }

  // Prints one line per pair whose two sides both ran.
  void printRatios() const {
    for (const auto& p : pairs) {
      auto a = times.find(p.first), b = times.find(p.second);
      if (a == times.end() || b == times.end() || a->second <= 0) continue;
      std::printf("ratio %-28s vs %-28s: %.2fx the baseline's speed\n", p.first.c_str(),
                  p.second.c_str(), b->second / a->second);
    }
  }

 private:
  std::vector<std::pair<std::string, std::string>> pairs;
  std::map<std::string, double> times;
  std::map<std::string, bool> medians;
};

#endif
