// BlockManager: the framework's centre. It loads the plug-ins, creates and
// destroys blocks, wires their pins, carries words to them, keeps the
// painter and protocol-handler tables, the application's configuration, log
// and error text, and runs graph scripts (GRAPHSCRIPT.md).
//
// Life: the constructor loads the local plug-ins (driving the Splash), so
// they can be looked up as soon as it returns; the creator then posts the
// start semaphore (start()) to run the manager's housekeeping thread, which
// disconnects blocks whose threads ended on their own ("quit", "kill").
// The destructor stops every block thread (each gets "quit"; one that does not
// end within "morvane.shutdown.timeout" milliseconds is left running and its
// plug-in stays loaded, so nothing waits for ever), then unloads the plug-ins.
//
// Data directory: $MORVANE_HOME/<appName> when MORVANE_HOME is set (tests and
// two programs on one machine keep apart this way), else
// $HOME/.morvane/<appName>. It holds the ConfigStorage files (the global
// table is "morvane.properties"), the block property files and the log
// "<appName>.log".
//
// Global settings (the table getConfig(), loaded from and saved to its file):
//   "morvane.paths.data"       string  the data directory (informative)
//   "morvane.paths.plugins"    string  more plug-in directories, ':'-separated
//   "morvane.paths.help"       string  directory of the help texts; from the
//                                      environment variable MORVANE_HELP_DIR
//                                      when set, else absent
//   "morvane.message.timeout"  int     ms sendMessage(..., true) and the graph
//                                      engine wait for a block's answer (10000)
//   "morvane.shutdown.timeout" int     ms a block gets to end (5000)
//   "morvane.wire.depth"       int     queue depth of new wires (8)
//   "morvane.trace.messages"   int     1: trace every word sent; 0: quiet (1)
//
// Tables (each a SharedHash keyed by text with its NUL; lockTable(id) and
// unlockTable(id) hold the table's mutex, during which callers walk or read it
// with the Hash forms, e.g. manager->getBlockTable()->Hash::values()):
//   TABLE_PLUGINS (1)   type name -> Plugin*        (the loader's)
//   TABLE_PAINTERS (2)  painter name -> Painter*    (not owned)
//   TABLE_PROTOCOLS (3) "name/version/transport" -> protocol_handler_t (copy)
//   TABLE_BLOCKS (6)    instance name -> Block*     (owned)
//
// Threads: every operation may be called from any thread, block handlers
// included (a handler that sends a word to its own block with wait gets it
// handled at once, on its own thread).
#ifndef MORVANE_BLOCKMANAGER_H
#define MORVANE_BLOCKMANAGER_H

#include <atomic>
#include <cstdint>
#include <shared_mutex>
#include <vector>

#include "framework/Block.h"
#include "framework/Painter.h"
#include "framework/Plugin.h"
#include "framework/Splash.h"
#include "mosal/ConfigStorage.h"
#include "mosal/ConfigTable.h"
#include "mosal/DataBuf.h"
#include "mosal/Error.h"
#include "mosal/Hash.h"
#include "mosal/SharedValues.h"
#include "mosal_posix/Mutex.h"
#include "mosal_posix/Thread.h"

namespace MorvaneLib {

class Logger;
class Protocol;

// What a protocol object adds so that the manager can file it by transport:
// a Protocol that also derives from this is filed under
// "<name>/<version>/TCP" (transport 1) or ".../UDP" (transport 2), e.g.
//   class SipProtocol : public Protocol, public ProtocolTransport { ...
//     int getTransport() const override { return transport; } };
class ProtocolTransport {
 public:
  virtual ~ProtocolTransport();
  virtual int getTransport() const = 0;
};

// A protocol object and the plug-in that provides it (two pointer words).
struct protocol_handler_t {
  Protocol* protocol;  // not owned by the manager
  Plugin* plugin;
};

class BlockManager : public Thread, public Error {
 public:
  enum {
    TABLE_PLUGINS = 1,
    TABLE_PAINTERS = 2,
    TABLE_PROTOCOLS = 3,
    TABLE_BLOCKS = 6
  };
  enum { ERROR_SIZE = 4096 };

