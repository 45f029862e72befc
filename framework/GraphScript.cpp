// GraphScript: splitting, checking and running graph-script lines, and
// writing a manager's graph back as a script.
#include "framework/GraphScript.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>

#include "framework/BlockManager.h"
#include "mosal/Trace.h"
#include "mosal_posix/Thread.h"

namespace MorvaneLib {

namespace {

struct StatementForm {
  const char* name;
  int minArgs;
  int maxArgs;  // -1: any
};

const StatementForm kForms[] = {
    {"load", 1, 1},    {"unload", 1, 1},     {"create", 1, 2},  {"destroy", 1, 1},
    {"set", 3, 4},     {"global", 2, 3},     {"place", 3, 3},   {"connect", 2, 2},
    {"disconnect", 2, 2}, {"send", 2, 3},    {"command", 2, -1}, {"painter", 2, 2},
    {"list", 1, 2},    {"echo", 0, -1},      {"sleep", 1, 1},   {"save", 1, 1},
};

const StatementForm* findForm(const std::string& name) {
  for (const StatementForm& f : kForms)
    if (name == f.name) return &f;
  return nullptr;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool parseInt(const std::string& s, long* out) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 0);
  if (errno != 0 || end == nullptr || *end != '\0' || v < INT_MIN || v > INT_MAX) return false;
  *out = v;
  return true;
}

bool parseDouble(const std::string& s, double* out) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (errno != 0 || end == nullptr || *end != '\0') return false;
  *out = v;
  return true;
}

bool isPinName(const std::string& s) {
  size_t dot = s.rfind('.');
  return dot != std::string::npos && dot > 0 && dot + 1 < s.size();
}

bool isTypeWord(const std::string& s) { return s == "int" || s == "double" || s == "string"; }

std::string formatDouble(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

}  // namespace

// ---------------------------------------------------------------- splitting

int GraphScript::tokenize(const char* line, size_t length, std::vector<Token>* out,
                          const char** error) {
  out->clear();
  size_t i = 0;
  while (i < length) {
    while (i < length && isBlank(line[i])) ++i;
    if (i >= length) break;
    if (line[i] == '#') break;
    if (out->size() >= MAX_TOKENS) {
      *error = "too many words on the line";
      return -1;
    }
    Token t;
    t.offset = i;
    // A token is a run of bare characters and quoted parts: a"b c"d is one.
    while (i < length && !isBlank(line[i])) {
      char c = line[i];
      if (c == '"') {
        ++i;
        bool closed = false;
        while (i < length) {
          char q = line[i++];
          if (q == '"') {
            closed = true;
            break;
          }
          if (q == '\\') {
            if (i >= length) break;
            char e = line[i++];
            switch (e) {
              case '"': t.text += '"'; break;
              case '\\': t.text += '\\'; break;
              case 'n': t.text += '\n'; break;
              case 't': t.text += '\t'; break;
              case 'r': t.text += '\r'; break;
              default:
                *error = "unknown escape in quotes";
                return -1;
            }
            continue;
          }
          t.text += q;
        }
        if (!closed) {
          *error = "quote left open";
          return -1;
        }
        continue;
      }
      if (c == '\0') {
        *error = "NUL character in the line";
        return -1;
      }
      t.text += c;
      ++i;
    }
    out->push_back(t);
  }
  return 0;
}

std::string GraphScript::quote(const std::string& text) {
  bool bare = !text.empty() && text[0] != '#';
  for (char c : text) {
    if (isBlank(c) || c == '"' || c == '\\' || c == '\n' || c == '\0' ||
        static_cast<unsigned char>(c) < 32) {
      bare = false;
      break;
    }
  }
  if (bare) return text;
  std::string q = "\"";
  for (char c : text) {
    switch (c) {
      case '"': q += "\\\""; break;
      case '\\': q += "\\\\"; break;
      case '\n': q += "\\n"; break;
      case '\t': q += "\\t"; break;
      case '\r': q += "\\r"; break;
      default: q += c;
    }
  }
  q += '"';
  return q;
}

