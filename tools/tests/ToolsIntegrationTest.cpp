// mortest and morconsole run as processes on the built plug-ins, with their
// output lines checked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

long long nowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string buildDir() {
  const char* b = getenv("MOSAL_BUILD_DIR");
  return b != nullptr ? b : ".";
}

std::string pluginDir() {
  const char* p = getenv("MOSAL_PLUGIN_PATH");
  return p != nullptr ? p : "";
}

// A scratch directory for this process; each run gets its own home in it.
std::string scratch() {
  static std::string dir;
  if (dir.empty()) {
    char tmpl[] = "/tmp/morvane-tools-XXXXXX";
    char* d = mkdtemp(tmpl);
    if (d == nullptr) return "/tmp";
    dir = d;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
    });
  }
  return dir;
}

// Runs the program with the arguments, feeding `input` on standard input,
// in `cwd`, with tracing off and a private data directory. Killed after 60 s.
Result runTool(const std::string& program, const std::vector<std::string>& args,
               const std::string& input = "", const std::string& cwd = "",
               const std::vector<std::string>& env = {}) {
  Result r;
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return r;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    setenv("MOSAL_TRACE", "0", 1);
    static int counter = 0;
    std::string home = scratch() + "/home" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    setenv("MORVANE_HOME", home.c_str(), 1);
    for (const std::string& e : env) putenv(strdup(e.c_str()));
    std::string path = buildDir() + "/tools/" + program;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  size_t written = 0;
  if (input.empty()) {
    close(in[1]);
    in[1] = -1;
  }
  fcntl(out[0], F_SETFL, O_NONBLOCK);
  fcntl(err[0], F_SETFL, O_NONBLOCK);
  if (in[1] >= 0) fcntl(in[1], F_SETFL, O_NONBLOCK);
  long long deadline = nowMs() + 60000;
  bool outOpen = true, errOpen = true;
  while ((outOpen || errOpen) && nowMs() < deadline) {
    struct pollfd p[3];
    int n = 0;
    if (outOpen) p[n++] = {out[0], POLLIN, 0};
    if (errOpen) p[n++] = {err[0], POLLIN, 0};
    if (in[1] >= 0) p[n++] = {in[1], POLLOUT, 0};
    poll(p, static_cast<nfds_t>(n), 200);
    char buf[8192];
    ssize_t k;
    if (outOpen) {
      while ((k = read(out[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<size_t>(k));
      if (k == 0) outOpen = false;
    }
    if (errOpen) {
      while ((k = read(err[0], buf, sizeof buf)) > 0) r.err.append(buf, static_cast<size_t>(k));
      if (k == 0) errOpen = false;
    }
    if (in[1] >= 0) {
      k = write(in[1], input.data() + written, input.size() - written);
      if (k > 0) written += static_cast<size_t>(k);
      if (written == input.size() || (k < 0 && errno != EAGAIN)) {
        close(in[1]);
        in[1] = -1;
      }
    }
  }
  if (outOpen || errOpen) kill(pid, SIGKILL);
  if (in[1] >= 0) close(in[1]);
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  return r;
}

const char* kBanner = "mortest: block plug-in test tool\n";
const char* kHelp =
    "Accepted parameters:\n"
    " --block-interaction (test interaction with blocks)\n"
    "    parameters: <plugin>\n"
    " --plugin-loading    (test loading of plugins)\n"
    "    parameters: <mrb path>\n"
    " --plugin-instance   (test creation on blocks)\n"
    "    parameters: <plugin>\n"
    " --plugin-list       (list available plugins)\n"
    " --quiet             (redirect messages to file)\n"
    " --help              (print this help screen)\n"
    "\n";

std::string answer(unsigned serial, unsigned code, int ret, const char* status) {
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "Message with serial %u sent\nWaiting for status message\n"
                "Response for serial %u is as follows\n message serial : %u\n"
                " message code   : %u\n handler return : %d\n block status   : %s\n"
                " error          : \n--\n",
                serial, serial, serial, code, ret, status);
  return buf;
}

}  // namespace

TEST(Mortest, BannerHelpAndUnknownOptions) {
  Result r = runTool("mortest", {});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kBanner);
  EXPECT_EQ(r.out, "");

  r = runTool("mortest", {"--help", "stray", "--bogus"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, std::string(kBanner) + kHelp + "Unrecognized parameter: --bogus\n" + kHelp);

  // An option whose value is missing at the end neither crashes nor runs.
  r = runTool("mortest", {"--plugin-instance"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, std::string(kBanner) + "Missing value for --plugin-instance\n" + kHelp);
}

TEST(Mortest, PluginListShowsEveryRecord) {
  Result r = runTool("mortest", {"--plugin-list"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.rfind(std::string(kBanner) + "Executing: plugin list query\n", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("Plugin   : CounterSource\n"
                       "Version  : 1.2.3.4\n"
                       "Info     : Sends numbered test pictures\n"
                       "Copyright: (c) the framework's own tests\n"
                       "Provides : Source\n"
                       "--\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Plugin   : ChecksumSink\nVersion  : 0.3.0.1\n"), std::string::npos);
  EXPECT_NE(r.err.find("Provides : Filter\n"), std::string::npos);
  EXPECT_EQ(r.err.find("BrokenBlock"), std::string::npos);
}

TEST(Mortest, PluginInstancePrintsTheBlockOrWhyNot) {
  Result r = runTool("mortest", {"--plugin-instance", "PassFilter"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, std::string(kBanner) +
                       "Executing: plugin instance\n"
                       "Block \"F0000000001\" of type \"PassFilter\" (Filter)\n"
                       "  status  : idle\n"
                       "  inputs  : IN\n"
                       "  outputs : OUT\n"
                       "  info    : -\n");
  r = runTool("mortest", {"--plugin-instance", "NoSuchPlugin"});
  EXPECT_EQ(r.err, std::string(kBanner) + "Executing: plugin instance\n" +
                       "Error: cannot find plugin NoSuchPlugin\n");
  r = runTool("mortest", {"--plugin-instance", "BrokenBlock"}, "", "",
              {"MORVANE_BROKEN_MODE=setup"});
  EXPECT_NE(r.err.find("Executing: plugin instance\nError: Cannot set up block G0000000001 of "
                       "type BrokenBlock: BrokenBlock cannot set blocks up\n"),
            std::string::npos)
      << r.err;
}

TEST(Mortest, BlockInteractionSendsEveryWordButQuitAndKill) {
  Result r = runTool("mortest", {"--block-interaction", "CounterSource"});
  EXPECT_EQ(r.status, 0);
  std::string expect = std::string(kBanner) +
                       "Executing: block interaction\n"
                       "Interacting with block:\n"
                       "Block \"S0000000001\" of type \"CounterSource\" (Source)\n"
                       "  status  : idle\n"
                       "  inputs  : -\n"
                       "  outputs : OUT\n"
                       "  info    : counting pictures\n"
                       "Testing messages in blocking mode...\n";
  const char* words[] = {"reset", "start", "stop",   "pause",  "resume", "status",
                         "save",  "load",  "quit",   "user 1", "user 2", "kill"};
  const char* after[] = {"ready", "running", "stopped", "paused", "running", "running",
                         "running", "running", "", "running", "running", ""};
  unsigned serial = 0;
  for (unsigned i = 0; i < 12; ++i) {
    if (i == 8 || i == 11) {
      expect += std::string("Skipping message \"") + words[i] + "\"\n";
      continue;
    }
    expect += std::string("Sending message \"") + words[i] + "\"\n";
    // "user 1" posts an event nobody listens to: its handler says so.
    expect += answer(++serial, i, i == 9 ? 1 : 0, after[i]);
  }
  EXPECT_EQ(r.err, expect);
}

TEST(Mortest, PluginLoadingLoadsAndUnloads) {
  std::string filter = pluginDir() + "/PassFilter.mrb";
  std::string tail = "Executing: plugin loading\nNow loading plugin...\n";
  Result r = runTool("mortest", {"--plugin-loading", filter});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, std::string(kBanner) + tail +
                       "Plugin loaded.\nNow unloading the plugin\nTest passed.\n");

  std::string broken = pluginDir() + "/BrokenPlugin.mrb";
  r = runTool("mortest", {"--plugin-loading", broken});
  EXPECT_EQ(r.err, std::string(kBanner) + tail + "Cannot load plugin\nError: load entry of " +
                       broken + " failed: BrokenBlock refuses to load\n");

  // A plug-in that still has a block stays loaded, and the test goes on.
  r = runTool("mortest", {"--plugin-loading", filter, "--plugin-instance", "PassFilter"});
  EXPECT_NE(r.err.find("Now unloading the plugin\nCannot unload plugin\n"
                       "Error: plug-in PassFilter still has 1 block\nTest passed.\n"),
            std::string::npos)
      << r.err;
}

TEST(Mortest, TestsRunInTheirFixedOrderAndQuietWritesAFile) {
  std::string dir = scratch() + "/quiet";
  mkdir(dir.c_str(), 0755);
  Result r = runTool("mortest",
                     {"--plugin-list", "--quiet", "--plugin-loading", pluginDir() + "/PassFilter.mrb",
                      "--plugin-instance", "ChecksumSink", "--block-interaction", "PassFilter"},
                     "", dir);
  EXPECT_EQ(r.status, 0);
  size_t a = r.err.find("Executing: block interaction");
  size_t b = r.err.find("Executing: plugin instance");
  size_t c = r.err.find("Executing: plugin loading");
  size_t d = r.err.find("Executing: plugin list query");
  ASSERT_NE(d, std::string::npos);
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_LT(c, d);
  struct stat st;
  EXPECT_EQ(stat((dir + "/messages.txt").c_str(), &st), 0);
  EXPECT_EQ(r.out, "");
}

TEST(Mortest, AnUnusableDataDirectoryIsReported) {
  std::string file = scratch() + "/plainfile";
  std::ofstream(file) << "x";
  Result r = runTool("mortest", {"--plugin-list"}, "", "", {"MORVANE_HOME=" + file});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string(kBanner) +
                       "Cannot initialize application\n"
                       "Reason: Cannot create data directory in ConfigStorage()\n");
}

TEST(Morconsole, RunsEachLineAndStopsAtQuit) {
  Result r = runTool("morconsole", {},
                     "create CounterSource cam\n"
                     "create ChecksumSink sink\n"
                     "connect cam.OUT sink.IN\n"
                     "list pins cam\n"
                     "set cam Width\n"
                     "create PassFilter \\\n"
                     "pass\n"
                     "\n"
                     "list blocks\n"
                     "Quitting now\n"
                     "list blocks\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Graph engine returned 0\n"
            "Graph engine returned 0\n"
            "Graph engine returned 0\n"
            "pin cam.OUT out -> sink.IN\n"
            "Graph engine returned 0\n"
            "Graph engine returned 1\n"
            "Graph engine returned 0\n"
            "Graph engine returned 0\n"
            "block cam CounterSource idle\n"
            "block sink ChecksumSink idle\n"
            "block pass PassFilter idle\n"
            "Graph engine returned 0\n");
  EXPECT_NE(r.err.find("line 1: wrong number of arguments"), std::string::npos) << r.err;
}

TEST(Morconsole, EndOfInputInsideALineDropsIt) {
  Result r = runTool("morconsole", {}, "create CounterSource a\nlist blocks");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Graph engine returned 0\n");
  r = runTool("morconsole", {}, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

TEST(Morconsole, AnOverlongLineIsRefusedAndTheNextOneRuns) {
  std::string huge = "echo " + std::string(300000, 'x') + "\n";
  Result r = runTool("morconsole", {}, huge + "echo after\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Graph engine returned -1\nafter\nGraph engine returned 0\n");
}
