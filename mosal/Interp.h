// The command interpreter: named commands (CallBack, Command) dispatched by
// an Interp with the arguments of a text line (Params), one line at a time
// or a whole file of lines; and PStack, a small stack of pointers.
//
// Result codes of Interp::run: -1 no such command, -2 too many arguments,
// -3 argument count outside the command's limits, -4 command disabled;
// every other value is the command's own.
#ifndef MOSAL_INTERP_H
#define MOSAL_INTERP_H

#include "mosal/DataBuf.h"
#include "mosal/Hash.h"

namespace MorvaneLib {

// The argument list of one command line: `max` preallocated slots of
// `slotSize` bytes. Commands read argc and argv directly; an index at or
// beyond argc is a missing argument.
class Params {
 public:
  // Throws LibError("Params()", ...) when out of memory, for a negative
  // count or a slot size below 1.
  Params(int max, short slotSize);
  ~Params();
  Params(const Params&) = delete;
  Params& operator=(const Params&) = delete;

  // Copies text into the next slot, cut to slotSize - 1 characters and
  // terminated. 0, or -1 when every slot is taken.
  int add(const char* text);
  // The same for n bytes that need no NUL.
  int add(const char* text, unsigned n);
  // Forgets every argument.
  void reset() { argc = 0; }

  int getArgc() const { return argc; }
  int getMax() const { return max; }
  short getSlotSize() const { return slotSize; }
  // Argument i, or null at or beyond argc.
  char* getArg(int i) const { return i >= 0 && i < argc ? argv[i] : nullptr; }
  // Name of the command being run (owned by the list).
  char* getName() const { return name->getData(); }
  void setName(const char* text);

  DataBuf* name;
  char** argv;
  int argc;
  int max;
  short slotSize;
};

// Base of everything that can be called by name.
class CallBack {
 public:
  // Copies the name.
  explicit CallBack(const char* name);
  virtual ~CallBack();
  CallBack(const CallBack&) = delete;
  CallBack& operator=(const CallBack&) = delete;

  virtual int perform(void* data);

  char* getName() const { return name->getData(); }
  void* getUserData() const { return user; }
  void setUserData(void* p) { user = p; }

 protected:
  DataBuf* name;
  void* user;
};

// A command of an interpreter: a name, the accepted argument counts and the
// work done in perform(params, data).
class Command : public CallBack {
 public:
  Command(const char* name, unsigned short minArgs, unsigned short maxArgs);

  using CallBack::perform;
  // Splits a command line into params (see Utils::splitText: blanks end an
  // argument, double quotes group, pieces are trimmed, empty ones dropped).
  // 0, or -1 when params has no slot left.
  virtual int makeParams(Params* params, const char* text);
  virtual int perform(Params* params, void* data);

  bool enabled;
  unsigned short minArgs;
  unsigned short maxArgs;
};

// Table of commands (stored by pointer; they belong to the interpreter) and
// the one argument list all runs share: run() must not be entered by two
// threads at once on one interpreter.
class Interp : public SharedHash, public Params {
 public:
  Interp(unsigned buckets, int maxArgs, short argSize);
  ~Interp() override;

  // Registers cmd under its name and enables it. 0; 10 when the name is
  // taken (cmd stays the caller's); -1 when memory runs out or cmd is null.
  int addCommand(Command* cmd);
  // 0, or -1 when no command has that name.
  int enableCommand(const char* name, bool enable);
  // Runs one command with the argument text args (null: no arguments).
  int run(const char* name, const char* args, void* data);
  // Runs every command line of a file; lines of up to lineSize characters
  // (a longer line is cut and the rest of it is ignored). 0 once the file has
  // been read, -1 if it cannot be opened (or lineSize is below 2).
  int runFile(const char* path, unsigned lineSize, void* data);
  // Deletes every command and removes it from the table.
  void deleteCommands();

  // Reports of runFile: codes -4 to -1 go to sysHandler, all others to
  // usrHandler, with the command name and the line it starts on.
  virtual void usrHandler(char* token, unsigned line, int code, void* data);
  virtual void sysHandler(char* token, unsigned line, int code, void* data);

  bool checkArgs;
};

// Fixed-capacity stack of pointers (not owned).
class PStack {
 public:
  // Throws LibError("PStack()", "Out of memory").
  explicit PStack(unsigned capacity);
  ~PStack();
  PStack(const PStack&) = delete;
  PStack& operator=(const PStack&) = delete;

  // 0, or -1 when full.
  int push(void* p);
  // The top pointer, removed; null when empty.
  void* pop();
  // The top pointer, kept; null when empty.
  void* peek() const { return top > 0 ? items[top - 1] : nullptr; }
  unsigned size() const { return top; }
  unsigned getCapacity() const { return capacity; }

 private:
  void** items;
  unsigned top;
  unsigned capacity;
};

}  // namespace MorvaneLib

#endif
