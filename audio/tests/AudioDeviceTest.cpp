// Tests of the OSS device functions against the preloaded fake "/dev/dsp".
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/soundcard.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "audio/AudioDevice.h"
#include "audio/tests/FakeDsp.h"
#include "mosal/DataBuf.h"
#include "mosal/Trace.h"
#include "mosal/Vector.h"

using MorvaneLib::ALLOC_ONCREATE;
using MorvaneLib::ALLOC_ONUSE;
using MorvaneLib::DataBuf;

namespace {

class AudioDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MorvaneLib::Trace::setEnabled(true);
    fakedsp_reset();
    std::memset(&dev, 0, sizeof dev);
    dev.format = AFMT_S16_LE;
    dev.bits = 16;
    dev.rate = 8000;
    dev.nchannels = 1;
    dev.fdIn = dev.fdOut = -1;
  }
  void TearDown() override { fakedsp_reset(); }

  // Opens with trace captured; the lines end up in `trace`.
  int openTraced(const char* name) {
    testing::internal::CaptureStdout();
    int r = AudioDeviceOpen(name, &dev);
    trace = testing::internal::GetCapturedStdout();
    return r;
  }
  bool traced(const std::string& line) { return trace.find(line + "\n") != std::string::npos; }

  audio_device_t dev;
  std::string trace;
};

TEST(AudioDeviceLoad, FakeDeviceIsInterposed) {
  // Without the preload every other test would talk to a missing device.
  int before = fakedsp_open_count();
  audio_device_t dev;
  std::memset(&dev, 0, sizeof dev);
  MorvaneLib::Trace::setEnabled(false);
  AudioDeviceOpen(AUDIO_DEVICE_OUT, &dev);
  MorvaneLib::Trace::setEnabled(true);
  ASSERT_EQ(before + 1, fakedsp_open_count()) << "run with LD_PRELOAD=libfakedsp.so";
  AudioDeviceClose(AUDIO_DEVICE_OUT, &dev);
  fakedsp_reset();
}

TEST_F(AudioDeviceTest, FormatNamesAndDirectionNames) {
  EXPECT_EQ(16, AudioDeviceGetFormatCode("S16_NE"));
  EXPECT_EQ(16, AudioDeviceGetFormatCode("S16_LE"));
  EXPECT_EQ(1, AudioDeviceGetFormatCode("MU_LAW"));
  EXPECT_EQ(256, AudioDeviceGetFormatCode("U16_BE"));
  EXPECT_EQ(-1, AudioDeviceGetFormatCode("s16_le"));
  EXPECT_EQ(-1, AudioDeviceGetFormatCode("S16"));
  EXPECT_EQ(-1, AudioDeviceGetFormatCode(nullptr));

  EXPECT_EQ(-1, AudioDeviceOpen("audio", &dev));
  EXPECT_EQ(-1, AudioDeviceOpen(nullptr, &dev));
  EXPECT_EQ(-1, AudioDeviceReconfig("audio", &dev));
  EXPECT_EQ(-1, AudioDeviceClose("audio", &dev));
  EXPECT_EQ(0, fakedsp_open_count());
  EXPECT_EQ(0u, fakedsp_ioctl_count());

  int left = 7, right = 9;
  EXPECT_EQ(0, AudioDeviceSetVolume(AUDIO_DEVICE_IN, &dev, 50, 50));
  EXPECT_EQ(0, AudioDeviceGetVolume(AUDIO_DEVICE_OUT, &dev, &left, &right));
  EXPECT_EQ(-1, AudioDeviceSetVolume("mixer", &dev, 50, 50));
  EXPECT_EQ(-1, AudioDeviceGetVolume("mixer", &dev, &left, &right));
  EXPECT_EQ(7, left);
  EXPECT_EQ(0, AudioDeviceBuffer("anything", nullptr));
  EXPECT_EQ(0, AudioDeviceCommand("anything", nullptr, "flush"));
  EXPECT_EQ(dev.error, AudioDeviceError(&dev));
  EXPECT_EQ(nullptr, AudioDeviceError(nullptr));
}

