// Semaphore construction lives in libmosal; the destructor in libmosal_posix.
#include "mosal_posix/Semaphore.h"

#include <cstring>

namespace MorvaneLib {

Semaphore::Semaphore(unsigned initial, bool shared) {
  if (sem_init(&sem, shared ? 1 : 0, initial) != 0)
    throw LibError("Semaphore()", "Cannot create semaphore (%s)", std::strerror(errno));
}

}  // namespace MorvaneLib
