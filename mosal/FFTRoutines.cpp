// FFTRoutines: in-place power-of-two Fourier, cosine and sine transforms.
//
// The complex transform is a decimation-in-frequency radix-4 FFT: radix-4
// passes with twiddles taken from one quarter-wave table, a fully unrolled
// leaf of 8 or 16 points, then the bit-reversal permutation. The real
// transform runs it on n/2 points and splits the result; the cosine and sine
// transforms are built on the real transform with one rotation pass and
// adjacent-pair sums; the symmetric transforms recurse on the cosine / sine
// transforms of half the length.
#include "mosal/FFTRoutines.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846264338327950288;
constexpr double kSqrtHalf = 0.70710678118654752440084436210484904;
constexpr double kCos8 = 0.92387953251128675612818318939678829;  // cos(pi/8)
constexpr double kSin8 = 0.38268343236508977172845998403039887;  // sin(pi/8)

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

// ---------------------------------------------------------------- complex core
//
// Data are n complex values, a[2k] real and a[2k+1] imaginary parts. S is the
// sign of the exponent. The table w holds cos and sin of 2 pi k / Nt for
// k < Nt/4 (Nt = 2 * nw); the other three quarters follow by rotation.

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

// One radix-4 butterfly without twiddles; the results stay in bit-reversed
// position order (sum, odd-even difference, the two quarter-turn terms).
template <int S>
inline void bfly4(Cx& x0, Cx& x1, Cx& x2, Cx& x3) {
  Cx y0 = add(x0, x2), y1 = sub(x0, x2), y2 = add(x1, x3), y3 = rot<S>(sub(x1, x3));
  x0 = add(y0, y2);
  x1 = sub(y0, y2);
  x2 = add(y1, y3);
  x3 = sub(y1, y3);
}

// Multiplication by exp(S * 2 pi i k / L) with k, L known at compile time.
template <int S, int K, int L>
inline Cx twc(Cx x) {
  constexpr int k = ((K % L) + L) % L;
  if constexpr (k == 0) {
    return x;
  } else if constexpr (4 * k == L) {
    return rot<S>(x);
  } else if constexpr (2 * k == L) {
    return {-x.r, -x.i};
  } else if constexpr (4 * k == 3 * L) {
    return rot<-S>(x);
  } else if constexpr (8 * k == L || 8 * k == 3 * L || 8 * k == 5 * L || 8 * k == 7 * L) {
    constexpr double c = (8 * k == L || 8 * k == 7 * L) ? kSqrtHalf : -kSqrtHalf;
    constexpr double s = (8 * k == L || 8 * k == 3 * L) ? kSqrtHalf : -kSqrtHalf;
    return mul(x, c, S * s);
  } else {
    static_assert(L == 16, "twiddle constants for 16 points only");
    // Angles of odd multiples of pi/8.
    constexpr int oct = k;  // 1,3,5,7,9,11,13,15
    constexpr double c = (oct == 1 || oct == 15) ? kCos8
                         : (oct == 3 || oct == 13) ? kSin8
                         : (oct == 5 || oct == 11) ? -kSin8
                                                   : -kCos8;
    constexpr double s = (oct == 1 || oct == 7) ? kSin8
                         : (oct == 3 || oct == 5) ? kCos8
                         : (oct == 9 || oct == 15) ? -kSin8
                                                   : -kCos8;
    return mul(x, c, S * s);
  }
}

// Leaves: complete DIF transforms of 2, 4, 8 and 16 points whose results stay
// in bit-reversed order, like the passes before them.
template <int S>
inline void leaf2(double* a) {
  Cx x0 = ld(a, 0), x1 = ld(a, 1);
  st(a, 0, add(x0, x1));
  st(a, 1, sub(x0, x1));
}

template <int S>
inline void leaf4(double* a) {
  Cx x0 = ld(a, 0), x1 = ld(a, 1), x2 = ld(a, 2), x3 = ld(a, 3);
  bfly4<S>(x0, x1, x2, x3);
  st(a, 0, x0);
  st(a, 1, x1);
  st(a, 2, x2);
  st(a, 3, x3);
}

template <int S>
inline void leaf8(double* a) {
  Cx x[8];
  for (int k = 0; k < 8; ++k) x[k] = ld(a, k);
  bfly4<S>(x[0], x[2], x[4], x[6]);
  bfly4<S>(x[1], x[3], x[5], x[7]);
  // Block 1 (positions 2,3) takes w^2j, block 2 (4,5) w^j, block 3 (6,7) w^3j.
  x[3] = twc<S, 2, 8>(x[3]);
  x[5] = twc<S, 1, 8>(x[5]);
  x[7] = twc<S, 3, 8>(x[7]);
  for (int b = 0; b < 8; b += 2) {
    Cx u = x[b], v = x[b + 1];
    x[b] = add(u, v);
    x[b + 1] = sub(u, v);
  }
  for (int k = 0; k < 8; ++k) st(a, k, x[k]);
}

