// Utils: delimited records with backslash continuation and cutting; the
// quote-aware text splitter.
#include "mosal/Utils.h"

#include <cctype>
#include <cstring>

namespace MorvaneLib {

int Utils::getDelim(char* buffer, unsigned size, char delimiter, FILE* stream) {
  return getDelim(buffer, size, delimiter, stream, nullptr, nullptr);
}

int Utils::getDelim(char* buffer, unsigned size, char delimiter, FILE* stream,
                    unsigned* delimitersRead, bool* cut) {
  unsigned ends = 0;
  unsigned dummyEnds;
  bool dummyCut;
  if (delimitersRead == nullptr) delimitersRead = &dummyEnds;
  if (cut == nullptr) cut = &dummyCut;
  *delimitersRead = 0;
  *cut = false;
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
      if (next == delim) {  // continuation: both are dropped
        *delimitersRead = ++ends;
        continue;
      }
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
      *cut = true;
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
      *delimitersRead = ++ends;
      buffer[stored] = '\0';
      return static_cast<int>(stored);
    }
  }
}

namespace {

bool isSpace7(char c) { return std::isspace(static_cast<unsigned char>(c) & 0x7F) != 0; }
bool isTrailing7(char c) {
  int v = static_cast<unsigned char>(c) & 0x7F;
  return std::isspace(v) || std::iscntrl(v);
}

int emit(const char* p, unsigned n, bool trim, Utils::PieceSink sink, void* context) {
  if (trim) {
    while (n > 0 && isSpace7(*p)) {
      ++p;
      --n;
    }
    while (n > 0 && isTrailing7(p[n - 1])) --n;
    if (n == 0) return 0;
  }
  return sink(context, p, n);
}

}  // namespace

int Utils::splitText(const char* text, const char* delimiters, bool trim, PieceSink sink,
                     void* context) {
  if (text == nullptr || sink == nullptr) return 0;
  if (delimiters == nullptr) delimiters = "";
  const size_t len = std::strlen(text);
  size_t start = 0;  // first character of the current unquoted piece
  size_t i = 0;
  // Every position is looked at once, the terminating NUL last.
  while (i <= len) {
    char c = text[i];
    if (c == '"') {
      const char* close = static_cast<const char*>(std::memchr(text + i + 1, '"', len - i));
      size_t end = close != nullptr ? static_cast<size_t>(close - text) : len;
      int r = emit(text + i + 1, static_cast<unsigned>(end - i - 1), trim, sink, context);
      if (r != 0) return r;
      // The closing quote and the character after it are consumed; an open
      // quote has consumed the whole text.
      i = close != nullptr ? end + 2 : len + 1;
      start = i;
      continue;
    }
    if (c == '\0' || std::strchr(delimiters, c) != nullptr) {
      int r = emit(text + start, static_cast<unsigned>(i - start), trim, sink, context);
      if (r != 0) return r;
      start = i + 1;
    }
    ++i;
  }
  return 0;
}

}  // namespace MorvaneLib
