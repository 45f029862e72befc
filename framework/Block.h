// Block: one processing element of a media graph, with its pins, wires,
// messages, handlers and the thread that runs its event loop.
//
// A Block is an IOMonitor: plug-ins attach their sockets to it, and its own
// thread runs loop(). Every pass of that loop first serves the block's work:
//   1. requests from the command queue (words such as "reset" and command
//      scripts), each answered with a status record;
//   2. data frames that arrived on the input pins (action 1, consume);
//   3. the clock of a source block (action 0, produce; see "Clocking").
// Anything handed to a block (a request, a frame, a freed output slot) wakes
// its loop at once through the monitor's wake-up pipe; nothing waits on a
// time-out for work to arrive.
//
// Words and their codes (index into getCommandStrings(), event handler code):
//    0 "reset"   apply the properties          -> status READY
//    1 "start"                                 -> RUNNING
//    2 "stop"                                  -> STOPPED
//    3 "pause"                                 -> PAUSED
//    4 "resume"  (only from PAUSED)            -> RUNNING
//    5 "status"  report only
//    6 "save"    store the properties (ConfigStorage file "<type>.properties")
//    7 "load"    read them back from that file
//    8 "quit"    event handler 8, then the block's thread ends -> QUIT
//    9 "user 1"  10 "user 2": free for the plug-in
//   11 "kill"    the thread ends without running any handler   -> QUIT
//   12...        the block's own words, in the order addWord() registered them
// Codes 0-4 move the run status only when the event handler (if any) returns 0;
// the status record always carries the handler's return.
//
// Data: frames travel from an output DataPin over Wires to input DataPins of
// other blocks. Each wire has a bounded queue; a send never waits: when a
// wire's queue is full the frame is dropped for that wire and counted. Frames
// come from a pool owned by the output pin and sized when wires are connected,
// so a steady stream allocates nothing per frame. A frame sent over several
// wires is shared, not copied; it returns to its pool when the last consumer
// is done with it.
//
// Consumption: a frame is consumed (action handler 1 runs on the consumer's
// thread, with getCurrentInput()/getCurrentFrame() telling what arrived) in
// every run status except STOPPED and PAUSED; frames arriving then are
// released unconsumed and counted as discarded on the input pin.
//
// Clocking (the shared integer getClock(), in microseconds):
//   > 0  while RUNNING, action 0 runs every that many microseconds (the loop's
//        select() time-out is then managed by the framework);
//   = 0  not clocked: the block produces from its own events (sockets,
//        consumed frames, commands). The default.
//   < 0  paced by the outputs: while RUNNING, action 0 runs whenever every
//        wire of every connected output pin has room, and the consumer that
//        frees a slot wakes the producer. A paced source never drops. A
//        paced block also takes frames off its inputs only while its outputs
//        have room, so a chain of paced blocks loses nothing anywhere.
//
// Threads: the block's thread runs the loop, the handlers, the commands of
// its interpreter and its consume/produce actions. Any thread may put
// requests into its command queue, send frames to it, and read its tables
// (all SharedHash / ConfigTable). The pins and wires are changed only through
// the BlockManager.
//
// Ownership: the manager creates and deletes blocks. A block owns its pins
// (kept until the block is deleted, even after removePin), its property
// table, its interpreter (and so its commands) and every handler attached
// with attachEventHandler/attachActionHandler/addWord once the attach
// succeeded.
#ifndef MORVANE_BLOCK_H
#define MORVANE_BLOCK_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "mosal/ConfigTable.h"
#include "mosal/DataBuf.h"
#include "mosal/Hash.h"
#include "mosal/Interp.h"
#include "mosal/Queue.h"
#include "mosal/SharedValues.h"
#include "mosal/Trace.h"
#include "mosal_posix/IOMonitor.h"
#include "mosal_posix/Mutex.h"
#include "mosal_posix/Semaphore.h"
#include "mosal_posix/Thread.h"

