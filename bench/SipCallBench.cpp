// SIP call set-up on loopback between two "SipController" blocks (two block
// managers in this process, over TCP): the time from the caller's "Invite"
// to event 1003 on both sides, the callee accepting at once from its event
// thread, against the round trip of a plain loopback TCP exchange measured
// in the same run (the outside baseline); then complete sequential calls
// (set up and torn down) per second, with the process's resident memory
// before and after.
//
//   SIP_BENCH_SECONDS  duration of the calls-per-second run (default 5; 30
//                      for the full figure)
//   SIP_BENCH_CALLS    calls of the memory run (default 10000)
//   SIP_BENCH_PHASES   print when each event of a set-up arrived
//   SIP_BENCH_LOOP_TIMEOUT_MS  the blocks' select() time-out instead of 10 ms:
//                      set-up times that do not grow with it wait for none
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include "BenchSupport.h"
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/BlockAdapter.h"
#include "framework/BlockManager.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

using Clock = std::chrono::steady_clock;

int freePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

long rssKb() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

int envInt(const char* name, int fallback) {
  const char* v = getenv(name);
  return v != nullptr && *v != '\0' ? std::atoi(v) : fallback;
}

std::string copy(ConfigTable* t, const char* k) {
  char buf[512];
  return t != nullptr && t->copyString(k, buf, sizeof buf) == 0 ? buf : "";
}

// One videophone: a manager, a SipController block listening on TCP and
// the thread that reads its events.
class Phone {
 public:
  Phone(const char* app, bool autoAccept) : _autoAccept(autoAccept) {
    _manager.reset(new BlockManager(app, nullptr));
    _manager->start();
    Plugin* p = _manager->getPluginLoader()->getPlugin("SipController");
    if (p == nullptr || _manager->createPluginInstance(p, &_block) != 0) {
      std::fprintf(stderr, "SipCallBench: no SipController block: %s\n",
                   _manager->getErrorString());
      std::exit(1);
    }
    // A longer loop time-out shows that no step of a call waits for it.
    int timeoutMs = envInt("SIP_BENCH_LOOP_TIMEOUT_MS", 0);
    if (timeoutMs > 0) _block->setTimeout(timeoutMs / 1000, (timeoutMs % 1000) * 1000L);
    _adapter.reset(new BlockAdapter(app, sizeof(cmessage_t), 1, 256));
    _adapter->connect(_block);
    _port = freePort();
    _block->getProperties()->setString("Transport", "TCP", 4);
    _block->getProperties()->setInt("ListenPort", _port);
    if (_manager->sendMessage(_block->getName(), "reset", true) != 0) {
      std::fprintf(stderr, "SipCallBench: reset failed: %s\n", _block->getErrorString());
      std::exit(1);
    }
    _done.reset(new DefaultStatusListener(_block, 64));
    _events = std::thread([this] { _run(); });
  }
  ~Phone() {
    _stop.store(true);
    _events.join();
    _done.reset();
    _adapter->disconnect(_block);
    _manager->destroyBlock(_block);
  }
  int port() const { return _port; }
  Block* block() { return _block; }

  // Runs a script whose end is awaited later with finished().
  bool send(const std::string& script) {
    return _block->sendCommandScript(script.c_str(), _done.get(), nullptr) == 0;
  }
  // Waits for the status of one script sent with send() (by any thread).
  bool finished(int ms = 5000) {
    status_t s;
    return _done->waitStatus(&s, static_cast<unsigned>(ms)) == 0;
  }

  // Waits for an event of `code` about `callId`; its arrival time.
  bool wait(unsigned code, const std::string& callId, Clock::time_point* at, int ms = 5000) {
    std::unique_lock<std::mutex> l(_lock);
    bool ok = _cv.wait_for(l, std::chrono::milliseconds(ms), [&] {
      return _last.count(code) && _last[code].first == callId;
    });
    if (ok && at != nullptr) *at = _last[code].second;
    return ok;
  }

