// Queue throughput: 48-byte records from a producer thread to a consumer
// thread through a PriorityQueue, against a bounded std::deque guarded by a
// std::mutex and two std::condition_variables (the usual hand-made queue).
#include <benchmark/benchmark.h>

#include "BenchSupport.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "mosal/Queue.h"

using namespace MorvaneLib;

namespace {

struct Rec {
  char bytes[48];
};

const int kCapacity = 64;
const int kBatch = 50000;

// The baseline: a bounded queue as one would write it with the standard library.
class StdBoundedQueue {
 public:
  explicit StdBoundedQueue(size_t cap) : cap_(cap) {}
  void put(const Rec& r) {
    std::unique_lock<std::mutex> l(m_);
    notFull_.wait(l, [this] { return q_.size() < cap_; });
    q_.push_back(r);
    l.unlock();
    notEmpty_.notify_one();
  }
  void get(Rec& r) {
    std::unique_lock<std::mutex> l(m_);
    notEmpty_.wait(l, [this] { return !q_.empty(); });
    r = q_.front();
    q_.pop_front();
    l.unlock();
    notFull_.notify_one();
  }

 private:
  size_t cap_;
  std::mutex m_;
  std::condition_variable notFull_, notEmpty_;
  std::deque<Rec> q_;
};

// Records per second of every repetition: PriorityQueue, baseline, SharedQueue.
std::vector<double> g_rates[3];

using bench::median;

template <typename PutFn, typename GetFn>
void transfer(benchmark::State& state, PutFn put, GetFn get, int which) {
  long long total = 0;
  auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) {
    std::thread producer([&] {
      Rec r;
      std::memset(&r, 0, sizeof r);
      for (int i = 0; i < kBatch; ++i) {
        std::memcpy(r.bytes, &i, sizeof i);
        put(r);
      }
    });
    Rec r;
    long long sum = 0;
    for (int i = 0; i < kBatch; ++i) {
      get(r);
      int v;
      std::memcpy(&v, r.bytes, sizeof v);
      sum += v;
    }
    producer.join();
    if (sum != static_cast<long long>(kBatch) * (kBatch - 1) / 2) state.SkipWithError("records lost");
    benchmark::DoNotOptimize(sum);
    total += kBatch;
  }
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (secs > 0) g_rates[which].push_back(total / secs);
  state.SetItemsProcessed(total);
}

void BM_PriorityQueue(benchmark::State& state) {
  PriorityQueue q(sizeof(Rec), kCapacity, 1, 10);
  transfer(
      state, [&](const Rec& r) { q.put(r.bytes, sizeof r); },
      [&](Rec& r) { q.get(r.bytes, sizeof r); }, 0);
}

void BM_SharedQueue(benchmark::State& state) {
  SharedQueue q(sizeof(Rec), kCapacity);
  transfer(
      state, [&](const Rec& r) { q.put(r.bytes, sizeof r); },
      [&](Rec& r) { q.get(r.bytes, sizeof r); }, 2);
}

void BM_StdMutexCondvarDeque(benchmark::State& state) {
  StdBoundedQueue q(kCapacity);
  transfer(
      state, [&](const Rec& r) { q.put(r); }, [&](Rec& r) { q.get(r); }, 1);
}

}  // namespace

// The machine is shared: repeat, interleave the contenders and compare medians.
BENCHMARK(BM_StdMutexCondvarDeque)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(7);
BENCHMARK(BM_PriorityQueue)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(7);
BENCHMARK(BM_SharedQueue)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(7);

int main(int argc, char** argv) {
  bench::runInterleaved(argc, argv);
  double pq = median(g_rates[0]), base = median(g_rates[1]), shared = median(g_rates[2]);
  if (base > 0)
    std::printf(
        "medians: PriorityQueue %.2f M records/s, SharedQueue %.2f M records/s, "
        "std::deque+mutex+condvar %.2f M records/s: PriorityQueue/baseline ratio %.2fx\n",
        pq / 1e6, shared / 1e6, base / 1e6, pq / base);
  return 0;
}
