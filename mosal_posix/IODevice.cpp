// IODevice: identifier buffer, error text and the destructor's trace lines.
#include "mosal_posix/IODevice.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "mosal/Trace.h"

namespace MorvaneLib {

IODevice::IODevice()
    : _id(new DataBuf(10, 8888, 65536, ALLOC_ONCREATE)),
      _state(0),
      _handleType(0),
      _received(0),
      _sent(0) {
  _id->copy("", 1);
  _errorText[0] = '\0';
}

IODevice::~IODevice() {
  MTRACE("~IODevice(): id -> %p\n", static_cast<void*>(_id));
  MTRACE("~IODevice(): id addr = %p\n", static_cast<void*>(_id->getData()));
  MTRACE("~IODevice(): id->toString() = \"%s\"\n", _id->getData());
  delete _id;
  MTRACE("~IODevice(): done\n");
}

void IODevice::setErrorText(const char* text) {
  std::snprintf(_errorText, sizeof _errorText, "%s", text ? text : "");
}

void IODevice::setErrorFromErrno() { setErrorText(std::strerror(errno)); }

}  // namespace MorvaneLib