TEST(AudioDeviceFormats, ListsTheTenNamesInOrder) {
  MorvaneLib::Trace::setEnabled(false);
  MorvaneLib::Vector formats(16, 5, 3);
  formats.addElement("stale", 6);
  ASSERT_EQ(0, AudioDeviceFormats(&formats));
  const char* want[] = {"MU_LAW", "A_LAW",  "IMA_ADPCM", "U8",     "S16_LE",
                        "S16_BE", "S16_NE", "S8",        "U16_LE", "U16_BE"};
  ASSERT_EQ(10u, formats.getCount());
  for (unsigned i = 0; i < 10; ++i) EXPECT_STREQ(want[i], formats.elementAt(i)) << i;
  ASSERT_EQ(0, AudioDeviceFormats(&formats));  // asked again: still ten
  EXPECT_EQ(10u, formats.getCount());

  // Elements too small for a name keep it cut and terminated.
  MorvaneLib::Vector narrow(4, 5, 3);
  ASSERT_EQ(0, AudioDeviceFormats(&narrow));
  EXPECT_STREQ("IMA", narrow.elementAt(2));
  EXPECT_STREQ("U8", narrow.elementAt(3));
  EXPECT_EQ(-1, AudioDeviceFormats(nullptr));
  MorvaneLib::Trace::setEnabled(true);
}

TEST_F(AudioDeviceTest, PlaybackOpenNegotiatesEveryParameter) {
  dev.nchannels = 2;
  ASSERT_EQ(0, openTraced(AUDIO_DEVICE_OUT));
  EXPECT_EQ(O_WRONLY, fakedsp_open_flags() & O_ACCMODE);
  EXPECT_GE(dev.fdOut, 0);
  EXPECT_EQ(-1, dev.fdIn);

  // The requests in order, with what each carried: the sample size goes out
  // as a second SETFMT and two channels as STEREO 1.
  ASSERT_EQ(6u, fakedsp_ioctl_count());
  const unsigned long want[] = {SNDCTL_DSP_RESET, SNDCTL_DSP_SETFMT, SNDCTL_DSP_SETFMT,
                                SNDCTL_DSP_STEREO, SNDCTL_DSP_SPEED, SNDCTL_DSP_GETBLKSIZE};
  const int sent[] = {0, 16, 16, 1, 8000, 0};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(want[i], fakedsp_ioctl(i)->request) << i;
    EXPECT_EQ(sent[i], fakedsp_ioctl(i)->sent) << i;
  }
  EXPECT_EQ(512, dev.oblocksz);
  EXPECT_EQ(512, dev.obufsz);
  EXPECT_EQ(0, dev.iblocksz);
  EXPECT_EQ(0, dev.ibufsz);
  EXPECT_EQ(2, dev.nchannels);

  EXPECT_EQ(
      "AudioDeviceOpen(): opening device for writing ****\n"
      "AudioDeviceReconfig(): reset\n"
      "AudioDeviceReconfig(): set format (req = 16)\n"
      "AudioDeviceReconfig(): set sample size (req = 16)\n"
      "AudioDeviceReconfig(): set channels (req = 2)\n"
      "AudioDeviceReconfig(): set rate (req = 8000)\n"
      "AudioDeviceReconfig(): get block size\n"
      "AudioDeviceReconfig\n"
      "rate      = 8000\n"
      "bits      = 16\n"
      "nchannels = 2\n"
      "ibufsz    = 0\n"
      "obufsz    = 512\n"
      "iblocksz  = 0\n"
      "oblocksz  = 512\n",
      trace);
  EXPECT_EQ(0, AudioDeviceClose(AUDIO_DEVICE_OUT, &dev));
}

TEST_F(AudioDeviceTest, CaptureOpenUsesTheInputSide) {
  fakedsp_config()->blockSize = 1024;
  dev.oblocksz = 256;
  ASSERT_EQ(0, openTraced(AUDIO_DEVICE_IN));
  EXPECT_TRUE(traced("AudioDeviceOpen(): opening device for reading ****"));
  EXPECT_EQ(O_RDONLY, fakedsp_open_flags() & O_ACCMODE);
  EXPECT_GE(dev.fdIn, 0);
  EXPECT_EQ(-1, dev.fdOut);
  EXPECT_EQ(1024, dev.iblocksz);
  EXPECT_EQ(1024, dev.ibufsz);
  EXPECT_EQ(256, dev.obufsz);  // the playback side keeps its own block size
  EXPECT_EQ(0, fakedsp_ioctl(3)->sent);  // mono: STEREO 0
}

