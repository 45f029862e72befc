// A fake OSS "/dev/dsp", preloaded into the device tests: it negotiates like a
// sound card that can be told to change requests or fail, and records traffic.
#undef _FORTIFY_SOURCE
#include "audio/tests/FakeDsp.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/soundcard.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

const char* const kPath = "/dev/dsp";
const size_t kWrittenLimit = 4u << 20;

std::mutex gLock;
std::atomic<int> gFd{-1};
FakeDspConfig gConfig;
int gOpenCount, gOpenFlags, gCloseCount, gIoctlIndex, gWritesDone;
unsigned gReadPos;
std::vector<FakeDspIoctl> gIoctls;
std::vector<unsigned char> gWritten;
std::vector<size_t> gWriteSizes;

void defaults() {
  gConfig = FakeDspConfig();
  gConfig.failAt = -1;
  gConfig.failErrno = EINVAL;
  gConfig.formatMask = AFMT_MU_LAW | AFMT_A_LAW | AFMT_U8 | AFMT_S16_LE | AFMT_S16_BE | AFMT_S8;
  gConfig.fallbackFormat = AFMT_U8;
  gConfig.maxStereo = 1;
  gConfig.blockSize = 512;
  gConfig.writeErrorAfter = -1;
  gOpenCount = gOpenFlags = gCloseCount = gIoctlIndex = gWritesDone = 0;
  gReadPos = 0;
  gIoctls.clear();
  gWritten.clear();
  gWriteSizes.clear();
}

struct Init {
  Init() { defaults(); }
} gInit;

template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int fakeOpen(const char* path, int flags, mode_t mode, const char* real) {
  if (path == nullptr || std::strcmp(path, kPath) != 0) {
    auto f = next<int (*)(const char*, int, ...)>(real);
    return f(path, flags, mode);
  }
  std::lock_guard<std::mutex> g(gLock);
  ++gOpenCount;
  gOpenFlags = flags;
  if (gConfig.openErrno != 0) {
    errno = gConfig.openErrno;
    return -1;
  }
  if (gFd.load() >= 0) {
    errno = EBUSY;
    return -1;
  }
  auto f = next<int (*)(const char*, int, ...)>("open");
  int fd = f("/dev/null", O_RDWR, 0);
  gIoctlIndex = 0;
  gFd.store(fd);
  return fd;
}

int answerIoctl(unsigned long request, void* arg) {
  int* v = static_cast<int*>(arg);
  switch (request) {
    case SNDCTL_DSP_RESET:
      return 0;
    case SNDCTL_DSP_SETFMT:
      if (!(*v & gConfig.formatMask) || (*v & (*v - 1))) *v = gConfig.fallbackFormat;
      return 0;
    case SNDCTL_DSP_STEREO:
      if (*v > gConfig.maxStereo) *v = gConfig.maxStereo;
      if (*v < 0) *v = 0;
      return 0;
    case SNDCTL_DSP_SPEED:
      if (gConfig.forcedRate != 0) *v = gConfig.forcedRate;
      return 0;
    case SNDCTL_DSP_GETBLKSIZE:
      *v = gConfig.blockSize;
      return 0;
    case SNDCTL_DSP_GETISPACE:
    case SNDCTL_DSP_GETOSPACE: {
      audio_buf_info* info = static_cast<audio_buf_info*>(arg);
      info->fragments = 4;
      info->fragstotal = 4;
      info->fragsize = gConfig.blockSize;
      info->bytes = 4 * gConfig.blockSize;
      return 0;
    }
    default:
      errno = EINVAL;
      return -1;
  }
}

bool hasIntArgument(unsigned long request) {
  return request == SNDCTL_DSP_SETFMT || request == SNDCTL_DSP_STEREO ||
         request == SNDCTL_DSP_SPEED || request == SNDCTL_DSP_GETBLKSIZE;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  mode_t mode = (flags & O_CREAT) ? static_cast<mode_t>(va_arg(ap, int)) : 0;
  va_end(ap);
  return fakeOpen(path, flags, mode, "open");
}

int open64(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  mode_t mode = (flags & O_CREAT) ? static_cast<mode_t>(va_arg(ap, int)) : 0;
  va_end(ap);
  return fakeOpen(path, flags, mode, "open64");
}

