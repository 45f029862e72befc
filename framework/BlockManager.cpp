// BlockManager: data directory, settings, block creation and destruction,
// wiring, words, painters, protocol handlers and the housekeeping thread.
#include "framework/BlockManager.h"

#include <pthread.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "mosal/Logger.h"
#include "mosal/Trace.h"

#if __has_include("mosal/TextSock.h")
#include "mosal/TextSock.h"
#define MORVANE_HAVE_PROTOCOL 1
#endif

namespace MorvaneLib {

namespace {

unsigned keyLen(const char* s) { return static_cast<unsigned>(std::strlen(s)) + 1; }

// The global settings table is stored as "morvane.properties".
class GlobalConfig : public ConfigTable {
 public:
  GlobalConfig() : ConfigTable(128) {}
  char* getStorageFilename() override { return _file; }

 private:
  char _file[32] = "morvane.properties";
};

// Managers alive in the process: a block thread that outlived its manager
// (one that would not end) must not call into it.
std::mutex& liveLock() {
  static std::mutex* m = new std::mutex();
  return *m;
}
std::set<BlockManager*>& liveManagers() {
  static std::set<BlockManager*>* s = new std::set<BlockManager*>();
  return *s;
}

bool usableAppName(const char* name) {
  if (name == nullptr || name[0] == '\0' || name[0] == '.') return false;
  size_t n = std::strlen(name);
  if (n > 63) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = name[i];
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  return true;
}

void describe(ConfigTable* t, const char* key, const char* text) {
  Property* p = t->createPropertyDescription(key, 255);
  if (p != nullptr) p->description->xcopy(text, keyLen(text));
}

}  // namespace

ProtocolTransport::~ProtocolTransport() = default;

// ---------------------------------------------------------------- life

BlockManager::BlockManager(const char* appName, Splash* splash)
    : Thread("BlockManager", sizeof(Housekeeping), 256, 1, 8),
      _splash(splash),
      _config(nullptr),
      _storage(nullptr),
      _logger(nullptr),
      _loader(nullptr),
      _blocks(nullptr),
      _painters(nullptr),
      _protocols(nullptr) {
  std::memset(_appName, 0, sizeof _appName);
  try {
    if (!usableAppName(appName))
      throw LibError("BlockManager()", "Invalid application name");
    std::strncpy(_appName, appName, sizeof _appName - 1);
    _makeDataDirectory(appName);
    _blocks = new SharedHash(256);
    _painters = new SharedHash(64);
    _protocols = new SharedHash(32);
    _loader = new PluginLoader(this);
  } catch (...) {
    delete _loader;
    delete _protocols;
    delete _painters;
    delete _blocks;
    if (_storage != nullptr && _config != nullptr) _storage->unreg(_config);
    delete _storage;
    delete _config;
    delete _logger;
    // The housekeeping thread waits for its start signal: let it end.
    setSkipRun(true);
    start();
    throw;
  }
  {
    std::lock_guard<std::mutex> l(liveLock());
    liveManagers().insert(this);
  }
  _logger->log(3, "BlockManager: %s started, data in %s", _appName,
               _storage->getDataDirectory());
  if (_splash != nullptr) _splash->show();
  _loader->loadLocal();
  if (_splash != nullptr) _splash->hide();
}

void BlockManager::_makeDataDirectory(const char* appName) {
  std::string base;
  const char* home = std::getenv("MORVANE_HOME");
  if (home != nullptr && home[0] != '\0') {
    base = home;
  } else {
    const char* h = std::getenv("HOME");
    if (h == nullptr || h[0] == '\0') {
      struct passwd* pw = getpwuid(getuid());
      if (pw != nullptr) h = pw->pw_dir;
    }
    if (h == nullptr || h[0] == '\0') throw LibError("BlockManager()", "No home directory");
    base = std::string(h) + "/.morvane";
  }
  std::string dir = base + "/" + appName;
  _storage = new ConfigStorage(dir.c_str(), 64);  // throws when it cannot be made
  _config = new GlobalConfig();
  _defineSettings();
  _storage->reg(_config);
  _storage->load(_config);  // a first run has no file: the defaults stay
  // The data directory is where it is, whatever the file said.
  _config->setString("morvane.paths.data", dir.c_str(), keyLen(dir.c_str()));
  // Batched: a call writes a few dozen lines, one write each would cost more
  // than the call itself. The manager's thread writes what is pending at
  // least every kLogFlushMs (see run()), and closing writes the rest.
  _logger = new Logger(256, 1);
  std::string log = dir + "/" + appName + ".log";
  if (_logger->open(log.c_str()) != 0)
    throw LibError("BlockManager()", "Cannot open the log file");
}

void BlockManager::_defineSettings() {
  const char* none = "";
  _config->setString("morvane.paths.data", none, 1);
  describe(_config, "morvane.paths.data", "Data directory of the application");
  _config->setString("morvane.paths.plugins", none, 1);
  describe(_config, "morvane.paths.plugins", "More plug-in directories, separated by ':'");
  const char* help = std::getenv("MORVANE_HELP_DIR");
  if (help != nullptr) {
    _config->setString("morvane.paths.help", help, keyLen(help));
    describe(_config, "morvane.paths.help", "Directory of the help texts");
  }
  _config->setInt("morvane.message.timeout", 10000);
  describe(_config, "morvane.message.timeout", "Milliseconds to wait for a block's answer");
  _config->setInt("morvane.shutdown.timeout", 5000);
  describe(_config, "morvane.shutdown.timeout", "Milliseconds a block gets to end");
  _config->setInt("morvane.wire.depth", 8);
  describe(_config, "morvane.wire.depth", "Frames a wire holds for a lagging consumer");
  _config->setInt("morvane.trace.messages", 1);
  describe(_config, "morvane.trace.messages", "1: trace every word sent to a block");
}

BlockManager::~BlockManager() {
  {
    std::lock_guard<std::mutex> l(liveLock());
    liveManagers().erase(this);
  }
  _stopping = true;
  // Housekeeping first: it must not reap what is being destroyed. Started
  // here if the creator never did: it then finds its quit at once.
  Housekeeping q;
  std::memset(&q, 0, sizeof q);
  if (getQueue()->tryPut(reinterpret_cast<const char*>(&q), sizeof q, PriorityQueue::URGENT) != 0)
    getQueue()->put(reinterpret_cast<const char*>(&q), sizeof q, PriorityQueue::URGENT);
  start();
  waitTermination();

  // Every block gets "quit" at once, then each is waited for in turn.
  std::vector<Block*> all;
  {
    MutexLock g(_graphLock);
    for (Block* b : _order) {
      if (b->_destroying) continue;  // another thread has it, or it is stuck
      b->_destroying = true;
      all.push_back(b);
    }
  }
  for (Block* b : all)
    if (b->_started && !b->_finished.load() && b->postWord(Block::WORD_QUIT, nullptr) != 0)
      b->stop();
  unsigned stuck = 0;
  for (auto it = all.rbegin(); it != all.rend(); ++it)
    if (_destroy(*it, false) != 0) ++stuck;
  {
    MutexLock g(_graphLock);
    for (Block* b : _order)
      if (b->_stuck.load()) ++stuck;
  }
  unsigned left = _loader->unloadAll();
  _storage->save(_config);
  _storage->unreg(_config);
  _logger->log(3, "BlockManager: %s stopped", _appName);
  if (stuck == 0 && left == 0) {
    delete _loader;
    delete _protocols;
    delete _painters;
    delete _blocks;
    delete _config;
    delete _storage;
    delete _logger;
  } else {
    // Blocks still running use these: they stay, and so does their code.
    static std::vector<void*>* graveyard = new std::vector<void*>();
    graveyard->insert(graveyard->end(), {_loader, _protocols, _painters, _blocks, _config,
                                         _storage, _logger});
    MTRACE("BlockManager: %u blocks did not end, %u plug-ins stay loaded\n", stuck, left);
    _logger->close();
  }
}

void BlockManager::run() {
  Housekeeping h;
  auto lastFlush = std::chrono::steady_clock::now();
  for (;;) {
    int got = getQueue()->timedGet(reinterpret_cast<char*>(&h), sizeof h, kLogFlushMs);
    auto now = std::chrono::steady_clock::now();
    if (now - lastFlush >= std::chrono::milliseconds(kLogFlushMs)) {
      _logger->flush();
      lastFlush = now;
    }
    if (got != 0) continue;
    if (h.code == 0) {
      _logger->flush();
      return;
    }
    MutexLock g(_graphLock);
    for (Block* b : _order) {
      if (b->_id != h.blockId) continue;
      if (b->_finished.load() && !b->_destroying) {
        MTRACE("BlockManager: block %s ended, disconnecting it\n", b->getName());
        _disconnectBlockLocked(b);
      }
      break;
    }
  }
}

void BlockManager::_blockEnded(BlockManager* m, Block* b) {
  std::lock_guard<std::mutex> l(liveLock());
  if (liveManagers().count(m) == 0) return;
  m->_queueEnded(b);
}

void BlockManager::_queueEnded(Block* b) {
  if (_stopping) return;
  Housekeeping h;
  std::memset(&h, 0, sizeof h);
  h.code = 1;
  h.blockId = b->_id;
  getQueue()->tryPut(reinterpret_cast<const char*>(&h), sizeof h);
}

void BlockManager::setError(const char* format, ...) {
  char buf[ERROR_SIZE];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  _error.set(buf);
  MTRACE("BlockManager: %s\n", buf);
  if (_logger != nullptr) _logger->log(4, "BlockManager: %s", buf);
}

int BlockManager::getIntSetting(const char* key, int fallback) {
  int v;
  return _config->getInt(key, &v) == 0 ? v : fallback;
}

int BlockManager::lockTable(int table) {
  switch (table) {
    case TABLE_PLUGINS: return _loader->getPluginTable()->getMutex()->lock() == 0 ? 0 : -1;
    case TABLE_PAINTERS: return _painters->getMutex()->lock() == 0 ? 0 : -1;
    case TABLE_PROTOCOLS: return _protocols->getMutex()->lock() == 0 ? 0 : -1;
    case TABLE_BLOCKS: return _blocks->getMutex()->lock() == 0 ? 0 : -1;
    default: return -1;
  }
}

int BlockManager::unlockTable(int table) {
  switch (table) {
    case TABLE_PLUGINS: return _loader->getPluginTable()->getMutex()->unlock() == 0 ? 0 : -1;
    case TABLE_PAINTERS: return _painters->getMutex()->unlock() == 0 ? 0 : -1;
    case TABLE_PROTOCOLS: return _protocols->getMutex()->unlock() == 0 ? 0 : -1;
    case TABLE_BLOCKS: return _blocks->getMutex()->unlock() == 0 ? 0 : -1;
    default: return -1;
  }
}

// ---------------------------------------------------------------- blocks

Block* BlockManager::getBlock(const char* name) {
  if (name == nullptr) return nullptr;
  return reinterpret_cast<Block*>(_blocks->get(name, keyLen(name)));
}

std::vector<Block*> BlockManager::listBlocks() {
  MutexLock g(_graphLock);
  return _order;
}

bool BlockManager::_nameUsable(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  size_t n = std::strlen(name);
  if (n >= Block::NAME_SIZE) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = name[i];
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

void BlockManager::_generateName(Plugin* plugin, char* out, unsigned size) {
  char letter = Block::getTypeLetter(plugin->provides);
  do {
    std::snprintf(out, size, "%c%010u", letter, _nextSerial.fetch_add(1));
  } while (getBlock(out) != nullptr);
}

int BlockManager::createPluginInstance(Plugin* plugin, Block** block) {
  return _create(plugin, block, nullptr);
}

int BlockManager::createPluginInstance(Plugin* plugin, Block** block, const char* name) {
  return _create(plugin, block, name);
}

int BlockManager::_create(Plugin* plugin, Block** out, const char* name) {
  if (out != nullptr) *out = nullptr;
  if (plugin == nullptr || out == nullptr) {
    setError("Cannot create a block: no plug-in");
    return -1;
  }
  if (_stopping) {
    setError("Cannot create a block: the manager is stopping");
    return -1;
  }
  // The plug-in must stay loaded while its block is made.
  {
    MutexLock l(_loader->_lock);
    bool known = false;
    for (unsigned i = 0; i < _loader->_count; ++i)
      if (_loader->_order[i] == plugin) known = true;
    if (!known) {
      setError("Cannot create a block: plug-in not loaded");
      return -1;
    }
    ++plugin->_instances;
  }
  auto giveUp = [&]() {
    MutexLock l(_loader->_lock);
    --plugin->_instances;
  };
  char generated[Block::NAME_SIZE];
  if (name != nullptr) {
    if (!_nameUsable(name)) {
      giveUp();
      setError("Cannot create a block: invalid name \"%s\"", name);
      return -1;
    }
    if (getBlock(name) != nullptr) {
      giveUp();
      setError("Cannot create a block: the name %s is taken", name);
      return -1;
    }
  } else {
    _generateName(plugin, generated, sizeof generated);
    name = generated;
  }
  Block* b;
  try {
    b = new Block(this, plugin, name, _nextId.fetch_add(1));
  } catch (LibError& e) {
    giveUp();
    setError("Cannot create block %s: %s (%s)", name, e.getReason(), e.getLocation());
    return -1;
  }
  if (plugin->_record.setup != nullptr) {
    _error.set("");
    if (plugin->_record.setup(b) != 0) {
      char why[1024];
      std::snprintf(why, sizeof why, "%s", _error.get());
      delete b;
      giveUp();
      setError("Cannot set up block %s of type %s: %s", name, plugin->getName(),
               why[0] != '\0' ? why : "set-up entry failed");
      return -1;
    }
  }
  _copyDefaults(plugin->getProperties(), b->getProperties());
  {
    MutexLock g(_graphLock);
    if (_blocks->pput(name, keyLen(name), b, false) != 0) {
      delete b;
      giveUp();
      setError("Cannot create a block: the name %s is taken", name);
      return -1;
    }
    _order.push_back(b);
    b->_started = true;
  }
  b->start();
  *out = b;
  MTRACE("BlockManager: block %s of type %s created\n", name, plugin->getName());
  _logger->log(3, "block %s of type %s created", name, plugin->getName());
  return 0;
}

void BlockManager::_copyDefaults(ConfigTable* from, ConfigTable* to) {
  std::vector<std::string> keys;
  {
    SharedHash* values = from->getParamTable();
    MutexLock l(*values->getMutex());
    Hash* t = values;
    Enumeration* e = t->keys();
    while (e->hasMoreElements()) keys.emplace_back(e->nextElement()->data);
  }
  std::vector<char> text(65536);
  for (const std::string& k : keys) {
    unsigned char type = 0;
    if (from->getParamType(k.c_str(), &type) != 0) continue;
    int i;
    double d;
    if (type == TYPE_INT && from->getInt(k.c_str(), &i) == 0) {
      to->setInt(k.c_str(), i);
    } else if (type == TYPE_DOUBLE && from->getDouble(k.c_str(), &d) == 0) {
      to->setDouble(k.c_str(), d);
    } else if (type == TYPE_STRING &&
               from->copyString(k.c_str(), text.data(), static_cast<unsigned>(text.size())) == 0) {
      to->setString(k.c_str(), text.data(), static_cast<unsigned>(std::strlen(text.data())) + 1);
    }
  }
}

int BlockManager::destroyBlock(Block* block) {
  {
    MutexLock g(_graphLock);
    if (block == nullptr || std::find(_order.begin(), _order.end(), block) == _order.end()) {
      setError("Cannot destroy: not a block of this manager");
      return -1;
    }
    if (block->_destroying) {
      setError("Cannot destroy block %s: it is being destroyed", block->getName());
      return -1;
    }
    block->_destroying = true;
  }
  return _destroy(block, true);
}

int BlockManager::_destroy(Block* b, bool quitFirst) {
  if (b->_started && pthread_equal(pthread_self(), b->getHandle())) {
    MutexLock g(_graphLock);
    b->_destroying = false;
    setError("Block %s cannot destroy itself", b->getName());
    return -1;
  }
  unsigned timeout = static_cast<unsigned>(std::max(1, getIntSetting("morvane.shutdown.timeout", 5000)));
  if (b->_started) {
    if (quitFirst && !b->_finished.load() && b->postWord(Block::WORD_QUIT, nullptr) != 0) b->stop();
    if (!b->_waitFinished(timeout)) {
      b->stop();
      if (!b->_waitFinished(1000)) {
        b->_stuck.store(true);
        setError("Block %s does not end: left running", b->getName());
        return -1;
      }
    }
  }
  Plugin* plugin = b->getPlugin();
  {
    MutexLock g(_graphLock);
    _disconnectBlockLocked(b);
    _blocks->del(b->getName(), keyLen(b->getName()));
    _order.erase(std::remove(_order.begin(), _order.end(), b), _order.end());
  }
  MTRACE("BlockManager: block %s destroyed\n", b->getName());
  if (plugin != nullptr && plugin->_record.cleanup != nullptr) plugin->_record.cleanup(b);
  delete b;
  if (plugin != nullptr) {
    MutexLock l(_loader->_lock);
    --plugin->_instances;
  }
  return 0;
}

// ---------------------------------------------------------------- wires

bool BlockManager::_isWire(Wire* w) {
  return std::find(_wires.begin(), _wires.end(), w) != _wires.end();
}

int BlockManager::connectPins(DataPin* out, DataPin* in) {
  if (out == nullptr || in == nullptr) {
    setError("Cannot connect: missing pin");
    return -1;
  }
  // Pins picked in a drawing come in either order.
  if (out->isInput() && in->isOutput()) std::swap(out, in);
  MutexLock g(_graphLock);
  Block* src = out->getBlock();
  Block* dst = in->getBlock();
  if (std::find(_order.begin(), _order.end(), src) == _order.end() ||
      std::find(_order.begin(), _order.end(), dst) == _order.end()) {
    setError("Cannot connect: pin of another manager");
    return -1;
  }
  if (!out->isOutput() || !in->isInput()) {
    setError("Cannot connect %s to %s: an output pin goes to an input pin",
             out->getQualifiedName(), in->getQualifiedName());
    return -1;
  }
  if (src->_finished.load() || dst->_finished.load() || src->_destroying || dst->_destroying) {
    setError("Cannot connect %s to %s: block has finished", out->getQualifiedName(),
             in->getQualifiedName());
    return -1;
  }
  const char* key = in->getQualifiedName();
  if (out->getWireTable()->get(key, keyLen(key)) != nullptr) {
    setError("Cannot connect %s to %s: pins already connected", out->getQualifiedName(), key);
    return -1;
  }
  int depth = getIntSetting("morvane.wire.depth", 8);
  if (depth < 1) depth = 1;
  if (depth > 1024) depth = 1024;
  Wire* w;
  try {
    w = new Wire(out, in, static_cast<unsigned>(depth));
  } catch (LibError& e) {
    setError("Cannot connect %s to %s: %s", out->getQualifiedName(), key, e.getReason());
    return -1;
  }
  {
    std::shared_lock<std::shared_mutex> p(_painterLock);
    w->_painter = out->_painter;
  }
  _wires.push_back(w);
  out->_addWire(w);
  in->_addWire(w);
  dst->_addInputWire(w);
  // A paced producer may have been waiting for an output.
  src->_wake();
  MTRACE("BlockManager: connected %s -> %s\n", out->getQualifiedName(), key);
  return 0;
}

int BlockManager::_disconnectLocked(Wire* w) {
  DataPin* out = w->_source;
  DataPin* in = w->_destination;
  out->_removeWire(w);  // the producer offers it nothing more
  in->_removeWire(w);
  in->getBlock()->_removeInputWire(w);  // the consumer takes nothing more
  {
    std::unique_lock<std::shared_mutex> p(_painterLock);
    w->_painter = nullptr;
  }
  _wires.erase(std::remove(_wires.begin(), _wires.end(), w), _wires.end());
  // A paced producer waiting for room on this wire waits no more.
  out->getBlock()->_wake();
  MTRACE("BlockManager: disconnected %s -> %s\n", out->getQualifiedName(),
         in->getQualifiedName());
  w->_unref();
  return 0;
}

void BlockManager::_disconnectBlockLocked(Block* b) {
  std::vector<Wire*> mine;
  for (Wire* w : _wires)
    if (w->_source->getBlock() == b || w->_destination->getBlock() == b) mine.push_back(w);
  for (Wire* w : mine) _disconnectLocked(w);
}

void BlockManager::_removePin(DataPin* pin) {
  MutexLock g(_graphLock);
  std::vector<Wire*> mine;
  for (Wire* w : _wires)
    if (w->_source == pin || w->_destination == pin) mine.push_back(w);
  for (Wire* w : mine) _disconnectLocked(w);
  std::unique_lock<std::shared_mutex> p(_painterLock);
  pin->_painter = nullptr;
}

int BlockManager::disconnectPins(DataPin* a, DataPin* b) {
  if (a == nullptr || b == nullptr) {
    setError("Cannot disconnect: missing pin");
    return -1;
  }
  MutexLock g(_graphLock);
  for (Wire* w : _wires) {
    if ((w->_source == a && w->_destination == b) || (w->_source == b && w->_destination == a))
      return _disconnectLocked(w);
  }
  setError("Cannot disconnect %s from %s: not connected", a->getQualifiedName(),
           b->getQualifiedName());
  return -1;
}

int BlockManager::disconnectPins(Wire* wire) {
  MutexLock g(_graphLock);
  if (wire == nullptr || !_isWire(wire)) {
    setError("Cannot disconnect: not a wire of this manager");
    return -1;
  }
  return _disconnectLocked(wire);
}

DataPin* BlockManager::findPin(const char* qualifiedName) {
  DataPin* p = findPin(qualifiedName, DataPin::OUTPUT);
  return p != nullptr ? p : findPin(qualifiedName, DataPin::INPUT);
}

DataPin* BlockManager::findPin(const char* qualifiedName, int direction) {
  if (qualifiedName == nullptr) return nullptr;
  const char* dot = std::strrchr(qualifiedName, '.');
  if (dot == nullptr || dot == qualifiedName) return nullptr;
  size_t n = static_cast<size_t>(dot - qualifiedName);
  if (n >= Block::NAME_SIZE) return nullptr;
  char name[Block::NAME_SIZE];
  std::memcpy(name, qualifiedName, n);
  name[n] = '\0';
  Block* b = getBlock(name);
  if (b == nullptr) return nullptr;
  return direction == DataPin::INPUT ? b->getInputPin(dot + 1) : b->getOutputPin(dot + 1);
}

// ---------------------------------------------------------------- words

int BlockManager::sendMessage(const char* blockName, const char* word, bool wait) {
  Block* b = getBlock(blockName);
  if (b == nullptr) {
    setError("No block %s", blockName != nullptr ? blockName : "(null)");
    return -1;
  }
  int code = b->findWord(word);
  if (code < 0) {
    setError("Block %s has no word \"%s\"", b->getName(), word != nullptr ? word : "(null)");
    return -1;
  }
  if (b->_finished.load()) {
    setError("Block %s has finished", b->getName());
    return -1;
  }
  if (getIntSetting("morvane.trace.messages", 1) != 0)
    MTRACE("BlockManager: \"%s\" to %s%s\n", word, b->getName(), wait ? " (waiting)" : "");
  if (b->_started && pthread_equal(pthread_self(), b->getHandle())) {
    // From the block's own handlers: a queued word would wait for itself.
    int r = b->_word(code);
    if (code == Block::WORD_QUIT || code == Block::WORD_KILL) b->_finish();
    return r;
  }
  if (!wait) {
    if (b->postWord(code, nullptr) != 0) {
      setError("Block %s: message queue is full", b->getName());
      return -1;
    }
    return 0;
  }
  try {
    DefaultStatusListener listener(b, 4);
    uint32_t serial = 0;
    if (b->postWord(code, &listener, &serial) != 0) {
      setError("Block %s: message queue is full", b->getName());
      return -1;
    }
    unsigned timeout =
        static_cast<unsigned>(std::max(1, getIntSetting("morvane.message.timeout", 10000)));
    status_t s;
    while (listener.waitStatus(&s, timeout) == 0)
      if (s.serial == serial) return s.result;
    setError("Block %s did not answer \"%s\"", b->getName(), word);
    return -1;
  } catch (LibError& e) {
    setError("Cannot wait for block %s: %s", b->getName(), e.getReason());
    return -1;
  }
}

// ---------------------------------------------------------------- painters

int BlockManager::registerPainter(Painter* painter) {
  if (painter == nullptr) {
    setError("No painter");
    return -1;
  }
  const char* name = painter->getName();
  int r = _painters->pput(name, keyLen(name), painter, false);
  if (r == 10) setError("A painter %s is registered already", name);
  return r;
}

Painter* BlockManager::getPainter(const char* name) {
  if (name == nullptr) return nullptr;
  return reinterpret_cast<Painter*>(_painters->get(name, keyLen(name)));
}

int BlockManager::attachPainterToPin(const char* painter, const char* pin) {
  MutexLock g(_graphLock);
  Painter* p = getPainter(painter);
  if (p == nullptr) {
    setError("No painter %s", painter != nullptr ? painter : "(null)");
    return -1;
  }
  DataPin* d = findPin(pin);
  if (d == nullptr) {
    setError("No pin %s", pin != nullptr ? pin : "(null)");
    return -1;
  }
  std::unique_lock<std::shared_mutex> l(_painterLock);
  d->_painter = p;
  if (d->isOutput()) {
    MutexLock s(d->_sendLock);
    for (Wire* w : d->_out) w->_painter = p;
  }
  return 0;
}

int BlockManager::unregisterPainter(const char* painter) {
  MutexLock g(_graphLock);
  Painter* p = getPainter(painter);
  if (p == nullptr) {
    setError("No painter %s", painter != nullptr ? painter : "(null)");
    return -1;
  }
  // Exclusive: waits for every setData() in progress.
  std::unique_lock<std::shared_mutex> l(_painterLock);
  for (Block* b : _order) {
    MutexLock pl(b->_pinLock);
    for (DataPin* d : b->_pinOrder)
      if (d->_painter == p) d->_painter = nullptr;
  }
  for (Wire* w : _wires)
    if (w->_painter == p) w->_painter = nullptr;
  _painters->del(painter, keyLen(painter));
  return 0;
}

int BlockManager::_paint(Wire* wire, DataPin* input, DataBuf* data, dmessage_t* header) {
  std::shared_lock<std::shared_mutex> l(_painterLock);
  Painter* p = wire != nullptr ? wire->_painter : nullptr;
  if (p == nullptr && input != nullptr) p = input->_painter;
  if (p == nullptr) return -1;
  return p->setData(data, header);
}

// ---------------------------------------------------------------- protocols

int BlockManager::_protocolKey(Protocol* p, char* out, unsigned size) {
#ifdef MORVANE_HAVE_PROTOCOL
  const char* name = p->getName();
  const char* version = p->getVersion();
  ProtocolTransport* pt = dynamic_cast<ProtocolTransport*>(p);
  int transport = pt != nullptr ? pt->getTransport() : 0;
  const char* t = transport == 1 ? "TCP" : transport == 2 ? "UDP" : nullptr;
  if (name == nullptr || version == nullptr || t == nullptr) return -1;
  std::snprintf(out, size, "%s/%s/%s", name, version, t);
  return 0;
#else
  (void)p;
  (void)out;
  (void)size;
  return -1;
#endif
}

int BlockManager::registerProtocolHandler(protocol_handler_t* handler) {
  if (handler == nullptr || handler->protocol == nullptr) {
    setError("Cannot register protocol handler: no protocol");
    return -1;
  }
  char key[256];
  if (_protocolKey(handler->protocol, key, sizeof key) != 0) {
    setError("Cannot register protocol handler: the protocol has no name, version or transport");
    return -1;
  }
  int r = _protocols->put(key, keyLen(key), reinterpret_cast<const char*>(handler),
                          sizeof *handler, false);
  if (r == 10) setError("Protocol handler %s is registered already", key);
  if (r == 0) MTRACE("BlockManager: protocol handler %s registered\n", key);
  return r;
}

int BlockManager::unregisterProtocolHandler(const char* name) {
  if (name == nullptr || _protocols->del(name, keyLen(name)) != 0) {
    setError("No protocol handler %s", name != nullptr ? name : "(null)");
    return -1;
  }
  MTRACE("BlockManager: protocol handler %s unregistered\n", name);
  return 0;
}

protocol_handler_t* BlockManager::getProtocolHandler(const char* name) {
  if (name == nullptr) return nullptr;
  return reinterpret_cast<protocol_handler_t*>(_protocols->get(name, keyLen(name)));
}

void BlockManager::_dropProtocols(Plugin* plugin) {
  std::vector<std::string> keys;
  {
    MutexLock l(*_protocols->getMutex());
    Hash* t = _protocols;
    Enumeration* e = t->keys();
    while (e->hasMoreElements()) {
      enum_elem_t* k = e->nextElement();
      protocol_handler_t* h = reinterpret_cast<protocol_handler_t*>(t->get(k->data, k->length));
      if (h != nullptr && h->plugin == plugin) keys.emplace_back(k->data, k->length);
    }
  }
  for (const std::string& k : keys) {
    MTRACE("BlockManager: protocol handler %s dropped with its plug-in\n", k.c_str());
    _protocols->del(k.data(), static_cast<unsigned>(k.size()));
  }
}

}  // namespace MorvaneLib
