// Speed of FileCopyThread against std::filesystem::copy_file: one 4 MiB file
// copied per iteration to a fresh destination (both sides remove it first),
// including the hand-over to the thread and back.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "mosal/FileCopyThread.h"
#include "mosal/Trace.h"

namespace {

const size_t kFileSize = 4u << 20;
std::string gDir;
double gOurs, gBase;  // ns per copy

std::string makeSource() {
  if (gDir.empty()) {
    char tmpl[] = "/tmp/filecopy-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) std::abort();
    gDir = tmpl;
    std::vector<char> data(kFileSize);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31);
    FILE* f = std::fopen((gDir + "/src").c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
  }
  return gDir + "/src";
}

void BM_FileCopyThread(benchmark::State& state) {
  std::string src = makeSource(), dst = gDir + "/dst-ours";
  MorvaneLib::FileCopyThread copier("bench");
  unsigned served = 0;
  auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    unlink(dst.c_str());
    copier.copy(src.c_str(), dst.c_str());
    ++served;
    while (copier.getRequestsServed() != served) sched_yield();
  }
  std::chrono::duration<double, std::nano> d = std::chrono::steady_clock::now() - start;
  gOurs = d.count() / static_cast<double>(state.iterations());
  state.SetBytesProcessed(state.iterations() * kFileSize);
}

// Baseline: the standard library's copy of the same file.
void BM_StdCopyFile(benchmark::State& state) {
  std::string src = makeSource(), dst = gDir + "/dst-std";
  auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    unlink(dst.c_str());
    std::filesystem::copy_file(src, dst, std::filesystem::copy_options::overwrite_existing);
  }
  std::chrono::duration<double, std::nano> d = std::chrono::steady_clock::now() - start;
  gBase = d.count() / static_cast<double>(state.iterations());
  state.SetBytesProcessed(state.iterations() * kFileSize);
}

BENCHMARK(BM_FileCopyThread)->MinTime(0.3)->UseRealTime();
BENCHMARK(BM_StdCopyFile)->MinTime(0.3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  MorvaneLib::Trace::setEnabled(false);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (gBase > 0)
    std::printf("FileCopyThread %.0f us vs std::filesystem::copy_file %.0f us per 4 MiB: ratio %.2f\n",
                gOurs / 1000, gBase / 1000, gOurs / gBase);
  if (!gDir.empty()) std::filesystem::remove_all(gDir);
  return 0;
}
