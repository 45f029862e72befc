// Fourier, cosine and sine transform routines against their defining sums,
// with work areas of exactly the documented sizes guarded at their ends.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "mosal/FFTRoutines.h"

namespace {

const long double kPiL = 3.141592653589793238462643383279502884L;

// cos and sin of pi * num / den with the argument reduced exactly first.
void cosSinPi(long long num, long long den, long double& c, long double& s) {
  num %= 2 * den;
  if (num < 0) num += 2 * den;
  const long double t = kPiL * static_cast<long double>(num) / static_cast<long double>(den);
  c = std::cos(t);
  s = std::sin(t);
}

std::vector<double> randomData(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  std::vector<double> v(n);
  for (double& x : v) x = d(gen);
  return v;
}

// A work area of `size` elements followed by guard elements that must survive.
template <typename T>
struct Guarded {
  static constexpr int kGuard = 8;
  std::vector<T> v;
  T mark;
  Guarded(size_t size, T m) : v(size + kGuard, m), mark(m), size_(size) {}
  T* data() { return v.data(); }
  bool intact() const {
    for (size_t i = size_; i < v.size(); ++i)
      if (!(v[i] == mark)) return false;
    return true;
  }
  size_t size_;
};

// Documented work-area sizes.
int ipForComplex(int points) {  // 2 + 2^(floor(log2 points) / 2)
  int m = 0;
  while ((1 << (m + 1)) <= points) ++m;
  return 2 + (1 << (m / 2));
}

double maxAbsDiff(const std::vector<double>& a, const std::vector<double>& b) {
  double m = 0;
  for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::fabs(a[i] - b[i]));
  return m;
}

// Tolerance for a transform of n terms of magnitude <= 1.
double tol(int n) { return 1e-13 * n * (1 + std::log2(static_cast<double>(n))); }

// cos and sin of 2 pi t / n for t < n, in long double.
struct Circle {
  std::vector<long double> c, s;
  explicit Circle(long long n) : c(n), s(n) {
    for (long long t = 0; t < n; ++t) cosSinPi(2 * t, n, c[t], s[t]);
  }
};

std::vector<double> directComplex(const std::vector<double>& x, int sign) {
  const long long n = static_cast<long long>(x.size() / 2);
  const Circle circle(n);
  std::vector<double> out(x.size());
  for (long long k = 0; k < n; ++k) {
    long double re = 0, im = 0;
    for (long long j = 0, t = 0; j < n; ++j, t = (t + k) % n) {
      const long double c = circle.c[t], s = sign * circle.s[t];
      re += x[2 * j] * c - x[2 * j + 1] * s;
      im += x[2 * j] * s + x[2 * j + 1] * c;
    }
    out[2 * k] = static_cast<double>(re);
    out[2 * k + 1] = static_cast<double>(im);
  }
  return out;
}

// The packed real spectrum of rdft(n, 1).
std::vector<double> directReal(const std::vector<double>& a) {
  const long long n = static_cast<long long>(a.size());
  const Circle circle(n);
  std::vector<double> out(a.size());
  for (long long k = 0; k <= n / 2; ++k) {
    long double re = 0, im = 0;
    for (long long j = 0, t = 0; j < n; ++j, t = (t + k) % n) {
      re += a[j] * circle.c[t];
      im += a[j] * circle.s[t];
    }
    if (k == 0)
      out[0] = static_cast<double>(re);
    else if (k == n / 2)
      out[1] = static_cast<double>(re);
    else {
      out[2 * k] = static_cast<double>(re);
      out[2 * k + 1] = static_cast<double>(im);
    }
  }
  return out;
}

// Every transform runs on each code path: AVX2 (where the processor has it)
// and portable.
class FFTRoutinesPaths : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    if (MorvaneLib::fftCodePath(GetParam()) < GetParam()) GTEST_SKIP() << "no such unit here";
  }
  void TearDown() override { MorvaneLib::fftCodePath(1); }
};

}  // namespace

