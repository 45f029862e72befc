// ConfigStorage: one text file per ConfigTable in a data directory.
#include "mosal/ConfigStorage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mosal/Trace.h"

namespace MorvaneLib {

namespace {

bool _isDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates `path` and any missing parent, each with mode 0755.
bool _makeDirectories(const std::string& path) {
  if (_isDirectory(path)) return true;
  for (size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
    std::string part = path.substr(0, pos);
    if (!part.empty() && !_isDirectory(part)) {
      if (::mkdir(part.c_str(), 0755) != 0 && !(errno == EEXIST && _isDirectory(part)))
        return false;
    }
    if (pos == std::string::npos) break;
  }
  return _isDirectory(path);
}

enum LineResult { LINE_END_OF_FILE, LINE_READ, LINE_TOO_LONG };

// Reads one logical line (without its end) with the rules of the key=value
// files: a backslash right before the line end joins the next physical line;
// any other backslash is kept. A last line without a line end still counts.
// A line longer than `limit` is consumed to its end and reported as too long.
LineResult _readLine(FILE* f, std::string& line, size_t limit) {
  line.clear();
  bool any = false, tooLong = false;
  for (;;) {
    int c = std::getc(f);
    if (c == EOF) break;
    any = true;
    if (c == '\\') {
      int n = std::getc(f);
      if (n == '\n') continue;  // continuation: both dropped
      if (n != EOF) std::ungetc(n, f);
    } else if (c == '\n') {
      break;
    }
    if (line.size() < limit)
      line.push_back(static_cast<char>(c));
    else
      tooLong = true;
  }
  if (!any) return LINE_END_OF_FILE;
  return tooLong ? LINE_TOO_LONG : LINE_READ;
}

// Splits a line in place into key and value; false for a line to ignore.
bool _splitLine(char* line, char** key, char** value) {
  size_t n = std::strlen(line);
  while (n > 0 && (line[n - 1] == ' ' || line[n - 1] == '\t' || line[n - 1] == '\r' ||
                   line[n - 1] == '\n'))
    line[--n] = '\0';
  while (*line == ' ' || *line == '\t') ++line;
  if (*line == '\0' || *line == '#') return false;
  char* eq = std::strchr(line, '=');
  char* v = const_cast<char*>("");
  if (eq != nullptr) {
    *eq = '\0';
    v = eq + 1;
    while (*v == ' ' || *v == '\t') ++v;
  }
  char* space = std::strchr(line, ' ');
  if (space != nullptr) *space = '\0';
  *key = line;
  *value = v;
  return true;
}

// strtol with base 0, held to the 32-bit int range the table stores.
int _toInt(const char* text) {
  long v = std::strtol(text, nullptr, 0);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

// The text of a string value as it goes into the file: up to its first line
// end (a line end would start a new property line), and with a blank after a
// final backslash, which would otherwise join the next line (the blank is
// removed again when the line is read).
std::string _fileText(const char* s) {
  std::string out(s, std::strcspn(s, "\n"));
  if (!out.empty() && out.back() == '\\') out.push_back(' ');
  return out;
}

}  // namespace

// ------------------------------------------------------------ ConfigStorage

ConfigStorage::ConfigStorage(const char* dataDirectory, unsigned buckets)
    : _directory(nullptr), _tables(nullptr), _error(nullptr) {
  if (dataDirectory == nullptr || *dataDirectory == '\0' ||
      !_makeDirectories(dataDirectory))
    throw LibError("ConfigStorage()", "Cannot create data directory");
  _directory = new DataBuf(dataDirectory);
  _tables = new SharedHash(buckets);
  _error = new DataBuf("");
}

ConfigStorage::~ConfigStorage() {
  delete _tables;
  delete _directory;
  delete _error;
}

void ConfigStorage::_setError(const char* text) {
  _error->xcopy(text, static_cast<unsigned>(std::strlen(text)) + 1);
}

const char* ConfigStorage::_fileName(ConfigTable* t) {
  const char* name = t ? t->getStorageFilename() : nullptr;
  // Only a plain name inside the data directory.
  if (name == nullptr || *name == '\0' || std::strchr(name, '/') != nullptr ||
      std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
    _setError("table not ready for storage");
    return nullptr;
  }
  return name;
}

int ConfigStorage::reg(ConfigTable* t) {
  const char* name = _fileName(t);
  if (name == nullptr) return -1;
  unsigned klen = static_cast<unsigned>(std::strlen(name)) + 1;
  return _tables->pput(name, klen, t, false);
}

int ConfigStorage::unreg(ConfigTable* t) {
  const char* name = _fileName(t);
  if (name == nullptr) return -1;
  unsigned klen = static_cast<unsigned>(std::strlen(name)) + 1;
  // Another table registered under the same name keeps its registration.
  if (reinterpret_cast<ConfigTable*>(_tables->get(name, klen)) != t) return -1;
  return _tables->del(name, klen) == 0 ? 0 : -1;
}

int ConfigStorage::save(ConfigTable* t) {
  const char* name = _fileName(t);
  if (name == nullptr) return -1;
  std::string path = std::string(_directory->getData()) + "/" + name;
  MTRACE("file: %s\n", path.c_str());

  // Written beside the old file (mkstemp: mode 0600) and renamed over it.
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(&temp[0]);
  if (fd < 0) {
    _setError("open error");
    return -1;
  }
  FILE* f = ::fdopen(fd, "w");
  if (f == nullptr) {
    ::close(fd);
    ::unlink(temp.c_str());
    _setError("open error");
    return -1;
  }

  bool failed = false;
  std::vector<std::string> keys;
  {
    Enumeration* e = t->getParamTable()->keys();
    while (e != nullptr && e->hasMoreElements()) {
      enum_elem_t* p = e->nextElement();
      if (p != nullptr && p->data != nullptr && p->length > 0)
        keys.emplace_back(p->data, p->length - 1);
    }
  }
  for (const std::string& k : keys) {
    const char* key = k.c_str();
    Property* d = t->getPropertyDescription(key);
    if (d == nullptr) {
      _setError("property descriptor not registered");
      MTRACE("ConfigStorage::save(): %s not registered\n", key);
      continue;
    }
    int r = 0;
    switch (d->type) {
      case TYPE_INT: {
        int v;
        if (t->getInt(key, &v) == 0) r = std::fprintf(f, "%s=%d\n", key, v);
        break;
      }
      case TYPE_DOUBLE: {
        double v;
        if (t->getDouble(key, &v) == 0) r = std::fprintf(f, "%s=%f\n", key, v);
        break;
      }
      case TYPE_STRING: {
        char* v;
        if (t->getString(key, &v) == 0)
          r = std::fprintf(f, "%s=%s\n", key, _fileText(v).c_str());
        break;
      }
      default:  // objects are not stored
        break;
    }
    if (r < 0) {
      failed = true;
      break;
    }
  }
  if (std::fflush(f) != 0 || ::fsync(fileno(f)) != 0) failed = true;
  if (std::fclose(f) != 0) failed = true;
  if (!failed && ::rename(temp.c_str(), path.c_str()) != 0) failed = true;
  if (failed) {
    ::unlink(temp.c_str());
    _setError("write error");
    return -1;
  }
  return 0;
}

int ConfigStorage::_storeLine(ConfigTable* t, char* line) {
  char *key, *value;
  if (!_splitLine(line, &key, &value)) return 0;
  Property* d = t->getPropertyDescription(key);
  if (d == nullptr) {
    _setError("property descriptor not registered");
    MTRACE("ConfigStorage::load(): %s not registered\n", key);
    return 0;
  }
  switch (d->type) {
    case TYPE_INT: return t->setInt(key, _toInt(value));
    case TYPE_DOUBLE: return t->setDouble(key, std::strtod(value, nullptr));
    case TYPE_STRING:
      return t->setString(key, value, static_cast<unsigned>(std::strlen(value)) + 1);
    default: return 0;  // object lines are ignored
  }
}

int ConfigStorage::load(ConfigTable* t) {
  const char* name = _fileName(t);
  if (name == nullptr) return -1;
  std::string path = std::string(_directory->getData()) + "/" + name;
  MTRACE("file: %s\n", path.c_str());
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) {
    _setError("open error");
    return -1;
  }
  std::string line;
  for (;;) {
    LineResult r = _readLine(f, line, MAX_LINE);
    if (r == LINE_END_OF_FILE) break;
    if (r == LINE_TOO_LONG) {
      _setError("line too long");
      continue;
    }
    if (_storeLine(t, &line[0]) == -1) {
      std::fclose(f);
      _setError("cannot store property");
      return -1;
    }
  }
  // A read failure (a directory in the file's place, an I/O error) is not
  // the end of the file.
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    _setError("read error");
    return -1;
  }
  return 0;
}

// The registered tables, copied out: saving or loading one may change the
// registry's listing.
std::vector<ConfigTable*> ConfigStorage::_registered() {
  std::vector<ConfigTable*> tables;
  Enumeration* e = _tables->values();
  while (e != nullptr && e->hasMoreElements()) {
    enum_elem_t* p = e->nextElement();
    if (p != nullptr && p->data != nullptr)
      tables.push_back(reinterpret_cast<ConfigTable*>(p->data));
  }
  return tables;
}

int ConfigStorage::saveAll() {
  int result = 0;
  for (ConfigTable* t : _registered())
    if (save(t) != 0) result = -1;
  return result;
}

int ConfigStorage::loadAll() {
  int result = 0;
  for (ConfigTable* t : _registered())
    if (load(t) != 0) result = -1;
  return result;
}

}  // namespace MorvaneLib
