// FFTRoutines: in-place power-of-two Fourier, cosine and sine transforms.
//
// The complex transform reduces the data polynomial level by level (radix 4,
// one twiddle per group of butterflies, a bit-reversed twiddle table), then
// applies the bit-reversal permutation. The real transform runs it on n/2
// points and splits the result; the cosine and sine transforms are built on
// the real transform with one rotation pass and adjacent-pair sums; the
// symmetric transforms recurse on the cosine / sine transforms of half the
// length. On x86 processors with AVX2 and FMA the hot loops run on vectors of
// two complex values; elsewhere portable loops do the same work.
#include "mosal/FFTRoutines.h"

#include <atomic>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#define MOSAL_FFT_X86 1
#include <immintrin.h>
#else
#define MOSAL_FFT_X86 0
#endif

namespace {

constexpr double kPi = 3.14159265358979323846264338327950288;
constexpr double kSqrtHalf = 0.70710678118654752440084436210484904;

inline bool isPow2(int n) { return n > 0 && (n & (n - 1)) == 0; }

inline int log2i(int n) {
  int m = 0;
  while ((1 << m) < n) ++m;
  return m;
}

// Makes sure ip/w hold tables at least as large as needed (sizes in doubles).
void ensureTables(int nwNeed, int ncNeed, int* ip, double* w) {
  int nw = ip[0];
  if (nwNeed > nw || !isPow2(nw)) {
    makewt(nwNeed, ip, w);
    nw = nwNeed;
  }
  if (ncNeed > 0) {
    int nc = ip[1];
    if (ncNeed > nc || !isPow2(nc)) makect(ncNeed, ip, w + nw);
  }
}

struct Cx {
  double r, i;
};

inline Cx add(Cx a, Cx b) { return {a.r + b.r, a.i + b.i}; }
inline Cx sub(Cx a, Cx b) { return {a.r - b.r, a.i - b.i}; }
inline Cx mul(Cx a, double wr, double wi) { return {a.r * wr - a.i * wi, a.r * wi + a.i * wr}; }
// Multiplication by S*i.
template <int S>
inline Cx rot(Cx a) {
  return S > 0 ? Cx{-a.i, a.r} : Cx{a.i, -a.r};
}
inline Cx ld(const double* a, int k) { return {a[2 * k], a[2 * k + 1]}; }
inline void st(double* a, int k, Cx v) {
  a[2 * k] = v.r;
  a[2 * k + 1] = v.i;
}

// ---------------------------------------------------------------- complex core
//
// Data are n complex values, a[2k] real and a[2k+1] imaginary parts; S is the
// sign of the exponent, W = exp(S 2 pi i / n). The transform evaluates the
// polynomial P(z) = sum x[j] z^j at the powers of W by repeated reduction:
// P mod (z^M - c) splits into P mod (z^(M/2) - r) and P mod (z^(M/2) + r)
// with r^2 = c, coefficients p[j] + r p[j + M/2] and p[j] - r p[j + M/2].
// Every group of a level therefore needs one constant twiddle; two levels at
// a time (radix 4) need r = w^2 and w, w^3, w being the group's twiddle.
// Group g (of any level) uses w = W^rev(g), rev over log2(n/4) bits, so one
// table of the n/4 values W^rev(g), g < n/4, serves every level, and its
// first n'/4 entries serve any smaller transform of n' points. After the last
// level position p holds X[rev(p)]; a bit-reversal permutation ends.
//
// The table: w[2g] = cos, w[2g + 1] = sin of 2 pi rev(g) / nt, g < nt/4.

// Exchanges two complex values.
inline void swap16(double* p, double* q) {
  double t[2];
  std::memcpy(t, p, sizeof t);
  std::memcpy(p, q, sizeof t);
  std::memcpy(q, t, sizeof t);
}

// Reverses the bits of the indices of n = 2^m complex values, using
// 2^floor(m/2) ints of scratch for the reversed half-width indices. With
// Conj the imaginary parts are negated as well.
template <bool Conj>
void bitReverse(double* a, int n, int* tab) {
  const int m = log2i(n);
  if (m > 1) {
    const int h = m / 2;
    const int half = 1 << h;        // indices of h bits
    const int high = 1 << (m - h);  // weight of the top h bits
    const int mids = (m & 1) ? 2 : 1;
    tab[0] = 0;
    for (int b = 0; b < h; ++b)
      for (int x = 0; x < (1 << b); ++x) tab[x + (1 << b)] = tab[x] + (1 << (h - 1 - b));
    // Index tab[x] * high + mid * half + y reverses to tab[y] * high + mid * half + x;
    // x = y are fixed points.
    for (int y = 1; y < half; ++y) {
      for (int mid = 0; mid < mids; ++mid) {
        double* const base = a + 2 * (mid * half + y);
        double* const rev = a + 2 * (tab[y] * high + mid * half);
        for (int x = 0; x < y; ++x) swap16(base + 2 * tab[x] * high, rev + 2 * x);
      }
    }
  }
  if (Conj)
    for (int k = 0; k < n; ++k) a[2 * k + 1] = -a[2 * k + 1];
}

// The twiddles w, w^2, w^3 of group g (g = 0 needs no table entry).
template <int S>
inline void groupTwiddles(const double* w, int g, double t[6]) {
  const double c1 = g ? w[2 * g] : 1.0;
  const double s1 = g ? (S > 0 ? w[2 * g + 1] : -w[2 * g + 1]) : 0.0;
  const double c2 = c1 * c1 - s1 * s1, s2 = 2 * c1 * s1;
  t[0] = c1;
  t[1] = s1;
  t[2] = c2;
  t[3] = s2;
  t[4] = c2 * c1 - s2 * s1;
  t[5] = c2 * s1 + s2 * c1;
}

// Portable levels: the first (twiddle-free) radix-2 level when log2 n is odd,
// then the radix-4 levels.
template <int S>
void levelsGeneric(double* a, int n, const double* w) {
  int M = n;
  if (log2i(n) & 1) {
    const int h = n / 2;
    for (int j = 0; j < h; ++j) {
      const Cx x = ld(a, j), y = ld(a, j + h);
      st(a, j, add(x, y));
      st(a, j + h, sub(x, y));
    }
    M = h;
  }
  for (; M >= 4; M /= 4) {
    const int q = M / 4;
    const int groups = n / M;
    for (int g = 0; g < groups; ++g) {
      double* b = a + 2 * g * M;
      double t[6];
      groupTwiddles<S>(w, g, t);
      for (int j = 0; j < q; ++j) {
        Cx x0 = ld(b, j), x1 = ld(b, j + q), x2 = ld(b, j + 2 * q), x3 = ld(b, j + 3 * q);
        if (g != 0) {
          x1 = mul(x1, t[0], t[1]);
          x2 = mul(x2, t[2], t[3]);
          x3 = mul(x3, t[4], t[5]);
        }
        const Cx y0 = add(x0, x2), y2 = sub(x0, x2), y1 = add(x1, x3);
        const Cx y3 = rot<S>(sub(x1, x3));
        st(b, j, add(y0, y1));
        st(b, j + q, sub(y0, y1));
        st(b, j + 2 * q, add(y2, y3));
        st(b, j + 3 * q, sub(y2, y3));
      }
    }
  }
}

// ---------------------------------------------------------------- real split
//
// A real sequence of n = 2N values is transformed as N complex values z;
// with Z its transform, U = Z[k] and V = conj Z[N-k], the real spectrum is
// Y[k] = U - g D and conj Y[N-k] = V + g D, where D = U - V and
// g = ((1 - sin t) + i cos t) / 2, t = 2 pi k / n. The inverse uses conj g.
// The cosine table c holds c[j] = cos(pi j / (2 nc)) / 2.

template <bool Forward>
inline void splitPair(const double* src, double* dst, int k, int kk, double gr, double gi) {
  if (!Forward) gi = -gi;
  const double ur = src[2 * k], ui = src[2 * k + 1];
  const double vr = src[2 * kk], vi = -src[2 * kk + 1];
  const double dr = ur - vr, di = ui - vi;
  const double pr = gr * dr - gi * di, pi = gr * di + gi * dr;
  dst[2 * k] = ur - pr;
  dst[2 * k + 1] = ui - pi;
  dst[2 * kk] = vr + pr;
  dst[2 * kk + 1] = -(vi + pi);
}

template <bool Forward>
void realSplitGeneric(int n, double* a, int nc, const double* c) {
  const int N = n / 2;
  const int stride = 4 * nc / n;
  for (int k = 1; k < N / 2; ++k)
    splitPair<Forward>(a, a, k, N - k, 0.5 - c[nc - k * stride], c[k * stride]);
}

// ---------------------------------------------------------------- vector code

#if MOSAL_FFT_X86
#define MOSAL_VEC __attribute__((target("avx2,fma")))

MOSAL_VEC inline __m256d swapReIm(__m256d x) { return _mm256_permute_pd(x, 0x5); }

// x * (wr + i wi), wr and wi repeated over the two halves of each complex.
MOSAL_VEC inline __m256d cmulv(__m256d x, __m256d wr, __m256d wi) {
  return _mm256_fmaddsub_pd(x, wr, _mm256_mul_pd(swapReIm(x), wi));
}

// y2 + S i y3 and y2 - S i y3.
template <int S>
MOSAL_VEC inline void quarterTurn(__m256d y2, __m256d y3, __m256d& plus, __m256d& minus) {
  const __m256d t = swapReIm(y3);
  const __m256d as = _mm256_addsub_pd(y2, t);                        // y2r - y3i, y2i + y3r
  const __m256d sa = _mm256_fmsubadd_pd(y2, _mm256_set1_pd(1.0), t);  // y2r + y3i, y2i - y3r
  plus = S > 0 ? as : sa;
  minus = S > 0 ? sa : as;
}

// The radix-4 butterflies of two groups of four points at pa and pb, whose
// twiddles w are in the two halves of w1; output k of both groups in ok.
template <int S>
MOSAL_VEC inline void lastButterflies(const double* pa, const double* pb, __m256d w1, __m256d& o0,
                                      __m256d& o1, __m256d& o2, __m256d& o3) {
  const __m256d va0 = _mm256_loadu_pd(pa), va1 = _mm256_loadu_pd(pa + 4);
  const __m256d vb0 = _mm256_loadu_pd(pb), vb1 = _mm256_loadu_pd(pb + 4);
  const __m256d x0 = _mm256_permute2f128_pd(va0, vb0, 0x20);
  __m256d x1 = _mm256_permute2f128_pd(va0, vb0, 0x31);
  __m256d x2 = _mm256_permute2f128_pd(va1, vb1, 0x20);
  __m256d x3 = _mm256_permute2f128_pd(va1, vb1, 0x31);
  const __m256d wr1 = _mm256_movedup_pd(w1), wi1 = _mm256_permute_pd(w1, 0xF);
  const __m256d w2 = cmulv(w1, wr1, wi1);
  const __m256d wr2 = _mm256_movedup_pd(w2), wi2 = _mm256_permute_pd(w2, 0xF);
  const __m256d w3 = cmulv(w2, wr1, wi1);
  const __m256d wr3 = _mm256_movedup_pd(w3), wi3 = _mm256_permute_pd(w3, 0xF);
  x1 = cmulv(x1, wr1, wi1);
  x2 = cmulv(x2, wr2, wi2);
  x3 = cmulv(x3, wr3, wi3);
  const __m256d y0 = _mm256_add_pd(x0, x2), y2 = _mm256_sub_pd(x0, x2);
  const __m256d y1 = _mm256_add_pd(x1, x3), y3 = _mm256_sub_pd(x1, x3);
  o0 = _mm256_add_pd(y0, y1);
  o1 = _mm256_sub_pd(y0, y1);
  quarterTurn<S>(y2, y3, o2, o3);
}

// The levels before the first one with twiddles: for odd log2 n the radix-2
// level (fused with the next radix-4 level when n >= 32). Returns the group
// size the remaining levels start from.
template <int S>
MOSAL_VEC int firstLevels256(double* a, int n) {
  int M = n;
  if ((log2i(n) & 1) && n >= 32) {
    // The twiddle-free radix-2 level and the next radix-4 level in one pass:
    // the second group's twiddles are w = exp(S i pi / 4), w^2 = S i,
    // w^3 = S i w.
    const int e = n / 8;
    const __m256d sqrtHalf = _mm256_set1_pd(kSqrtHalf);
    for (int j = 0; j < 2 * e; j += 4) {
      double* p = a + j;
      __m256d x[8];
      for (int k = 0; k < 8; ++k) x[k] = _mm256_loadu_pd(p + 2 * k * e);
      const __m256d u0 = _mm256_add_pd(x[0], x[4]), v0 = _mm256_sub_pd(x[0], x[4]);
      const __m256d u1 = _mm256_add_pd(x[1], x[5]), v1 = _mm256_sub_pd(x[1], x[5]);
      const __m256d u2 = _mm256_add_pd(x[2], x[6]), v2 = _mm256_sub_pd(x[2], x[6]);
      const __m256d u3 = _mm256_add_pd(x[3], x[7]), v3 = _mm256_sub_pd(x[3], x[7]);
      // First group: no twiddles.
      const __m256d y0 = _mm256_add_pd(u0, u2), y2 = _mm256_sub_pd(u0, u2);
      const __m256d y1 = _mm256_add_pd(u1, u3), y3 = _mm256_sub_pd(u1, u3);
      __m256d o2, o3;
      quarterTurn<S>(y2, y3, o2, o3);
      _mm256_storeu_pd(p, _mm256_add_pd(y0, y1));
      _mm256_storeu_pd(p + 2 * e, _mm256_sub_pd(y0, y1));
      _mm256_storeu_pd(p + 4 * e, o2);
      _mm256_storeu_pd(p + 6 * e, o3);
      // Second group: w v1 + w^3 v3 = w (v1 + S i v3), w v1 - w^3 v3 = w (v1 - S i v3).
      __m256d z0, z2, t, tt, r, unused;
      quarterTurn<S>(v0, v2, z0, z2);
      quarterTurn<S>(v1, v3, t, tt);
      quarterTurn<S>(t, t, r, unused);
      const __m256d z1 = _mm256_mul_pd(r, sqrtHalf);
      quarterTurn<S>(tt, tt, r, unused);
      const __m256d z3 = _mm256_mul_pd(r, sqrtHalf);
      __m256d q2, q3;
      quarterTurn<S>(z2, z3, q2, q3);
      _mm256_storeu_pd(p + 8 * e, _mm256_add_pd(z0, z1));
      _mm256_storeu_pd(p + 10 * e, _mm256_sub_pd(z0, z1));
      _mm256_storeu_pd(p + 12 * e, q2);
      _mm256_storeu_pd(p + 14 * e, q3);
    }
    M = n / 8;
  } else if (log2i(n) & 1) {
    const int h = n / 2;
    for (int j = 0; j < h; j += 2) {
      const __m256d x = _mm256_loadu_pd(a + 2 * j), y = _mm256_loadu_pd(a + 2 * (j + h));
      _mm256_storeu_pd(a + 2 * j, _mm256_add_pd(x, y));
      _mm256_storeu_pd(a + 2 * (j + h), _mm256_sub_pd(x, y));
    }
    M = h;
  }
  return M;
}

// One radix-4 level over groups of M >= 8 points: vectors along j.
template <int S>
MOSAL_VEC void middleLevel256(double* a, int n, int M, const double* w) {
  {
    const int q = M / 4;
    const int groups = n / M;
    for (int g = 0; g < groups; ++g) {
      double* b0 = a + 2 * g * M;
      double* b1 = b0 + 2 * q;
      double* b2 = b1 + 2 * q;
      double* b3 = b2 + 2 * q;
      double t[6];
      groupTwiddles<S>(w, g, t);
      const __m256d wr1 = _mm256_set1_pd(t[0]), wi1 = _mm256_set1_pd(t[1]);
      const __m256d wr2 = _mm256_set1_pd(t[2]), wi2 = _mm256_set1_pd(t[3]);
      const __m256d wr3 = _mm256_set1_pd(t[4]), wi3 = _mm256_set1_pd(t[5]);
      for (int j = 0; j < 2 * q; j += 4) {
        __m256d x0 = _mm256_loadu_pd(b0 + j), x1 = _mm256_loadu_pd(b1 + j);
        __m256d x2 = _mm256_loadu_pd(b2 + j), x3 = _mm256_loadu_pd(b3 + j);
        if (g != 0) {
          x1 = cmulv(x1, wr1, wi1);
          x2 = cmulv(x2, wr2, wi2);
          x3 = cmulv(x3, wr3, wi3);
        }
        const __m256d y0 = _mm256_add_pd(x0, x2), y2 = _mm256_sub_pd(x0, x2);
        const __m256d y1 = _mm256_add_pd(x1, x3), y3 = _mm256_sub_pd(x1, x3);
        __m256d o2, o3;
        quarterTurn<S>(y2, y3, o2, o3);
        _mm256_storeu_pd(b0 + j, _mm256_add_pd(y0, y1));
        _mm256_storeu_pd(b1 + j, _mm256_sub_pd(y0, y1));
        _mm256_storeu_pd(b2 + j, o2);
        _mm256_storeu_pd(b3 + j, o3);
      }
    }
  }
}

// The last level: groups of four points, two groups per vector. With out null
// it stays in place (then position p holds X[rev(p)]); otherwise it writes
// its results to out in natural order, which ends the transform without a
// permutation pass.
template <int S>
MOSAL_VEC void lastLevel256(double* a, int n, const double* w, double* out) {
  const __m256d conj = S > 0 ? _mm256_setzero_pd() : _mm256_set_pd(-0.0, 0.0, -0.0, 0.0);
  const int groups = n / 4;
  if (out == nullptr) {
    for (int g = 0; g < groups; g += 2) {
      double* p = a + 8 * g;
      const __m256d w1 = _mm256_xor_pd(_mm256_loadu_pd(w + 2 * g), conj);
      __m256d o0, o1, o2, o3;
      lastButterflies<S>(p, p + 8, w1, o0, o1, o2, o3);
      _mm256_storeu_pd(p, _mm256_permute2f128_pd(o0, o1, 0x20));
      _mm256_storeu_pd(p + 4, _mm256_permute2f128_pd(o2, o3, 0x20));
      _mm256_storeu_pd(p + 8, _mm256_permute2f128_pd(o0, o1, 0x31));
      _mm256_storeu_pd(p + 12, _mm256_permute2f128_pd(o2, o3, 0x31));
    }
    return;
  }
  // Output k of group g belongs at rev2(k) * groups + rev(g). Walking the
  // destination column c = rev(g) in order, the groups rev(c) and rev(c + 1)
  // share every output vector.
  int g = 0;  // rev(c) for even c
  for (int c = 0; c < groups; c += 2) {
    const int h = g + groups / 2;  // rev(c + 1)
    const __m256d w1 = _mm256_xor_pd(
        _mm256_set_m128d(_mm_loadu_pd(w + 2 * h), _mm_loadu_pd(w + 2 * g)), conj);
    __m256d o0, o1, o2, o3;
    lastButterflies<S>(a + 8 * g, a + 8 * h, w1, o0, o1, o2, o3);
    _mm256_storeu_pd(out + 2 * c, o0);
    _mm256_storeu_pd(out + 2 * (c + 2 * groups), o1);
    _mm256_storeu_pd(out + 2 * (c + groups), o2);
    _mm256_storeu_pd(out + 2 * (c + 3 * groups), o3);
    // Reversed increment of c by 2: bit 1 of c is bit (width - 2) of g.
    int bit = groups / 4;
    while (bit && (g & bit)) {
      g ^= bit;
      bit >>= 1;
    }
    g |= bit;
  }
}

// Every level on a; out as for lastLevel256.
template <int S>
MOSAL_VEC void levelsVector(double* a, int n, const double* w, double* out) {
  int M = firstLevels256<S>(a, n);
  for (; M >= 8; M /= 4) middleLevel256<S>(a, n, M, w);
  lastLevel256<S>(a, n, w, out);
}

// Two pairs (k, N-k) and (k+1, N-k-1) per step, from src to dst (which may
// be the same array). Z[0] and Z[N/2] are copied as they are. Unit is true
// when the cosine table has exactly the size this transform needs.
template <bool Forward, bool Unit>
MOSAL_VEC void realSplitLoop(int n, const double* src, double* dst, int nc, const double* c) {
  const int N = n / 2;
  const int stride = Unit ? 1 : 4 * nc / n;
  const __m256d conj = _mm256_set_pd(-0.0, 0.0, -0.0, 0.0);
  const __m256d half = _mm256_set1_pd(0.5);
  int k = 1;
  for (; k + 1 < N / 2; k += 2) {
    const int kk = N - k;
    const __m256d u = _mm256_loadu_pd(src + 2 * k);
    const __m256d vRaw = _mm256_loadu_pd(src + 2 * (kk - 1));
    const __m256d v = _mm256_xor_pd(_mm256_permute2f128_pd(vRaw, vRaw, 0x01), conj);
    __m256d sinHalf, cosHalf;  // (sin t) / 2 and (cos t) / 2 for k and k+1, each twice
    if (Unit) {
      const __m128d cs = _mm_loadu_pd(c + k);           // c[k], c[k+1]
      const __m128d sn = _mm_loadu_pd(c + nc - k - 1);  // c[nc-k-1], c[nc-k]
      cosHalf = _mm256_permute4x64_pd(_mm256_castpd128_pd256(cs), 0x50);
      sinHalf = _mm256_permute4x64_pd(_mm256_castpd128_pd256(sn), 0x05);
    } else {
      const double c0 = c[k * stride], c1 = c[(k + 1) * stride];
      const double s0 = c[nc - k * stride], s1 = c[nc - (k + 1) * stride];
      cosHalf = _mm256_set_pd(c1, c1, c0, c0);
      sinHalf = _mm256_set_pd(s1, s1, s0, s0);
    }
    const __m256d gr = _mm256_sub_pd(half, sinHalf);
    const __m256d gi = Forward ? cosHalf : _mm256_xor_pd(cosHalf, _mm256_set1_pd(-0.0));
    const __m256d d = _mm256_sub_pd(u, v);
    const __m256d p = cmulv(d, gr, gi);
    _mm256_storeu_pd(dst + 2 * k, _mm256_sub_pd(u, p));
    const __m256d vNew = _mm256_xor_pd(_mm256_add_pd(v, p), conj);
    _mm256_storeu_pd(dst + 2 * (kk - 1), _mm256_permute2f128_pd(vNew, vNew, 0x01));
  }
  for (; k < N / 2; ++k)
    splitPair<Forward>(src, dst, k, N - k, 0.5 - c[nc - k * stride], c[k * stride]);
}

template <bool Forward>
MOSAL_VEC void realSplitVector(int n, const double* src, double* dst, int nc, const double* c) {
  const int N = n / 2;
  if (src != dst) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[N] = src[N];
    dst[N + 1] = src[N + 1];
  }
  if (4 * nc == n)
    realSplitLoop<Forward, true>(n, src, dst, nc, c);
  else
    realSplitLoop<Forward, false>(n, src, dst, nc, c);
}

