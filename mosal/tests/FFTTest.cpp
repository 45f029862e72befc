// FFT over sample buffers: sizes, loading and padding, round trips in the
// three formats, spectra against a direct DFT, filtering, bounded output.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "mosal/FFT.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

const double kPi = 3.14159265358979323846;

// A buffer holding `bytes` of raw data, sized exactly.
DataBuf* bufferOf(const void* bytes, unsigned n) {
  DataBuf* b = new DataBuf(n, 1, n, ALLOC_ONCREATE);
  b->copy(static_cast<const char*>(bytes), n);
  return b;
}

std::vector<int16_t> toneS16(unsigned count) {
  std::vector<int16_t> v(count);
  for (unsigned i = 0; i < count; ++i)
    v[i] = static_cast<int16_t>(std::lround(9000 * std::sin(2 * kPi * 3 * i / 37.0) +
                                            5000 * std::cos(2 * kPi * i / 5.0) - 700));
  return v;
}

std::vector<double> doublesOf(const DataBuf& b) {
  std::vector<double> v(b.getLength() / sizeof(double));
  std::memcpy(v.data(), b.getData(), v.size() * sizeof(double));
  return v;
}

class FFTQuiet : public testing::Test {
 protected:
  void SetUp() override { Trace::setEnabled(false); }
  void TearDown() override { Trace::setEnabled(true); }
};

}  // namespace

TEST(FFT, ConstructionTracesSizesAndWorkAreaSize) {
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  FFT f(1024, 10);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(f.getIpSize(), 18u);
  EXPECT_NE(out.find("FFT::FFT(): _fftsz = 1024, _fftlog = 10, _ipsz = 18\n"), std::string::npos)
      << out;
  EXPECT_EQ(f.getDirection(), 1);
  // 2 + 2^(floor(log2(n/2)) / 2) for odd and even logarithms and the smallest size.
  Trace::setEnabled(false);
  EXPECT_EQ(FFT(256, 8).getIpSize(), 2u + 8u);
  EXPECT_EQ(FFT(2048, 0).getIpSize(), 2u + 32u);
  EXPECT_EQ(FFT(2, 1).getIpSize(), 3u);
  Trace::setEnabled(true);
}

TEST(FFT, SizesThatAreNotPowersOfTwoAreRefused) {
  Trace::setEnabled(false);
  for (unsigned n : {0u, 1u, 3u, 1000u, 1023u, 0x80000000u}) {
    try {
      FFT f(n, 0);
      ADD_FAILURE() << "size " << n << " accepted";
    } catch (const LibError& e) {
      EXPECT_STREQ(e.getLocation(), "FFT()");
    }
  }
  Trace::setEnabled(true);
}

TEST(FFT, LoadPadsWithZerosAndTraces) {
  Trace::setEnabled(true);
  FFT f(256, 8);
  std::vector<int16_t> s = toneS16(150);
  DataBuf* in = bufferOf(s.data(), 300);
  testing::internal::CaptureStdout();
  f.load(FFT::FORMAT_S16, in);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(f.getZeroCount(), 106u);
  EXPECT_NE(out.find("FFT::load(): loading 300 data\n"
                     "FFT::load(): samples count 150\n"
                     "FFT::load(): zpadding 106\n"),
            std::string::npos)
      << out;
  Trace::setEnabled(false);
  // The padding really is zeros: a fresh load of fewer samples clears old ones.
  DataBuf* outBuf = new DataBuf(256 * 8, 2, 256 * 8, ALLOC_ONCREATE);
  std::vector<double> full(256, 77.0);
  DataBuf* fullIn = bufferOf(full.data(), 256 * 8);
  f.load(FFT::FORMAT_DOUBLE, fullIn);
  EXPECT_EQ(f.getZeroCount(), 0u);
  f.load(FFT::FORMAT_S16, in);
  f.output(FFT::FORMAT_DOUBLE, outBuf);
  std::vector<double> got = doublesOf(*outBuf);
  ASSERT_EQ(got.size(), 256u);
  for (unsigned i = 0; i < 150; ++i) ASSERT_EQ(got[i], s[i]);
  for (unsigned i = 150; i < 256; ++i) ASSERT_EQ(got[i], 0.0) << i;
  // More samples than the transform holds: the rest is ignored.
  std::vector<uint8_t> many(1000, 200);
  DataBuf* manyIn = bufferOf(many.data(), 1000);
  f.load(FFT::FORMAT_U8, manyIn);
  EXPECT_EQ(f.getZeroCount(), 0u);
  f.output(FFT::FORMAT_DOUBLE, outBuf);
  got = doublesOf(*outBuf);
  for (double v : got) ASSERT_EQ(v, 200.0);
  delete manyIn;
  delete fullIn;
  delete outBuf;
  delete in;
  Trace::setEnabled(true);
}

