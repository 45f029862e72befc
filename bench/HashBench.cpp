// Hash lookups and insertions at the table sizes the system uses (the 50 SIP
// header names in 128 buckets, 1000 session-like keys in 512 buckets),
// against std::unordered_map<std::string, std::string> holding the same keys;
// and how lookups slow down as entries per bucket grow in a fixed table.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "mosal/Hash.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

const char* const kSipHeaders[] = {
    "Accept", "Accept-Encoding", "Accept-Language", "Alert-Info", "Allow",
    "Authentication-Info", "Authorization", "Call-ID", "Call-Info", "Contact",
    "Content-Disposition", "Content-Encoding", "Content-Language", "Content-Length",
    "Content-Type", "CSeq", "Date", "Error-Info", "Expires", "From", "In-Reply-To",
    "Max-Forwards", "Min-Expires", "MIME-Version", "Organization", "Priority",
    "Proxy-Authenticate", "Proxy-Authorization", "Proxy-Require", "Record-Route", "Reply-To",
    "Require", "Retry-After", "Route", "Server", "Subject", "Supported", "Timestamp", "To",
    "Unsupported", "User-Agent", "Via", "Warning", "WWW-Authenticate", "X-Video-Port",
    "X-Audio-Port", "X-Text-Port", "X-File-Port", "X-WhiteBoard-Port", "X-Natted"};

struct KeySet {
  std::vector<std::string> keys;
  std::vector<std::string> values;
};

KeySet sipHeaders() {
  KeySet s;
  for (const char* h : kSipHeaders) {
    s.keys.emplace_back(h);
    s.values.emplace_back("\x01");
  }
  return s;
}

// Call-ID-like session keys: 16 hex digits, "@" and a dotted address.
KeySet sessionKeys(unsigned n) {
  std::mt19937 rng(42);
  KeySet s;
  char buf[64];
  for (unsigned i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%08x%08x@10.0.%u.%u", static_cast<unsigned>(rng()),
                  static_cast<unsigned>(rng()), (i / 250) % 256, i % 250 + 1);
    s.keys.emplace_back(buf);
    std::snprintf(buf, sizeof buf, "value-%u", i);
    s.values.emplace_back(buf);
  }
  return s;
}

void fill(Hash& h, const KeySet& s) {
  for (size_t i = 0; i < s.keys.size(); ++i)
    h.put(s.keys[i].c_str(), static_cast<unsigned>(s.keys[i].size()) + 1, s.values[i].c_str(),
          static_cast<unsigned>(s.values[i].size()) + 1, false);
}

void fill(std::unordered_map<std::string, std::string>& m, const KeySet& s) {
  for (size_t i = 0; i < s.keys.size(); ++i) m.emplace(s.keys[i], s.values[i]);
}

const KeySet& keysFor(int which) {
  static const KeySet headers = sipHeaders();
  static const KeySet sessions = sessionKeys(1000);
  return which == 0 ? headers : sessions;
}

unsigned bucketsFor(int which) { return which == 0 ? 128 : 512; }

// Lookups of every key once per iteration; items = lookups.
void BM_HashGet(benchmark::State& state) {
  const KeySet& s = keysFor(static_cast<int>(state.range(0)));
  Hash h(bucketsFor(static_cast<int>(state.range(0))));
  fill(h, s);
  std::vector<unsigned> lens;
  for (auto& k : s.keys) lens.push_back(static_cast<unsigned>(k.size()) + 1);
  for (auto _ : state) {
    for (size_t i = 0; i < s.keys.size(); ++i) benchmark::DoNotOptimize(h.get(s.keys[i].c_str(), lens[i]));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(s.keys.size()));
}

void BM_MapGet(benchmark::State& state) {
  const KeySet& s = keysFor(static_cast<int>(state.range(0)));
  std::unordered_map<std::string, std::string> m;
  fill(m, s);
  for (auto _ : state) {
    for (size_t i = 0; i < s.keys.size(); ++i) benchmark::DoNotOptimize(m.find(s.keys[i]));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(s.keys.size()));
}

