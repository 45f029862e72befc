// File: a path split into its directory and last component, with existence,
// size, directory listing (find with a FileFilter), directory creation and
// permission changes.
//
// The status and the entry count are taken once, at construction, and not
// refreshed. Not thread-safe. Splitting rules:
//   - components are the non-empty pieces between "/" (spaces and quotes
//     are ordinary characters of a name);
//   - _path is "/" for an absolute path, the working directory and "/" for a
//     relative one, then every component but the last, each followed by "/";
//   - _name is the last component; for "/" and for the empty path there is
//     none and _name is the empty string.
#ifndef MOSAL_POSIX_FILE_H
#define MOSAL_POSIX_FILE_H

#include <dirent.h>
#include <sys/stat.h>

#include "mosal/DataBuf.h"
#include "mosal/Error.h"

namespace MorvaneLib {

class FileFilter;
class Vector;

class File : public Error {
 public:
  enum { FOUND_SIZE = 1024 };  // element size of the found list

  // Never throws for an unusable path: it just does not exist.
  explicit File(const char* path);
  ~File() override;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // mkdir of the path with mode 755: the system call's result.
  int mkdir();
  // Every directory along the path from its first component on (absolute
  // paths from "/"), mode 755; existing directories are passed over. -1 at
  // the first other failure (also when a component exists but is not a
  // directory), else 0.
  int mkdirs();
  // Bits 0x001..0x100 = owner r,w,x, group r,w,x, others r,w,x; chmod's result.
  int changePerm(unsigned bits);
  // Creates the path (mode 644) if it does not exist; an existing file is
  // left unchanged. 0, or -1 (also for a directory).
  int createNewFile();
  // Null if the path is not a directory that can be opened. Otherwise the
  // found list (elements of 1024 bytes, each "<path>/<entry>" with its NUL,
  // cut at 1023 characters) of the entries that `filter` accepts (a null
  // filter accepts every entry). The list belongs to the File and lives
  // until the next find() or the File's destruction.
  Vector* find(FileFilter* filter);

  char* getPathname() const { return _pathname->getData(); }
  char* getPath() const { return _path->getData(); }
  char* getName() const { return _name->getData(); }
  bool exists() const { return _exists; }
  bool isDirectory() const { return _exists && S_ISDIR(_status.st_mode); }
  long long getSize() const { return _exists ? static_cast<long long>(_status.st_size) : 0; }
  const struct stat& getStatus() const { return _status; }
  // Entries of the directory ("." and ".." included), -1 if not a readable
  // directory.
  int getEntryCount() const { return _entryCount; }
  // The non-empty components (element size strlen(path) + 1); owned.
  Vector* getComponents() const { return _components; }

  // strerror of the last failing operation ("No error" before any).
  char* getErrorString() override;
  int getErrorCode() override { return _errno; }

 private:
  int _result(int r);

  DataBuf* _pathname;
  DataBuf* _path;
  DataBuf* _name;
  struct stat _status;
  DIR* _dir;
  struct dirent* _entry;
  bool _exists;
  int _entryCount;
  Vector* _components;
  Vector* _found;
  int _errno;
};

}  // namespace MorvaneLib

#endif
