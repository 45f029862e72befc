// ResourceDB: the per-locale resource file, loaded into a process-wide
// key=value table (Hash::loadKV rules). Static members only; safe to call
// from several threads.
#ifndef MOSAL_RESOURCEDB_H
#define MOSAL_RESOURCEDB_H

#include "mosal/Hash.h"

namespace MorvaneLib {

class ResourceDB {
 public:
  // Loads "<directory>/resdb.<locale>" (the message locale, taken once from
  // setlocale(LC_MESSAGES, "")) into the process-wide table. 0 when the
  // directory could be listed (also when no such file is in it), -1 when
  // it cannot be listed or no locale name is available.
  static int loadResourceFile(const char* directory);
  // The process-wide table (255 buckets), null before the first load.
  static SharedHash* getResourceTable();
  // The locale name, null before the first load.
  static const char* getLocale();

 private:
  static SharedHash* _resourceTable;
  static char* _locale;
};

}  // namespace MorvaneLib

#endif
