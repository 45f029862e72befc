// DSO: dlopen/dlsym/dlclose with the loader's error texts.
#include "mosal_posix/DSO.h"

#include <dlfcn.h>

#include "mosal/Error.h"
#include "mosal/Trace.h"

namespace MorvaneLib {

DSO::DSO(const char* path) : _handle(nullptr) {
  MTRACE("opening dso \"%s\" in NOW e GLOBAL mode\n", path ? path : "(null)");
  if (path == nullptr) throw LibError("DSO()", "%s", "no path given");
  _handle = dlopen(path, RTLD_NOW | RTLD_GLOBAL);
  if (_handle == nullptr) {
    const char* e = dlerror();
    throw LibError("DSO()", "%s", e ? e : "cannot open shared object");
  }
}

DSO::~DSO() {
  if (_handle) dlclose(_handle);
}

void* DSO::operator[](const char* symbol) {
  if (symbol == nullptr) return nullptr;
  return dlsym(_handle, symbol);
}

char* DSO::getError() { return dlerror(); }

}  // namespace MorvaneLib
