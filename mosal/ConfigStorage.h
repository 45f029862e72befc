// ConfigStorage keeps ConfigTables in text files of one data directory, one
// file per table.
//
// Storage file: <data directory>/<table's getStorageFilename()>, one line
// "key=value" per described int, double or string property, in the order of
// the table's paramTable (bucket order). Ints are written with %d, doubles
// with %f, strings as they are (a string is written up to its first line
// end). Object properties and undescribed keys give no line. The file is
// replaced as a whole: written beside the old one and renamed over it, so a
// failed save leaves the previous file intact. Files are readable and
// writable by their owner only (0600): a table may hold a password.
//
// Reading follows the key=value rules of Hash::loadKV: a backslash before
// the line end joins lines; trailing spaces, tabs, CR and LF are removed,
// leading spaces and tabs skipped; empty lines and lines starting with "#"
// are ignored; the key is the text before the first "=", cut at its first
// space; the value the text after it, leading blanks skipped. The last line
// counts even without a line end. Ints are read with strtol(value, 0, 0)
// (0x.. hexadecimal, a leading 0 octal), clamped to the int range; doubles
// with strtod. Only keys the table already has and describes are loaded, so
// a table is filled with its defaults and described before load().
//
// Registered tables are not owned and must be unregistered before they are
// destroyed. save()/load() take no lock beyond those of the ConfigTable
// operations they call: saving and loading one table at once from two
// threads is the caller's concern.
#ifndef MOSAL_CONFIGSTORAGE_H
#define MOSAL_CONFIGSTORAGE_H

#include <vector>

#include "mosal/ConfigTable.h"
#include "mosal/DataBuf.h"
#include "mosal/Error.h"
#include "mosal/Hash.h"

namespace MorvaneLib {

class ConfigStorage : public Error {
 public:
  // A logical line longer than this is skipped whole (its end included).
  enum { MAX_LINE = 1 << 20 };

  // Uses `dataDirectory`, creating it (and missing parents) with mode 0755
  // if it does not exist. Throws LibError("ConfigStorage()",
  // "Cannot create data directory") when that fails or the path is not a
  // directory.
  ConfigStorage(const char* dataDirectory, unsigned buckets);
  ~ConfigStorage() override;
  ConfigStorage(const ConfigStorage&) = delete;
  ConfigStorage& operator=(const ConfigStorage&) = delete;

  // Registers t under its storage file name: 0; 10 if a table of that file
  // name is registered already (t is not); -1 for a table without a usable
  // file name ("table not ready for storage") or on memory failure.
  int reg(ConfigTable* t);
  // Removes t's registration: 0, or -1 when t is not the table registered
  // under its name.
  int unreg(ConfigTable* t);

  // Write or read t's file; t need not be registered. 0 or -1, with the
  // error text set (a save or load that skipped undescribed keys returns 0
  // and leaves "property descriptor not registered" set).
  int save(ConfigTable* t);
  int load(ConfigTable* t);
  // save()/load() every registered table, in the registered table's order;
  // every table is tried. -1 if any of them failed, else 0.
  int saveAll();
  int loadAll();

  // The data directory (owned by the storage).
  char* getDataDirectory() { return _directory->getData(); }
  // The text of the last failure ("" until one happens).
  char* getErrorString() override { return _error->getData(); }

 private:
  std::vector<ConfigTable*> _registered();
  void _setError(const char* text);
  // The storage file name of t, or null (error text set) when t has none
  // or it is not a plain file name.
  const char* _fileName(ConfigTable* t);
  int _storeLine(ConfigTable* t, char* line);

  DataBuf* _directory;
  SharedHash* _tables;  // file name -> ConfigTable* (by pointer, not owned)
  DataBuf* _error;
};

}  // namespace MorvaneLib

#endif
