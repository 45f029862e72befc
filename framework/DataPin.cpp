// The data path of the framework: frame pools, frames, wires and data pins.
#include <time.h>

#include <cstring>
#include <mutex>

#include "framework/Block.h"
#include "framework/BlockManager.h"

namespace MorvaneLib {

namespace {

// Frames grow to the largest payload they carried; the limit only guards
// against absurd requests.
const unsigned kFrameLimit = 64u << 20;

}  // namespace

// The frames of one output pin. The pin holds one reference and every frame
// outside the free list one more; the pool goes with the last of them, so a
// consumer may still release a frame after its producer's pin is gone.
class FramePool {
 public:
  FramePool() = default;

  // A free frame with one reference, or null.
  DataFrame* acquire() {
    std::lock_guard<std::mutex> l(_m);
    DataFrame* f = _free;
    if (f == nullptr) return nullptr;
    _free = f->_next;
    f->_next = nullptr;
    ++_outside;
    f->_refs.store(1);
    return f;
  }

  // A frame whose last reference went.
  void giveBack(DataFrame* f) {
    bool last = false;
    {
      std::lock_guard<std::mutex> l(_m);
      --_outside;
      if (_retired) {
        delete f;
        --_total;
        last = _outside == 0;
      } else {
        f->_next = _free;
        _free = f;
      }
    }
    if (last) delete this;
  }

  // Allocates frame records (not their bytes) up to `target`.
  void grow(unsigned target) {
    std::lock_guard<std::mutex> l(_m);
    while (_total < target) {
      DataFrame* f = new DataFrame();
      f->_pool = this;
      f->_next = _free;
      _free = f;
      ++_total;
    }
  }

  // The pin is gone: frees the free frames now, the others as they return.
  void retire() {
    bool last;
    {
      std::lock_guard<std::mutex> l(_m);
      _retired = true;
      while (_free != nullptr) {
        DataFrame* f = _free;
        _free = f->_next;
        delete f;
        --_total;
      }
      last = _outside == 0;
    }
    if (last) delete this;
  }

  unsigned total() {
    std::lock_guard<std::mutex> l(_m);
    return _total;
  }