int GraphScript::check(const std::vector<Token>& t, const char** error) {
  if (t.empty()) return 0;
  const StatementForm* f = findForm(t[0].text);
  if (f == nullptr) {
    *error = "unknown statement";
    return -1;
  }
  int args = static_cast<int>(t.size()) - 1;
  if (args < f->minArgs || (f->maxArgs >= 0 && args > f->maxArgs)) {
    *error = "wrong number of arguments";
    return -1;
  }
  const std::string& s = t[0].text;
  long v;
  if (s == "set" && args == 4 && !isTypeWord(t[4].text)) {
    *error = "the type is int, double or string";
    return -1;
  }
  if (s == "global" && args == 3 && !isTypeWord(t[3].text)) {
    *error = "the type is int, double or string";
    return -1;
  }
  if ((s == "connect" || s == "disconnect") && (!isPinName(t[1].text) || !isPinName(t[2].text))) {
    *error = "pins are named <block>.<pin>";
    return -1;
  }
  if (s == "painter" && !isPinName(t[2].text)) {
    *error = "pins are named <block>.<pin>";
    return -1;
  }
  if (s == "place" && (!parseInt(t[2].text, &v) || v < SHRT_MIN || v > SHRT_MAX ||
                       !parseInt(t[3].text, &v) || v < SHRT_MIN || v > SHRT_MAX)) {
    *error = "a position is two numbers from -32768 to 32767";
    return -1;
  }
  if (s == "sleep" && (!parseInt(t[1].text, &v) || v < 0 || v > MAX_SLEEP_MS)) {
    *error = "sleep takes 0 to 60000 milliseconds";
    return -1;
  }
  if (s == "send" && args == 3 && t[3].text != "nowait") {
    *error = "send takes nowait as its third word";
    return -1;
  }
  if (s == "list") {
    const std::string& w = t[1].text;
    bool pins = w == "pins";
    if (!(pins || w == "blocks" || w == "plugins" || w == "wires" || w == "painters") ||
        (pins != (args == 2))) {
      *error = "list blocks, plugins, wires, painters or pins <block>";
      return -1;
    }
  }
  return 0;
}

// ---------------------------------------------------------------- running

int GraphScript::run(const char* text, size_t length) {
  size_t pos = 0;
  unsigned number = 0;
  std::vector<Token> tokens;
  std::string line;
  while (pos < length) {
    const void* nl = std::memchr(text + pos, '\n', length - pos);
    size_t end = nl != nullptr ? static_cast<size_t>(static_cast<const char*>(nl) - text) : length;
    ++number;
    line.assign(text + pos, end - pos);
    pos = nl != nullptr ? end + 1 : length;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\0')) line.pop_back();
    if (line.size() > MAX_LINE) {
      _m->setError("line %u: longer than %d characters", number, MAX_LINE);
      return static_cast<int>(number);
    }
    const char* why = nullptr;
    if (tokenize(line.data(), line.size(), &tokens, &why) != 0 || check(tokens, &why) != 0) {
      _m->setError("line %u: %s", number, why);
      return static_cast<int>(number);
    }
    if (tokens.empty()) continue;
    if (_statement(tokens, line.c_str()) != 0) {
      char reason[BlockManager::ERROR_SIZE];
      std::snprintf(reason, sizeof reason, "%s", _m->getErrorString());
      _m->setError("line %u: %s", number, reason);
      return static_cast<int>(number);
    }
  }
  return 0;
}

