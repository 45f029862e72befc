// Block: the block's loop, its requests and words, handlers, pins, clock,
// events and status listeners; BlockHandler, CommandQueue, ControlPin and
// DefaultStatusListener.
#include "framework/Block.h"

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "framework/BlockManager.h"
#include "framework/Plugin.h"
#include "mosal/ConfigStorage.h"

namespace MorvaneLib {

namespace {

const char* const kWords[Block::WORD_FIRST_OWN] = {
    "reset", "start", "stop", "pause", "resume", "status",
    "save",  "load",  "quit", "user 1", "user 2", "kill"};

// Requests served per pass, and rounds of frames (one per input wire each):
// bounded so that devices and commands get their turn under a flood.
const int kRequestsPerPass = 32;
const int kDataRoundsPerPass = 16;
const int kPacedPerPass = 16;
// Rounds of the three above one pass may run when the block has no devices.
const int kPassesWithoutDevices = 64;

long long monotonicMicros() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000LL + ts.tv_nsec / 1000;
}

void copyText(char* dst, unsigned size, const char* src) {
  if (size == 0) return;
  if (src == nullptr) src = "";
  size_t n = std::strlen(src);
  if (n >= size) n = size - 1;
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

// The block's property table is stored per block type.
class BlockProperties : public ConfigTable {
 public:
  BlockProperties(unsigned buckets, const char* typeName) : ConfigTable(buckets) {
    std::snprintf(_file, sizeof _file, "%s.properties", typeName);
  }
  char* getStorageFilename() override { return _file; }

 private:
  char _file[64];
};

bool usablePinName(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  size_t n = std::strlen(name);
  if (n >= DataPin::NAME_SIZE) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = name[i];
    if (c == '.' || c == ' ' || c == '\t' || c == '"' || c == '\n' || c == '\r') return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------- links

Mutex* ControlPin::linkMutex() {
  static Mutex* m = new Mutex();  // never destroyed: used until the very end
  return m;
}

unsigned ControlPin::getReceiverCount() {
  MutexLock l(*linkMutex());
  return static_cast<unsigned>(_receivers.size());
}

unsigned ControlPin::getSerial() {
  MutexLock l(*linkMutex());
  return _serial;
}

// ---------------------------------------------------------------- listener

DefaultStatusListener::DefaultStatusListener(Block* block, int depth)
    : _block(nullptr), _queue(nullptr), _lost(0) {
  if (block == nullptr) throw LibError("DefaultStatusListener()", "No block");
  if (depth < 1) depth = 1;
  _queue = new SharedQueue(sizeof(status_t), depth);
  MutexLock l(*ControlPin::linkMutex());
  _block = block;
  block->_listeners.push_back(this);
}

DefaultStatusListener::~DefaultStatusListener() {
  {
    MutexLock l(*ControlPin::linkMutex());
    if (_block != nullptr) {
      auto& v = _block->_listeners;
      v.erase(std::remove(v.begin(), v.end(), static_cast<StatusListener*>(this)), v.end());
      _block = nullptr;
    }
  }
  delete _queue;
}

void DefaultStatusListener::onStatus(const status_t* status) {
  if (_queue->tryPut(reinterpret_cast<const char*>(status), sizeof(status_t)) != 0)
    _lost.fetch_add(1);
}

int DefaultStatusListener::getStatus(status_t* out) {
  return _queue->tryGet(reinterpret_cast<char*>(out), sizeof(status_t));
}

int DefaultStatusListener::waitStatus(status_t* out, unsigned ms) {
  return _queue->timedGet(reinterpret_cast<char*>(out), sizeof(status_t), ms);
}

// ---------------------------------------------------------------- handlers

BlockHandler::BlockHandler(const char* name, Block* b) : CallBack(name), block(b) {}

BlockHandler::~BlockHandler() = default;

int BlockHandler::perform(void*) { return perform(); }

int BlockHandler::perform() { return 0; }

// ---------------------------------------------------------------- queue

CommandQueue::CommandQueue(Block* block, int capacity, int levels, int urgentCapacity)
    : PriorityQueue(sizeof(request_t), capacity, levels, urgentCapacity), _block(block) {}

int CommandQueue::put(const char* data, unsigned len) { return put(data, len, 0); }

int CommandQueue::tryPut(const char* data, unsigned len) { return tryPut(data, len, 0); }

int CommandQueue::put(const char* data, unsigned len, int priority) {
  int r = PriorityQueue::put(data, len, priority);
  if (r == 0) _block->_wake();
  return r;
}

int CommandQueue::tryPut(const char* data, unsigned len, int priority) {
  int r = PriorityQueue::tryPut(data, len, priority);
  if (r == 0) _block->_wake();
  return r;
}

// ---------------------------------------------------------------- block

const char* Block::getTypeString(int type) {
  switch (type) {
    case TYPE_SOURCE: return "Source";
    case TYPE_FILTER: return "Filter";
    case TYPE_CONTROL: return "Control";
    case TYPE_SINK: return "Sink";
    case TYPE_TRANSPORT: return "Transport";
    case TYPE_GENERIC: return "Generic";
    default: return "Unknown";
  }
}

char Block::getTypeLetter(int type) {
  switch (type) {
    case TYPE_SOURCE: return 'S';
    case TYPE_FILTER: return 'F';
    case TYPE_CONTROL: return 'C';
    case TYPE_SINK: return 'K';
    case TYPE_TRANSPORT: return 'T';
    case TYPE_GENERIC: return 'G';
    default: return 'B';
  }
}

const char* Block::getStatusString(int status) {
  switch (status) {
    case STATUS_IDLE: return "idle";
    case STATUS_RUNNING: return "running";
    case STATUS_STOPPED: return "stopped";
    case STATUS_PAUSED: return "paused";
    case STATUS_READY: return "ready";
    case STATUS_QUIT: return "quit";
    default: return "unknown";
  }
}

Block::Block(BlockManager* manager, Plugin* plugin, const char* name, uint64_t id)
    : IOMonitor(64),
      Thread(name),
      _manager(manager),
      _plugin(plugin),
      _id(id),
      _properties(nullptr),
      _inputs(nullptr),
      _outputs(nullptr),
      _text(nullptr),
      _commands(nullptr),
      _interp(nullptr),
      _wordCount(WORD_FIRST_OWN),
      _done(nullptr),
      _x(0),
      _y(0),
      _started(false),
      _finishedSeen(false),
      _destroying(false),
      _clockArmed(false),
      _clockOwnsTimeout(false),
      _nextTick(0),
      _currentInput(nullptr),
      _currentWire(nullptr),
      _currentFrame(nullptr) {
  copyText(_name, sizeof _name, name);
  for (auto& h : _events) h = nullptr;
  for (auto& h : _actions) h = nullptr;
  for (auto& w : _words) w = nullptr;
  try {
    for (int i = 0; i < WORD_FIRST_OWN; ++i) _words[i] = strdup(kWords[i]);
    _properties = new BlockProperties(64, plugin != nullptr ? plugin->getName() : "block");
    _inputs = new SharedHash(32);
    _outputs = new SharedHash(32);
    _text = new DataBuf(256, 0, 65536, ALLOC_ONCREATE);
    _commands = new CommandQueue(this, 128, 2, 16);
    _done = new Semaphore(0, false);
    _batch.reserve(8);  // grows on the block's thread if it ever needs more
  } catch (...) {
    _release();
    // The thread waits for its start signal: let it end without run().
    setSkipRun(true);
    start();
    throw;
  }
  // Device dispatch waits for enableMonitor(true).
  _setControlFlags(getControlFlags() & ~CTRL_DISPATCH);
}

void Block::_release() {
  delete _done;
  _done = nullptr;
  delete _commands;
  _commands = nullptr;
  delete _text;
  _text = nullptr;
  delete _outputs;
  _outputs = nullptr;
  delete _inputs;
  _inputs = nullptr;
  delete _properties;
  _properties = nullptr;
  for (auto& w : _words) {
    std::free(w);
    w = nullptr;
  }
}

Block::~Block() {
  if (!_started) {
    setSkipRun(true);
    start();
  }
  waitTermination();
  // Nobody reaches this block through a link any more.
  {
    MutexLock l(*ControlPin::linkMutex());
    for (StatusListener* s : _listeners) static_cast<DefaultStatusListener*>(s)->_block = nullptr;
    _listeners.clear();
    for (BlockAdapter* a : _control._receivers) {
      auto& v = a->_blocks;
      v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
    _control._receivers.clear();
  }
  // Requests nobody will serve: their texts are ours to free.
  if (_commands != nullptr) {
    request_t r;
    while (_commands->tryGet(reinterpret_cast<char*>(&r), sizeof r) == 0)
      if (r.code == REQUEST_SCRIPT) std::free(r.text);
  }
  // Handlers and commands are code of the plug-in: they go before it does.
  std::set<BlockHandler*> handlers;
  for (BlockHandler* h : _events)
    if (h != nullptr) handlers.insert(h);
  for (BlockHandler* h : _actions)
    if (h != nullptr) handlers.insert(h);
  for (BlockHandler* h : handlers) delete h;
  delete _interp;
  _interp = nullptr;
  for (DataPin* p : _pinOrder) delete p;
  _pinOrder.clear();
  _release();
}

void Block::run() {
  MTRACE("Block %s: thread running\n", _name);
  loop();
  _status.set(STATUS_QUIT);
  _finished.store(true);
  MTRACE("Block %s: thread ends\n", _name);
  BlockManager::_blockEnded(_manager, this);
  // After this post the block may be deleted at any moment.
  _done->post();
}

bool Block::_waitFinished(unsigned ms) {
  if (_finishedSeen) return true;
  if (_done->timedWait(ms) == 0) {
    _finishedSeen = true;
    return true;
  }
  return false;
}

void Block::_wake() {
  if (!_wakePending.exchange(true)) wakeup();
}

void Block::onPreSelect() {
  // Awake: whoever hands us work now need not write to the wake-up pipe.
  _wakePending.store(true);
  // A block without devices has nothing to wait for in select() while work
  // is there: it keeps going. One with devices lets them have their turn.
  int budget = _monitor ? 1 : kPassesWithoutDevices;
  for (int i = 0; i < budget; ++i) {
    bool more = _serveRequests();
    if (isStopped()) return;
    more = _serveData() || more;
    more = _serveClock() || more;
    if (!more) break;
  }
  _wakePending.store(false);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  // Work that came after the last look (its sender saw us awake), or work
  // left over: another pass at once.
  if (_workWaiting()) _wake();
}

bool Block::_workWaiting() {
  if (_commands->getCount() > 0) return true;
  int st = _status.get();
  bool connected = false;
  bool ready = _outputsReady(&connected);
  if (_clock.get() < 0 && st == STATUS_RUNNING && ready) return true;
  // A paced consumer whose outputs are full waits for them, not for input.
  if (_clock.get() < 0 && connected && !ready) return false;
  MutexLock l(_wireLock);
  for (Wire* w : _in)
    if (w->getQueued() > 0) return true;
  return false;
}

// ---------------------------------------------------------------- identity

DataPin* Block::getInputPin(const char* name) {
  if (name == nullptr) return nullptr;
  return reinterpret_cast<DataPin*>(
      _inputs->get(name, static_cast<unsigned>(std::strlen(name)) + 1));
}

DataPin* Block::getOutputPin(const char* name) {
  if (name == nullptr) return nullptr;
  return reinterpret_cast<DataPin*>(
      _outputs->get(name, static_cast<unsigned>(std::strlen(name)) + 1));
}

std::vector<DataPin*> Block::listPins(int direction) {
  std::vector<DataPin*> v;
  MutexLock l(_pinLock);
  for (DataPin* p : _pinOrder) {
    if (p->getDirection() != direction) continue;
    SharedHash* t = direction == DataPin::INPUT ? _inputs : _outputs;
    // Removed pins stay in the list until the block goes, but not in the table.
    if (t->get(p->getName(), static_cast<unsigned>(std::strlen(p->getName())) + 1) == nullptr)
      continue;
    v.push_back(p);
  }
  return v;
}

void Block::getPosition(short* x, short* y) {
  MutexLock l(_pinLock);
  if (x != nullptr) *x = _x;
  if (y != nullptr) *y = _y;
}

void Block::setPosition(short x, short y) {
  MutexLock l(_pinLock);
  _x = x;
  _y = y;
}

int Block::_addPin(const char* name, int direction) {
  if (!usablePinName(name)) {
    _error.set("invalid pin name");
    return -1;
  }
  SharedHash* t = direction == DataPin::INPUT ? _inputs : _outputs;
  unsigned klen = static_cast<unsigned>(std::strlen(name)) + 1;
  MutexLock l(_pinLock);
  if (t->get(name, klen) != nullptr) return 10;
  DataPin* p = new DataPin(this, name, direction);
  if (t->pput(name, klen, p, false) != 0) {
    delete p;
    return -1;
  }
  _pinOrder.push_back(p);
  return 0;
}

int Block::addInputPin(const char* name) { return _addPin(name, DataPin::INPUT); }

int Block::addOutputPin(const char* name) { return _addPin(name, DataPin::OUTPUT); }

int Block::removePin(const char* name, int direction) {
  DataPin* p = direction == DataPin::INPUT ? getInputPin(name) : getOutputPin(name);
  if (p == nullptr) return -1;
  _manager->_removePin(p);
  SharedHash* t = direction == DataPin::INPUT ? _inputs : _outputs;
  t->del(name, static_cast<unsigned>(std::strlen(name)) + 1);
  return 0;
}

// ---------------------------------------------------------------- set-up

Interp* Block::enableScriptEngine(unsigned buckets, int maxArgs, short argSize) {
  if (_interp != nullptr) return _interp;
  try {
    _interp = new Interp(buckets, maxArgs, argSize);
  } catch (LibError& e) {
    _error.set(e.getReason());
    _interp = nullptr;
  }
  return _interp;
}

void Block::enableMonitor(bool on) {
  _monitor = on;
  int f = getControlFlags();
  _setControlFlags(on ? (f | CTRL_DISPATCH) : (f & ~CTRL_DISPATCH));
}

bool Block::isMonitorEnabled() { return _monitor; }

int Block::attachEventHandler(int code, BlockHandler* handler) {
  if (handler == nullptr || code < 0 || code >= MAX_WORDS) return -1;
  MutexLock l(_pinLock);
  if (_events[code] != nullptr) return -1;
  _events[code] = handler;
  return 0;
}

int Block::attachActionHandler(int code, BlockHandler* handler) {
  if (handler == nullptr || code < 0 || code >= MAX_ACTIONS) return -1;
  MutexLock l(_pinLock);
  if (_actions[code] != nullptr) return -1;
  _actions[code] = handler;
  return 0;
}

int Block::addWord(const char* word, BlockHandler* handler) {
  if (word == nullptr || word[0] == '\0') return -1;
  MutexLock l(_pinLock);
  if (_wordCount >= MAX_WORDS) return -1;
  for (unsigned i = 0; i < _wordCount; ++i)
    if (std::strcmp(_words[i], word) == 0) return -1;
  char* copy = strdup(word);
  if (copy == nullptr) return -1;
  int code = static_cast<int>(_wordCount);
  _words[code] = copy;
  _events[code] = handler;
  ++_wordCount;
  return code;
}

char** Block::getCommandStrings(unsigned* count) {
  MutexLock l(_pinLock);
  if (count != nullptr) *count = _wordCount;
  return _words;
}

int Block::findWord(const char* word) {
  if (word == nullptr) return -1;
  MutexLock l(_pinLock);
  for (unsigned i = 0; i < _wordCount; ++i)
    if (std::strcmp(_words[i], word) == 0) return static_cast<int>(i);
  return -1;
}

// ---------------------------------------------------------------- requests

int Block::postWord(int code, StatusListener* listener, uint32_t* serial) {
  if (code < 0 || code >= static_cast<int>(_wordCount) || _finished.load()) return -1;
  request_t r;
  std::memset(&r, 0, sizeof r);
  r.code = static_cast<uint32_t>(code);
  r.serial = nextSerial();
  r.listener = listener;
  if (serial != nullptr) *serial = r.serial;
  // quit and kill go ahead of everything queued.
  int prio = code == WORD_QUIT || code == WORD_KILL ? PriorityQueue::URGENT : 0;
  return _commands->tryPut(reinterpret_cast<const char*>(&r), sizeof r, prio) == 0 ? 0 : -1;
}

int Block::sendCommandScript(const char* text) { return sendCommandScript(text, nullptr, nullptr); }

int Block::sendCommandScript(const char* text, StatusListener* listener, uint32_t* serial) {
  if (text == nullptr || _interp == nullptr || _finished.load()) return -1;
  request_t r;
  std::memset(&r, 0, sizeof r);
  r.code = REQUEST_SCRIPT;
  r.serial = nextSerial();
  r.listener = listener;
  r.text = strdup(text);
  if (r.text == nullptr) return -1;
  if (serial != nullptr) *serial = r.serial;
  if (_commands->tryPut(reinterpret_cast<const char*>(&r), sizeof r, 0) != 0) {
    std::free(r.text);
    return -1;
  }
  return 0;
}

bool Block::_serveRequests() {
  request_t r;
  for (int i = 0; i < kRequestsPerPass; ++i) {
    if (_commands->tryGet(reinterpret_cast<char*>(&r), sizeof r) != 0) return false;
    _handle(r);
    if (isStopped()) return false;
  }
  return _commands->getCount() > 0;
}

void Block::_handle(const request_t& r) {
  if (r.code == REQUEST_SCRIPT) {
    int res = _runScript(r.text);
    std::free(r.text);
    _notify(r.listener, r, res);
    return;
  }
  int code = static_cast<int>(r.code);
  if (code < 0 || code >= static_cast<int>(_wordCount)) {
    _error.set("unknown word code");
    _notify(r.listener, r, -1);
    return;
  }
  int res = _word(code);
  _notify(r.listener, r, res);
  if (code == WORD_QUIT || code == WORD_KILL) _finish();
}

int Block::_word(int code) {
  if (_manager->getIntSetting("morvane.trace.messages", 1) != 0)
    MTRACE("Block %s: word \"%s\"\n", _name, _words[code]);
  int res = 0;
  if (code == WORD_SAVE || code == WORD_LOAD) {
    ConfigStorage* st = _manager->getStorage();
    int r = code == WORD_SAVE ? st->save(_properties) : st->load(_properties);
    if (r != 0) {
      _error.set(st->getErrorString());
      return -1;
    }
  }
  BlockHandler* h = code == WORD_KILL ? nullptr : _events[code];
  if (h != nullptr) res = h->perform();
  int st = _status.get();
  switch (code) {
    case WORD_RESET:
      if (res == 0) _status.set(STATUS_READY);
      break;
    case WORD_START:
      if (res == 0) {
        _status.set(STATUS_RUNNING);
        _clockArmed = false;
      }
      break;
    case WORD_STOP:
      if (res == 0) _status.set(STATUS_STOPPED);
      break;
    case WORD_PAUSE:
      if (res == 0) _status.set(STATUS_PAUSED);
      break;
    case WORD_RESUME:
      if (res == 0 && st == STATUS_PAUSED) {
        _status.set(STATUS_RUNNING);
        _clockArmed = false;
      }
      break;
    case WORD_QUIT:
    case WORD_KILL:
      _status.set(STATUS_QUIT);
      break;
    default:
      break;
  }
  return res;
}

int Block::_runScript(const char* text) {
  if (_interp == nullptr) return -1;
  int last = 0;
  const char* p = text;
  std::vector<char> line;
  while (*p != '\0') {
    const char* end = std::strchr(p, '\n');
    size_t n = end != nullptr ? static_cast<size_t>(end - p) : std::strlen(p);
    line.assign(p, p + n);
    line.push_back('\0');
    p += n;
    if (*p == '\n') ++p;
    char* s = line.data();
    size_t len = std::strlen(s);
    while (len > 0 && (s[len - 1] == '\r' || s[len - 1] == ' ' || s[len - 1] == '\t'))
      s[--len] = '\0';
    while (*s == ' ' || *s == '\t') ++s;
    if (*s == '\0' || *s == '#') continue;
    char* rest = std::strpbrk(s, " \t");
    if (rest != nullptr) *rest++ = '\0';
    last = _interp->run(s, rest, this);
    MTRACE("Block %s: command %s returned %d\n", _name, s, last);
  }
  return last;
}

void Block::_notify(StatusListener* l, const request_t& r, int result) {
  if (l == nullptr) return;
  status_t s;
  std::memset(&s, 0, sizeof s);
  s.serial = r.serial;
  s.code = r.code;
  s.result = result;
  s.status = _status.get();
  s.block = this;
  copyText(s.error, sizeof s.error, _error.get());
  MutexLock lk(*ControlPin::linkMutex());
  if (std::find(_listeners.begin(), _listeners.end(), l) != _listeners.end()) l->onStatus(&s);
}

void Block::_finish() {
  MTRACE("Block %s: leaving its loop\n", _name);
  stop();
}

// ---------------------------------------------------------------- events

int Block::postEvent(uint32_t code, ConfigTable* params, void* data) {
  cmessage_t m;
  std::memset(&m, 0, sizeof m);
  m.code = code;
  m.params = params;
  m.data = data;
  m.sender = this;
  return _control.trySendMessage(&m);
}

// ---------------------------------------------------------------- data

void Block::_addInputWire(Wire* w) {
  MutexLock l(_wireLock);
  _in.push_back(w);
}

void Block::_removeInputWire(Wire* w) {
  MutexLock l(_wireLock);
  _in.erase(std::remove(_in.begin(), _in.end(), w), _in.end());
}

int Block::_action(int code) {
  BlockHandler* h = _actions[code];
  return h != nullptr ? h->perform() : 0;
}

bool Block::_serveData() {
  // A paced consumer leaves frames waiting while its outputs are full: the
  // wires upstream fill and a paced producer there waits in turn.
  bool paced = _clock.get() < 0;
  for (int round = 0; round < kDataRoundsPerPass; ++round) {
    bool connected = false;
    if (paced && !_outputsReady(&connected) && connected) return false;
    _batch.clear();
    {
      MutexLock l(_wireLock);
      for (Wire* w : _in) {
        DataFrame* f = w->_take();
        if (f == nullptr) continue;
        w->_ref();
        _batch.push_back(std::make_pair(w, f));
        // A paced producer waiting for room is woken once half the queue is
        // free, so that it fills several slots per wake-up.
        if (w->_producerWaiting.load() && static_cast<unsigned>(w->getQueued()) <= w->_depth / 2 &&
            w->_producerWaiting.exchange(false))
          w->_source->_block->_wake();
      }
    }
    if (_batch.empty()) return false;
    int st = _status.get();
    bool consume = st != STATUS_STOPPED && st != STATUS_PAUSED && !isStopped();
    for (auto& item : _batch) {
      Wire* w = item.first;
      DataFrame* f = item.second;
      DataPin* in = w->_destination;
      in->_received.fetch_add(1);
      if (consume) {
        _currentInput = in;
        _currentWire = w;
        _currentFrame = f;
        _action(ACTION_CONSUME);
        _currentInput = nullptr;
        _currentWire = nullptr;
        _currentFrame = nullptr;
      } else {
        in->_discarded.fetch_add(1);
      }
      f->release();
      w->_unref();
    }
  }
  // Frames may still be waiting.
  return true;
}

bool Block::_outputsReady(bool* connected) {
  MutexLock l(_pinLock);
  bool any = false;
  bool room = true;
  for (DataPin* p : _pinOrder) {
    if (!p->isOutput() || p->getWireCount() == 0) continue;
    any = true;
    if (!p->canSend()) {
      room = false;
      break;
    }
  }
  if (connected != nullptr) *connected = any;
  return any && room;
}

bool Block::_serveClock() {
  int period = _clock.get();
  if (_status.get() != STATUS_RUNNING || period == 0) {
    _clockArmed = false;
    if (_clockOwnsTimeout) {
      clearTimeout();
      _clockOwnsTimeout = false;
    }
    return false;
  }
  if (period > 0) {
    long long now = monotonicMicros();
    if (!_clockArmed) {
      _nextTick = now;
      _clockArmed = true;
    }
    int ticks = 0;
    while (now >= _nextTick && ticks < 4 && _status.get() == STATUS_RUNNING) {
      _action(ACTION_PRODUCE);
      _nextTick += period;
      ++ticks;
      now = monotonicMicros();
    }
    // Far behind (a slow handler, a suspended process): skip the missed ticks.
    if (now >= _nextTick) _nextTick = now + period;
    long long wait = _nextTick - now;
    setTimeout(static_cast<long>(wait / 1000000), static_cast<long>(wait % 1000000));
    _clockOwnsTimeout = true;
    return false;
  }
  if (_clockOwnsTimeout) {
    clearTimeout();
    _clockOwnsTimeout = false;
  }
  int n = 0;
  while (n < kPacedPerPass && _status.get() == STATUS_RUNNING && _outputsReady()) {
    _action(ACTION_PRODUCE);
    ++n;
  }
  // A full burst: there may be room for more.
  return n == kPacedPerPass;
}

int Block::paint() {
  if (_currentFrame == nullptr) return -1;
  return _manager->_paint(_currentWire, _currentInput, _currentFrame->getData(),
                          _currentFrame->getHeader());
}

// ---------------------------------------------------------------- report

char* Block::toString() {
  char buf[4096];
  int n = std::snprintf(buf, sizeof buf, "Block \"%s\" of type \"%s\" (%s)\n", _name,
                        _plugin != nullptr ? _plugin->getName() : "-",
                        getTypeString(_plugin != nullptr ? _plugin->provides : -1));
  auto add = [&](const char* fmt, const char* a) {
    if (n >= 0 && static_cast<size_t>(n) < sizeof buf)
      n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), fmt, a);
  };
  add("  status  : %s\n", getStatusString(_status.get()));
  for (int dir = DataPin::INPUT; dir <= DataPin::OUTPUT; ++dir) {
    std::vector<DataPin*> pins = listPins(dir);
    add("%s", dir == DataPin::INPUT ? "  inputs  :" : "  outputs :");
    if (pins.empty()) add("%s", " -");
    for (DataPin* p : pins) add(" %s", p->getName());
    add("%s", "\n");
  }
  char info[256];
  copyText(info, sizeof info, _info.get());
  add("  info    : %s", info[0] != '\0' ? info : "-");
  if (n < 0) n = 0;
  if (static_cast<size_t>(n) >= sizeof buf) n = sizeof buf - 1;
  _text->xcopy(buf, static_cast<unsigned>(n) + 1);
  return _text->getData();
}

}  // namespace MorvaneLib
