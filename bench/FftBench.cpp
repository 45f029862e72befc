// Real forward FFT of n = 256, 1024, 4096 doubles: our rdft() against FFTW's
// real-to-complex plans (FFTW_MEASURE, planned before timing). Both sides
// keep the input and produce the spectrum: ours copies the block into its
// in-place work array first, FFTW runs out of place.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "RatioReporter.h"
#include "mosal/FFTRoutines.h"

namespace {

std::vector<double> input(int n) {
  std::vector<double> v(n);
  for (int i = 0; i < n; ++i) v[i] = std::sin(0.01 * i * i) + 0.5 * std::cos(0.3 * i);
  return v;
}

int ipSize(int n) {
  int m = 0;
  while ((2 << m) <= n / 2) ++m;
  return 2 + (1 << (m / 2));
}

void BM_Rdft_Mosal(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> in = input(n);
  std::vector<double> a(n), w(n / 2);
  std::vector<int> ip(ipSize(n), 0);
  a = in;
  rdft(n, 1, a.data(), ip.data(), w.data());  // builds the tables
  for (auto _ : state) {
    std::memcpy(a.data(), in.data(), n * sizeof(double));
    rdft(n, 1, a.data(), ip.data(), w.data());
    benchmark::DoNotOptimize(a.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Rdft_Mosal)->Arg(256)->Arg(1024)->Arg(4096);

void BM_Rdft_FFTW(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  double* in = fftw_alloc_real(n);
  fftw_complex* out = fftw_alloc_complex(n / 2 + 1);
  fftw_plan plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);  // overwrites in
  const std::vector<double> data = input(n);
  std::memcpy(in, data.data(), n * sizeof(double));
  for (auto _ : state) {
    fftw_execute(plan);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  fftw_destroy_plan(plan);
  fftw_free(out);
  fftw_free(in);
}
BENCHMARK(BM_Rdft_FFTW)->Arg(256)->Arg(1024)->Arg(4096);

// Both sides must compute the same spectrum (FFTW's exponent sign is
// negative: its imaginary parts are the negated ones of rdft).
bool sameSpectrum(int n) {
  const std::vector<double> in = input(n);
  std::vector<double> a = in, w(n / 2);
  std::vector<int> ip(ipSize(n), 0);
  rdft(n, 1, a.data(), ip.data(), w.data());
  std::vector<double> src = in;
  fftw_complex* out = fftw_alloc_complex(n / 2 + 1);
  fftw_plan plan = fftw_plan_dft_r2c_1d(n, src.data(), out, FFTW_ESTIMATE);
  fftw_execute(plan);
  double err = std::fabs(a[0] - out[0][0]) + std::fabs(a[1] - out[n / 2][0]);
  for (int k = 1; k < n / 2; ++k)
    err += std::fabs(a[2 * k] - out[k][0]) + std::fabs(a[2 * k + 1] + out[k][1]);
  fftw_destroy_plan(plan);
  fftw_free(out);
  return err < 1e-9 * n;
}

}  // namespace

int main(int argc, char** argv) {
  for (int n : {256, 1024, 4096})
    if (!sameSpectrum(n)) {
      std::fprintf(stderr, "FftBench: spectra differ from FFTW's for n = %d\n", n);
      return 1;
    }
  std::vector<char*> args = RatioReporter::withRepetitions(argc, argv, "5");
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  RatioReporter reporter;
  for (const char* n : {"256", "1024", "4096"})
    reporter.addPair(std::string("BM_Rdft_Mosal/") + n, std::string("BM_Rdft_FFTW/") + n);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  benchmark::Shutdown();
  return 0;
}
