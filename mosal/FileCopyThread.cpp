// FileCopyThread: the request loop, chunked copying and its error reports.
#include "mosal/FileCopyThread.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "mosal/Error.h"
#include "mosal_posix/Stream.h"

namespace MorvaneLib {

FileCopyThread::FileCopyThread(const char* name)
    : Thread(name),
      _quit(nullptr),
      _bytesCopied(nullptr),
      _totalSize(nullptr),
      _served(nullptr),
      _source(nullptr),
      _destination(nullptr),
      _request(nullptr),
      _buffer(nullptr) {
  try {
    _quit = new SharedUint();
    _bytesCopied = new SharedUint();
    _totalSize = new SharedUint();
    _served = new SharedUint();
    _source = new SharedString();
    _destination = new SharedString();
    _request = new Semaphore(0);
    _buffer = new DataBuf(CHUNK_SIZE, BUFFER_ID, BUFFER_LIMIT, ALLOC_ONCREATE);
  } catch (...) {
    // The thread already exists and waits for its start: let it end without
    // run(), or the base destructor would wait for ever.
    setSkipRun(true);
    start();
    waitTermination();
    delete _destination;
    delete _source;
    delete _served;
    delete _totalSize;
    delete _bytesCopied;
    delete _quit;
    delete _request;
    throw;
  }
  start();
}

FileCopyThread::~FileCopyThread() {
  // An idle thread waits for a request: wake it to see the flag.
  quit();
  waitTermination();
  delete _buffer;
  delete _request;
  delete _destination;
  delete _source;
  delete _served;
  delete _totalSize;
  delete _bytesCopied;
  delete _quit;
}

void FileCopyThread::copy(const char* source, const char* destination) {
  {
    // Both paths change together, so a copy never takes one path of one
    // request and the other of the next.
    MutexLock hold(_pathLock);
    _source->set(source);
    _destination->set(destination);
  }
  _request->post();
}

void FileCopyThread::quit() {
  _quit->set(1);
  _request->post();
}

void FileCopyThread::run() {
  while (_quit->get() == 0) {
    _request->wait();
    if (_quit->get() != 0) break;
    _copyOnce();
    _served->set(_served->get() + 1);
  }
}

void FileCopyThread::_copyOnce() {
  std::string source, destination;
  {
    MutexLock hold(_pathLock);
    source = _source->get();
    destination = _destination->get();
  }

  FileInputStream* in = nullptr;
  FileOutputStream* out = nullptr;
  try {
    in = new FileInputStream(source.c_str());
  } catch (LibError& e) {
    std::fprintf(stderr, "Cannot open %s: %s\n", source.c_str(), e.getReason());
    return;
  }
  try {
    out = new FileOutputStream(destination.c_str());
  } catch (LibError& e) {
    std::fprintf(stderr, "Cannot open %s: %s\n", destination.c_str(), e.getReason());
    delete in;
    return;
  }

  int size = in->available();
  _totalSize->set(size > 0 ? static_cast<unsigned>(size) : 0);

  while (in->available() > 0) {
    int n = in->read(_buffer);
    if (n < 0) {
      const char* text = in->getErrorString();
      std::fprintf(stderr, "Read error: %s\n", text != nullptr ? text : std::strerror(errno));
      break;
    }
    // The file is shorter than when it was opened: its end ends the copy.
    if (n == 0) break;
    _bytesCopied->set(_bytesCopied->get() + static_cast<unsigned>(n));

    errno = 0;
    if (out->write(_buffer) != static_cast<int>(_buffer->getLength())) {
      const char* text = out->getErrorString();
      std::fprintf(stderr, "Write error: %s\n",
                   text != nullptr ? text : std::strerror(errno != 0 ? errno : EIO));
      break;
    }
  }
  delete out;
  delete in;
}

}  // namespace MorvaneLib