TEST_P(FFTRoutinesPaths, ComplexTransformMatchesDirectSumsBothSigns) {
  // Up to 4096 points: past 2048 the vector code permutes in place.
  for (int points = 1; points <= 4096; points *= 2) {
    const int n = 2 * points;
    const std::vector<double> x = randomData(n, points);
    for (int sign : {1, -1}) {
      Guarded<int> ip(ipForComplex(points), -7);
      Guarded<double> w(n / 4 > 0 ? n / 4 : 1, -7.5);
      ip.data()[0] = 0;
      std::vector<double> a = x;
      cdft(n, sign, a.data(), ip.data(), w.data());
      EXPECT_LE(maxAbsDiff(a, directComplex(x, sign)), tol(points)) << points << " sign " << sign;
      EXPECT_TRUE(ip.intact()) << points;
      EXPECT_TRUE(w.intact()) << points;
    }
  }
}

TEST_P(FFTRoutinesPaths, RealTransformMatchesDirectSumsAndInverts) {
  for (int n = 2; n <= 8192; n *= 2) {
    const std::vector<double> x = randomData(n, 100 + n);
    Guarded<int> ip(ipForComplex(n / 2), -3);
    Guarded<double> w(n / 2, 99.0);
    ip.data()[0] = 0;
    std::vector<double> a = x;
    rdft(n, 1, a.data(), ip.data(), w.data());
    EXPECT_LE(maxAbsDiff(a, directReal(x)), tol(n)) << n;

    // The inverse of the definition, then the 2/n normalisation.
    rdft(n, -1, a.data(), ip.data(), w.data());
    for (double& v : a) v *= 2.0 / n;
    EXPECT_LE(maxAbsDiff(a, x), tol(n)) << n;
    EXPECT_TRUE(ip.intact()) << n;
    EXPECT_TRUE(w.intact()) << n;
  }
}

TEST_P(FFTRoutinesPaths, InverseRealTransformFollowsItsFormula) {
  const int n = 64;
  const std::vector<double> in = randomData(n, 7);
  std::vector<double> expect(n);
  for (int j = 0; j < n; ++j) {
    long double v = (in[0] + in[1] * ((j & 1) ? -1.0L : 1.0L)) / 2;
    for (int k = 1; k < n / 2; ++k) {
      long double c, s;
      cosSinPi(2LL * j * k, n, c, s);
      v += in[2 * k] * c + in[2 * k + 1] * s;
    }
    expect[j] = static_cast<double>(v);
  }
  std::vector<int> ip(ipForComplex(n / 2), 0);
  std::vector<double> w(n / 2), a = in;
  rdft(n, -1, a.data(), ip.data(), w.data());
  EXPECT_LE(maxAbsDiff(a, expect), tol(n));
}

// Tables built for a large transform serve smaller ones (and several kinds
// of transform) without being rebuilt; a larger transform rebuilds them.
TEST_P(FFTRoutinesPaths, OneWorkAreaServesSeveralSizesAndKinds) {
  const int big = 1024;
  std::vector<int> ip(ipForComplex(big / 2) + 4, 0);
  std::vector<double> w(big * 5 / 4);
  std::vector<double> a = randomData(big, 1);
  rdft(big, 1, a.data(), ip.data(), w.data());
  EXPECT_EQ(ip[0], big / 4);
  EXPECT_EQ(ip[1], big / 4);
  for (int n = 4; n <= big; n *= 4) {
    const std::vector<double> x = randomData(n, 2 * n);
    std::vector<double> r = x, c = x;
    rdft(n, 1, r.data(), ip.data(), w.data());
    EXPECT_LE(maxAbsDiff(r, directReal(x)), tol(n)) << n;
    cdft(n, -1, c.data(), ip.data(), w.data());
    EXPECT_LE(maxAbsDiff(c, directComplex(x, -1)), tol(n)) << n;
  }
  EXPECT_EQ(ip[0], big / 4);
  // The cosine transform needs a larger cosine table after the same complex one.
  std::vector<double> d = randomData(big, 3);
  ddct(big, -1, d.data(), ip.data(), w.data());
  EXPECT_EQ(ip[0], big / 4);
  EXPECT_EQ(ip[1], big);
  std::vector<double> x = randomData(256, 4), r = x;
  rdft(256, 1, r.data(), ip.data(), w.data());
  EXPECT_LE(maxAbsDiff(r, directReal(x)), tol(256));
}