 private:
  ~FramePool() = default;
  std::mutex _m;
  DataFrame* _free = nullptr;
  unsigned _total = 0;
  unsigned _outside = 0;
  bool _retired = false;
};

// ---------------------------------------------------------------- DataFrame

DataFrame::~DataFrame() { delete _data; }

void DataFrame::release() {
  if (_refs.fetch_sub(1) == 1) _pool->giveBack(this);
}

// ---------------------------------------------------------------- Wire

Wire::Wire(DataPin* source, DataPin* destination, unsigned depth)
    : _source(source), _destination(destination), _depth(depth), _queue(nullptr) {
  _queue = new SharedQueue(sizeof(DataFrame*), static_cast<int>(depth));
}

Wire::~Wire() {
  _drain();
  delete _queue;
}

// The count of queued frames is kept here rather than read from the queue:
// it goes up after a put and down once a get has given its slot back, so a
// count below the depth always means that a put will find a slot.
int Wire::getQueued() { return static_cast<int>(_queued.load()); }

int Wire::_offer(DataFrame* f) {
  if (_queue->tryPut(reinterpret_cast<const char*>(&f), sizeof f) != 0) return -1;
  _queued.fetch_add(1);
  return 0;
}

DataFrame* Wire::_take() {
  DataFrame* f = nullptr;
  if (_queue->tryGet(reinterpret_cast<char*>(&f), sizeof f) != 0) return nullptr;
  _queued.fetch_sub(1);
  return f;
}

bool Wire::_roomOrWatch() {
  if (_queued.load() < _depth) return true;
  _producerWaiting.store(true);
  // The consumer may have taken a frame before the flag was up.
  return _queued.load() < _depth;
}

void Wire::_drain() {
  DataFrame* f;
  while ((f = _take()) != nullptr) f->release();
}

void Wire::_ref() { _refs.fetch_add(1); }

void Wire::_unref() {
  if (_refs.fetch_sub(1) == 1) delete this;
}

// ---------------------------------------------------------------- DataPin

DataPin::DataPin(Block* block, const char* name, int direction)
    : _block(block),
      _qualified(nullptr),
      _direction(direction),
      _wires(nullptr),
      _pool(nullptr),
      _sequence(0),
      _painter(nullptr) {
  std::memset(_name, 0, sizeof _name);
  std::strncpy(_name, name, NAME_SIZE - 1);
  size_t n = std::strlen(block->getName()) + 1 + std::strlen(_name) + 1;
  _qualified = new DataBuf(static_cast<unsigned>(n), 0, static_cast<unsigned>(n), ALLOC_ONCREATE);
  std::snprintf(_qualified->getData(), n, "%s.%s", block->getName(), _name);
  _qualified->setLength(static_cast<unsigned>(n));
  _wires = new SharedHash(32);
  if (direction == OUTPUT) _pool = new FramePool();
}

DataPin::~DataPin() {
  if (_pool != nullptr) _pool->retire();
  delete _wires;
  delete _qualified;
}

unsigned DataPin::getWireCount() { return _wireCount.load(); }

void DataPin::_addWire(Wire* w) {
  DataPin* other = w->_source == this ? w->_destination : w->_source;
  const char* key = other->getQualifiedName();
  _wires->pput(key, static_cast<unsigned>(std::strlen(key)) + 1, w, true);
  _wireCount.fetch_add(1);
  if (_direction == OUTPUT) {
    MutexLock l(_sendLock);
    _out.push_back(w);
  }
  if (_direction == OUTPUT) _sizePool();
}

void DataPin::_removeWire(Wire* w) {
  DataPin* other = w->_source == this ? w->_destination : w->_source;
  const char* key = other->getQualifiedName();
  if (_wires->del(key, static_cast<unsigned>(std::strlen(key)) + 1) == 0) _wireCount.fetch_sub(1);
  if (_direction == OUTPUT) {
    MutexLock l(_sendLock);
    for (size_t i = 0; i < _out.size(); ++i) {
      if (_out[i] == w) {
        _out.erase(_out.begin() + static_cast<long>(i));
        break;
      }
    }
  }
}

void DataPin::_sizePool() {
  // Each wire: a full queue and one frame in its consumer's hands; the
  // producer: one being filled and one spare.
  unsigned want = 2;
  {
    MutexLock l(_sendLock);
    for (Wire* w : _out) want += w->_depth + 1;
  }
  _pool->grow(want);
}

bool DataPin::canSend() {
  if (_direction != OUTPUT) return false;
  MutexLock l(_sendLock);
  if (_out.empty()) return false;
  bool room = true;
  // Every full wire is watched, so the producer is woken by whichever frees.
  for (Wire* w : _out)
    if (!w->_roomOrWatch()) room = false;
  return room;
}

DataFrame* DataPin::getFrame(unsigned size) {
  if (_direction != OUTPUT) return nullptr;
  {
    MutexLock l(_sendLock);
    if (_out.empty()) return nullptr;
    bool room = false;
    for (Wire* w : _out) {
      if (w->_queued.load() < w->_depth) {
        room = true;
        break;
      }
    }
    if (!room) {
      // Nobody could take it: count it without filling it.
      for (Wire* w : _out) w->_dropped.fetch_add(1);
      _dropped.fetch_add(1);
      return nullptr;
    }
  }
  DataFrame* f = _pool->acquire();
  if (f == nullptr) {
    _dropped.fetch_add(1);
    return nullptr;
  }
  if (f->_data == nullptr) {
    f->_data = new DataBuf(size > 0 ? size : 1, 0, kFrameLimit, ALLOC_ONCREATE);
  } else if (f->_data->getSize() < size) {
    if (f->_data->realloc(size) != 0) {
      f->release();
      _dropped.fetch_add(1);
      return nullptr;
    }
  }
  f->_data->setLength(size);
  std::memset(&f->_header, 0, sizeof f->_header);
  return f;
}

void DataPin::releaseFrame(DataFrame* frame) {
  if (frame != nullptr) frame->release();
}

int DataPin::sendFrame(DataFrame* f) {
  if (f == nullptr) return -1;
  if (_direction != OUTPUT || f->_pool != _pool) {
    f->release();
    return -1;
  }
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  int taken = 0;
  int result;
  {
    MutexLock l(_sendLock);
    f->_header.sequence = ++_sequence;
    f->_header.length = f->_data->getLength();
    f->_header.sentSec = static_cast<uint32_t>(ts.tv_sec);
    f->_header.sentNsec = static_cast<uint32_t>(ts.tv_nsec);
    if (_out.empty()) {
      result = 1;
    } else {
      for (Wire* w : _out) {
        f->_refs.fetch_add(1);
        if (w->_offer(f) == 0) {
          w->_delivered.fetch_add(1);
          ++taken;
          w->_destination->_block->_wake();
        } else {
          f->_refs.fetch_sub(1);  // ours is still held: never the last
          w->_dropped.fetch_add(1);
        }
      }
      result = taken > 0 ? 0 : -1;
    }
  }
  if (result == 0)
    _sent.fetch_add(1);
  else if (result == -1)
    _dropped.fetch_add(1);
  f->release();
  return result;
}

int DataPin::send(const char* data, unsigned len, const dmessage_t* header) {
  DataFrame* f = getFrame(len);
  if (f == nullptr) return -1;
  if (header != nullptr) f->_header = *header;
  if (len > 0 && data != nullptr) std::memcpy(f->_data->getData(), data, len);
  return sendFrame(f);
}

}  // namespace MorvaneLib
