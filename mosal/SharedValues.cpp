// SharedString: a NUL-terminated text in an owned DataBuf behind a mutex.
#include "mosal/SharedValues.h"

#include <cstring>

namespace MorvaneLib {

SharedString::SharedString() : buf(new DataBuf("")) {}

SharedString::~SharedString() { delete buf; }

char* SharedString::get() {
  lock();
  char* p = buf->getData();
  unlock();
  return p;
}

void SharedString::set(const char* text) {
  if (text == nullptr) text = "";
  unsigned n = static_cast<unsigned>(std::strlen(text)) + 1;
  lock();
  // Limit raised so a long text is never cut (and its NUL never lost).
  if (n > buf->getSize()) {
    DataBuf* grown = new DataBuf(n, 0, n, ALLOC_ONCREATE);
    delete buf;
    buf = grown;
  }
  buf->copy(text, n);
  unlock();
}

}  // namespace MorvaneLib
