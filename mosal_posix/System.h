// System: process-wide operations (system information, working directory,
// signal masks, starting programs, daemon mode, exit). All static.
//
// Texts returned by getSystemInfo() and getWorkingDirectory() are process-wide
// buffers owned by System; getWorkingDirectory() overwrites its buffer at each
// call. Signal masks are per thread: blockSignals() is called in the main
// thread before other threads start (they inherit the mask).
#ifndef MOSAL_POSIX_SYSTEM_H
#define MOSAL_POSIX_SYSTEM_H

namespace MorvaneLib {

class System {
 public:
  enum { INFO_SIZE = 256, CWD_SIZE = 1024 };
  enum { INFO_OS = 0, INFO_MOSAL = 1, INFO_ARCH = 2, INFO_HOSTNAME = 3 };

  // Fills the information texts (host name, "linux", "1.8.1-00", "i686"); 0.
  static int init();
  static void cleanup() {}

  // 0 operating system, 1 runtime version, 2 architecture, 3 host name;
  // anything else null.
  static char* getSystemInfo(int what);

  // The current directory, or null if it cannot be read (or is longer than
  // 1023 characters).
  static char* getWorkingDirectory();
  static int setWorkingDirectory(const char* dir);

  // Sets the calling thread's mask to exactly SIGTERM, SIGINT, SIGQUIT,
  // SIGHUP, SIGSEGV, SIGBUS, SIGABRT and SIGPIPE, and installs `handler`
  // (restarting system calls; those eight plus SIGUSR1 and SIGUSR2 blocked
  // while it runs) for all of them but SIGPIPE, which stays only blocked.
  static void blockSignals(void (*handler)(int));
  // Unblocks those signals but SIGPIPE for the calling thread.
  static void unblockSignals();

  // Starts `program` (a path, not searched) with `argv` (null-terminated) in
  // a new process. The program starts with an empty signal mask. 0 once the
  // program runs; -1 with errno set when no process could be made or the
  // program could not be started (the child then ends at once with status
  // 127 and is reaped). `pid`, when given, receives the child's id.
  static int exec(const char* program, char** argv, int* pid = nullptr);

  // Forks; the parent process exits with status 0, the child puts its
  // standard input, output and error on /dev/null and returns 0. -1 if the
  // fork fails.
  static int daemonize();

  // cleanup(), then ends the process with `code`.
  [[noreturn]] static void exit(int code);
  // Prints the formatted text on standard output, then exit(code).
  [[noreturn]] static void fail(int code, const char* format, ...)
      __attribute__((format(printf, 2, 3)));

 private:
  static char _hostname[INFO_SIZE];
  static char _osinfo[INFO_SIZE];
  static char _mosalinfo[INFO_SIZE];
  static char _archinfo[INFO_SIZE];
  static char _cwdpath[CWD_SIZE];
};

}  // namespace MorvaneLib

#endif
