// IOMonitor: the select() event loop that drives IODevices by their states.
//
// One pass of loop():
//   1. onPreSelect();
//   2. devices waiting in the attach table move to the device table; the
//      descriptor of a device in state 3 enters the read set, in state 4 the
//      write set; a device moved in any other state is served in this very
//      pass (step 3 then polls instead of waiting);
//   3. control bit 1 set: select() on both sets (and the wake-up pipe), with
//      the time-out if one is set, else without limit; a failure calls
//      onError(), a time-out onTimeout(). Bit 1 clear: select() does not
//      wait but still polls, so readiness is never stale;
//   4. control bit 2 set: every monitored device gets the operation of its
//      state, and its result moves it (transition table in IOMonitor.cpp);
//   5. onPostSelect();
//   6. control bit 4 set: the identifiers in the removal list are taken out
//      of the device table (and the devices deleted if bit 8 is set);
//   7. after stop(): all devices are taken out and loop() returns.
//
// Threads: loop() and every handler run in one thread. attach(), stop() and
// wakeup() may be called from any thread; attach() and stop() from another
// thread wake the loop at once, and so does wakeup() (for work handed to the
// loop's thread by other means, e.g. a block's command queue; called from
// the loop's own thread it just keeps the next select() from waiting). The device
// table's lock is held through the whole dispatch: handlers may attach and
// queue removals but must not use the device table themselves. The removal
// list is not locked: only handlers (the loop's thread) append to it.
//
// Ownership: the monitor owns its tables and removal list, not the devices.
// A removed device is only unregistered unless setDeleteRemoved(true).
#ifndef MOSAL_POSIX_IOMONITOR_H
#define MOSAL_POSIX_IOMONITOR_H

#include <pthread.h>
#include <sys/select.h>
#include <sys/time.h>

#include <atomic>
#include <string>
#include <vector>

#include "mosal/Error.h"
#include "mosal_posix/IODevice.h"
#include "mosal_posix/Mutex.h"

namespace MorvaneLib {

class SharedHash;
class Vector;

class IOMonitor : public Error {
 public:
  // Control flag bits.
  enum {
    CTRL_WAIT = 1,      // wait in select() this pass
    CTRL_DISPATCH = 2,  // dispatch the devices
    CTRL_REMOVE = 4,    // process the removal list
    CTRL_DELETE = 8     // delete removed devices
  };
  // Removal list elements: an identifier with its NUL. Longer identifiers
  // go through removeDevice(), never straight into the list.
  enum { REMOVAL_ID_SIZE = 20, ERROR_SIZE = 128 };

  // Throws LibError("IOMonitor()", ...) when the tables or the wake-up pipe
  // cannot be made.
  explicit IOMonitor(unsigned buckets);
  // Deletes the tables and the removal list, never the devices.
  ~IOMonitor() override;
  IOMonitor(const IOMonitor&) = delete;
  IOMonitor& operator=(const IOMonitor&) = delete;

  // Queues the device for the next pass under its identifier. The caller
  // sets the initial state first. 0; 10 if a device of that identifier is
  // already waiting to be attached; -1 out of memory, and -1 with an error
  // text for a device that cannot be monitored: no identifier, a null
  // handle, or (handle type 1) a descriptor outside 0..FD_SETSIZE-1, which
  // select() cannot take.
  int attach(IODevice* device);
  // Runs passes until stop(); returns after the pass in which it was called.
  void loop();
  // Ends loop() at the end of the current pass, waking a waiting select().
  // A stop() before loop() has begun is overridden by loop() starting.
  void stop();
  // Makes a select() in progress (or the next one) return at once.
  // Async-signal-safe; callable from any thread.
  void wakeup();

  // From the loop's thread or before loop(): select() waits at most this long.
  void setTimeout(long seconds, long microseconds) {
    MutexLock l(_paramLock);
    _timeout.tv_sec = seconds;
    _timeout.tv_usec = microseconds;
    _useTimeout = true;
  }
  // select() waits without limit again.
  void clearTimeout() {
    MutexLock l(_paramLock);
    _useTimeout = false;
  }

  // Queues a device's removal; for handlers (the loop's thread). Any length
  // of identifier. 0, or -1 out of memory.
  int removeDevice(const char* id);
  // The removal list itself (20-byte elements); it is replaced when it has
  // been processed, so fetch it each time. Appending an identifier of 20
  // characters or more here cannot work: such an element is refused when
  // the list is processed, with a trace line, and no device is touched.
  Vector* getRemovalList() { return _removals; }

  // Control bit 8: delete removed devices (and those left at stop).
  void setDeleteRemoved(bool on);
  int getControlFlags() const { return _control.load(); }
  bool isStopped() const { return _stopped.load(); }
  // For the loop's thread (or after loop() returned).
  int getHighestDescriptor() const { return _highest; }
  bool isInReadSet(int fd) const;
  bool isInWriteSet(int fd) const;

  char* getErrorString() override;

  virtual void onPreSelect() {}
  virtual void onPostSelect() {}
  // select() failed: prints "IOMonitor: error (<system text>)".
  virtual void onError();
  virtual void onTimeout() {}
  // A device in an extended state returned `event`.
  virtual void onExtendedEvent(int event);

 protected:
  // One pass, steps 1 to 6 above.
  void _pass();
  // Step 7.
  void _removeAll();
  // For subclasses that drive the loop themselves.
  void _setControlFlags(int flags) { _control.store(flags); }

 private:
  void _moveAttached();
  void _select();
  void _dispatch();
  void _processRemovals();
  void _removeOne(const char* id, unsigned len);
  void _transition(IODevice* d, int fd, int state, int result);
  void _setBit(fd_set* set, int fd, IODevice* d);
  void _clearBit(fd_set* set, int fd);
  void _forget(IODevice* d);
  void _setError(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void _wait(bool on);

  std::atomic<bool> _stopped;
  bool _useTimeout;
  fd_set _readSet;
  fd_set _writeSet;
  int _highest;
  std::atomic<int> _control;
  struct timeval _timeout;
  SharedHash* _attachTable;   // owned; id (without NUL) -> IODevice*
  SharedHash* _deviceTable;   // owned; id (without NUL) -> IODevice*
  Vector* _removals;          // owned; 20-byte identifiers with NUL
  std::vector<std::string> _longRemovals;  // identifiers too long for the list
  fd_set _readReady;          // what the last select() reported
  fd_set _writeReady;
  IODevice* _fdOwner[FD_SETSIZE];  // the device whose bits a descriptor carries
  int _wakeRead;
  int _wakeWrite;
  std::atomic<bool> _looping;
  bool _pollOnce;  // a device just moved in needs no readiness: do not wait
  pthread_t _loopThread;
  Mutex _paramLock;  // timeout and error text
  char _error[ERROR_SIZE];
};

}  // namespace MorvaneLib

#endif
