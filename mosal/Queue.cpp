// Queue family: the record ring, its shared form and the priority queue with
// its urgent lane and weighted round-robin drawing.
#include "mosal/Queue.h"

#include <sched.h>

#include <cstring>
#include <new>

namespace MorvaneLib {

// ------------------------------------------------------------- QueueSemaphore

QueueSemaphore::QueueSemaphore(int initial) : count(initial), sleepers(new Semaphore(0, false)) {}

QueueSemaphore::~QueueSemaphore() { delete sleepers; }

void QueueSemaphore::wait() {
  // No spinning: a side that finds the queue empty (or full) sleeps, and the
  // other side then works through a batch of records on its own instead of
  // trading cache lines with it record by record.
  if (count.fetch_sub(1, std::memory_order_acquire) > 0) return;
  sleepers->wait();  // a post that saw us waiting posts the Semaphore once
}

int QueueSemaphore::timedWait(unsigned ms) {
  if (tryWait() == 0) return 0;
  if (count.fetch_sub(1, std::memory_order_acquire) > 0) return 0;
  if (sleepers->timedWait(ms) == 0) return 0;
  // Timed out: withdraw from the waiters, unless a post has already counted
  // on us, in which case its wake-up is on its way and is ours to take.
  int c = count.load(std::memory_order_relaxed);
  while (c < 0) {
    if (count.compare_exchange_weak(c, c + 1, std::memory_order_relaxed)) return -1;
  }
  sleepers->wait();
  return 0;
}

void QueueSemaphore::_wake() { sleepers->post(); }

Queue::~Queue() = default;

// ---------------------------------------------------------------- SimpleQueue

SimpleQueue::SimpleQueue(unsigned size, int cap)
    : itemSize(size), capacity(cap), ring(nullptr), putPos(nullptr), getPos(nullptr), count(0), free(0) {
  if (cap < 0) throw LibError("SimpleQueue()", "Invalid capacity %d", cap);
  if (cap == 0) return;  // nothing can ever be stored
  Node* item = new (std::nothrow) Node{0, nullptr, nullptr, nullptr};
  if (item == nullptr) throw LibError("SimpleQueue()", "Out of memory in item");
  ring = item;
  item->data = new (std::nothrow) char[size > 0 ? size : 1];
  if (item->data == nullptr) {
    _freeRing();
    throw LibError("SimpleQueue()", "Out of memory in item->data");
  }
  Node* cur = item;
  for (int i = 1; i < cap; ++i) {
    cur->next = new (std::nothrow) Node{0, nullptr, nullptr, cur};
    if (cur->next == nullptr) {
      _freeRing();
      throw LibError("SimpleQueue()", "Out of memory in cur->next (i = %d)", i);
    }
    cur = cur->next;
    cur->data = new (std::nothrow) char[size > 0 ? size : 1];
    if (cur->data == nullptr) {
      _freeRing();
      throw LibError("SimpleQueue()", "Out of memory in cur->data (i = %d)", i);
    }
  }
  putPos = getPos = ring;
  free = cap;
}

SimpleQueue::~SimpleQueue() { _freeRing(); }

void SimpleQueue::_freeRing() {
  Node* n = ring;
  while (n != nullptr) {
    Node* next = n->next;
    delete[] n->data;
    delete n;
    n = next;
  }
  ring = putPos = getPos = nullptr;
}

void SimpleQueue::_putRecord(const char* data, unsigned len) {
  unsigned n = len < itemSize ? len : itemSize;
  if (data == nullptr) n = 0;
  if (n > 0) std::memcpy(putPos->data, data, n);
  putPos->length = n;
  putPos = putPos->next != nullptr ? putPos->next : ring;
}

void SimpleQueue::_getRecord(char* buf, unsigned size) {
  unsigned n = getPos->length < size ? getPos->length : size;
  if (buf == nullptr) n = 0;
  if (n > 0) std::memcpy(buf, getPos->data, n);
  getPos = getPos->next != nullptr ? getPos->next : ring;
}

int SimpleQueue::put(const char* data, unsigned len) {
  if (free <= 0) return -1;
  _putRecord(data, len);
  count++;
  free--;
  return 0;
}

int SimpleQueue::get(char* buf, unsigned size) {
  if (count <= 0) return -1;
  _getRecord(buf, size);
  count--;
  free++;
  return 0;
}

int SimpleQueue::tryGet(char* buf, unsigned size) { return SimpleQueue::get(buf, size); }
int SimpleQueue::tryPut(const char* data, unsigned len) { return SimpleQueue::put(data, len); }

// ---------------------------------------------------------------- SharedQueue

SharedQueue::SharedQueue(unsigned size, int cap)
    : SimpleQueue(size, cap), items(nullptr), slots(nullptr), producers(nullptr), consumers(nullptr) {
  try {
    items = new QueueSemaphore(0);
    slots = new QueueSemaphore(cap);
  } catch (...) {
    delete items;
    throw;  // the SimpleQueue part frees the ring
  }
  producers = new Mutex();
  consumers = new Mutex();
}

SharedQueue::~SharedQueue() {
  delete items;
  delete slots;
  delete producers;
  delete consumers;
}

// The semaphores carry the counts: a slot taken from `slots` is a free record
// at the put position, an item taken from `items` a stored record at the get
// position. Each post publishes the record copy made before it.
void SharedQueue::_store(const char* data, unsigned len) {
  producers->lock();
  _putRecord(data, len);
  producers->unlock();
  items->post();
}

void SharedQueue::_take(char* buf, unsigned size) {
  consumers->lock();
  _getRecord(buf, size);
  consumers->unlock();
  slots->post();
}

int SharedQueue::put(const char* data, unsigned len) {
  slots->wait();
  _store(data, len);
  return 0;
}

int SharedQueue::tryPut(const char* data, unsigned len) {
  if (slots->tryWait() != 0) return -1;
  if (producers->tryLock() != 0) {
    slots->post();  // give the slot back
    return -1;
  }
  _putRecord(data, len);
  producers->unlock();
  items->post();
  return 0;
}

int SharedQueue::get(char* buf, unsigned size) {
  items->wait();
  _take(buf, size);
  return 0;
}

int SharedQueue::tryGet(char* buf, unsigned size) {
  if (items->tryWait() != 0) return -1;
  if (consumers->tryLock() != 0) {
    items->post();  // give the record back
    return -1;
  }
  _getRecord(buf, size);
  consumers->unlock();
  slots->post();
  return 0;
}

int SharedQueue::timedGet(char* buf, unsigned size, unsigned ms) {
  if (items->timedWait(ms) != 0) return -1;
  _take(buf, size);
  return 0;
}

int SharedQueue::_takeNow(char* buf, unsigned size) {
  if (items->tryWait() != 0) return -1;
  // The caller serialises every consumer of this queue: no consumers' mutex.
  _getRecord(buf, size);
  slots->post();
  return 0;
}

int SharedQueue::_storeNow(const char* data, unsigned len) {
  if (slots->tryWait() != 0) return -1;
  _store(data, len);
  return 0;
}

// -------------------------------------------------------------- PriorityQueue

PriorityQueue::PriorityQueue(unsigned size, int cap, int lv, int urgentCap)
    : itemSize(size),
      capacity(0),
      pq(nullptr),
      urgent(nullptr),
      levels(lv),
      cursor(0),
      threshold(nullptr),
      drawing_rate(nullptr),
      items_drawn(nullptr),
      items(nullptr),
      slots(nullptr),
      drawing(nullptr) {
  if (lv <= 0) throw LibError("PriorityQueue()", "Invalid number of levels %d", lv);
  if (cap < 0 || urgentCap < 0)
    throw LibError("PriorityQueue()", "Invalid capacity %d (urgent %d)", cap, urgentCap);
  capacity = cap + urgentCap;
  int c = cap / lv;
  pq = new (std::nothrow) SharedQueue*[lv];
  if (pq == nullptr) throw LibError("PriorityQueue()", "Out of memory in pq");
  for (int i = 0; i < lv; ++i) pq[i] = nullptr;
  try {
    for (int i = 0; i < lv; ++i) pq[i] = new SharedQueue(size, c);
    urgent = new SharedQueue(size, urgentCap);
    items_drawn = new (std::nothrow) int[lv];
    if (items_drawn == nullptr) throw LibError("PriorityQueue()", "Out of memory in items_drawn");
    threshold = new (std::nothrow) double[lv];
    if (threshold == nullptr) throw LibError("PriorityQueue()", "Out of memory in threshold");
    drawing_rate = new (std::nothrow) int[lv];
    if (drawing_rate == nullptr) throw LibError("PriorityQueue()", "Out of memory in drawing_rate");
    for (int i = 0; i < lv; ++i) {
      threshold[i] = 0.5 / (i + 1);
      drawing_rate[i] = static_cast<int>(threshold[i] * c);
      items_drawn[i] = 0;
    }
    items = new QueueSemaphore(0);
    slots = new QueueSemaphore(capacity);
    drawing = new Mutex();
  } catch (...) {
    _cleanup();
    throw;
  }
}

PriorityQueue::~PriorityQueue() { _cleanup(); }

void PriorityQueue::_cleanup() {
  if (pq != nullptr) {
    for (int i = 0; i < levels; ++i) delete pq[i];
    delete[] pq;
    pq = nullptr;
  }
  delete urgent;
  urgent = nullptr;
  delete[] threshold;
  delete[] drawing_rate;
  delete[] items_drawn;
  threshold = nullptr;
  drawing_rate = nullptr;
  items_drawn = nullptr;
  delete items;
  delete slots;
  delete drawing;
  items = slots = nullptr;
  drawing = nullptr;
}

SharedQueue* PriorityQueue::_lane(int priority) {
  if (priority >= levels) return nullptr;
  SharedQueue* q = priority < 0 ? urgent : pq[priority];
  // A lane without records (no urgent capacity, or fewer records than
  // levels) can never take one: refuse instead of waiting for ever.
  return q->getCapacity() > 0 ? q : nullptr;
}

int PriorityQueue::put(const char* data, unsigned len, int priority) {
  SharedQueue* q = _lane(priority);
  if (q == nullptr) return -1;
  slots->wait();
  // The level's own put waits while that level is full.
  if (q->put(data, len) != 0) {
    slots->post();
    return -1;
  }
  items->post();
  return 0;
}

int PriorityQueue::tryPut(const char* data, unsigned len, int priority) {
  SharedQueue* q = _lane(priority);
  if (q == nullptr) return -1;
  if (slots->tryWait() != 0) return -1;
  // A full level refuses too: a try never waits.
  if (q->_storeNow(data, len) != 0) {
    slots->post();
    return -1;
  }
  items->post();
  return 0;
}

int PriorityQueue::put(const char* data, unsigned len) { return put(data, len, 0); }
int PriorityQueue::tryPut(const char* data, unsigned len) { return tryPut(data, len, 0); }

void PriorityQueue::_draw(char* buf, unsigned size) {
  // Every item of `items` stands for one record already stored in a lane,
  // and every record is taken under the drawing mutex, so the record that
  // this caller's item stands for is there when it looks. The loop is a
  // safeguard: an item is never given up without its record.
  for (;;) {
    drawing->lock();
    if (urgent->_takeNow(buf, size) == 0) {  // urgent records always go first
      drawing->unlock();
      slots->post();
      return;
    }
    for (int k = 0; k < levels; ++k) {
      int level = (cursor + k) % levels;
      if (pq[level]->_takeNow(buf, size) == 0) {
        if (++items_drawn[level] >= drawing_rate[level]) {
          cursor = (cursor + 1) % levels;
          items_drawn[level] = 0;
        }
        drawing->unlock();
        slots->post();
        return;
      }
    }
    drawing->unlock();
    sched_yield();
  }
}

int PriorityQueue::get(char* buf, unsigned size) {
  items->wait();
  _draw(buf, size);
  return 0;
}

int PriorityQueue::tryGet(char* buf, unsigned size) {
  if (items->tryWait() != 0) return -1;
  _draw(buf, size);
  return 0;
}

int PriorityQueue::timedGet(char* buf, unsigned size, unsigned ms) {
  if (items->timedWait(ms) != 0) return -1;
  _draw(buf, size);
  return 0;
}

}  // namespace MorvaneLib