TEST_F(AudioDeviceTest, ChangedRequestsAreWrittenBackWithMinusTwo) {
  fakedsp_config()->forcedRate = 44100;
  dev.nchannels = 2;
  fakedsp_config()->maxStereo = 0;
  ASSERT_EQ(-2, openTraced(AUDIO_DEVICE_OUT));
  EXPECT_EQ(44100, dev.rate);
  EXPECT_EQ(1, dev.nchannels);
  EXPECT_EQ(1, fakedsp_ioctl(3)->sent);
  EXPECT_TRUE(traced("AudioDeviceReconfig(): rate = 44100"));
  EXPECT_TRUE(traced("AudioDeviceReconfig(): nchannels = 0"));
  EXPECT_TRUE(traced("rate      = 44100"));
  EXPECT_FALSE(traced("AudioDeviceReconfig(): device rejected format"));

  // A rejected format and sample size: the device's answers replace both.
  AudioDeviceClose(AUDIO_DEVICE_OUT, &dev);
  fakedsp_reset();
  dev.format = AFMT_U16_LE;
  dev.bits = 12;
  ASSERT_EQ(-2, openTraced(AUDIO_DEVICE_OUT));
  EXPECT_EQ(AFMT_U8, dev.format);
  EXPECT_EQ(AFMT_U8, dev.bits);
  EXPECT_TRUE(traced("AudioDeviceReconfig(): device rejected format"));
  EXPECT_TRUE(traced("AudioDeviceReconfig(): sample_size = 8"));

  // Reconfiguring an open device with what it accepted gives 0.
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, AudioDeviceReconfig(AUDIO_DEVICE_OUT, &dev));
  testing::internal::GetCapturedStdout();
}

TEST_F(AudioDeviceTest, OpenFailureKeepsTheSystemText) {
  fakedsp_config()->openErrno = ENOENT;
  EXPECT_EQ(-1, openTraced(AUDIO_DEVICE_IN));
  EXPECT_STREQ(std::strerror(ENOENT), AudioDeviceError(&dev));
  EXPECT_TRUE(traced(std::string("AudioDeviceOpen(): error ") + std::strerror(ENOENT)));
  EXPECT_FALSE(traced("AudioDeviceReconfig(): reset"));
  EXPECT_EQ(-1, dev.fdIn);
}

TEST_F(AudioDeviceTest, FailingRequestsStopOrGoOnByStep) {
  struct Case {
    int index;  // ioctl made to fail: 0 reset ... 5 block size
    int result;
    const char* line;
  };
  const Case cases[] = {
      {0, 0, "AudioDeviceReconfig(): error during reset"},
      {1, 0, "AudioDeviceReconfig(): cannot set format"},
      {2, -1, nullptr},
      {3, -1, nullptr},
      {4, -1, nullptr},
      {5, 0, "AudioDeviceReconfig(): cannot get block size"},
  };
  for (const Case& c : cases) {
    fakedsp_reset();
    fakedsp_config()->failAt = c.index;
    fakedsp_config()->failErrno = ENOTTY;
    dev.error[0] = '\0';
    dev.oblocksz = 77;
    EXPECT_EQ(c.result, openTraced(AUDIO_DEVICE_OUT)) << c.index;
    EXPECT_STREQ(std::strerror(ENOTTY), dev.error) << c.index;
    if (c.line != nullptr) {
      EXPECT_TRUE(traced(c.line)) << c.index << trace;
    }
    if (c.result == 0) {
      EXPECT_EQ(6u, fakedsp_ioctl_count()) << c.index;  // went on to the end
    } else {
      EXPECT_EQ(static_cast<size_t>(c.index + 1), fakedsp_ioctl_count());
      EXPECT_FALSE(traced("AudioDeviceReconfig")) << c.index;
    }
    if (c.index == 5) {
      EXPECT_EQ(0, dev.oblocksz);
      EXPECT_EQ(0, dev.obufsz);
    }
    AudioDeviceClose(AUDIO_DEVICE_OUT, &dev);
  }
}

