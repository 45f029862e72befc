// System and DSO: information texts, working directory, exec (running,
// failing to start, signal mask of the child), daemonize, exit and fail in
// child processes, signal masks and handlers; loading shared objects.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mosal/Error.h"
#include "mosal/Trace.h"
#include "mosal_posix/DSO.h"
#include "mosal_posix/System.h"

using namespace MorvaneLib;

namespace {

std::string readAll(int fd) {
  std::string s;
  char buf[256];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
  return s;
}

std::string fileText(const std::string& p) {
  int fd = open(p.c_str(), O_RDONLY);
  if (fd < 0) return "<missing>";
  std::string s = readAll(fd);
  close(fd);
  return s;
}

int waitExit(int pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1000;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

void exitOnSignal(int sig) { _exit(100 + sig); }

}  // namespace

TEST(System, InformationTexts) {
  EXPECT_EQ(System::init(), 0);
  EXPECT_STREQ(System::getSystemInfo(0), "linux");
  EXPECT_STREQ(System::getSystemInfo(1), "1.8.1-00");
  EXPECT_STREQ(System::getSystemInfo(2), "i686");
  char host[256] = {0};
  gethostname(host, sizeof host - 1);
  EXPECT_STREQ(System::getSystemInfo(3), host);
  EXPECT_EQ(System::getSystemInfo(4), nullptr);
  EXPECT_EQ(System::getSystemInfo(-1), nullptr);
}

TEST(System, WorkingDirectory) {
  std::string old = System::getWorkingDirectory();
  EXPECT_EQ(System::setWorkingDirectory("/tmp"), 0);
  EXPECT_STREQ(System::getWorkingDirectory(), "/tmp");
  EXPECT_EQ(System::setWorkingDirectory("/no/such/directory"), -1);
  EXPECT_STREQ(System::getWorkingDirectory(), "/tmp");
  EXPECT_EQ(System::setWorkingDirectory(old.c_str()), 0);
}

TEST(System, ExecRunsTheProgramAndTracesIt) {
  char tmpl[] = "/tmp/mosal-exec-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  std::string out = dir + "/out";
  std::string script = "echo \"$0 $1\" > " + out + "; exit 3";
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                  const_cast<char*>(script.c_str()), const_cast<char*>("zero"),
                  const_cast<char*>("one"), nullptr};
  int pid = 0;
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  int r = System::exec("/bin/sh", argv, &pid);
  std::string trace = testing::internal::GetCapturedStdout();
  ASSERT_EQ(r, 0);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(waitExit(pid), 3);
  EXPECT_EQ(fileText(out), "zero one\n");
  EXPECT_NE(trace.find("System::exec(): created process " + std::to_string(pid) + "\n"),
            std::string::npos);
  EXPECT_NE(trace.find("System::exec(): running program /bin/sh\n"), std::string::npos);
  std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(System, ExecOfAMissingProgramFailsAndTheChildIsGone) {
  char* argv[] = {const_cast<char*>("nothing"), nullptr};
  pid_t before = getpid();
  errno = 0;
  EXPECT_EQ(System::exec("/no/such/program", argv), -1);
  EXPECT_EQ(errno, ENOENT);
  // Still the test process, and no child is left over (it was reaped).
  EXPECT_EQ(getpid(), before);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  char dirArg[] = "/tmp";
  char* argv2[] = {dirArg, nullptr};
  EXPECT_EQ(System::exec("/tmp", argv2), -1);  // a directory cannot run
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(System::exec(nullptr, argv2), -1);
}

TEST(System, ExecedProgramStartsWithAnEmptySignalMask) {
  char tmpl[] = "/tmp/mosal-exec-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  std::string out = dir + "/mask";
  std::string script = "grep SigBlk /proc/self/status > " + out;
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                  const_cast<char*>(script.c_str()), nullptr};
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGTERM);
  sigaddset(&block, SIGINT);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  int pid = 0;
  int r = System::exec("/bin/sh", argv, &pid);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  ASSERT_EQ(r, 0);
  EXPECT_EQ(waitExit(pid), 0);
  EXPECT_EQ(fileText(out), "SigBlk:\t0000000000000000\n");
  std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(System, DaemonizeLeavesAChildWithStandardStreamsOnDevNull) {
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  pid_t helper = fork();
  ASSERT_GE(helper, 0);
  if (helper == 0) {
    close(report[0]);
    int r = System::daemonize();
    // Only the daemon gets here: the helper itself has exited with 0.
    char line[128];
    struct stat out, null;
    fstat(1, &out);
    stat("/dev/null", &null);
    int fd = open("/dev/null", O_RDONLY);  // does not take descriptor 0-2
    int n = snprintf(line, sizeof line, "%d %d %d %d", r, static_cast<int>(getpid()),
                     out.st_rdev == null.st_rdev ? 1 : 0, fd > 2 ? 1 : 0);
    ssize_t w = write(report[1], line, static_cast<size_t>(n));
    (void)w;
    _exit(0);
  }
  close(report[1]);
  EXPECT_EQ(waitExit(helper), 0);
  std::string got = readAll(report[0]);
  int r = -1, daemonPid = 0, onNull = 0, fresh = 0;
  ASSERT_EQ(sscanf(got.c_str(), "%d %d %d %d", &r, &daemonPid, &onNull, &fresh), 4) << got;
  EXPECT_EQ(r, 0);
  EXPECT_NE(daemonPid, helper);  // the code after daemonize() runs in the new child
  EXPECT_EQ(onNull, 1);
  EXPECT_EQ(fresh, 1);
  close(report[0]);
}

