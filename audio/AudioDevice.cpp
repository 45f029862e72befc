// libulvaaudio: opening, negotiating, reading and writing the OSS "/dev/dsp" device.
#include "audio/AudioDevice.h"

#include <fcntl.h>
#include <linux/soundcard.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include "mosal/DataBuf.h"
#include "mosal/Trace.h"
#include "mosal/Vector.h"

using MorvaneLib::DataBuf;
using MorvaneLib::Vector;

namespace {

const char* const kDevicePath = "/dev/dsp";

// Padding after a short block never goes beyond this many zero bytes.
const unsigned kMaxPadding = 65536;
const char kZeros[kMaxPadding] = {};

struct FormatEntry {
  const char* name;
  int code;
};

const FormatEntry kFormats[] = {
    {"MU_LAW", AFMT_MU_LAW}, {"A_LAW", AFMT_A_LAW},   {"IMA_ADPCM", AFMT_IMA_ADPCM},
    {"U8", AFMT_U8},         {"S16_LE", AFMT_S16_LE}, {"S16_BE", AFMT_S16_BE},
    {"S16_NE", AFMT_S16_LE}, {"S8", AFMT_S8},         {"U16_LE", AFMT_U16_LE},
    {"U16_BE", AFMT_U16_BE},
};

enum Direction { DIR_NONE, DIR_IN, DIR_OUT };

Direction _direction(const char* name) {
  if (name == nullptr) return DIR_NONE;
  if (std::strcmp(name, AUDIO_DEVICE_IN) == 0) return DIR_IN;
  if (std::strcmp(name, AUDIO_DEVICE_OUT) == 0) return DIR_OUT;
  return DIR_NONE;
}

// Copies the system's text for `err` into the record, cut to 79 characters.
void _storeError(audio_device_t* dev, int err) {
  const char* text = std::strerror(err);
  std::strncpy(dev->error, text, sizeof(dev->error) - 1);
  dev->error[sizeof(dev->error) - 1] = '\0';
}

// ioctl with an int argument; the device's answer is left in *value.
int _ioctlInt(int fd, unsigned long request, int* value) {
  int r;
  while ((r = ioctl(fd, request, value)) == -1 && errno == EINTR) {
  }
  return r;
}

}  // namespace

int AudioDeviceOpen(const char* name, audio_device_t* dev) {
  Direction dir = _direction(name);
  if (dir == DIR_NONE || dev == nullptr) return -1;
  int fd;
  if (dir == DIR_IN) {
    MTRACE("AudioDeviceOpen(): opening device for reading ****\n");
    fd = dev->fdIn = open(kDevicePath, O_RDONLY);
  } else {
    MTRACE("AudioDeviceOpen(): opening device for writing ****\n");
    fd = dev->fdOut = open(kDevicePath, O_WRONLY);
  }
  if (fd == -1) {
    _storeError(dev, errno);
    MTRACE("AudioDeviceOpen(): error %s\n", dev->error);
    return -1;
  }
  return AudioDeviceReconfig(name, dev);
}

