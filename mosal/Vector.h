// Vector: a growable array of fixed-size elements, and Comparator, the
// ordering that its users supply.
//
// Elements are copied into the vector's own block; pointers to elements stay
// valid until the vector grows or elements are removed. Not thread-safe.
#ifndef MOSAL_VECTOR_H
#define MOSAL_VECTOR_H

#include <cstddef>

#include "mosal/Enumeration.h"
#include "mosal/Error.h"

namespace MorvaneLib {

class Comparator {
 public:
  virtual ~Comparator() = default;
  // Negative, zero or positive for a less than, equal to, greater than b.
  virtual int compare(const char* a, const char* b) = 0;
};

class Vector {
 public:
  // Allocates and zeroes capacity x elementSize bytes. Throws
  // LibError("Vector()", "Out of memory"), or "Element size 0".
  Vector(unsigned elementSize, unsigned capacity, unsigned short growBy);
  ~Vector();
  Vector(const Vector&) = delete;
  Vector& operator=(const Vector&) = delete;

  // Copies min(n, element size) bytes into the next slot (the rest of the
  // slot keeps its earlier bytes, zero in a fresh slot). A full vector grows
  // by exactly the growth increment. The new index, or -1 when growing fails.
  // A sorted vector with a comparator is sorted again afterwards.
  int addElement(const char* src, unsigned n);
  // Splits text (see Utils::splitText) and adds every piece as a
  // NUL-terminated string, cut to element size - 1 characters. 0, or -1.
  int addElements(const char* text, const char* delimiters, bool trim);
  // Copies min(n, element size) bytes into slot index (below the capacity);
  // the count does not change. 0 or -1.
  int setElement(unsigned index, const char* src, unsigned n);
  // Removes the first element that cmp finds equal to key (with a null
  // comparator, the first element) and shifts the rest down. 0, or -1.
  int removeElement(const char* key, unsigned n, Comparator* cmp);
  // Quicksort with cmp, which is remembered (not owned). 0, or -1 for a null
  // comparator or an empty vector.
  int sort(Comparator* cmp);
  // Position of the first element whose first min(n, element size) bytes
  // equal the key's. 0, or -1 when the vector is empty or nothing matches.
  int scan(const char* key, unsigned n, unsigned* position);
  // The element found by scan, or null.
  char* search(const char* key, unsigned n);
  // A new listing of (slot, element size) per element, owned by the vector
  // and replaced by the next call.
  Enumeration* elements();

  unsigned size() const { return count; }
  unsigned getCount() const { return count; }
  unsigned getCapacity() const { return capacity; }
  unsigned getElementSize() const { return elementSize; }
  bool isSorted() const { return sorted != 0; }
  // Element i, or null at or beyond the count.
  char* elementAt(unsigned i) const { return i < count ? _slot(i) : nullptr; }

 private:
  char* _slot(unsigned i) const { return data + static_cast<size_t>(i) * elementSize; }
  bool _grow();
  void _quicksort(long low, long high, char* pivot, char* tmp);
  static int _addPiece(void* self, const char* piece, unsigned n);

  char* data;
  unsigned elementSize;
  unsigned count;
  unsigned capacity;
  unsigned short growBy;
  unsigned char sorted;
  Enumeration* elementList;
  Comparator* comparator;
};

}  // namespace MorvaneLib

#endif