namespace MorvaneLib {

class Block;
class BlockAdapter;
class BlockManager;
class DataPin;
class Plugin;
class Painter;
class Wire;
class FramePool;

// ---------------------------------------------------------------- records

// Header of every data frame: 68 bytes, 32-bit fields and below. The picture
// width and height are 16-bit at offsets 10 and 12 (painters read them).
struct dmessage_t {
  uint32_t sequence;   // 0: set by the sending pin: 1, 2, 3... per output pin
  uint16_t kind;       // 4: DATA_VIDEO, DATA_AUDIO, DATA_TEXT, DATA_STREAM
  uint16_t format;     // 6: VideoFormat / AudioFormat / TextFormat code (Painter.h)
  uint16_t flags;      // 8: FRAME_KEY, ...
  uint16_t width;      // 10: picture width in pixels
  uint16_t height;     // 12: picture height in pixels
  uint16_t channels;   // 14: audio channels
  uint32_t length;     // 16: set by the sending pin: payload bytes
  uint32_t rate;       // 20: frames or samples per second
  uint32_t sentSec;    // 24: set by the sending pin: monotonic clock at send
  uint32_t sentNsec;   // 28
  uint32_t timestamp;  // 32: media time stamp in the producer's units
  uint32_t origin;     // 36: free for the producer (e.g. a source's frame count)
  uint8_t user[28];    // 40..67: free for the producer
};
static_assert(sizeof(dmessage_t) == 68, "dmessage_t is 68 bytes");
static_assert(offsetof(dmessage_t, width) == 10, "width at 10");
static_assert(offsetof(dmessage_t, height) == 12, "height at 12");

enum DataKind { DATA_NONE = 0, DATA_VIDEO = 1, DATA_AUDIO = 2, DATA_TEXT = 3, DATA_STREAM = 4 };
enum FrameFlags { FRAME_KEY = 1 };

// Event message that a block posts through its control pin to the
// BlockAdapters connected to it. Laid out as twelve 32-bit words; here the
// pointers are pointer-sized, so on 64-bit targets the record is 64 bytes:
// the code stays at offset 0 and the serial at 32, the pointers move to
// 40 (params), 48 (data) and 56 (sender).
struct cmessage_t {
  uint32_t code;         // 0: event code
  uint32_t word[7];      // 4..31: zero unless the sender documents them
  uint32_t serial;       // 32: set by ControlPin::trySendMessage
  uint32_t pad;          // 36: zero
  ConfigTable* params;   // string parameters, lent by the sender (not owned)
  void* data;            // free for the sender
  Block* sender;         // the block that posted the message
};
static_assert(offsetof(cmessage_t, code) == 0, "code at 0");
static_assert(offsetof(cmessage_t, serial) == 32, "serial at 32");

// A request in a block's command queue: 48 bytes.
struct request_t {
  uint32_t code;             // 0: word code (see above) or REQUEST_SCRIPT
  uint32_t serial;           // 4: Block::nextSerial(), echoed in the status
  uint32_t flags;            // 8: zero
  int32_t arg;               // 12: zero
  class StatusListener* listener;  // 16: where the status goes (may be null)
  char* text;                // 24: REQUEST_SCRIPT: malloc'ed text, freed by the block
  Block* sender;             // 32: informative, may be null
  void* reserved;            // 40: zero
};
static_assert(sizeof(request_t) == 48, "request_t is 48 bytes");

// The answer to a request: 152 bytes.
struct status_t {
  uint32_t serial;     // 0: the request's serial
  uint32_t code;       // 4: the request's code
  int32_t result;      // 8: the handler's (or command's) return
  int32_t status;      // 12: the block's run status afterwards
  Block* block;        // 16: the answering block
  char error[128];     // 24: the block's error text afterwards (cut, terminated)
};
static_assert(sizeof(status_t) == 152, "status_t is 152 bytes");

// Receives status records on the answering block's thread. onStatus must not
// wait. A listener is only called while it is registered with the block
// (DefaultStatusListener does that in its constructor and destructor), so a
// listener that was destroyed is never called.
class StatusListener {
 public:
  virtual ~StatusListener() = default;
  virtual void onStatus(const status_t* status) = 0;
};

// A listener with a queue of `depth` status records, registered with its
// block for its whole life. Either may be destroyed first.
class DefaultStatusListener : public StatusListener {
 public:
  // Throws LibError("DefaultStatusListener()", ...) for a null block or when
  // the queue cannot be made.
  DefaultStatusListener(Block* block, int depth);
  ~DefaultStatusListener() override;
  DefaultStatusListener(const DefaultStatusListener&) = delete;
  DefaultStatusListener& operator=(const DefaultStatusListener&) = delete;

