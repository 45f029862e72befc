// Queue, SimpleQueue, SharedQueue, PriorityQueue: bounded queues of
// fixed-size records for passing messages between threads.
//
// Every record is allocated at construction and reused; nothing is allocated
// while queueing. A put stores min(len, item size) bytes; a get copies
// min(record length, buffer size) bytes and does not report the length
// (records are of a size known to both sides). The queues copy the bytes:
// the caller keeps ownership of what it passes in and of its buffers.
// Records still queued at destruction are discarded.
#ifndef MOSAL_QUEUE_H
#define MOSAL_QUEUE_H

#include <atomic>

#include "mosal/Error.h"
#include "mosal_posix/Mutex.h"
#include "mosal_posix/Semaphore.h"

namespace MorvaneLib {

// The counting semaphore of the shared queues: the count lives in an atomic,
// and the system Semaphore is entered only when a thread has to wait, once
// per waiter, so a queue that is neither empty nor full costs no system call.
// (A Semaphore alone issues a wake-up on every post while a woken waiter has
// not yet run.) Each sits on a cache line of its own.
class alignas(64) QueueSemaphore {
 public:
  // Throws LibError("Semaphore()", ...).
  explicit QueueSemaphore(int initial);
  ~QueueSemaphore();
  QueueSemaphore(const QueueSemaphore&) = delete;
  QueueSemaphore& operator=(const QueueSemaphore&) = delete;

  // Takes one count, waiting as long as needed.
  void wait();
  // Takes one count if there is one: 0, or -1 at once.
  int tryWait() {
    int c = count.load(std::memory_order_relaxed);
    while (c > 0) {
      if (count.compare_exchange_weak(c, c - 1, std::memory_order_acquire, std::memory_order_relaxed))
        return 0;
    }
    return -1;
  }
  // Waits at most `ms` milliseconds: 0, or -1 on time-out (no count taken).
  int timedWait(unsigned ms);
  void post() {
    if (count.fetch_add(1, std::memory_order_release) < 0) _wake();
  }
  // Counts available (0 while threads wait).
  int getValue() const {
    int v = count.load(std::memory_order_relaxed);
    return v > 0 ? v : 0;
  }

 private:
  void _wake();

  // Below zero: minus the number of waiting threads.
  std::atomic<int> count;
  Semaphore* sleepers;
};

// The interface: 0 success, -1 failure (empty, full, refused).
class Queue {
 public:
  virtual ~Queue();
  // Waits (in the shared queues) until a record is there.
  virtual int get(char* buf, unsigned size) = 0;
  // Never waits: -1 at once when nothing can be taken.
  virtual int tryGet(char* buf, unsigned size) = 0;
  // Waits (in the shared queues) until a record is free.
  virtual int put(const char* data, unsigned len) = 0;
  // Never waits: -1 at once when nothing can be stored.
  virtual int tryPut(const char* data, unsigned len) = 0;
  virtual int getCount() = 0;
};

// A single-threaded ring of `capacity` preallocated records.
class SimpleQueue : public Queue {
 public:
  // Throws LibError("SimpleQueue()", "Out of memory in ...") when a record
  // cannot be allocated, and for a negative capacity.
  SimpleQueue(unsigned itemSize, int capacity);
  ~SimpleQueue() override;
  SimpleQueue(const SimpleQueue&) = delete;
  SimpleQueue& operator=(const SimpleQueue&) = delete;

  // -1 when empty. tryGet is the same.
  int get(char* buf, unsigned size) override;
  int tryGet(char* buf, unsigned size) override;
  // -1 when full. tryPut is the same.
  int put(const char* data, unsigned len) override;
  int tryPut(const char* data, unsigned len) override;
  int getCount() override { return count; }

  unsigned getItemSize() const { return itemSize; }
  int getCapacity() const { return capacity; }

 protected:
  // One record of the ring; `length` is a 32-bit count as in the record layout.
  struct Node {
    unsigned length;
    char* data;
    Node* next;  // null at the last node: a position then wraps to the first
    Node* prev;
  };

  // Copies a record in at the put position / out at the get position and
  // advances it; the callers have made sure there is room / a record.
  void _putRecord(const char* data, unsigned len);
  void _getRecord(char* buf, unsigned size);

  unsigned itemSize;
  int capacity;
  Node* ring;
  Node* putPos;
  // On a cache line of its own: the producer side writes putPos and the
  // consumer side getPos, and neither should slow the other down.
  alignas(64) Node* getPos;
  // Records queued and records free. A SharedQueue keeps these counts in its
  // semaphores instead (which both of its sides update atomically) and
  // leaves the two fields alone.
  int count;
  int free;