int GraphScript::_statement(const std::vector<Token>& t, const char* line) {
  const std::string& s = t[0].text;
  PluginLoader* loader = _m->getPluginLoader();
  if (s == "load") {
    if (loader->loadPlugin(t[1].text.c_str()) != 0) {
      _m->setError("%s", loader->getErrorString());
      return -1;
    }
    return 0;
  }
  if (s == "unload") {
    Plugin* p = loader->getPlugin(t[1].text.c_str());
    if (p == nullptr) {
      _m->setError("no plug-in %s", t[1].text.c_str());
      return -1;
    }
    if (loader->unloadPlugin(p) != 0) {
      _m->setError("%s", loader->getErrorString());
      return -1;
    }
    return 0;
  }
  if (s == "create") {
    Plugin* p = loader->getPlugin(t[1].text.c_str());
    if (p == nullptr) {
      _m->setError("no plug-in %s", t[1].text.c_str());
      return -1;
    }
    Block* b;
    return _m->createPluginInstance(p, &b, t.size() > 2 ? t[2].text.c_str() : nullptr);
  }
  if (s == "echo") {
    size_t off = t.size() > 1 ? t[1].offset : std::strlen(line);
    std::printf("%s\n", line + off);
    std::fflush(stdout);
    return 0;
  }
  if (s == "sleep") {
    Thread::sleep(std::atoi(t[1].text.c_str()));
    return 0;
  }
  if (s == "save") return save(t[1].text.c_str());
  if (s == "global") return _set(nullptr, t, true);
  if (s == "list") return _list(t);
  if (s == "connect") {
    DataPin* out = _m->findPin(t[1].text.c_str(), DataPin::OUTPUT);
    DataPin* in = _m->findPin(t[2].text.c_str(), DataPin::INPUT);
    if (out == nullptr || in == nullptr) {
      _m->setError("no %s pin %s", out == nullptr ? "output" : "input",
                   (out == nullptr ? t[1] : t[2]).text.c_str());
      return -1;
    }
    return _m->connectPins(out, in);
  }
  if (s == "disconnect") {
    DataPin* a = _m->findPin(t[1].text.c_str());
    DataPin* b = _m->findPin(t[2].text.c_str());
    if (a == nullptr || b == nullptr) {
      _m->setError("no pin %s", (a == nullptr ? t[1] : t[2]).text.c_str());
      return -1;
    }
    return _m->disconnectPins(a, b);
  }
  if (s == "painter") return _m->attachPainterToPin(t[1].text.c_str(), t[2].text.c_str());

  // The rest name a block.
  Block* b = _m->getBlock(t[1].text.c_str());
  if (b == nullptr) {
    _m->setError("no block %s", t[1].text.c_str());
    return -1;
  }
  if (s == "destroy") return _m->destroyBlock(b);
  if (s == "set") return _set(b, t, false);
  if (s == "place") {
    b->setPosition(static_cast<short>(std::atoi(t[2].text.c_str())),
                   static_cast<short>(std::atoi(t[3].text.c_str())));
    return 0;
  }
  if (s == "send") {
    int r = _m->sendMessage(b->getName(), t[2].text.c_str(), t.size() < 4);
    return r < 0 ? -1 : 0;
  }
  if (s == "command") {
    std::string text(line + t[2].offset);
    text += '\n';
    try {
      DefaultStatusListener listener(b, 2);
      uint32_t serial = 0;
      if (b->sendCommandScript(text.c_str(), &listener, &serial) != 0) {
        _m->setError("block %s refuses command lines", b->getName());
        return -1;
      }
      unsigned timeout =
          static_cast<unsigned>(std::max(1, _m->getIntSetting("morvane.message.timeout", 10000)));
      status_t st;
      while (listener.waitStatus(&st, timeout) == 0) {
        if (st.serial != serial) continue;
        if (st.result < 0) {
          _m->setError("command of block %s returned %d", b->getName(), st.result);
          return -1;
        }
        return 0;
      }
      _m->setError("block %s did not answer the command", b->getName());
      return -1;
    } catch (LibError& e) {
      _m->setError("%s", e.getReason());
      return -1;
    }
  }
  _m->setError("unknown statement");
  return -1;
}