  void onStatus(const status_t* status) override;
  // 0 with a record, -1 at once when none is queued.
  int getStatus(status_t* out);
  // Waits at most `ms` milliseconds: 0 with a record, -1 on time-out.
  int waitStatus(status_t* out, unsigned ms);
  // Status records lost because the queue was full.
  unsigned getLost() const { return _lost.load(); }

 private:
  friend class Block;
  Block* _block;  // null once the block is gone (guarded by the link mutex)
  SharedQueue* _queue;
  std::atomic<unsigned> _lost;
};

// ---------------------------------------------------------------- handlers

// An event or action handler of a block: a named CallBack that knows its
// block. Virtual slots: destructors, CallBack::perform(void*), perform().
// The framework calls perform() on the block's thread; perform(void*) calls
// perform().
class BlockHandler : public CallBack {
 public:
  BlockHandler(const char* name, Block* block);
  ~BlockHandler() override;
  int perform(void* data) override;
  virtual int perform();
  Block* getBlock() const { return block; }

 protected:
  Block* block;
};

// ---------------------------------------------------------------- frames

// One data buffer and its header, from an output pin's pool. A frame handed
// to a consume handler stays valid until the handler returns; hold() keeps it
// longer, until a matching release().
class DataFrame {
 public:
  DataBuf* getData() const { return _data; }
  dmessage_t* getHeader() { return &_header; }
  void hold() { _refs.fetch_add(1); }
  // Drops one reference; the last one returns the frame to its pool.
  void release();

 private:
  friend class FramePool;
  friend class DataPin;
  DataFrame() = default;
  ~DataFrame();
  DataBuf* _data = nullptr;
  dmessage_t _header{};
  std::atomic<int> _refs{0};
  FramePool* _pool = nullptr;
  DataFrame* _next = nullptr;  // pool free list
};

// ---------------------------------------------------------------- wires

// A connection from an output pin to an input pin with its bounded queue.
// Made by BlockManager::connectPins and taken out of the graph by
// disconnectPins; a consumer that is handling one of its frames keeps it
// alive until it is done (getSource() is only meaningful while connected).
// The counts are readable from any thread.
class Wire {
 public:
  DataPin* getSource() const { return _source; }
  DataPin* getDestination() const { return _destination; }
  unsigned getDepth() const { return _depth; }
  // Frames queued for the consumer, dropped because the queue was full, and
  // waiting now.
  unsigned getDelivered() const { return _delivered.load(); }
  unsigned getDropped() const { return _dropped.load(); }
  int getQueued();

 private:
  friend class BlockManager;
  friend class DataPin;
  friend class Block;
  Wire(DataPin* source, DataPin* destination, unsigned depth);
  ~Wire();
  // Producer side (under the source pin's lock): 0 queued, -1 full.
  int _offer(DataFrame* f);
  // Consumer side (consumer's thread): the next frame or null.
  DataFrame* _take();
  // True when the queue has room; otherwise asks the consumer to wake the
  // producer when it takes the next frame.
  bool _roomOrWatch();
  void _drain();
  void _ref();
  // Drops a reference; the last one drains the queue and deletes the wire.
  void _unref();

