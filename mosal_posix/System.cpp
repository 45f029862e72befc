// System: host information, working directory, signals, exec, daemon mode.
#include "mosal_posix/System.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mosal/Trace.h"

namespace MorvaneLib {

char System::_hostname[INFO_SIZE];
char System::_osinfo[INFO_SIZE];
char System::_mosalinfo[INFO_SIZE];
char System::_archinfo[INFO_SIZE];
char System::_cwdpath[CWD_SIZE];

namespace {

const int kHandled[] = {SIGTERM, SIGQUIT, SIGINT, SIGSEGV, SIGBUS, SIGHUP, SIGABRT};

void fillMaskedSet(sigset_t* set) {
  sigemptyset(set);
  for (int s : kHandled) sigaddset(set, s);
  sigaddset(set, SIGPIPE);
}

}  // namespace

int System::init() {
  if (gethostname(_hostname, sizeof _hostname) != 0) _hostname[0] = '\0';
  _hostname[sizeof _hostname - 1] = '\0';
  std::snprintf(_osinfo, sizeof _osinfo, "%s", "linux");
  std::snprintf(_mosalinfo, sizeof _mosalinfo, "%s", "1.8.1-00");
  std::snprintf(_archinfo, sizeof _archinfo, "%s", "i686");
  return 0;
}

char* System::getSystemInfo(int what) {
  switch (what) {
    case INFO_OS: return _osinfo;
    case INFO_MOSAL: return _mosalinfo;
    case INFO_ARCH: return _archinfo;
    case INFO_HOSTNAME: return _hostname;
    default: return nullptr;
  }
}

char* System::getWorkingDirectory() {
  if (getcwd(_cwdpath, sizeof _cwdpath) == nullptr) return nullptr;
  return _cwdpath;
}

int System::setWorkingDirectory(const char* dir) {
  if (dir == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return chdir(dir) == 0 ? 0 : -1;
}

void System::blockSignals(void (*handler)(int)) {
  sigset_t mask;
  fillMaskedSet(&mask);
  pthread_sigmask(SIG_SETMASK, &mask, nullptr);

  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = handler ? handler : SIG_DFL;
  sa.sa_flags = SA_RESTART;
  fillMaskedSet(&sa.sa_mask);
  sigaddset(&sa.sa_mask, SIGUSR1);
  sigaddset(&sa.sa_mask, SIGUSR2);
  for (int s : kHandled) sigaction(s, &sa, nullptr);
}

void System::unblockSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kHandled) sigaddset(&set, s);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

int System::exec(const char* program, char** argv, int* pidOut) {
  if (program == nullptr || argv == nullptr) {
    errno = EINVAL;
    return -1;
  }
  // The child reports a failed execv through this pipe; a successful one
  // closes it (close-on-exec), so the parent reads end of file.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return -1;

  // No signal handler of the caller may run in the child before execv:
  // everything is blocked across the fork, and the child resets handlers
  // to their defaults before opening the mask.
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &saved);

  pid_t pid = fork();
  if (pid == 0) {
    close(report[0]);
    for (int s = 1; s < NSIG; ++s) {
      struct sigaction old;
      if (sigaction(s, nullptr, &old) != 0) continue;
      if (old.sa_handler != SIG_IGN && old.sa_handler != SIG_DFL) {
        struct sigaction dfl;
        std::memset(&dfl, 0, sizeof dfl);
        dfl.sa_handler = SIG_DFL;
        sigaction(s, &dfl, nullptr);
      }
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execv(program, argv);
    int e = errno;
    ssize_t w = write(report[1], &e, sizeof e);
    (void)w;
    _exit(127);
  }

  int forkErrno = errno;
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  close(report[1]);
  if (pid < 0) {
    close(report[0]);
    MTRACE("System::exec(): cannot create process (%s)\n", std::strerror(forkErrno));
    errno = forkErrno;
    return -1;
  }
  MTRACE("%s: created process %d\n", "System::exec()", static_cast<int>(pid));

  int childErrno = 0;
  ssize_t got;
  do {
    got = read(report[0], &childErrno, sizeof childErrno);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof childErrno)) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    MTRACE("System::exec(): cannot run program %s (%s)\n", program, std::strerror(childErrno));
    errno = childErrno;
    return -1;
  }
  if (pidOut) *pidOut = static_cast<int>(pid);
  MTRACE("%s: running program %s\n", "System::exec()", program);
  return 0;
}

int System::daemonize() {
  // Pending output belongs to the process that is about to go: write it once.
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid > 0) _exit(0);
  // Descriptors 0-2 stay taken (by /dev/null): otherwise the next file or
  // socket opened would get one of them and trace lines would land in it.
  int null = open("/dev/null", O_RDWR);
  for (int fd = 0; fd <= 2; ++fd) {
    if (null >= 0) {
      if (null != fd) dup2(null, fd);
    } else {
      close(fd);
    }
  }
  if (null > 2) close(null);
  return 0;
}

void System::exit(int code) {
  cleanup();
  std::exit(code);
}

void System::fail(int code, const char* format, ...) {
  if (format) {
    va_list ap;
    va_start(ap, format);
    std::vprintf(format, ap);
    va_end(ap);
  }
  std::fflush(stdout);
  exit(code);
}

}  // namespace MorvaneLib