 private:
  void _run() {
    while (!_stop.load()) {
      cmessage_t m;
      if (_adapter->recvMessage(&m, 20) != 0) continue;
      Clock::time_point now = Clock::now();
      std::string id = copy(m.params, "Call-ID");
      if (_autoAccept && m.code == 1001) {
        std::string script = "SessionCreate \"" + id + "\" \"-\" \"-\"\n" + "SessionSet " + id +
                             " VideoMinPort 7001\nSessionSet " + id +
                             " AudioMinPort 10001\nSessionSet " + id +
                             " TextMinPort 0\nSessionSet " + id +
                             " WhiteBoardMinPort 0\nSessionSet " + id +
                             " Natted 0\nInviteAccept \"" + id + "\" \"" +
                             copy(m.params, "To") + "\" \"" + copy(m.params, "From") +
                             "\" \"-\" \"127.0.0.1\" 5060\n";
        _block->sendCommandScript(script.c_str());
      }
      if (_autoAccept && m.code == 1006) send("SessionDestroy \"" + id + "\"\n");
      {
        std::lock_guard<std::mutex> l(_lock);
        _last[m.code] = {id, now};
      }
      _cv.notify_all();
    }
  }

  bool _autoAccept;
  std::unique_ptr<BlockManager> _manager;
  Block* _block = nullptr;
  std::unique_ptr<BlockAdapter> _adapter;
  std::unique_ptr<DefaultStatusListener> _done;
  int _port = 0;
  std::thread _events;
  std::atomic<bool> _stop{false};
  std::mutex _lock;
  std::condition_variable _cv;
  std::map<unsigned, std::pair<std::string, Clock::time_point>> _last;
};

struct Pair {
  Pair() {
    Trace::setEnabled(false);
    char dir[] = "/tmp/sip-bench-XXXXXX";
    if (mkdtemp(dir) != nullptr) setenv("MORVANE_HOME", dir, 1);
    caller.reset(new Phone("benchcaller", false));
    callee.reset(new Phone("benchcallee", true));
  }
  std::unique_ptr<Phone> caller, callee;
  unsigned next = 0;
};

Pair& pair() {
  static Pair p;
  return p;
}

double _fail(const char* what, const std::string& id) {
  std::fprintf(stderr, "SipCallBench: %s: no %s\n", id.c_str(), what);
  return -1;
}

// One call from Invite to 1003 on both sides: the set-up time in seconds,
// or a negative value when it failed. With `tearDown` the call is ended
// (Bye, 1005 and 1006, both sessions destroyed).
double call(bool tearDown) {
  Pair& p = pair();
  std::string id = "bench-" + std::to_string(++p.next);
  std::string script = "SessionCreate \"" + id + "\" \"s\" \"d\"\nSessionSet " + id +
                       " VideoMinPort 6001\nSessionSet " + id + " AudioMinPort 9001\nSessionSet " +
                       id + " TextMinPort 0\nSessionSet " + id +
                       " WhiteBoardMinPort 0\nSessionSet " + id + " Natted 0\nSessionSet " + id +
                       " To \"bob\"\nInvite \"" + id + "\" \"bob\" \"alice\" \"s\" \"127.0.0.1\" " +
                       std::to_string(p.callee->port()) + "\n";
  Clock::time_point start = Clock::now(), a, b;
  if (p.caller->block()->sendCommandScript(script.c_str()) != 0) return -1;
  if (!p.caller->wait(1003, id, &a)) return _fail("caller 1003", id);
  if (!p.callee->wait(1003, id, &b)) return _fail("callee 1003", id);
  double setup = std::chrono::duration<double>((a > b ? a : b) - start).count();
  if (getenv("SIP_BENCH_PHASES")) {
    Clock::time_point x, y;
    p.callee->wait(1001, id, &x);
    p.caller->wait(1002, id, &y);
    auto us = [&](Clock::time_point t) { return std::chrono::duration<double>(t - start).count() * 1e6; };
    std::fprintf(stderr, "B1001 %.0f A1002 %.0f A1003 %.0f B1003 %.0f us\n", us(x), us(y), us(a), us(b));
  }
  if (tearDown) {
    p.caller->block()->sendCommandScript(
        ("Bye \"" + id + "\" \"bob\" \"alice\" \"127.0.0.1\" 5060\n").c_str());
    if (!p.caller->wait(1005, id, nullptr)) return _fail("caller 1005", id);
    if (!p.callee->wait(1006, id, nullptr)) return _fail("callee 1006", id);
    // Both sessions are gone before the next call begins: its set-up time
    // does not include this call's clean-up.
    if (!p.caller->send("SessionDestroy \"" + id + "\"\n") || !p.caller->finished())
      return _fail("caller SessionDestroy", id);
    if (!p.callee->finished()) return _fail("callee SessionDestroy", id);
  }
  return setup;
}

