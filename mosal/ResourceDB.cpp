// ResourceDB: the resource file of the message locale, loaded into one
// process-wide table.
#include "mosal/ResourceDB.h"

#include <cstdlib>
#include <cstring>
#include <clocale>
#include <mutex>
#include <string>

#include "mosal/Trace.h"
#include "mosal/Vector.h"
#include "mosal_posix/File.h"
#include "mosal_posix/FileFilter.h"

namespace MorvaneLib {

SharedHash* ResourceDB::_resourceTable = nullptr;
char* ResourceDB::_locale = nullptr;

namespace {
std::mutex& _resourceMutex() {
  static std::mutex m;
  return m;
}
}  // namespace

int ResourceDB::loadResourceFile(const char* directory) {
  std::lock_guard<std::mutex> l(_resourceMutex());
  if (_resourceTable == nullptr) _resourceTable = new SharedHash(255);
  if (_locale == nullptr) {
    const char* name = std::setlocale(LC_MESSAGES, "");
    if (name == nullptr) return -1;
    _locale = ::strdup(name);
    if (_locale == nullptr) return -1;
  }
  if (directory == nullptr) return -1;
  std::string wanted = std::string(FilterResDB::_name) + "." + _locale;
  MTRACE("DEBUG FilterResDB: %s\n", wanted.c_str());
  File dir(directory);
  FilterResDB filter(wanted.c_str());
  Vector* found = dir.find(&filter);
  if (found == nullptr) return -1;
  if (found->size() > 0) _resourceTable->loadKV(found->elementAt(0));
  return 0;
}

SharedHash* ResourceDB::getResourceTable() {
  std::lock_guard<std::mutex> l(_resourceMutex());
  return _resourceTable;
}

const char* ResourceDB::getLocale() {
  std::lock_guard<std::mutex> l(_resourceMutex());
  return _locale;
}

}  // namespace MorvaneLib