// A table built, filled, read once through and destroyed per iteration.
void BM_HashPutGet(benchmark::State& state) {
  const KeySet& s = keysFor(static_cast<int>(state.range(0)));
  unsigned buckets = bucketsFor(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Hash h(buckets);
    fill(h, s);
    for (auto& k : s.keys) benchmark::DoNotOptimize(h.get(k.c_str(), static_cast<unsigned>(k.size()) + 1));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(s.keys.size()));
}

void BM_MapPutGet(benchmark::State& state) {
  const KeySet& s = keysFor(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::unordered_map<std::string, std::string> m;
    fill(m, s);
    for (auto& k : s.keys) benchmark::DoNotOptimize(m.find(k));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(s.keys.size()));
}

// Fixed 128 buckets with range(0) entries: chains grow with the load.
void BM_HashGetLoad(benchmark::State& state) {
  KeySet s = sessionKeys(static_cast<unsigned>(state.range(0)));
  Hash h(128);
  fill(h, s);
  for (auto _ : state) {
    for (auto& k : s.keys) benchmark::DoNotOptimize(h.get(k.c_str(), static_cast<unsigned>(k.size()) + 1));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(s.keys.size()));
  state.counters["per_bucket"] = static_cast<double>(state.range(0)) / 128.0;
}

void BM_MapGetLoad(benchmark::State& state) {
  KeySet s = sessionKeys(static_cast<unsigned>(state.range(0)));
  std::unordered_map<std::string, std::string> m;
  fill(m, s);
  for (auto _ : state) {
    for (auto& k : s.keys) benchmark::DoNotOptimize(m.find(k));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(s.keys.size()));
}

BENCHMARK(BM_HashGet)->Arg(0)->Arg(1);
BENCHMARK(BM_MapGet)->Arg(0)->Arg(1);
BENCHMARK(BM_HashPutGet)->Arg(0)->Arg(1);
BENCHMARK(BM_MapPutGet)->Arg(0)->Arg(1);
BENCHMARK(BM_HashGetLoad)->Arg(128)->Arg(512)->Arg(1024)->Arg(4096);
BENCHMARK(BM_MapGetLoad)->Arg(128)->Arg(512)->Arg(1024)->Arg(4096);

// Keeps the time per item of every run for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      auto it = r.counters.find("items_per_second");
      if (it != r.counters.end() && it->second.value > 0)
        nsPerItem[r.benchmark_name()] = 1e9 / it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> nsPerItem;
};

void printRatio(RatioReporter& r, const char* label, const std::string& mine,
                const std::string& base) {
  auto a = r.nsPerItem.find(mine), b = r.nsPerItem.find(base);
  if (a == r.nsPerItem.end() || b == r.nsPerItem.end()) return;
  std::printf("%-44s Hash %7.2f ns  unordered_map %7.2f ns  ratio %.2f\n", label, a->second,
              b->second, a->second / b->second);
}

}  // namespace

int main(int argc, char** argv) {
  Trace::setEnabled(false);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nPer item (lookup, or put+get), Hash / std::unordered_map<string,string>:\n");
  printRatio(reporter, "get: 50 SIP headers, 128 buckets", "BM_HashGet/0", "BM_MapGet/0");
  printRatio(reporter, "get: 1000 session keys, 512 buckets", "BM_HashGet/1", "BM_MapGet/1");
  printRatio(reporter, "put+get: 50 SIP headers, 128 buckets", "BM_HashPutGet/0", "BM_MapPutGet/0");
  printRatio(reporter, "put+get: 1000 session keys, 512 buckets", "BM_HashPutGet/1",
             "BM_MapPutGet/1");
  for (int n : {128, 512, 1024, 4096}) {
    char label[64];
    std::snprintf(label, sizeof label, "get: %d keys in 128 buckets (%d per bucket)", n, n / 128);
    printRatio(reporter, label, "BM_HashGetLoad/" + std::to_string(n),
               "BM_MapGetLoad/" + std::to_string(n));
  }
  benchmark::Shutdown();
  return 0;
}
