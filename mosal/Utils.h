// Utils: the line reader shared by every text-file loader.
#ifndef MOSAL_UTILS_H
#define MOSAL_UTILS_H

#include <cstdio>

namespace MorvaneLib {

class Utils {
 public:
  // Reads one record ending in `delimiter` into `buffer`, which must hold
  // size + 1 bytes. A backslash right before the delimiter continues the
  // record on the next line (both are dropped); any other backslash is kept.
  // Returns the number of characters stored (delimiter included), followed
  // by a NUL. A record longer than size characters is cut: size - 1
  // characters, the delimiter and a NUL, result `size`; the characters not
  // stored are returned by the next call, none is lost. The last record of a
  // stream that ends without a delimiter is returned without one. -1 at end
  // of stream, or when size is below 2 or an argument is null.
  static int getDelim(char* buffer, unsigned size, char delimiter, FILE* stream);
};

}  // namespace MorvaneLib

#endif