int AudioDeviceReconfig(const char* name, audio_device_t* dev) {
  Direction dir = _direction(name);
  if (dir == DIR_NONE || dev == nullptr) return -1;
  int fd = dir == DIR_IN ? dev->fdIn : dev->fdOut;
  int result = 0;
  int value;

  MTRACE("AudioDeviceReconfig(): reset\n");
  if (ioctl(fd, SNDCTL_DSP_RESET, 0) == -1) {
    _storeError(dev, errno);
    MTRACE("AudioDeviceReconfig(): error during reset\n");
  }

  MTRACE("AudioDeviceReconfig(): set format (req = %d)\n", dev->format);
  value = dev->format;
  if (_ioctlInt(fd, SNDCTL_DSP_SETFMT, &value) == -1) {
    _storeError(dev, errno);
    MTRACE("AudioDeviceReconfig(): cannot set format\n");
  } else if (value != dev->format) {
    MTRACE("AudioDeviceReconfig(): device rejected format\n");
    dev->format = value;
    result = -2;
  }

  // OSS has one request for both: the sample size travels as a format code.
  MTRACE("AudioDeviceReconfig(): set sample size (req = %d)\n", dev->bits);
  value = dev->bits;
  if (_ioctlInt(fd, SNDCTL_DSP_SAMPLESIZE, &value) == -1) {
    _storeError(dev, errno);
    return -1;
  }
  if (value != dev->bits) {
    MTRACE("AudioDeviceReconfig(): sample_size = %d\n", value);
    dev->bits = value;
    result = -2;
  }

  MTRACE("AudioDeviceReconfig(): set channels (req = %d)\n", dev->nchannels);
  value = dev->nchannels < 2 ? 0 : dev->nchannels - 1;
  if (_ioctlInt(fd, SNDCTL_DSP_STEREO, &value) == -1) {
    _storeError(dev, errno);
    return -1;
  }
  if (value + 1 != dev->nchannels) {
    MTRACE("AudioDeviceReconfig(): nchannels = %d\n", value);
    dev->nchannels = value + 1;
    result = -2;
  }

  MTRACE("AudioDeviceReconfig(): set rate (req = %d)\n", dev->rate);
  value = dev->rate;
  if (_ioctlInt(fd, SNDCTL_DSP_SPEED, &value) == -1) {
    _storeError(dev, errno);
    return -1;
  }
  if (value != dev->rate) {
    MTRACE("AudioDeviceReconfig(): rate = %d\n", value);
    dev->rate = value;
    result = -2;
  }

  MTRACE("AudioDeviceReconfig(): get block size\n");
  value = 0;
  if (_ioctlInt(fd, SNDCTL_DSP_GETBLKSIZE, &value) == -1) {
    _storeError(dev, errno);
    MTRACE("AudioDeviceReconfig(): cannot get block size\n");
    value = 0;
  }
  if (dir == DIR_IN)
    dev->iblocksz = value;
  else
    dev->oblocksz = value;

  dev->ibufsz = dev->iblocksz;
  dev->obufsz = dev->oblocksz;

  MTRACE("AudioDeviceReconfig\n");
  MTRACE("rate      = %d\n", dev->rate);
  MTRACE("bits      = %d\n", dev->bits);
  MTRACE("nchannels = %d\n", dev->nchannels);
  MTRACE("ibufsz    = %d\n", dev->ibufsz);
  MTRACE("obufsz    = %d\n", dev->obufsz);
  MTRACE("iblocksz  = %d\n", dev->iblocksz);
  MTRACE("oblocksz  = %d\n", dev->oblocksz);
  return result;
}

int AudioDeviceFormats(Vector* formats) {
  if (formats == nullptr) return -1;
  while (formats->getCount() > 0)
    if (formats->removeElement(nullptr, 0, nullptr) == -1) return -1;
  unsigned room = formats->getElementSize();
  for (const FormatEntry& f : kFormats) {
    // A name longer than the element is cut, but keeps a NUL.
    char name[16] = {};
    unsigned n = static_cast<unsigned>(std::strlen(f.name)) + 1;
    if (n > room) n = room;
    std::memcpy(name, f.name, n - 1);
    if (formats->addElement(name, n) == -1) return -1;
  }
  return 0;
}

int AudioDeviceGetFormatCode(const char* name) {
  if (name == nullptr) return -1;
  for (const FormatEntry& f : kFormats)
    if (std::strcmp(name, f.name) == 0) return f.code;
  return -1;
}