  DataPin* _source;
  DataPin* _destination;
  unsigned _depth;
  SharedQueue* _queue;  // DataFrame* records
  std::atomic<unsigned> _delivered{0};
  std::atomic<unsigned> _dropped{0};
  std::atomic<bool> _producerWaiting{false};
  std::atomic<unsigned> _queued{0};
  std::atomic<int> _refs{1};    // the graph's, plus consumers at work
  Painter* _painter = nullptr;  // the source pin's, under the painter lock
};

// ---------------------------------------------------------------- pins

// An input or output pin of a block. Its short name is unique among the
// block's pins of the same direction; its qualified name "<block>.<pin>"
// names it in the whole graph (pin names never contain a dot).
class DataPin {
 public:
  enum Direction { INPUT = 1, OUTPUT = 2 };
  enum { NAME_SIZE = 64 };

  char* getName() { return _name; }
  char* getQualifiedName() { return _qualified->getData(); }
  Block* getBlock() const { return _block; }
  int getDirection() const { return _direction; }
  bool isInput() const { return _direction == INPUT; }
  bool isOutput() const { return _direction == OUTPUT; }

  // The pin's wires keyed by the other pin's qualified name (with its NUL),
  // values Wire* (pointer entries). Walk with the Hash forms under
  // getWireTable()->getMutex().
  SharedHash* getWireTable() { return _wires; }
  unsigned getWireCount();
  // True while the pin is connected to anything.
  bool isConnected() { return getWireCount() > 0; }

  // Output pins, on the producing block's thread (or one thread at a time).
  // A frame from the pool with room for `size` bytes (its DataBuf is grown
  // if needed, its header zeroed). Null when no wire is connected, when no
  // wire has room (counted as a drop), or when the pool is empty (counted).
  DataFrame* getFrame(unsigned size);
  // Queues the frame on every wire with room and gives up the caller's
  // reference. Sets the header's sequence, length and send time. 0 when at
  // least one wire took it, 1 when no wire is connected, -1 when every wire
  // was full (the frame is dropped and counted on the wires).
  int sendFrame(DataFrame* frame);
  // Copying form: getFrame(len), copy of `len` bytes and of `header` (null:
  // zeros), sendFrame. The results of sendFrame; -1 also when getFrame gave
  // nothing.
  int send(const char* data, unsigned len, const dmessage_t* header);
  // Gives back a frame from getFrame unsent.
  void releaseFrame(DataFrame* frame);
  // True when every wire of this (output) pin has room now.
  bool canSend();

  // Counters: frames sent (queued on at least one wire), frames not sent
  // (no room or no buffer), frames received and discarded (input pins).
  unsigned getSent() const { return _sent.load(); }
  unsigned getDropped() const { return _dropped.load(); }
  unsigned getReceived() const { return _received.load(); }
  unsigned getDiscarded() const { return _discarded.load(); }

  // The painter bound with BlockManager::attachPainterToPin, or null.
  // Informative only: painting goes through Block::paint(), which holds the
  // painter safely while it draws.
  Painter* getPainter() const { return _painter; }

 private:
  friend class Block;
  friend class BlockManager;
  friend class Wire;
  DataPin(Block* block, const char* name, int direction);
  ~DataPin();
  void _addWire(Wire* w);
  void _removeWire(Wire* w);
  // Frames the pool should hold for the wires connected now.
  void _sizePool();