// Code paths: 0 portable, 1 AVX2 and FMA. (512-bit vectors were tried and
// gained nothing measurable: the butterflies are limited by the vector ports,
// which take half as many 512-bit operations per cycle.)
int pathPresent() {
  static const int present = [] {
    __builtin_cpu_init();  // in case this runs from another library's constructor
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? 1 : 0;
  }();
  return present;
}
#else
int pathPresent() { return 0; }
#endif

std::atomic<int> pathAllowed{1};

inline int codePath() {
  const int allowed = pathAllowed.load(std::memory_order_relaxed);
  const int present = pathPresent();
  return allowed < present ? allowed : present;
}

inline bool useVector() { return codePath() >= 1; }

// Complex values of the stack buffer (32 KiB) that lets the last level write
// its results in natural order; larger transforms permute in place.
constexpr int kBufferPoints = 2048;

// The complete complex transform of n points (n a power of two), natural
// order in and out. The table w holds at least n/4 complex values.
template <int S>
void complexFFT(double* a, int n, int* scratch, const double* w) {
  if (n <= 1) return;
  if (n == 2) {
    const Cx x = ld(a, 0), y = ld(a, 1);
    st(a, 0, add(x, y));
    st(a, 1, sub(x, y));
    return;
  }
#if MOSAL_FFT_X86
  if (n >= 8 && useVector()) {
    if (n <= kBufferPoints) {
      alignas(32) double buffer[2 * kBufferPoints];
      levelsVector<S>(a, n, w, buffer);
      std::memcpy(a, buffer, 2 * n * sizeof(double));
      return;
    }
    levelsVector<S>(a, n, w, nullptr);
  } else
#endif
    levelsGeneric<S>(a, n, w);
  bitReverse<false>(a, n, scratch);
}