int AudioDeviceRead(audio_device_t* dev, DataBuf* buf) {
  if (dev == nullptr || buf == nullptr) return -1;
  // A lazily allocated buffer that was never written has no capacity yet.
  char* data = buf->getData();
  unsigned want = data != nullptr ? buf->getSize() : 0;
  if (want > INT_MAX) want = INT_MAX;
  ssize_t n = 0;
  if (want > 0) {
    while ((n = read(dev->fdIn, data, want)) == -1 && errno == EINTR) {
    }
    if (n == -1) {
      _storeError(dev, errno);
      return -1;
    }
  }
  audio_buf_info info;
  if (ioctl(dev->fdIn, SNDCTL_DSP_GETISPACE, &info) == -1)
    MTRACE("AudioDeviceRead(): ispace unsupported\n");
  buf->setLength(static_cast<unsigned>(n));
  return static_cast<int>(n);
}

int AudioDeviceWrite(audio_device_t* dev, DataBuf* buf) {
  if (dev == nullptr || buf == nullptr) return -1;
  const char* data = buf->getData();
  unsigned len = data != nullptr ? buf->getLength() : 0;
  if (len > INT_MAX) len = INT_MAX;
  ssize_t n;
  while ((n = write(dev->fdOut, data != nullptr ? data : kZeros, len)) == -1 && errno == EINTR) {
  }
  if (n == -1) {
    _storeError(dev, errno);
    return -1;
  }
  // Fill the rest of the block with silence, from our own zeros: the
  // caller's buffer holds only `len` valid bytes.
  if (n < dev->oblocksz) {
    long long missing = static_cast<long long>(dev->oblocksz) - n;
    size_t pad = missing > kMaxPadding ? kMaxPadding : static_cast<size_t>(missing);
    while (pad > 0) {
      ssize_t w = write(dev->fdOut, kZeros, pad);
      if (w == -1 && errno == EINTR) continue;
      if (w <= 0) {
        if (w == -1) _storeError(dev, errno);
        break;
      }
      pad -= static_cast<size_t>(w);
    }
  }
  audio_buf_info info;
  if (ioctl(dev->fdOut, SNDCTL_DSP_GETOSPACE, &info) == -1)
    MTRACE("AudioDeviceWrite(): ospace unsupported\n");
  return static_cast<int>(n);
}

int AudioDeviceClose(const char* name, audio_device_t* dev) {
  Direction dir = _direction(name);
  if (dir == DIR_NONE || dev == nullptr) return -1;
  int* fd = dir == DIR_IN ? &dev->fdIn : &dev->fdOut;
  if (*fd < 0) return -1;
  // A second close must not hit a descriptor someone else has opened since.
  int r = close(*fd);
  *fd = -1;
  if (r == -1) {
    _storeError(dev, errno);
    return -1;
  }
  return 0;
}

int AudioDeviceSetVolume(const char* name, audio_device_t* dev, int left, int right) {
  (void)dev;
  (void)left;
  (void)right;
  return _direction(name) == DIR_NONE ? -1 : 0;
}

int AudioDeviceGetVolume(const char* name, audio_device_t* dev, int* left, int* right) {
  (void)dev;
  (void)left;
  (void)right;
  return _direction(name) == DIR_NONE ? -1 : 0;
}

int AudioDeviceBuffer(const char* name, audio_device_t* dev) {
  (void)name;
  (void)dev;
  return 0;
}

int AudioDeviceCommand(const char* name, audio_device_t* dev, const char* command) {
  (void)name;
  (void)dev;
  (void)command;
  return 0;
}

char* AudioDeviceError(audio_device_t* dev) { return dev != nullptr ? dev->error : nullptr; }

int FilterPowerLevel(DataBuf* buf) {
  if (buf == nullptr) return -1;
  const char* data = buf->getData();
  if (data == nullptr) return 0;
  unsigned samples = buf->getLength() / 2;
  int peak = 0;
  for (unsigned i = 0; i < samples; ++i) {
    int16_t s;
    std::memcpy(&s, data + 2 * i, sizeof s);
    int a = s < 0 ? -static_cast<int>(s) : s;
    if (a > peak) peak = a;
  }
  return peak / 2;
}
