// Loopback request/answer round trips through a server-mode text connection on
// the event loop, against the same exchange with a plain POSIX socket echo
// server; and the multipart splitter against glibc's memcpy of the same bytes.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "RatioReporter.h"
#include "mosal/Hash.h"
#include "mosal/Interp.h"
#include "mosal/StreamConsumers.h"
#include "mosal/TextMessage.h"
#include "mosal/TextSock.h"
#include "mosal/Trace.h"
#include "mosal_posix/IOMonitor.h"
#include "mosal_posix/Sock.h"

using namespace MorvaneLib;

namespace {

const std::string kRequest =
    "INVITE sip:bob@127.0.0.1 SIP/2.0\r\nTo: bob\r\nFrom: alice\r\nCall-ID: 42@host\r\n"
    "CSeq: 1 INVITE\r\nX-Video-Port: 6000\r\nX-Audio-Port: 9000\r\n\r\n";
const std::string kAnswer =
    "sip/2.0 180 Ringing\r\nTo: bob\r\nFrom: alice\r\nCall-ID: 42@host\r\nCSeq: 1 INVITE\r\n\r\n";

class Invite : public Command {
 public:
  Invite() : Command("INVITE", 2, 2) {}
  int perform(Params*, void* data) override {
    auto* c = static_cast<request_context_t*>(data);
    c->status = 180;
    c->reason->xcopy("Ringing", 8);
    for (const char* h : {"To", "From", "Call-ID", "CSeq"}) c->out->setHeader(h, c->in->getHeader(h));
    return 0;
  }
};

class SipLike : public Protocol {
 public:
  SipLike() {
    serverInterp = new Interp(32, 32, 4096);
    clientInterp = new Interp(32, 32, 4096);
    name = new DataBuf("sip");
    version = new DataBuf("2.0");
    headers = new SharedHash(128);
    const char g = 1;
    for (const char* h : {"To", "From", "Call-ID", "CSeq", "X-Video-Port", "X-Audio-Port"}) {
      headers->put(h, static_cast<unsigned>(std::strlen(h)) + 1, &g, 1);
    }
    serverInterp->addCommand(new Invite());
  }
};

class Listener : public TCPServerSock {
 public:
  Listener(InetAddress& at, Protocol* p) : TCPServerSock(at, 8), protocol(p) {}
  int doRead(IOMonitor* m) override {
    TCPSock* s = accept();
    if (s == nullptr) return 6;
    auto* c = new HttpLikeSock(s, new HttpLikeMessage(protocol, 1024, 1024, 32768, 8192),
                               new HttpLikeMessage(protocol, 1024, 1024, 32768, 8192), true, true, 2);
    c->setProtocol(protocol);
    c->setState(3);
    if (m->attach(c) != 0) delete c;
    return 2;
  }
  Protocol* protocol;
};

// Sends the request and reads until the answer's empty line.
bool exchange(TCPSock& c, char* buf, unsigned size) {
  if (c.writeAll(kRequest.data(), static_cast<unsigned>(kRequest.size())) < 0) return false;
  std::string got;
  while (got.size() < 4 || got.compare(got.size() - 4, 4, "\r\n\r\n") != 0) {
    int n = c.read(buf, size);
    if (n <= 0) return false;
    got.append(buf, static_cast<size_t>(n));
  }
  return true;
}

void BM_Exchange_TextSock(benchmark::State& state) {
  SipLike protocol;
  IOMonitor monitor(64);
  monitor.setDeleteRemoved(true);
  InetAddress at("127.0.0.1", 0);
  auto* server = new Listener(at, &protocol);
  server->setState(3);
  monitor.attach(server);
  std::thread loop([&] { monitor.loop(); });
  TCPSock client;
  InetAddress to("127.0.0.1", server->getLocalAddress()->getPort());
  char buf[2048];
  if (client.connect(to) != 0 || !exchange(client, buf, sizeof buf)) state.SkipWithError("no exchange");
  for (auto _ : state) {
    if (!exchange(client, buf, sizeof buf)) {
      state.SkipWithError("exchange failed");
      break;
    }
  }
  client.close();
  while (monitor.isStopped()) usleep(1000);
  monitor.stop();
  loop.join();
}
BENCHMARK(BM_Exchange_TextSock)->UseRealTime();

void BM_Exchange_PosixEcho(benchmark::State& state) {
  InetAddress at("127.0.0.1", 0);
  TCPServerSock server(at, 8);
  std::thread echo([&] {
    TCPSock* s = server.accept();
    if (s == nullptr) return;
    std::string got;
    char buf[2048];
    for (;;) {
      ssize_t n = ::recv(s->getDescriptor(), buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
      if (got.size() >= 4 && got.compare(got.size() - 4, 4, "\r\n\r\n") == 0) {
        ::send(s->getDescriptor(), kAnswer.data(), kAnswer.size(), MSG_NOSIGNAL);
        got.clear();
      }
    }
    delete s;
  });
  TCPSock client;
  InetAddress to("127.0.0.1", server.getLocalAddress()->getPort());
  char buf[2048];
  if (client.connect(to) != 0) state.SkipWithError("no connection");
  for (auto _ : state) {
    if (!exchange(client, buf, sizeof buf)) {
      state.SkipWithError("exchange failed");
      break;
    }
  }
  client.close();
  echo.join();
}
BENCHMARK(BM_Exchange_PosixEcho)->UseRealTime();

std::string pictureStream(int parts, size_t bytes) {
  std::string s;
  for (int i = 0; i < parts; i++) {
    std::string body(bytes + static_cast<size_t>(i), static_cast<char>(i));
    s += "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    s += body + "\r\n\r\n";
  }
  return s;
}

class Count : public EntityConsumer {
 public:
  int consume(TextMessage*, char*, unsigned n, void*) override {
    bytes += n;
    return static_cast<int>(n);
  }
  unsigned long bytes = 0;
};

void BM_Multipart_Mosal(benchmark::State& state) {
  std::string s = pictureStream(20, 30000);
  MultipartXMixedReplaceEC ec(nullptr, nullptr);
  Count count;
  ec.getPartConsumers()->pput("image/jpeg", 11, &count);
  for (auto _ : state) {
    ec.reset();
    for (size_t off = 0; off < s.size(); off += 1024) {
      size_t n = std::min<size_t>(1024, s.size() - off);
      ec.consume(nullptr, &s[off], static_cast<unsigned>(n), nullptr);
    }
  }
  benchmark::DoNotOptimize(count.bytes);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.size()));
}
BENCHMARK(BM_Multipart_Mosal);

void BM_Multipart_Memcpy(benchmark::State& state) {
  std::string s = pictureStream(20, 30000);
  std::string dst(s.size(), '\0');
  for (auto _ : state) {
    for (size_t off = 0; off < s.size(); off += 1024) {
      size_t n = std::min<size_t>(1024, s.size() - off);
      std::memcpy(&dst[off], &s[off], n);
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.size()));
}
BENCHMARK(BM_Multipart_Memcpy);

}  // namespace

int main(int argc, char** argv) {
  Trace::setEnabled(false);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  reporter.addPair("BM_Exchange_TextSock/real_time", "BM_Exchange_PosixEcho/real_time");
  reporter.addPair("BM_Multipart_Mosal", "BM_Multipart_Memcpy");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  benchmark::Shutdown();
  return 0;
}