  Block* _block;
  char _name[NAME_SIZE];
  DataBuf* _qualified;
  int _direction;
  SharedHash* _wires;
  Mutex _sendLock;              // the outgoing wire list below, sends
  std::vector<Wire*> _out;      // output pins: the wires fed
  FramePool* _pool;             // output pins
  uint32_t _sequence;           // output pins, under _sendLock
  Painter* _painter;            // guarded by the manager's painter lock
  std::atomic<unsigned> _wireCount{0};
  std::atomic<unsigned> _sent{0};
  std::atomic<unsigned> _dropped{0};
  std::atomic<unsigned> _received{0};
  std::atomic<unsigned> _discarded{0};
};

// ---------------------------------------------------------------- events

// The block's event outlet: the BlockAdapters connected to it (with
// BlockAdapter::connect) receive a copy of each message.
class ControlPin {
 public:
  // With no receiver prints "unconnected" and returns -1. Otherwise stamps
  // the message with the pin's serial counter (word 8), increments it, and
  // for each receiver prints "ControlPin::trySendMessage(): -> <name>" and
  // puts a copy into the receiver's queue at priority 0 without waiting (a
  // full queue misses the message). Returns 0.
  inline int trySendMessage(cmessage_t* message);

  unsigned getReceiverCount();
  unsigned getSerial();

  // The process-wide mutex that guards every link between blocks and their
  // receivers and status listeners.
  static Mutex* linkMutex();

 private:
  friend class Block;
  friend class BlockAdapter;
  std::vector<BlockAdapter*> _receivers;  // under linkMutex()
  uint32_t _serial = 0;                   // under linkMutex()
};

// ---------------------------------------------------------------- commands

// The block's command queue: a PriorityQueue of request_t whose puts wake the
// block's loop. Use it through a CommandQueue pointer (getCommandQueue()).
class CommandQueue : public PriorityQueue {
 public:
  CommandQueue(Block* block, int capacity, int levels, int urgentCapacity);
  int put(const char* data, unsigned len) override;
  int tryPut(const char* data, unsigned len) override;
  int put(const char* data, unsigned len, int priority);
  int tryPut(const char* data, unsigned len, int priority);

 private:
  Block* _block;
};

// ---------------------------------------------------------------- the block

class Block : public IOMonitor, public Thread {
 public:
  // Run status values (getStatusString names them).
  enum {
    STATUS_IDLE = 0,
    STATUS_RUNNING = 1,
    STATUS_STOPPED = 2,
    STATUS_PAUSED = 3,
    STATUS_READY = 4,
    STATUS_QUIT = 5
  };
  // Word codes.
  enum {
    WORD_RESET = 0,
    WORD_START = 1,
    WORD_STOP = 2,
    WORD_PAUSE = 3,
    WORD_RESUME = 4,
    WORD_STATUS = 5,
    WORD_SAVE = 6,
    WORD_LOAD = 7,
    WORD_QUIT = 8,
    WORD_USER1 = 9,
    WORD_USER2 = 10,
    WORD_KILL = 11,
    WORD_FIRST_OWN = 12,
    MAX_WORDS = 64
  };
  // Request codes beyond the words.
  enum { REQUEST_SCRIPT = 0x10000 };
  // Action handler codes.
  enum { ACTION_PRODUCE = 0, ACTION_CONSUME = 1, MAX_ACTIONS = 8 };
  // Block type codes (Plugin::provides), named by getTypeString().
  enum {
    TYPE_SOURCE = 0,
    TYPE_FILTER = 1,
    TYPE_CONTROL = 2,
    TYPE_SINK = 3,
    TYPE_TRANSPORT = 4,
    TYPE_GENERIC = 5
  };
  enum { NAME_SIZE = 64 };

  // "Source", "Filter", "Control", "Sink", "Transport", "Generic", else
  // "Unknown". The letter of each starts the generated instance names
  // (S, F, C, K, T, G; others B).
  static const char* getTypeString(int type);
  static char getTypeLetter(int type);

  // -------- identity and tables
  char* getName() { return _name; }
  Plugin* getPlugin() const { return _plugin; }
  BlockManager* getManager() const { return _manager; }
  // The block's properties (64 buckets); storage file "<type>.properties".
  ConfigTable* getProperties() { return _properties; }
  // Pin tables keyed by short pin name (with NUL), values DataPin*.
  SharedHash* getInputPins() { return _inputs; }
  SharedHash* getOutputPins() { return _outputs; }
  DataPin* getInputPin(const char* name);
  DataPin* getOutputPin(const char* name);
  // Pins in creation order (copied under the pin lock).
  std::vector<DataPin*> listPins(int direction);
  ControlPin* getControlPin() { return &_control; }