  // appName: at most 63 characters of letters, digits, '-', '_' and '.'
  // (it names the data directory). splash may be null; it is not owned.
  // Throws LibError("BlockManager()", ...) when the name is unusable or the
  // data directory, storage, log or tables cannot be made.
  BlockManager(const char* appName, Splash* splash);
  ~BlockManager() override;
  BlockManager(const BlockManager&) = delete;
  BlockManager& operator=(const BlockManager&) = delete;

  void run() override;

  // -------- what the manager holds (all owned by it)
  char* getAppName() { return _appName; }
  PluginLoader* getPluginLoader() { return _loader; }
  ConfigTable* getConfig() { return _config; }
  ConfigStorage* getStorage() { return _storage; }
  Logger* getLogger() { return _logger; }
  Splash* getSplash() { return _splash; }
  // The manager's error text: plug-ins write their failures here.
  SharedString* getError() { return &_error; }
  char* getErrorString() override { return _error.get(); }

  // -------- blocks
  // A new block of the plug-in's type with a generated unique name (type
  // letter and a ten-digit serial, e.g. "S0000000001"), or with `name`:
  // properties, pins and handlers from the plug-in's set-up entry, its
  // thread started. 0 and *block set; -1 with the error text set.
  int createPluginInstance(Plugin* plugin, Block** block);
  int createPluginInstance(Plugin* plugin, Block** block, const char* name);
  // Stops the block's thread (quit), disconnects it, runs the plug-in's
  // clean-up entry and deletes it. 0, or -1 when it is not a block of this
  // manager (or its thread would not end: it is then left alone).
  int destroyBlock(Block* block);
  Block* getBlock(const char* name);
  SharedHash* getBlockTable() { return _blocks; }
  // Blocks in creation order (a copy).
  std::vector<Block*> listBlocks();
  // Holds / releases the mutex of a table (TABLE_*): 0, or -1 for another id.
  int lockTable(int table);
  int unlockTable(int table);

  // -------- wires
  // Connects an output pin to an input pin (given in either order): 0; -1
  // for a null pin, two pins of one direction, pins already connected, a
  // block that has finished, or pins of another manager.
  int connectPins(DataPin* out, DataPin* in);
  // Removes the wire between the two pins (either order). A null pin means
  // there is nothing to disconnect: -1, and nothing changes. -1 as well when
  // they are not connected.
  int disconnectPins(DataPin* a, DataPin* b);
  // Removes a wire of this manager: 0, or -1 for anything else.
  int disconnectPins(Wire* wire);
  // "<block>.<pin>", an input or an output pin: the pin, or null.
  DataPin* findPin(const char* qualifiedName);
  DataPin* findPin(const char* qualifiedName, int direction);

  // -------- words
  // Sends a word ("reset", "start", "stop", "quit", ... or one of the block's
  // own, getCommandStrings) to the named block. Without wait: 0 once queued.
  // With wait: the handler's result once the block answered (at most
  // "morvane.message.timeout" ms). -1 when the block or word is unknown, the
  // queue is full, the block has finished or the answer did not come.
  int sendMessage(const char* blockName, const char* word, bool wait);

  // -------- graph scripts (GRAPHSCRIPT.md)
  // Runs the script held in the buffer's used bytes. 0 when every statement
  // succeeded; the number (from 1) of the first line that failed, after
  // which nothing more runs; -1 for a null buffer.
  int runGraphScript(DataBuf* script);
  int runGraphScript(const char* text, unsigned length);
  // Writes the graph (blocks, properties, positions, wires, painter
  // bindings) as a script that runGraphScript() rebuilds. 0; -1 when the
  // file cannot be written (an existing file is then left as it was).
  int saveGraphScript(const char* path);

