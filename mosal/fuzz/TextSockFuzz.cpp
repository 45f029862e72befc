// Fuzz target: a server-mode connection fed arbitrary bytes in arbitrary
// pieces through a socket pair, driven through its states the way the event
// loop drives it: message boundaries, bodies with and without length,
// pending bytes after a message, answers written back, the end of stream.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mosal/Entity.h"
#include "mosal/Hash.h"
#include "mosal/Interp.h"
#include "mosal/TextMessage.h"
#include "mosal/TextSock.h"
#include "mosal/Trace.h"
#include "mosal_posix/Sock.h"

using namespace MorvaneLib;

namespace {

class Echo : public Command {
 public:
  Echo() : Command("ECHO", 0, 4) {}
  int perform(Params*, void* data) override {
    auto* c = static_cast<request_context_t*>(data);
    c->status = 200;
    c->reason->xcopy("Ok", 3);
    const char* seq = c->in->getHeader("X-Seq");
    if (seq != nullptr) c->out->setHeader("X-Seq", seq);
    return 0;
  }
};

class FuzzProtocol : public Protocol {
 public:
  FuzzProtocol() {
    serverInterp = new Interp(16, 8, 256);
    clientInterp = new Interp(16, 8, 256);
    name = new DataBuf("F");
    version = new DataBuf("1");
    headers = new SharedHash(32);
    const char g = 1, e = 4;
    headers->put("X-Seq", 6, &g, 1);
    headers->put("Content-Type", 13, &e, 1);
    headers->put("Content-Length", 15, &e, 1);
    serverInterp->addCommand(new Echo());
  }
};

class Sink : public EntityConsumer {
 public:
  int consume(TextMessage*, char*, unsigned n, void*) override {
    if (n == 0) return -1;
    total += n;
    return refuse && total > 100 ? -1 : static_cast<int>(n);
  }
  unsigned long total = 0;
  bool refuse = false;
};

void drain(int fd) {
  char buf[4096];
  while (read(fd, buf, sizeof buf) > 0) {
  }
}

bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP)) != 0;
}

int next(int state, int result) {
  switch (result) {
    case 1: return 0;
    case 2: return 3;
    case 3: return 4;
    case 4: return 1;
    case 5: return 2;
    case 6: return 5;
    case 7: return 6;
    default: return state;
  }
}

// Runs the connection until it needs more input, or ends; false once it ended.
bool run(TextSock& c, int& state, int peer, bool atEnd) {
  for (int steps = 0; steps < 4000; steps++) {
    int r;
    switch (state) {
      case 0: r = c.onReady(nullptr); break;
      case 1: r = c.onInputDone(nullptr); break;
      case 2: r = c.onOutputDone(nullptr); break;
      case 3:
        if (!readable(*static_cast<int*>(c.getHandle()))) return true;
        r = c.doRead(nullptr);
        break;
      case 4: r = c.doWrite(nullptr); break;
      default: return false;  // error or end: the loop would remove it
    }
    state = next(state, r);
    drain(peer);
  }
  if (atEnd) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzProtocol* protocol = (Trace::setEnabled(false), new FuzzProtocol());
  if (size < 2) return 0;
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  unsigned piece = data[0] % 64 + 1;
  bool withConsumer = (data[1] & 1) != 0;
  Sink sink;
  sink.refuse = (data[1] & 2) != 0;
  data += 2;
  size -= 2;

  TCPSock* s = new TCPSock(fds[0]);
  auto* in = new HttpLikeMessage(protocol, 16, 64, 0, 256);
  auto* out = new HttpLikeMessage(protocol, 16, 64, 0, 256);
  {
    HttpLikeSock c(s, in, out, true, true, TextSock::MODE_SERVER);
    c.setProtocol(protocol);
    if (withConsumer) c.addConsumer("<_DEFAULTEC_>", &sink);
    int state = 3;
    bool alive = true;
    for (size_t off = 0; off < size && alive;) {
      size_t n = size - off < piece ? size - off : piece;
      ssize_t w = write(fds[1], data + off, n);
      if (w <= 0) break;
      off += static_cast<size_t>(w);
      alive = run(c, state, fds[1], false);
    }
    shutdown(fds[1], SHUT_WR);
    if (alive) run(c, state, fds[1], true);
  }
  close(fds[1]);
  return 0;
}