  // Shared values read and written under their own locks: the run status,
  // the clock (see above), the info text shown under the block's name, and
  // the block's error text.
  SharedInt* getStatus() { return &_status; }
  int getRunStatus() { return _status.get(); }
  SharedInt* getClock() { return &_clock; }
  SharedString* getInfo() { return &_info; }
  SharedString* getError() { return &_error; }
  char* getErrorString() override { return _error.get(); }
  // The name of a run status value: "idle", "running", "stopped",
  // "paused", "ready", "quit", else "unknown".
  const char* getStatusString(int status);

  // Position in a graph drawing (stored with the graph).
  void getPosition(short* x, short* y);
  void setPosition(short x, short y);

  // -------- set-up (the plug-in's set-up entry, or the block's own thread)
  // A new pin: 0; 10 when the name is taken; -1 for an empty name, a name
  // with a dot or blank, one of NAME_SIZE characters or more.
  int addInputPin(const char* name);
  int addOutputPin(const char* name);
  // Disconnects the pin and takes it out of its table; the object lives on
  // until the block is deleted (callers may still hold it). 0 or -1.
  int removePin(const char* name, int direction);

  // The interpreter whose commands receive this block as their data
  // argument; made on the first call, the same one afterwards. Null when it
  // cannot be made.
  Interp* enableScriptEngine(unsigned buckets, int maxArgs, short argSize);
  Interp* getInterp() { return _interp; }
  // Device dispatch of the block's loop (off at creation): plug-ins that
  // attach sockets switch it on. Before the thread starts or on its thread.
  void enableMonitor(bool on);
  bool isMonitorEnabled();

  // Handlers for a word code (0 .. MAX_WORDS-1) or an action code (0 ..
  // MAX_ACTIONS-1). 0; -1 for a null handler, a code out of range or a code
  // that has a handler already (the handler then stays the caller's).
  int attachEventHandler(int code, BlockHandler* handler);
  int attachActionHandler(int code, BlockHandler* handler);
  // Registers a word of the block's own with its handler (which may be
  // null): its code (12 and up), or -1 (full, empty or taken name).
  int addWord(const char* word, BlockHandler* handler);
  // The words indexed by code; the array and texts are the block's.
  char** getCommandStrings(unsigned* count);
  // The code of a word, or -1.
  int findWord(const char* word);

  // -------- requests
  // The queue (request_t records) and the serial numbers that stamp them.
  CommandQueue* getCommandQueue() { return _commands; }
  uint32_t nextSerial() { return _serial.fetch_add(1) + 1; }
  // Queues a word without waiting: 0, or -1 (unknown code, queue full, block
  // finished). The status goes to `listener` when given.
  int postWord(int code, StatusListener* listener, uint32_t* serial = nullptr);
  // Hands newline-ended command lines to the interpreter on the block's
  // thread (a last line without its newline runs too). 0 when queued; -1
  // when refused: no interpreter, null text, queue full, block finished.
  // The status record carries the result of the last line.
  int sendCommandScript(const char* text);
  int sendCommandScript(const char* text, StatusListener* listener, uint32_t* serial = nullptr);

  // -------- events
  // Posts an event through the control pin (code, params lent); the result
  // of trySendMessage.
  int postEvent(uint32_t code, ConfigTable* params, void* data = nullptr);

  // -------- data, for handlers on the block's thread
  // During a consume handler: the input pin, wire and frame that arrived
  // (null outside).
  DataPin* getCurrentInput() { return _currentInput; }
  Wire* getCurrentWire() { return _currentWire; }
  DataFrame* getCurrentFrame() { return _currentFrame; }
  // Hands the current frame to the painter bound to the pin that sent it,
  // else to the painter bound to the input pin: the painter's setData result,
  // or -1 when there is no frame or no painter. The painter cannot be
  // unregistered while it draws.
  int paint();

