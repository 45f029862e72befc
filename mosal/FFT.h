// FFT: a real Fourier transform of fixed power-of-two size over blocks of
// samples held in DataBufs: load, transform forwards or backwards, multiply
// by a filter in the transformed domain, write the samples back.
//
// Sample formats: 1 = signed 16-bit, 2 = unsigned 8-bit, 3 = double. Between
// the two transforms the data are in the packed real-spectrum layout of
// rdft() (mosal/FFTRoutines.h): a[0] = R[0], a[1] = R[n/2], a[2k] = R[k],
// a[2k+1] = I[k]. The object owns its three buffers; the DataBufs passed to
// its operations stay the caller's. Not thread-safe.
#ifndef MOSAL_FFT_H
#define MOSAL_FFT_H

#include "mosal/DataBuf.h"

namespace MorvaneLib {

class FFT {
 public:
  enum Format { FORMAT_S16 = 1, FORMAT_U8 = 2, FORMAT_DOUBLE = 3 };
  enum { MIN_SIZE = 2, MAX_SIZE = 1 << 24 };

  // n is the transform size, a power of two from MIN_SIZE to MAX_SIZE (any
  // other size throws LibError("FFT()", ...)); log is kept and printed only.
  FFT(unsigned n, unsigned log);
  ~FFT();

  FFT(const FFT&) = delete;
  FFT& operator=(const FFT&) = delete;

  // Converts the samples of `in` (its length counts) to doubles and pads
  // with zeros to n; samples past n are ignored. Unknown formats do nothing.
  void load(int format, DataBuf* in);
  // rdft() in place: isgn >= 0 forwards ("DIRECT"), isgn < 0 backwards
  // ("INVERSE"); the direction is remembered for output().
  void perform(int isgn);
  // Multiplies the data by the doubles of `filter` one by one; a shorter
  // filter leaves the values past its end as they are.
  void multiply(DataBuf* filter);
  // Writes min(n, what fits in out's size) values: after a backward transform
  // scaled by 2/n, for formats 1 and 2 rounded and clamped to the format's
  // range. Sets out's length to the bytes written.
  void output(int format, DataBuf* out);

  unsigned getSize() const { return _fftsz; }
  unsigned getLog() const { return _fftlog; }
  unsigned getIpSize() const { return _ipsz; }
  unsigned getZeroCount() const { return _zcount; }
  int getDirection() const { return _isgn; }

 private:
  int _isgn;          // 1 (direct) or -1 (inverse): the last transform
  unsigned _fftsz;    // n
  unsigned _fftlog;
  unsigned _zcount;   // zeros appended by the last load
  unsigned _ipsz;     // ints of the bit-reversal work area
  unsigned _wlast;    // n/2 - 1: last index of the table
  unsigned _dlast;    // n - 1: last index of the data
  DataBuf* _table;    // n/2 doubles: the transform's tables
  DataBuf* _data;     // n doubles
  DataBuf* _ip;       // _ipsz ints, first one 0 until the tables exist
};

}  // namespace MorvaneLib

extern "C" {
// Placeholder entry point kept for loaders that look it up; does nothing.
void mosal_ac_detect(void);
}

#endif
