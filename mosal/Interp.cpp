// The command interpreter: argument lists, command-line splitting, dispatch
// with the interpreter's result codes, script files and their reports.
#include "mosal/Interp.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mosal/Trace.h"
#include "mosal/Utils.h"

namespace MorvaneLib {

namespace {

unsigned keyLength(const char* name) { return static_cast<unsigned>(std::strlen(name)) + 1; }

int addToParams(void* params, const char* piece, unsigned n) {
  return static_cast<Params*>(params)->add(piece, n) == 0 ? 0 : -1;
}

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

// Params

Params::Params(int maxArgs, short size)
    : name(nullptr), argv(nullptr), argc(0), max(maxArgs), slotSize(size) {
  if (maxArgs < 0 || size < 1) throw LibError("Params()", "Bad size %d x %d", maxArgs, size);
  name = new DataBuf(25, 0, 65536, ALLOC_ONCREATE);
  name->getData()[0] = '\0';
  argv = static_cast<char**>(std::calloc(maxArgs > 0 ? maxArgs : 1, sizeof(char*)));
  bool ok = argv != nullptr;
  for (int i = 0; ok && i < maxArgs; ++i) {
    argv[i] = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    if (argv[i] == nullptr) ok = false;
    else argv[i][0] = '\0';
  }
  if (!ok) {
    if (argv != nullptr)
      for (int i = 0; i < maxArgs; ++i) std::free(argv[i]);
    std::free(argv);
    delete name;
    throw LibError("Params()", "Out of memory");
  }
}

Params::~Params() {
  for (int i = 0; i < max; ++i) std::free(argv[i]);
  std::free(argv);
  delete name;
}

int Params::add(const char* text, unsigned n) {
  if (argc >= max) return -1;
  if (text == nullptr) n = 0;
  unsigned room = static_cast<unsigned>(slotSize) - 1;
  unsigned k = n < room ? n : room;
  if (k > 0) std::memcpy(argv[argc], text, k);
  argv[argc][k] = '\0';
  ++argc;
  return 0;
}

int Params::add(const char* text) {
  if (text == nullptr) return add(text, 0);
  // Never reads further than the slot can hold.
  unsigned room = static_cast<unsigned>(slotSize) - 1;
  return add(text, static_cast<unsigned>(strnlen(text, room)));
}

void Params::setName(const char* text) {
  if (text == nullptr) text = "";
  unsigned n = keyLength(text);
  if (n > name->getLimit()) n = name->getLimit();
  if (name->xcopy(text, n) != 0) {
    if (n > name->getSize()) n = name->getSize();
    name->copy(text, n);
  }
  if (n > 0) name->getData()[n - 1] = '\0';  // a name cut at the limit stays terminated
}

// CallBack and Command

CallBack::CallBack(const char* text) : name(new DataBuf(text != nullptr ? text : "")), user(nullptr) {}

CallBack::~CallBack() {
  delete name;
  MTRACE("~CallBack(): ok\n");
}

int CallBack::perform(void* data) {
  (void)data;
  return 0;
}

Command::Command(const char* text, unsigned short minimum, unsigned short maximum)
    : CallBack(text), enabled(false), minArgs(minimum), maxArgs(maximum) {}

int Command::makeParams(Params* params, const char* text) {
  if (params == nullptr) return -1;
  return Utils::splitText(text, " \t", true, &addToParams, params) == 0 ? 0 : -1;
}

int Command::perform(Params* params, void* data) {
  (void)params;
  (void)data;
  return 0;
}

// Interp

Interp::Interp(unsigned buckets, int maxArgs, short argSize)
    : SharedHash(buckets), Params(maxArgs, argSize), checkArgs(true) {}

Interp::~Interp() { deleteCommands(); }

int Interp::addCommand(Command* cmd) {
  if (cmd == nullptr) return -1;
  cmd->enabled = true;
  MTRACE("Interp::addCommand(): adding command \"%s\"\n", cmd->getName());
  return SharedHash::pput(cmd->getName(), keyLength(cmd->getName()), cmd, false);
}

int Interp::enableCommand(const char* name, bool enable) {
  if (name == nullptr) return -1;
  MutexLock l(*getMutex());
  Command* cmd = reinterpret_cast<Command*>(Hash::get(name, keyLength(name)));
  if (cmd == nullptr) return -1;
  cmd->enabled = enable;
  return 0;
}

int Interp::run(const char* name, const char* args, void* data) {
  setName(name);
  argc = 0;
  if (name == nullptr) return -1;
  Command* cmd = reinterpret_cast<Command*>(SharedHash::get(name, keyLength(name)));
  if (cmd == nullptr) return -1;
  MTRACE("Interp: executing command %s\n", cmd->getName());
  Params* params = this;
  if (args != nullptr && cmd->makeParams(params, args) == -1) return -2;
  if (checkArgs && (argc < cmd->minArgs || argc > cmd->maxArgs)) return -3;
  if (!cmd->enabled) return -4;
  return cmd->perform(params, data);
}

int Interp::runFile(const char* path, unsigned lineSize, void* data) {
  if (path == nullptr || lineSize < 2) return -1;
  FILE* f = std::fopen(path, "r");
  if (f == nullptr) return -1;
  char* buffer = static_cast<char*>(std::malloc(static_cast<size_t>(lineSize) + 1));
  if (buffer == nullptr) {
    std::fclose(f);
    return -1;
  }
  unsigned line = 1;      // physical line the next record starts on
  bool inTail = false;    // reading the rest of a line that was cut
  unsigned ends = 0;
  bool cut = false;
  while (Utils::getDelim(buffer, lineSize, '\n', f, &ends, &cut) != -1) {
    unsigned first = line;
    line += ends;
    // The rest of an over-long line is no command of its own.
    bool skip = inTail;
    inTail = cut;
    if (skip) continue;

    size_t len = std::strlen(buffer);
    while (len > 0 && isSpace(buffer[len - 1])) buffer[--len] = '\0';
    char* p = buffer;
    while (isSpace(*p)) ++p;
    if (*p == '\0' || *p == '#') continue;
    char* rest = std::strpbrk(p, " \t");
    if (rest != nullptr) *rest++ = '\0';
    int result = run(p, rest, data);
    if (result >= -4 && result <= -1)
      sysHandler(p, first, result, data);
    else
      usrHandler(p, first, result, data);
  }
  std::free(buffer);
  std::fclose(f);
  return 0;
}

void Interp::deleteCommands() {
  // Entries go with their commands, so no lookup can find a deleted one.
  // The commands are deleted after the lock is released: a destructor may
  // use the table.
  std::vector<Command*> doomed;
  {
    MutexLock l(*getMutex());
    Enumeration* list = Hash::keys();
    doomed.reserve(list->getCount());
    while (list->hasMoreElements()) {
      enum_elem_t* k = list->nextElement();
      doomed.push_back(reinterpret_cast<Command*>(Hash::get(k->data, k->length)));
      Hash::del(k->data, k->length);
    }
  }
  for (Command* c : doomed) delete c;
}

void Interp::usrHandler(char* token, unsigned line, int code, void* data) {
  (void)data;
  MTRACE("User Return: %0X on line %d\n", static_cast<unsigned>(code), static_cast<int>(line));
  MTRACE(" Token: \"%s\"\n", token);
}

void Interp::sysHandler(char* token, unsigned line, int code, void* data) {
  (void)data;
  MTRACE("System Error: %0X on line %d\n", static_cast<unsigned>(code), static_cast<int>(line));
  MTRACE(" Token: \"%s\"\n", token);
}

// PStack

PStack::PStack(unsigned n) : items(nullptr), top(0), capacity(n) {
  items = static_cast<void**>(std::calloc(n > 0 ? n : 1, sizeof(void*)));
  if (items == nullptr) throw LibError("PStack()", "Out of memory");
}

PStack::~PStack() { std::free(items); }

int PStack::push(void* p) {
  if (top >= capacity) return -1;
  items[top++] = p;
  return 0;
}

void* PStack::pop() {
  if (top == 0) return nullptr;
  void* p = items[--top];
  items[top] = nullptr;
  return p;
}

}  // namespace MorvaneLib