  // -------- reporting
  // A text with the block's name, type, status, pins and info; the text
  // stays the block's until the next call.
  char* toString();
  // True once the block's thread has left its loop.
  bool isFinished() const { return _finished.load(); }

  void run() override;
  void onPreSelect() override;

 private:
  friend class BlockManager;
  friend class CommandQueue;
  friend class DataPin;
  friend class DefaultStatusListener;
  friend class BlockAdapter;
  friend class Wire;

  // Made by the manager only. Throws LibError("Block()", ...).
  Block(BlockManager* manager, Plugin* plugin, const char* name, uint64_t id);
  ~Block() override;

  void _wake();
  void _release();
  // Every connected output pin has room on all its wires (and one is
  // connected); *connected tells whether any is.
  bool _outputsReady(bool* connected = nullptr);
  // Each true when it stopped with work left.
  bool _serveRequests();
  bool _serveData();
  bool _serveClock();
  bool _workWaiting();
  void _handle(const request_t& r);
  int _word(int code);
  int _runScript(const char* text);
  int _action(int code);
  void _notify(StatusListener* l, const request_t& r, int result);
  int _addPin(const char* name, int direction);
  void _addInputWire(Wire* w);
  void _removeInputWire(Wire* w);
  // Ends the loop from the block's own thread.
  void _finish();
  // Waits up to ms for the thread to leave run(): true when it did.
  bool _waitFinished(unsigned ms);

  BlockManager* _manager;
  Plugin* _plugin;
  uint64_t _id;
  char _name[NAME_SIZE];
  ConfigTable* _properties;
  SharedHash* _inputs;
  SharedHash* _outputs;
  Mutex _pinLock;                    // pin lists below, word table
  std::vector<DataPin*> _pinOrder;   // every pin ever made, creation order
  ControlPin _control;
  SharedInt _status;
  SharedInt _clock;
  SharedString _info;
  SharedString _error;
  DataBuf* _text;                    // toString()
  CommandQueue* _commands;
  std::atomic<uint32_t> _serial{0};
  Interp* _interp;
  BlockHandler* _events[MAX_WORDS];
  BlockHandler* _actions[MAX_ACTIONS];
  char* _words[MAX_WORDS];
  unsigned _wordCount;
  std::vector<StatusListener*> _listeners;  // under ControlPin::linkMutex()
  Mutex _wireLock;                   // the input wire list
  std::vector<Wire*> _in;
  std::vector<std::pair<Wire*, DataFrame*>> _batch;  // block's thread
  std::atomic<bool> _wakePending{false};
  std::atomic<bool> _finished{false};
  std::atomic<bool> _stuck{false};
  Semaphore* _done;
  short _x, _y;
  std::atomic<bool> _monitor{false};
  bool _started;       // the manager posted the start semaphore
  bool _finishedSeen;  // _done was taken
  bool _destroying;    // under the manager's graph lock
  // Clock state (block's thread).
  bool _clockArmed;
  bool _clockOwnsTimeout;
  long long _nextTick;  // microseconds, monotonic
  // Consume context (block's thread).
  DataPin* _currentInput;
  Wire* _currentWire;
  DataFrame* _currentFrame;
};

}  // namespace MorvaneLib

#include "framework/BlockAdapter.h"

namespace MorvaneLib {

inline int ControlPin::trySendMessage(cmessage_t* message) {
  MutexLock l(*linkMutex());
  if (_receivers.empty()) {
    MTRACE("unconnected\n");
    return -1;
  }
  message->serial = _serial++;
  for (BlockAdapter* r : _receivers) {
    MTRACE("ControlPin::trySendMessage(): -> %s\n", r->getName());
    r->getQueue()->tryPut(reinterpret_cast<const char*>(message), sizeof(cmessage_t), 0);
  }
  return 0;
}

}  // namespace MorvaneLib

#endif
