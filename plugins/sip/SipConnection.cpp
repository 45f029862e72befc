// SipConnection: bodies dropped, datagrams read whole, dispatch by start
// line, and the end of a connection of a "SipController" block.
#include "plugins/sip/SipConnection.h"

#include <strings.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include "framework/Block.h"
#include "mosal/TextMessage.h"
#include "mosal/Trace.h"
#include "mosal_posix/IOMonitor.h"
#include "mosal_posix/Sock.h"
#include "plugins/sip/SipBlockState.h"

namespace MorvaneLib {

namespace {

// Takes every body byte and keeps none.
class DiscardConsumer : public EntityConsumer {
 public:
  int consume(TextMessage*, char*, unsigned size, void*) override {
    return size > 0 ? static_cast<int>(size) : -1;
  }
};

DiscardConsumer discard;

bool looksLikeResponse(TextMessage* in) {
  const char* sl = in->getStartLine()->getData();
  return sl != nullptr && strncasecmp(sl, "SIP/", 4) == 0;
}

}  // namespace

SipConnection::SipConnection(Protocol* protocol, SipMessage* in, SipMessage* out, int mode)
    : HttpLikeSock(protocol, in, out, true, true, mode), _serverSocket(false), _gone(false) {
  addConsumer("<_DEFAULTEC_>", &discard);
}

SipConnection::SipConnection(Sock* accepted, SipMessage* in, SipMessage* out, int mode)
    : HttpLikeSock(accepted, in, out, true, true, mode), _serverSocket(false), _gone(false) {
  addConsumer("<_DEFAULTEC_>", &discard);
}

SipConnection::~SipConnection() {}

bool SipConnection::isDatagram() { return sock != nullptr && sock->getType() == SOCK_DGRAM; }

void SipConnection::peerText(char* buf, unsigned size, int* port) {
  InetAddress* a = getPeerAddress();
  std::snprintf(buf, size, "%s", a != nullptr ? a->toString() : "");
  if (port != nullptr) *port = a != nullptr ? a->getPort() : 0;
}

void SipConnection::setPeerAddress(const InetAddress& peer) {
  UDPSock* u = dynamic_cast<UDPSock*>(sock);
  if (u == nullptr) return;
  InetAddress copy(peer);
  u->setRemoteAddress(copy);
}

bool SipConnection::_busy() {
  int s = getState();
  return s == STATE_INPUT_DONE || s == STATE_OUTPUT_DONE || s == STATE_WRITING ||
         outRemaining > 0 || entityOut;
}

int SipConnection::_issue(const char* line, const InetAddress* peer) {
  if (peer != nullptr) setPeerAddress(*peer);
  int r = doRequest(line);
  if (r != 0) return r;
  setMode(MODE_CLIENT);
  return 0;
}

int SipConnection::request(const char* line, const InetAddress* peer) {
  if (line == nullptr) return -1;
  if (!_busy()) {
    int r = _issue(line, peer);
    if (r != 0) return r;
    setState(STATE_READY);
    wake();
    return 0;
  }
  _queuedLine = line;
  _queuedHasPeer = peer != nullptr;
  if (peer != nullptr) _queuedPeer = *peer;
  _queued = true;
  return 0;
}

int SipConnection::_issueQueued() {
  if (!_queued) return 0;
  _queued = false;
  if (_issue(_queuedLine.c_str(), _queuedHasPeer ? &_queuedPeer : nullptr) != 0) {
    MTRACE("SipConnection: queued request refused\n");
    return 0;
  }
  return 3;
}

// Bytes held back for a request that is not coming after all go now.
void SipConnection::_pushHeld() {
  if (!_held) return;
  _held = false;
  if (TCPSock* tcp = dynamic_cast<TCPSock*>(sock)) tcp->push();
}

void SipConnection::finish() {
  _queued = false;
  int s = getState();
  if (s == STATE_WRITING || s == STATE_OUTPUT_DONE || outRemaining > 0 || entityOut) {
    _finishing = true;
    return;
  }
  setState(STATUS_EOF);
  wake();
}

int SipConnection::onReady(IOMonitor* m) {
  if (_queued && outRemaining <= 0 && !entityOut) {
    _note(m);
    if (_issueQueued() == 3) return _after(m, 3);
  }
  return HttpLikeSock::onReady(m);
}

int SipConnection::onOutputDone(IOMonitor* m) {
  if (_finishing) return _after(m, 7);
  int r = HttpLikeSock::onOutputDone(m);
  if (_queued && _issueQueued() == 3) return _after(m, 3);
  _pushHeld();
  return r;
}

int SipConnection::doRead(IOMonitor* m) {
  if (_gone) return 2;  // its removal is on the way
  if (!isDatagram()) return HttpLikeSock::doRead(m);
  _note(m);
  if (_datagram.size() < DATAGRAM_MAX) _datagram.resize(DATAGRAM_MAX);
  int n = sock->read(_datagram.data(), DATAGRAM_MAX);
  // A failed receive (the ICMP answer to an earlier datagram, say) or an
  // empty datagram loses nothing: keep reading.
  if (n <= 0) return 2;
  _beginInput();
  pending->setLength(0);
  if (in->parse(_datagram.data(), static_cast<unsigned>(n)) != 0 || !in->isCompleted()) {
    MTRACE("SipConnection: datagram of %d bytes dropped: not a whole message\n", n);
    _beginInput();
    return 2;
  }
  // A body came in the same datagram and goes with it.
  return _after(m, 4);
}

int SipConnection::doWrite(IOMonitor* m) {
  // A request waits behind this message (the callee's accepting INVITE
  // behind its 180): the system holds these bytes until the request is
  // written, so the peer gets both in one segment and is woken once.
  TCPSock* tcp = _queued ? dynamic_cast<TCPSock*>(sock) : nullptr;
  if (tcp != nullptr) tcp->setMoreFollows(true);
  int r = HttpLikeSock::doWrite(m);
  if (tcp != nullptr) tcp->setMoreFollows(false);
  _held = tcp != nullptr;  // a plain write sends what was held too
  if (r == 6 && isDatagram() && _serverSocket) {
    // The datagram is lost; the shared socket goes on reading.
    MTRACE("SipConnection: datagram not sent (%s)\n", getErrorString());
    _beginInput();
    return 2;
  }
  return r;
}

int SipConnection::onInputDone(IOMonitor* m) {
  _note(m);
  if (_gone) return 2;
  int r = looksLikeResponse(in) ? processResponse(m) : _server_action();
  return _after(m, r);
}

int SipConnection::processResponse(IOMonitor* m) {
  int r = HttpLikeSock::processResponse(m);
  if (r != 1 && _serverSocket) {
    // The block's shared socket outlives any one exchange.
    setMode(MODE_SERVER);
    r = 1;
  }
  return r;
}

void SipConnection::_ended() {
  if (_gone) return;
  _gone = true;
  SipBlockState* state = SipBlockState::of(getBlock());
  if (state != nullptr) state->connectionEnded(this);
}

// The removal is queued under the identifier the loop knows; the
// descriptor is closed right away, so the peer sees the end at once (the
// loop clears its bits by device, not by descriptor).
int SipConnection::onError(IOMonitor* m) {
  int r = HttpLikeSock::onError(m);
  if (!_gone) close();
  _ended();
  return r;
}

int SipConnection::onEOF(IOMonitor* m) {
  int r = HttpLikeSock::onEOF(m);
  if (!_gone) close();
  _ended();
  return r;
}

}  // namespace MorvaneLib
