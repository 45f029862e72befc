// FFT: sample conversion around rdft() over owned DataBufs.
#include "mosal/FFT.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "mosal/FFTRoutines.h"
#include "mosal/Trace.h"

namespace MorvaneLib {

namespace {

bool isPow2(unsigned n) { return n != 0 && (n & (n - 1)) == 0; }

unsigned floorLog2(unsigned n) {
  unsigned m = 0;
  while (n > 1) {
    n >>= 1;
    ++m;
  }
  return m;
}

// Rounds to the nearest integer and clamps into [lo, hi]; NaN gives 0.
long roundClamp(double v, long lo, long hi) {
  if (!(v == v)) return 0;
  if (v <= static_cast<double>(lo)) return lo;
  if (v >= static_cast<double>(hi)) return hi;
  return std::lround(v);
}

const char* directionName(int isgn) { return isgn == -1 ? "INVERSE" : "DIRECT"; }

}  // namespace

FFT::FFT(unsigned n, unsigned log)
    : _isgn(1), _fftsz(n), _fftlog(log), _zcount(0), _ipsz(0), _wlast(0), _dlast(0),
      _table(nullptr), _data(nullptr), _ip(nullptr) {
  if (!isPow2(n) || n < MIN_SIZE || n > MAX_SIZE)
    throw LibError("FFT()", "Transform size %u is not a power of two from %u to %u", n,
                   static_cast<unsigned>(MIN_SIZE), static_cast<unsigned>(MAX_SIZE));
  // 2 + 2^(floor(log2(n/2)) / 2): what rdft() needs for its bit reversal.
  _ipsz = 2 + (1u << (floorLog2(n / 2) / 2));
  _wlast = n / 2 - 1;
  _dlast = n - 1;
  MTRACE("FFT::FFT(): _fftsz = %u, _fftlog = %u, _ipsz = %u\n", _fftsz, _fftlog, _ipsz);
  const unsigned tableBytes = (_wlast + 1) * sizeof(double);
  const unsigned dataBytes = (_dlast + 1) * sizeof(double);
  const unsigned ipBytes = _ipsz * sizeof(int);
  try {
    _table = new DataBuf(tableBytes, 0, tableBytes, ALLOC_ONCREATE);
    _data = new DataBuf(dataBytes, 0, dataBytes, ALLOC_ONCREATE);
    _ip = new DataBuf(ipBytes, 0, ipBytes, ALLOC_ONCREATE);
  } catch (...) {
    delete _table;
    delete _data;
    throw;
  }
  std::memset(_table->getData(), 0, tableBytes);
  std::memset(_data->getData(), 0, dataBytes);
  std::memset(_ip->getData(), 0, ipBytes);
  _table->setLength(tableBytes);
  _data->setLength(dataBytes);
  _ip->setLength(ipBytes);
}

FFT::~FFT() {
  delete _ip;
  delete _data;
  delete _table;
}

void FFT::load(int format, DataBuf* in) {
  if (in == nullptr || (format != FORMAT_S16 && format != FORMAT_U8 && format != FORMAT_DOUBLE))
    return;
  double* a = reinterpret_cast<double*>(_data->getData());
  const unsigned char* src = reinterpret_cast<const unsigned char*>(in->getData());
  const unsigned length = src != nullptr ? in->getLength() : 0;
  unsigned count = 0;
  switch (format) {
    case FORMAT_S16:
      count = length / 2;
      MTRACE("FFT::load(): loading %u data\n", length);
      MTRACE("FFT::load(): samples count %u\n", count);
      if (count > _fftsz) count = _fftsz;
      for (unsigned k = 0; k < count; ++k) {
        int16_t v;
        std::memcpy(&v, src + 2 * k, 2);
        a[k] = v;
      }
      break;
    case FORMAT_U8:
      count = length < _fftsz ? length : _fftsz;
      for (unsigned k = 0; k < count; ++k) a[k] = src[k];
      break;
    case FORMAT_DOUBLE:
      count = length / sizeof(double);
      if (count > _fftsz) count = _fftsz;
      if (count) std::memcpy(a, src, count * sizeof(double));
      break;
  }
  _zcount = _fftsz - count;
  if (format == FORMAT_S16) MTRACE("FFT::load(): zpadding %u\n", _zcount);
  for (unsigned k = count; k < _fftsz; ++k) a[k] = 0.0;
}

void FFT::perform(int isgn) {
  _isgn = isgn < 0 ? -1 : 1;
  MTRACE("FFT::perform(): performing %s fft\n", directionName(_isgn));
  rdft(static_cast<int>(_fftsz), _isgn, reinterpret_cast<double*>(_data->getData()),
       reinterpret_cast<int*>(_ip->getData()), reinterpret_cast<double*>(_table->getData()));
}

void FFT::multiply(DataBuf* filter) {
  if (filter == nullptr || filter->getData() == nullptr) return;
  double* a = reinterpret_cast<double*>(_data->getData());
  const unsigned char* f = reinterpret_cast<const unsigned char*>(filter->getData());
  unsigned count = filter->getLength() / sizeof(double);
  if (count > _fftsz) count = _fftsz;
  for (unsigned k = 0; k < count; ++k) {
    double v;
    std::memcpy(&v, f + k * sizeof(double), sizeof v);
    a[k] *= v;
  }
}

void FFT::output(int format, DataBuf* out) {
  MTRACE("FFT::output(): doing output for %s FFT\n", directionName(_isgn));
  if (out == nullptr || out->getData() == nullptr) return;
  if (format != FORMAT_S16 && format != FORMAT_U8 && format != FORMAT_DOUBLE) return;
  const double* a = reinterpret_cast<const double*>(_data->getData());
  const double scale = _isgn == -1 ? 2.0 / _fftsz : 1.0;
  unsigned char* dst = reinterpret_cast<unsigned char*>(out->getData());
  const unsigned room = out->getSize();
  unsigned count = 0;
  switch (format) {
    case FORMAT_S16:
      count = room / 2;
      if (count > _fftsz) count = _fftsz;
      MTRACE("FFT::output(): samples count %u\n", count);
      for (unsigned k = 0; k < count; ++k) {
        const int16_t v = static_cast<int16_t>(roundClamp(a[k] * scale, INT16_MIN, INT16_MAX));
        std::memcpy(dst + 2 * k, &v, 2);
      }
      out->setLength(count * 2);
      break;
    case FORMAT_U8:
      count = room < _fftsz ? room : _fftsz;
      for (unsigned k = 0; k < count; ++k)
        dst[k] = static_cast<unsigned char>(roundClamp(a[k] * scale, 0, 255));
      out->setLength(count);
      break;
    case FORMAT_DOUBLE:
      count = room / sizeof(double);
      if (count > _fftsz) count = _fftsz;
      for (unsigned k = 0; k < count; ++k) {
        const double v = a[k] * scale;
        std::memcpy(dst + k * sizeof(double), &v, sizeof v);
      }
      out->setLength(count * sizeof(double));
      break;
  }
}

}  // namespace MorvaneLib

extern "C" void mosal_ac_detect(void) {}
