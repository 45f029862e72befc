// FileFilter: the choice of directory entries for File::find, and FilterResDB,
// the filter that keeps the one resource file of a locale.
#ifndef MOSAL_POSIX_FILEFILTER_H
#define MOSAL_POSIX_FILEFILTER_H

#include "mosal/DataBuf.h"

namespace MorvaneLib {

class FileFilter {
 public:
  virtual ~FileFilter() = default;
  // True for a directory entry name to keep.
  virtual bool accept(const char* name) = 0;
};

// Accepts exactly one entry name (exact, case-sensitive comparison).
class FilterResDB : public FileFilter {
 public:
  // Stem of the resource file names: "resdb", then "." and the locale name.
  static const char _name[];

  // Copies `name`; a null name accepts nothing.
  explicit FilterResDB(const char* name);
  ~FilterResDB() override;
  FilterResDB(const FilterResDB&) = delete;
  FilterResDB& operator=(const FilterResDB&) = delete;

  bool accept(const char* name) override;

 private:
  DataBuf* _wanted;  // owned; null when constructed with a null name
};

}  // namespace MorvaneLib

#endif
