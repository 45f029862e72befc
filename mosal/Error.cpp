// LibError: formats its location and reason into fixed arrays.
#include "mosal/Error.h"

#include <cstdarg>
#include <cstdio>

namespace MorvaneLib {

LibError::LibError(const char* loc, const char* format, ...) {
  std::snprintf(location, sizeof location, "%s", loc ? loc : "");
  reason[0] = '\0';
  if (format == nullptr) return;
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(reason, sizeof reason, format, ap);
  va_end(ap);
}

}  // namespace MorvaneLib
