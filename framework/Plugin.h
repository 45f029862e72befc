// Plug-ins: the registration record a plug-in fills, the Plugin the
// framework keeps for each loaded file, and the PluginLoader that finds,
// opens and closes them.
//
// A plug-in is a shared object (file name ending in ".so" or ".mrb") that
// exports the unmangled entry
//     extern "C" int mrb_register(plugin_record_t* record);
// which fills the record's texts, version and five entries and returns 0.
// The framework then calls the load entry with the manager, the type entry to
// learn the block type code (Plugin::provides), the set-up entry for every
// new block of the plug-in's type, the clean-up entry before such a block is
// deleted, and the unload entry before the object is closed.
//
// Registration record layout. The byte positions of the texts and of the
// version are part of the interface between plug-in and framework:
//
//   bytes    width     content
//   0-35     36        the framework's (magic, record size, flags; zero for
//                      the plug-in)
//   36-65    char[30]  block type name; byte 65 is forced to NUL
//   66-321   char[256] description; byte 321 forced to NUL
//   322-577  char[256] copyright line; byte 577 forced to NUL
//   578-595  char[18]  the framework prints the version text here
//   596-599  uint32    version, printed highest byte first as "%d.%d.%d.%d"
//   600-619  20        not touched
//   620-     the five entries, pointer-sized. With 32-bit pointers they sit
//            at 620-639; with 64-bit pointers 620-623 are padding and they
//            sit at 624-663, in the same order.
//
// Ownership: the loader owns every Plugin, its record and its DSO. Plugin
// pointers stay valid until unloadPlugin() or the manager's destruction.
#ifndef MORVANE_PLUGIN_H
#define MORVANE_PLUGIN_H

#include <cstddef>
#include <cstdint>
#include <atomic>
#include <mutex>

#include "mosal/ConfigTable.h"
#include "mosal/DataBuf.h"
#include "mosal/Error.h"
#include "mosal/Hash.h"
#include "mosal_posix/Mutex.h"

namespace MorvaneLib {

class Block;
class BlockManager;
class DSO;

// Entry 1: after loading, with the manager. 0, or -1 (the plug-in is closed).
typedef int (*plugin_load_t)(BlockManager* manager);
// Entry 2: before closing, with the manager. 0 or -1 (reported, not fatal).
typedef int (*plugin_unload_t)(BlockManager* manager);
// Entry 3: the block type code (Block::TYPE_*); the argument is unused (null).
typedef int (*plugin_type_t)(void* unused);
// Entry 4: sets up a new block of this type before its thread starts.
// 0, or -1 (the block is not made).
typedef int (*plugin_setup_t)(Block* block);
// Entry 5: called with each block of this type after its thread has ended and
// before it is deleted, to free what the plug-in keeps for it. Result ignored.
typedef int (*plugin_cleanup_t)(Block* block);

struct plugin_record_t {
  enum { NAME_SIZE = 30, TEXT_SIZE = 256, VERSION_TEXT_SIZE = 18 };
  enum : uint32_t { MAGIC = 0x3142524du };  // "MRB1"

  uint32_t magic;        // 0: MAGIC, set by the framework
  uint32_t recordSize;   // 4: sizeof(plugin_record_t), set by the framework
  uint32_t flags;        // 8: zero
  uint32_t reserved0[6]; // 12-35
  char name[NAME_SIZE];                 // 36
  char description[TEXT_SIZE];          // 66
  char copyright[TEXT_SIZE];            // 322
  char versionText[VERSION_TEXT_SIZE];  // 578
  uint32_t version;                     // 596
  char reserved1[20];                   // 600
#if UINTPTR_MAX > 0xffffffffu
  uint32_t pad;                         // 620: aligns the entries
#endif
  plugin_load_t load;        // entry 1
  plugin_unload_t unload;    // entry 2
  plugin_type_t type;        // entry 3
  plugin_setup_t setup;      // entry 4
  plugin_cleanup_t cleanup;  // entry 5
};
static_assert(offsetof(plugin_record_t, name) == 36, "name at 36");
static_assert(offsetof(plugin_record_t, description) == 66, "description at 66");
static_assert(offsetof(plugin_record_t, copyright) == 322, "copyright at 322");
static_assert(offsetof(plugin_record_t, versionText) == 578, "version text at 578");
static_assert(offsetof(plugin_record_t, version) == 596, "version at 596");
#if UINTPTR_MAX > 0xffffffffu
static_assert(offsetof(plugin_record_t, load) == 624, "entries at 624 with 64-bit pointers");
static_assert(sizeof(plugin_record_t) == 664, "record size with 64-bit pointers");
#else
static_assert(offsetof(plugin_record_t, load) == 620, "entries at 620");
#endif

typedef int (*plugin_register_t)(plugin_record_t* record);

// Declares the registration entry of a plug-in with C linkage and default
// visibility: MORVANE_PLUGIN_REGISTER(record) { ...; return 0; }
#define MORVANE_PLUGIN_REGISTER(arg) \
  extern "C" __attribute__((visibility("default"))) int mrb_register(::MorvaneLib::plugin_record_t* arg)

// A loaded plug-in.
class Plugin {
 public:
  char* getName() { return _record.name; }
  char* getInfo() { return _record.description; }
  char* getCopyright() { return _record.copyright; }
  uint32_t getVersion() const { return _record.version; }
  // "%d.%d.%d.%d" of the version's bytes, highest first.
  char* getVersionString() { return _record.versionText; }
  // The canonical path of the file.
  char* getPath() { return _path->getData(); }
  plugin_record_t* getRecord() { return &_record; }
  // Blocks of this plug-in alive now (finished ones included until deleted).
  unsigned getInstanceCount();
  // True when loadLocal() found it (false: loaded by path).
  bool isLocal() const { return _local; }
  // The plug-in's own properties (64 buckets, owned): defaults for its new
  // blocks. After the set-up entry has run, every int, double and string
  // property of this table is copied into the new block's table (an
  // application that must hand a block a value before it exists, such as a
  // window id, sets it here).
  ConfigTable* getProperties() { return _properties; }

