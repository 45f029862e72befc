// libulvaaudio: the OSS sound device "/dev/dsp" behind a small C-style function set.
//
// The caller allocates an audio_device_t, fills the requested format, bits,
// rate and channel count, and opens the device for "audio_in" (capture,
// read-only) or "audio_out" (playback, write-only); any other direction name
// is an error. Every function returns 0 (or a count) on success and -1 on
// failure unless its comment says otherwise; a failing system call leaves its
// error text in the record's `error` field. Nothing here throws, nothing locks:
// one record belongs to one caller, and capture and playback use separate
// descriptors, so they may run on separate threads.
//
// The functions keep no pointer to anything handed to them.
#ifndef ULVA_AUDIODEVICE_H
#define ULVA_AUDIODEVICE_H

#include <cstddef>

namespace MorvaneLib {
class DataBuf;
class Vector;
}  // namespace MorvaneLib

// Layout: twelve 32-bit fields, then the 80-character error text; no
// pointers, so the record is the same on 32- and 64-bit hosts.
struct audio_device_t {
  int format;     // OSS AFMT code; requested, replaced by what the device accepts
  int bits;       // sample size in bits; requested, replaced
  int rate;       // sample rate in Hz; requested, replaced
  int nchannels;  // 1 mono, 2 stereo; requested, replaced
  int ibufsz;     // capture buffer size in bytes (= iblocksz after a reconfig)
  int reserved1;  // not used by this library
  int obufsz;     // playback buffer size in bytes (= oblocksz after a reconfig)
  int reserved2;  // not used by this library
  int fdIn;       // capture descriptor; -1 once closed
  int fdOut;      // playback descriptor; -1 once closed
  int iblocksz;   // capture block size reported by the device
  int oblocksz;   // playback block size reported by the device
  char error[80];  // last system error text, NUL-terminated
};

static_assert(sizeof(int) == 4, "audio_device_t fields are 32-bit");
static_assert(offsetof(audio_device_t, fdIn) == 32, "audio_device_t layout");
static_assert(offsetof(audio_device_t, error) == 48, "audio_device_t layout");
static_assert(sizeof(audio_device_t) == 128, "audio_device_t layout");

// Direction names.
#define AUDIO_DEVICE_IN "audio_in"
#define AUDIO_DEVICE_OUT "audio_out"

// Opens "/dev/dsp" read-only into fdIn ("audio_in") or write-only into fdOut
// ("audio_out"), then negotiates as AudioDeviceReconfig and returns its result.
int AudioDeviceOpen(const char* name, audio_device_t* dev);

// Negotiates format, sample size, channels and rate and reads the block size.
// 0 when the device took every request unchanged, -2 when it changed one or
// more (the accepted values are written back into dev), -1 on failure.
int AudioDeviceReconfig(const char* name, audio_device_t* dev);

// Empties `formats` and appends the ten format names, each with its NUL, in
// the order MU_LAW A_LAW IMA_ADPCM U8 S16_LE S16_BE S16_NE S8 U16_LE U16_BE.
// The vector's element size must hold 10 bytes ("IMA_ADPCM"); a shorter
// element keeps the name cut, still NUL-terminated. -1 for a null vector or when an append fails.
int AudioDeviceFormats(MorvaneLib::Vector* formats);

// The OSS code of a format name (exact, case-sensitive), -1 if unknown.
int AudioDeviceGetFormatCode(const char* name);

// Reads up to the buffer's capacity from fdIn; the buffer's length becomes the
// count read, which is returned.
int AudioDeviceRead(audio_device_t* dev, MorvaneLib::DataBuf* buf);

// Writes the buffer's used bytes to fdOut. When fewer bytes than oblocksz went
// out, zero bytes follow up to oblocksz (at most 65536 of them), so the device
// receives a whole block. Returns the count of the data written.
int AudioDeviceWrite(audio_device_t* dev, MorvaneLib::DataBuf* buf);

// Closes fdIn ("audio_in") or fdOut ("audio_out") and sets it to -1; -1 for
// other names, for a descriptor already closed, or when close fails.
int AudioDeviceClose(const char* name, audio_device_t* dev);

// No mixer control: 0 for "audio_in" and "audio_out", -1 for other names;
// the levels are neither read nor written.
int AudioDeviceSetVolume(const char* name, audio_device_t* dev, int left, int right);
int AudioDeviceGetVolume(const char* name, audio_device_t* dev, int* left, int* right);

// Accept anything and return 0.
int AudioDeviceBuffer(const char* name, audio_device_t* dev);
int AudioDeviceCommand(const char* name, audio_device_t* dev, const char* command);

// The record's error text (owned by the record); null for a null record.
char* AudioDeviceError(audio_device_t* dev);

// Peak level of signed 16-bit native-order samples: the largest absolute
// sample over the buffer's length, divided by 2 (0..16384); an odd trailing
// byte is ignored. 0 for an empty buffer, -1 for a null one.
int FilterPowerLevel(MorvaneLib::DataBuf* buf);

#endif
