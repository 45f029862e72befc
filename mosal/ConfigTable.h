// Typed, thread-safe property tables: values of four types, their descriptions
// (range, allowed values, help text, label, flags), groups, and callbacks
// watching reads and writes.
//
// Type ids (one byte): 1 int, 2 double, 3 string, 4 object. A key comes into
// existence at its first set*, which fixes its type for good: a set* of
// another type is refused with -1, and a typed getter answers -1 for a key of
// another type, so no getter ever hands out one type's bytes as another's.
//
// Ownership: the table copies int, double and string values; an object value
// is the caller's pointer, neither copied nor owned. Descriptions (Property)
// and attached callbacks belong to the table and are deleted by
// destroyPropertyDescriptions() (which the destructor calls).
//
// Locking: each of the three tables and each callback list has its own mutex,
// taken for one lookup, store, read or append at a time and never two at
// once. Callbacks run on the calling thread outside every lock, so a callback
// may use the table it watches. A string handed out by getString() may be
// replaced by a concurrent setString(): threads sharing a table copy what
// they read.
#ifndef MOSAL_CONFIGTABLE_H
#define MOSAL_CONFIGTABLE_H

#include "mosal/DataBuf.h"
#include "mosal/Hash.h"
#include "mosal/Interp.h"
#include "mosal/Vector.h"
#include "mosal_posix/Mutex.h"

namespace MorvaneLib {

enum PropertyType : unsigned char {
  TYPE_INT = 1,
  TYPE_DOUBLE = 2,
  TYPE_STRING = 3,
  TYPE_OBJECT = 4
};

// Description of one property, filled in by its owner right after
// ConfigTable::createPropertyDescription(); the configuration dialogs build
// their widgets from it. Not polymorphic.
class Property {
 public:
  // `size` is the element size of `choices` for string and object
  // properties (int uses 4, double 8; a size of 0 counts as 1), so a string
  // choice holds size - 1 characters and its NUL; `description` may be null (empty
  // help text). Throws LibError("Property()", "Invalid type id (%d)") for
  // a type outside 1-4.
  Property(unsigned char type, unsigned size, const char* description);
  ~Property();
  Property(const Property&) = delete;
  Property& operator=(const Property&) = delete;

  // Append an allowed value of the property's own type: 0, or -1 for
  // another type or when `choices` cannot grow. A string longer than an
  // element is cut so that it still ends with its NUL.
  int addChoice(int v);
  int addChoice(double v);
  int addChoice(const char* s);

  unsigned char type;
  int max;           // range of an int property, 0 and 0 at construction
  int min;
  Vector* choices;   // owned; allowed values (strings added with their NUL)
  DataBuf* description;  // owned; help text, "" when none was given
  DataBuf* label;        // owned; "" means: show the key
  unsigned char visible;   // 1 at construction
  unsigned char readOnly;  // 0 at construction
};

// Growable array of pointers with its own mutex. Starts with room for 4 and
// grows by a quarter of its capacity when full: 4, 5, 6, 7, 8, 10, 12, 15...
// Holds the pointers only; deleting what they point to is the owner's work.
class PVector {
 public:
  enum { INITIAL_CAPACITY = 4 };
  // Throws LibError("PVector()", "Out of memory").
  explicit PVector(unsigned capacity = INITIAL_CAPACITY);
  ~PVector();
  PVector(const PVector&) = delete;
  PVector& operator=(const PVector&) = delete;

  // Appends p; 0, or -1 if the array cannot grow.
  int add(void* p);
  // The i-th pointer, or null at or beyond the count.
  void* get(unsigned i);
  // Removes every occurrence of p, keeping the order of the rest; the
  // number removed.
  unsigned remove(void* p);
  // Empties the list.
  void clear();
  unsigned size();
  unsigned capacity();

 private:
  void** _array;
  unsigned _capacity;
  unsigned _count;
  Mutex _mutex;
};

class ConfigTable;

// A callback watching one or more keys of a table. Before each call the table
// fills the context fields below (those not relevant to the type are null or
// 0), then calls perform(data) with the key's callback data if `enabled` is
// set. The callback's own result is ignored by the table.
class ConfigCallBack : public CallBack {
 public:
  explicit ConfigCallBack(const char* name);
  ~ConfigCallBack() override;

  ConfigTable* table;
  const char* key;
  unsigned char type;
  unsigned short objectSize;
  int* intValue;
  double* doubleValue;
  char* stringValue;
  unsigned stringLength;
  void* objectValue;
  void* data;
  unsigned char enabled;  // 1 at construction
};

// Record kept in ConfigTable::paramTable for every key (copied into the
// table). Laid out in 32-bit words it takes 20 bytes; here the pointers are
// pointer-sized, so on 64-bit targets the record is 40 bytes and the offsets
// after `objectSize` move accordingly.
struct ParamEntry {
  Property* description;   // owned by the table; null until described
  unsigned char type;      // 1-4, fixed by the key's first set*
  unsigned short objectSize;  // objects: the size given at the first setObject
  PVector* readCallbacks;  // ConfigCallBack* each, owned by the table; null
  PVector* writeCallbacks; // until the key's first attachRead/attachWrite
  void* data;              // callback data of the last attachRead/attachWrite
};

// A group of property names: 64-byte elements (a name of up to 63 characters
// with its NUL) and the group's name.
struct PropertyGroup {
  Vector* members;  // owned
  DataBuf* name;    // owned
};

class ConfigTable {
 public:
  enum { GROUP_NAME_SIZE = 64 };

