// Entity consumers and producers: where message bodies go to and come from,
// and the memory-buffer pair BufferEC / BufferEP.
//
// A consumer returns the bytes it accepted, or -1 to refuse or to say that it
// wants no more; a call with size 0 means end of stream. A producer returns the
// bytes it placed in the buffer, 0 or -1 once the entity is finished.
// Connections borrow consumers and producers: they never delete them.
#ifndef MOSAL_ENTITY_H
#define MOSAL_ENTITY_H

#include "mosal/DataBuf.h"
#include "mosal/SharedValues.h"
#include "mosal_posix/Mutex.h"

namespace MorvaneLib {

class TextMessage;

class EntityConsumer {
 public:
  virtual ~EntityConsumer() = default;
  // The base refuses everything.
  virtual int consume(TextMessage* message, char* data, unsigned size, void* context);
};

class EntityProducer {
 public:
  virtual ~EntityProducer() = default;
  // The base has nothing to give.
  virtual int produce(TextMessage* message, char* buffer, unsigned max, void* context);
};

// Collects an entity in memory, up to the buffer's limit. Another thread may
// read it: it appends under its own mutex (lock() around reading the data) and
// publishes the end of stream through isFinished().
class BufferEC : public DataBuf, public EntityConsumer, public Mutex {
 public:
  BufferEC(unsigned size, unsigned limit);
  // Appends n bytes if they fit below the limit (n), else refuses (-1);
  // n = 0 marks the end of stream and returns -1.
  int consume(TextMessage* message, char* data, unsigned n, void* context) override;
  bool isFinished() { return finished.get() != 0; }
  // Empties the buffer and clears the finished flag (for the next entity).
  void clear();

  using DataBuf::getErrorCode;
  using DataBuf::getErrorString;

 private:
  SharedInt finished;
};

// Hands out a copy of bytes given at construction, in chunks.
class BufferEP : public DataBuf, public EntityProducer {
 public:
  // The buffer's limit is raised to n, so every byte is kept.
  BufferEP(const char* data, unsigned n);
  // Copies min(max, remaining) bytes from the offset; 0 once everything is out.
  int produce(TextMessage* message, char* buffer, unsigned max, void* context) override;
  // Starts over from the first byte.
  void rewind();
  unsigned getRemaining() const { return remaining; }

 private:
  unsigned remaining;
  unsigned offset;
};

}  // namespace MorvaneLib

#endif
