// Hash and SharedHash: fixed-size chained hash tables keyed by byte strings.
//
// Keys are byte strings with an explicit length; text keys are passed with
// their NUL (length strlen(key) + 1). The table copies every key. `put`
// copies the value too; `pput` stores the caller's pointer, which stays the
// caller's (the table never frees it). The bucket count is fixed at
// construction: tables never rehash.
//
// Entries: each bucket's head entry lives in the bucket array; further
// entries of a chain are allocated one by one and stay linked (and are reused
// by later insertions) until the table is destroyed. The entry record was laid
// out as eight 32-bit words; here its pointers are pointer-sized, so a real
// entry is bigger than 32 bytes on 64-bit, but the byte count reported by
// `statistics` still adds the historical 32 bytes per chained entry.
//
// Hash is not thread-safe. SharedHash takes its mutex for every single call.
#ifndef MOSAL_HASH_H
#define MOSAL_HASH_H

#include <cstdint>

#include <cstdio>

#include "mosal/DataBuf.h"
#include "mosal/Enumeration.h"
#include "mosal/Error.h"
#include "mosal_posix/Mutex.h"

namespace MorvaneLib {

struct hash_elem_t {
  char* key;            // the table's copy of the key bytes
  unsigned klen;        // key length
  char* value;          // the table's copy of the value, null for a pput entry
  unsigned vlen;        // value length (0 for a pput entry)
  char* ptr;            // pointer kept by pput (not copied, not owned)
  hash_elem_t* next;    // next entry of the chain
  unsigned char empty;  // 1 when the entry holds nothing
  unsigned char joined; // 1 when the value lives in the key's block (one
                        // allocation for both; only the key is freed)
  unsigned collisions;  // insertions that walked past this entry
};

// The joined flag sits in the padding after `empty`: the record keeps its size.
static_assert(sizeof(void*) != 8 || sizeof(hash_elem_t) == 56, "hash_elem_t is 56 bytes on 64-bit");

class Hash : public Error {
 public:
  // Bytes counted in the byte total for each chained entry.
  enum { CHAINED_ENTRY_BYTES = 32 };

  // Throws LibError("Hash()", "No buckets") for a count of 0. The bucket
  // array is allocated by the first store (a put or pput that cannot get it
  // returns -1 with "Out of memory"): many tables of a connection are never
  // filled, and a table that is costs nothing until it is.
  explicit Hash(unsigned buckets);
  ~Hash() override;
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;

  // Copies key and value. 0; 10 when the key exists and !replace (nothing
  // changes); -1 when memory runs out or the value is null with a length.
  int put(const char* key, unsigned klen, const char* value, unsigned vlen, bool replace = false);
  // Copies the key, keeps `ptr` itself. Same results as put. Replacing an
  // entry that has a copied value changes only its stored pointer (the copied
  // value still wins in get).
  int pput(const char* key, unsigned klen, void* ptr, bool replace = false);
  // The copied value, else the stored pointer; null when absent. The pointer
  // stays the table's (or the pput caller's) and is valid until the entry
  // changes.
  char* get(const char* key, unsigned klen);
  // The same, and writes the value length (0 when absent or for pput entries).
  char* get(const char* key, unsigned klen, unsigned* vlen);
  // Frees the key and copied value (never a stored pointer). 0, or -1.
  int del(const char* key, unsigned klen);
  // The table's own listings of (key, key length), respectively (value or
  // stored pointer, value length), bucket by bucket, cursor at 0. Valid until
  // the next call of the same operation or until the entries change.
  Enumeration* keys();
  Enumeration* values();
  // Deletes every entry, tracing each key.
  void clear();
  // Entry count, byte count, then bucket index and head collision count.
  void statistics();
  // key=value text files, one pair a line (lines of up to 4096 characters:
  // a longer one is cut and its rest ignored; the first occurrence of a key
  // wins). 0, or -1 with "open error", "out of memory", "null value" or
  // "write error" in getErrorString().
  int loadKV(const char* path);
  int saveKV(const char* path);

  // Sum of (signed byte i) * (i + 1), wrapping at 32 bits, modulo buckets.
  virtual unsigned hashCode(const char* key, unsigned length, unsigned buckets);
  // The first `length` bytes as unsigned bytes: -1, 0 or 1.
  virtual int compare(const char* a, const char* b, unsigned length);

  char* getErrorString() override { return errorBuf->getData(); }

  unsigned getBucketCount() const { return bucketCount; }
  unsigned getEntryCount() const { return entryCount; }
  unsigned getByteCount() const { return byteCount; }
  // Head entry of bucket i (i below the bucket count), for inspection.
  const hash_elem_t* bucketHead(unsigned i) const;

 protected:
  // Entry holding the key, or null. No allocation, length compared first.
  hash_elem_t* _find(const char* key, unsigned klen);
  // Common part of put and pput; value null means a pput of ptr.
  int _store(const char* key, unsigned klen, const char* value, unsigned vlen, void* ptr,
             bool isPointer, bool replace);
  void _setError(const char* text);
  void _release(hash_elem_t* e);

 private:
  // Allocates the bucket array and its occupancy bits; false when out of memory.
  bool _allocate();
  bool _isUsed(unsigned i) const { return (used[i / 64] >> (i % 64)) & 1; }
  void _markUsed(unsigned i) { used[i / 64] |= uint64_t(1) << (i % 64); }
  void _markUnused(unsigned i) { used[i / 64] &= ~(uint64_t(1) << (i % 64)); }
  // Calls fn(index) for every bucket whose chain holds anything, in index
  // order: walks cost the entries held, not the bucket count.
  template <class Fn>
  void _forEachUsed(Fn fn);

  hash_elem_t* buckets;  // null until the first store
  uint64_t* used;        // one bit a bucket: head in use or a chain linked;
                         // a head without its bit is empty (not even set up)
  unsigned bucketCount;
  unsigned entryCount;
  unsigned byteCount;
  Enumeration* keyList;
  Enumeration* valueList;
  DataBuf* errorBuf;
};

// Hash whose every operation holds the table's own mutex for that one call.
// A value read with get is used after the lock is released: its lifetime is
// the caller's concern.
class SharedHash : public Hash {
 public:
  explicit SharedHash(unsigned buckets);
  ~SharedHash() override;

  int put(const char* key, unsigned klen, const char* value, unsigned vlen, bool replace = false);
  int pput(const char* key, unsigned klen, void* ptr, bool replace = false);
  char* get(const char* key, unsigned klen);
  char* get(const char* key, unsigned klen, unsigned* vlen);
  // With tryOnly true returns null at once, without looking, when another
  // thread holds the table; otherwise waits like get(key, klen).
  char* get(const char* key, unsigned klen, bool tryOnly);
  int del(const char* key, unsigned klen);
  // The listings are shared by every caller: walk them from one thread only.
  Enumeration* keys();
  Enumeration* values();
  void clear();
  void statistics();
  int loadKV(const char* path);
  int saveKV(const char* path);

  // The table's mutex, for callers that need several operations in one step
  // (they then call the Hash:: forms). Owned by the table.
  Mutex* getMutex() { return mutex; }

 private:
  Mutex* mutex;
};

}  // namespace MorvaneLib

#endif