template <bool Forward>
void realSplit(int n, double* a, int nc, const double* c) {
  if (n < 8) return;  // no pairs besides k = 0 and k = n/4, which need nothing
#if MOSAL_FFT_X86
  if (useVector()) {
    realSplitVector<Forward>(n, a, a, nc, c);
    return;
  }
#endif
  realSplitGeneric<Forward>(n, a, nc, c);
}

// The forward real transform up to the final a[0], a[1] step: the complex
// transform's last level writes to a buffer and the split reads it back, so
// no permutation pass is needed. False when this path does not apply.
bool forwardRealFused(int n, double* a, int nw, double* w, int nc, const double* c) {
#if MOSAL_FFT_X86
  const int points = n / 2;
  if (points < 8 || points > kBufferPoints || nw < n / 4 || nc < n / 4 || !useVector())
    return false;
  alignas(32) double buffer[2 * kBufferPoints];
  levelsVector<1>(a, points, w, buffer);
  realSplitVector<true>(n, buffer, a, nc, c);
  return true;
#else
  (void)n, (void)a, (void)nw, (void)w, (void)nc, (void)c;
  return false;
#endif
}

// ---------------------------------------------------------------- rotations
//
// After the inverse real transform of the adjacent-pair sums, values A = H[k]
// and B = H[n-k] (a Hartley transform) give the cosine transform
//   C[k] = alpha A + beta B, C[n-k] = beta A - alpha B,
// alpha = (cos p - sin p) / 2, beta = (cos p + sin p) / 2, p = pi k / (2n);
// C[0] = H[0], C[n/2] = H[n/2] / sqrt 2. The sine variant negates alpha.
// Both matrices are symmetric, so the same pass serves the transposed
// (inverse-kind) transforms.

