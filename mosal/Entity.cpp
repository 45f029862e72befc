// BufferEC and BufferEP: the memory-buffer entity consumer and producer.
#include "mosal/Entity.h"

#include <cstring>

#include "mosal/Trace.h"

namespace MorvaneLib {

int EntityConsumer::consume(TextMessage*, char*, unsigned, void*) { return -1; }

int EntityProducer::produce(TextMessage*, char*, unsigned, void*) { return -1; }

BufferEC::BufferEC(unsigned size, unsigned limit) : DataBuf(size, 0, limit, ALLOC_ONCREATE) {}

int BufferEC::consume(TextMessage*, char* data, unsigned n, void*) {
  MutexLock guard(*this);
  if (n == 0) {
    finished.set(1);
    return -1;
  }
  if (data == nullptr || static_cast<unsigned long long>(getLength()) + n > getLimit()) return -1;
  if (merge(data, n) != 0) return -1;
  MTRACE("BufferEC: ******* bytes consumed: %u\n", getLength());
  return static_cast<int>(n);
}

void BufferEC::clear() {
  MutexLock guard(*this);
  setLength(0);
  finished.set(0);
}

BufferEP::BufferEP(const char* data, unsigned n)
    : DataBuf(n, 0, n, ALLOC_ONCREATE), remaining(0), offset(0) {
  if (data != nullptr && n > 0) {
    copy(data, n);
    remaining = n;
  }
}

int BufferEP::produce(TextMessage*, char* buffer, unsigned max, void*) {
  unsigned n = remaining < max ? remaining : max;
  if (n == 0) return 0;
  std::memcpy(buffer, getData() + offset, n);
  offset += n;
  remaining -= n;
  return static_cast<int>(n);
}

void BufferEP::rewind() {
  offset = 0;
  remaining = getLength();
}

}  // namespace MorvaneLib
