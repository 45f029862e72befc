// Out-of-line parts of Mutex and Semaphore: destructors and error getters.
#include <cerrno>
#include <cstring>
#include <ctime>

#include "mosal_posix/Mutex.h"
#include "mosal_posix/Semaphore.h"

namespace MorvaneLib {

Mutex::~Mutex() { pthread_mutex_destroy(&mutex); }
char* Mutex::getErrorString() { return std::strerror(errno); }
int Mutex::getErrorCode() { return errno; }

Semaphore::~Semaphore() { sem_destroy(&sem); }
char* Semaphore::getErrorString() { return std::strerror(errno); }
int Semaphore::getErrorCode() { return errno; }

int Semaphore::timedWait(unsigned ms) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  ts.tv_sec += ms / 1000;
  ts.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  }
  int r;
  while ((r = sem_timedwait(&sem, &ts)) == -1 && errno == EINTR) {
  }
  return r == 0 ? 0 : -1;
}

}  // namespace MorvaneLib
