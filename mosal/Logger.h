// Logger: time-stamped lines "(<local time>): <message>" written to one log
// file in batches.
//
// Lines are kept in memory and written by the write step, which runs before
// each new line is added and at close(). In buffered mode it writes only
// once n lines are pending; unbuffered, whenever it runs, so the newest line
// reaches the file with the next log() or at close(). Lines logged while no
// file is open wait until one is. Every line in the file ends with a newline,
// also a line cut to its slot of n characters.
//
// Thread-safe: open, log, fail and close each hold the logger's mutex for
// their whole work, so lines never interleave and keep the order in which
// they took the mutex.
#ifndef MOSAL_LOGGER_H
#define MOSAL_LOGGER_H

#include <cstdio>
#include <ctime>

#include "mosal/DataBuf.h"
#include "mosal/Vector.h"
#include "mosal_posix/Mutex.h"

namespace MorvaneLib {

class Logger {
 public:
  enum {
    MESSAGE_SIZE = 256,  // a message keeps at most 255 characters
    LINE_SIZE = 256,     // a finished line at most 255 (newline included)
    TIME_SIZE = 30       // "%a, %d %b %Y %H:%M:%S", at most 29 characters
  };

  // `n`: the longest line kept (n characters, newline included) and, in
  // buffered mode, the number of pending lines that triggers a write.
  // Throws LibError("Logger()", ...) when n is not positive or memory runs out.
  Logger(int n, unsigned char buffered);
  // Writes the pending lines and closes the file.
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Opens (truncating) the log file. 0, also when a file is already open
  // (which is then kept); -1 when the file cannot be created.
  int open(const char* path);
  // Holds a line when the logger is enabled and level >= the minimum level.
  // Always 0.
  int log(unsigned char level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Holds the line whatever the level, closes (writing everything) and ends
  // the process with status 1.
  [[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Writes the pending lines and closes the file. -1 when none is open.
  int close();
  // Writes the pending lines now, in either mode (an owner that batches its
  // lines calls it when idle, so the file is never far behind). -1 when no
  // file is open.
  int flush();

  // Levels below the minimum are dropped (0: everything passes).
  void setMinimumLevel(unsigned char level);
  unsigned char getMinimumLevel();
  // A disabled logger drops every log() (fail() still gets through).
  void setEnabled(bool on);
  bool isEnabled();

  // Lines held and not yet written; the path of the open file ("" if none,
  // the logger's own text).
  unsigned getPendingCount();
  const char* getPath() const { return path->getData(); }
  bool isOpen();

 private:
  // Under the mutex: the write step; `all` for close, which writes whatever
  // is pending also in buffered mode.
  void _flush(bool all);
  // Under the mutex: formats the finished line and holds it.
  void _hold(const char* message);
  // Under the mutex: empties the pending list.
  void _clearLines();

  FILE* file;
  Mutex* mutex;
  DataBuf* path;
  Vector* lines;
  int n;
  unsigned char minLevel;
  unsigned char buffered;
  char enabled;
  char flushed;
  // The last time stamp made and its second.
  time_t stampTime = 0;
  char stampText[TIME_SIZE] = {0};
};

}  // namespace MorvaneLib

#endif