int GraphScript::_set(Block* b, const std::vector<Token>& t, bool global) {
  ConfigTable* table = global ? _m->getConfig() : b->getProperties();
  size_t k = global ? 1 : 2;
  const std::string& key = t[k].text;
  const std::string& value = t[k + 1].text;
  std::string type = t.size() > k + 2 ? t[k + 2].text : "";
  if (key.empty()) {
    _m->setError("empty property name");
    return -1;
  }
  unsigned char have = 0;
  long iv;
  double dv;
  if (table->getParamType(key.c_str(), &have) == 0) {
    const char* names[] = {"", "int", "double", "string", "object"};
    if (have == TYPE_OBJECT) {
      _m->setError("property %s holds an object", key.c_str());
      return -1;
    }
    if (!type.empty() && type != names[have]) {
      _m->setError("property %s is of type %s", key.c_str(), names[have]);
      return -1;
    }
    type = names[have];
  } else if (type.empty()) {
    type = parseInt(value, &iv) ? "int" : parseDouble(value, &dv) ? "double" : "string";
  }
  int r;
  if (type == "int") {
    if (!parseInt(value, &iv)) {
      _m->setError("property %s takes an integer", key.c_str());
      return -1;
    }
    r = table->setInt(key.c_str(), static_cast<int>(iv));
  } else if (type == "double") {
    if (!parseDouble(value, &dv)) {
      _m->setError("property %s takes a number", key.c_str());
      return -1;
    }
    r = table->setDouble(key.c_str(), dv);
  } else {
    r = table->setString(key.c_str(), value.c_str(), static_cast<unsigned>(value.size()) + 1);
  }
  if (r != 0) _m->setError("cannot set property %s", key.c_str());
  return r;
}

int GraphScript::_list(const std::vector<Token>& t) {
  const std::string& what = t[1].text;
  if (what == "blocks") {
    for (Block* b : _m->listBlocks())
      std::printf("block %s %s %s\n", b->getName(),
                  b->getPlugin() != nullptr ? b->getPlugin()->getName() : "-",
                  b->getStatusString(b->getRunStatus()));
  } else if (what == "plugins") {
    Plugin* list[256];
    unsigned n = _m->getPluginLoader()->listPlugins(list, 256);
    for (unsigned i = 0; i < n; ++i)
      std::printf("plugin %s %s %s %s\n", list[i]->getName(), list[i]->getVersionString(),
                  Block::getTypeString(list[i]->provides), list[i]->getPath());
  } else if (what == "wires") {
    MutexLock g(_m->_graphLock);
    for (Wire* w : _m->_wires)
      std::printf("wire %s %s delivered %u dropped %u\n", w->getSource()->getQualifiedName(),
                  w->getDestination()->getQualifiedName(), w->getDelivered(), w->getDropped());
  } else if (what == "painters") {
    MutexLock g(_m->_graphLock);
    MutexLock l(*_m->getPainterTable()->getMutex());
    Hash* table = _m->getPainterTable();
    Enumeration* e = table->keys();
    while (e->hasMoreElements()) std::printf("painter %s\n", e->nextElement()->data);
  } else {
    Block* b = _m->getBlock(t[2].text.c_str());
    if (b == nullptr) {
      _m->setError("no block %s", t[2].text.c_str());
      return -1;
    }
    for (int dir = DataPin::INPUT; dir <= DataPin::OUTPUT; ++dir) {
      for (DataPin* p : b->listPins(dir)) {
        std::printf("pin %s %s", p->getQualifiedName(), dir == DataPin::INPUT ? "in" : "out");
        MutexLock l(*p->getWireTable()->getMutex());
        Hash* table = p->getWireTable();
        Enumeration* e = table->keys();
        while (e->hasMoreElements())
          std::printf(" %s %s", dir == DataPin::INPUT ? "<-" : "->", e->nextElement()->data);
        std::printf("\n");
      }
    }
  }
  std::fflush(stdout);
  return 0;
}

// ---------------------------------------------------------------- saving

