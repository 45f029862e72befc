// ConfigTable setInt/getInt pairs per second against a std::mutex-guarded
// std::unordered_map<std::string, int> doing the same work in the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "RatioReporter.h"
#include "mosal/ConfigTable.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

const unsigned kKeys = 64;

std::vector<std::string> makeKeys() {
  std::vector<std::string> keys;
  for (unsigned i = 0; i < kKeys; ++i) keys.push_back("property.name." + std::to_string(i));
  return keys;
}

// One item = one setInt and one getInt of the same key.
void BM_ConfigTable_SetGetInt(benchmark::State& state) {
  const std::vector<std::string> keys = makeKeys();
  ConfigTable table(256);
  for (const std::string& k : keys) table.setInt(k.c_str(), 0);
  unsigned i = 0;
  int sum = 0;
  for (auto _ : state) {
    const char* key = keys[i % kKeys].c_str();
    table.setInt(key, static_cast<int>(i));
    int v = 0;
    table.getInt(key, &v);
    sum += v;
    ++i;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ConfigTable_SetGetInt);

void BM_MutexUnorderedMap_SetGetInt(benchmark::State& state) {
  const std::vector<std::string> keys = makeKeys();
  std::mutex m;
  std::unordered_map<std::string, int> map;
  for (const std::string& k : keys) map[k] = 0;
  unsigned i = 0;
  int sum = 0;
  for (auto _ : state) {
    // The same interface as the table's: keys arrive as C strings.
    const char* key = keys[i % kKeys].c_str();
    {
      std::lock_guard<std::mutex> l(m);
      map[key] = static_cast<int>(i);
    }
    int v = 0;
    {
      std::lock_guard<std::mutex> l(m);
      auto it = map.find(key);
      if (it != map.end()) v = it->second;
    }
    sum += v;
    ++i;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_MutexUnorderedMap_SetGetInt);

// Both sides must store and read back the same values before they are timed.
bool sameResults() {
  ConfigTable table(256);
  std::unordered_map<std::string, int> map;
  const std::vector<std::string> keys = makeKeys();
  for (unsigned i = 0; i < 1000; ++i) {
    const std::string& k = keys[(i * 7) % kKeys];
    table.setInt(k.c_str(), static_cast<int>(i));
    map[k] = static_cast<int>(i);
  }
  for (const std::string& k : keys) {
    int v = -1;
    if (table.getInt(k.c_str(), &v) != 0 || v != map[k]) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Trace::setEnabled(false);
  if (!sameResults()) {
    std::fprintf(stderr, "ConfigTableBench: table and map disagree\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  reporter.addPair("BM_ConfigTable_SetGetInt", "BM_MutexUnorderedMap_SetGetInt");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  benchmark::Shutdown();
  return 0;
}
