// SipConnection: SIP framing, dispatch by start line, and the end of a
// connection of a "SipController" block.
#include "plugins/sip/SipConnection.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "framework/Block.h"
#include "mosal/Trace.h"
#include "mosal_posix/IOMonitor.h"
#include "plugins/sip/SipBlockState.h"

namespace MorvaneLib {

namespace {

bool looksLikeResponse(TextMessage* in) {
  const char* sl = in->getStartLine()->getData();
  return sl != nullptr && strncasecmp(sl, "SIP/", 4) == 0;
}

}  // namespace

SipConnection::SipConnection(Protocol* protocol, HttpLikeMessage* in, HttpLikeMessage* out,
                             int mode)
    : HttpLikeSock(protocol, in, out, true, true, mode),
      _bodyLeft(0),
      _bodyInResidue(0),
      _ready(false),
      _answering(false),
      _serverSocket(false),
      _gone(false) {}

SipConnection::SipConnection(Sock* accepted, HttpLikeMessage* in, HttpLikeMessage* out, int mode)
    : HttpLikeSock(accepted, in, out, true, true, mode),
      _bodyLeft(0),
      _bodyInResidue(0),
      _ready(false),
      _answering(false),
      _serverSocket(false),
      _gone(false) {}

SipConnection::~SipConnection() {}

Block* SipConnection::getBlock() { return static_cast<Block*>(getOwner()); }

void SipConnection::setBlock(Block* block) { setOwner(block); }

bool SipConnection::isDatagram() {
  Sock* s = getSocket();
  return s != nullptr && s->getType() == SOCK_DGRAM;
}

void SipConnection::peerText(char* buf, unsigned size, int* port) {
  InetAddress* a = getPeerAddress();
  std::snprintf(buf, size, "%s", a != nullptr ? a->toString() : "");
  if (port != nullptr) *port = a != nullptr ? a->getPort() : 0;
}

InetAddress* SipConnection::getPeerAddress() { return getRemoteAddress(); }

void SipConnection::setPeerAddress(const InetAddress& peer) {
  InetAddress* a = getRemoteAddress();
  if (a != nullptr) *a = peer;
}

int SipConnection::request(const char* line) {
  _forgetInput();
  return doRequest(const_cast<char*>(line));
}

void SipConnection::_forgetInput() {
  _carry.clear();
  _bodyLeft = 0;
  _bodyInResidue = 0;
  _ready = false;
  getIncoming()->reset();
}

// ------------------------------------------------------------------ reading

int SipConnection::doRead(IOMonitor* m) {
  if (getSocket() == nullptr) return RESULT_ERROR;
  return isDatagram() ? _readDatagram(m) : _readStream(m);
}

int SipConnection::_readStream(IOMonitor* m) {
  if (_buffer.size() < STREAM_READ) _buffer.resize(STREAM_READ);
  int n = read(_buffer.data(), STREAM_READ);
  if (n < 0) return RESULT_ERROR;
  if (n == 0) return RESULT_EOF;
  const char* data = _buffer.data();
  unsigned count = static_cast<unsigned>(n);
  if (_bodyLeft > 0) {
    // Dropping the rest of a body; what follows it is the next message.
    unsigned k = count < _bodyLeft ? count : _bodyLeft;
    _bodyLeft -= k;
    if (_bodyLeft > 0) return RESULT_READ;
    _carry.append(data + k, count - k);
    _ready = true;
    return _serve(m);
  }
  TextMessage* in = getIncoming();
  if (in->parse(data, count) != 0) {
    MTRACE("SipConnection: message refused (%s)\n", in->getErrorString() ? in->getErrorString() : "");
    return RESULT_ERROR;  // the stream cannot be framed any more
  }
  if (!in->isCompleted()) return RESULT_READ;
  if (!_frame()) return RESULT_READ;
  return _serve(m);
}

int SipConnection::_readDatagram(IOMonitor* m) {
  if (_buffer.size() < DATAGRAM_MAX) _buffer.resize(DATAGRAM_MAX);
  int n = read(_buffer.data(), DATAGRAM_MAX);
  // A failed receive (an ICMP error of an earlier send, say) or an empty
  // datagram loses nothing: keep reading.
  if (n <= 0) return RESULT_READ;
  TextMessage* in = getIncoming();
  in->reset();
  if (in->parse(_buffer.data(), static_cast<unsigned>(n)) != 0 || !in->isCompleted()) {
    MTRACE("SipConnection: incomplete datagram of %d bytes dropped\n", n);
    in->reset();
    return RESULT_READ;
  }
  _ready = true;  // a body is in the same datagram, and dropped with it
  return _serve(m);
}

bool SipConnection::_frame() {
  TextMessage* in = getIncoming();
  const char* cl = in->getHeader("Content-Length");
  unsigned body = cl != nullptr ? in->getEntitySize() : 0;
  unsigned have = in->getResidueData()->getLength();
  _bodyInResidue = have < body ? have : body;
  _bodyLeft = body - _bodyInResidue;
  _ready = _bodyLeft == 0;
  return _ready;
}

void SipConnection::_next() {
  TextMessage* in = getIncoming();
  _ready = false;
  if (isDatagram()) {
    in->reset();
    return;
  }
  in->resetForNext(_bodyInResidue);
  _bodyInResidue = 0;
  if (!_carry.empty()) {
    std::string more;
    more.swap(_carry);
    if (in->parse(more.data(), static_cast<unsigned>(more.size())) != 0) {
      in->reset();  // cannot be framed: it will fail again on the next read
      return;
    }
  }
  if (in->isCompleted()) _frame();
}

// ---------------------------------------------------------------- dispatch

int SipConnection::_serve(IOMonitor* m) {
  // A few messages that arrived together are served at once; more go
  // through the ready state so that other devices get their turn.
  for (int round = 0; round < 4; ++round) {
    if (!_ready) return RESULT_READ;
    _ready = false;
    TextMessage* in = getIncoming();
    if (!looksLikeResponse(in)) {
      _answering = true;
      return _server_action();  // 3: write the answer
    }
    int r = processResponse(m);
    if (r != RESULT_READY && _serverSocket) {
      // The block's shared socket outlives any one exchange.
      setMode(MODE_SERVER);
      r = RESULT_READY;
    }
    if (r != RESULT_READY) return r;
    _next();
  }
  return _ready ? RESULT_READY : RESULT_READ;
}

int SipConnection::onReady(IOMonitor* m) {
  if (_ready) return RESULT_INPUT_DONE;
  return HttpLikeSock::onReady(m);
}

int SipConnection::onInputDone(IOMonitor* m) {
  if (!_ready) return RESULT_READ;
  return _serve(m);
}

// ------------------------------------------------------------------ writing

int SipConnection::doWrite(IOMonitor* m) {
  int r = HttpLikeSock::doWrite(m);
  if (r == RESULT_ERROR && isDatagram()) {
    // A datagram that could not be sent is lost; the socket goes on.
    _answering = false;
    _next();
    return RESULT_READ;
  }
  if (r != RESULT_OUTPUT_DONE) return r;
  return onOutputDone(m);
}

int SipConnection::onOutputDone(IOMonitor* m) {
  if (!_answering) return HttpLikeSock::onOutputDone(m);  // read the answer
  _answering = false;
  _next();
  return _ready ? RESULT_READY : RESULT_READ;
}

// ---------------------------------------------------------------------- end

void SipConnection::_ended() {
  if (_gone) return;
  _gone = true;
  SipBlockState* state = SipBlockState::of(getBlock());
  if (state != nullptr) state->connectionEnded(this);
}

int SipConnection::onError(IOMonitor* m) {
  int r = HttpLikeSock::onError(m);
  _ended();
  return r;
}

int SipConnection::onEOF(IOMonitor* m) {
  int r = HttpLikeSock::onEOF(m);
  _ended();
  return r;
}

}  // namespace MorvaneLib
