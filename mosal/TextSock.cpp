// Protocol, TextSock, HttpLikeSock: message exchange on the event loop and by
// blocking calls, entity delivery, message boundaries on one stream.
#include "mosal/TextSock.h"

#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mosal/Hash.h"
#include "mosal/Interp.h"
#include "mosal/TextMessage.h"
#include "mosal/Trace.h"
#include "mosal_posix/IOMonitor.h"
#include "mosal_posix/Sock.h"

namespace MorvaneLib {

namespace {

const char* kDefaultEC = "<_DEFAULTEC_>";
const char* kDefaultEP = "<_DEFAULTEP_>";
const unsigned kPendingLimit = 1u << 20;


void* lookup(SharedHash* table, const char* key) {
  if (table == nullptr || key == nullptr) return nullptr;
  return table->get(key, static_cast<unsigned>(std::strlen(key)) + 1);
}

// Splits `line` at its first blank into a word and the rest (null if none).
void splitLine(const char* line, std::vector<char>& buf, char** word, char** rest) {
  size_t n = std::strlen(line);
  buf.assign(line, line + n + 1);
  *word = buf.data();
  *rest = nullptr;
  char* blank = std::strchr(buf.data(), ' ');
  if (blank != nullptr) {
    *blank = '\0';
    *rest = blank + 1;
  }
}

}  // namespace

// ---------------------------------------------------------------- Protocol

Protocol::Protocol()
    : serverInterp(nullptr), clientInterp(nullptr), name(nullptr), version(nullptr), headers(nullptr) {}

Protocol::~Protocol() {
  delete serverInterp;
  delete clientInterp;
  delete name;
  delete version;
  delete headers;
}

int Protocol::handleResponse(void*) { return 1; }

int Protocol::handleBadRequest(char*, char*, void*) { return 0; }

const char* Protocol::getName() { return name != nullptr ? name->getData() : ""; }

const char* Protocol::getVersion() { return version != nullptr ? version->getData() : ""; }

// ---------------------------------------------------------------- TextSock

TextSock::TextSock(Protocol* p, int m)
    : sock(nullptr), localAddress(nullptr), remoteAddress(nullptr), in(nullptr), out(nullptr),
      protocol(p), reason(nullptr), ownSock(false), ownMessages(false), entityIn(false),
      entityOut(false), eof(false), mode(m), outBuf(nullptr), outOffset(0), outRemaining(0),
      residueDelivered(0), consumers(nullptr), producers(nullptr), owner(nullptr), madeIn(false),
      madeOut(false), entityDone(false), entityRefused(false), entityDiscard(false), entityLeft(-1),
      pending(nullptr), scratch(nullptr), pendingFirst(false), chunkOffset(0), chunkRemaining(0),
      monitor(nullptr) {
  std::memset(iobuf, 0, sizeof iobuf);
  setHandleType(HANDLE_FD);  // the socket's descriptor
  consumers = new SharedHash(512);
  producers = new SharedHash(512);
  pending = new DataBuf(2048, 0, kPendingLimit, ALLOC_ONCREATE);
  scratch = new DataBuf(2048, 0, kPendingLimit, ALLOC_ONCREATE);
}

// A delegating constructor that throws after the target constructor finished
// runs the destructor, which deletes whatever was made so far.
TextSock::TextSock(Sock* s, TextMessage* i, TextMessage* o, bool os, bool om, int m)
    : TextSock(static_cast<Protocol*>(nullptr), m) {
  const char* why = s == nullptr   ? "Invalid IODevice"
                    : i == nullptr ? "Invalid Input TextMessage"
                    : o == nullptr ? "Invalid Output TextMessage"
                                   : nullptr;
  if (why != nullptr) throw LibError("TextSock()", "%s", why);
  sock = s;
  ownSock = os;
  reason = new DataBuf("");
  if (auto* is = dynamic_cast<InetSock*>(s)) localAddress = is->getLocalAddress();
  if (auto* ts = dynamic_cast<TCPSock*>(s)) remoteAddress = ts->getRemoteAddress();
  if (auto* us = dynamic_cast<UDPSock*>(s)) remoteAddress = us->getRemoteAddress();
  in = i;
  out = o;
  ownMessages = om;
}

TextSock::TextSock(Protocol* p, TextMessage* i, TextMessage* o, bool os, bool om, int m)
    : TextSock(p, m) {
  _protocolForm(i, o, os, om, false);
}

void TextSock::_protocolForm(TextMessage* i, TextMessage* o, bool os, bool om, bool httpLike) {
  if (protocol == nullptr) throw LibError("TextSock()", "Invalid protocol");
  ownSock = os;
  ownMessages = om;
  reason = new DataBuf(256, 0, 65536, ALLOC_ONCREATE);
  reason->copy("", 1);
  SharedHash* table = protocol->getHeaderDescriptors();
  in = i;
  if (in == nullptr) {
    in = httpLike ? new HttpLikeMessage(table, 128, 1024, 32768, 8192)
                  : new TextMessage(table, 128, 1024, 32768, 8192);
    madeIn = true;
  }
  out = o;
  if (out == nullptr) {
    out = httpLike ? new HttpLikeMessage(table, 128, 1024, 32768, 8192)
                   : new TextMessage(table, 128, 1024, 32768, 8192);
    madeOut = true;
  }
}

TextSock::~TextSock() {
  MTRACE("~TextSock(): entered\n");
  if (ownSock) delete sock;
  bool delIn = ownMessages || madeIn;
  bool delOut = (ownMessages || madeOut) && out != in;
  if (delIn) delete in;
  if (delOut) delete out;
  delete reason;
  delete consumers;
  delete producers;
  delete pending;
  delete scratch;
  MTRACE("~TextSock(): deleted\n");
}

char* TextSock::getID() { return sock != nullptr ? sock->getID() : nullptr; }

void TextSock::setID(const char* id) {
  if (sock != nullptr) sock->setID(id);
}

void* TextSock::getHandle() { return sock != nullptr ? sock->getHandle() : nullptr; }

void TextSock::setHandle(void* handle) {
  if (sock != nullptr) sock->setHandle(handle);
}

int TextSock::read(char* buf, unsigned n) { return sock != nullptr ? sock->read(buf, n) : -1; }

int TextSock::write(const char* buf, unsigned n) { return sock != nullptr ? sock->write(buf, n) : -1; }

int TextSock::close() { return sock != nullptr ? sock->close() : -1; }

int TextSock::resume() { return sock != nullptr ? sock->resume() : -1; }

char* TextSock::getErrorString() { return _errorText; }

void TextSock::_copySockError() {
  if (sock != nullptr && sock->getErrorString() != nullptr) setErrorText(sock->getErrorString());
}

void TextSock::_note(IOMonitor* m) {
  if (m != nullptr) monitor = m;
}

// A result that leaves the device in a state without I/O to wait for (ready,
// input or output done, error, end) must be served in the next pass, not
// after the next descriptor happens to move: wake the loop.
int TextSock::_after(IOMonitor* m, int r) {
  if (m != nullptr && r != 2 && r != 3 && r >= 1 && r <= 7) m->wakeup();
  return r;
}

void TextSock::wake() {
  if (monitor != nullptr) monitor->wakeup();
}

int TextSock::addConsumer(const char* type, EntityConsumer* c) {
  return consumers->pput(type, static_cast<unsigned>(std::strlen(type)) + 1, c, true);
}

int TextSock::addProducer(const char* type, EntityProducer* p) {
  return producers->pput(type, static_cast<unsigned>(std::strlen(type)) + 1, p, true);
}

EntityConsumer* TextSock::_findConsumer() {
  const char* key = in->getEntityKey();
  void* c = lookup(consumers, key != nullptr ? key : kDefaultEC);
  if (c == nullptr) c = lookup(consumers, kDefaultEC);
  return static_cast<EntityConsumer*>(c);
}

EntityProducer* TextSock::_findProducer() {
  const char* key = out->getEntityKey();
  void* p = lookup(producers, key != nullptr ? key : kDefaultEP);
  if (p == nullptr) p = lookup(producers, kDefaultEP);
  return static_cast<EntityProducer*>(p);
}

// The next incoming message begins: a fresh message and entity state. Bytes
// already received for it (pending) stay.
void TextSock::_beginInput() {
  in->reset();
  entityIn = false;
  entityDone = false;
  entityRefused = false;
  entityDiscard = false;
  entityLeft = -1;
  residueDelivered = 0;
}

void TextSock::_beginOutput() {
  out->reset();
  entityOut = false;
  chunkOffset = chunkRemaining = 0;
  outBuf = nullptr;
  outOffset = outRemaining = 0;
}

int TextSock::_setOutput() {
  outBuf = out->getMessageBuffer();
  if (outBuf == nullptr) return -1;
  outOffset = 0;
  outRemaining = static_cast<int>(outBuf->getLength());
  return 0;
}

// ------------------------------------------------------------ input side

// Feeds received bytes (n = 0: end of stream) to the current message.
// Results: 2 more input needed, 4 message complete, 6 error, 7 end of stream.
int TextSock::_input(char* data, unsigned n) {
  if (entityIn && !entityDone) return _entityStep(data, n, n == 0);
  if (n == 0) return 7;
  if (in->isCompleted()) _beginInput();
  if (in->parse(data, n) != 0) {
    setErrorText(in->getErrorString() != nullptr ? in->getErrorString() : "Parse error");
    return 6;
  }
  if (!in->isCompleted()) return 2;
  _headersComplete();
  if (in->isEntityPresent()) {
    MTRACE_ERR("****** Entity Detected\n");
    entityIn = true;
    entityDone = entityRefused = entityDiscard = false;
    residueDelivered = 0;
    // A Content-Length bounds the entity; without one it runs to the end.
    entityLeft = in->getEntitySize() > 0 ? static_cast<long long>(in->getEntitySize()) : -1;
    return _entityStep(nullptr, 0, false);
  }
  if (in->getEntitySize() > 0) {
    // A body nobody can take (no media type): skip it, so that it is not
    // read as the next message.
    entityIn = true;
    entityDone = entityRefused = false;
    entityDiscard = true;
    residueDelivered = 0;
    entityLeft = static_cast<long long>(in->getEntitySize());
    return _entityStep(nullptr, 0, false);
  }
  DataBuf* res = in->getResidueData();
  if (res->getLength() > 0) {
    if (pending->merge(res->getData(), res->getLength()) != 0) return 6;
  }
  return 4;
}

// Gives entity bytes to the consumer: min(n, what the entity still lacks);
// the rest belongs to the next message.
void TextSock::_deliver(EntityConsumer* c, char* data, unsigned n) {
  unsigned take = n;
  if (entityLeft >= 0 && static_cast<long long>(take) > entityLeft) take = static_cast<unsigned>(entityLeft);
  if (take > 0 && c != nullptr && !entityRefused) {
    if (c->consume(in, data, take, nullptr) < 0) entityRefused = true;
  }
  if (entityLeft >= 0) {
    entityLeft -= take;
    if (entityLeft == 0) {
      if (c != nullptr && !entityRefused) c->consume(in, iobuf, 0, nullptr);
      entityDone = true;
    }
  }
  if (take < n) pending->merge(data + take, n - take);
}

int TextSock::_entityStep(char* data, unsigned n, bool atEof) {
  EntityConsumer* c = nullptr;
  if (!entityDiscard) {
    c = _findConsumer();
    if (c == nullptr) {
      MTRACE("TextSock: no entity consumer for this message\n");
      setErrorText("No entity consumer");
      return 6;
    }
  }
  if (!residueDelivered) {
    residueDelivered = 1;
    DataBuf* res = in->getResidueData();
    if (res->getLength() > 0) {
      MTRACE_ERR("TextSock:: residue size = %u\n", res->getLength());
      _deliver(c, res->getData(), res->getLength());
    }
  }
  if (n > 0) {
    if (!entityDone) {
      _deliver(c, data, n);
    } else {
      pending->merge(data, n);
    }
  }
  if (entityDone) return 4;
  if (atEof) {
    if (c != nullptr && !entityRefused) c->consume(in, iobuf, 0, nullptr);
    entityDone = true;
    return 4;
  }
  if (entityRefused && entityLeft < 0) {
    // Refused and unbounded: nothing that follows can be told apart from
    // it, so the exchange ends here.
    entityDone = true;
    eof = true;
    return 4;
  }
  return 2;
}

// Parses bytes that arrived after the previous message, in read-sized slices,
// stopping at the end of the next message; what is left stays pending.
int TextSock::_feedPending() {
  unsigned len = pending->getLength();
  if (len == 0) return 2;
  if (scratch->xcopy(pending->getData(), len) != 0 || scratch->getLength() != len) return 6;
  pending->setLength(0);
  unsigned off = 0;
  int r = 2;
  while (off < len) {
    unsigned n = len - off < IO_SIZE ? len - off : static_cast<unsigned>(IO_SIZE);
    r = _input(scratch->getData() + off, n);
    off += n;
    if (r != 2) break;
  }
  if (off < len) pending->merge(scratch->getData() + off, len - off);
  return r;
}

int TextSock::doRead(IOMonitor* m) { return _after(m, _doRead(m)); }

int TextSock::_doRead(IOMonitor* m) {
  _note(m);
  if (sock == nullptr) return 6;
  if (eof && pending->getLength() == 0) return 7;
  int n = sock->read(iobuf, IO_SIZE);
  if (n < 0) {
    _copySockError();
    return 6;
  }
  if (n == 0) {
    // An empty datagram is not the end of anything.
    if (sock->getType() == SOCK_DGRAM) return 2;
    eof = true;
    if (pending->getLength() > 0) {
      int r = _feedPending();
      if (r != 2) return r;
    }
    return _input(iobuf, 0);
  }
  if (pending->getLength() > 0) {
    if (pending->merge(iobuf, static_cast<unsigned>(n)) != 0) return 6;
    return _feedPending();
  }
  return _input(iobuf, static_cast<unsigned>(n));
}

int TextSock::onReady(IOMonitor* m) { return _after(m, _onReady(m)); }

int TextSock::_onReady(IOMonitor* m) {
  _note(m);
  if (pendingFirst || (mode == MODE_SERVER && pending->getLength() > 0)) {
    // The next message has (partly) arrived already: parse it first.
    pendingFirst = false;
    int r = _feedPending();
    if (r == 2 && eof) r = _input(iobuf, 0);
    return r;
  }
  if (mode == MODE_CLIENT && pending->getLength() > 0 && !entityOut && outRemaining <= 0) {
    // Nothing left to send: what arrived is the next incoming message.
    int r = _feedPending();
    if (r == 2 && eof) r = _input(iobuf, 0);
    return r;
  }
  if (eof) {
    MTRACE("global EOF detected\n");
    return 7;
  }
  int r = mode == MODE_CLIENT ? 3 : mode == MODE_SERVER ? 2 : 6;
  MTRACE("TextSock::onReady(): ready on %s (event=%d)\n", getID() ? getID() : "", r);
  return r;
}

int TextSock::onInputDone(IOMonitor* m) { return _after(m, _onInputDone(m)); }

int TextSock::_onInputDone(IOMonitor* m) {
  _note(m);
  if (mode == MODE_CLIENT) return processResponse(m);
  if (mode == MODE_SERVER) return _server_action();
  return 6;
}

int TextSock::processResponse(IOMonitor* m) {
  _note(m);
  if (protocol == nullptr) return 6;
  request_context_t ctx{in, out, 0, reason, protocol, this};
  return protocol->handleResponse(&ctx);
}

int TextSock::_server_action() {
  MTRACE("TextSock::_server_action()\n");
  _beginOutput();
  reason->xcopy("", 1);  // a reason left from the previous answer does not stick
  request_context_t ctx{in, out, 0, reason, protocol, this};
  if (protocol != nullptr && protocol->getServerInterp() != nullptr) {
    DataBuf* sl = in->getStartLine();
    std::string line(sl->getData(), sl->getLength());
    line = line.c_str();  // up to its NUL
    std::vector<char> buf;
    char* method;
    char* rest;
    splitLine(line.c_str(), buf, &method, &rest);
    int r = protocol->getServerInterp()->run(method, rest, &ctx);
    if (r >= -4 && r <= -1) protocol->handleBadRequest(method, rest, &ctx);
  }
  char status[STATUS_LINE_SIZE];
  std::snprintf(status, sizeof status, "%s/%s %d %s", protocol ? protocol->getName() : "",
                protocol ? protocol->getVersion() : "", ctx.status,
                reason->getData() != nullptr ? reason->getData() : "");
  out->getStartLine()->xcopy(status, static_cast<unsigned>(std::strlen(status)) + 1);
  if (_setOutput() != 0) {
    setErrorText("Answer too large");
    return 6;
  }
  return 3;
}

// ------------------------------------------------------------ output side

int TextSock::doRequest(const char* line) {
  MTRACE("TextSock::doRequest()\n");
  if (sock == nullptr) return 6;
  if (line == nullptr || protocol == nullptr || protocol->getClientInterp() == nullptr) return -1;
  _beginOutput();
  request_context_t ctx{nullptr, out, 0, nullptr, protocol, this};
  MTRACE("TextSock::doRequest(): req = \"%s\"\n", line);
  std::vector<char> buf;
  char* word;
  char* rest;
  splitLine(line, buf, &word, &rest);
  int r = protocol->getClientInterp()->run(word, rest, &ctx);
  if (r >= -4 && r <= -1) return -1;
  if (_setOutput() != 0) return -1;
  _beginInput();  // ready for the answer; bytes already here stay pending
  wake();
  return 0;
}

int TextSock::doWrite(IOMonitor* m) { return _after(m, _doWrite(m)); }

int TextSock::writeNow() {
  return _doWrite(nullptr) == 5 ? IODevice::STATE_OUTPUT_DONE : IODevice::STATE_WRITING;
}

int TextSock::_doWrite(IOMonitor* m) {
  _note(m);
  if (sock == nullptr) return 6;
  MTRACE("TextSock::doWrite(): writing...\n");
  int n;
  if (!entityOut) {
    if (outBuf == nullptr || outRemaining <= 0) return 2;  // nothing to write: read
    n = sock->write(outBuf->getData() + outOffset, static_cast<unsigned>(outRemaining));
  } else {
    if (chunkRemaining == 0) {
      EntityProducer* p = _findProducer();
      if (p == nullptr) {
        MTRACE("TextSock: no entity producer for this message\n");
        setErrorText("No entity producer");
        return 6;
      }
      int k = p->produce(out, iobuf, IO_SIZE, nullptr);
      if (k <= 0) {
        MTRACE("TextSock::doWrite(): output done\n");
        return 5;
      }
      chunkOffset = 0;
      chunkRemaining = k < IO_SIZE ? k : static_cast<int>(IO_SIZE);
    }
    n = sock->write(iobuf + chunkOffset, static_cast<unsigned>(chunkRemaining));
  }
  if (n == 0) return 2;
  if (n < 0) {
    _copySockError();
    return 6;
  }
  if (entityOut) {
    chunkOffset += n;
    chunkRemaining -= n;
    return 3;
  }
  outOffset += n;
  outRemaining -= n;
  if (outRemaining > 0) return 3;
  if (out->isEntityPresent()) {
    entityOut = true;
    chunkOffset = chunkRemaining = 0;
    return 3;
  }
  MTRACE("TextSock::doWrite(): output done\n");
  return 5;
}

int TextSock::onOutputDone(IOMonitor* m) { return _after(m, _onOutputDone(m)); }

int TextSock::_onOutputDone(IOMonitor* m) {
  _note(m);
  MTRACE("onOutputDone: entered\n");
  _beginInput();
  entityOut = false;
  if (pending->getLength() > 0) {
    // The next message is here already: go through ready (no waiting) and
    // parse it there.
    pendingFirst = true;
    return 1;
  }
  return 2;
}

int TextSock::onError(IOMonitor* m) {
  _note(m);
  char* id = getID();
  MTRACE("Error on %s\n", id ? id : "");
  if (m != nullptr && id != nullptr) m->removeDevice(id);
  return 6;
}

int TextSock::onEOF(IOMonitor* m) {
  _note(m);
  char* id = getID();
  MTRACE("Eof on %s\n", id ? id : "");
  if (m != nullptr && id != nullptr) m->removeDevice(id);
  return 6;
}

int TextSock::onExtendedStatus(IOMonitor* m) {
  _note(m);
  return 6;
}

// ------------------------------------------------------------ connecting

int TextSock::connect(int kind, const char* host, unsigned short port, unsigned short localPort) {
  Sock* made = nullptr;
  if (kind == 1) {
    InetAddress to(host, port);  // throws InetAddress() when it cannot be resolved
    TCPSock* t = new TCPSock();
    if (t->connect(to) != 0) {
      setErrorText(t->getErrorString());
      delete t;
      return -1;
    }
    t->updateLocalAddress();
    made = t;
    localAddress = t->getLocalAddress();
    remoteAddress = t->getRemoteAddress();
  } else if (kind == 2) {
    UDPSock* u = new UDPSock(localPort);  // throws InetSock() when it cannot bind
    InetAddress to;
    if (host != nullptr && to.set(host, port) == 0) u->setRemoteAddress(to);
    u->updateLocalAddress();
    made = u;
    localAddress = u->getLocalAddress();
    remoteAddress = u->getRemoteAddress();
  } else {
    setErrorText("Unknown connection kind");
    return -1;
  }
  if (ownSock && sock != nullptr && sock != made) delete sock;
  sock = made;
  ownSock = true;
  eof = false;
  pending->setLength(0);
  return 0;
}

// ------------------------------------------------------------ blocking use

namespace {

int writeWhole(Sock* s, const char* data, unsigned n) {
  unsigned done = 0;
  while (done < n) {
    int w = s->write(data + done, n - done);
    if (w <= 0) return -1;
    done += static_cast<unsigned>(w);
  }
  return static_cast<int>(n);
}

}  // namespace

int TextSock::sendText() {
  if (sock == nullptr) return -1;
  DataBuf* b = out->getMessageBuffer();
  if (b == nullptr) return -1;
  int r = writeWhole(sock, b->getData(), b->getLength());
  if (r < 0) _copySockError();
  return r;
}

int TextSock::recvText() {
  if (sock == nullptr) return -1;
  if (in->isCompleted()) _beginInput();
  // Bytes left from an earlier message come first.
  while (pending->getLength() > 0 && !in->isCompleted()) {
    unsigned len = pending->getLength();
    unsigned n = len < BLOCK_READ ? len : static_cast<unsigned>(BLOCK_READ);
    int r = in->parse(pending->getData(), n);
    std::memmove(pending->getData(), pending->getData() + n, len - n);
    pending->setLength(len - n);
    if (r != 0) return r;
  }
  if (in->isCompleted()) {
    _headersComplete();
    return 0;
  }
  while (!in->isCompleted()) {
    int n = sock->read(iobuf, BLOCK_READ);
    MTRACE("in_bytes = %d\n", n);
    if (n < 0) {
      _copySockError();
      return -1;
    }
    if (n == 0) {
      eof = true;
      return 0;
    }
    int r = in->parse(iobuf, static_cast<unsigned>(n));
    if (r != 0) return r;
  }
  _headersComplete();
  return 0;
}

int TextSock::recvEntity(EntityConsumer* c) {
  if (sock == nullptr || c == nullptr) return -1;
  entityIn = true;
  entityDone = entityRefused = entityDiscard = false;
  entityLeft = in->getEntitySize() > 0 ? static_cast<long long>(in->getEntitySize()) : -1;
  DataBuf* res = in->getResidueData();
  MTRACE("residue size = %u\n", res->getLength());
  residueDelivered = 1;
  if (res->getLength() > 0) _deliver(c, res->getData(), res->getLength());
  int total = 0;
  while (!entityDone && !entityRefused) {
    unsigned want = IO_SIZE;
    if (entityLeft >= 0 && entityLeft < static_cast<long long>(want)) want = static_cast<unsigned>(entityLeft);
    int n = sock->read(iobuf, want);
    if (n < 0) {
      _copySockError();
      return -1;
    }
    if (n == 0) {
      eof = true;
      c->consume(in, iobuf, 0, nullptr);
      entityDone = true;
      break;
    }
    total += n;
    _deliver(c, iobuf, static_cast<unsigned>(n));
  }
  return total;
}

int TextSock::sendEntity(EntityProducer* p) {
  if (sock == nullptr || p == nullptr) return -1;
  int total = 0;
  for (;;) {
    int k = p->produce(out, iobuf, IO_SIZE, nullptr);
    if (k <= 0) break;
    if (k > IO_SIZE) k = IO_SIZE;
    if (writeWhole(sock, iobuf, static_cast<unsigned>(k)) < 0) {
      _copySockError();
      return -1;
    }
    total += k;
  }
  return total;
}

// ---------------------------------------------------------------- HttpLikeSock

HttpLikeSock::HttpLikeSock(Sock* s, HttpLikeMessage* i, HttpLikeMessage* o, bool os, bool om, int m)
    : TextSock(s, i, o, os, om, m) {}

HttpLikeSock::HttpLikeSock(Protocol* p, HttpLikeMessage* i, HttpLikeMessage* o, bool os, bool om,
                           int m)
    : TextSock(p, m) {
  _protocolForm(i, o, os, om, true);
}

}  // namespace MorvaneLib
