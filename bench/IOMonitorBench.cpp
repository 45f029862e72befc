// Event loop dispatch: 64 socketpairs, one byte written to each per round and
// read back by the loop's handlers. IOMonitor passes against libevent's
// event_base (persistent read events) and a plain select() loop.
#include <benchmark/benchmark.h>
#include <event2/event.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "RatioReporter.h"
#include "mosal/Trace.h"
#include "mosal_posix/IODevice.h"
#include "mosal_posix/IOMonitor.h"

using namespace MorvaneLib;

namespace {

const int kPairs = 64;

struct Pairs {
  Pairs() {
    for (int i = 0; i < kPairs; ++i) {
      int fd[2];
      if (socketpair(AF_UNIX, SOCK_STREAM, 0, fd) != 0) std::abort();
      reader.push_back(fd[0]);
      writer.push_back(fd[1]);
    }
  }
  ~Pairs() {
    for (int fd : reader) close(fd);
    for (int fd : writer) close(fd);
  }
  void feed() {
    for (int fd : writer)
      if (write(fd, "x", 1) != 1) std::abort();
  }
  std::vector<int> reader, writer;
};

class ByteReader : public IODevice {
 public:
  ByteReader(int fd, long* count) : fd(fd), count(count) {
    std::string id = "S" + std::to_string(fd);
    _id->xcopy(id.c_str(), static_cast<unsigned>(id.size()) + 1);
    setHandleType(HANDLE_FD);
    setState(STATE_READING);
  }
  char* getID() override { return _id->getData(); }
  void setID(const char*) override {}
  void* getHandle() override { return &fd; }
  void setHandle(void* h) override { fd = *static_cast<int*>(h); }
  int read(char* b, unsigned n) override { return static_cast<int>(::read(fd, b, n)); }
  int write(const char* b, unsigned n) override { return static_cast<int>(::write(fd, b, n)); }
  int close() override { return 0; }
  int resume() override { return 0; }
  int doRead(IOMonitor*) override {
    char c;
    if (::read(fd, &c, 1) == 1) ++*count;
    return RESULT_READ;
  }
  int doWrite(IOMonitor*) override { return 0; }
  int onError(IOMonitor*) override { return 0; }
  int onEOF(IOMonitor*) override { return 0; }
  int onInputDone(IOMonitor*) override { return 0; }
  int onOutputDone(IOMonitor*) override { return 0; }
  int onReady(IOMonitor*) override { return 0; }
  int onExtendedStatus(IOMonitor*) override { return 0; }

  int fd;
  long* count;
};

class BenchMonitor : public IOMonitor {
 public:
  BenchMonitor() : IOMonitor(128) {}
  void pass() { _pass(); }
  void done() { _removeAll(); }
};

void BM_IOMonitor(benchmark::State& state) {
  Trace::setEnabled(false);
  Pairs p;
  BenchMonitor m;
  long count = 0;
  std::vector<ByteReader*> devs;
  for (int fd : p.reader) {
    devs.push_back(new ByteReader(fd, &count));
    m.attach(devs.back());
  }
  for (auto _ : state) {
    p.feed();
    long want = count + kPairs;
    while (count < want) m.pass();
  }
  m.done();
  for (ByteReader* d : devs) delete d;
  state.SetItemsProcessed(state.iterations() * kPairs);
}

void onEvent(evutil_socket_t fd, short, void* arg) {
  char c;
  if (read(fd, &c, 1) == 1) ++*static_cast<long*>(arg);
}

void BM_Libevent(benchmark::State& state) {
  Pairs p;
  event_config* cfg = event_config_new();
  event_config_avoid_method(cfg, "epoll");  // the same select() underneath
  event_config_avoid_method(cfg, "poll");
  event_base* base = event_base_new_with_config(cfg);
  event_config_free(cfg);
  if (base == nullptr) {
    state.SkipWithError("libevent has no select backend");
    return;
  }
  long count = 0;
  std::vector<event*> evs;
  for (int fd : p.reader) {
    evs.push_back(event_new(base, fd, EV_READ | EV_PERSIST, onEvent, &count));
    event_add(evs.back(), nullptr);
  }
  for (auto _ : state) {
    p.feed();
    long want = count + kPairs;
    while (count < want) event_base_loop(base, EVLOOP_ONCE);
  }
  for (event* e : evs) event_free(e);
  event_base_free(base);
  state.SetItemsProcessed(state.iterations() * kPairs);
}

void BM_PlainSelect(benchmark::State& state) {
  Pairs p;
  fd_set all;
  FD_ZERO(&all);
  int top = 0;
  for (int fd : p.reader) {
    FD_SET(fd, &all);
    if (fd > top) top = fd;
  }
  long count = 0;
  for (auto _ : state) {
    p.feed();
    long want = count + kPairs;
    while (count < want) {
      fd_set r = all;
      if (select(top + 1, &r, nullptr, nullptr, nullptr) <= 0) continue;
      for (int fd : p.reader) {
        char c;
        if (FD_ISSET(fd, &r) && read(fd, &c, 1) == 1) ++count;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kPairs);
}

BENCHMARK(BM_IOMonitor);
BENCHMARK(BM_Libevent);
BENCHMARK(BM_PlainSelect);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  reporter.addPair("BM_IOMonitor", "BM_Libevent");
  reporter.addPair("BM_IOMonitor", "BM_PlainSelect");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  benchmark::Shutdown();
  return 0;
}
