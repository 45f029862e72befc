// Semaphore: a POSIX unnamed counting semaphore; operations are inline.
#ifndef MOSAL_POSIX_SEMAPHORE_H
#define MOSAL_POSIX_SEMAPHORE_H

#include <semaphore.h>

#include <cerrno>

#include "mosal/Error.h"

namespace MorvaneLib {

class Semaphore : public Error {
 public:
  // Throws LibError("Semaphore()", "Cannot create semaphore (%s)").
  explicit Semaphore(unsigned initial = 0, bool shared = false);
  ~Semaphore() override;
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  // Restarts after a signal, so a wait returns only when the count was taken.
  int wait() {
    int r;
    while ((r = sem_wait(&sem)) == -1 && errno == EINTR) {
    }
    return r;
  }
  int post() { return sem_post(&sem); }
  int tryWait() { return sem_trywait(&sem); }
  int getValue() {
    int v = 0;
    sem_getvalue(&sem, &v);
    return v;
  }
  // Waits at most `ms` milliseconds; 0 when the count was taken, -1 on time-out.
  int timedWait(unsigned ms);

  char* getErrorString() override;
  int getErrorCode() override;

 private:
  sem_t sem;
};

}  // namespace MorvaneLib

#endif