template <int S>
inline void leaf16(double* a) {
  Cx x[16];
  for (int k = 0; k < 16; ++k) x[k] = ld(a, k);
  bfly4<S>(x[0], x[4], x[8], x[12]);
  bfly4<S>(x[1], x[5], x[9], x[13]);
  bfly4<S>(x[2], x[6], x[10], x[14]);
  bfly4<S>(x[3], x[7], x[11], x[15]);
  x[5] = twc<S, 2, 16>(x[5]);
  x[6] = twc<S, 4, 16>(x[6]);
  x[7] = twc<S, 6, 16>(x[7]);
  x[9] = twc<S, 1, 16>(x[9]);
  x[10] = twc<S, 2, 16>(x[10]);
  x[11] = twc<S, 3, 16>(x[11]);
  x[13] = twc<S, 3, 16>(x[13]);
  x[14] = twc<S, 6, 16>(x[14]);
  x[15] = twc<S, 9, 16>(x[15]);
  for (int b = 0; b < 16; b += 4) bfly4<S>(x[b], x[b + 1], x[b + 2], x[b + 3]);
  for (int k = 0; k < 16; ++k) st(a, k, x[k]);
}

// Twiddle of angle index t (units of 2 pi / Nt) rotated by R quarter turns.
template <int R>
inline void twiddle(const double* w, int t, double& c, double& s) {
  double tc = w[2 * t], ts = w[2 * t + 1];
  if constexpr (R == 0) {
    c = tc;
    s = ts;
  } else if constexpr (R == 1) {
    c = -ts;
    s = tc;
  } else {
    c = -tc;
    s = -ts;
  }
}

// Radix-4 butterflies j0 <= j < j1 of one group of 4q points; angle index of
// w^j is j * step. R2 and R3 are the quarter turns of w^2j and w^3j, constant
// over the range.
template <int S, int R2, int R3>
inline void pass4Range(double* __restrict a, int q, int j0, int j1, const double* __restrict w,
                       int step, int quarter) {
  double* a0 = a;
  double* a1 = a + 2 * q;
  double* a2 = a + 4 * q;
  double* a3 = a + 6 * q;
  for (int j = j0; j < j1; ++j) {
    const int t1 = j * step;
    double c1 = w[2 * t1], s1 = w[2 * t1 + 1], c2, s2, c3, s3;
    twiddle<R2>(w, 2 * t1 - R2 * quarter, c2, s2);
    twiddle<R3>(w, 3 * t1 - R3 * quarter, c3, s3);
    if (S < 0) {
      s1 = -s1;
      s2 = -s2;
      s3 = -s3;
    }
    Cx x0 = ld(a0, j), x1 = ld(a1, j), x2 = ld(a2, j), x3 = ld(a3, j);
    Cx y0 = add(x0, x2), y1 = sub(x0, x2), y2 = add(x1, x3), y3 = rot<S>(sub(x1, x3));
    st(a0, j, add(y0, y2));
    st(a1, j, mul(sub(y0, y2), c2, s2));
    st(a2, j, mul(add(y1, y3), c1, s1));
    st(a3, j, mul(sub(y1, y3), c3, s3));
  }
}

// One radix-4 pass over groups of L points (L >= 32).
template <int S>
void pass4(double* a, int n, int L, const double* w, int nt) {
  const int q = L / 4;
  const int step = nt / L;
  const int quarter = nt / 4;
  // w^3j passes a quarter turn at j = L/12 and a half turn at L/6; w^2j a
  // quarter turn at L/8.
  const int ja = (L + 11) / 12, jb = L / 8, jc = (L + 5) / 6;
  for (int g = 0; g < n; g += L) {
    double* b = a + 2 * g;
    pass4Range<S, 0, 0>(b, q, 0, ja, w, step, quarter);
    pass4Range<S, 0, 1>(b, q, ja, jb, w, step, quarter);
    pass4Range<S, 1, 1>(b, q, jb, jc, w, step, quarter);
    pass4Range<S, 1, 2>(b, q, jc, q, w, step, quarter);
  }
}

