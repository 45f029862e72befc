// Vector: growth by a fixed increment, quicksort with its trace lines,
// removal, linear search and the element listing.
#include "mosal/Vector.h"

#include <cstdlib>
#include <cstring>

#include "mosal/Trace.h"
#include "mosal/Utils.h"

namespace MorvaneLib {

Vector::Vector(unsigned size, unsigned cap, unsigned short grow)
    : data(nullptr), elementSize(size), count(0), capacity(cap), growBy(grow), sorted(0),
      elementList(nullptr), comparator(nullptr) {
  if (size == 0) throw LibError("Vector()", "Element size 0");
  size_t bytes = static_cast<size_t>(size) * cap;
  data = static_cast<char*>(std::calloc(bytes ? bytes : 1, 1));
  if (data == nullptr) throw LibError("Vector()", "Out of memory");
}

Vector::~Vector() {
  std::free(data);
  delete elementList;
}

bool Vector::_grow() {
  unsigned grown = capacity + growBy;
  if (growBy == 0 || grown < capacity) return false;
  size_t oldBytes = static_cast<size_t>(capacity) * elementSize;
  size_t bytes = static_cast<size_t>(grown) * elementSize;
  char* p = static_cast<char*>(std::realloc(data, bytes));
  if (p == nullptr) return false;
  // New slots start zeroed, like those allocated at construction.
  std::memset(p + oldBytes, 0, bytes - oldBytes);
  data = p;
  capacity = grown;
  return true;
}

int Vector::addElement(const char* src, unsigned n) {
  if (src == nullptr && n > 0) return -1;
  if (count == capacity && !_grow()) return -1;
  unsigned k = n < elementSize ? n : elementSize;
  if (k > 0) std::memcpy(_slot(count), src, k);
  int index = static_cast<int>(count++);
  if (sorted && comparator != nullptr) sort(comparator);
  return index;
}

int Vector::_addPiece(void* self, const char* piece, unsigned n) {
  Vector* v = static_cast<Vector*>(self);
  // The element is always a terminated string, however long the piece.
  unsigned k = n < v->elementSize - 1 ? n : v->elementSize - 1;
  if (v->count == v->capacity && !v->_grow()) return -1;
  char* slot = v->_slot(v->count);
  if (k > 0) std::memcpy(slot, piece, k);
  slot[k] = '\0';
  v->count++;
  if (v->sorted && v->comparator != nullptr) v->sort(v->comparator);
  return 0;
}

int Vector::addElements(const char* text, const char* delimiters, bool trim) {
  return Utils::splitText(text, delimiters, trim, &Vector::_addPiece, this) == 0 ? 0 : -1;
}

int Vector::setElement(unsigned index, const char* src, unsigned n) {
  if (index >= capacity || (src == nullptr && n > 0)) return -1;
  unsigned k = n < elementSize ? n : elementSize;
  if (k > 0) std::memcpy(_slot(index), src, k);
  return 0;
}

int Vector::removeElement(const char* key, unsigned n, Comparator* cmp) {
  unsigned use = n < elementSize ? n : elementSize;
  MTRACE("Vector::removeElement(): Use size = %d\n", static_cast<int>(use));
  if (count == 0) return -1;
  for (unsigned i = 0; i < count; ++i) {
    if (cmp != nullptr && cmp->compare(_slot(i), key) != 0) continue;
    // The key is printed up to its NUL and never past its n bytes.
    MTRACE("Vector::removeElement(): found %.*s at pos %d\n",
           key != nullptr ? static_cast<int>(n) : 0, key != nullptr ? key : "",
           static_cast<int>(static_cast<size_t>(i) * elementSize));
    std::memmove(_slot(i), _slot(i + 1), static_cast<size_t>(count - i - 1) * elementSize);
    --count;
    return 0;
  }
  return -1;
}

void Vector::_quicksort(long low, long high, char* pivot, char* tmp) {
  // Partition around a copy of the middle element; the smaller side
  // recurses and the larger one loops, so the depth stays logarithmic.
  while (low < high) {
    std::memcpy(pivot, _slot(static_cast<unsigned>((low + high) / 2)), elementSize);
    long i = low, j = high;
    while (i <= j) {
      // The bounds only matter for a comparator that is not an ordering.
      while (i <= high && comparator->compare(_slot(static_cast<unsigned>(i)), pivot) < 0) ++i;
      while (j >= low && comparator->compare(pivot, _slot(static_cast<unsigned>(j))) < 0) --j;
      if (i <= j) {
        MTRACE("Vector::sort(): swapping...\n");
        if (i != j) {
          char* a = _slot(static_cast<unsigned>(i));
          char* b = _slot(static_cast<unsigned>(j));
          std::memcpy(tmp, a, elementSize);
          std::memcpy(a, b, elementSize);
          std::memcpy(b, tmp, elementSize);
        }
        ++i;
        --j;
      }
    }
    // With an ordering both sides always shrink; force it otherwise.
    if (j >= high) j = high - 1;
    if (i <= low) i = low + 1;
    if (j - low < high - i) {
      if (low < j) _quicksort(low, j, pivot, tmp);
      low = i;
    } else {
      if (i < high) _quicksort(i, high, pivot, tmp);
      high = j;
    }
  }
}

int Vector::sort(Comparator* cmp) {
  MTRACE("Vector::sort(): sorting vector...\n");
  if (cmp == nullptr) {
    MTRACE("Vector::sort() %d sort filter is null\n", -1);
    return -1;
  }
  if (count == 0) {
    MTRACE("Vector::sort() %d vector is empty\n", -1);
    return -1;
  }
  char* scratch = static_cast<char*>(std::malloc(static_cast<size_t>(elementSize) * 2));
  if (scratch == nullptr) return -1;
  comparator = cmp;
  _quicksort(0, static_cast<long>(count) - 1, scratch, scratch + elementSize);
  std::free(scratch);
  sorted = 1;
  return 0;
}

int Vector::scan(const char* key, unsigned n, unsigned* position) {
  unsigned use = n < elementSize ? n : elementSize;
  MTRACE("Vector::scan(): Use size = %d\n", static_cast<int>(use));
  if (count == 0 || (key == nullptr && use > 0)) return -1;
  for (unsigned i = 0; i < count; ++i) {
    if (use == 0 || std::memcmp(_slot(i), key, use) == 0) {
      if (position != nullptr) *position = i;
      return 0;
    }
  }
  return -1;
}

char* Vector::search(const char* key, unsigned n) {
  if (sorted) MTRACE("Vector::search(): Binary search not implemented\n");
  unsigned use = n < elementSize ? n : elementSize;
  MTRACE("Vector::search(): Use size = %d\n", static_cast<int>(use));
  unsigned pos = 0;
  return scan(key, n, &pos) == 0 ? _slot(pos) : nullptr;
}

Enumeration* Vector::elements() {
  delete elementList;
  elementList = new Enumeration(count);
  for (unsigned i = 0; i < count; ++i) elementList->add(_slot(i), elementSize);
  return elementList;
}

}  // namespace MorvaneLib
