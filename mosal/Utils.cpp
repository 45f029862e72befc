// Utils::getDelim: delimited records with backslash continuation and cutting.
#include "mosal/Utils.h"

namespace MorvaneLib {

int Utils::getDelim(char* buffer, unsigned size, char delimiter, FILE* stream) {
  if (buffer == nullptr || stream == nullptr || size < 2) return -1;
  const int delim = static_cast<unsigned char>(delimiter);
  unsigned stored = 0;
  int pending = EOF;  // a character read ahead that still has to be handled
  bool havePending = false;
  for (;;) {
    int c;
    if (havePending) {
      c = pending;
      havePending = false;
    } else {
      c = std::getc(stream);
    }
    if (c == EOF) {
      if (stored == 0) return -1;
      // The last record of the stream has no delimiter: hand it out as it is.
      buffer[stored] = '\0';
      return static_cast<int>(stored);
    }
    int next = EOF;
    bool backslash = false;
    if (c == '\\') {
      next = std::getc(stream);
      if (next == delim) continue;  // continuation: both are dropped
      backslash = true;
    }
    if (stored == size - 1 && c != delim) {
      // Only the delimiter still fits: cut the record here and leave what
      // was read ahead in the stream for the next call.
      if (backslash) {
        if (next != EOF) std::ungetc(next, stream);
        std::ungetc('\\', stream);  // the C library keeps two pushed-back characters
      } else {
        std::ungetc(c, stream);
      }
      buffer[stored++] = delimiter;
      buffer[stored] = '\0';
      return static_cast<int>(size);
    }
    buffer[stored++] = static_cast<char>(c);
    if (backslash) {
      // The character after a kept backslash is read normally.
      if (next == EOF) {
        buffer[stored] = '\0';
        return static_cast<int>(stored);
      }
      pending = next;
      havePending = true;
      continue;
    }
    if (c == delim) {
      buffer[stored] = '\0';
      return static_cast<int>(stored);
    }
  }
}

}  // namespace MorvaneLib
