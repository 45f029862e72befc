// ConfigTable, Property, PVector and ConfigCallBack: typed property tables
// with descriptions, groups and read/write callbacks.
#include "mosal/ConfigTable.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "mosal/Trace.h"

namespace MorvaneLib {

namespace {

inline unsigned _klen(const char* key) {
  return static_cast<unsigned>(std::strlen(key)) + 1;
}

const char* _name(CallBack* cb) {
  const char* n = cb->getName();
  return n ? n : "";
}

// Copies the keys of a table out of its shared enumeration, so that the walk
// survives changes of the table (and other walkers of the enumeration).
std::vector<std::string> _copyKeys(SharedHash* table) {
  std::vector<std::string> out;
  Enumeration* e = table->keys();
  if (e == nullptr) return out;
  while (e->hasMoreElements()) {
    enum_elem_t* p = e->nextElement();
    if (p == nullptr || p->data == nullptr || p->length == 0) continue;
    // Keys are stored with their NUL; the length counts it.
    out.emplace_back(p->data, p->length - 1);
  }
  return out;
}

struct Context {
  int* intValue = nullptr;
  double* doubleValue = nullptr;
  char* stringValue = nullptr;
  unsigned stringLength = 0;
  void* objectValue = nullptr;
};

// Runs the callbacks of one list in order; the list is read one locked step
// at a time and no lock is held while a callback runs.
void _invoke(ConfigTable* table, PVector* list, const char* trace, const char* key,
             const ParamEntry& e, const Context& c) {
  if (list == nullptr) return;
  for (unsigned i = 0;; ++i) {
    ConfigCallBack* cb = static_cast<ConfigCallBack*>(list->get(i));
    if (cb == nullptr) break;
    MTRACE(trace, _name(cb));
    cb->table = table;
    cb->key = key;
    cb->type = e.type;
    cb->objectSize = e.type == TYPE_OBJECT ? e.objectSize : 0;
    cb->intValue = c.intValue;
    cb->doubleValue = c.doubleValue;
    cb->stringValue = c.stringValue;
    cb->stringLength = c.stringLength;
    cb->objectValue = c.objectValue;
    cb->data = e.data;
    if (cb->enabled) cb->perform(e.data);
  }
}

}  // namespace

// ---------------------------------------------------------------- Property

Property::Property(unsigned char t, unsigned size, const char* text)
    : type(t), max(0), min(0), choices(nullptr), description(nullptr), label(nullptr),
      visible(1), readOnly(0) {
  unsigned elementSize;
  switch (t) {
    case TYPE_INT: elementSize = sizeof(int); break;
    case TYPE_DOUBLE: elementSize = sizeof(double); break;
    case TYPE_STRING:
    case TYPE_OBJECT: elementSize = size ? size : 1; break;  // a Vector needs one byte
    default: throw LibError("Property()", "Invalid type id (%d)", t);
  }
  choices = new Vector(elementSize, 5, 3);
  description = new DataBuf(text ? text : "");
  label = new DataBuf("");
}

Property::~Property() {
  delete choices;
  delete description;
  delete label;
}

int Property::addChoice(int v) {
  if (type != TYPE_INT) return -1;
  return choices->addElement(reinterpret_cast<const char*>(&v), sizeof v) < 0 ? -1 : 0;
}

int Property::addChoice(double v) {
  if (type != TYPE_DOUBLE) return -1;
  return choices->addElement(reinterpret_cast<const char*>(&v), sizeof v) < 0 ? -1 : 0;
}

int Property::addChoice(const char* s) {
  if (type != TYPE_STRING || s == nullptr) return -1;
  unsigned size = choices->getElementSize();
  std::string text(s, std::min<size_t>(std::strlen(s), size - 1));
  return choices->addElement(text.c_str(), static_cast<unsigned>(text.size()) + 1) < 0 ? -1 : 0;
}

// ----------------------------------------------------------------- PVector

PVector::PVector(unsigned capacity) : _array(nullptr), _capacity(capacity), _count(0) {
  if (_capacity == 0) _capacity = 1;
  _array = static_cast<void**>(std::calloc(_capacity, sizeof(void*)));
  if (_array == nullptr) throw LibError("PVector()", "Out of memory");
}

PVector::~PVector() { std::free(_array); }

int PVector::add(void* p) {
  MutexLock l(_mutex);
  if (_count == _capacity) {
    unsigned grown = _capacity + (_capacity / 4 ? _capacity / 4 : 1);
    void** a = static_cast<void**>(std::realloc(_array, grown * sizeof(void*)));
    if (a == nullptr) return -1;
    _array = a;
    _capacity = grown;
  }
  _array[_count++] = p;
  return 0;
}

void* PVector::get(unsigned i) {
  MutexLock l(_mutex);
  return i < _count ? _array[i] : nullptr;
}

unsigned PVector::remove(void* p) {
  MutexLock l(_mutex);
  unsigned kept = 0;
  for (unsigned i = 0; i < _count; ++i)
    if (_array[i] != p) _array[kept++] = _array[i];
  unsigned removed = _count - kept;
  _count = kept;
  return removed;
}

void PVector::clear() {
  MutexLock l(_mutex);
  _count = 0;
}

unsigned PVector::size() {
  MutexLock l(_mutex);
  return _count;
}

unsigned PVector::capacity() {
  MutexLock l(_mutex);
  return _capacity;
}

// ---------------------------------------------------------- ConfigCallBack

ConfigCallBack::ConfigCallBack(const char* name)
    : CallBack(name), table(nullptr), key(nullptr), type(0), objectSize(0),
      intValue(nullptr), doubleValue(nullptr), stringValue(nullptr), stringLength(0),
      objectValue(nullptr), data(nullptr), enabled(1) {}

ConfigCallBack::~ConfigCallBack() = default;

// ------------------------------------------------------------- ConfigTable

ConfigTable::ConfigTable(unsigned buckets)
    : valueTable(new SharedHash(buckets)),
      paramTable(new SharedHash(buckets)),
      groupTable(new SharedHash(buckets)) {}

ConfigTable::~ConfigTable() {
  _destroyAll(false);
  // Every description, callback and group is gone; the tables free the rest.
  MTRACE("~ConfigTable(): removing vectors...\n");
  MTRACE("~ConfigTable(): deleting tables...\n");
  delete valueTable;
  delete paramTable;
  delete groupTable;
  MTRACE("~ConfigTable(): done.\n");
}

char* ConfigTable::getStorageFilename() { return nullptr; }

// A copy of the key's entry, taken in one locked step: the description and
// the callback data of a published entry change under the table's lock.
bool ConfigTable::_entry(const char* key, unsigned klen, ParamEntry* out) {
  MutexLock l(*paramTable->getMutex());
  char* p = paramTable->Hash::get(key, klen);
  if (p == nullptr) return false;
  std::memcpy(out, p, sizeof *out);
  return true;
}

// The key's entry, created with fresh callback lists if the key is new; false
// when the key holds another type or memory runs out.
bool ConfigTable::_makeEntry(const char* key, unsigned klen, unsigned char type,
                             unsigned short objectSize, ParamEntry* out) {
  if (!_entry(key, klen, out)) {
    // The callback lists are made by the first attach: most keys never get one.
    ParamEntry fresh{};
    fresh.type = type;
    fresh.objectSize = type == TYPE_OBJECT ? objectSize : 0;
    int r = paramTable->put(key, klen, reinterpret_cast<char*>(&fresh), sizeof fresh, false);
    if (r != 0) {
      // Another thread created the key first (10), or no memory (-1).
      if (r != 10 || !_entry(key, klen, out)) return false;
    } else {
      *out = fresh;
    }
  }
  return out->type == type;
}

int ConfigTable::setInt(const char* key, int v) {
  if (key == nullptr) return -1;
  unsigned klen = _klen(key);
  ParamEntry e;
  if (!_makeEntry(key, klen, TYPE_INT, 0, &e)) return -1;
  if (valueTable->put(key, klen, reinterpret_cast<char*>(&v), sizeof v, true) == -1)
    return -1;
  Context c;
  c.intValue = &v;
  _invoke(this, e.writeCallbacks, "setInt(): invoking callback %s\n", key, e, c);
  return 0;
}

int ConfigTable::setDouble(const char* key, double v) {
  if (key == nullptr) return -1;
  unsigned klen = _klen(key);
  ParamEntry e;
  if (!_makeEntry(key, klen, TYPE_DOUBLE, 0, &e)) return -1;
  if (valueTable->put(key, klen, reinterpret_cast<char*>(&v), sizeof v, true) == -1)
    return -1;
  Context c;
  c.doubleValue = &v;
  _invoke(this, e.writeCallbacks, "setDouble(): invoking callback %s\n", key, e, c);
  return 0;
}

int ConfigTable::setString(const char* key, const char* s, unsigned len) {
  if (key == nullptr || s == nullptr) return -1;
  unsigned klen = _klen(key);
  ParamEntry e;
  if (!_makeEntry(key, klen, TYPE_STRING, 0, &e)) return -1;
  // The stored copy always ends with a NUL, so that getString never hands
  // out an unterminated text, whatever length the caller gave.
  std::string terminated;
  const char* bytes = s;
  unsigned n = len;
  if (len == 0 || s[len - 1] != '\0') {
    terminated.assign(s, len);
    n = len + 1;  // std::string keeps a NUL after its last byte
    bytes = terminated.c_str();
  }
  if (valueTable->put(key, klen, bytes, n, true) == -1) return -1;
  Context c;
  c.stringValue = const_cast<char*>(s);
  c.stringLength = len;
  _invoke(this, e.writeCallbacks, "setString(): invoking callback %s\n", key, e, c);
  return 0;
}

int ConfigTable::setObject(const char* key, void* obj, unsigned short size) {
  if (key == nullptr) return -1;
  unsigned klen = _klen(key);
  ParamEntry e;
  if (!_makeEntry(key, klen, TYPE_OBJECT, size, &e)) return -1;
  if (valueTable->pput(key, klen, obj, true) == -1) return -1;
  Context c;
  c.objectValue = obj;
  _invoke(this, e.writeCallbacks, "setObject(): invoking callback %s\n", key, e, c);
  return 0;
}

// Copies `n` bytes of the key's value out in one locked step (so a
// concurrent set* is seen either wholly or not at all); the table's own
// address of the value, or null when the key has none.
char* ConfigTable::_readValue(const char* key, unsigned klen, void* out, unsigned n) {
  MutexLock l(*valueTable->getMutex());
  unsigned vlen = 0;
  char* p = valueTable->Hash::get(key, klen, &vlen);
  if (p == nullptr || vlen < n) return nullptr;
  std::memcpy(out, p, n);
  return p;
}

int ConfigTable::getInt(const char* key, int* v) {
  if (key == nullptr) return -1;
  unsigned klen = _klen(key);
  ParamEntry e;
  if (!_entry(key, klen, &e) || e.type != TYPE_INT) return -1;
  int value;
  char* p = _readValue(key, klen, &value, sizeof value);
  if (p != nullptr && v != nullptr) *v = value;
  Context c;
  c.intValue = reinterpret_cast<int*>(p);
  _invoke(this, e.readCallbacks, "getInt(): invoking callback %s\n", key, e, c);
  return p ? 0 : -1;
}

int ConfigTable::getDouble(const char* key, double* v) {
  if (key == nullptr) return -1;
  unsigned klen = _klen(key);
  ParamEntry e;
  if (!_entry(key, klen, &e) || e.type != TYPE_DOUBLE) return -1;
  double value;
  char* p = _readValue(key, klen, &value, sizeof value);
  if (p != nullptr && v != nullptr) *v = value;
  Context c;
  c.doubleValue = reinterpret_cast<double*>(p);
  _invoke(this, e.readCallbacks, "getDouble(): invoking callback %s\n", key, e, c);
  return p ? 0 : -1;
}

int ConfigTable::getString(const char* key, char** s) {
  if (key == nullptr) return -1;
  unsigned klen = _klen(key);
  ParamEntry e;
  if (!_entry(key, klen, &e) || e.type != TYPE_STRING) return -1;
  unsigned vlen = 0;
  char* p = valueTable->get(key, klen, &vlen);
  if (p != nullptr && s != nullptr) *s = p;
  Context c;
  c.stringValue = p;
  c.stringLength = p ? vlen : 0;
  _invoke(this, e.readCallbacks, "getString(): invoking callback %s\n", key, e, c);
  return p ? 0 : -1;
}

int ConfigTable::copyString(const char* key, char* buf, unsigned size) {
  if (key == nullptr || buf == nullptr || size == 0) return -1;
  unsigned klen = _klen(key);
  ParamEntry e;
  if (!_entry(key, klen, &e) || e.type != TYPE_STRING) return -1;
  bool found;
  unsigned copied = 0;
  {
    MutexLock l(*valueTable->getMutex());
    unsigned vlen = 0;
    char* p = valueTable->Hash::get(key, klen, &vlen);
    found = p != nullptr;
    if (found) {
      // The stored copy ends with a NUL; the text may hold none before it.
      unsigned n = static_cast<unsigned>(strnlen(p, vlen));
      copied = n < size - 1 ? n : size - 1;
      std::memcpy(buf, p, copied);
      buf[copied] = '\0';
    }
  }
  Context c;
  c.stringValue = found ? buf : nullptr;
  c.stringLength = found ? copied + 1 : 0;
  _invoke(this, e.readCallbacks, "getString(): invoking callback %s\n", key, e, c);
  return found ? 0 : -1;
}

int ConfigTable::getObject(const char* key, void** obj, unsigned short* size) {
  if (key == nullptr) return -1;
  unsigned klen = _klen(key);
  ParamEntry e;
  if (!_entry(key, klen, &e) || e.type != TYPE_OBJECT) return -1;
  void* p = valueTable->get(key, klen);
  if (p == nullptr) return -1;
  if (obj) *obj = p;
  if (size) *size = e.objectSize;
  return 0;
}

int ConfigTable::getParamType(const char* key, unsigned char* type) {
  if (key == nullptr) return -1;
  ParamEntry e;
  if (!_entry(key, _klen(key), &e)) return -1;
  if (type) *type = e.type;
  return 0;
}

Property* ConfigTable::createPropertyDescription(const char* key, unsigned size) {
  if (key == nullptr) return nullptr;
  unsigned klen = _klen(key);
  ParamEntry e;
  if (!_entry(key, klen, &e)) return nullptr;
  Property* p;
  try {
    p = new Property(e.type, size, nullptr);
  } catch (const LibError&) {
    return nullptr;
  }
  Property* old;
  {
    MutexLock l(*paramTable->getMutex());
    ParamEntry* stored = reinterpret_cast<ParamEntry*>(paramTable->Hash::get(key, klen));
    old = stored->description;
    stored->description = p;
  }
  delete old;
  MTRACE("createProperty(): %s\n", p->description->getData());
  return p;
}

Property* ConfigTable::getPropertyDescription(const char* key) {
  if (key == nullptr) return nullptr;
  ParamEntry e;
  if (!_entry(key, _klen(key), &e)) return nullptr;
  MTRACE("getProperty(): found for key \"%s\"\n", key);
  return e.description;
}

Vector* ConfigTable::createPropertyGroup(const char* name) {
  if (name == nullptr) return nullptr;
  unsigned klen = _klen(name);
  if (groupTable->get(name, klen) != nullptr) return nullptr;
  PropertyGroup* g = new PropertyGroup{nullptr, nullptr};
  try {
    g->members = new Vector(GROUP_NAME_SIZE, 5, 3);
    g->name = new DataBuf(name);
  } catch (const LibError&) {
    delete g->members;
    delete g;
    return nullptr;
  }
  if (groupTable->pput(name, klen, g, false) != 0) {
    delete g->members;
    delete g->name;
    delete g;
    return nullptr;
  }
  return g->members;
}

Vector* ConfigTable::getPropertyGroup(const char* name) {
  if (name == nullptr) return nullptr;
  PropertyGroup* g = reinterpret_cast<PropertyGroup*>(groupTable->get(name, _klen(name)));
  return g ? g->members : nullptr;
}

int ConfigTable::addToPropertyGroup(const char* group, const char* key) {
  if (key == nullptr) return -1;
  Vector* v = getPropertyGroup(group);
  unsigned n = _klen(key);
  if (v == nullptr || n > GROUP_NAME_SIZE) return -1;
  char element[GROUP_NAME_SIZE] = {0};
  std::memcpy(element, key, n);
  return v->addElement(element, GROUP_NAME_SIZE) < 0 ? -1 : 0;
}

int ConfigTable::_attach(const char* key, ConfigCallBack* cb, void* data, bool readList) {
  if (key == nullptr || cb == nullptr) return -1;
  unsigned klen = _klen(key);
  PVector* list = nullptr;
  {
    MutexLock l(*paramTable->getMutex());
    ParamEntry* stored = reinterpret_cast<ParamEntry*>(paramTable->Hash::get(key, klen));
    if (stored == nullptr) return -1;
    PVector*& slot = readList ? stored->readCallbacks : stored->writeCallbacks;
    if (slot == nullptr) {
      try {
        slot = new PVector();
      } catch (const LibError&) {
        return -1;
      }
    }
    list = slot;  // stays until the key goes
  }
  if (list->add(cb) != 0) return -1;
  {
    MutexLock l(*paramTable->getMutex());
    ParamEntry* stored = reinterpret_cast<ParamEntry*>(paramTable->Hash::get(key, klen));
    if (stored != nullptr) stored->data = data;
  }
  MTRACE(readList ? "attachRead(): adding callback %s\n" : "attachWrite(): adding callback %s\n",
         _name(cb));
  return 0;
}

int ConfigTable::attachRead(const char* key, ConfigCallBack* cb, void* data) {
  return _attach(key, cb, data, true);
}

int ConfigTable::attachWrite(const char* key, ConfigCallBack* cb, void* data) {
  return _attach(key, cb, data, false);
}

int ConfigTable::clearRead(const char* key, bool destroy) { return _clear(key, destroy, true); }

int ConfigTable::clearWrite(const char* key, bool destroy) {
  return _clear(key, destroy, false);
}

void ConfigTable::_detachEverywhere(ConfigCallBack* cb) {
  for (const std::string& k : _copyKeys(paramTable)) {
    ParamEntry e;
    if (!_entry(k.c_str(), static_cast<unsigned>(k.size()) + 1, &e)) continue;
    if (e.readCallbacks != nullptr) e.readCallbacks->remove(cb);
    if (e.writeCallbacks != nullptr) e.writeCallbacks->remove(cb);
  }
}

int ConfigTable::_clear(const char* key, bool destroy, bool readList) {
  if (key == nullptr) return -1;
  ParamEntry e;
  if (!_entry(key, _klen(key), &e)) return -1;
  PVector* list = readList ? e.readCallbacks : e.writeCallbacks;
  if (list == nullptr) return 0;  // nothing was ever attached
  if (!destroy) {
    list->clear();
    return 0;
  }
  std::vector<ConfigCallBack*> taken;
  for (unsigned i = 0;; ++i) {
    ConfigCallBack* cb = static_cast<ConfigCallBack*>(list->get(i));
    if (cb == nullptr) break;
    taken.push_back(cb);
  }
  list->clear();
  std::unordered_set<ConfigCallBack*> deleted;
  for (ConfigCallBack* cb : taken) {
    if (!deleted.insert(cb).second) continue;  // attached twice to this list
    MTRACE(readList ? "ConfigTable::clearRead(): callback %s\n"
                    : "ConfigTable::clearWrite(): callback %s\n",
           _name(cb));
    // The same callback may watch other keys or the other list of this key.
    _detachEverywhere(cb);
    delete cb;
  }
  return 0;
}

int ConfigTable::removeKey(const char* key) {
  if (key == nullptr) return -1;
  unsigned klen = _klen(key);
  ParamEntry e;
  if (!_entry(key, klen, &e)) return -1;
  // Callbacks first: they may also watch other keys, whose lists must not
  // keep a deleted callback.
  _clear(key, true, true);
  _clear(key, true, false);
  {
    MutexLock l(*paramTable->getMutex());
    char* stored = paramTable->Hash::get(key, klen);
    if (stored == nullptr) return -1;  // removed meanwhile
    std::memcpy(&e, stored, sizeof e);
    paramTable->Hash::del(key, klen);
  }
  valueTable->del(key, klen);
  delete e.description;
  delete e.readCallbacks;
  delete e.writeCallbacks;
  return 0;
}

void ConfigTable::destroyPropertyDescriptions() { _destroyAll(true); }

void ConfigTable::_destroyAll(bool removeEntries) {
  // The entries in bucket order (the order of keys()), copied in one locked
  // step; the keys only when the entries are to go one by one.
  std::vector<ParamEntry> entries;
  std::vector<std::string> keys;
  {
    MutexLock l(*paramTable->getMutex());
    Enumeration* v = paramTable->Hash::values();
    entries.reserve(v->getCount());
    while (v->hasMoreElements()) {
      enum_elem_t* p = v->nextElement();
      ParamEntry e{};
      if (p != nullptr && p->data != nullptr && p->length >= sizeof e)
        std::memcpy(&e, p->data, sizeof e);
      entries.push_back(e);
    }
  }
  if (removeEntries) keys = _copyKeys(paramTable);
  MTRACE("ConfigTable::destroyPropertyDescriptions(): removing properties...\n");
  for (const ParamEntry& e : entries) {
    if (e.description == nullptr) continue;
    MTRACE("ConfigTable::destroyPropertyDescriptions(): deleting \"%s\"\n",
           e.description->description->getData());
    delete e.description;
  }
  MTRACE("ConfigTable::destroyPropertyDescriptions(): removing callbacks...\n");
  // One callback may be attached to several lists: delete each only once.
  std::unordered_set<void*> deleted;
  for (const ParamEntry& e : entries) {
    for (PVector* list : {e.readCallbacks, e.writeCallbacks}) {
      if (list == nullptr) continue;
      for (unsigned i = 0;; ++i) {
        void* cb = list->get(i);
        if (cb == nullptr) break;
        if (deleted.insert(cb).second) delete static_cast<ConfigCallBack*>(cb);
      }
      delete list;
    }
  }
  // Going with the table, the entries need not leave it one by one.
  for (const std::string& k : keys) {
    unsigned klen = static_cast<unsigned>(k.size()) + 1;
    paramTable->del(k.c_str(), klen);
    valueTable->del(k.c_str(), klen);
  }
  for (const std::string& g : _copyKeys(groupTable)) {
    unsigned klen = static_cast<unsigned>(g.size()) + 1;
    PropertyGroup* group = reinterpret_cast<PropertyGroup*>(groupTable->get(g.c_str(), klen));
    if (removeEntries) groupTable->del(g.c_str(), klen);
    if (group == nullptr) continue;
    MTRACE("ConfigTable::destroyPropertyDescriptions(): group = %s\n", group->name->getData());
    delete group->members;
    delete group->name;
    delete group;
  }
  MTRACE("ConfigTable::destroyPropertyDescriptions(): ok\n");
}

}  // namespace MorvaneLib
