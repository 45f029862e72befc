// Drives the device functions once each way and prints "RESULT key=value"
// lines; the integration test runs it under PulseAudio's OSS emulation.
#include <linux/soundcard.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "audio/AudioDevice.h"
#include "mosal/DataBuf.h"

using MorvaneLib::ALLOC_ONCREATE;
using MorvaneLib::DataBuf;

namespace {

void request(audio_device_t* dev) {
  std::memset(dev, 0, sizeof *dev);
  dev->format = AFMT_S16_LE;
  dev->bits = 16;
  dev->rate = 8000;
  dev->nchannels = 1;
  dev->fdIn = dev->fdOut = -1;
}

}  // namespace

int main() {
  audio_device_t out;
  request(&out);
  int r = AudioDeviceOpen(AUDIO_DEVICE_OUT, &out);
  std::printf("RESULT open_out=%d\nRESULT oblocksz=%d\nRESULT out_rate=%d\n", r, out.oblocksz,
              out.rate);
  std::printf("RESULT out_error=%s\n", AudioDeviceError(&out));
  if (r == -1) return 1;

  // Half a second of a 440 Hz tone in whole blocks, then one short block.
  int block = out.oblocksz > 0 ? out.oblocksz : 1024;
  DataBuf tone(static_cast<unsigned>(block), 1, static_cast<unsigned>(block), ALLOC_ONCREATE);
  long written = 0, sample = 0;
  int writes = 0, failed = 0;
  const long kBytes = 8000;  // 16-bit mono at 8 kHz
  while (written < kBytes) {
    short* p = reinterpret_cast<short*>(tone.getData());
    for (int i = 0; i < block / 2; ++i, ++sample)
      p[i] = static_cast<short>(8000 * std::sin(2 * M_PI * 440 * sample / 8000.0));
    tone.setLength(static_cast<unsigned>(block));
    int w = AudioDeviceWrite(&out, &tone);
    if (w != block) ++failed;
    written += block;
    ++writes;
  }
  tone.setLength(100);
  std::printf("RESULT short_write=%d\n", AudioDeviceWrite(&out, &tone));
  std::printf("RESULT writes=%d\nRESULT failed_writes=%d\n", writes, failed);
  std::printf("RESULT close_out=%d\n", AudioDeviceClose(AUDIO_DEVICE_OUT, &out));

  audio_device_t in;
  request(&in);
  r = AudioDeviceOpen(AUDIO_DEVICE_IN, &in);
  std::printf("RESULT open_in=%d\nRESULT iblocksz=%d\n", r, in.iblocksz);
  if (r == -1) return 1;
  int block_in = in.iblocksz > 0 ? in.iblocksz : 1024;
  DataBuf capture(static_cast<unsigned>(block_in), 2, static_cast<unsigned>(block_in),
                  ALLOC_ONCREATE);
  int total = 0;
  for (int i = 0; i < 4; ++i) {
    int n = AudioDeviceRead(&in, &capture);
    if (n < 0) {
      total = -1;
      break;
    }
    total += n;
  }
  std::printf("RESULT read_total=%d\nRESULT level=%d\n", total, FilterPowerLevel(&capture));
  std::printf("RESULT close_in=%d\n", AudioDeviceClose(AUDIO_DEVICE_IN, &in));
  return 0;
}