  // -------- painters
  // Files the painter under its name: 0; 10 when the name is taken; -1 for a
  // null painter.
  int registerPainter(Painter* painter);
  // Binds a registered painter to a pin ("<block>.<pin>"): frames that pin
  // sends (or, for an input pin, receives) are painted by the rendering block
  // that gets them. 0, or -1 for an unknown painter or pin.
  int attachPainterToPin(const char* painter, const char* pin);
  // Unbinds the painter from every pin and drops it from the table. Returns
  // once no block is inside the painter's setData(), so the caller may
  // destroy it right away. 0, or -1 when no painter has that name.
  int unregisterPainter(const char* painter);
  Painter* getPainter(const char* name);
  SharedHash* getPainterTable() { return _painters; }

  // -------- protocol handlers
  // Files a copy of the record under "<name>/<version>/<transport>" of its
  // protocol (transport 1 "TCP", 2 "UDP", from ProtocolTransport). 0; 10
  // when that name is taken; -1 for a null record or protocol, or a protocol
  // without name, version or transport.
  int registerProtocolHandler(protocol_handler_t* handler);
  // 0, or -1 when nothing is filed under the name.
  int unregisterProtocolHandler(const char* name);
  // The filed copy, or null; valid until unregistered.
  protocol_handler_t* getProtocolHandler(const char* name);
  SharedHash* getProtocolTable() { return _protocols; }

  // -------- settings
  // An int setting of the global table, or `fallback`.
  int getIntSetting(const char* key, int fallback);

  // Writes the manager's error text (printf-style) and logs it at level 4.
  void setError(const char* format, ...) __attribute__((format(printf, 2, 3)));

 private:
  friend class Block;
  friend class DataPin;
  friend class PluginLoader;
  friend class GraphScript;

  // Longest time a logged line waits in memory before the manager's thread
  // writes it to the log file.
  static constexpr unsigned kLogFlushMs = 500;

  struct Housekeeping {
    uint32_t code;  // 0 quit, 1 a block ended
    uint32_t pad;
    uint64_t blockId;
  };

  void _makeDataDirectory(const char* appName);
  void _defineSettings();
  int _create(Plugin* plugin, Block** out, const char* name);
  bool _nameUsable(const char* name);
  void _generateName(Plugin* plugin, char* out, unsigned size);
  void _copyDefaults(ConfigTable* from, ConfigTable* to);
  // With _graphLock held.
  int _disconnectLocked(Wire* w);
  void _disconnectBlockLocked(Block* b);
  int _destroy(Block* b, bool quitFirst);
  // From a block's thread as it ends; safe when the manager is gone.
  static void _blockEnded(BlockManager* m, Block* b);
  void _queueEnded(Block* b);
  bool _isWire(Wire* w);
  // Painting, from Block::paint().
  int _paint(Wire* wire, DataPin* input, DataBuf* data, dmessage_t* header);
  // Disconnects a pin that its block removes.
  void _removePin(DataPin* pin);
  int _protocolKey(Protocol* p, char* out, unsigned size);
  // Drops the protocol handlers a plug-in left registered.
  void _dropProtocols(Plugin* plugin);

  char _appName[64];
  Splash* _splash;
  SharedString _error;
  ConfigTable* _config;
  ConfigStorage* _storage;
  Logger* _logger;
  PluginLoader* _loader;
  SharedHash* _blocks;
  SharedHash* _painters;
  SharedHash* _protocols;
  // Graph changes (create, destroy, connect, disconnect, painter binding)
  // take this first; it is never taken on a data path.
  Mutex _graphLock;
  std::vector<Block*> _order;      // under _graphLock
  std::vector<Wire*> _wires;       // under _graphLock
  std::shared_mutex _painterLock;  // painting (shared) / unbinding (unique)
  std::atomic<uint64_t> _nextId{1};
  std::atomic<uint32_t> _nextSerial{1};
  std::atomic<bool> _stopping{false};
};

}  // namespace MorvaneLib

#endif
