// Fuzz target: FFT over arbitrary sample blocks, filters and output buffers.
// Header bytes choose the size, formats and buffer sizes; the rest are the
// samples. Nothing may be read or written outside the buffers, and a direct
// then inverse transform must give the double samples back.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mosal/FFT.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  Trace::setEnabled(false);
  const unsigned n = 1u << (1 + data[0] % 12);  // 2 .. 4096
  const int inFormat = data[1] % 4;              // 0 is not a format
  const int outFormat = data[2] % 4;
  const unsigned outSize = data[3] * 7u;
  data += 4;
  size -= 4;
  const unsigned len = size > 65536 ? 65536 : static_cast<unsigned>(size);

  FFT f(n, 0);
  DataBuf in(len, 1, len, ALLOC_ONCREATE);
  in.copy(reinterpret_cast<const char*>(data), len);
  DataBuf out(outSize, 2, outSize, ALLOC_ONCREATE);
  f.load(inFormat, &in);
  f.perform(1);
  f.multiply(&in);  // the samples as a filter: any length, any bit pattern
  f.perform(-1);
  f.output(outFormat, &out);
  if (out.getLength() > out.getSize()) __builtin_trap();

  // Finite doubles come back from a round trip.
  std::vector<double> samples(len / sizeof(double));
  std::memcpy(samples.data(), data, samples.size() * sizeof(double));
  bool usable = !samples.empty();
  for (double& v : samples)
    if (!std::isfinite(v) || std::fabs(v) > 1e12) usable = false;
  if (usable) {
    DataBuf doubles(static_cast<unsigned>(samples.size() * sizeof(double)), 3, 65536,
                    ALLOC_ONCREATE);
    doubles.copy(reinterpret_cast<const char*>(samples.data()),
                 static_cast<unsigned>(samples.size() * sizeof(double)));
    DataBuf back(n * sizeof(double), 4, n * sizeof(double), ALLOC_ONCREATE);
    f.load(FFT::FORMAT_DOUBLE, &doubles);
    f.perform(1);
    f.perform(-1);
    f.output(FFT::FORMAT_DOUBLE, &back);
    const unsigned count = samples.size() < n ? static_cast<unsigned>(samples.size()) : n;
    double scale = 1;
    for (unsigned i = 0; i < count; ++i) scale = std::fmax(scale, std::fabs(samples[i]));
    for (unsigned i = 0; i < count; ++i) {
      double v;
      std::memcpy(&v, back.getData() + i * sizeof(double), sizeof v);
      if (std::fabs(v - samples[i]) > 1e-9 * scale * n) __builtin_trap();
    }
  }
  return 0;
}