 private:
  void _freeRing();
};

// A SimpleQueue for any number of producer and consumer threads: the
// semaphores carry the counts, producers serialise on one mutex and
// consumers on the other, so a put and a get proceed in parallel.
class SharedQueue : public SimpleQueue {
 public:
  // Throws as SimpleQueue, and LibError("Semaphore()", ...).
  SharedQueue(unsigned itemSize, int capacity);
  ~SharedQueue() override;

  // Waits for a record.
  int get(char* buf, unsigned size) override;
  // -1 at once when empty or when another consumer holds the consumers' mutex.
  int tryGet(char* buf, unsigned size) override;
  // Waits for a free record (for ever on a queue of capacity 0).
  int put(const char* data, unsigned len) override;
  // -1 at once when full or when another producer holds the producers' mutex.
  int tryPut(const char* data, unsigned len) override;
  // The items semaphore's value.
  int getCount() override { return items->getValue(); }

  // Waits at most `ms` milliseconds for a record: 0, or -1 on time-out.
  int timedGet(char* buf, unsigned size, unsigned ms);

  // The non-waiting forms used by PriorityQueue: they never wait for a
  // record or a free slot and fail only when the queue is really empty or
  // full. _storeNow takes the producers' mutex (held for one copy);
  // _takeNow is for a caller that serialises all consumers of this queue
  // itself and takes no mutex.
  int _takeNow(char* buf, unsigned size);
  int _storeNow(const char* data, unsigned len);

 private:
  void _take(char* buf, unsigned size);
  void _store(const char* data, unsigned len);

  QueueSemaphore* items;
  QueueSemaphore* slots;
  Mutex* producers;
  Mutex* consumers;
};

// Several SharedQueues, one per level (level 0 is drawn most), an urgent
// lane that is always drawn first, and a weighted round-robin drawing rule:
// level i is served up to drawing_rate[i] = (0.5 / (i + 1)) * c times before
// the cursor moves on, where c = capacity / levels is each level's capacity.
// An empty level never holds the others up.
class PriorityQueue : public Queue {
 public:
  enum { URGENT = -1 };

  // Throws LibError("PriorityQueue()", "Out of memory in ...") and
  // LibError("Semaphore()", ...); also LibError("PriorityQueue()", ...) when
  // levels is not positive or a capacity is negative.
  PriorityQueue(unsigned itemSize, int capacity, int levels, int urgentCapacity);
  ~PriorityQueue() override;
  PriorityQueue(const PriorityQueue&) = delete;
  PriorityQueue& operator=(const PriorityQueue&) = delete;

  // Waits for a record (urgent first, then by the drawing rule).
  int get(char* buf, unsigned size) override;
  // -1 at once when nothing is queued.
  int tryGet(char* buf, unsigned size) override;
  // Waits at most `ms` milliseconds: 0, or -1 on time-out.
  int timedGet(char* buf, unsigned size, unsigned ms);
  // Level 0.
  int put(const char* data, unsigned len) override;
  int tryPut(const char* data, unsigned len) override;
  // Priority < 0 is the urgent lane, 0 .. levels-1 the levels; anything else
  // is refused with -1, and so is a lane of capacity 0 (urgent capacity 0,
  // or capacity < levels), which could never take the record. put waits for
  // a slot of the queue and of the lane.
  int put(const char* data, unsigned len, int priority);
  // Never waits: -1 at once when the queue or the chosen level is full.
  int tryPut(const char* data, unsigned len, int priority);
  // The items semaphore's value.
  int getCount() override { return items->getValue(); }

  unsigned getItemSize() const { return itemSize; }
  int getLevels() const { return levels; }
  int getDrawingRate(int level) const {
    return level >= 0 && level < levels ? drawing_rate[level] : -1;
  }

 private:
  // Takes a record once an item has been taken from `items`.
  void _draw(char* buf, unsigned size);
  SharedQueue* _lane(int priority);
  void _cleanup();

  unsigned itemSize;
  int capacity;  // normal plus urgent capacity
  SharedQueue** pq;
  SharedQueue* urgent;
  int levels;
  int cursor;
  double* threshold;
  int* drawing_rate;
  int* items_drawn;
  QueueSemaphore* items;
  QueueSemaphore* slots;
  Mutex* drawing;
};

}  // namespace MorvaneLib

#endif
