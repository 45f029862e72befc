// Parse rate of TextMessage on a typical SIP INVITE (about 400 bytes, nine
// headers) against the C library http-parser on the same bytes, in one run.
//
// http-parser knows only HTTP methods, absolute URIs with "//" and the
// "HTTP/" version, so the shared message has the start line
// "OPTIONS sip://bob@192.168.1.20 HTTP/1.1"; TextMessage also parses the
// INVITE original. Each iteration starts a fresh message (reset /
// http_parser_init) and parses it in one chunk. http-parser is given header
// callbacks that only count, the least work a caller can do with it.
#include <benchmark/benchmark.h>
#include <http_parser.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "mosal/TextMessage.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

const char kHeaders[] =
    "Via: SIP/2.0/TCP 192.168.1.10:5060;branch=z9hG4bK776asdhds;received=192.168.1.10\r\n"
    "Max-Forwards: 70\r\n"
    "To: Bob <sip:bob@192.168.1.20>\r\n"
    "From: Alice <sip:alice@192.168.1.10>;tag=1928301774a7c3\r\n"
    "Call-ID: a84b4c76e66710f7a3b2@192.168.1.10\r\n"
    "CSeq: 314159 INVITE\r\n"
    "Contact: \"Alice\" <sip:alice@192.168.1.10:5060;transport=tcp>\r\n"
    "X-Video-Port: 6000\r\n"
    "X-Audio-Port: 9000\r\n"
    "\r\n";

const std::string kInvite = std::string("INVITE sip:bob@192.168.1.20 SIP/2.0\r\n") + kHeaders;
const std::string kShared = std::string("OPTIONS sip://bob@192.168.1.20 HTTP/1.1\r\n") + kHeaders;

const char* kSipNames[] = {
    "Accept", "Accept-Encoding", "Accept-Language", "Alert-Info", "Allow", "Authentication-Info",
    "Authorization", "Call-ID", "Call-Info", "Contact", "Content-Disposition", "Content-Encoding",
    "Content-Language", "Content-Length", "Content-Type", "CSeq", "Date", "Error-Info", "Expires",
    "From", "In-Reply-To", "Max-Forwards", "Min-Expires", "MIME-Version", "Organization",
    "Priority", "Proxy-Authenticate", "Proxy-Authorization", "Proxy-Require", "Record-Route",
    "Reply-To", "Require", "Retry-After", "Route", "Server", "Subject", "Supported", "Timestamp",
    "To", "Unsupported", "User-Agent", "Via", "Warning", "WWW-Authenticate", "X-Video-Port",
    "X-Audio-Port", "X-Text-Port", "X-File-Port", "X-WhiteBoard-Port", "X-Natted"};

SharedHash* sipTable() {
  static SharedHash* t = [] {
    auto* h = new SharedHash(128);
    char one = 1;
    for (const char* n : kSipNames) h->put(n, std::strlen(n) + 1, &one, 1, false);
    return h;
  }();
  return t;
}

void parseWithTextMessage(benchmark::State& state, const std::string& msg) {
  TextMessage m(sipTable(), 128, 1024, 32768, 8192);  // a connection's own sizes
  for (auto _ : state) {
    m.reset();
    m.parse(msg.data(), static_cast<unsigned>(msg.size()));
    if (!m.isCompleted()) {
      state.SkipWithError("message not completed");
      break;
    }
    benchmark::DoNotOptimize(m.getGeneralHeaders());
  }
  if (m.getHeader("X-Audio-Port") == nullptr) state.SkipWithError("header missing");
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * msg.size());
}

struct HpCount {
  int fields = 0;
  int values = 0;
  bool complete = false;
};

int onField(http_parser* p, const char*, size_t) {
  static_cast<HpCount*>(p->data)->fields++;
  return 0;
}
int onValue(http_parser* p, const char*, size_t) {
  static_cast<HpCount*>(p->data)->values++;
  return 0;
}
int onComplete(http_parser* p) {
  static_cast<HpCount*>(p->data)->complete = true;
  return 0;
}

void BM_TextMessage_SipInvite(benchmark::State& state) { parseWithTextMessage(state, kInvite); }
void BM_TextMessage_SharedMessage(benchmark::State& state) {
  parseWithTextMessage(state, kShared);
}

void BM_HttpParser_SharedMessage(benchmark::State& state) {
  http_parser_settings settings;
  std::memset(&settings, 0, sizeof settings);
  settings.on_header_field = onField;
  settings.on_header_value = onValue;
  settings.on_message_complete = onComplete;
  http_parser parser;
  HpCount count;
  for (auto _ : state) {
    count = HpCount();
    http_parser_init(&parser, HTTP_REQUEST);
    parser.data = &count;
    size_t n = http_parser_execute(&parser, &settings, kShared.data(), kShared.size());
    if (n != kShared.size() || !count.complete) {
      state.SkipWithError(http_errno_name(HTTP_PARSER_ERRNO(&parser)));
      break;
    }
    benchmark::DoNotOptimize(count);
  }
  if (count.fields != 9) state.SkipWithError("http-parser saw a different header count");
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * kShared.size());
}

BENCHMARK(BM_TextMessage_SipInvite);
BENCHMARK(BM_TextMessage_SharedMessage);
BENCHMARK(BM_HttpParser_SharedMessage);

// Keeps the messages-per-second figure of every run for the final ratio.
class RateReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> rates;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      auto it = r.counters.find("items_per_second");
      if (it != r.counters.end() && !r.error_occurred) rates[r.benchmark_name()] = it->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  Trace::setEnabled(false);
  benchmark::Initialize(&argc, argv);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double ours = reporter.rates["BM_TextMessage_SharedMessage"];
  double invite = reporter.rates["BM_TextMessage_SipInvite"];
  double base = reporter.rates["BM_HttpParser_SharedMessage"];
  std::printf("\nmessage: %zu bytes, 9 headers (INVITE form %zu bytes)\n", kShared.size(),
              kInvite.size());
  std::printf("TextMessage, INVITE:          %12.0f messages/s\n", invite);
  std::printf("TextMessage, shared message:  %12.0f messages/s\n", ours);
  std::printf("http-parser, shared message:  %12.0f messages/s\n", base);
  if (base > 0) std::printf("ratio TextMessage / http-parser: %.2fx\n", ours / base);
  benchmark::Shutdown();
  return 0;
}
