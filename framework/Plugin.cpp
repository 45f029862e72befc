// Plugin and PluginLoader: finding plug-in files, opening them, checking
// their registration records, and closing them again.
#include "framework/Plugin.h"

#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "framework/BlockManager.h"
#include "mosal/Logger.h"
#include "mosal/Trace.h"
#include "mosal/Vector.h"
#include "mosal_posix/DSO.h"
#include "mosal_posix/File.h"
#include "mosal_posix/FileFilter.h"

#ifndef MORVANE_BUILD_PLUGIN_DIR
#define MORVANE_BUILD_PLUGIN_DIR ""
#endif
#ifndef MORVANE_INSTALL_PLUGIN_DIR
#define MORVANE_INSTALL_PLUGIN_DIR ""
#endif

namespace MorvaneLib {

namespace {

bool endsWith(const char* s, const char* tail) {
  size_t n = std::strlen(s), t = std::strlen(tail);
  return n > t && std::strcmp(s + n - t, tail) == 0;
}

// Plug-in files: "*.so" and "*.mrb".
class PluginFilter : public FileFilter {
 public:
  bool accept(const char* name) override {
    return name[0] != '.' && (endsWith(name, ".so") || endsWith(name, ".mrb"));
  }
};

// The canonical form of a path, or the path itself when it cannot be resolved.
std::string canonical(const char* path) {
  char buf[PATH_MAX];
  if (realpath(path, buf) != nullptr) return buf;
  return path;
}

void splitPath(const char* text, std::vector<std::string>* out) {
  if (text == nullptr) return;
  const char* p = text;
  while (*p != '\0') {
    const char* e = std::strchr(p, ':');
    size_t n = e != nullptr ? static_cast<size_t>(e - p) : std::strlen(p);
    if (n > 0) out->emplace_back(p, n);
    p += n;
    if (*p == ':') ++p;
  }
}

unsigned keyLen(const char* s) { return static_cast<unsigned>(std::strlen(s)) + 1; }

}  // namespace

// ---------------------------------------------------------------- Plugin

Plugin::Plugin()
    : provides(Block::TYPE_GENERIC),
      _properties(new ConfigTable(64)),
      _path(nullptr),
      _dso(nullptr),
      _local(false),
      _instances(0) {
  std::memset(&_record, 0, sizeof _record);
  _record.magic = plugin_record_t::MAGIC;
  _record.recordSize = sizeof(plugin_record_t);
}

Plugin::~Plugin() {
  delete _properties;
  delete _dso;
  delete _path;
}

unsigned Plugin::getInstanceCount() { return _instances; }

// ---------------------------------------------------------------- loader

PluginLoader::PluginLoader(BlockManager* manager)
    : _manager(manager),
      _byName(nullptr),
      _byPath(nullptr),
      _order(nullptr),
      _count(0),
      _capacity(0),
      _error(nullptr),
      _search(nullptr) {
  _byName = new SharedHash(128);
  _byPath = new SharedHash(128);
  _error = new DataBuf(256, 0, 65536, ALLOC_ONCREATE);
  _error->copy("", 1);
  _search = new DataBuf("");
}

PluginLoader::~PluginLoader() {
  // Whatever is still loaded goes without its unload entry: the manager is
  // gone by now (it unloads everything it can first).
  for (unsigned i = 0; i < _count; ++i) delete _order[i];
  std::free(_order);
  delete _search;
  delete _error;
  delete _byPath;
  delete _byName;
}

void PluginLoader::_setError(const char* format, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  {
    MutexLock l(_lock);
    _error->xcopy(buf, keyLen(buf));
  }
  MTRACE("PluginLoader: %s\n", buf);
  if (_manager->getLogger() != nullptr) _manager->getLogger()->log(4, "PluginLoader: %s", buf);
}

char* PluginLoader::getErrorString() { return _error->getData(); }

char* PluginLoader::getSearchPath() { return _search->getData(); }

Plugin* PluginLoader::getPlugin(const char* typeName) {
  if (typeName == nullptr) return nullptr;
  return reinterpret_cast<Plugin*>(_byName->get(typeName, keyLen(typeName)));
}

Plugin* PluginLoader::getPluginByPath(const char* path) {
  if (path == nullptr) return nullptr;
  std::string c = canonical(path);
  return reinterpret_cast<Plugin*>(_byPath->get(c.c_str(), keyLen(c.c_str())));
}

unsigned PluginLoader::listPlugins(Plugin** out, unsigned max) {
  MutexLock l(_lock);
  unsigned n = 0;
  for (; n < _count && n < max; ++n) out[n] = _order[n];
  return n;
}

int PluginLoader::loadLocal() {
  std::vector<std::string> dirs;
  splitPath(std::getenv("MOSAL_PLUGIN_PATH"), &dirs);
  char extra[4096];
  if (_manager->getConfig()->copyString("morvane.paths.plugins", extra, sizeof extra) == 0)
    splitPath(extra, &dirs);
  const char* defaults = std::getenv("MORVANE_PLUGIN_DEFAULTS");
  if (defaults == nullptr || std::strcmp(defaults, "0") != 0) {
    if (MORVANE_BUILD_PLUGIN_DIR[0] != '\0') dirs.emplace_back(MORVANE_BUILD_PLUGIN_DIR);
    if (MORVANE_INSTALL_PLUGIN_DIR[0] != '\0') dirs.emplace_back(MORVANE_INSTALL_PLUGIN_DIR);
  }
  // Each directory once, in canonical form.
  std::vector<std::string> unique;
  for (const std::string& d : dirs) {
    std::string c = canonical(d.c_str());
    if (std::find(unique.begin(), unique.end(), c) == unique.end()) unique.push_back(c);
  }
  std::string joined;
  for (const std::string& d : unique) {
    if (!joined.empty()) joined += ':';
    joined += d;
  }
  {
    MutexLock l(_lock);
    _search->xcopy(joined.c_str(), keyLen(joined.c_str()));
  }

  std::vector<std::string> files;
  bool readable = false;
  PluginFilter filter;
  for (const std::string& d : unique) {
    File dir(d.c_str());
    Vector* found = dir.find(&filter);
    if (found == nullptr) continue;
    readable = true;
    std::vector<std::string> here;
    for (unsigned i = 0; i < found->size(); ++i) here.emplace_back(found->elementAt(i));
    std::sort(here.begin(), here.end());
    files.insert(files.end(), here.begin(), here.end());
  }
  Splash* splash = _manager->getSplash();
  if (splash != nullptr) {
    splash->setTitle("Loading plug-ins");
    splash->setMaxProgress(static_cast<int>(files.size()));
  }
  int step = 0;
  unsigned failed = 0;
  for (const std::string& f : files) {
    if (splash != nullptr) splash->setText(f.c_str());
    if (getPluginByPath(f.c_str()) == nullptr && _load(f.c_str(), true) != 0) ++failed;
    if (splash != nullptr) splash->setProgress(++step);
  }
  MTRACE("PluginLoader: %u plug-in files found, %u failed\n", static_cast<unsigned>(files.size()),
         failed);
  if (!readable) {
    _setError("no plug-in directory can be read (%s)", joined.empty() ? "empty path" : joined.c_str());
    return -1;
  }
  return 0;
}

int PluginLoader::loadPlugin(const char* path) {
  if (path == nullptr || path[0] == '\0') {
    _setError("no plug-in path");
    return -1;
  }
  return _load(path, false);
}

int PluginLoader::_load(const char* path, bool local) {
  std::string file = canonical(path);
  std::lock_guard<std::recursive_mutex> g(_loading);
  if (_byPath->get(file.c_str(), keyLen(file.c_str())) != nullptr) return 0;

  DSO* dso;
  try {
    dso = new DSO(file.c_str());
  } catch (LibError& e) {
    _setError("cannot open %s: %s", file.c_str(), e.getReason());
    return -1;
  }
  plugin_register_t reg = reinterpret_cast<plugin_register_t>((*dso)["mrb_register"]);
  if (reg == nullptr) {
    delete dso;
    _setError("%s has no mrb_register entry", file.c_str());
    return -1;
  }
  Plugin* p = new Plugin();
  p->_dso = dso;
  p->_path = new DataBuf(file.c_str());
  p->_local = local;
  int r = reg(&p->_record);
  plugin_record_t& rec = p->_record;
  // Whatever the plug-in wrote, the texts end inside their fields and the
  // framework's own words are the framework's.
  rec.name[plugin_record_t::NAME_SIZE - 1] = '\0';
  rec.description[plugin_record_t::TEXT_SIZE - 1] = '\0';
  rec.copyright[plugin_record_t::TEXT_SIZE - 1] = '\0';
  rec.magic = plugin_record_t::MAGIC;
  rec.recordSize = sizeof(plugin_record_t);
  uint32_t v = rec.version;
  std::snprintf(rec.versionText, sizeof rec.versionText, "%d.%d.%d.%d",
                static_cast<int>((v >> 24) & 0xff), static_cast<int>((v >> 16) & 0xff),
                static_cast<int>((v >> 8) & 0xff), static_cast<int>(v & 0xff));
  if (r != 0) {
    delete p;
    _setError("mrb_register of %s failed (%d)", file.c_str(), r);
    return -1;
  }
  if (rec.name[0] == '\0') {
    delete p;
    _setError("%s names no block type", file.c_str());
    return -1;
  }
  for (const char* c = rec.name; *c != '\0'; ++c) {
    if (*c <= ' ' || *c == '"' || *c == '.' || *c == '\\' || static_cast<unsigned char>(*c) >= 127) {
      _setError("%s: unusable block type name", file.c_str());
      delete p;
      return -1;
    }
  }
  Plugin* other = getPlugin(rec.name);
  if (other != nullptr) {
    _setError("block type %s is loaded from %s already", rec.name, other->getPath());
    delete p;
    return -1;
  }
  p->provides = rec.type != nullptr ? rec.type(nullptr) : Block::TYPE_GENERIC;
  // Filed before the load entry runs: it looks itself up.
  _byName->pput(rec.name, keyLen(rec.name), p, false);
  _byPath->pput(p->getPath(), keyLen(p->getPath()), p, false);
  _manager->getError()->set("");
  if (rec.load != nullptr && rec.load(_manager) != 0) {
    _byName->del(rec.name, keyLen(rec.name));
    _byPath->del(p->getPath(), keyLen(p->getPath()));
    _manager->_dropProtocols(p);
    char why[512];
    std::snprintf(why, sizeof why, "%s", _manager->getErrorString());
    _setError("load entry of %s failed: %s", file.c_str(), why[0] != '\0' ? why : "no reason given");
    delete p;
    return -1;
  }
  {
    MutexLock l(_lock);
    if (_count == _capacity) {
      unsigned cap = _capacity == 0 ? 16 : _capacity * 2;
      Plugin** grown = static_cast<Plugin**>(std::realloc(_order, cap * sizeof(Plugin*)));
      if (grown == nullptr) {
        // Keep it loaded but unlisted would hide it: undo instead.
        _byName->del(rec.name, keyLen(rec.name));
        _byPath->del(p->getPath(), keyLen(p->getPath()));
        if (rec.unload != nullptr) rec.unload(_manager);
        _manager->_dropProtocols(p);
        delete p;
        return -1;
      }
      _order = grown;
      _capacity = cap;
    }
    _order[_count++] = p;
  }
  MTRACE("PluginLoader: loaded %s %s from %s\n", rec.name, rec.versionText, file.c_str());
  if (_manager->getLogger() != nullptr)
    _manager->getLogger()->log(3, "plug-in %s %s loaded from %s", rec.name, rec.versionText,
                               file.c_str());
  return 0;
}

int PluginLoader::unloadPlugin(Plugin* plugin) {
  std::lock_guard<std::recursive_mutex> g(_loading);
  bool known = false;
  unsigned instances = 0;
  {
    MutexLock l(_lock);
    for (unsigned i = 0; i < _count; ++i)
      if (_order[i] == plugin) known = true;
    if (known) instances = plugin->_instances;
  }
  if (!known) {
    _setError("plug-in not loaded");
    return -1;
  }
  if (instances > 0) {
    _setError("plug-in %s still has %u block%s", plugin->getName(), instances,
              instances == 1 ? "" : "s");
    return -1;
  }
  _close(plugin, true);
  return 0;
}

void PluginLoader::_close(Plugin* p, bool callUnload) {
  if (callUnload && p->_record.unload != nullptr && p->_record.unload(_manager) != 0)
    _setError("unload entry of %s failed", p->getName());
  // Protocol objects are code of the plug-in: none may outlive it.
  _manager->_dropProtocols(p);
  _byName->del(p->getName(), keyLen(p->getName()));
  _byPath->del(p->getPath(), keyLen(p->getPath()));
  {
    MutexLock l(_lock);
    for (unsigned i = 0; i < _count; ++i) {
      if (_order[i] != p) continue;
      std::memmove(_order + i, _order + i + 1, (_count - i - 1) * sizeof(Plugin*));
      --_count;
      break;
    }
  }
  MTRACE("PluginLoader: unloaded %s\n", p->getName());
  delete p;
}

unsigned PluginLoader::unloadAll() {
  std::lock_guard<std::recursive_mutex> g(_loading);
  std::vector<Plugin*> all;
  {
    MutexLock l(_lock);
    for (unsigned i = 0; i < _count; ++i) all.push_back(_order[i]);
  }
  unsigned left = 0;
  // Last loaded first.
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    if ((*it)->_instances > 0) {
      ++left;
      continue;
    }
    _close(*it, true);
  }
  return left;
}

}  // namespace MorvaneLib
