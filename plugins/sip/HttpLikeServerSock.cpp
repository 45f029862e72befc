// HttpLikeServerSock: accepts the SIP connections of a "SipController" block.
#include "plugins/sip/HttpLikeServerSock.h"

#include "framework/Block.h"
#include "mosal/Trace.h"
#include "mosal_posix/IOMonitor.h"
#include "plugins/sip/SipBlockState.h"
#include "plugins/sip/SipConnection.h"
#include "plugins/sip/SipProtocol.h"

namespace MorvaneLib {

HttpLikeServerSock::HttpLikeServerSock(InetAddress& local, int backlog)
    : TCPServerSock(local, backlog), protocol(nullptr), block(nullptr) {}

HttpLikeServerSock::~HttpLikeServerSock() {}

int HttpLikeServerSock::doRead(IOMonitor* monitor) {
  TCPSock* accepted = accept();
  if (accepted == nullptr) {
    // Only this connection is lost; the socket stays in the read set.
    MTRACE("HttpLikeServerSock::doRead(): accept failed (%s)\n", getErrorString());
    return RESULT_READ;
  }
  SipBlockState* state = SipBlockState::of(block);
  if (state == nullptr || protocol == nullptr) {
    delete accepted;
    return RESULT_READ;
  }
  SipConnection* c = nullptr;
  try {
    c = state->acceptConnection(accepted, protocol);
  } catch (const LibError& e) {
    MTRACE("HttpLikeServerSock::doRead(): %s\n", e.getReason());
    return RESULT_READ;
  }
  c->setState(IODevice::STATE_READING);
  if (monitor->attach(c) != 0) {
    MTRACE("HttpLikeServerSock::doRead(): %s\n", monitor->getErrorString());
    state->discardConnection(c);
  }
  return RESULT_READ;
}

int HttpLikeServerSock::doWrite(IOMonitor*) { return RESULT_ERROR; }
int HttpLikeServerSock::onError(IOMonitor*) { return RESULT_ERROR; }
int HttpLikeServerSock::onEOF(IOMonitor*) { return RESULT_ERROR; }
int HttpLikeServerSock::onInputDone(IOMonitor*) { return RESULT_ERROR; }
int HttpLikeServerSock::onOutputDone(IOMonitor*) { return RESULT_ERROR; }
int HttpLikeServerSock::onReady(IOMonitor*) { return RESULT_READ; }
int HttpLikeServerSock::onExtendedStatus(IOMonitor*) { return RESULT_ERROR; }

}  // namespace MorvaneLib
