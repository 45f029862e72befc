// DataBuf: the growable byte buffer used for strings and raw bytes everywhere.
//
// A buffer grows to exactly what an operation needs, never geometrically, and
// never beyond its limit: bytes past the limit are silently dropped. Not
// thread-safe; a buffer belongs to one thread or to an object that locks it.
#ifndef MOSAL_DATABUF_H
#define MOSAL_DATABUF_H

#include "mosal/Error.h"

namespace MorvaneLib {

enum AllocStrategy { ALLOC_ONCREATE = 1, ALLOC_ONUSE = 2 };

class DataBuf : public Error {
 public:
  // With ALLOC_ONCREATE allocates `size` bytes now, with ALLOC_ONUSE at the
  // first write. The limit is raised to `size` if smaller.
  // Throws LibError("DataBuf()", "Out of memory").
  DataBuf(unsigned size, unsigned id, unsigned limit, AllocStrategy strategy);
  // A copy of `text` with its NUL; limit 65536.
  explicit DataBuf(const char* text);
  ~DataBuf() override;

  DataBuf(const DataBuf&) = delete;
  DataBuf& operator=(const DataBuf&) = delete;

  // Truncating copy of min(n, size) bytes; a count of 0 changes nothing.
  void copy(const char* src, unsigned n);
  // Growing copy: grows to min(n, limit) first. 0, or -1 if the resize fails.
  int xcopy(const char* src, unsigned n);
  // Append, growing to min(length + n, limit); what does not fit is dropped.
  int merge(const char* src, unsigned n);
  // Resize to min(n, limit); the length is cut to the new size if needed.
  int realloc(unsigned n);
  // Used bytes on standard output: printable as "  %c ", others as "%02X ".
  void printHex();

  char* getData() const { return data; }
  unsigned getSize() const { return size; }
  unsigned getLength() const { return length; }
  unsigned getLimit() const { return limit; }
  unsigned getId() const { return id; }
  AllocStrategy getStrategy() const { return strategy; }
  void setLength(unsigned n) { length = n < size ? n : size; }

 private:
  // Lazy first allocation of exactly n bytes; false when it fails.
  bool allocateNow(const char* op, unsigned n);
  // Resize the block to n bytes (n already capped); false when it fails.
  bool resize(unsigned n);
  void traceCreated();

  unsigned id;
  char* data;
  unsigned size;
  unsigned length;
  unsigned limit;
  AllocStrategy strategy;
};

}  // namespace MorvaneLib

#endif
