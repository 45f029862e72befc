// File: path splitting, status and entry count, directory creation,
// permissions and filtered directory listings.
#include "mosal_posix/File.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mosal/Vector.h"
#include "mosal/Trace.h"
#include "mosal_posix/FileFilter.h"

namespace MorvaneLib {

namespace {

// The non-empty pieces of `path` between slashes, unchanged.
std::vector<std::string> splitPath(const char* path) {
  std::vector<std::string> parts;
  const char* p = path;
  while (*p) {
    while (*p == '/') ++p;
    const char* start = p;
    while (*p && *p != '/') ++p;
    if (p > start) parts.emplace_back(start, static_cast<size_t>(p - start));
  }
  return parts;
}

std::string workingDirectory() {
  char* cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) return ".";
  std::string s(cwd);
  std::free(cwd);
  return s;
}

bool isDir(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

File::File(const char* path)
    : _pathname(nullptr),
      _path(nullptr),
      _name(nullptr),
      _dir(nullptr),
      _entry(nullptr),
      _exists(false),
      _entryCount(-1),
      _components(nullptr),
      _found(nullptr),
      _errno(0) {
  if (path == nullptr) path = "";
  std::memset(&_status, 0, sizeof _status);
  std::vector<std::string> parts = splitPath(path);

  std::string dir;
  if (path[0] == '/') {
    dir = "/";
  } else {
    dir = workingDirectory();
    if (dir.empty() || dir.back() != '/') dir += '/';
  }
  for (size_t i = 0; i + 1 < parts.size(); ++i) dir += parts[i] + "/";

  _pathname = new DataBuf(path);
  _path = new DataBuf(dir.c_str());
  _name = new DataBuf(parts.empty() ? "" : parts.back().c_str());
  _components = new Vector(static_cast<unsigned>(std::strlen(path)) + 1, 5, 3);
  for (const std::string& c : parts)
    _components->addElement(c.c_str(), static_cast<unsigned>(c.size()) + 1);
  _found = new Vector(FOUND_SIZE, 5, 3);

  MTRACE("File(): _name = %s\n", getName());
  MTRACE("File(): _path = %s\n", getPath());
  MTRACE("File(): _pathname = %s\n", getPathname());

  _exists = ::stat(path, &_status) == 0;
  if (!_exists) {
    _errno = errno;
    std::memset(&_status, 0, sizeof _status);
  }
  if (isDirectory()) {
    DIR* d = opendir(path);
    if (d != nullptr) {
      int n = 0;
      while (readdir(d) != nullptr) ++n;
      closedir(d);
      _entryCount = n;
    }
  }
}

File::~File() {
  if (_dir) closedir(_dir);
  delete _found;
  delete _components;
  delete _name;
  delete _path;
  delete _pathname;
}

int File::_result(int r) {
  if (r != 0) _errno = errno;
  return r;
}

char* File::getErrorString() {
  static char noError[] = "No error";
  return _errno ? std::strerror(_errno) : noError;
}

int File::mkdir() { return _result(::mkdir(getPathname(), 0755)); }

int File::mkdirs() {
  const char* path = getPathname();
  std::vector<std::string> parts = splitPath(path);
  if (parts.empty()) {
    // "/" or the empty path: there is nothing to create.
    if (path[0] == '/') return 0;
    errno = ENOENT;
    return _result(-1);
  }
  std::string prefix = path[0] == '/' ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i) {
    prefix += parts[i];
    if (::mkdir(prefix.c_str(), 0755) != 0) {
      if (errno != EEXIST) return _result(-1);
      if (!isDir(prefix.c_str())) {
        errno = ENOTDIR;
        return _result(-1);
      }
    }
    prefix += '/';
  }
  return 0;
}

int File::changePerm(unsigned bits) {
  static const struct {
    unsigned bit;
    mode_t mode;
  } kMap[] = {{0x001, S_IRUSR}, {0x002, S_IWUSR}, {0x004, S_IXUSR},
              {0x008, S_IRGRP}, {0x010, S_IWGRP}, {0x020, S_IXGRP},
              {0x040, S_IROTH}, {0x080, S_IWOTH}, {0x100, S_IXOTH}};
  mode_t mode = 0;
  for (const auto& m : kMap)
    if (bits & m.bit) mode |= m.mode;
  return _result(::chmod(getPathname(), mode));
}

int File::createNewFile() {
  int fd;
  do {
    fd = ::open(getPathname(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return _result(-1);
  ::close(fd);
  return 0;
}

Vector* File::find(FileFilter* filter) {
  if (!isDirectory()) return nullptr;
  _dir = opendir(getPathname());
  if (_dir == nullptr) {
    _errno = errno;
    return nullptr;
  }
  Vector* fresh = new Vector(FOUND_SIZE, 5, 3);
  delete _found;
  _found = fresh;

  const char* base = getPathname();
  size_t baseLen = std::strlen(base);
  // "/" and "dir/" are not given a second slash.
  const char* sep = (baseLen > 0 && base[baseLen - 1] == '/') ? "" : "/";
  char entry[FOUND_SIZE];
  while ((_entry = readdir(_dir)) != nullptr) {
    if (filter != nullptr && !filter->accept(_entry->d_name)) continue;
    std::snprintf(entry, sizeof entry, "%s%s%s", base, sep, _entry->d_name);
    MTRACE("File::find(): adding %s\n", entry);
    _found->addElement(entry, static_cast<unsigned>(std::strlen(entry)) + 1);
  }
  closedir(_dir);
  _dir = nullptr;
  return _found;
}

}  // namespace MorvaneLib
