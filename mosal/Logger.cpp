// Logger: time stamps, the line slots, the batched write step and fail().
#include "mosal/Logger.h"

#include <cstdarg>
#include <cstring>
#include <ctime>

#include "mosal/Trace.h"
#include "mosal_posix/System.h"

namespace MorvaneLib {

Logger::Logger(int count, unsigned char buf)
    : file(nullptr),
      mutex(nullptr),
      path(nullptr),
      lines(nullptr),
      n(count),
      minLevel(0),
      buffered(buf),
      enabled(1),
      flushed(1) {
  if (count <= 0) throw LibError("Logger()", "Invalid line length %d", count);
  mutex = new Mutex();
  try {
    path = new DataBuf(1, 0, 65536, ALLOC_ONCREATE);
    path->getData()[0] = '\0';
    path->setLength(0);
    lines = new Vector(static_cast<unsigned>(count) + 1, 1, 256);
  } catch (...) {
    delete path;
    delete mutex;
    throw;
  }
}

Logger::~Logger() {
  MTRACE("~Logger(): entered\n");
  close();
  delete lines;
  delete mutex;
  delete path;
  MTRACE("~Logger(): exiting\n");
}

int Logger::open(const char* name) {
  MutexLock hold(*mutex);
  if (file != nullptr) return 0;  // the first file stays
  if (name == nullptr) return -1;
  MTRACE("Logger::open(): trying to open %s\n", name);
  FILE* f = std::fopen(name, "w+");
  if (f == nullptr) return -1;
  MTRACE("Logger::open(): trying to allocate path\n");
  unsigned len = static_cast<unsigned>(std::strlen(name)) + 1;
  if (path->xcopy(name, len) != 0 || path->getLength() != len) {
    std::fclose(f);
    path->setLength(0);
    return -1;
  }
  file = f;
  flushed = 0;
  MTRACE("Logger::open(): everything is ok\n");
  return 0;
}

void Logger::_hold(const char* message) {
  // The stamp changes once a second; a call logs dozens of lines in less.
  time_t now = std::time(nullptr);
  if (now != stampTime || stampText[0] == '\0') {
    struct tm tmv;
    if (localtime_r(&now, &tmv) == nullptr ||
        std::strftime(stampText, sizeof stampText, "%a, %d %b %Y %H:%M:%S", &tmv) == 0)
      stampText[0] = '\0';
    stampTime = now;
  }
  const char* stamp = stampText;
  char line[LINE_SIZE];
  int len = std::snprintf(line, sizeof line, "(%s): %s\n", stamp, message);
  if (len < 0) return;
  // A line cut to the line buffer or to its slot keeps its newline, so that
  // it does not run into the next line of the file.
  unsigned cut = static_cast<unsigned>(len);
  if (cut > LINE_SIZE - 1) cut = LINE_SIZE - 1;
  if (cut > static_cast<unsigned>(n)) cut = static_cast<unsigned>(n);
  if (cut < static_cast<unsigned>(len)) line[cut - 1] = '\n';
  line[cut] = '\0';
  lines->addElement(line, cut + 1);
  flushed = 0;
}

void Logger::_flush(bool all) {
  if (file == nullptr) return;
  if (!all) {
    if (!enabled) return;
    if (buffered && lines->getCount() < static_cast<unsigned>(n)) return;
  }
  unsigned count = lines->getCount();
  for (unsigned i = 0; i < count; ++i) std::fputs(lines->elementAt(i), file);
  std::fflush(file);
  _clearLines();
  flushed = 1;
}

void Logger::_clearLines() {
  // A fresh list is cheaper than removing the lines one by one (each removal
  // shifts the rest); should memory run out, the lines go one by one.
  Vector* fresh = nullptr;
  try {
    fresh = new Vector(static_cast<unsigned>(n) + 1, 1, 256);
  } catch (const LibError&) {
    while (lines->removeElement(nullptr, 0, nullptr) == 0) {
    }
    return;
  }
  delete lines;
  lines = fresh;
}

int Logger::log(unsigned char level, const char* format, ...) {
  if (format == nullptr) return 0;
  MutexLock hold(*mutex);
  if (!enabled || level < minLevel) return 0;
  char message[MESSAGE_SIZE];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(message, sizeof message, format, ap);
  va_end(ap);
  _flush(false);
  _hold(message);
  return 0;
}

void Logger::fail(const char* format, ...) {
  {
    MutexLock hold(*mutex);
    char message[MESSAGE_SIZE];
    message[0] = '\0';
    if (format != nullptr) {
      va_list ap;
      va_start(ap, format);
      std::vsnprintf(message, sizeof message, format, ap);
      va_end(ap);
    }
    _flush(false);
    _hold(message);
  }
  close();
  System::exit(1);
}

int Logger::close() {
  MutexLock hold(*mutex);
  if (file == nullptr) return -1;
  _flush(true);
  std::fclose(file);
  file = nullptr;
  path->setLength(0);
  path->getData()[0] = '\0';
  return 0;
}

int Logger::flush() {
  MutexLock hold(*mutex);
  if (file == nullptr) return -1;
  if (lines->getCount() > 0) _flush(true);
  return 0;
}

void Logger::setMinimumLevel(unsigned char level) {
  MutexLock hold(*mutex);
  minLevel = level;
}

unsigned char Logger::getMinimumLevel() {
  MutexLock hold(*mutex);
  return minLevel;
}

void Logger::setEnabled(bool on) {
  MutexLock hold(*mutex);
  enabled = on ? 1 : 0;
}

bool Logger::isEnabled() {
  MutexLock hold(*mutex);
  return enabled != 0;
}

unsigned Logger::getPendingCount() {
  MutexLock hold(*mutex);
  return lines->getCount();
}

bool Logger::isOpen() {
  MutexLock hold(*mutex);
  return file != nullptr;
}

}  // namespace MorvaneLib
