// Error base class of the library objects and LibError, the one exception type.
//
// Error convention of the whole library: only constructors throw, and only
// LibError (location = class name and "()", reason = formatted text). Other
// operations return an int (0 success, -1 failure, a few positive codes) and
// keep the text of their last failure for getErrorString().
#ifndef MOSAL_ERROR_H
#define MOSAL_ERROR_H

namespace MorvaneLib {

class Error {
 public:
  virtual ~Error() = default;
  // A hook; the base does nothing.
  virtual void printError(const char* text) { (void)text; }
  // Text of the object's last error; the base has none (null).
  virtual char* getErrorString() { return nullptr; }
  // Code of the object's last error; the base answers 0.
  virtual int getErrorCode() { return 0; }
};

class LibError {
 public:
  enum { LOCATION_SIZE = 50, REASON_SIZE = 128 };

  // Both texts are cut to fit and always NUL-terminated.
  LibError(const char* location, const char* format, ...)
      __attribute__((format(printf, 3, 4)));

  const char* getReason() const { return reason; }
  const char* getLocation() const { return location; }

 private:
  char location[LOCATION_SIZE];
  char reason[REASON_SIZE];
};

}  // namespace MorvaneLib

#endif
