/* FFTRoutines: the general-purpose fast Fourier, cosine and sine transforms
 * of power-of-two length on doubles, in place, with a C interface.
 *
 * Work areas (allocated and owned by the caller):
 *   ip[]  ints: ip[0] and ip[1] record the sizes of the two tables held in
 *         w[]; set ip[0] = 0 before the first call and the tables are built
 *         then (and rebuilt whenever a call needs larger ones). The rest of
 *         ip[] is scratch for the bit reversal.
 *   w[]   doubles: w[0 .. ip[0]-1] is the complex-exponential table,
 *         w[ip[0] .. ip[0]+ip[1]-1] the cosine table. Tables built for a
 *         larger transform serve every smaller one; one ip/w pair may be
 *         shared by all routines if it is sized for the largest need.
 * Lengths must be powers of two within the stated minimum; any other length
 * leaves the data untouched.
 *
 * cdft(2*n, isgn, a, ip, w)  complex DFT of n points, a[2j] = Re, a[2j+1] = Im:
 *     isgn >= 0: X[k] = sum_j x[j] exp(+2 pi i j k / n)
 *     isgn <  0: X[k] = sum_j x[j] exp(-2 pi i j k / n)
 *     2*n >= 2; ip: 2 + 2^(floor(log2 n) / 2) ints; w: n/2 doubles.
 *     cdft(2*n, -1) followed by cdft(2*n, 1) multiplies the data by n.
 * rdft(n, isgn, a, ip, w)  real DFT, n >= 2:
 *     isgn >= 0: R[k] = sum_j a[j] cos(2 pi j k / n), 0 <= k <= n/2,
 *                I[k] = sum_j a[j] sin(2 pi j k / n), 0 <  k <  n/2,
 *                stored a[2k] = R[k], a[2k+1] = I[k], a[1] = R[n/2].
 *     isgn <  0: the same layout in; out a[j] = (R[0] + R[n/2] cos(pi j)) / 2
 *                + sum_{k=1}^{n/2-1} (R[k] cos(2 pi j k / n) + I[k] sin(2 pi j k / n)),
 *                so that rdft(n, 1) then rdft(n, -1) multiplies by n/2.
 *     ip: 2 + 2^(floor(log2(n/2)) / 2) ints; w: n/2 doubles.
 * ddct(n, isgn, a, ip, w)  cosine transform, n >= 2:
 *     isgn <  0: C[k] = sum_j a[j] cos(pi (j + 1/2) k / n)
 *     isgn >= 0: C[k] = sum_j a[j] cos(pi j (k + 1/2) / n)
 *     a[k] = C[k]; ip as rdft; w: n*5/4 doubles.
 *     Inverse of ddct(n, -1): a[0] *= 0.5, ddct(n, 1), then multiply by 2/n.
 * ddst(n, isgn, a, ip, w)  sine transform, n >= 2:
 *     isgn <  0: S[k] = sum_{j=0}^{n-1} a[j] sin(pi (j + 1/2) k / n), 0 < k <= n,
 *                out a[k] = S[k] for 0 < k < n, a[0] = S[n].
 *     isgn >= 0: S[k] = sum_{j=1}^{n} A[j] sin(pi j (k + 1/2) / n), 0 <= k < n,
 *                in A[j] = a[j] for 0 < j < n, A[n] = a[0]; out a[k] = S[k].
 *     Inverse of ddst(n, -1): a[0] *= 0.5, ddst(n, 1), then multiply by 2/n.
 *     ip as rdft; w: n*5/4 doubles.
 * dfct(n, a, t, ip, w)  cosine transform of n+1 points (real symmetric DFT),
 *     n >= 2: C[k] = sum_{j=0}^{n} a[j] cos(pi j k / n), 0 <= k <= n, a[k] = C[k].
 *     t: n/2+1 doubles of scratch; ip: 2 + 2^(floor(log2(n/4)) / 2) ints;
 *     w: n*5/8 doubles. With a[0], a[n] halved before each call, two calls
 *     multiply the data by n/2.
 * dfst(n, a, t, ip, w)  sine transform of n-1 points (real antisymmetric DFT),
 *     n >= 2: S[k] = sum_{j=1}^{n-1} a[j] sin(pi j k / n), 0 < k < n, a[k] = S[k]
 *     (a[0] is scratch). t: n/2 doubles; ip and w as dfct. Two calls multiply
 *     by n/2.
 *
 * The table and butterfly routines the transforms are made of are exported
 * as well; their n is the length in doubles of the transform they serve:
 *   makewt(nw, ip, w)      builds the complex table of nw doubles (a complex
 *                          transform of 2*nw points) and sets ip[0] = nw,
 *                          ip[1] = 0 (the cosine table after it is void).
 *   makect(nc, ip, c)      builds the cosine table of nc doubles at c
 *                          (c[j] = cos(pi j / (2 nc)) / 2), sets ip[1] = nc.
 *   cftfsub / cftbsub(n, a, ip, nw, w)
 *                          the whole complex transform, exp(+) / exp(-), in
 *                          natural order; ip here is the scratch after ip[1].
 *   bitrv2 / bitrv2conj(n, ip, a)
 *                          bit-reversal permutation of the n/2 complex values
 *                          (conj: also negates every imaginary part).
 *   rftfsub / rftbsub(n, a, nc, c)
 *                          split a complex transform of n/2 points into the
 *                          real spectrum of n points and back (c: cosine table).
 *   dctsub / dstsub(n, a, nc, c)
 *                          the rotation that links a real DFT of n points to
 *                          the cosine (sine) transform.
 * The routines keep no state; calls with distinct work areas may run in
 * parallel.
 */
#ifndef MOSAL_FFTROUTINES_H
#define MOSAL_FFTROUTINES_H

#ifdef __cplusplus
extern "C" {
#endif

void cdft(int n, int isgn, double* a, int* ip, double* w);
void rdft(int n, int isgn, double* a, int* ip, double* w);
void ddct(int n, int isgn, double* a, int* ip, double* w);
void ddst(int n, int isgn, double* a, int* ip, double* w);
void dfct(int n, double* a, double* t, int* ip, double* w);
void dfst(int n, double* a, double* t, int* ip, double* w);

void makewt(int nw, int* ip, double* w);
void makect(int nc, int* ip, double* c);
void cftfsub(int n, double* a, int* ip, int nw, double* w);
void cftbsub(int n, double* a, int* ip, int nw, double* w);
void bitrv2(int n, int* ip, double* a);
void bitrv2conj(int n, int* ip, double* a);
void rftfsub(int n, double* a, int nc, double* c);
void rftbsub(int n, double* a, int nc, double* c);
void dctsub(int n, double* a, int nc, double* c);
void dstsub(int n, double* a, int nc, double* c);

#ifdef __cplusplus
}

namespace MorvaneLib {
// Code paths of the transforms: 0 portable, 1 AVX2 and FMA. The transforms
// use the best path the processor has, up to `highest` (1 unless set here;
// 0 serves comparisons and tests). Answers the best path this processor has.
// Applies to calls that start afterwards. Transforms of up to 4096 doubles
// use 32 KiB of stack on the vector path.
int fftCodePath(int highest);
}  // namespace MorvaneLib
#endif

#endif
