// SharedInt, SharedUint, SharedString: single values guarded by their own mutex.
// Each get or set is one locked step; a read-modify-write is two.
#ifndef MOSAL_SHAREDVALUES_H
#define MOSAL_SHAREDVALUES_H

#include "mosal/DataBuf.h"
#include "mosal_posix/Mutex.h"

namespace MorvaneLib {

class SharedInt : public Mutex {
 public:
  int get() {
    lock();
    int v = value;
    unlock();
    return v;
  }
  void set(int v) {
    lock();
    value = v;
    unlock();
  }

 private:
  int value = 0;
};

class SharedUint : public Mutex {
 public:
  unsigned get() {
    lock();
    unsigned v = value;
    unlock();
    return v;
  }
  void set(unsigned v) {
    lock();
    value = v;
    unlock();
  }

 private:
  unsigned value = 0;
};

class SharedString : public Mutex {
 public:
  SharedString();
  ~SharedString() override;
  // The buffer's text; valid until the next set().
  char* get();
  // Copies the text with its NUL.
  void set(const char* text);

 private:
  DataBuf* buf;
};

}  // namespace MorvaneLib

#endif
