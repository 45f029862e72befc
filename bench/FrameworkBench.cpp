// Block framework throughput: 352x288 RGB pictures (304128 bytes) pushed
// from a source block through a filter block to a sink block, each on its own
// block thread, against a plain three-thread pipeline with bounded
// std::deque + std::mutex + std::condition_variable queues doing the same
// copies (source fills, filter copies, sink copies and checksums). Both keep
// the producer waiting when a queue is full (the framework with paced blocks)
// and hold at most eight frames per hop. Reported: frames per second and the
// median latency of one hop (a frame sent to the moment its consumer starts
// on it).
#include <benchmark/benchmark.h>

#include "BenchSupport.h"
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/BlockAdapter.h"
#include "framework/BlockManager.h"
#include "framework/tests/plugins/TestPluginSupport.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

const int kWidth = 352, kHeight = 288;
const size_t kBytes = static_cast<size_t>(kWidth) * kHeight * 3;
const int kBatch = 200;  // frames per iteration
const int kDepth = 8;    // frames a hop holds

long long nowNs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Frames per second of every repetition, and every hop latency (ns):
// [0] framework, [1] baseline.
std::vector<double> g_fps[2];
std::vector<unsigned> g_hops[2];

using bench::median;

// The sink's work in both pipelines (the same as ChecksumSink's).
uint32_t checksumCopy(std::vector<unsigned char>* copy, const unsigned char* d, size_t len,
                      uint32_t checksum) {
  copy->resize(len);
  std::memcpy(copy->data(), d, len);
  uint64_t sum = checksum;
  size_t words = len / 8;
  for (size_t i = 0; i < words; ++i) {
    uint64_t w;
    std::memcpy(&w, copy->data() + i * 8, 8);
    sum = (sum ^ w) * 0x100000001b3ULL;
  }
  return static_cast<uint32_t>(sum ^ (sum >> 32));
}

// ---------------------------------------------------------------- framework

void BM_FrameworkPipeline(benchmark::State& state) {
  Trace::setEnabled(false);
  static BlockManager* m = [] {
    char tmpl[] = "/tmp/morvane-bench-XXXXXX";
    char* d = mkdtemp(tmpl);
    setenv("MORVANE_HOME", d != nullptr ? d : "/tmp", 1);
    BlockManager* bm = new BlockManager("framework-bench", nullptr);
    bm->start();
    bm->getConfig()->setInt("morvane.wire.depth", kDepth);
    bm->getConfig()->setInt("morvane.trace.messages", 0);
    return bm;
  }();
  PluginLoader* l = m->getPluginLoader();
  Block *src, *flt, *sink;
  if (m->createPluginInstance(l->getPlugin("CounterSource"), &src) != 0 ||
      m->createPluginInstance(l->getPlugin("PassFilter"), &flt) != 0 ||
      m->createPluginInstance(l->getPlugin("ChecksumSink"), &sink) != 0) {
    state.SkipWithError("test plug-ins not found");
    return;
  }
  m->connectPins(src->getOutputPin("OUT"), flt->getInputPin("IN"));
  m->connectPins(flt->getOutputPin("OUT"), sink->getInputPin("IN"));
  src->getProperties()->setInt("Width", kWidth);
  src->getProperties()->setInt("Height", kHeight);
  src->getProperties()->setInt("Period", -1);
  src->getProperties()->setInt("Frames", kBatch);
  flt->getClock()->set(-1);  // paced like the baseline's blocking queues
  sink->getProperties()->setInt("Expect", kBatch);
  std::vector<unsigned> hop1(kBatch), hop2(kBatch);
  testplugins::LatencyLog log1{kBatch, 0, hop1.data()}, log2{kBatch, 0, hop2.data()};
  flt->getProperties()->setObject("_LatencyLog", &log1, sizeof log1);
  sink->getProperties()->setObject("_LatencyLog", &log2, sizeof log2);
  BlockAdapter events("bench", sizeof(cmessage_t), 1, 8);
  events.connect(sink);
  long long t0 = nowNs();
  for (auto _ : state) {
    m->sendMessage(sink->getName(), "reset", true);
    m->sendMessage(src->getName(), "reset", true);
    m->sendMessage(src->getName(), "start", true);
    cmessage_t msg;
    if (events.recvMessage(&msg, 20000) != 0) {
      state.SkipWithError("frames lost");
      break;
    }
    g_hops[0].insert(g_hops[0].end(), hop1.begin(), hop1.begin() + log1.count);
    g_hops[0].insert(g_hops[0].end(), hop2.begin(), hop2.begin() + log2.count);
    log1.count = log2.count = 0;
  }
  double secs = static_cast<double>(nowNs() - t0) / 1e9;
  double fps = secs > 0 ? static_cast<double>(state.iterations()) * kBatch / secs : 0;
  g_fps[0].push_back(fps);
  state.counters["fps"] = fps;
  state.counters["dropped"] = static_cast<double>(src->getOutputPin("OUT")->getDropped() +
                                                  flt->getOutputPin("OUT")->getDropped());
  flt->getProperties()->setObject("_LatencyLog", nullptr, 0);
  sink->getProperties()->setObject("_LatencyLog", nullptr, 0);
  m->destroyBlock(src);
  m->destroyBlock(flt);
  m->destroyBlock(sink);
}

