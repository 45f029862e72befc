// DataBuf: exact growth up to a limit, lazy allocation and its trace lines.
#include "mosal/DataBuf.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mosal/Trace.h"

namespace MorvaneLib {

DataBuf::DataBuf(unsigned sz, unsigned ident, unsigned lim, AllocStrategy strat)
    : id(ident), data(nullptr), size(0), length(0), limit(lim < sz ? sz : lim), strategy(strat) {
  if (strategy == ALLOC_ONCREATE) {
    data = static_cast<char*>(std::malloc(sz ? sz : 1));
    if (data == nullptr) throw LibError("DataBuf()", "Out of memory");
    size = sz;
  } else {
    MTRACE("DataBuf(): delaying allocation\n");
  }
  traceCreated();
}

DataBuf::DataBuf(const char* text)
    : id(0), data(nullptr), size(0), length(0), limit(65536), strategy(ALLOC_ONCREATE) {
  if (text == nullptr) text = "";
  unsigned n = static_cast<unsigned>(std::strlen(text)) + 1;
  data = static_cast<char*>(std::malloc(n));
  if (data == nullptr) throw LibError("DataBuf()", "Out of memory");
  std::memcpy(data, text, n);
  size = length = n;
  if (limit < size) limit = size;
  traceCreated();
}

DataBuf::~DataBuf() {
  MTRACE("~DataBuf(): [%u] [%p] sz[%u]\n", id, static_cast<void*>(data), size);
  std::free(data);
}

void DataBuf::traceCreated() {
  MTRACE("DataBuf(): [%u] [%p] sz[%u] L[%u] %s\n", id, static_cast<void*>(data), size, limit,
         strategy == ALLOC_ONCREATE ? "ALLOC_ONCREATE" : "ALLOC_ONUSE");
}

bool DataBuf::allocateNow(const char* op, unsigned n) {
  MTRACE("DataBuf::%s(): allocating now %u bytes\n", op, n);
  data = static_cast<char*>(std::malloc(n ? n : 1));
  if (data == nullptr) return false;
  size = n;
  return true;
}

bool DataBuf::resize(unsigned n) {
  char* p = static_cast<char*>(std::realloc(data, n ? n : 1));
  if (p == nullptr) return false;
  data = p;
  size = n;
  if (length > size) length = size;
  return true;
}

void DataBuf::copy(const char* src, unsigned n) {
  if (data == nullptr && !allocateNow("copy", n)) return;
  unsigned count = n < size ? n : size;
  if (count == 0) return;
  std::memmove(data, src, count);
  length = count;
}

int DataBuf::xcopy(const char* src, unsigned n) {
  if (data == nullptr && !allocateNow("xcopy", n)) return -1;
  if (n > size) {
    unsigned target = n < limit ? n : limit;
    if (target > size) {
      MTRACE("DataBuf::xcopy(): realloc %u -> %u\n", size, target);
      if (!resize(target)) return -1;
      MTRACE("DataBuf::xcopy(): [%u] [%p] sz[%u]\n", id, static_cast<void*>(data), size);
    }
  }
  unsigned count = n < size ? n : size;
  if (count > 0) std::memmove(data, src, count);
  length = count;
  return 0;
}

int DataBuf::merge(const char* src, unsigned n) {
  if (data == nullptr && !allocateNow("merge", n)) return -1;
  // 64-bit sum: length + n must not wrap around to a small request.
  unsigned long long want = static_cast<unsigned long long>(length) + n;
  if (want > size) {
    unsigned target = want < limit ? static_cast<unsigned>(want) : limit;
    if (target > size) {
      MTRACE("DataBuf::merge(): realloc %u -> (req=%u) %u\n", size, static_cast<unsigned>(want),
             target);
      if (!resize(target)) return -1;
      MTRACE("DataBuf::merge(): [%u] [%p] sz[%u]\n", id, static_cast<void*>(data), size);
    }
  }
  unsigned room = size - length;
  unsigned count = n < room ? n : room;
  if (count > 0) std::memmove(data + length, src, count);
  length += count;
  return 0;
}

int DataBuf::realloc(unsigned n) {
  if (data == nullptr) return allocateNow("realloc", n) ? 0 : -1;
  if (n == size) return 0;
  unsigned target = n < limit ? n : limit;
  if (target == size) return 0;
  MTRACE("DataBuf::realloc(): %u -> %u\n", size, target);
  return resize(target) ? 0 : -1;
}

void DataBuf::printHex() {
  for (unsigned i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (std::isprint(c))
      std::printf("  %c ", c);
    else
      std::printf("%02X ", c);
  }
}

}  // namespace MorvaneLib