TEST_F(AudioDeviceTest, ReadFillsTheBufferAndSetsItsLength) {
  testing::internal::CaptureStdout();
  ASSERT_EQ(0, AudioDeviceOpen(AUDIO_DEVICE_IN, &dev));
  DataBuf buf(320, 1, 320, ALLOC_ONCREATE);
  EXPECT_EQ(320, AudioDeviceRead(&dev, &buf));
  EXPECT_EQ(320u, buf.getLength());
  const unsigned char* p = reinterpret_cast<unsigned char*>(buf.getData());
  for (unsigned i = 0; i < 320; ++i) ASSERT_EQ(static_cast<unsigned char>(i * 7 + 3), p[i]);

  fakedsp_config()->readChunk = 100;
  EXPECT_EQ(100, AudioDeviceRead(&dev, &buf));
  EXPECT_EQ(100u, buf.getLength());
  EXPECT_EQ(static_cast<unsigned char>(320 * 7 + 3), p[0]);
  EXPECT_EQ(SNDCTL_DSP_GETISPACE, fakedsp_ioctl(fakedsp_ioctl_count() - 1)->request);

  // A buffer that was never allocated has no room: nothing is read into it.
  DataBuf lazy(64, 2, 64, ALLOC_ONUSE);
  EXPECT_EQ(0, AudioDeviceRead(&dev, &lazy));
  EXPECT_EQ(0u, lazy.getLength());

  fakedsp_config()->failRequest = SNDCTL_DSP_GETISPACE;
  EXPECT_EQ(100, AudioDeviceRead(&dev, &buf));
  fakedsp_config()->readErrno = EIO;
  EXPECT_EQ(-1, AudioDeviceRead(&dev, &buf));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, out.find("AudioDeviceRead(): ispace unsupported\n"));
  EXPECT_STREQ(std::strerror(EIO), dev.error);
  EXPECT_EQ(100u, buf.getLength());
  EXPECT_EQ(-1, AudioDeviceRead(&dev, nullptr));
}

TEST_F(AudioDeviceTest, ShortWritesArePaddedToAWholeBlockWithZeros) {
  testing::internal::CaptureStdout();
  ASSERT_EQ(0, AudioDeviceOpen(AUDIO_DEVICE_OUT, &dev));
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(512, dev.oblocksz);

  // The bytes past the length are the caller's, not silence: they stay out.
  DataBuf buf(512, 1, 512, ALLOC_ONCREATE);
  std::memset(buf.getData(), 0xAA, 512);
  std::memset(buf.getData(), 0x11, 100);
  buf.setLength(100);
  EXPECT_EQ(100, AudioDeviceWrite(&dev, &buf));
  size_t n;
  const unsigned char* w = fakedsp_written(&n);
  ASSERT_EQ(512u, n);
  for (size_t i = 0; i < 100; ++i) ASSERT_EQ(0x11, w[i]) << i;
  for (size_t i = 100; i < 512; ++i) ASSERT_EQ(0, w[i]) << i;

  // A whole block or more goes out as it is.
  buf.setLength(512);
  EXPECT_EQ(512, AudioDeviceWrite(&dev, &buf));
  fakedsp_written(&n);
  EXPECT_EQ(1024u, n);

  // The device taking only part of the padding at a time still gets all of it.
  fakedsp_config()->maxWrite = 150;
  buf.setLength(10);
  EXPECT_EQ(10, AudioDeviceWrite(&dev, &buf));
  fakedsp_written(&n);
  EXPECT_EQ(1024u + 512u, n);
  EXPECT_EQ(SNDCTL_DSP_GETOSPACE, fakedsp_ioctl(fakedsp_ioctl_count() - 1)->request);
}

