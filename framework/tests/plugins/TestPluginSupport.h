// Helpers shared by the framework's test plug-ins: described properties,
// per-block state kept in a hidden object property, a small handler class
// calling a function, and microsecond sleeps.
#ifndef MORVANE_TEST_PLUGIN_SUPPORT_H
#define MORVANE_TEST_PLUGIN_SUPPORT_H

#include <time.h>

#include <cstring>

#include "framework/Block.h"
#include "framework/BlockManager.h"

namespace testplugins {

using MorvaneLib::Block;
using MorvaneLib::BlockHandler;
using MorvaneLib::ConfigTable;

inline void defineInt(ConfigTable* t, const char* key, int v, const char* text) {
  t->setInt(key, v);
  MorvaneLib::Property* p = t->createPropertyDescription(key, 255);
  if (p != nullptr) p->description->xcopy(text, static_cast<unsigned>(std::strlen(text)) + 1);
}

inline int getInt(ConfigTable* t, const char* key, int fallback) {
  int v;
  return t->getInt(key, &v) == 0 ? v : fallback;
}

// The state object stored under "_state" by the set-up entry.
template <class T>
T* stateOf(Block* b) {
  void* p = nullptr;
  unsigned short size = 0;
  if (b->getProperties()->getObject("_state", &p, &size) != 0) return nullptr;
  return static_cast<T*>(p);
}

template <class T>
int freeState(Block* b) {
  T* s = stateOf<T>(b);
  b->getProperties()->setObject("_state", nullptr, 0);
  delete s;
  return 0;
}

// A handler that calls fn(block).
class FnHandler : public BlockHandler {
 public:
  typedef int (*Fn)(Block*);
  FnHandler(const char* name, Block* b, Fn fn) : BlockHandler(name, b), _fn(fn) {}
  int perform() override { return _fn(block); }

 private:
  Fn _fn;
};

inline void sleepMicros(int us) {
  if (us <= 0) return;
  struct timespec ts;
  ts.tv_sec = us / 1000000;
  ts.tv_nsec = static_cast<long>(us % 1000000) * 1000L;
  while (nanosleep(&ts, &ts) != 0) {
  }
}

// Nanoseconds since the frame's send time (monotonic clock).
inline unsigned long long hopNanos(const MorvaneLib::dmessage_t* h) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  long long now = static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
  long long sent = static_cast<long long>(h->sentSec) * 1000000000LL + h->sentNsec;
  return now > sent ? static_cast<unsigned long long>(now - sent) : 0;
}

// Where a benchmark collects per-hop latencies: an object property
// "_LatencyLog" pointing to one of these (owned by whoever set it).
struct LatencyLog {
  unsigned capacity;
  unsigned count;
  unsigned* nanos;
};

inline void recordLatency(Block* b, const MorvaneLib::dmessage_t* h) {
  void* p = nullptr;
  unsigned short size = 0;
  if (b->getProperties()->getObject("_LatencyLog", &p, &size) != 0 || p == nullptr) return;
  LatencyLog* log = static_cast<LatencyLog*>(p);
  if (log->count < log->capacity) log->nanos[log->count++] = static_cast<unsigned>(hopNanos(h));
}

}  // namespace testplugins

#endif
