// BlockAdapter: a named mailbox through which an application receives the
// event messages (cmessage_t) that blocks post on their control pins.
//
// The adapter's queue is a PriorityQueue of `levels` priority levels, each
// holding `depth` records of `size` bytes (at least sizeof(cmessage_t)), with
// an urgent lane of `depth` more. Blocks put messages at priority 0 without
// waiting: when the queue is full a message is lost.
//
// Links: connect(block) makes the adapter one of the block's receivers; an
// adapter may listen to several blocks and a block may feed several
// adapters. Destroying either side removes the link, so neither ever
// touches the other after it is gone. The adapter does not own the blocks.
#ifndef MORVANE_BLOCKADAPTER_H
#define MORVANE_BLOCKADAPTER_H

#include <vector>

#include "mosal/DataBuf.h"
#include "mosal/Queue.h"

namespace MorvaneLib {

class Block;
struct cmessage_t;

class BlockAdapter {
 public:
  // Throws LibError("BlockAdapter()", ...) for a size below
  // sizeof(cmessage_t), no levels, a depth below 1, or when the queue cannot
  // be made.
  BlockAdapter(const char* name, unsigned size, unsigned levels, int depth);
  ~BlockAdapter();
  BlockAdapter(const BlockAdapter&) = delete;
  BlockAdapter& operator=(const BlockAdapter&) = delete;

  // Becomes a receiver of the block's events: 0; 10 when connected already;
  // -1 for a null block.
  int connect(Block* block);
  // 0, or -1 when not connected to that block.
  int disconnect(Block* block);

  // 0 with a message, -1 at once when none is waiting.
  int tryRecvMessage(cmessage_t* message);
  // Waits for a message: 0, or -1 on failure.
  int recvMessage(cmessage_t* message);
  // Waits at most `ms` milliseconds: 0, or -1 on time-out.
  int recvMessage(cmessage_t* message, unsigned ms);

  char* getName() { return _name->getData(); }
  PriorityQueue* getQueue() { return _queue; }
  unsigned getRecordSize() const { return _size; }

 private:
  friend class Block;
  DataBuf* _name;
  unsigned _size;
  PriorityQueue* _queue;
  std::vector<Block*> _blocks;   // under ControlPin::linkMutex()
};

}  // namespace MorvaneLib

#endif
