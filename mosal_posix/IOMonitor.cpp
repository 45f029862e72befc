// IOMonitor: attach and device tables, the pass of the select() loop, the
// state transition table, the removal list and the wake-up pipe.
#include "mosal_posix/IOMonitor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "mosal/Hash.h"
#include "mosal/Trace.h"
#include "mosal/Vector.h"
#include "mosal_posix/System.h"

namespace MorvaneLib {

namespace {

// What a handler's result does to its device: next state (-1 unchanged),
// read and write bits (+1 set, -1 clear, 0 untouched), the wait control bit
// (+1 on, -1 off, 0 untouched).
struct Move {
  signed char next, r, w, wait;
};

const Move kStay = {-1, 0, 0, 0};

// Rows: states 0 to 4 (onReady, onInputDone, onOutputDone, doRead, doWrite);
// columns: results 1 to 7.
const Move kMoves[5][7] = {
    // 0 onReady
    {{0, 0, 0, 0}, {3, 1, 0, 1}, {4, 0, 1, 1}, {1, 0, 0, -1}, {2, 0, 0, -1}, {5, -1, 0, -1},
     {6, -1, 0, -1}},
    // 1 onInputDone
    {{0, 0, 0, -1}, {3, 1, 0, 1}, {4, 0, 1, 1}, {1, 0, 0, 1}, kStay, {5, 0, 0, 1}, {6, 0, 0, 1}},
    // 2 onOutputDone
    {{0, 0, 0, -1}, {3, 1, 0, 1}, {4, 0, 1, 1}, kStay, {2, 0, 0, 1}, {5, 0, 0, 1}, {6, 0, 0, 1}},
    // 3 doRead
    {{0, -1, 0, -1}, {3, 0, 0, 1}, {4, -1, 1, 1}, {1, -1, 0, 1}, kStay, {5, -1, 0, -1},
     {6, -1, 0, -1}},
    // 4 doWrite
    {{0, 0, -1, -1}, {3, 1, -1, 1}, {4, 0, 0, 1}, kStay, {2, 0, -1, 1}, {5, 0, -1, -1},
     {6, 0, -1, -1}},
};

bool selectable(int fd) { return fd >= 0 && fd < FD_SETSIZE; }

// The descriptor of a device of handle type 1, else -1. A null handle ends
// the process: the loop cannot go on with a device it cannot address.
int descriptorOf(IODevice* d) {
  void* h = d->getHandle();
  if (h == nullptr) System::fail(1, "IOMonitor: (CRITICAL) NULL Handle\n");
  return d->getHandleType() == IODevice::HANDLE_FD ? *static_cast<int*>(h) : -1;
}

void closeBoth(int a, int b) {
  if (a >= 0) close(a);
  if (b >= 0) close(b);
}

}  // namespace

IOMonitor::IOMonitor(unsigned buckets)
    : _stopped(true),
      _useTimeout(false),
      _highest(0),
      _control(CTRL_WAIT | CTRL_DISPATCH | CTRL_REMOVE),
      _attachTable(nullptr),
      _deviceTable(nullptr),
      _removals(nullptr),
      _wakeRead(-1),
      _wakeWrite(-1),
      _looping(false),
      _pollOnce(false),
      _loopThread() {
  FD_ZERO(&_readSet);
  FD_ZERO(&_writeSet);
  FD_ZERO(&_readReady);
  FD_ZERO(&_writeReady);
  _timeout.tv_sec = 0;
  _timeout.tv_usec = 0;
  for (auto& o : _fdOwner) o = nullptr;
  _error[0] = '\0';

  int p[2];
  if (pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0)
    throw LibError("IOMonitor()", "Cannot create wake-up pipe (%s)", std::strerror(errno));
  if (!selectable(p[0])) {
    closeBoth(p[0], p[1]);
    throw LibError("IOMonitor()", "Cannot create wake-up pipe (descriptor above %d)",
                   FD_SETSIZE - 1);
  }
  _wakeRead = p[0];
  _wakeWrite = p[1];
  try {
    _attachTable = new SharedHash(buckets);
    _deviceTable = new SharedHash(buckets);
    _removals = new Vector(REMOVAL_ID_SIZE, 5, 3);
  } catch (...) {
    delete _deviceTable;
    delete _attachTable;
    closeBoth(_wakeRead, _wakeWrite);
    throw;
  }
}

IOMonitor::~IOMonitor() {
  delete _removals;
  delete _deviceTable;
  delete _attachTable;
  closeBoth(_wakeRead, _wakeWrite);
}

void IOMonitor::_setError(const char* format, ...) {
  MutexLock l(_paramLock);
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(_error, sizeof _error, format, ap);
  va_end(ap);
}

char* IOMonitor::getErrorString() { return _error; }

void IOMonitor::onError() { MTRACE("IOMonitor: error (%s)\n", std::strerror(errno)); }

void IOMonitor::onExtendedEvent(int event) {
  MTRACE("IOMonitor: extended event detected (%d)\n", event);
}

void IOMonitor::setDeleteRemoved(bool on) {
  if (on)
    _control.fetch_or(CTRL_DELETE);
  else
    _control.fetch_and(~CTRL_DELETE);
}

void IOMonitor::_wait(bool on) {
  if (on)
    _control.fetch_or(CTRL_WAIT);
  else
    _control.fetch_and(~CTRL_WAIT);
}

bool IOMonitor::isInReadSet(int fd) const { return selectable(fd) && FD_ISSET(fd, &_readSet); }

bool IOMonitor::isInWriteSet(int fd) const { return selectable(fd) && FD_ISSET(fd, &_writeSet); }

// ------------------------------------------------------------------ attach

int IOMonitor::attach(IODevice* device) {
  if (device == nullptr) {
    _setError("no device");
    return -1;
  }
  char* id = device->getID();
  int fd = -1;
  void* h = device->getHandle();
  if (h != nullptr && device->getHandleType() == IODevice::HANDLE_FD) fd = *static_cast<int*>(h);
  MTRACE("IOMonitor::attach(): id = \"%s\" fd = %d type = %d\n", id ? id : "(null)", fd,
         device->getHandleType());
  if (id == nullptr || id[0] == '\0') {
    _setError("device without identifier");
    MTRACE("IOMonitor::attach(): refused: %s\n", _error);
    return -1;
  }
  if (h == nullptr) {
    _setError("device %s has a NULL handle", id);
    MTRACE("IOMonitor::attach(): refused: %s\n", _error);
    return -1;
  }
  if (device->getHandleType() == IODevice::HANDLE_FD && !selectable(fd)) {
    _setError("descriptor %d of %s is outside the select range 0..%d", fd, id, FD_SETSIZE - 1);
    MTRACE("IOMonitor::attach(): refused: %s\n", _error);
    return -1;
  }
  // The descriptor enters the read or write set when the loop moves the
  // device into the device table, on the loop's own thread and before that
  // pass's select(), so a device attached in state 3 is read from the next
  // pass on.
  int r = _attachTable->pput(id, static_cast<unsigned>(std::strlen(id)), device, false);
  if (r == -1) _setError("out of memory");
  if (r == 10) _setError("device %s already waiting to be attached", id);
  if (r == 0 && _looping.load() && !pthread_equal(pthread_self(), _loopThread)) wakeup();
  return r;
}

void IOMonitor::_moveAttached() {
  Mutex* m = _attachTable->getMutex();
  MutexLock l(*m);
  Hash* table = _attachTable;
  if (table->getEntryCount() == 0) return;
  // Copy the keys first: deleting an entry frees the table's key copy.
  std::vector<std::string> ids;
  Enumeration* e = table->keys();
  while (e->hasMoreElements()) {
    enum_elem_t* k = e->nextElement();
    ids.emplace_back(k->data, k->length);
  }
  for (const std::string& id : ids) {
    unsigned len = static_cast<unsigned>(id.size());
    IODevice* d = reinterpret_cast<IODevice*>(table->get(id.data(), len));
    if (d == nullptr) continue;
    int fd = descriptorOf(d);
    // The dispatch runs with the device table's lock; this pass has not
    // begun dispatching, so taking it here cannot deadlock.
    int r = _deviceTable->pput(id.data(), len, d, false);
    if (r != 0) {
      // Same identifier still monitored (its removal not yet processed) or
      // no memory: the device waits in the attach table for a later pass.
      MTRACE("IOMonitor: device %s not attached yet (%s)\n", id.c_str(),
             r == 10 ? "identifier in use" : "out of memory");
      continue;
    }
    int state = d->getState();
    if (selectable(fd)) {
      if (state == IODevice::STATE_READING) _setBit(&_readSet, fd, d);
      if (state == IODevice::STATE_WRITING) _setBit(&_writeSet, fd, d);
      if (fd > _highest) _highest = fd;
    }
    // A device whose handler runs without readiness is served in this pass:
    // select() must not wait for some unrelated descriptor first.
    if (state != IODevice::STATE_READING && state != IODevice::STATE_WRITING) _pollOnce = true;
    table->del(id.data(), len);
    MTRACE("IOMonitor: attached device %s to monitored table\n", id.c_str());
  }
}

// ------------------------------------------------------------------ wake-up

void IOMonitor::wakeup() {
  // The loop's own thread (a handler handing work to a later pass) only has
  // to keep the next select() from waiting: no pipe round trip.
  if (_looping.load() && pthread_equal(pthread_self(), _loopThread)) {
    _pollOnce = true;
    return;
  }
  char c = 1;
  ssize_t w = write(_wakeWrite, &c, 1);  // a full pipe already wakes the loop
  (void)w;
}

void IOMonitor::stop() {
  _stopped.store(true);
  wakeup();
}

// ------------------------------------------------------------------ the loop

void IOMonitor::loop() {
  _loopThread = pthread_self();
  _looping.store(true);
  _stopped.store(false);
  for (;;) {
    _pass();
    if (_stopped.load()) {
      _removeAll();
      _looping.store(false);
      return;
    }
  }
}

void IOMonitor::_pass() {
  onPreSelect();
  _moveAttached();
  _select();
  if (_control.load() & CTRL_DISPATCH) _dispatch();
  onPostSelect();
  if (_control.load() & CTRL_REMOVE) _processRemovals();
}

void IOMonitor::_select() {
  fd_set r = _readSet;
  fd_set w = _writeSet;
  FD_SET(_wakeRead, &r);
  int top = _highest > _wakeRead ? _highest : _wakeRead;
  struct timeval t;
  struct timeval* limit = nullptr;
  bool waiting = (_control.load() & CTRL_WAIT) != 0 && !_pollOnce;
  _pollOnce = false;
  if (waiting) {
    MutexLock l(_paramLock);
    if (_useTimeout) {
      t = _timeout;  // select() may change its argument: copy every pass
      limit = &t;
    }
  } else {
    // Not waiting this pass, but readiness is still asked for: handlers
    // must never read or write a descriptor that is not ready.
    t.tv_sec = 0;
    t.tv_usec = 0;
    limit = &t;
  }
  int n = select(top + 1, &r, &w, nullptr, limit);
  if (n < 0) {
    if (_control.load() & CTRL_WAIT) onError();
    // Nothing is known to be ready after a failure.
    FD_ZERO(&_readReady);
    FD_ZERO(&_writeReady);
    return;
  }
  if (n == 0 && waiting) onTimeout();
  if (FD_ISSET(_wakeRead, &r)) {
    // One read empties the pipe unless more than a buffer's worth of
    // wake-ups is pending; what arrives after it wakes the next pass.
    char buf[64];
    while (read(_wakeRead, buf, sizeof buf) == static_cast<ssize_t>(sizeof buf)) {
    }
    FD_CLR(_wakeRead, &r);
  }
  _readReady = r;
  _writeReady = w;
}

void IOMonitor::_dispatch() {
  Mutex* m = _deviceTable->getMutex();
  MutexLock l(*m);
  Hash* table = _deviceTable;
  Enumeration* e = table->values();
  // Handlers cannot change the device table (they must not take its lock),
  // so the listing stays valid through the dispatch.
  while (e->hasMoreElements()) {
    IODevice* d = reinterpret_cast<IODevice*>(e->nextElement()->data);
    if (d == nullptr) continue;
    int fd = descriptorOf(d);
    int state = d->getState();
    int result;
    switch (state) {
      case IODevice::STATE_READY:
        result = d->onReady(this);
        break;
      case IODevice::STATE_INPUT_DONE:
        result = d->onInputDone(this);
        break;
      case IODevice::STATE_OUTPUT_DONE:
        result = d->onOutputDone(this);
        break;
      case IODevice::STATE_READING:
        if (!selectable(fd) || !FD_ISSET(fd, &_readReady)) continue;
        result = d->doRead(this);
        break;
      case IODevice::STATE_WRITING:
        if (!selectable(fd) || !FD_ISSET(fd, &_writeReady)) continue;
        result = d->doWrite(this);
        break;
      case IODevice::STATUS_ERROR:
        result = d->onError(this);
        MTRACE("[%d,STATUS_ERROR]: event = %u\n", fd, static_cast<unsigned>(result));
        continue;
      case IODevice::STATUS_EOF:
        result = d->onEOF(this);
        MTRACE("[%d,STATUS_EOF]: event = %u\n", fd, static_cast<unsigned>(result));
        continue;
      default:
        if (state < IODevice::STATUS_EXTENDED) continue;
        result = d->onExtendedStatus(this);
        MTRACE("[%d,STATUS_EXTENDED]: event = %u\n", fd, static_cast<unsigned>(result));
        onExtendedEvent(result);
        continue;
    }
    _transition(d, fd, state, result);
  }
}

void IOMonitor::_transition(IODevice* d, int fd, int state, int result) {
  if (state < 0 || state > IODevice::STATE_WRITING) return;
  if (result < IODevice::RESULT_READY || result > IODevice::RESULT_EOF) return;
  const Move& mv = kMoves[state][result - 1];
  if (mv.next < 0) return;
  d->setState(mv.next);
  if (selectable(fd)) {
    if (mv.r > 0) _setBit(&_readSet, fd, d);
    if (mv.r < 0) _clearBit(&_readSet, fd);
    if (mv.w > 0) _setBit(&_writeSet, fd, d);
    if (mv.w < 0) _clearBit(&_writeSet, fd);
  }
  if (mv.wait > 0) _wait(true);
  if (mv.wait < 0) _wait(false);
}

void IOMonitor::_setBit(fd_set* set, int fd, IODevice* d) {
  FD_SET(fd, set);
  _fdOwner[fd] = d;
  if (fd > _highest) _highest = fd;
}

void IOMonitor::_clearBit(fd_set* set, int fd) {
  FD_CLR(fd, set);
  if (!FD_ISSET(fd, &_readSet) && !FD_ISSET(fd, &_writeSet)) _fdOwner[fd] = nullptr;
}

// A removed device must not leave its bits behind: select() would report a
// descriptor nobody serves (or fail on it once it is closed) in every pass.
// Found by owner, without calling the device, which may be gone already.
void IOMonitor::_forget(IODevice* d) {
  for (int fd = 0; fd <= _highest && fd < FD_SETSIZE; ++fd) {
    if (_fdOwner[fd] != d) continue;
    FD_CLR(fd, &_readSet);
    FD_CLR(fd, &_writeSet);
    _fdOwner[fd] = nullptr;
  }
}

// ------------------------------------------------------------------ removal

int IOMonitor::removeDevice(const char* id) {
  if (id == nullptr) return -1;
  size_t n = std::strlen(id);
  if (n < REMOVAL_ID_SIZE)
    return _removals->addElement(id, static_cast<unsigned>(n) + 1) < 0 ? -1 : 0;
  try {
    _longRemovals.emplace_back(id, n);
  } catch (...) {
    return -1;
  }
  return 0;
}

void IOMonitor::_removeOne(const char* id, unsigned len) {
  MTRACE("IOMonitor::start(): found devices to remove...\n");
  MTRACE("IOMonitor::start(): removing device %s\n", id);
  IODevice* d;
  {
    Mutex* m = _deviceTable->getMutex();
    MutexLock l(*m);
    Hash* table = _deviceTable;
    d = reinterpret_cast<IODevice*>(table->get(id, len));
    if (d != nullptr) {
      _forget(d);
      table->del(id, len);
    }
  }
  if (d != nullptr && (_control.load() & CTRL_DELETE)) delete d;
  _wait(true);
}

void IOMonitor::_processRemovals() {
  unsigned count = _removals->size();
  for (unsigned i = 0; i < count; ++i) {
    const char* el = _removals->elementAt(i);
    char id[REMOVAL_ID_SIZE + 1];
    size_t len = strnlen(el, REMOVAL_ID_SIZE);
    std::memcpy(id, el, len);
    id[len] = '\0';
    if (len == REMOVAL_ID_SIZE) {
      // Its NUL did not fit: the identifier was longer than the element,
      // and the 20 bytes left might name another device. Touch nothing.
      MTRACE("IOMonitor: removal of \"%s...\" refused: identifier too long for the list\n", id);
      continue;
    }
    _removeOne(id, static_cast<unsigned>(len));
  }
  for (const std::string& id : _longRemovals)
    _removeOne(id.c_str(), static_cast<unsigned>(id.size()));
  _longRemovals.clear();
  if (count == 0) return;
  // Emptied by replacing it; should no list be available, element by element.
  try {
    Vector* fresh = new Vector(REMOVAL_ID_SIZE, 5, 3);
    delete _removals;
    _removals = fresh;
  } catch (LibError&) {
    while (_removals->size() > 0) _removals->removeElement(nullptr, 0, nullptr);
  }
}

void IOMonitor::_removeAll() {
  MTRACE("IOMonitor: removing all attached devices...\n");
  std::vector<IODevice*> gone;
  {
    Mutex* m = _deviceTable->getMutex();
    MutexLock l(*m);
    Hash* table = _deviceTable;
    std::vector<std::string> ids;
    Enumeration* e = table->keys();
    while (e->hasMoreElements()) {
      enum_elem_t* k = e->nextElement();
      ids.emplace_back(k->data, k->length);
    }
    for (const std::string& id : ids) {
      unsigned len = static_cast<unsigned>(id.size());
      IODevice* d = reinterpret_cast<IODevice*>(table->get(id.data(), len));
      table->del(id.data(), len);
      if (d != nullptr) gone.push_back(d);
    }
  }
  FD_ZERO(&_readSet);
  FD_ZERO(&_writeSet);
  FD_ZERO(&_readReady);
  FD_ZERO(&_writeReady);
  for (auto& o : _fdOwner) o = nullptr;
  if (_control.load() & CTRL_DELETE)
    for (IODevice* d : gone) delete d;
  MTRACE("IOMonitor: devices removed.\n");
}

}  // namespace MorvaneLib