double g_setup = 0, g_rtt = 0;
std::vector<double> g_setups, g_rtts;

using bench::median;

void BM_SipCallSetup(benchmark::State& state) {
  double total = 0;
  long n = 0;
  for (auto _ : state) {
    double t = call(true);
    if (t < 0) {
      state.SkipWithError("call failed");
      return;
    }
    state.SetIterationTime(t);
    g_setups.push_back(t);
    total += t;
    ++n;
  }
  if (n > 0) g_setup = total / n;
}
BENCHMARK(BM_SipCallSetup)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The baseline: one small message to an echo thread and back over loopback
// TCP (with Nagle off, as a request/answer protocol wants it).
void BM_LoopbackTcpRoundTrip(benchmark::State& state) {
  int ls = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(ls, 1);
  getsockname(ls, reinterpret_cast<sockaddr*>(&a), &len);
  std::thread echo([ls] {
    int c = accept(ls, nullptr, nullptr);
    int one = 1;
    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char buf[512];
    ssize_t n;
    while ((n = recv(c, buf, sizeof buf, 0)) > 0) send(c, buf, static_cast<size_t>(n), 0);
    close(c);
  });
  int c = socket(AF_INET, SOCK_STREAM, 0);
  connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int one = 1;
  setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  char msg[300];
  std::memset(msg, 'x', sizeof msg);
  double total = 0;
  long n = 0;
  for (auto _ : state) {
    Clock::time_point t0 = Clock::now();
    send(c, msg, sizeof msg, 0);
    size_t got = 0;
    char buf[512];
    while (got < sizeof msg) {
      ssize_t r = recv(c, buf, sizeof buf, 0);
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
    double t = std::chrono::duration<double>(Clock::now() - t0).count();
    state.SetIterationTime(t);
    g_rtts.push_back(t);
    total += t;
    ++n;
  }
  close(c);
  echo.join();
  close(ls);
  if (n > 0) g_rtt = total / n;
}
BENCHMARK(BM_LoopbackTcpRoundTrip)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_setup > 0 && g_rtt > 0) {
    std::printf("call set-up %.1f us, loopback TCP round trip %.1f us (means): ratio %.1f round "
                "trips (goal: within 5)\n",
                g_setup * 1e6, g_rtt * 1e6, g_setup / g_rtt);
    double ms = median(g_setups), mr = median(g_rtts);
    std::printf("medians: call set-up %.1f us, round trip %.1f us: ratio %.1f\n", ms * 1e6,
                mr * 1e6, ms / mr);
    // The round trip has a fast mode (the echo thread still awake), which
    // pulls its mean below its median: the spread shows it.
    std::printf("10/50/90 %%: call set-up %.0f/%.0f/%.0f us, round trip %.0f/%.0f/%.0f us\n",
                bench::percentile(g_setups, 0.1) * 1e6, ms * 1e6,
                bench::percentile(g_setups, 0.9) * 1e6, bench::percentile(g_rtts, 0.1) * 1e6,
                mr * 1e6, bench::percentile(g_rtts, 0.9) * 1e6);
  }

  // Sequential complete calls per second.
  int seconds = envInt("SIP_BENCH_SECONDS", 5);
  Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
  Clock::time_point t0 = Clock::now();
  long calls = 0;
  while (Clock::now() < end) {
    if (call(true) < 0) {
      std::printf("calls per second: call %ld failed\n", calls + 1);
      return 1;
    }
    ++calls;
  }
  double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
  std::printf("sequential calls: %ld in %.1f s = %.0f calls/s (goal: at least 200)\n", calls,
              elapsed, calls / elapsed);

  // Memory across many calls.
  int count = envInt("SIP_BENCH_CALLS", 10000);
  for (int i = 0; i < 200; ++i) call(true);  // warm up pools and tables
  long before = rssKb();
  for (int i = 0; i < count; ++i) {
    if (call(true) < 0) {
      std::printf("memory run: call %d failed\n", i + 1);
      return 1;
    }
  }
  long after = rssKb();
  std::printf("resident memory: %ld kB before, %ld kB after %d calls (%+ld kB)\n", before, after,
              count, after - before);
  return 0;
}
