// Thread: a named POSIX thread whose body is the virtual run(), started by a
// post of its start semaphore and waited for by its destructor.
//
// Start handshake: the new thread waits on the start semaphore before run().
// A subclass whose constructor takes only a name posts start() itself as the
// last step of its own constructor, so run() never sees a half-built object.
// The destructor blocks until run() has returned: never destroy a thread that
// was not started, nor a thread from inside its own run().
#ifndef MOSAL_POSIX_THREAD_H
#define MOSAL_POSIX_THREAD_H

#include <pthread.h>

#include "mosal/DataBuf.h"
#include "mosal_posix/Semaphore.h"

namespace MorvaneLib {

class PriorityQueue;

class Thread {
 public:
  enum { NAME_SIZE = 255 };  // a name of up to 254 characters fits whole

  explicit Thread(const char* name);
  // Takes ownership of `start`.
  Thread(const char* name, Semaphore* start);
  // Also create the message queue, PriorityQueue(itemSize, capacity, levels,
  // urgentCapacity), with the numbers passed through; the thread owns it.
  // Throw the queue's LibError as well.
  Thread(const char* name, Semaphore* start, unsigned itemSize, int capacity, int levels,
         int urgentCapacity);
  Thread(const char* name, unsigned itemSize, int capacity, int levels, int urgentCapacity);
  // Wraps an existing thread: named "SELF<id>", no thread of its own; the
  // destructor does not wait.
  explicit Thread(unsigned long id);
  virtual ~Thread();

  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  virtual void run();

  // Blocks the calling thread for `ms` milliseconds (any count, 1500 included).
  static void sleep(int ms);

  // Posts the start semaphore: run() begins (once, however often posted).
  void start() {
    if (startSem) startSem->post();
  }
  // Waits until run() has returned (or was skipped); later calls and the
  // base destructor return at once. A subclass whose run() uses members of
  // its own calls this first thing in its destructor: by the time the base
  // destructor runs, the subclass part (and its run()) is already gone.
  void waitTermination();
  // When set before the start signal, the thread ends without calling run().
  void setSkipRun(bool skip) { skipRun = skip; }

  const char* getName() const { return name->getData(); }
  pthread_t getHandle() const { return handle; }
  PriorityQueue* getQueue() const { return queue; }
  Semaphore* getStartSemaphore() const { return startSem; }
  bool isWrapped() const { return wrapped; }

 protected:
  PriorityQueue* queue;
  // Set by the constructors that create the queue (ThreadQueue.cpp), so this
  // file needs no queue definition.
  void (*queueDeleter)(PriorityQueue*);

 private:
  static void* threadProc(void* arg);
  void init(const char* name, Semaphore* start);
  void create();

  pthread_t handle;
  DataBuf* name;
  Semaphore* startSem;
  Semaphore* termSem;
  volatile bool skipRun;
  bool wrapped;
  bool terminated;
};

}  // namespace MorvaneLib

#endif
