// Fuzz target: raw bytes from the network into a listening "SipController"
// block, the way a peer would send them. The first byte picks the way in:
// even, one TCP connection carrying the rest (closed for writing after it);
// odd, one UDP datagram followed by a marker INVITE whose answer (which
// echoes its Call-ID) shows that the datagram has been dealt with. The block keeps sessions "fz1"
// (a caller's session) and "fz2" (an accepted call), so requests and
// responses for known Call-IDs reach their handlers too (their events find no receiver). A crash, a
// sanitizer report, or a block that stops answering is a finding.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "framework/BlockManager.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

struct Harness {
  BlockManager* manager = nullptr;
  Block* block = nullptr;
  int tcpPort = 0;
  int udpPort = 0;
  int udp = -1;
  unsigned marker = 0;
};

int freePort(int type) {
  int fd = socket(AF_INET, type, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

int command(Block* b, const std::string& line) {
  DefaultStatusListener l(b, 4);
  uint32_t serial = 0;
  if (b->sendCommandScript((line + "\n").c_str(), &l, &serial) != 0) return -100;
  status_t s;
  while (l.waitStatus(&s, 10000) == 0)
    if (s.serial == serial) return s.result;
  return -101;
}

Block* openBlock(BlockManager* m, const char* transport, int port) {
  Plugin* p = m->getPluginLoader()->getPlugin("SipController");
  Block* b = nullptr;
  if (p == nullptr || m->createPluginInstance(p, &b) != 0) return nullptr;
  b->getProperties()->setString("Transport", transport, 4);
  b->getProperties()->setInt("ListenPort", port);
  if (m->sendMessage(b->getName(), "reset", true) != 0) return nullptr;
  return b;
}

Harness& harness() {
  static Harness h = [] {
    Harness x;
    Trace::setEnabled(getenv("SIP_FUZZ_TRACE") != nullptr);
    char dir[] = "/tmp/sip-fuzz-XXXXXX";
    if (mkdtemp(dir) != nullptr) setenv("MORVANE_HOME", dir, 1);
    // Only this plug-in: the framework's own test plug-ins include one that
    // fails on purpose and is closed again, and an instrumented module that
    // goes away under the fuzzer breaks its coverage counters.
    std::string plugins = std::string(dir) + "/plugins";
    mkdir(plugins.c_str(), 0700);
    symlink(SIP_PLUGIN_FILE, (plugins + "/libmrb_plugin.so").c_str());
    setenv("MOSAL_PLUGIN_PATH", plugins.c_str(), 1);
    setenv("MORVANE_PLUGIN_DEFAULTS", "0", 1);
    x.manager = new BlockManager("sipfuzz", nullptr);
    x.manager->start();
    x.tcpPort = freePort(SOCK_STREAM);
    x.udpPort = freePort(SOCK_DGRAM);
    // One block serves both ways in: TCP first, then a second for UDP.
    x.block = openBlock(x.manager, "TCP", x.tcpPort);
    Block* udpBlock = openBlock(x.manager, "UDP", x.udpPort);
    if (x.block == nullptr || udpBlock == nullptr) {
      std::fprintf(stderr, "SipRequestFuzz: no SipController block: %s\n",
                   x.manager->getErrorString());
      std::abort();
    }
    for (Block* b : {x.block, udpBlock}) {
      command(b, "SessionCreate fz1 n d");
      command(b, "SessionCreate fz2 n d");
      command(b, "SessionSet fz1 To bob");
    }
    x.udp = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(x.udp, reinterpret_cast<sockaddr*>(&a), sizeof a);
    a.sin_port = htons(static_cast<unsigned short>(x.udpPort));
    connect(x.udp, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return x;
  }();
  return h;
}

// Reads until the peer closes or ms pass.
void drain(int fd, int ms) {
  char buf[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return;
    if (recv(fd, buf, sizeof buf, 0) <= 0) return;
  }
}

void overTcp(Harness& h, const uint8_t* data, size_t size) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<unsigned short>(h.tcpPort));
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::fprintf(stderr, "SipRequestFuzz: the block stopped listening\n");
    std::abort();
  }
  size_t done = 0;
  while (done < size) {
    ssize_t n = send(fd, data + done, size - done, MSG_NOSIGNAL);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  shutdown(fd, SHUT_WR);
  drain(fd, 2000);  // the block closes the connection at our end of stream
  close(fd);
}

void overUdp(Harness& h, const uint8_t* data, size_t size) {
  if (size > 0) send(h.udp, data, size < 65000 ? size : 65000, 0);
  char marker[160];
  int n = std::snprintf(marker, sizeof marker,
                        "INVITE m SIP/2.0\r\nTo: m\r\nFrom: m\r\nCall-ID: mark%u\r\n"
                        "CSeq: 1 INVITE\r\n\r\n",
                        ++h.marker);
  send(h.udp, marker, static_cast<size_t>(n), 0);
  // Answers to the fuzz datagram (if any) come first; the marker's last.
  char want[32];
  std::snprintf(want, sizeof want, "mark%u", h.marker);
  char buf[65536];
  for (int i = 0; i < 4; ++i) {
    pollfd p{h.udp, POLLIN, 0};
    if (poll(&p, 1, 2000) <= 0) {
      std::fprintf(stderr, "SipRequestFuzz: the datagram server stopped answering\n");
      std::abort();
    }
    ssize_t got = recv(h.udp, buf, sizeof buf - 1, 0);
    if (got <= 0) continue;
    buf[got] = '\0';
    if (std::strstr(buf, want) != nullptr) return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Harness& h = harness();
  if (size == 0) return 0;
  if (data[0] & 1)
    overUdp(h, data + 1, size - 1);
  else
    overTcp(h, data + 1, size - 1);
  return 0;
}
