// FileCopyThread: a worker thread that copies one file to another per request,
// in 64 KiB chunks, with progress counters other threads can watch.
//
// copy() may be called from any thread: it hands over the two paths under
// their locks and posts one request. Requests made faster than they are served
// overwrite the paths; each post still causes one copy of the paths current
// when it is served. A source or destination that cannot be opened, and a read
// or write error, end only that copy (reported on standard error); the thread
// then waits for the next request.
//
// quit() raises the quit flag and wakes the thread if it waits for a request;
// a copy under way is finished first, requests not yet served are dropped.
// The destructor quits and waits for the thread to end.
//
// The counters and strings belong to the thread object; the pointers handed
// out by the getters live as long as it does.
#ifndef MOSAL_FILECOPYTHREAD_H
#define MOSAL_FILECOPYTHREAD_H

#include "mosal/DataBuf.h"
#include "mosal/SharedValues.h"
#include "mosal_posix/Mutex.h"
#include "mosal_posix/Semaphore.h"
#include "mosal_posix/Thread.h"

namespace MorvaneLib {

class FileCopyThread : public Thread {
 public:
  enum { CHUNK_SIZE = 65536, BUFFER_ID = 111100, BUFFER_LIMIT = 262144 };

  // Starts the thread, which then waits for requests. Throws
  // LibError("Semaphore()", "Cannot create semaphore (%s)") and the
  // DataBuf()/Thread() errors.
  explicit FileCopyThread(const char* name);
  ~FileCopyThread() override;

  // Copies `source` to `destination` on the thread (paths are copied).
  // The destination is not truncated: a shorter source leaves its old tail.
  void copy(const char* source, const char* destination);
  // Raises the quit flag and wakes a thread waiting for a request.
  void quit();

  void run() override;

  // Bytes read over all copies of the thread's life.
  unsigned getBytesCopied() { return _bytesCopied->get(); }
  // Size of the source of the current (or last) copy.
  unsigned getTotalSize() { return _totalSize->get(); }
  // Requests finished so far, whether their copy succeeded or failed.
  unsigned getRequestsServed() { return _served->get(); }
  SharedUint* getQuitFlag() { return _quit; }
  SharedUint* getBytesCopiedCounter() { return _bytesCopied; }
  SharedUint* getTotalSizeCounter() { return _totalSize; }

 private:
  // One copy of the paths current now; errors end it with a line on stderr.
  void _copyOnce();

  SharedUint* _quit;
  SharedUint* _bytesCopied;
  SharedUint* _totalSize;
  SharedUint* _served;
  SharedString* _source;
  SharedString* _destination;
  Semaphore* _request;
  DataBuf* _buffer;
  Mutex _pathLock;  // keeps the two paths of one request together
};

}  // namespace MorvaneLib

#endif