TEST(System, ExitAndFailEndTheProcess) {
  EXPECT_EXIT(System::exit(7), testing::ExitedWithCode(7), "");
  EXPECT_EXIT(System::fail(4, "IOMonitor: %s\n", "(CRITICAL) NULL Handle"),
              testing::ExitedWithCode(4), "");
  // The text goes to standard output: check it through a pipe.
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(p[1], 1);
    System::fail(5, "failed with %d\n", 42);
  }
  close(p[1]);
  EXPECT_EQ(waitExit(pid), 5);
  EXPECT_EQ(readAll(p[0]), "failed with 42\n");
  close(p[0]);
}

// Run in a child process: ends with 100 + SIGTERM when all is right.
void blockThenUnblock() {
  System::blockSignals(exitOnSignal);
  sigset_t now;
  pthread_sigmask(SIG_SETMASK, nullptr, &now);
  const int masked[] = {SIGTERM, SIGINT, SIGQUIT, SIGHUP, SIGSEGV, SIGBUS, SIGABRT, SIGPIPE};
  for (int s : masked)
    if (!sigismember(&now, s)) _exit(1);
  if (sigismember(&now, SIGUSR1)) _exit(2);
  struct sigaction sa;
  sigaction(SIGPIPE, nullptr, &sa);
  if (sa.sa_handler == exitOnSignal) _exit(3);  // SIGPIPE is only blocked
  sigaction(SIGTERM, nullptr, &sa);
  if (sa.sa_handler != exitOnSignal || !(sa.sa_flags & SA_RESTART) ||
      !sigismember(&sa.sa_mask, SIGUSR2) || !sigismember(&sa.sa_mask, SIGPIPE))
    _exit(4);
  raise(SIGTERM);  // pending: blocked
  System::unblockSignals();
  _exit(5);  // not reached: the handler exits first
}

// Run in a child process: 0 when SIGPIPE stays blocked and SIGINT is open.
void unblockKeepsSigpipe() {
  System::blockSignals(exitOnSignal);
  System::unblockSignals();
  sigset_t now;
  pthread_sigmask(SIG_SETMASK, nullptr, &now);
  _exit(sigismember(&now, SIGPIPE) && !sigismember(&now, SIGINT) ? 0 : 1);
}

TEST(System, BlockSignalsMasksAndUnblockDeliversToTheHandler) {
  EXPECT_EXIT(blockThenUnblock(), testing::ExitedWithCode(100 + SIGTERM), "");
  EXPECT_EXIT(unblockKeepsSigpipe(), testing::ExitedWithCode(0), "");
}

TEST(DSO, OpensAnObjectAndFindsItsSymbols) {
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  DSO libm("libm.so.6");
  std::string trace = testing::internal::GetCapturedStdout();
  EXPECT_EQ(trace, "opening dso \"libm.so.6\" in NOW e GLOBAL mode\n");
  auto cosine = reinterpret_cast<double (*)(double)>(libm["cos"]);
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(libm["no_such_symbol_here"], nullptr);
  char* e = libm.getError();
  ASSERT_NE(e, nullptr);
  EXPECT_NE(std::strstr(e, "no_such_symbol_here"), nullptr);
}

TEST(DSO, MissingObjectThrowsTheLoaderText) {
  try {
    DSO d("/no/such/libplugin.so");
    FAIL() << "opened a missing object";
  } catch (LibError& e) {
    EXPECT_STREQ(e.getLocation(), "DSO()");
    EXPECT_NE(std::strstr(e.getReason(), "/no/such/libplugin.so"), nullptr);
  }
}
