// Reading a 4 MiB file in 4 KiB blocks: FileInputStream into a DataBuf
// against C stdio's fread (the usual buffered reader), both from the page
// cache; and writing it back through FileOutputStream against fwrite.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "RatioReporter.h"
#include "mosal/DataBuf.h"
#include "mosal/Trace.h"
#include "mosal_posix/Stream.h"

using namespace MorvaneLib;

namespace {

const unsigned kFile = 4u << 20;
const unsigned kBlock = 4096;

std::string g_path;

void makeFile() {
  char tmpl[] = "/tmp/mosal-bench-XXXXXX";
  int fd = mkstemp(tmpl);
  g_path = tmpl;
  std::vector<char> block(kBlock, 'm');
  for (unsigned done = 0; done < kFile; done += kBlock)
    if (write(fd, block.data(), kBlock) != static_cast<ssize_t>(kBlock)) std::abort();
  close(fd);
}

void BM_FileInputStream(benchmark::State& state) {
  Trace::setEnabled(false);
  DataBuf buf(kBlock, 0, 65536, ALLOC_ONCREATE);
  for (auto _ : state) {
    FileInputStream in(g_path.c_str());
    long total = 0;
    int n;
    while ((n = in.read(&buf)) > 0) total += n;
    if (total != kFile) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFile);
}

void BM_Fread(benchmark::State& state) {
  std::vector<char> buf(kBlock);
  for (auto _ : state) {
    FILE* f = std::fopen(g_path.c_str(), "rb");
    long total = 0;
    size_t n;
    while ((n = std::fread(buf.data(), 1, kBlock, f)) > 0) total += static_cast<long>(n);
    std::fclose(f);
    if (total != kFile) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFile);
}

void BM_FileOutputStream(benchmark::State& state) {
  Trace::setEnabled(false);
  std::vector<char> block(kBlock, 'w');
  std::string out = g_path + ".out";
  for (auto _ : state) {
    FileOutputStream o(out.c_str());
    for (unsigned done = 0; done < kFile; done += kBlock) o.write(block.data(), kBlock);
  }
  unlink(out.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFile);
}

void BM_Fwrite(benchmark::State& state) {
  std::vector<char> block(kBlock, 'w');
  std::string out = g_path + ".out";
  for (auto _ : state) {
    // "r+" like the stream: overwrite in place, no truncation.
    FILE* f = std::fopen(out.c_str(), "r+b");
    if (f == nullptr) f = std::fopen(out.c_str(), "w+b");
    for (unsigned done = 0; done < kFile; done += kBlock) std::fwrite(block.data(), 1, kBlock, f);
    std::fclose(f);
  }
  unlink(out.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFile);
}

BENCHMARK(BM_FileInputStream);
BENCHMARK(BM_Fread);
BENCHMARK(BM_FileOutputStream);
BENCHMARK(BM_Fwrite);

}  // namespace

int main(int argc, char** argv) {
  makeFile();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  reporter.addPair("BM_FileInputStream", "BM_Fread");
  reporter.addPair("BM_FileOutputStream", "BM_Fwrite");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  benchmark::Shutdown();
  unlink(g_path.c_str());
  return 0;
}