template <bool Sine>
void rotate(int n, double* a, int nc, const double* c) {
  if (n < 2) return;
  const int stride = nc / n;
  for (int k = 1; k < n / 2; ++k) {
    const double ch = c[k * stride], sh = c[nc - k * stride];  // halves of cos p, sin p
    const double alpha = Sine ? sh - ch : ch - sh;
    const double beta = ch + sh;
    const double A = a[k], B = a[n - k];
    a[k] = alpha * A + beta * B;
    a[n - k] = beta * A - alpha * B;
  }
  a[n / 2] *= kSqrtHalf;
}

}  // namespace

extern "C" {

void makewt(int nw, int* ip, double* w) {
  ip[0] = nw;
  ip[1] = 0;
  if (nw < 2) return;
  const int nt = 2 * nw;  // the complex transform the table serves
  const int count = nt / 4;
  const int bits = log2i(count);
  const double delta = 2.0 * kPi / nt;
  for (int g = 0; g < count; ++g) {
    int r = 0;
    for (int b = 0, x = g; b < bits; ++b, x >>= 1) r = (r << 1) | (x & 1);
    // Angles past the first octant are taken from their mirror, for accuracy.
    if (2 * r <= count) {
      w[2 * g] = std::cos(delta * r);
      w[2 * g + 1] = std::sin(delta * r);
    } else {
      w[2 * g] = std::sin(delta * (count - r));
      w[2 * g + 1] = std::cos(delta * (count - r));
    }
  }
}

void makect(int nc, int* ip, double* c) {
  ip[1] = nc;
  if (nc < 1) return;
  const double delta = kPi / (2.0 * nc);
  for (int j = 0; j < nc; ++j) {
    if (2 * j <= nc)
      c[j] = 0.5 * std::cos(delta * j);
    else
      c[j] = 0.5 * std::sin(delta * (nc - j));
  }
}

// A table of nw doubles serves complex transforms of up to 2 * nw points.
void cftfsub(int n, double* a, int* ip, int nw, double* w) {
  if (n < 2 || !isPow2(n) || (n >= 16 && nw < n / 4)) return;
  complexFFT<1>(a, n / 2, ip, w);
}

void cftbsub(int n, double* a, int* ip, int nw, double* w) {
  if (n < 2 || !isPow2(n) || (n >= 16 && nw < n / 4)) return;
  complexFFT<-1>(a, n / 2, ip, w);
}

void bitrv2(int n, int* ip, double* a) {
  if (n < 2 || !isPow2(n)) return;
  bitReverse<false>(a, n / 2, ip);
}

void bitrv2conj(int n, int* ip, double* a) {
  if (n < 2 || !isPow2(n)) return;
  bitReverse<true>(a, n / 2, ip);
}

void rftfsub(int n, double* a, int nc, double* c) {
  if (n < 2 || !isPow2(n) || nc < n / 4) return;
  realSplit<true>(n, a, nc, c);
}

void rftbsub(int n, double* a, int nc, double* c) {
  if (n < 2 || !isPow2(n) || nc < n / 4) return;
  realSplit<false>(n, a, nc, c);
}

void dctsub(int n, double* a, int nc, double* c) {
  if (n < 2 || !isPow2(n) || nc < n) return;
  rotate<false>(n, a, nc, c);
}

void dstsub(int n, double* a, int nc, double* c) {
  if (n < 2 || !isPow2(n) || nc < n) return;
  rotate<true>(n, a, nc, c);
}

void cdft(int n, int isgn, double* a, int* ip, double* w) {
  if (n < 2 || !isPow2(n)) return;
  if (n >= 4) ensureTables(n / 4, 0, ip, w);
  if (isgn >= 0)
    cftfsub(n, a, ip + 2, ip[0], w);
  else
    cftbsub(n, a, ip + 2, ip[0], w);
}

void rdft(int n, int isgn, double* a, int* ip, double* w) {
  if (n < 2 || !isPow2(n)) return;
  if (n == 2) {
    const double x = a[0], y = a[1];
    if (isgn >= 0) {
      a[0] = x + y;
      a[1] = x - y;
    } else {
      a[0] = 0.5 * (x + y);
      a[1] = 0.5 * (x - y);
    }
    return;
  }
  ensureTables(n / 4, n / 4, ip, w);
  const int nw = ip[0], nc = ip[1];
  if (isgn >= 0) {
    if (!forwardRealFused(n, a, nw, w, nc, w + nw)) {
      cftfsub(n, a, ip + 2, nw, w);
      rftfsub(n, a, nc, w + nw);
    }
    const double x = a[0], y = a[1];
    a[0] = x + y;
    a[1] = x - y;
  } else {
    const double x = a[0], y = a[1];
    a[0] = 0.5 * (x + y);
    a[1] = 0.5 * (x - y);
    rftbsub(n, a, nc, w + nw);
    cftbsub(n, a, ip + 2, nw, w);
  }
}

// Cosine transforms: the forward kind (isgn < 0) is the rotation of the
// inverse real transform of adjacent-pair sums; the other kind is its
// transpose.
void ddct(int n, int isgn, double* a, int* ip, double* w) {
  if (n < 2 || !isPow2(n)) return;
  ensureTables(n / 4, n, ip, w);
  const int nw = ip[0], nc = ip[1];
  if (isgn < 0) {
    const double last = a[n - 1];
    for (int m = n / 2 - 1; m >= 1; --m) {
      const double x = a[2 * m], y = a[2 * m - 1];
      a[2 * m + 1] = x - y;
      a[2 * m] = x + y;
    }
    a[0] *= 2.0;
    a[1] = 2.0 * last;
    rdft(n, -1, a, ip, w);
    dctsub(n, a, nc, w + nw);
  } else {
    dctsub(n, a, nc, w + nw);
    rdft(n, 1, a, ip, w);
    const double last = a[1];
    for (int m = 1; m < n / 2; ++m) {
      const double x = a[2 * m], y = a[2 * m + 1];
      a[2 * m - 1] = x - y;
      a[2 * m] = x + y;
    }
    a[n - 1] = last;
  }
}

// Sine transforms: the cosine transforms of the input with alternate signs,
// read backwards; the sign changes and the reversal are folded into the
// pair sums and the rotation.
void ddst(int n, int isgn, double* a, int* ip, double* w) {
  if (n < 2 || !isPow2(n)) return;
  ensureTables(n / 4, n, ip, w);
  const int nw = ip[0], nc = ip[1];
  if (isgn < 0) {
    const double last = a[n - 1];
    for (int m = n / 2 - 1; m >= 1; --m) {
      const double x = a[2 * m], y = a[2 * m - 1];
      a[2 * m + 1] = -(x + y);
      a[2 * m] = x - y;
    }
    a[0] *= 2.0;
    a[1] = -2.0 * last;
    rdft(n, -1, a, ip, w);
    dstsub(n, a, nc, w + nw);
  } else {
    dstsub(n, a, nc, w + nw);
    rdft(n, 1, a, ip, w);
    const double last = a[1];
    for (int m = 1; m < n / 2; ++m) {
      const double x = a[2 * m], y = a[2 * m + 1];
      a[2 * m - 1] = -(x + y);
      a[2 * m] = x - y;
    }
    a[n - 1] = -last;
  }
}

// Symmetric cosine transform of n+1 points: the odd outputs are the cosine
// transform (second kind) of a[j] - a[n-j] over n/2 points, the even outputs
// the symmetric transform of a[j] + a[n-j] over n/2+1 points. The halves
// recurse; every level keeps its odd outputs just past its own data (the top
// level in t) and interleaves them on the way back.
void dfct(int n, double* a, double* t, int* ip, double* w) {
  if (n < 2 || !isPow2(n)) return;
  if (n >= 4) ensureTables(n / 8, n / 2, ip, w);
  int s = n;
  for (; s > 2; s /= 2) {
    const int half = s / 2;
    double* odd = s == n ? t : a + s + 1;
    for (int j = 0; j < half; ++j) {
      const double x = a[j], y = a[s - j];
      odd[j] = x - y;
      a[j] = x + y;
    }
    ddct(half, 1, odd, ip, w);
  }
  {
    const double x0 = a[0], x1 = a[1], x2 = a[2];
    a[0] = x0 + x1 + x2;
    a[1] = x0 - x2;
    a[2] = x0 - x1 + x2;
  }
  for (s = 4; s <= n; s *= 2) {
    const int half = s / 2;
    const double* odd = s == n ? t : a + s + 1;
    for (int m = half; m >= 1; --m) a[2 * m] = a[m];
    for (int m = 0; m < half; ++m) a[2 * m + 1] = odd[m];
  }
}

// Antisymmetric sine transform of n-1 points: the odd outputs are the sine
// transform (first kind) of a[j] + a[n-j] over n/2 points, the even outputs
// the antisymmetric transform of a[j] - a[n-j]; arranged as in dfct.
void dfst(int n, double* a, double* t, int* ip, double* w) {
  if (n < 2 || !isPow2(n)) return;
  if (n >= 4) ensureTables(n / 8, n / 2, ip, w);
  int s = n;
  for (; s > 2; s /= 2) {
    const int half = s / 2;
    double* odd = s == n ? t : a + s;
    odd[0] = a[half];
    for (int j = 1; j < half; ++j) {
      const double x = a[j], y = a[s - j];
      odd[j] = x + y;
      a[j] = x - y;
    }
    ddst(half, 1, odd, ip, w);
  }
  for (s = 4; s <= n; s *= 2) {
    const int half = s / 2;
    const double* odd = s == n ? t : a + s;
    for (int m = half - 1; m >= 1; --m) a[2 * m] = a[m];
    for (int m = 0; m < half; ++m) a[2 * m + 1] = odd[m];
  }
}

}  // extern "C"

namespace MorvaneLib {

int fftCodePath(int highest) {
  pathAllowed.store(highest, std::memory_order_relaxed);
  return pathPresent();
}

}  // namespace MorvaneLib