// Reverses the bits of the indices of n = 2^m complex values, using
// 2^floor(m/2) ints of scratch for the reversed half-width indices. With
// Conj the imaginary parts are negated as well.
template <bool Conj>
void bitReverse(double* a, int n, int* tab) {
  const int m = log2i(n);
  if (m <= 1) {
    if (Conj)
      for (int k = 0; k < n; ++k) a[2 * k + 1] = -a[2 * k + 1];
    return;
  }
  const int h = m / 2;
  const int half = 1 << h;        // indices of h bits
  const int high = 1 << (m - h);  // weight of the top h bits
  const int mids = (m & 1) ? 2 : 1;
  tab[0] = 0;
  for (int b = 0; b < h; ++b)
    for (int x = 0; x < (1 << b); ++x) tab[x + (1 << b)] = tab[x] + (1 << (h - 1 - b));
  // Index = tab[x] * high + mid * half + y reverses to tab[y] * high + mid * half + x.
  for (int y = 0; y < half; ++y) {
    for (int x = 0; x <= y; ++x) {
      for (int mid = 0; mid < mids; ++mid) {
        const int i = tab[x] * high + mid * half + y;
        const int r = tab[y] * high + mid * half + x;
        if (x == y) {
          if (Conj) a[2 * i + 1] = -a[2 * i + 1];
          continue;
        }
        double tr = a[2 * i], ti = a[2 * i + 1];
        if (Conj) {
          a[2 * i] = a[2 * r];
          a[2 * i + 1] = -a[2 * r + 1];
          a[2 * r] = tr;
          a[2 * r + 1] = -ti;
        } else {
          a[2 * i] = a[2 * r];
          a[2 * i + 1] = a[2 * r + 1];
          a[2 * r] = tr;
          a[2 * r + 1] = ti;
        }
      }
    }
  }
}

// The complete complex transform of n points (n a power of two), natural
// order in and out. The table holds nw doubles, nw >= n / 2 when n > 16.
template <int S>
void complexFFT(double* a, int n, int* scratch, int nw, const double* w) {
  if (n <= 1) return;
  if (n == 2) {
    leaf2<S>(a);
    return;
  }
  if (n == 4) {
    leaf4<S>(a);
  } else if (n == 8) {
    leaf8<S>(a);
  } else if (n == 16) {
    leaf16<S>(a);
  } else {
    const int nt = 2 * nw;
    const int leaf = (log2i(n) & 1) ? 8 : 16;
    for (int L = n; L > leaf; L /= 4) pass4<S>(a, n, L, w, nt);
    if (leaf == 8)
      for (int g = 0; g < n; g += 8) leaf8<S>(a + 2 * g);
    else
      for (int g = 0; g < n; g += 16) leaf16<S>(a + 2 * g);
  }
  bitReverse<false>(a, n, scratch);
}

// ---------------------------------------------------------------- real split
//
// A real sequence of n = 2N values is transformed as N complex values z;
// with Z its transform, U = Z[k] and V = conj Z[N-k], the real spectrum is
// Y[k] = U - g D and conj Y[N-k] = V + g D, where D = U - V and
// g = ((1 - sin t) + i cos t) / 2, t = 2 pi k / n. The inverse uses conj g.

template <bool Forward>
void realSplit(int n, double* a, int nc, const double* c) {
  const int N = n / 2;
  if (N < 4) return;  // no pairs besides k = 0 and k = N/2, which need nothing
  const int stride = 4 * nc / n;
  for (int k = 1, kk = N - 1; k < N / 2; ++k, --kk) {
    const double gr = 0.5 - c[nc - k * stride];
    const double gi = Forward ? c[k * stride] : -c[k * stride];
    const double ur = a[2 * k], ui = a[2 * k + 1];
    const double vr = a[2 * kk], vi = -a[2 * kk + 1];
    const double dr = ur - vr, di = ui - vi;
    const double pr = gr * dr - gi * di, pi = gr * di + gi * dr;
    a[2 * k] = ur - pr;
    a[2 * k + 1] = ui - pi;
    a[2 * kk] = vr + pr;
    a[2 * kk + 1] = -(vi + pi);
  }
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
  const double delta = 2.0 * kPi / nt;
  const int count = nt / 4;
  for (int k = 0; k < count; ++k) {
    // The second octant is taken from the first, mirrored, for accuracy.
    if (2 * k <= count) {
      w[2 * k] = std::cos(delta * k);
      w[2 * k + 1] = std::sin(delta * k);
    } else {
      w[2 * k] = std::sin(delta * (count - k));
      w[2 * k + 1] = std::cos(delta * (count - k));
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

void cftfsub(int n, double* a, int* ip, int nw, double* w) {
  if (n < 2 || !isPow2(n)) return;
  complexFFT<1>(a, n / 2, ip, nw, w);
}

void cftbsub(int n, double* a, int* ip, int nw, double* w) {
  if (n < 2 || !isPow2(n)) return;
  complexFFT<-1>(a, n / 2, ip, nw, w);
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
  if (n < 2 || !isPow2(n)) return;
  realSplit<true>(n, a, nc, c);
}

void rftbsub(int n, double* a, int nc, double* c) {
  if (n < 2 || !isPow2(n)) return;
  realSplit<false>(n, a, nc, c);
}

void dctsub(int n, double* a, int nc, double* c) {
  if (n < 2 || !isPow2(n)) return;
  rotate<false>(n, a, nc, c);
}

void dstsub(int n, double* a, int nc, double* c) {
  if (n < 2 || !isPow2(n)) return;
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
    cftfsub(n, a, ip + 2, nw, w);
    rftfsub(n, a, nc, w + nw);
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