int GraphScript::save(const char* path) {
  if (path == nullptr || path[0] == '\0') {
    _m->setError("no file name");
    return -1;
  }
  std::string out = "# Block graph of ";
  out += _m->getAppName();
  out += "\n";
  std::vector<Block*> blocks = _m->listBlocks();
  std::vector<Block*> kept;
  for (Block* b : blocks) {
    int skip = 0;
    if (b->getProperties()->getInt("_DGSSkip", &skip) == 0 && skip == 1) continue;
    kept.push_back(b);
  }
  std::vector<std::string> loads;
  for (Block* b : kept) {
    Plugin* p = b->getPlugin();
    if (p == nullptr || p->isLocal()) continue;
    std::string l = "load " + quote(p->getPath()) + "\n";
    if (std::find(loads.begin(), loads.end(), l) == loads.end()) loads.push_back(l);
  }
  for (const std::string& l : loads) out += l;
  for (Block* b : kept) {
    out += "create " + quote(b->getPlugin() != nullptr ? b->getPlugin()->getName() : "-") + " " +
           quote(b->getName()) + "\n";
    ConfigTable* props = b->getProperties();
    std::vector<std::string> keys;
    {
      SharedHash* params = props->getParamTable();
      MutexLock l(*params->getMutex());
      Hash* table = params;
      Enumeration* e = table->keys();
      while (e->hasMoreElements()) {
        enum_elem_t* k = e->nextElement();
        std::string key(k->data, std::strlen(k->data));
        if (!key.empty() && key[0] != '_') keys.push_back(key);
      }
    }
    std::sort(keys.begin(), keys.end());
    for (const std::string& key : keys) {
      unsigned char type = 0;
      if (props->getParamType(key.c_str(), &type) != 0) continue;
      std::string value, typeName;
      if (type == TYPE_INT) {
        int v;
        if (props->getInt(key.c_str(), &v) != 0) continue;
        value = std::to_string(v);
        typeName = "int";
      } else if (type == TYPE_DOUBLE) {
        double v;
        if (props->getDouble(key.c_str(), &v) != 0) continue;
        value = formatDouble(v);
        typeName = "double";
      } else if (type == TYPE_STRING) {
        std::vector<char> buf(65536);
        if (props->copyString(key.c_str(), buf.data(), static_cast<unsigned>(buf.size())) != 0)
          continue;
        value = buf.data();
        typeName = "string";
      } else {
        continue;
      }
      out += "set " + quote(b->getName()) + " " + quote(key) + " " + quote(value) + " " +
             typeName + "\n";
    }
    short x, y;
    b->getPosition(&x, &y);
    if (x != 0 || y != 0)
      out += "place " + quote(b->getName()) + " " + std::to_string(x) + " " + std::to_string(y) + "\n";
  }
  {
    MutexLock g(_m->_graphLock);
    for (Wire* w : _m->_wires) {
      if (std::find(kept.begin(), kept.end(), w->getSource()->getBlock()) == kept.end() ||
          std::find(kept.begin(), kept.end(), w->getDestination()->getBlock()) == kept.end())
        continue;
      out += "connect " + quote(w->getSource()->getQualifiedName()) + " " +
             quote(w->getDestination()->getQualifiedName()) + "\n";
    }
    for (Block* b : kept) {
      for (int dir = DataPin::INPUT; dir <= DataPin::OUTPUT; ++dir) {
        for (DataPin* p : b->listPins(dir)) {
          Painter* painter = p->getPainter();
          if (painter == nullptr) continue;
          out += "painter " + quote(painter->getName()) + " " + quote(p->getQualifiedName()) + "\n";
        }
      }
    }
  }
  std::string tmp = std::string(path) + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "w");
  if (f == nullptr) {
    _m->setError("cannot write %s: %s", path, std::strerror(errno));
    return -1;
  }
  bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), path) != 0) {
    _m->setError("cannot write %s: %s", path, std::strerror(errno));
    std::remove(tmp.c_str());
    return -1;
  }
  return 0;
}

// ---------------------------------------------------------------- manager

int BlockManager::runGraphScript(DataBuf* script) {
  if (script == nullptr) {
    setError("no script");
    return -1;
  }
  GraphScript g(this);
  return g.run(script->getData(), script->getLength());
}

int BlockManager::runGraphScript(const char* text, unsigned length) {
  if (text == nullptr) {
    setError("no script");
    return -1;
  }
  GraphScript g(this);
  return g.run(text, length);
}

int BlockManager::saveGraphScript(const char* path) {
  GraphScript g(this);
  return g.save(path);
}

}  // namespace MorvaneLib
