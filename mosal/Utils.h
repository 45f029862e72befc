// Utils: the line reader shared by every text-file loader, and the text
// splitter shared by command lines and vectors.
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
  // The same; also writes how many real delimiters the record consumed
  // (continuations included) and whether the record was cut, so that a
  // caller can count physical lines and recognise the tail of a cut line.
  // Either pointer may be null.
  static int getDelim(char* buffer, unsigned size, char delimiter, FILE* stream,
                      unsigned* delimitersRead, bool* cut);

  // Receives one piece of splitText: `n` bytes at `piece` (not terminated).
  // A non-zero result stops the split and becomes its result.
  typedef int (*PieceSink)(void* context, const char* piece, unsigned n);

  // Splits `text` into pieces ending at any character of `delimiters` (null:
  // none) or at the end of the text. A double quote starts a quoted piece
  // that runs to the next double quote, delimiters included, with no escape;
  // unquoted characters collected before the opening quote are discarded and
  // the character after the closing quote is skipped. A quote left open runs
  // to the end of the text. With `trim`, leading white space and trailing
  // white space or control characters (judged on the 7-bit value) are
  // removed and empty pieces are skipped; without, every piece is handed on
  // unchanged, empty ones included. 0 at the end of the text, else the first
  // non-zero result of `sink`.
  static int splitText(const char* text, const char* delimiters, bool trim, PieceSink sink,
                       void* context);
};

}  // namespace MorvaneLib

#endif
