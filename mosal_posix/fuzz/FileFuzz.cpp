// Path splitting of File on arbitrary text: the directory part always ends
// in "/", the name never holds a "/", and directory plus name rebuild the
// path's components.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mosal/Trace.h"
#include "mosal_posix/File.h"

using namespace MorvaneLib;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = (Trace::setEnabled(false), true);
  (void)quiet;
  if (size > 4096) return 0;
  std::string path(reinterpret_cast<const char*>(data), size);
  path = path.c_str();  // a C string ends at its first NUL
  File f(path.c_str());
  const char* dir = f.getPath();
  const char* name = f.getName();
  size_t dl = std::strlen(dir);
  if (dl == 0 || dir[dl - 1] != '/') std::abort();
  if (std::strchr(name, '/') != nullptr) std::abort();
  if (std::strcmp(f.getPathname(), path.c_str()) != 0) std::abort();
  // The components of the path, joined with "/", end the same way as
  // directory + name do.
  std::string joined;
  for (const char* p = path.c_str(); *p;) {
    while (*p == '/') ++p;
    const char* s = p;
    while (*p && *p != '/') ++p;
    if (p > s) joined += "/" + std::string(s, static_cast<size_t>(p - s));
  }
  std::string rebuilt = std::string(dir) + name;
  if (!joined.empty() && (rebuilt.size() < joined.size() ||
                          rebuilt.compare(rebuilt.size() - joined.size(), joined.size(), joined)))
    std::abort();
  if (path[0] == '/' && rebuilt != (joined.empty() ? "/" : joined)) std::abort();
  return 0;
}
