// The request commands of the "SipController" block.
#include "plugins/sip/SipRequestCommands.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/Block.h"
#include "mosal/Trace.h"
#include "plugins/sip/SipBlockState.h"
#include "plugins/sip/SipConnection.h"
#include "plugins/sip/SipDialog.h"
#include "plugins/sip/SipMidLevel.h"
#include "plugins/sip/SipProtocol.h"

namespace MorvaneLib {

namespace {

inline const char* arg(Params* p, int i) {
  const char* a = p != nullptr ? p->getArg(i) : nullptr;
  return a != nullptr ? a : "";
}

// Common prologue: the session and the protocol. Null with *result set
// when the command ends here.
SipDialog* prologue(SipBlockState* state, const char* id, const char* what,
                    SipProtocol** protocol, const char** protocolName, int* socketType,
                    int* result) {
  SipDialog* d = state->findSession(id);
  if (d == nullptr) {
    state->log(SIP_LOG_ERROR, "Session %s: %s: Not found", id, what);
    *result = SIP_SESSION_NOT_FOUND;
    return nullptr;
  }
  *protocolName = state->protocolName(socketType);
  *protocol = state->findProtocol(*protocolName);
  if (*protocol == nullptr) {
    MTRACE("Critical: no ph\n");
    *result = SIP_NO_HANDLER;
    return nullptr;
  }
  return d;
}

int formatInvite(SipDialog* d, const char* to, const char* from, const char* protocolName,
                 char* line, unsigned size) {
  SipInviteValues v;
  v.to = to;
  v.from = from;
  v.callId = d->text("Call-ID");
  v.contact = d->text("Contact");
  v.organization = d->text("Organization");
  v.expires = d->text("Expires");
  v.videoPort = d->text("VideoMinPort");
  v.audioPort = d->text("AudioMinPort");
  v.textPort = d->text("TextMinPort");
  v.whiteBoardPort = d->text("WhiteBoardMinPort");
  v.natted = d->text("Natted");
  v.protocolName = protocolName;
  return SipMidLevel::formatInvite(line, size, v);
}

// Sends the request built from `line` on a connection the loop already
// serves: client mode, ready state, and the loop woken so that it writes at
// once. Requests through the block's shared datagram socket go to the
// session's peer rather than to whoever sent last.
int sendOn(SipDialog* d, SipConnection* c, const char* line) {
  const InetAddress* peer = c->isServerSocket() ? d->getPeer() : nullptr;
  return c->request(line, peer) == 0 ? 0 : -1;
}

}  // namespace

int SipCmdInvite::perform(Params* params, void* data) {
  SipBlockState* state = SipBlockState::of(static_cast<Block*>(data));
  if (state == nullptr) return SIP_NO_HANDLER;
  const char* id = arg(params, 0);
  const char* to = arg(params, 1);
  const char* from = arg(params, 2);
  const char* host = arg(params, 4);
  const char* portText = arg(params, 5);
  SipProtocol* protocol;
  const char* protocolName;
  int socketType;
  int result;
  SipDialog* d = prologue(state, id, "INVITE", &protocol, &protocolName, &socketType, &result);
  if (d == nullptr) return result;

  // The line is checked before anything is opened: a request that cannot
  // be built leaves the session as it was.
  std::vector<char> buffer(SipMidLevel::LINE_SIZE);
  char* line = buffer.data();
  if (formatInvite(d, to, from, protocolName, line, SipMidLevel::LINE_SIZE) != 0) {
    state->log(SIP_LOG_ERROR, "Session %s: INVITE: Malformed MidLevel Request (ret = %x)", id,
               static_cast<unsigned>(-1));
    return SIP_MALFORMED;
  }

  unsigned short port = static_cast<unsigned short>(std::strtol(portText, nullptr, 0));
  SipConnection* c = nullptr;
  try {
    c = state->makeConnection(protocol, SipConnection::MODE_CLIENT);
  } catch (const LibError& e) {
    state->log(SIP_LOG_ERROR, "Session %s: INVITE: Connect Error", id);
    return SIP_CONNECTION_ERROR;
  }
  state->log(SIP_LOG_PROGRESS, "Session %s: INVITE: Connect To %s:%d", id, host,
             static_cast<int>(port));
  int connected;
  try {
    connected = c->connect(socketType, host, port, 0);
  } catch (const LibError&) {
    connected = -1;  // the host name did not resolve
  }
  if (connected != 0) {
    state->postEvent(SIP_EVENT_CONNECT_ERROR, d);
    state->log(SIP_LOG_ERROR, "Session %s: INVITE: Connect Error", id);
    state->discardConnection(c);
    return SIP_CONNECTION_ERROR;
  }
  d->setConnection(c);
  d->set("RemoteIP", host);
  d->set("RemotePort", portText);
  if (c->doRequest(line) != 0) {
    state->log(SIP_LOG_ERROR, "Session %s: INVITE: Malformed MidLevel Request (ret = %x)", id,
               static_cast<unsigned>(-1));
    d->setConnection(nullptr);
    state->discardConnection(c);
    return SIP_MALFORMED;
  }
  // The request is built and a fresh stream takes it at once; a datagram
  // socket writes from the loop, which handles its errors.
  c->setState(c->isDatagram() ? static_cast<int>(IODevice::STATE_WRITING) : c->writeNow());
  if (state->getBlock()->attach(c) != 0) {
    MTRACE("attach error\n");
    d->setConnection(nullptr);
    state->discardConnection(c);
    return SIP_ATTACH_ERROR;
  }
  return SIP_DONE;
}

int SipCmdInviteAccept::perform(Params* params, void* data) {
  SipBlockState* state = SipBlockState::of(static_cast<Block*>(data));
  if (state == nullptr) return SIP_NO_HANDLER;
  const char* id = arg(params, 0);
  const char* to = arg(params, 1);
  const char* from = arg(params, 2);
  (void)std::strtol(arg(params, 5), nullptr, 0);
  SipProtocol* protocol;
  const char* protocolName;
  int socketType;
  int result;
  SipDialog* d =
      prologue(state, id, "INVITE_ACCEPT", &protocol, &protocolName, &socketType, &result);
  if (d == nullptr) return result;
  SipConnection* c = static_cast<SipConnection*>(d->getConnection());
  if (c == nullptr) {
    state->postEvent(SIP_EVENT_ACCEPT_ERROR, d);
    state->log(SIP_LOG_ERROR, "Session %s: INVITE_ACCEPT: Error", id);
    return SIP_CONNECTION_ERROR;
  }
  std::vector<char> buffer(SipMidLevel::LINE_SIZE);
  char* line = buffer.data();
  if (formatInvite(d, to, from, protocolName, line, SipMidLevel::LINE_SIZE) != 0 ||
      sendOn(d, c, line) != 0) {
    state->log(SIP_LOG_ERROR, "Session %s: INVITE_ACCEPT: Malformed MidLevel Request (ret = %x)",
               id, static_cast<unsigned>(-1));
    return SIP_MALFORMED;
  }
  return SIP_DONE;
}

int SipCmdBye::perform(Params* params, void* data) {
  SipBlockState* state = SipBlockState::of(static_cast<Block*>(data));
  if (state == nullptr) return SIP_NO_HANDLER;
  const char* id = arg(params, 0);
  const char* to = arg(params, 1);
  const char* from = arg(params, 2);
  (void)std::strtol(arg(params, 4), nullptr, 0);
  SipProtocol* protocol;
  const char* protocolName;
  int socketType;
  int result;
  SipDialog* d = prologue(state, id, "BYE", &protocol, &protocolName, &socketType, &result);
  if (d == nullptr) return result;
  SipConnection* c = static_cast<SipConnection*>(d->getConnection());
  if (c == nullptr) {
    state->postEvent(SIP_EVENT_BYE_ERROR, d);
    state->log(SIP_LOG_ERROR, "Session %s: BYE: Error", id);
    return SIP_CONNECTION_ERROR;
  }
  SipByeValues v;
  v.to = to;
  v.from = from;
  v.callId = d->text("Call-ID");
  v.contact = d->text("Contact");
  v.organization = d->text("Organization");
  v.protocolName = protocolName;
  std::vector<char> buffer(SipMidLevel::LINE_SIZE);
  char* line = buffer.data();
  if (SipMidLevel::formatBye(line, SipMidLevel::LINE_SIZE, v) != 0 || sendOn(d, c, line) != 0) {
    state->log(SIP_LOG_ERROR, "Session %s: BYE: Malformed MidLevel Request (ret = %x)", id,
               static_cast<unsigned>(-1));
    return SIP_MALFORMED;
  }
  return SIP_DONE;
}

int SipCmdUpdate::perform(Params*, void*) {
  MTRACE_ERR("Update\n");
  return 0;
}

int SipCmdAck::perform(Params*, void*) {
  MTRACE_ERR("Ack\n");
  return 0;
}

}  // namespace MorvaneLib
