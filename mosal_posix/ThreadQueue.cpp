// Thread: the constructors that also give the thread a message queue.
#include "mosal/Queue.h"
#include "mosal_posix/Thread.h"

namespace MorvaneLib {

namespace {

void deletePriorityQueue(PriorityQueue* q) { delete q; }

}  // namespace

Thread::Thread(const char* text, Semaphore* start, unsigned itemSize, int capacity, int levels,
               int urgentCapacity) {
  init(text, start);
  try {
    termSem = new Semaphore(0, false);
    queue = new PriorityQueue(itemSize, capacity, levels, urgentCapacity);
  } catch (...) {
    delete termSem;
    delete startSem;
    delete name;
    throw;
  }
  queueDeleter = &deletePriorityQueue;
  try {
    create();  // frees the name and the semaphores itself when it throws
  } catch (...) {
    delete queue;
    throw;
  }
}

Thread::Thread(const char* text, unsigned itemSize, int capacity, int levels, int urgentCapacity) {
  init(text, nullptr);
  try {
    startSem = new Semaphore(0, false);
    termSem = new Semaphore(0, false);
    queue = new PriorityQueue(itemSize, capacity, levels, urgentCapacity);
  } catch (...) {
    delete termSem;
    delete startSem;
    delete name;
    throw;
  }
  queueDeleter = &deletePriorityQueue;
  try {
    create();
  } catch (...) {
    delete queue;
    throw;
  }
}

}  // namespace MorvaneLib