TEST_F(FFTQuiet, RoundTripReturnsTheSamplesInEveryFormat) {
  for (unsigned n = 4; n <= 4096; n *= 2) {
    FFT f(n, 0);
    const unsigned count = n - n / 4;  // leaves some padding
    std::vector<int16_t> s = toneS16(count);
    DataBuf* in = bufferOf(s.data(), count * 2);
    DataBuf* out = new DataBuf(n * 2, 3, n * 2, ALLOC_ONCREATE);
    f.load(FFT::FORMAT_S16, in);
    f.perform(1);
    f.perform(-1);
    f.output(FFT::FORMAT_S16, out);
    ASSERT_EQ(out->getLength(), n * 2);
    std::vector<int16_t> back(n);
    std::memcpy(back.data(), out->getData(), n * 2);
    for (unsigned i = 0; i < count; ++i) ASSERT_EQ(back[i], s[i]) << n << " at " << i;
    for (unsigned i = count; i < n; ++i) ASSERT_EQ(back[i], 0) << n << " at " << i;
    delete out;
    delete in;

    std::vector<uint8_t> u(n);
    for (unsigned i = 0; i < n; ++i) u[i] = static_cast<uint8_t>((i * 97 + 13) & 0xff);
    in = bufferOf(u.data(), n);
    out = new DataBuf(n, 4, n, ALLOC_ONCREATE);
    f.load(FFT::FORMAT_U8, in);
    f.perform(1);
    f.perform(-1);
    f.output(FFT::FORMAT_U8, out);
    ASSERT_EQ(out->getLength(), n);
    EXPECT_EQ(std::memcmp(out->getData(), u.data(), n), 0) << n;
    delete out;
    delete in;

    std::vector<double> d(n);
    for (unsigned i = 0; i < n; ++i) d[i] = std::sin(0.1 * i * i) * 1e3;
    in = bufferOf(d.data(), n * 8);
    out = new DataBuf(n * 8, 5, n * 8, ALLOC_ONCREATE);
    f.load(FFT::FORMAT_DOUBLE, in);
    f.perform(1);
    f.perform(-1);
    f.output(FFT::FORMAT_DOUBLE, out);
    std::vector<double> got = doublesOf(*out);
    ASSERT_EQ(got.size(), n);
    for (unsigned i = 0; i < n; ++i) ASSERT_NEAR(got[i], d[i], 1e-9) << n << " at " << i;
    delete out;
    delete in;
  }
}

TEST_F(FFTQuiet, DirectTransformGivesThePackedSpectrum) {
  for (unsigned n = 4; n <= 4096; n *= 4) {
    std::vector<double> x(n);
    for (unsigned i = 0; i < n; ++i) x[i] = std::cos(0.37 * i) + 0.25 * ((i * 7) % 5);
    FFT f(n, 0);
    DataBuf* in = bufferOf(x.data(), n * 8);
    DataBuf* out = new DataBuf(n * 8, 6, n * 8, ALLOC_ONCREATE);
    f.load(FFT::FORMAT_DOUBLE, in);
    f.perform(1);
    f.output(FFT::FORMAT_DOUBLE, out);
    std::vector<double> got = doublesOf(*out);
    for (unsigned k = 0; k <= n / 2; ++k) {
      double re = 0, im = 0;
      for (unsigned j = 0; j < n; ++j) {
        const double t = 2 * kPi * ((static_cast<unsigned long long>(j) * k) % n) / n;
        re += x[j] * std::cos(t);
        im += x[j] * std::sin(t);
      }
      const double tol = 1e-9 * n;
      if (k == 0) {
        ASSERT_NEAR(got[0], re, tol);
      } else if (k == n / 2) {
        ASSERT_NEAR(got[1], re, tol);
      } else {
        ASSERT_NEAR(got[2 * k], re, tol) << n << " k " << k;
        ASSERT_NEAR(got[2 * k + 1], im, tol) << n << " k " << k;
      }
    }
    delete out;
    delete in;
  }
}

