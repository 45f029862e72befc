// FileInputStream and FileOutputStream: POSIX descriptors behind the stream
// interface, with the error texts of their last failures.
#include "mosal_posix/Stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "mosal_posix/File.h"

namespace MorvaneLib {

namespace {

const char kNoError[] = "No error";
const char kSizeTooBig[] = "size greater than buffer size";
const char kBadOffset[] = "invalid offset";

void setText(DataBuf* b, const char* text) {
  b->xcopy(text, static_cast<unsigned>(std::strlen(text)) + 1);
}

int whenceOf(int whence) {
  switch (whence) {
    case 0: return SEEK_SET;
    case 1: return SEEK_CUR;
    case 2: return SEEK_END;
    default: return -1;
  }
}

// lseek with the result cut to what an int can report.
int seekFd(int fd, long long offset, int whence) {
  off_t pos = lseek(fd, static_cast<off_t>(offset), whence);
  if (pos < 0) return -1;
  if (pos > INT_MAX) {
    errno = EOVERFLOW;
    return -1;
  }
  return static_cast<int>(pos);
}

// One read(2), restarted after a signal; n is capped so the count fits an int.
int readFd(int fd, char* buf, unsigned n) {
  if (n > static_cast<unsigned>(INT_MAX)) n = INT_MAX;
  ssize_t r;
  do {
    r = ::read(fd, buf, n);
  } while (r < 0 && errno == EINTR);
  return static_cast<int>(r);
}

// lseek with the stream's whence (0, 1, 2) mapped to SEEK_SET, SEEK_CUR and
// SEEK_END; any other whence fails with EINVAL.
int seekStreamFd(int fd, int offset, int whence) {
  int w = whenceOf(whence);
  if (w < 0) {
    errno = EINVAL;
    return -1;
  }
  return seekFd(fd, offset, w);
}

// Opens the file's path with flags (restarted after a signal) and makes the
// "No error" text for *error. On failure nothing stays open, an owned file is
// deleted, and LibError is thrown for where; when open(2) itself fails, file
// is also cleared.
int openFileFd(File*& file, bool ownFile, int flags, DataBuf*& error, const char* where) {
  int fd;
  do {
    fd = ::open(file->getPathname(), flags, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    int e = errno;
    if (ownFile) delete file;
    file = nullptr;
    throw LibError(where, "%s", std::strerror(e));
  }
  try {
    error = new DataBuf(kNoError);
  } catch (...) {
    ::close(fd);
    if (ownFile) delete file;
    throw;
  }
  return fd;
}

}  // namespace

// ---------------------------------------------------------------- input

FileInputStream::FileInputStream(const char* path)
    : _fd(-1), _file(nullptr), _ownFile(true), _error(nullptr) {
  if (path == nullptr) throw LibError("FileInputStream()", "%s", std::strerror(EINVAL));
  _file = new File(path);
  _open("FileInputStream()");
}

FileInputStream::FileInputStream(File* f)
    : _fd(-1), _file(f), _ownFile(false), _error(nullptr) {
  if (f == nullptr) throw LibError("FileInputStream()", "%s", std::strerror(EINVAL));
  _open("FileInputStream()");
}

void FileInputStream::_open(const char* where) {
  _fd = openFileFd(_file, _ownFile, O_RDONLY | O_CLOEXEC, _error, where);
}

FileInputStream::~FileInputStream() {
  close();
  delete _error;
  if (_ownFile) delete _file;
}

int FileInputStream::_fail(const char* text) {
  setText(_error, text);
  return -1;
}

int FileInputStream::_failErrno() { return _fail(std::strerror(errno)); }

int FileInputStream::seek(int offset, int whence) {
  int r = seekStreamFd(_fd, offset, whence);
  return r < 0 ? _failErrno() : r;
}

int FileInputStream::available() {
  off_t pos = lseek(_fd, 0, SEEK_CUR);
  if (pos < 0) return _failErrno();
  long long left = _file->getSize() - static_cast<long long>(pos);
  if (left > INT_MAX) return INT_MAX;
  return static_cast<int>(left);
}

void FileInputStream::close() {
  if (_fd >= 0) {
    ::close(_fd);
    _fd = -1;
  }
}

void FileInputStream::mark(int) { std::fprintf(stderr, "FileInputStream::mark() ** UNSUPPORTED **\n"); }

int FileInputStream::reset() {
  std::fprintf(stderr, "FileInputStream::reset() ** UNSUPPORTED **\n");
  return 0;
}

int FileInputStream::read(char* c) {
  if (c == nullptr) {
    errno = EFAULT;
    return _failErrno();
  }
  int r = readFd(_fd, c, 1);
  return r < 0 ? _failErrno() : r;
}

int FileInputStream::read(char* buf, unsigned n) {
  if (buf == nullptr && n > 0) {
    errno = EFAULT;
    return _failErrno();
  }
  int r = readFd(_fd, buf, n);
  return r < 0 ? _failErrno() : r;
}

int FileInputStream::read(DataBuf* b) {
  if (b == nullptr) {
    errno = EFAULT;
    return _failErrno();
  }
  if (b->getData() == nullptr || b->getSize() == 0) {
    b->setLength(0);
    return 0;
  }
  int r = readFd(_fd, b->getData(), b->getSize());
  if (r < 0) return _failErrno();
  b->setLength(static_cast<unsigned>(r));
  return r;
}

int FileInputStream::read(DataBuf* b, unsigned offset, unsigned n) {
  if (b == nullptr) {
    errno = EFAULT;
    return _failErrno();
  }
  unsigned size = b->getSize();
  if (n > size) return _fail(kSizeTooBig);
  if (offset >= n || offset >= size) return _fail(kBadOffset);
  unsigned room = size - offset;
  int r = readFd(_fd, b->getData() + offset, n < room ? n : room);
  if (r < 0) return _failErrno();
  b->setLength(offset + static_cast<unsigned>(r));
  return r;
}

int FileInputStream::skip(int n) {
  int r = seekFd(_fd, n, SEEK_SET);
  return r < 0 ? _failErrno() : r;
}

// ---------------------------------------------------------------- output

FileOutputStream::FileOutputStream(const char* path)
    : _fd(-1), _file(nullptr), _ownFile(true), _error(nullptr) {
  if (path == nullptr) throw LibError("FileOutputStream()", "%s", std::strerror(EINVAL));
  _file = new File(path);
  _open();
}

FileOutputStream::FileOutputStream(File* f)
    : _fd(-1), _file(f), _ownFile(false), _error(nullptr) {
  if (f == nullptr) throw LibError("FileOutputStream()", "%s", std::strerror(EINVAL));
  _open();
}

void FileOutputStream::_open() {
  _fd = openFileFd(_file, _ownFile, O_WRONLY | O_CREAT | O_CLOEXEC, _error, "FileOutputStream()");
}

FileOutputStream::~FileOutputStream() {
  close();
  delete _error;
  if (_ownFile) delete _file;
}

int FileOutputStream::_fail(const char* text) {
  setText(_error, text);
  return -1;
}

int FileOutputStream::_failErrno() { return _fail(std::strerror(errno)); }

int FileOutputStream::seek(int offset, int whence) {
  int r = seekStreamFd(_fd, offset, whence);
  return r < 0 ? _failErrno() : r;
}

void FileOutputStream::close() {
  if (_fd >= 0) {
    ::close(_fd);
    _fd = -1;
  }
}

int FileOutputStream::write(char c) { return write(&c, 1); }

int FileOutputStream::write(const char* buf, unsigned n) {
  if (n > static_cast<unsigned>(INT_MAX)) n = INT_MAX;
  if (buf == nullptr && n > 0) {
    errno = EFAULT;
    return _failErrno();
  }
  unsigned done = 0;
  while (done < n) {
    ssize_t w = ::write(_fd, buf + done, n - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return _failErrno();
    }
    done += static_cast<unsigned>(w);
  }
  return static_cast<int>(done);
}

int FileOutputStream::write(DataBuf* b) {
  if (b == nullptr) {
    errno = EFAULT;
    return _failErrno();
  }
  return write(b->getData(), b->getLength());
}

int FileOutputStream::write(DataBuf* b, unsigned offset, unsigned n) {
  if (b == nullptr) {
    errno = EFAULT;
    return _failErrno();
  }
  unsigned length = b->getLength();
  if (n > length) return _fail(kSizeTooBig);
  if (offset >= n || offset >= length) return _fail(kBadOffset);
  unsigned left = length - offset;
  return write(b->getData() + offset, n < left ? n : left);
}

}  // namespace MorvaneLib
