// Enumeration: growth of the pair array and its reset between listings.
#include "mosal/Enumeration.h"

#include <cstdlib>

namespace MorvaneLib {

Enumeration::Enumeration(unsigned n) : entries(nullptr), count(0), capacity(0), cursor(0) {
  if (n > 0) {
    entries = static_cast<enum_elem_t*>(std::calloc(n, sizeof(enum_elem_t)));
    if (entries != nullptr) capacity = n;
  }
}

Enumeration::~Enumeration() { std::free(entries); }

void Enumeration::clear() {
  count = 0;
  cursor = 0;
}

int Enumeration::add(char* data, unsigned length) {
  if (count == capacity) {
    unsigned grown = capacity + capacity / 4;
    // A small array would never grow by a quarter of itself.
    if (grown < capacity + 4) grown = capacity + 4;
    if (grown < capacity) return -1;  // 32-bit wrap
    void* p = std::realloc(entries, static_cast<size_t>(grown) * sizeof(enum_elem_t));
    if (p == nullptr) return -1;
    entries = static_cast<enum_elem_t*>(p);
    capacity = grown;
  }
  entries[count].data = data;
  entries[count].length = length;
  ++count;
  return 0;
}

}  // namespace MorvaneLib