int __open_2(const char* path, int flags) { return fakeOpen(path, flags, 0, "open"); }
int __open64_2(const char* path, int flags) { return fakeOpen(path, flags, 0, "open64"); }

int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  if (fd < 0 || fd != gFd.load()) {
    auto f = next<int (*)(int, unsigned long, ...)>("ioctl");
    return f(fd, request, arg);
  }
  std::lock_guard<std::mutex> g(gLock);
  FakeDspIoctl rec = {request, 0, 0, 0};
  bool isInt = hasIntArgument(request) && arg != nullptr;
  if (isInt) rec.sent = *static_cast<int*>(arg);
  int index = gIoctlIndex++;
  int r;
  if (index == gConfig.failAt || (gConfig.failRequest != 0 && request == gConfig.failRequest)) {
    errno = gConfig.failErrno;
    r = -1;
  } else if (arg == nullptr && request != SNDCTL_DSP_RESET) {
    errno = EFAULT;
    r = -1;
  } else {
    r = answerIoctl(request, arg);
  }
  rec.failed = r == -1;
  if (isInt) rec.answer = *static_cast<int*>(arg);
  int saved = errno;
  gIoctls.push_back(rec);
  errno = saved;
  return r;
}

ssize_t read(int fd, void* buf, size_t n) {
  if (fd < 0 || fd != gFd.load()) return next<ssize_t (*)(int, void*, size_t)>("read")(fd, buf, n);
  std::lock_guard<std::mutex> g(gLock);
  if (gConfig.readErrno != 0) {
    errno = gConfig.readErrno;
    return -1;
  }
  if (gConfig.readChunk > 0 && n > static_cast<size_t>(gConfig.readChunk)) n = gConfig.readChunk;
  unsigned char* p = static_cast<unsigned char*>(buf);
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<unsigned char>((gReadPos++) * 7 + 3);
  return static_cast<ssize_t>(n);
}

ssize_t write(int fd, const void* buf, size_t n) {
  if (fd < 0 || fd != gFd.load())
    return next<ssize_t (*)(int, const void*, size_t)>("write")(fd, buf, n);
  std::lock_guard<std::mutex> g(gLock);
  if (gConfig.writeErrno != 0 &&
      (gConfig.writeErrorAfter < 0 || gWritesDone >= gConfig.writeErrorAfter)) {
    errno = gConfig.writeErrno;
    return -1;
  }
  if (gConfig.maxWrite > 0 && n > static_cast<size_t>(gConfig.maxWrite)) n = gConfig.maxWrite;
  const unsigned char* p = static_cast<const unsigned char*>(buf);
  size_t keep = gWritten.size() < kWrittenLimit ? kWrittenLimit - gWritten.size() : 0;
  gWritten.insert(gWritten.end(), p, p + (n < keep ? n : keep));
  gWriteSizes.push_back(n);
  ++gWritesDone;
  return static_cast<ssize_t>(n);
}

int close(int fd) {
  if (fd >= 0 && fd == gFd.load()) {
    std::lock_guard<std::mutex> g(gLock);
    ++gCloseCount;
    gFd.store(-1);
  }
  return next<int (*)(int)>("close")(fd);
}

void fakedsp_reset(void) {
  std::lock_guard<std::mutex> g(gLock);
  int fd = gFd.exchange(-1);
  if (fd >= 0) next<int (*)(int)>("close")(fd);
  defaults();
}

FakeDspConfig* fakedsp_config(void) { return &gConfig; }
int fakedsp_open_count(void) { return gOpenCount; }
int fakedsp_open_flags(void) { return gOpenFlags; }
int fakedsp_close_count(void) { return gCloseCount; }
int fakedsp_is_open(void) { return gFd.load() >= 0; }
size_t fakedsp_ioctl_count(void) { return gIoctls.size(); }
const FakeDspIoctl* fakedsp_ioctl(size_t index) {
  return index < gIoctls.size() ? &gIoctls[index] : nullptr;
}
const unsigned char* fakedsp_written(size_t* length) {
  if (length != nullptr) *length = gWritten.size();
  return gWritten.data();
}
size_t fakedsp_write_count(void) { return gWriteSizes.size(); }
size_t fakedsp_write_size(size_t index) {
  return index < gWriteSizes.size() ? gWriteSizes[index] : 0;
}
}