TEST_P(FFTRoutinesPaths, CosineAndSineTransformsMatchDefinitions) {
  for (int n = 2; n <= 512; n *= 2) {
    const std::vector<double> x = randomData(n, 300 + n);
    std::vector<double> dct2(n), dct3(n), dst2(n), dst3(n);
    for (int k = 0; k < n; ++k) {
      long double s2 = 0, s3 = 0, t2 = 0, t3 = 0;
      for (int j = 0; j < n; ++j) {
        long double c, s;
        cosSinPi(static_cast<long long>(2 * j + 1) * k, 2 * n, c, s);  // pi (j+1/2) k / n
        s2 += x[j] * c;
        cosSinPi(static_cast<long long>(j) * (2 * k + 1), 2 * n, c, s);  // pi j (k+1/2) / n
        s3 += x[j] * c;
      }
      // Sine, second kind: S[k] for 0 < k <= n, S[n] stored at index 0.
      const int kk = k == 0 ? n : k;
      for (int j = 0; j < n; ++j) {
        long double c, s;
        cosSinPi(static_cast<long long>(2 * j + 1) * kk, 2 * n, c, s);
        t2 += x[j] * s;
      }
      // Sine, third kind: A[j] = x[j] for 0 < j < n, A[n] = x[0].
      for (int j = 1; j <= n; ++j) {
        long double c, s;
        cosSinPi(static_cast<long long>(j) * (2 * k + 1), 2 * n, c, s);
        t3 += (j == n ? x[0] : x[j]) * s;
      }
      dct2[k] = static_cast<double>(s2);
      dct3[k] = static_cast<double>(s3);
      dst2[k] = static_cast<double>(t2);
      dst3[k] = static_cast<double>(t3);
    }
    struct Case {
      void (*fn)(int, int, double*, int*, double*);
      int isgn;
      const std::vector<double>* expect;
      const char* name;
    } cases[] = {{ddct, -1, &dct2, "ddct -1"},
                 {ddct, 1, &dct3, "ddct 1"},
                 {ddst, -1, &dst2, "ddst -1"},
                 {ddst, 1, &dst3, "ddst 1"}};
    for (const Case& c : cases) {
      Guarded<int> ip(ipForComplex(n / 2), 5);
      Guarded<double> w(n * 5 / 4, 0.25);
      ip.data()[0] = 0;
      std::vector<double> a = x;
      c.fn(n, c.isgn, a.data(), ip.data(), w.data());
      EXPECT_LE(maxAbsDiff(a, *c.expect), tol(n)) << c.name << " n " << n;
      EXPECT_TRUE(ip.intact() && w.intact()) << c.name << " n " << n;
    }
    // The documented inverses.
    for (auto fn : {ddct, ddst}) {
      std::vector<int> ip(ipForComplex(n / 2), 0);
      std::vector<double> w(n * 5 / 4), a = x;
      fn(n, -1, a.data(), ip.data(), w.data());
      a[0] *= 0.5;
      fn(n, 1, a.data(), ip.data(), w.data());
      for (double& v : a) v *= 2.0 / n;
      EXPECT_LE(maxAbsDiff(a, x), tol(n)) << n;
    }
  }
}

