// DSO: a shared object opened with the dynamic loader (immediate binding,
// global symbols); the block framework loads its plug-ins with it.
#ifndef MOSAL_POSIX_DSO_H
#define MOSAL_POSIX_DSO_H

namespace MorvaneLib {

class DSO {
 public:
  // Throws LibError("DSO()", <loader error text>) when the object cannot be
  // opened.
  explicit DSO(const char* path);
  // Closes the handle: addresses taken from the object are invalid afterwards.
  virtual ~DSO();
  DSO(const DSO&) = delete;
  DSO& operator=(const DSO&) = delete;

  // The symbol's address, or null.
  void* operator[](const char* symbol);
  // The loader's last error text (null when there was none since the last
  // call); the text belongs to the loader.
  char* getError();

 private:
  void* _handle;
};

}  // namespace MorvaneLib

#endif
