// The server interpreter's request handlers: INVITE and BYE.
#include "plugins/sip/SipServerCommands.h"

#include <cstdio>
#include <cstring>

#include "framework/Block.h"
#include "mosal/TextMessage.h"
#include "mosal/TextSock.h"
#include "plugins/sip/SipBlockState.h"
#include "plugins/sip/SipConnection.h"
#include "plugins/sip/SipDialog.h"
#include "plugins/sip/SipProtocol.h"

namespace MorvaneLib {

namespace {

inline const char* orEmpty(const char* s) { return s != nullptr ? s : ""; }

// What every handler needs from its context; false when the request cannot
// be served (no connection, no block state).
struct Request {
  request_context_t* ctx;
  SipConnection* connection;
  SipBlockState* state;
  const char* to;
  const char* from;
  const char* callId;
  const char* cseq;
  char peer[InetAddress::TEXT_SIZE];
  int port;
  char portText[16];

  bool open(void* context) {
    ctx = static_cast<request_context_t*>(context);
    if (ctx == nullptr || ctx->in == nullptr || ctx->out == nullptr) return false;
    connection = dynamic_cast<SipConnection*>(ctx->sock);
    if (connection == nullptr) return false;
    state = SipBlockState::of(connection->getBlock());
    if (state == nullptr) return false;
    TextMessage* in = ctx->in;
    to = in->getHeader("To");
    from = in->getHeader("From");
    callId = in->getHeader("Call-ID");
    cseq = in->getHeader("CSeq");
    connection->peerText(peer, sizeof peer, &port);
    std::snprintf(portText, sizeof portText, "%d", port);
    return true;
  }
  bool complete() const {
    return to != nullptr && from != nullptr && callId != nullptr && cseq != nullptr;
  }
  // 400 "Bad Request" through the protocol, as for a refused request line.
  int refuse() {
    Protocol* p = ctx->protocol;
    if (p != nullptr) p->handleBadRequest(nullptr, nullptr, ctx);
    return 0;
  }
  // The answer: the four headers as received, the status and the reason.
  int answer(int status, const char* reason) {
    TextMessage* out = ctx->out;
    out->setHeader("To", to);
    out->setHeader("From", from);
    out->setHeader("Call-ID", callId);
    out->setHeader("CSeq", cseq);
    ctx->status = status;
    if (ctx->reason != nullptr)
      ctx->reason->xcopy(reason, static_cast<unsigned>(std::strlen(reason)) + 1);
    return 0;
  }
};

}  // namespace

int SipServerInvite::perform(Params*, void* context) {
  Request r;
  if (!r.open(context)) return 0;
  TextMessage* in = r.ctx->in;
  const char* vport = in->getHeader("X-Video-Port");
  const char* aport = in->getHeader("X-Audio-Port");
  const char* tport = in->getHeader("X-Text-Port");
  const char* wport = in->getHeader("X-WhiteBoard-Port");
  const char* nat = in->getHeader("X-Natted");
  SipBlockState* s = r.state;
  s->log(SIP_LOG_PROGRESS, "SERVER: INVITE FROM %s:%d", r.peer, r.port);
  s->log(SIP_LOG_PROGRESS, "SERVER: to   =%s", orEmpty(r.to));
  s->log(SIP_LOG_PROGRESS, "SERVER: from =%s", orEmpty(r.from));
  s->log(SIP_LOG_PROGRESS, "SERVER: id   =%s", orEmpty(r.callId));
  s->log(SIP_LOG_PROGRESS, "SERVER: cseq =%s", orEmpty(r.cseq));
  s->log(SIP_LOG_PROGRESS, "SERVER: vport=%s", orEmpty(vport));
  s->log(SIP_LOG_PROGRESS, "SERVER: aport=%s", orEmpty(aport));
  s->log(SIP_LOG_PROGRESS, "SERVER: tport=%s", orEmpty(tport));
  s->log(SIP_LOG_PROGRESS, "SERVER: wport=%s", orEmpty(wport));
  s->log(SIP_LOG_PROGRESS, "SERVER: nat  =%s", orEmpty(nat));
  if (!r.complete()) return r.refuse();

  if (SipDialog* session = s->findSession(r.callId)) {
    // This side placed the call; the callee accepts with its own ports.
    s->log(SIP_LOG_PROGRESS, "SERVER: Using Session for %s:%d", r.peer, r.port);
    session->set("VideoMinPort", vport);
    session->set("AudioMinPort", aport);
    session->set("WhiteBoardMinPort", wport);
    session->set("TextMinPort", tport);
    session->set("Natted", nat);
    s->postEvent(SIP_EVENT_ESTABLISHED, session);
    return r.answer(200, "Ok");
  }

  SipDialog* d = nullptr;
  try {
    d = new SipDialog(r.callId);
  } catch (const LibError& e) {
    s->log(SIP_LOG_ERROR, "SERVER: Session Error: %s (%s)", e.getReason(), e.getLocation());
    return 0;
  }
  s->log(SIP_LOG_PROGRESS, "SERVER: Create Session for %s:%d", r.peer, r.port);
  d->set("Call-ID", r.callId);
  d->set("To", r.to);
  d->set("From", r.from);
  d->set("VideoMinPort", vport);
  d->set("AudioMinPort", aport);
  d->set("WhiteBoardMinPort", wport);
  d->set("TextMinPort", tport);
  d->set("Natted", nat);
  d->set("RemoteIP", r.peer);
  d->set("RemotePort", r.portText);
  d->setConnection(r.connection);
  InetAddress* peer = r.connection->getPeerAddress();
  d->setPeer(peer);
  if (s->addReceived(r.callId, d) != 0) {
    d->setConnection(nullptr);
    delete d;
    return r.refuse();
  }
  s->postEvent(SIP_EVENT_INCOMING, d);
  return r.answer(180, "Ringing");
}

int SipServerBye::perform(Params*, void* context) {
  Request r;
  if (!r.open(context)) return 0;
  SipBlockState* s = r.state;
  s->log(SIP_LOG_PROGRESS, "SERVER: BYE from %s:%d", r.peer, r.port);
  s->log(SIP_LOG_PROGRESS, "SERVER: to   =%s", orEmpty(r.to));
  s->log(SIP_LOG_PROGRESS, "SERVER: from =%s", orEmpty(r.from));
  s->log(SIP_LOG_PROGRESS, "SERVER: id   =%s", orEmpty(r.callId));
  s->log(SIP_LOG_PROGRESS, "SERVER: cseq =%s", orEmpty(r.cseq));
  if (!r.complete()) return r.refuse();
  SipDialog* session = s->findSession(r.callId);
  if (session == nullptr) return 0;
  session->set("RemoteIP", r.peer);
  session->set("RemotePort", r.portText);
  s->postEvent(SIP_EVENT_PEER_BYE, session);
  return r.answer(200, "Ok");
}

}  // namespace MorvaneLib
