// FilterResDB: exact-name directory filter for the resource database files.
#include "mosal_posix/FileFilter.h"

#include <cstring>

namespace MorvaneLib {

const char FilterResDB::_name[] = "resdb";

FilterResDB::FilterResDB(const char* name) : _wanted(name ? new DataBuf(name) : nullptr) {}

FilterResDB::~FilterResDB() { delete _wanted; }

bool FilterResDB::accept(const char* name) {
  if (_wanted == nullptr || name == nullptr) return false;
  return std::strcmp(_wanted->getData(), name) == 0;
}

}  // namespace MorvaneLib
