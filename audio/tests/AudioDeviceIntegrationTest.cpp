// The device functions against a real OSS emulation: a private PulseAudio
// daemon with a null sink, and the probe program run under libpulsedsp.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

std::string envOr(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? v : fallback;
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Waits for a child for at most `ms`, then kills it; its exit status or -1.
int reap(pid_t pid, int ms) {
  auto end = Clock::now() + std::chrono::milliseconds(ms);
  int status = 0;
  while (Clock::now() < end) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (r == -1) return -1;
    poll(nullptr, 0, 20);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

class PulseAudioDaemon {
 public:
  bool start(std::string* why) {
    char tmpl[] = "/tmp/ulva-pulse-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return fail(why, "mkdtemp");
    dir = tmpl;
    runtime = dir + "/run";
    mkdir(runtime.c_str(), 0700);
    socket = runtime + "/pulse/native";
    std::string daemon = envOr("ULVA_PULSEAUDIO", "/usr/bin/pulseaudio");
    pid = fork();
    if (pid == -1) return fail(why, "fork");
    if (pid == 0) {
      privateEnvironment();
      int log = open((dir + "/daemon.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (log >= 0) {
        dup2(log, 1);
        dup2(log, 2);
      }
      execl(daemon.c_str(), daemon.c_str(), "-n", "--daemonize=no", "--exit-idle-time=-1",
            "--use-pid-file=no", "--load=module-null-sink",
            "--load=module-native-protocol-unix", "--log-target=stderr", (char*)nullptr);
      _exit(127);
    }
    // The daemon is up once its socket exists; bounded at 15 s.
    auto end = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < end) {
      if (exists(socket)) return true;
      int status;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return fail(why, "daemon exited early");
      }
      poll(nullptr, 0, 20);
    }
    return fail(why, "no socket after 15 s");
  }

  void stop() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      reap(pid, 5000);
      pid = -1;
    }
    if (!dir.empty()) {
      std::string cmd = "rm -rf '" + dir + "'";
      if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir.c_str());
      dir.clear();
    }
  }

  // HOME and runtime dir inside the temporary folder: no user session needed.
  void privateEnvironment() const {
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("PULSE_RUNTIME_PATH", (runtime + "/pulse").c_str(), 1);
    unsetenv("LD_PRELOAD");
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("DISPLAY");
  }

  std::string log() const {
    std::string cmd = "tail -n 30 '" + dir + "/daemon.log' 2>/dev/null";
    std::string text;
    if (FILE* f = popen(cmd.c_str(), "r")) {
      char line[512];
      while (std::fgets(line, sizeof line, f)) text += line;
      pclose(f);
    }
    return text;
  }

  std::string dir, runtime, socket;
  pid_t pid = -1;

 private:
  bool fail(std::string* why, const char* what) {
    *why = what;
    return false;
  }
};

class AudioDeviceIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dsp = envOr("ULVA_PULSEDSP", "/usr/lib/x86_64-linux-gnu/pulseaudio/libpulsedsp.so");
    if (!exists(dsp) || !exists(envOr("ULVA_PULSEAUDIO", "/usr/bin/pulseaudio")))
      GTEST_SKIP() << "pulseaudio and pulseaudio-utils are not installed";
    std::string why;
    ASSERT_TRUE(pulse.start(&why)) << why << "\n" << pulse.log();
  }
  void TearDown() override { pulse.stop(); }

  // Runs the probe under libpulsedsp; its RESULT lines by key.
  std::map<std::string, std::string> runProbe(int* exitCode, std::string* output) {
    int fds[2];
    std::map<std::string, std::string> results;
    if (pipe(fds) == -1) return results;
    pid_t pid = fork();
    if (pid == 0) {
      pulse.privateEnvironment();
      setenv("LD_PRELOAD", dsp.c_str(), 1);
      setenv("PULSE_SERVER", ("unix:" + pulse.socket).c_str(), 1);
      // A preloaded library ahead of the sanitizer runtime is expected here,
      // and the sound server's client library keeps its own allocations.
      std::string asan = envOr("ASAN_OPTIONS", "");
      asan += std::string(asan.empty() ? "" : ":") + "verify_asan_link_order=0:detect_leaks=0";
      setenv("ASAN_OPTIONS", asan.c_str(), 1);
      setenv("MOSAL_TRACE", "1", 1);
      dup2(fds[1], 1);
      close(fds[0]);
      close(fds[1]);
      execl(ULVA_PADSP_PROBE, ULVA_PADSP_PROBE, (char*)nullptr);
      _exit(127);
    }
    close(fds[1]);
    auto end = Clock::now() + std::chrono::seconds(30);
    char chunk[4096];
    while (Clock::now() < end) {
      pollfd p = {fds[0], POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      ssize_t n = read(fds[0], chunk, sizeof chunk);
      if (n <= 0) break;
      output->append(chunk, static_cast<size_t>(n));
    }
    close(fds[0]);
    *exitCode = reap(pid, 5000);
    std::istringstream lines(*output);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.rfind("RESULT ", 0) != 0) continue;
      size_t eq = line.find('=');
      if (eq != std::string::npos) results[line.substr(7, eq - 7)] = line.substr(eq + 1);
    }
    return results;
  }

  std::string dsp;
  PulseAudioDaemon pulse;
};

int num(std::map<std::string, std::string>& r, const char* key) {
  auto it = r.find(key);
  return it == r.end() ? -99999 : std::atoi(it->second.c_str());
}

TEST_F(AudioDeviceIntegrationTest, PlaybackAndCaptureThroughTheEmulation) {
  int code = -1;
  std::string out;
  auto r = runProbe(&code, &out);
  ASSERT_EQ(0, code) << out << pulse.log();
  std::printf("probe: open_out=%s oblocksz=%s out_rate=%s open_in=%s iblocksz=%s read_total=%s level=%s\n",
              r["open_out"].c_str(), r["oblocksz"].c_str(), r["out_rate"].c_str(),
              r["open_in"].c_str(), r["iblocksz"].c_str(), r["read_total"].c_str(),
              r["level"].c_str());

  // Playback: negotiated (0, or -2 if the server moved a value), whole blocks.
  EXPECT_TRUE(num(r, "open_out") == 0 || num(r, "open_out") == -2) << out;
  EXPECT_GT(num(r, "oblocksz"), 0) << out;
  EXPECT_GT(num(r, "out_rate"), 0);
  EXPECT_GT(num(r, "writes"), 0);
  EXPECT_EQ(0, num(r, "failed_writes")) << out;
  EXPECT_EQ(100, num(r, "short_write")) << out;
  EXPECT_EQ(0, num(r, "close_out"));

  // Capture from the null sink's monitor.
  EXPECT_TRUE(num(r, "open_in") == 0 || num(r, "open_in") == -2) << out;
  EXPECT_GT(num(r, "iblocksz"), 0);
  EXPECT_GT(num(r, "read_total"), 0) << out;
  EXPECT_GE(num(r, "level"), 0);
  EXPECT_EQ(0, num(r, "close_in"));

  // The negotiation really went through the device, trace and all.
  EXPECT_NE(std::string::npos, out.find("AudioDeviceReconfig(): set rate (req = 8000)\n"));
  EXPECT_NE(std::string::npos, out.find("oblocksz  = " + r["oblocksz"] + "\n"));
  EXPECT_EQ(std::string::npos, out.find("unsupported")) << out;
}

}  // namespace