TEST_P(FFTRoutinesPaths, SymmetricTransformsMatchDefinitionsAndKeepToWorkAreas) {
  for (int n = 2; n <= 1024; n *= 2) {
    const std::vector<double> x = randomData(n + 1, 500 + n);
    std::vector<double> cExpect(n + 1), sExpect(n, 0.0);
    for (int k = 0; k <= n; ++k) {
      long double sc = 0, ss = 0;
      for (int j = 0; j <= n; ++j) {
        long double c, s;
        cosSinPi(static_cast<long long>(j) * k, n, c, s);
        sc += x[j] * c;
        if (j >= 1 && j < n) ss += x[j] * s;
      }
      cExpect[k] = static_cast<double>(sc);
      if (k >= 1 && k < n) sExpect[k] = static_cast<double>(ss);
    }
    const int ipSize = ipForComplex(n / 4 > 0 ? n / 4 : 1);
    {
      Guarded<double> a(n + 1, 1.5), t(n / 2 + 1, 2.5), w(n * 5 / 8, 3.5);
      Guarded<int> ip(ipSize, 9);
      for (int i = 0; i <= n; ++i) a.data()[i] = x[i];
      ip.data()[0] = 0;
      dfct(n, a.data(), t.data(), ip.data(), w.data());
      std::vector<double> got(a.data(), a.data() + n + 1);
      EXPECT_LE(maxAbsDiff(got, cExpect), tol(n)) << "dfct " << n;
      EXPECT_TRUE(a.intact() && t.intact() && w.intact() && ip.intact()) << "dfct " << n;
      // Halved ends, twice, give n/2 times the data.
      std::vector<double> b = x;
      b[0] *= 0.5;
      b[n] *= 0.5;
      dfct(n, b.data(), t.data(), ip.data(), w.data());
      b[0] *= 0.5;
      b[n] *= 0.5;
      dfct(n, b.data(), t.data(), ip.data(), w.data());
      for (double& v : b) v *= 2.0 / n;
      EXPECT_LE(maxAbsDiff(b, x), tol(n)) << "dfct inverse " << n;
    }
    {
      Guarded<double> a(n, 1.5), t(n / 2, 2.5), w(n * 5 / 8, 3.5);
      Guarded<int> ip(ipSize, 9);
      for (int i = 0; i < n; ++i) a.data()[i] = x[i];
      ip.data()[0] = 0;
      dfst(n, a.data(), t.data(), ip.data(), w.data());
      std::vector<double> got(a.data(), a.data() + n);
      got[0] = 0;  // scratch
      EXPECT_LE(maxAbsDiff(got, sExpect), tol(n)) << "dfst " << n;
      EXPECT_TRUE(a.intact() && t.intact() && w.intact() && ip.intact()) << "dfst " << n;
    }
  }
}

TEST(FFTRoutines, BitReversalPermutes) {
  for (int points : {2, 8, 16, 32, 512}) {
    int bits = 0;
    while ((1 << bits) < points) ++bits;
    std::vector<double> a(2 * points);
    for (int k = 0; k < points; ++k) {
      a[2 * k] = k;
      a[2 * k + 1] = -k - 0.5;
    }
    std::vector<double> b = a;
    std::vector<int> ip(ipForComplex(points));
    bitrv2(2 * points, ip.data() + 2, a.data());
    bitrv2conj(2 * points, ip.data() + 2, b.data());
    for (int k = 0; k < points; ++k) {
      int r = 0;
      for (int i = 0; i < bits; ++i)
        if (k & (1 << i)) r |= 1 << (bits - 1 - i);
      ASSERT_EQ(a[2 * k], r) << points << " " << k;
      ASSERT_EQ(a[2 * k + 1], -r - 0.5);
      ASSERT_EQ(b[2 * k], r);
      ASSERT_EQ(b[2 * k + 1], r + 0.5);
    }
  }
}

TEST(FFTRoutines, LengthsThatAreNotPowersOfTwoLeaveDataAlone) {
  for (int n : {0, -8, 3, 6, 12, 1000}) {
    std::vector<double> a(1024, 1.25), t(1024, 0), w(2048, 0), copy = a;
    std::vector<int> ip(64, 0);
    cdft(n, 1, a.data(), ip.data(), w.data());
    rdft(n, 1, a.data(), ip.data(), w.data());
    ddct(n, 1, a.data(), ip.data(), w.data());
    ddst(n, -1, a.data(), ip.data(), w.data());
    dfct(n, a.data(), t.data(), ip.data(), w.data());
    dfst(n, a.data(), t.data(), ip.data(), w.data());
    EXPECT_EQ(a, copy) << n;
  }
  // Length 1 is too short for the real transforms.
  std::vector<double> a{2.0, 3.0}, w(4);
  std::vector<int> ip(4, 0);
  rdft(1, 1, a.data(), ip.data(), w.data());
  dfct(1, a.data(), w.data(), ip.data(), w.data());
  EXPECT_EQ(a, (std::vector<double>{2.0, 3.0}));
}

INSTANTIATE_TEST_SUITE_P(Code, FFTRoutinesPaths, testing::Values(1, 0),
                         [](const testing::TestParamInfo<int>& i) {
                           return std::string(i.param == 1 ? "Avx2" : "Portable");
                         });
