// BlockAdapter: the application's mailbox for block events.
#include "framework/BlockAdapter.h"

#include <algorithm>

#include "framework/Block.h"

namespace MorvaneLib {

BlockAdapter::BlockAdapter(const char* name, unsigned size, unsigned levels, int depth)
    : _name(nullptr), _size(size), _queue(nullptr) {
  if (size < sizeof(cmessage_t))
    throw LibError("BlockAdapter()", "Record size %u below the message size %u", size,
                   static_cast<unsigned>(sizeof(cmessage_t)));
  if (levels < 1 || levels > 64) throw LibError("BlockAdapter()", "Invalid level count %u", levels);
  if (depth < 1) throw LibError("BlockAdapter()", "Invalid depth %d", depth);
  _name = new DataBuf(name != nullptr ? name : "");
  try {
    // Every level holds `depth` messages: blocks post at level 0.
    _queue = new PriorityQueue(size, depth * static_cast<int>(levels), static_cast<int>(levels),
                               depth);
  } catch (...) {
    delete _name;
    throw;
  }
}

BlockAdapter::~BlockAdapter() {
  {
    MutexLock l(*ControlPin::linkMutex());
    for (Block* b : _blocks) {
      auto& v = b->_control._receivers;
      v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
    _blocks.clear();
  }
  delete _queue;
  delete _name;
}

int BlockAdapter::connect(Block* block) {
  if (block == nullptr) return -1;
  MutexLock l(*ControlPin::linkMutex());
  if (std::find(_blocks.begin(), _blocks.end(), block) != _blocks.end()) return 10;
  _blocks.push_back(block);
  block->_control._receivers.push_back(this);
  return 0;
}

int BlockAdapter::disconnect(Block* block) {
  MutexLock l(*ControlPin::linkMutex());
  auto it = std::find(_blocks.begin(), _blocks.end(), block);
  if (it == _blocks.end()) return -1;
  _blocks.erase(it);
  auto& v = block->_control._receivers;
  v.erase(std::remove(v.begin(), v.end(), this), v.end());
  return 0;
}

int BlockAdapter::tryRecvMessage(cmessage_t* message) {
  if (message == nullptr) return -1;
  return _queue->tryGet(reinterpret_cast<char*>(message), sizeof(cmessage_t));
}

int BlockAdapter::recvMessage(cmessage_t* message) {
  if (message == nullptr) return -1;
  return _queue->get(reinterpret_cast<char*>(message), sizeof(cmessage_t));
}

int BlockAdapter::recvMessage(cmessage_t* message, unsigned ms) {
  if (message == nullptr) return -1;
  return _queue->timedGet(reinterpret_cast<char*>(message), sizeof(cmessage_t), ms);
}

}  // namespace MorvaneLib