// ---------------------------------------------------------------- baseline

struct Frame {
  std::vector<unsigned char> data;
  uint32_t number = 0;
  long long sent = 0;
};

// A bounded blocking queue as one would write it with the standard library.
class BlockingQueue {
 public:
  explicit BlockingQueue(size_t cap) : cap_(cap) {}
  void put(Frame* f) {
    std::unique_lock<std::mutex> l(m_);
    notFull_.wait(l, [this] { return q_.size() < cap_; });
    q_.push_back(f);
    l.unlock();
    notEmpty_.notify_one();
  }
  Frame* get() {
    std::unique_lock<std::mutex> l(m_);
    notEmpty_.wait(l, [this] { return !q_.empty(); });
    Frame* f = q_.front();
    q_.pop_front();
    l.unlock();
    notFull_.notify_one();
    return f;
  }

 private:
  size_t cap_;
  std::mutex m_;
  std::condition_variable notFull_, notEmpty_;
  std::deque<Frame*> q_;
};

void BM_StdThreadsPipeline(benchmark::State& state) {
  std::vector<unsigned char> picture(kBytes);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<unsigned char>(i * 7);
  // Buffers circulate through pools, as the framework's do: nothing is
  // allocated per frame.
  const int poolSize = kDepth + 3;
  std::vector<Frame> frames1(poolSize), frames2(poolSize);
  BlockingQueue pool1(poolSize), pool2(poolSize), q1(kDepth), q2(kDepth);
  for (auto& f : frames1) {
    f.data.resize(kBytes);
    pool1.put(&f);
  }
  for (auto& f : frames2) {
    f.data.resize(kBytes);
    pool2.put(&f);
  }
  std::mutex sm;
  std::condition_variable scv;
  int requested = 0, done = 0;
  std::vector<unsigned> hop1(kBatch), hop2(kBatch);
  bool quit = false;
  std::thread source([&] {
    for (;;) {
      {
        std::unique_lock<std::mutex> l(sm);
        scv.wait(l, [&] { return requested > 0 || quit; });
        if (quit) return;
        --requested;
      }
      for (uint32_t n = 1; n <= static_cast<uint32_t>(kBatch); ++n) {
        Frame* f = pool1.get();
        std::memcpy(f->data.data(), picture.data(), kBytes);
        std::memcpy(f->data.data(), &n, 4);
        f->number = n;
        f->sent = nowNs();
        q1.put(f);
      }
    }
  });
  std::thread filter([&] {
    for (;;) {
      Frame* f = q1.get();
      if (f == nullptr) return;
      hop1[f->number - 1] = static_cast<unsigned>(nowNs() - f->sent);
      Frame* g = pool2.get();
      std::memcpy(g->data.data(), f->data.data(), kBytes);
      g->number = f->number;
      pool1.put(f);
      g->sent = nowNs();
      q2.put(g);
    }
  });
  std::thread sink([&] {
    std::vector<unsigned char> copy;
    uint32_t checksum = 0;
    int count = 0;
    for (;;) {
      Frame* g = q2.get();
      if (g == nullptr) return;
      hop2[g->number - 1] = static_cast<unsigned>(nowNs() - g->sent);
      checksum = checksumCopy(&copy, g->data.data(), kBytes, checksum);
      benchmark::DoNotOptimize(checksum);
      benchmark::DoNotOptimize(copy.data());
      pool2.put(g);
      if (++count == kBatch) {
        count = 0;
        std::lock_guard<std::mutex> l(sm);
        ++done;
        scv.notify_all();
      }
    }
  });
  long long t0 = nowNs();
  int target = 0;
  for (auto _ : state) {
    std::unique_lock<std::mutex> l(sm);
    ++requested;
    ++target;
    scv.notify_all();
    scv.wait(l, [&] { return done == target; });
    g_hops[1].insert(g_hops[1].end(), hop1.begin(), hop1.end());
    g_hops[1].insert(g_hops[1].end(), hop2.begin(), hop2.end());
  }
  double secs = static_cast<double>(nowNs() - t0) / 1e9;
  double fps = secs > 0 ? static_cast<double>(state.iterations()) * kBatch / secs : 0;
  g_fps[1].push_back(fps);
  state.counters["fps"] = fps;
  {
    std::lock_guard<std::mutex> l(sm);
    quit = true;
    scv.notify_all();
  }
  source.join();
  q1.put(nullptr);
  filter.join();
  q2.put(nullptr);
  sink.join();
}

}  // namespace

// The machine is shared: repeat, interleave the contenders and compare medians.
BENCHMARK(BM_StdThreadsPipeline)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_FrameworkPipeline)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(5);

int main(int argc, char** argv) {
  bench::runInterleaved(argc, argv);
  double ours = median(g_fps[0]), base = median(g_fps[1]);
  if (base > 0 && ours > 0)
    std::printf(
        "medians: framework %.0f frames/s (hop %.3f ms), std threads + mutex/condvar queues "
        "%.0f frames/s (hop %.3f ms): framework/baseline frame-rate ratio %.2fx\n",
        ours, median(g_hops[0]) / 1e6, base, median(g_hops[1]) / 1e6, ours / base);
  return 0;
}