  // The block type code from the type entry (Block::getTypeString names it).
  int provides;

 private:
  friend class PluginLoader;
  friend class BlockManager;
  Plugin();
  ~Plugin();

  plugin_record_t _record;
  ConfigTable* _properties;
  DataBuf* _path;
  DSO* _dso;
  bool _local;
  std::atomic<unsigned> _instances;  // changed under the loader's mutex
};

// Finds plug-in files, opens them with DSO, and keeps the plug-in tables.
//
// Search path of loadLocal(), in this order: the directories of the
// environment variable MOSAL_PLUGIN_PATH (separated by ':'), the manager's
// global setting "morvane.paths.plugins" (same form), the build tree's
// plug-in folder and the install prefix's (lib/morvane/plugins). A directory
// met twice, and a file already loaded, are passed over. Setting
// MORVANE_PLUGIN_DEFAULTS=0 leaves out the build and install folders.
class PluginLoader : public Error {
 public:
  explicit PluginLoader(BlockManager* manager);
  ~PluginLoader() override;
  PluginLoader(const PluginLoader&) = delete;
  PluginLoader& operator=(const PluginLoader&) = delete;

  // Scans the search path and loads every plug-in file not loaded yet,
  // driving the manager's splash. 0 when the scan ran (files that fail are
  // reported in the error text and the log and passed over); -1 when no
  // directory of the search path could be read.
  int loadLocal();
  // Opens the file, calls mrb_register, checks the record, calls the load
  // entry and files the plug-in. 0, also when that file is loaded already;
  // -1 with the error text set when the file cannot be opened, has no
  // mrb_register, refuses to register, names no type, names a type that is
  // loaded from another file, or its load entry fails.
  int loadPlugin(const char* path);
  // Calls the unload entry, closes the file and forgets the plug-in. -1 when
  // the plug-in is not loaded or still has blocks (destroy them first).
  int unloadPlugin(Plugin* plugin);
  // Unloads every plug-in that has no blocks; the number left loaded.
  unsigned unloadAll();

  // Lookups (null when absent). Paths are compared in canonical form.
  Plugin* getPlugin(const char* typeName);
  Plugin* getPluginByPath(const char* path);
  // Type name (with NUL) -> Plugin*, and canonical path -> Plugin*.
  SharedHash* getPluginTable() { return _byName; }
  SharedHash* getPathTable() { return _byPath; }
  // Plug-ins in loading order (a copy).
  unsigned listPlugins(Plugin** out, unsigned max);
  // The directories loadLocal() searches, ':'-separated (owned).
  char* getSearchPath();

  char* getErrorString() override;

 private:
  friend class BlockManager;
  void _setError(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int _load(const char* path, bool local);
  void _close(Plugin* p, bool callUnload);

  BlockManager* _manager;
  SharedHash* _byName;
  SharedHash* _byPath;
  std::recursive_mutex _loading;  // one load or unload at a time
  Mutex _lock;                    // loading order, instance counts, texts
  Plugin** _order;
  unsigned _count;
  unsigned _capacity;
  DataBuf* _error;
  DataBuf* _search;
};

}  // namespace MorvaneLib

#endif