  // Creates the three tables with `buckets` buckets each.
  explicit ConfigTable(unsigned buckets);
  virtual ~ConfigTable();
  ConfigTable(const ConfigTable&) = delete;
  ConfigTable& operator=(const ConfigTable&) = delete;

  // Name of the file under which ConfigStorage keeps the table; the base
  // answers null (not storable). The returned text stays the table's.
  virtual char* getStorageFilename();

  // Create or update a key: 0, or -1 when the key holds another type, the
  // key or value is null, or memory runs out. The key's write callbacks run
  // after the store. setString stores `len` bytes of `s` (callers pass the
  // NUL); bytes without a final NUL get one added, so getString always hands
  // out a terminated string. setObject stores the pointer itself; `size` is
  // recorded at the first setObject of the key and kept afterwards.
  int setInt(const char* key, int v);
  int setDouble(const char* key, double v);
  int setString(const char* key, const char* s, unsigned len);
  int setObject(const char* key, void* obj, unsigned short size);

  // 0 with the value written out; -1 when the key is absent, has another
  // type or has no value (an object key holding null has none). The key's
  // read callbacks run in every case but the first two. getString hands out
  // the table's own copy, valid until the key is set again; getObject the
  // stored pointer and the key's objectSize.
  int getInt(const char* key, int* v);
  int getDouble(const char* key, double* v);
  int getString(const char* key, char** s);
  int getObject(const char* key, void** obj, unsigned short* size);

  // getString for threads that share the table: copies the string into
  // `buf` (cut to size - 1 characters, always terminated) in one locked
  // step, so a concurrent setString cannot pull it away. 0 or -1 as
  // getString; the read callbacks see the copy.
  int copyString(const char* key, char* buf, unsigned size);

  // 0 with the key's type id, or -1 when the key is absent.
  int getParamType(const char* key, unsigned char* type);

  // Describes an existing key with a new Property(type of the key, size,
  // null) and returns it (owned by the table); null when the key was never
  // set. Describing a key again replaces (and deletes) its old description.
  Property* createPropertyDescription(const char* key, unsigned size);
  // The key's description, or null when the key is absent or undescribed.
  Property* getPropertyDescription(const char* key);

  // A new empty group (64-byte elements, capacity 5, growth 3), owned by the
  // table; null when a group of that name exists or memory runs out.
  Vector* createPropertyGroup(const char* name);
  // The named group, or null.
  Vector* getPropertyGroup(const char* name);
  // Adds a property name to a group: 0, or -1 when the group is absent or
  // the name does not fit a 64-byte element with its NUL.
  int addToPropertyGroup(const char* group, const char* key);

  // Append cb to the key's read (write) list and make `data` the key's
  // callback data: 0, or -1 when the key is absent, cb is null or the list
  // cannot grow. On success cb belongs to the table; on failure it stays
  // the caller's.
  int attachRead(const char* key, ConfigCallBack* cb, void* data);
  int attachWrite(const char* key, ConfigCallBack* cb, void* data);
  // Empty the key's read (write) list; with `destroy` each callback is
  // deleted, once, and taken off every other list of the table it was on,
  // so no list keeps a deleted callback. 0, or -1 when the key is absent.
  int clearRead(const char* key, bool destroy);
  int clearWrite(const char* key, bool destroy);

  // Takes one key out of the table: its value, its description and its
  // callbacks (each deleted once and detached from every other list of the
  // table) go with it; group member names are left as they are. A later
  // set* makes the key afresh, with a type of its own. 0, or -1 when the key
  // is absent. For tables whose keys come and go (a session per call): the
  // entry is reused, so memory stays bounded. No other operation on the same
  // key may run while it is removed (its callback lists are freed).
  int removeKey(const char* key);

  // Deletes every description, callback, key, value and group. The table
  // stays usable (empty) afterwards. Must not run while other threads use
  // the table.
  void destroyPropertyDescriptions();

  // The tables themselves, for walking a table's keys (dialogs, storage).
  // Owned by the table.
  SharedHash* getValueTable() { return valueTable; }
  SharedHash* getParamTable() { return paramTable; }
  SharedHash* getGroupTable() { return groupTable; }

 protected:
  SharedHash* valueTable;  // key -> value (copies; objects by pointer)
  SharedHash* paramTable;  // key -> ParamEntry (copied record)
  SharedHash* groupTable;  // group name -> PropertyGroup* (by pointer)

 private:
  bool _entry(const char* key, unsigned klen, ParamEntry* out);
  bool _makeEntry(const char* key, unsigned klen, unsigned char type,
                  unsigned short objectSize, ParamEntry* out);
  char* _readValue(const char* key, unsigned klen, void* out, unsigned n);
  int _attach(const char* key, ConfigCallBack* cb, void* data, bool readList);
  int _clear(const char* key, bool destroy, bool readList);
  void _detachEverywhere(ConfigCallBack* cb);
  // destroyPropertyDescriptions(); the destructor passes false, leaving the
  // keys and values to the tables it deletes next.
  void _destroyAll(bool removeEntries);
};

}  // namespace MorvaneLib

#endif
