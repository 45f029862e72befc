// Mutex: a non-recursive POSIX mutex; lock operations are inline.
#ifndef MOSAL_POSIX_MUTEX_H
#define MOSAL_POSIX_MUTEX_H

#include <pthread.h>

#include "mosal/Error.h"

namespace MorvaneLib {

class Mutex : public Error {
 public:
  Mutex() { pthread_mutex_init(&mutex, nullptr); }
  ~Mutex() override;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  int lock() { return pthread_mutex_lock(&mutex); }
  int unlock() { return pthread_mutex_unlock(&mutex); }
  // EBUSY (16) when another thread holds the mutex; callers then give up.
  int tryLock() { return pthread_mutex_trylock(&mutex); }

  char* getErrorString() override;
  int getErrorCode() override;

  pthread_mutex_t* native() { return &mutex; }

 private:
  pthread_mutex_t mutex;
};

// Scoped lock for code inside the library.
class MutexLock {
 public:
  explicit MutexLock(Mutex& m) : m_(m) { m_.lock(); }
  ~MutexLock() { m_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& m_;
};

}  // namespace MorvaneLib

#endif
