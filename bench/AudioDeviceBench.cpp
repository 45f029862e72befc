// Speed of the audio library's hot paths against outside baselines: the peak
// level against std::minmax_element over the same samples, a block write
// against a bare write(2) of the same block to /dev/null.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/AudioDevice.h"
#include "mosal/DataBuf.h"

using MorvaneLib::ALLOC_ONCREATE;
using MorvaneLib::DataBuf;

namespace {

const unsigned kBlock = 4096;  // 2048 samples: about a quarter second at 8 kHz

double gPeakOurs, gPeakBase, gWriteOurs, gWriteBase;  // ns per operation

// Times the benchmark loop so the ratios can be printed after the run.
class LoopTimer {
 public:
  LoopTimer(benchmark::State& state, double* nsPerOp)
      : state_(state), out_(nsPerOp), start_(std::chrono::steady_clock::now()) {}
  ~LoopTimer() {
    std::chrono::duration<double, std::nano> d = std::chrono::steady_clock::now() - start_;
    if (state_.iterations() > 0) *out_ = d.count() / static_cast<double>(state_.iterations());
  }

 private:
  benchmark::State& state_;
  double* out_;
  std::chrono::steady_clock::time_point start_;
};

void fill(DataBuf* buf) {
  int16_t* p = reinterpret_cast<int16_t*>(buf->getData());
  unsigned seed = 12345;
  for (unsigned i = 0; i < kBlock / 2; ++i) {
    seed = seed * 1103515245u + 12345u;
    p[i] = static_cast<int16_t>(seed >> 16);
  }
  buf->setLength(kBlock);
}

void BM_FilterPowerLevel(benchmark::State& state) {
  DataBuf buf(kBlock, 1, kBlock, ALLOC_ONCREATE);
  fill(&buf);
  {
    LoopTimer t(state, &gPeakOurs);
    for (auto _ : state) benchmark::DoNotOptimize(FilterPowerLevel(&buf));
  }
  state.SetBytesProcessed(state.iterations() * kBlock);
}

// Baseline: the standard library's minmax over the samples, then the same halving.
void BM_StdMinmaxPeak(benchmark::State& state) {
  DataBuf buf(kBlock, 1, kBlock, ALLOC_ONCREATE);
  fill(&buf);
  const int16_t* p = reinterpret_cast<const int16_t*>(buf.getData());
  LoopTimer t(state, &gPeakBase);
  for (auto _ : state) {
    auto mm = std::minmax_element(p, p + kBlock / 2);
    int peak = std::max(-static_cast<int>(*mm.first), static_cast<int>(*mm.second));
    benchmark::DoNotOptimize(peak / 2);
  }
  state.SetBytesProcessed(state.iterations() * kBlock);
}

void BM_AudioDeviceWrite(benchmark::State& state) {
  audio_device_t dev;
  std::memset(&dev, 0, sizeof dev);
  dev.fdOut = open("/dev/null", O_WRONLY);
  dev.oblocksz = kBlock;
  DataBuf buf(kBlock, 1, kBlock, ALLOC_ONCREATE);
  fill(&buf);
  {
    LoopTimer t(state, &gWriteOurs);
    for (auto _ : state) benchmark::DoNotOptimize(AudioDeviceWrite(&dev, &buf));
  }
  close(dev.fdOut);
}

// Baseline: one write(2) of the block, no padding check and no space query.
void BM_RawWrite(benchmark::State& state) {
  int fd = open("/dev/null", O_WRONLY);
  std::vector<char> block(kBlock, 1);
  {
    LoopTimer t(state, &gWriteBase);
    for (auto _ : state) benchmark::DoNotOptimize(write(fd, block.data(), block.size()));
  }
  close(fd);
}

BENCHMARK(BM_FilterPowerLevel)->MinTime(0.2);
BENCHMARK(BM_StdMinmaxPeak)->MinTime(0.2);
BENCHMARK(BM_AudioDeviceWrite)->MinTime(0.2);
BENCHMARK(BM_RawWrite)->MinTime(0.2);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (gPeakBase > 0 && gWriteBase > 0) {
    std::printf("FilterPowerLevel %.1f ns vs std::minmax_element %.1f ns per 4096-byte block: ratio %.2f\n",
                gPeakOurs, gPeakBase, gPeakOurs / gPeakBase);
    std::printf("AudioDeviceWrite %.1f ns vs write(2) %.1f ns per 4096-byte block: ratio %.2f\n",
                gWriteOurs, gWriteBase, gWriteOurs / gWriteBase);
  }
  return 0;
}
