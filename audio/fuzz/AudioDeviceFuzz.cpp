// Fuzzes what reaches the audio library from outside: format names from
// configuration, sample buffers of any length and whatever block size the
// record carries, against /dev/null and /dev/zero in place of the device.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "audio/AudioDevice.h"
#include "mosal/DataBuf.h"
#include "mosal/Trace.h"

using MorvaneLib::ALLOC_ONCREATE;
using MorvaneLib::DataBuf;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int sink = open("/dev/null", O_WRONLY);
  static int source = open("/dev/zero", O_RDONLY);
  MorvaneLib::Trace::setEnabled(false);
  if (size < 4) return 0;

  audio_device_t dev;
  std::memset(&dev, 0, sizeof dev);
  std::memcpy(&dev.oblocksz, data, 4);
  dev.fdOut = sink;
  dev.fdIn = source;
  data += 4;
  size -= 4;
  if (size > 65536) size = 65536;

  std::string name(reinterpret_cast<const char*>(data), size);
  int code = AudioDeviceGetFormatCode(name.c_str());
  if (code != -1 && code != 1 && code != 2 && code != 4 && code != 8 && code != 16 &&
      code != 32 && code != 64 && code != 128 && code != 256)
    __builtin_trap();

  // Exactly `size` bytes: any read beyond the data is caught.
  DataBuf buf(static_cast<unsigned>(size), 1, static_cast<unsigned>(size), ALLOC_ONCREATE);
  buf.copy(reinterpret_cast<const char*>(data), static_cast<unsigned>(size));
  int level = FilterPowerLevel(&buf);
  if (level < 0 || level > 16384) __builtin_trap();
  int w = AudioDeviceWrite(&dev, &buf);
  if (w != static_cast<int>(buf.getLength())) __builtin_trap();
  int r = AudioDeviceRead(&dev, &buf);
  if (r != static_cast<int>(buf.getLength())) __builtin_trap();
  AudioDeviceReconfig(size % 2 ? AUDIO_DEVICE_IN : AUDIO_DEVICE_OUT, &dev);
  if (std::memchr(dev.error, 0, sizeof dev.error) == nullptr) __builtin_trap();
  return 0;
}
