// Hash and SharedHash: chaining, entry reuse, listings, statistics and
// key=value files.
#include "mosal/Hash.h"

#include <cstdlib>
#include <cstring>

#include "mosal/Trace.h"
#include "mosal/Utils.h"

namespace MorvaneLib {

namespace {

const unsigned KV_LINE = 4096;

// Listing capacity: the entries held now plus a few; add() grows the array
// when more come, so a large, sparsely used table is not zeroed per listing.
unsigned listCapacity(unsigned entries) {
  return entries > 0xFFFFFFFFu - 16 ? 0xFFFFFFFFu : entries + 16;
}

char* copyBytes(const char* src, unsigned n) {
  char* p = static_cast<char*>(std::malloc(n ? n : 1));
  if (p != nullptr && n > 0) std::memcpy(p, src, n);
  return p;
}

// Where the value starts in a joined block: after the key, rounded up to 8
// (records stored as values keep their alignment) and never 0 (an empty key
// does not alias the value).
size_t valueOffset(unsigned klen) {
  size_t room = (static_cast<size_t>(klen) + 7) & ~static_cast<size_t>(7);
  return room > 0 ? room : 8;
}

// A block holding a copy of the key and, behind it, room for a value of
// vlen bytes; null when out of memory.
char* joinedBlock(const char* key, unsigned klen, unsigned vlen) {
  char* p = static_cast<char*>(std::malloc(valueOffset(klen) + (vlen ? vlen : 1)));
  if (p != nullptr && klen > 0) std::memcpy(p, key, klen);
  return p;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

Hash::Hash(unsigned n)
    : buckets(nullptr), used(nullptr), bucketCount(n), entryCount(0), byteCount(0),
      keyList(nullptr), valueList(nullptr), errorBuf(nullptr) {
  errorBuf = new DataBuf(50, 0, 65536, ALLOC_ONCREATE);
  errorBuf->getData()[0] = '\0';
  if (n == 0) {
    delete errorBuf;
    throw LibError("Hash()", "No buckets");
  }
  // The bucket array and the two listings are made on first use: many
  // tables are never filled, more are never listed.
}

bool Hash::_allocate() {
  // Heads are set up when first used (see _store): a table of many buckets
  // holding a few entries touches only their heads.
  buckets = static_cast<hash_elem_t*>(std::malloc(sizeof(hash_elem_t) * bucketCount));
  used = static_cast<uint64_t*>(std::calloc((bucketCount + 63) / 64, sizeof(uint64_t)));
  if (buckets == nullptr || used == nullptr) {
    std::free(buckets);
    std::free(used);
    buckets = nullptr;
    used = nullptr;
    _setError("Out of memory");
    return false;
  }
  return true;
}

template <class Fn>
void Hash::_forEachUsed(Fn fn) {
  if (buckets == nullptr) return;
  unsigned words = (bucketCount + 63) / 64;
  for (unsigned w = 0; w < words; ++w) {
    uint64_t bits = used[w];
    while (bits != 0) {
      unsigned i = w * 64 + static_cast<unsigned>(__builtin_ctzll(bits));
      bits &= bits - 1;
      fn(i);
    }
  }
}

const hash_elem_t* Hash::bucketHead(unsigned i) const {
  static const hash_elem_t none = {nullptr, 0, nullptr, 0, nullptr, nullptr, 1, 0, 0};
  return buckets != nullptr && _isUsed(i) ? &buckets[i] : &none;
}

Hash::~Hash() {
  _forEachUsed([this](unsigned i) {
    _release(&buckets[i]);
    hash_elem_t* e = buckets[i].next;
    while (e != nullptr) {
      hash_elem_t* next = e->next;
      _release(e);
      byteCount -= CHAINED_ENTRY_BYTES;
      std::free(e);
      e = next;
    }
  });
  std::free(buckets);
  std::free(used);
  delete keyList;
  delete valueList;
  delete errorBuf;
}

unsigned Hash::hashCode(const char* key, unsigned length, unsigned n) {
  unsigned sum = 0;
  for (unsigned i = 0; i < length; ++i)
    sum += static_cast<unsigned>(static_cast<int>(static_cast<signed char>(key[i]))) * (i + 1);
  return sum % n;
}

int Hash::compare(const char* a, const char* b, unsigned length) {
  if (length == 0) return 0;
  int r = std::memcmp(a, b, length);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

void Hash::_setError(const char* text) { errorBuf->xcopy(text, std::strlen(text) + 1); }

void Hash::_release(hash_elem_t* e) {
  if (e->empty) return;
  std::free(e->key);
  if (!e->joined) std::free(e->value);
  e->joined = 0;
  e->key = nullptr;
  e->value = nullptr;
  e->ptr = nullptr;
  e->klen = 0;
  e->vlen = 0;
  e->empty = 1;
}

hash_elem_t* Hash::_find(const char* key, unsigned klen) {
  if ((key == nullptr && klen > 0) || buckets == nullptr) return nullptr;
  unsigned index = hashCode(key, klen, bucketCount) % bucketCount;
  if (!_isUsed(index)) return nullptr;
  hash_elem_t* e = &buckets[index];
  for (; e != nullptr; e = e->next) {
    if (!e->empty && e->klen == klen && compare(e->key, key, klen) == 0) return e;
  }
  return nullptr;
}

int Hash::_store(const char* key, unsigned klen, const char* value, unsigned vlen, void* ptr,
                 bool isPointer, bool replace) {
  if ((key == nullptr && klen > 0) || (!isPointer && value == nullptr && vlen > 0)) return -1;
  if (buckets == nullptr && !_allocate()) return -1;
  unsigned index = hashCode(key, klen, bucketCount) % bucketCount;
  hash_elem_t* head = &buckets[index];
  if (!_isUsed(index)) {
    // A head never used, or emptied with no chain behind it: set it up.
    std::memset(head, 0, sizeof *head);
    head->empty = 1;
  }
  hash_elem_t* slot = nullptr;  // entry that will take the key
  hash_elem_t* last = head;
  if (head->empty && head->next == nullptr) {
    slot = head;
  } else {
    // The whole chain is searched, an empty head included: a key stored
    // further down must be found, never stored a second time.
    for (hash_elem_t* e = head; e != nullptr; e = e->next) {
      if (!e->empty && e->klen == klen && compare(e->key, key, klen) == 0) {
        if (!replace) return 10;
        if (isPointer) {
          e->ptr = static_cast<char*>(ptr);
          return 0;
        }
        if (e->value == nullptr || vlen > e->vlen) {
          if (e->joined) {
            // The key moves with the value into a larger block.
            char* block = joinedBlock(e->key, e->klen, vlen);
            if (block == nullptr) return -1;
            std::free(e->key);
            e->key = block;
            e->value = block + valueOffset(e->klen);
          } else {
            char* grown = static_cast<char*>(std::realloc(e->value, vlen ? vlen : 1));
            if (grown == nullptr) return -1;
            e->value = grown;
          }
        }
        if (vlen > 0) std::memcpy(e->value, value, vlen);
        byteCount += vlen - e->vlen;
        e->vlen = vlen;
        return 0;
      }
      if (e->empty) {
        if (slot == nullptr) slot = e;
      }
      e->collisions++;
      last = e;
    }
  }

  // A copied value shares one block with its key, behind it at an offset
  // that keeps 8-byte alignment for callers that store records.
  char* keyCopy;
  char* valueCopy = nullptr;
  if (isPointer) {
    keyCopy = copyBytes(key, klen);
    if (keyCopy == nullptr) return -1;
  } else {
    keyCopy = joinedBlock(key, klen, vlen);
    if (keyCopy == nullptr) return -1;
    valueCopy = keyCopy + valueOffset(klen);
    if (vlen > 0) std::memcpy(valueCopy, value, vlen);
  }
  if (slot == nullptr) {
    slot = static_cast<hash_elem_t*>(std::calloc(1, sizeof(hash_elem_t)));
    if (slot == nullptr) {
      std::free(keyCopy);  // the value, if any, is in the key's block
      return -1;
    }
    last->next = slot;
    byteCount += CHAINED_ENTRY_BYTES;
  }
  slot->key = keyCopy;
  slot->klen = klen;
  slot->value = valueCopy;
  slot->vlen = isPointer ? 0 : vlen;
  slot->ptr = isPointer ? static_cast<char*>(ptr) : nullptr;
  slot->empty = 0;
  slot->joined = isPointer ? 0 : 1;
  _markUsed(index);
  entryCount++;
  byteCount += klen + slot->vlen;
  return 0;
}

int Hash::put(const char* key, unsigned klen, const char* value, unsigned vlen, bool replace) {
  return _store(key, klen, value, vlen, nullptr, false, replace);
}

int Hash::pput(const char* key, unsigned klen, void* ptr, bool replace) {
  if (replace) MTRACE("Hash::pput(): replace untested.\n");
  return _store(key, klen, nullptr, 0, ptr, true, replace);
}

char* Hash::get(const char* key, unsigned klen) {
  hash_elem_t* e = _find(key, klen);
  if (e == nullptr) return nullptr;
  return e->value != nullptr ? e->value : e->ptr;
}

char* Hash::get(const char* key, unsigned klen, unsigned* vlen) {
  hash_elem_t* e = _find(key, klen);
  if (vlen != nullptr) *vlen = e != nullptr ? e->vlen : 0;
  if (e == nullptr) return nullptr;
  return e->value != nullptr ? e->value : e->ptr;
}

int Hash::del(const char* key, unsigned klen) {
  if ((key == nullptr && klen > 0) || buckets == nullptr) return -1;
  unsigned index = hashCode(key, klen, bucketCount) % bucketCount;
  if (!_isUsed(index)) return -1;
  hash_elem_t* head = &buckets[index];
  hash_elem_t* e = head;
  while (e != nullptr && (e->empty || e->klen != klen || compare(e->key, key, klen) != 0))
    e = e->next;
  if (e == nullptr) return -1;
  if (e != head && head->collisions > 0) head->collisions--;
  byteCount -= e->klen + e->vlen;
  entryCount--;
  _release(e);
  if (e == head && head->next == nullptr) _markUnused(index);
  return 0;
}

Enumeration* Hash::keys() {
  if (keyList == nullptr) keyList = new Enumeration(listCapacity(entryCount));
  keyList->clear();
  _forEachUsed([this](unsigned i) {
    for (hash_elem_t* e = &buckets[i]; e != nullptr; e = e->next)
      if (!e->empty) keyList->add(e->key, e->klen);
  });
  return keyList;
}

Enumeration* Hash::values() {
  if (valueList == nullptr) valueList = new Enumeration(listCapacity(entryCount));
  valueList->clear();
  _forEachUsed([this](unsigned i) {
    for (hash_elem_t* e = &buckets[i]; e != nullptr; e = e->next)
      if (!e->empty) valueList->add(e->value != nullptr ? e->value : e->ptr, e->vlen);
  });
  return valueList;
}

void Hash::clear() {
  // Entries are freed by their own length, so a key without a NUL (or with
  // one inside) is deleted too.
  _forEachUsed([this](unsigned i) {
    hash_elem_t* head = &buckets[i];
    for (hash_elem_t* e = head; e != nullptr; e = e->next) {
      if (e->empty) continue;
      MTRACE("Hash::clear(): deleting key = \"%.*s\"\n", static_cast<int>(e->klen), e->key);
      byteCount -= e->klen + e->vlen;
      entryCount--;
      _release(e);
      if (e != head && head->collisions > 0) head->collisions--;
    }
    if (head->next == nullptr) _markUnused(i);
  });
}

void Hash::statistics() {
  MTRACE("Hash::statistics: TOTAL %u\n", entryCount);
  MTRACE("Hash::statistics: TOTAL BYTES %u\n", byteCount);
  for (unsigned i = 0; i < bucketCount; ++i) MTRACE("%u %u\n", i, bucketHead(i)->collisions);
}

int Hash::loadKV(const char* path) {
  FILE* f = path != nullptr ? std::fopen(path, "r") : nullptr;
  if (f == nullptr) {
    _setError("open error");
    return -1;
  }
  char* line = static_cast<char*>(std::malloc(KV_LINE + 1));
  if (line == nullptr) {
    std::fclose(f);
    _setError("out of memory");
    return -1;
  }
  int result = 0;
  bool cut = false, inTail = false;
  while (Utils::getDelim(line, KV_LINE, '\n', f, nullptr, &cut) != -1) {
    // The rest of an over-long line is no pair of its own.
    bool skip = inTail;
    inTail = cut;
    if (skip) continue;
    // Bytes after an embedded NUL are ignored, like the rest of the record.
    size_t len = std::strlen(line);
    while (len > 0 && (isBlank(line[len - 1]) || line[len - 1] == '\r' || line[len - 1] == '\n'))
      line[--len] = '\0';
    char* p = line;
    while (isBlank(*p)) ++p;
    if (*p == '\0' || *p == '#') continue;
    char* value = std::strchr(p, '=');
    if (value != nullptr) {
      *value++ = '\0';
      while (isBlank(*value)) ++value;
    } else {
      value = p + std::strlen(p);  // the empty string
    }
    char* space = std::strchr(p, ' ');
    if (space != nullptr) *space = '\0';
    if (put(p, static_cast<unsigned>(std::strlen(p)) + 1, value,
            static_cast<unsigned>(std::strlen(value)) + 1, false) == -1) {
      _setError("out of memory");
      result = -1;
      break;
    }
  }
  std::free(line);
  std::fclose(f);
  return result;
}

int Hash::saveKV(const char* path) {
  FILE* f = path != nullptr ? std::fopen(path, "w+") : nullptr;
  if (f == nullptr) {
    _setError("open error");
    return -1;
  }
  Enumeration* list = keys();
  while (list->hasMoreElements()) {
    enum_elem_t* k = list->nextElement();
    hash_elem_t* e = _find(k->data, k->length);
    // Only a copied value is text that can be written; a pput entry holds
    // some object of the caller's.
    if (e == nullptr || e->value == nullptr) {
      std::fclose(f);
      _setError("null value");
      return -1;
    }
    // Keys and values are written up to their NUL and never past their length.
    if (std::fprintf(f, "%.*s=%.*s\n", static_cast<int>(k->length), k->data,
                     static_cast<int>(e->vlen), e->value) < 0) {
      std::fclose(f);
      _setError("write error");
      return -1;
    }
  }
  if (std::fclose(f) != 0) {
    _setError("write error");
    return -1;
  }
  return 0;
}

// SharedHash: each operation is the Hash one under the table's mutex.

SharedHash::SharedHash(unsigned n) : Hash(n), mutex(new Mutex()) {}

SharedHash::~SharedHash() { delete mutex; }

int SharedHash::put(const char* key, unsigned klen, const char* value, unsigned vlen,
                    bool replace) {
  MutexLock l(*mutex);
  return Hash::put(key, klen, value, vlen, replace);
}

int SharedHash::pput(const char* key, unsigned klen, void* ptr, bool replace) {
  MutexLock l(*mutex);
  return Hash::pput(key, klen, ptr, replace);
}

char* SharedHash::get(const char* key, unsigned klen) {
  MutexLock l(*mutex);
  return Hash::get(key, klen);
}

char* SharedHash::get(const char* key, unsigned klen, unsigned* vlen) {
  MutexLock l(*mutex);
  return Hash::get(key, klen, vlen);
}

char* SharedHash::get(const char* key, unsigned klen, bool tryOnly) {
  if (!tryOnly) return get(key, klen);
  if (mutex->tryLock() != 0) return nullptr;
  char* v = Hash::get(key, klen);
  mutex->unlock();
  return v;
}

int SharedHash::del(const char* key, unsigned klen) {
  MutexLock l(*mutex);
  return Hash::del(key, klen);
}

Enumeration* SharedHash::keys() {
  MutexLock l(*mutex);
  return Hash::keys();
}

Enumeration* SharedHash::values() {
  MutexLock l(*mutex);
  return Hash::values();
}

void SharedHash::clear() {
  MutexLock l(*mutex);
  Hash::clear();
}

void SharedHash::statistics() {
  MutexLock l(*mutex);
  Hash::statistics();
}

int SharedHash::loadKV(const char* path) {
  MutexLock l(*mutex);
  return Hash::loadKV(path);
}

int SharedHash::saveKV(const char* path) {
  MutexLock l(*mutex);
  return Hash::saveKV(path);
}

}  // namespace MorvaneLib
