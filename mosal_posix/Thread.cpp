// Thread: creation, the start handshake, the body's trace lines and sleep().
#include "mosal_posix/Thread.h"

#include <sys/select.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "mosal/Trace.h"

namespace MorvaneLib {

void Thread::init(const char* text, Semaphore* start) {
  queue = nullptr;
  queueDeleter = nullptr;
  handle = pthread_t();
  name = new DataBuf(NAME_SIZE, 0, 65536, ALLOC_ONCREATE);
  std::memset(name->getData(), 0, NAME_SIZE);
  if (text == nullptr) text = "";
  size_t n = std::strlen(text);
  if (n > NAME_SIZE - 1) n = NAME_SIZE - 1;  // cut, never overflow
  std::memcpy(name->getData(), text, n);
  name->setLength(static_cast<unsigned>(n) + 1);
  startSem = start;
  termSem = nullptr;
  skipRun = false;
  wrapped = false;
  terminated = false;
}

void Thread::create() {
  pthread_t tid;
  if (pthread_create(&tid, nullptr, &Thread::threadProc, this) != 0) {
    delete name;
    delete startSem;
    delete termSem;
    throw LibError("Thread()", "Cannot create thread (api error)");
  }
  handle = tid;
  // Nobody joins: the end of run() is known through the termination
  // semaphore, so the thread releases its own resources when it exits.
  pthread_detach(tid);
}

Thread::Thread(const char* text) {
  init(text, nullptr);
  try {
    startSem = new Semaphore(0, false);
    termSem = new Semaphore(0, false);
  } catch (...) {
    delete startSem;
    delete name;
    throw;
  }
  create();
}

Thread::Thread(const char* text, Semaphore* start) {
  init(text, start);
  try {
    termSem = new Semaphore(0, false);
  } catch (...) {
    delete startSem;
    delete name;
    throw;
  }
  create();
}

Thread::Thread(unsigned long id) {
  char buf[30];
  std::snprintf(buf, sizeof buf, "SELF%ld", static_cast<long>(id));
  init(buf, nullptr);
  handle = static_cast<pthread_t>(id);
  termSem = new Semaphore(0, false);
  wrapped = true;
}

Thread::~Thread() {
  MTRACE("~Thread(): (%s) waiting for thread termination\n", name->getData());
  waitTermination();
  delete startSem;
  delete termSem;
  if (queue != nullptr && queueDeleter != nullptr) queueDeleter(queue);
  delete name;
  MTRACE("~Thread(): everything ok\n");
}

void Thread::waitTermination() {
  if (wrapped || terminated) return;
  termSem->wait();
  terminated = true;
}

void Thread::run() { MTRACE("Thread::run()\n"); }

void* Thread::threadProc(void* arg) {
  Thread* self = static_cast<Thread*>(arg);
  MTRACE("**> thread_proc(): waiting for start\n");
  self->startSem->wait();
  bool skip = self->skipRun;
  MTRACE("**> thread_proc(): executing run ? %s\n", skip ? "No" : "Yes");
  if (!skip) self->run();
  MTRACE("**> thread_proc(): signal termination\n");
  // After this post the object may be gone: touch nothing of it.
  self->termSem->post();
  MTRACE("**> thread_proc(): exiting\n");
  return nullptr;
}

void Thread::sleep(int ms) {
  if (ms <= 0) return;
  // select() refuses a microsecond count of a second or more: normalise.
  struct timeval tv;
  tv.tv_sec = ms / 1000;
  tv.tv_usec = static_cast<long>(ms % 1000) * 1000L;
  // select may return early on a signal; it leaves the remaining time in tv.
  while (select(0, nullptr, nullptr, nullptr, &tv) == -1 && errno == EINTR) {
  }
}

}  // namespace MorvaneLib
