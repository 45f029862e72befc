// Enumeration: the listing of (pointer, length) pairs that containers hand out.
//
// A container owns the Enumeration it returns and rebuilds it on request; the
// pointers in it belong to the container. Not thread-safe.
#ifndef MOSAL_ENUMERATION_H
#define MOSAL_ENUMERATION_H

namespace MorvaneLib {

// One listed item: a pointer into the container and its length in bytes.
struct enum_elem_t {
  char* data;
  unsigned length;
};

class Enumeration {
 public:
  // Allocates and zeroes `capacity` pairs (no array when 0); count and cursor 0.
  explicit Enumeration(unsigned capacity);
  ~Enumeration();
  Enumeration(const Enumeration&) = delete;
  Enumeration& operator=(const Enumeration&) = delete;

  bool hasMoreElements() const { return cursor < count; }
  // The pair at the cursor, which then advances; null past the last pair.
  enum_elem_t* nextElement() { return cursor < count ? &entries[cursor++] : nullptr; }
  void rewind() { cursor = 0; }

  unsigned getCount() const { return count; }
  unsigned getCapacity() const { return capacity; }
  // Pair i (i below getCount()), without moving the cursor; null otherwise.
  enum_elem_t* elementAt(unsigned i) { return i < count ? &entries[i] : nullptr; }

  // Used by the containers that fill the listing.
  // Drops every pair and rewinds; the array is kept.
  void clear();
  // Appends a pair; when full the array grows to capacity + capacity/4 (at
  // least by 4 pairs). 0, or -1 when growing fails (the pair is not added).
  int add(char* data, unsigned length);

 private:
  enum_elem_t* entries;
  unsigned count;
  unsigned capacity;
  unsigned cursor;
};

}  // namespace MorvaneLib

#endif