TEST_F(AudioDeviceTest, PaddingStaysWithinItsBound) {
  fakedsp_config()->blockSize = 1 << 20;
  testing::internal::CaptureStdout();
  ASSERT_EQ(0, AudioDeviceOpen(AUDIO_DEVICE_OUT, &dev));
  testing::internal::GetCapturedStdout();
  DataBuf exact(64, 1, 64, ALLOC_ONCREATE);  // no slack after the data
  std::memset(exact.getData(), 0x22, 64);
  exact.setLength(64);
  EXPECT_EQ(64, AudioDeviceWrite(&dev, &exact));
  size_t n;
  const unsigned char* w = fakedsp_written(&n);
  ASSERT_EQ(64u + 65536u, n);
  for (size_t i = 64; i < n; ++i) ASSERT_EQ(0, w[i]) << i;

  // A block size the caller scribbled over: nothing is padded.
  dev.oblocksz = -5;
  EXPECT_EQ(64, AudioDeviceWrite(&dev, &exact));
  fakedsp_written(&n);
  EXPECT_EQ(64u + 65536u + 64u, n);
}

TEST_F(AudioDeviceTest, WriteFailuresAreReported) {
  testing::internal::CaptureStdout();
  ASSERT_EQ(0, AudioDeviceOpen(AUDIO_DEVICE_OUT, &dev));
  DataBuf buf(100, 1, 100, ALLOC_ONCREATE);
  buf.setLength(100);
  fakedsp_config()->failRequest = SNDCTL_DSP_GETOSPACE;
  EXPECT_EQ(100, AudioDeviceWrite(&dev, &buf));
  fakedsp_config()->writeErrno = EPIPE;
  EXPECT_EQ(-1, AudioDeviceWrite(&dev, &buf));
  EXPECT_STREQ(std::strerror(EPIPE), dev.error);

  // The data went out but the padding failed: the count stands, the text is kept.
  dev.error[0] = '\0';
  fakedsp_config()->writeErrno = EIO;
  fakedsp_config()->writeErrorAfter = static_cast<int>(fakedsp_write_count()) + 1;
  EXPECT_EQ(100, AudioDeviceWrite(&dev, &buf));
  EXPECT_STREQ(std::strerror(EIO), dev.error);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, out.find("AudioDeviceWrite(): ospace unsupported\n"));
  EXPECT_EQ(-1, AudioDeviceWrite(&dev, nullptr));
}

TEST_F(AudioDeviceTest, CloseReleasesTheDescriptorOnce) {
  testing::internal::CaptureStdout();
  ASSERT_EQ(0, AudioDeviceOpen(AUDIO_DEVICE_IN, &dev));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(-1, AudioDeviceClose(AUDIO_DEVICE_OUT, &dev));  // the other side was not open
  EXPECT_TRUE(fakedsp_is_open());
  EXPECT_EQ(0, AudioDeviceClose(AUDIO_DEVICE_IN, &dev));
  EXPECT_FALSE(fakedsp_is_open());
  EXPECT_EQ(-1, dev.fdIn);
  EXPECT_EQ(-1, AudioDeviceClose(AUDIO_DEVICE_IN, &dev));
  EXPECT_EQ(1, fakedsp_close_count());
}

TEST(FilterPowerLevel, PeakOfSignedSamplesHalved) {
  DataBuf buf(16, 1, 16, ALLOC_ONCREATE);
  const short samples[] = {100, -3000, 2999, 0};
  std::memcpy(buf.getData(), samples, sizeof samples);
  buf.setLength(sizeof samples);
  EXPECT_EQ(1500, FilterPowerLevel(&buf));

  const short extremes[] = {32767, -32768};
  std::memcpy(buf.getData(), extremes, sizeof extremes);
  buf.setLength(sizeof extremes);
  EXPECT_EQ(16384, FilterPowerLevel(&buf));
  buf.setLength(3);  // the odd byte is half of -32768: ignored
  EXPECT_EQ(16383, FilterPowerLevel(&buf));
  buf.setLength(1);
  EXPECT_EQ(0, FilterPowerLevel(&buf));

  DataBuf lazy(16, 2, 16, ALLOC_ONUSE);
  EXPECT_EQ(0, FilterPowerLevel(&lazy));
  EXPECT_EQ(-1, FilterPowerLevel(nullptr));
}

}  // namespace
