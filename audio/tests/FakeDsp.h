// A fake OSS "/dev/dsp" for the tests: loaded with LD_PRELOAD, it answers
// open/ioctl/read/write/close of that path and passes every other file through.
// The test program links it too, to steer it through these functions.
#ifndef ULVA_TESTS_FAKEDSP_H
#define ULVA_TESTS_FAKEDSP_H

#include <cstddef>

extern "C" {

struct FakeDspConfig {
  int openErrno;       // open("/dev/dsp") fails with this errno; 0 opens
  int failAt;          // the ioctl with this index since open fails; -1 none
  unsigned long failRequest;  // every ioctl with this request fails; 0 none
  int failErrno;       // errno of the failing ioctls
  int formatMask;      // SETFMT accepts these AFMT bits ...
  int fallbackFormat;  // ... and answers this code for any other request
  int maxStereo;       // SNDCTL_DSP_STEREO answers min(request, maxStereo)
  int forcedRate;      // SNDCTL_DSP_SPEED answers this when non-zero
  int blockSize;       // SNDCTL_DSP_GETBLKSIZE answer
  int readErrno;       // reads fail with this errno; 0 read
  int readChunk;       // at most this many bytes per read; 0 unlimited
  int writeErrno;      // writes fail with this errno; 0 write
  int writeErrorAfter; // with writeErrno: fail once this many writes went through; -1 all
  int maxWrite;        // at most this many bytes per write; 0 unlimited
};

struct FakeDspIoctl {
  unsigned long request;
  int sent;    // the int the caller passed (0 for RESET and the space queries)
  int answer;  // what the device wrote back
  int failed;  // 1 when the call returned -1
};

// Back to the defaults (everything accepted, 512-byte blocks), log cleared.
void fakedsp_reset(void);
FakeDspConfig* fakedsp_config(void);

int fakedsp_open_count(void);   // opens of "/dev/dsp" attempted
int fakedsp_open_flags(void);   // flags of the last one
int fakedsp_close_count(void);  // closes of the fake descriptor
int fakedsp_is_open(void);

size_t fakedsp_ioctl_count(void);
const FakeDspIoctl* fakedsp_ioctl(size_t index);

// Every byte written, in order (kept up to 4 MiB), and the size of each write.
const unsigned char* fakedsp_written(size_t* length);
size_t fakedsp_write_count(void);
size_t fakedsp_write_size(size_t index);
}

#endif