TEST_F(FFTQuiet, MultiplyFiltersInTheSpectrum) {
  // Two tones; a filter keeping the bins up to 20 removes the upper one.
  const unsigned n = 512;
  std::vector<double> x(n), low(n);
  for (unsigned i = 0; i < n; ++i) {
    low[i] = 100 * std::sin(2 * kPi * 4 * i / n);
    x[i] = low[i] + 50 * std::cos(2 * kPi * 100 * i / n);
  }
  std::vector<double> filter(n, 0.0);
  filter[0] = 1;  // R[0]; filter[1] is R[n/2]
  for (unsigned k = 1; k <= 20; ++k) filter[2 * k] = filter[2 * k + 1] = 1;
  FFT f(n, 9);
  DataBuf* in = bufferOf(x.data(), n * 8);
  DataBuf* fil = bufferOf(filter.data(), n * 8);
  DataBuf* out = new DataBuf(n * 8, 7, n * 8, ALLOC_ONCREATE);
  f.load(FFT::FORMAT_DOUBLE, in);
  f.perform(1);
  f.multiply(fil);
  f.perform(-1);
  f.output(FFT::FORMAT_DOUBLE, out);
  std::vector<double> got = doublesOf(*out);
  for (unsigned i = 0; i < n; ++i) ASSERT_NEAR(got[i], low[i], 1e-9) << i;

  // A filter shorter than the data touches only what it holds.
  f.load(FFT::FORMAT_DOUBLE, in);
  f.perform(1);
  f.output(FFT::FORMAT_DOUBLE, out);
  const std::vector<double> spectrum = doublesOf(*out);
  std::vector<double> half(4, 0.0);
  DataBuf* shortFil = bufferOf(half.data(), 4 * 8);
  f.load(FFT::FORMAT_DOUBLE, in);
  f.perform(1);
  f.multiply(shortFil);
  f.output(FFT::FORMAT_DOUBLE, out);
  got = doublesOf(*out);
  for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(got[i], 0.0);
  for (unsigned i = 4; i < n; ++i) ASSERT_EQ(got[i], spectrum[i]) << i;
  delete shortFil;
  delete out;
  delete fil;
  delete in;
}

TEST(FFT, OutputStaysInsideItsBufferAndClampsToTheFormat) {
  Trace::setEnabled(true);
  const unsigned n = 64;
  FFT f(n, 6);
  std::vector<int16_t> s(n, 30000);  // spectrum R[0] = 64 * 30000 overflows 16 bits
  DataBuf* in = bufferOf(s.data(), n * 2);
  f.load(FFT::FORMAT_S16, in);
  f.perform(1);
  DataBuf* small = new DataBuf(21, 8, 21, ALLOC_ONCREATE);  // 10 samples and a byte
  testing::internal::CaptureStdout();
  f.output(FFT::FORMAT_S16, small);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("FFT::output(): doing output for DIRECT FFT\n"
                     "FFT::output(): samples count 10\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(small->getLength(), 20u);
  int16_t first;
  std::memcpy(&first, small->getData(), 2);
  EXPECT_EQ(first, INT16_MAX);
  // The spectrum of a constant has a DC term only; the rest rounds to zero.
  for (unsigned i = 2; i < 10; ++i) {
    int16_t v;
    std::memcpy(&v, small->getData() + 2 * i, 2);
    EXPECT_EQ(v, 0) << i;
  }
  DataBuf* bytes = new DataBuf(3, 9, 3, ALLOC_ONCREATE);
  Trace::setEnabled(false);
  f.output(FFT::FORMAT_U8, bytes);
  EXPECT_EQ(bytes->getLength(), 3u);
  EXPECT_EQ(static_cast<unsigned char>(bytes->getData()[0]), 255u);
  DataBuf* doubles = new DataBuf(3 * 8 + 7, 10, 3 * 8 + 7, ALLOC_ONCREATE);
  f.output(FFT::FORMAT_DOUBLE, doubles);
  EXPECT_EQ(doubles->getLength(), 24u);
  std::vector<double> got = doublesOf(*doubles);
  EXPECT_DOUBLE_EQ(got[0], 64.0 * 30000);
  // A negative value clamps to 0 in the unsigned format.
  std::vector<double> neg(n, -5.0);
  DataBuf* negIn = bufferOf(neg.data(), n * 8);
  f.load(FFT::FORMAT_DOUBLE, negIn);
  f.perform(1);
  f.perform(-1);
  f.output(FFT::FORMAT_U8, bytes);
  EXPECT_EQ(bytes->getData()[0], 0);
  delete negIn;
  delete doubles;
  delete bytes;
  delete small;
  delete in;
  Trace::setEnabled(true);
}

TEST(FFT, PerformTracesTheDirectionAndOutputScalesAfterInverse) {
  Trace::setEnabled(true);
  FFT f(8, 3);
  std::vector<double> x{1, 2, 3, 4, 5, 6, 7, 8};
  DataBuf* in = bufferOf(x.data(), 64);
  DataBuf* out = new DataBuf(64, 11, 64, ALLOC_ONCREATE);
  f.load(FFT::FORMAT_DOUBLE, in);
  testing::internal::CaptureStdout();
  f.perform(1);
  f.perform(-2);  // any negative sign runs and reports the inverse
  f.output(FFT::FORMAT_DOUBLE, out);
  const std::string trace = testing::internal::GetCapturedStdout();
  EXPECT_NE(trace.find("FFT::perform(): performing DIRECT fft\n"
                       "FFT::perform(): performing INVERSE fft\n"
                       "FFT::output(): doing output for INVERSE FFT\n"),
            std::string::npos)
      << trace;
  EXPECT_EQ(f.getDirection(), -1);
  std::vector<double> got = doublesOf(*out);
  for (unsigned i = 0; i < 8; ++i) EXPECT_NEAR(got[i], x[i], 1e-12);
  delete out;
  delete in;
}
