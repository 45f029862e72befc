// SipProtocol: header table, interpreters, bad requests and responses.
#include "plugins/sip/SipProtocol.h"

#include <cstdlib>
#include <cstring>

#include "framework/Block.h"
#include "mosal/Vector.h"
#include "plugins/sip/SipBlockState.h"
#include "plugins/sip/SipClientCommands.h"
#include "plugins/sip/SipConnection.h"
#include "plugins/sip/SipDialog.h"
#include "plugins/sip/SipServerCommands.h"

namespace MorvaneLib {

const char* const SipProtocol::HEADERS[] = {
    "Accept",           "Accept-Encoding",     "Accept-Language",   "Alert-Info",
    "Allow",            "Authentication-Info", "Authorization",     "Call-ID",
    "Call-Info",        "Contact",             "Content-Disposition", "Content-Encoding",
    "Content-Language", "Content-Length",      "Content-Type",      "CSeq",
    "Date",             "Error-Info",          "Expires",           "From",
    "In-Reply-To",      "Max-Forwards",        "Min-Expires",       "MIME-Version",
    "Organization",     "Priority",            "Proxy-Authenticate", "Proxy-Authorization",
    "Proxy-Require",    "Record-Route",        "Reply-To",          "Require",
    "Retry-After",      "Route",               "Server",            "Subject",
    "Supported",        "Timestamp",           "To",                "Unsupported",
    "User-Agent",       "Via",                 "Warning",           "WWW-Authenticate",
    "X-Video-Port",     "X-Audio-Port",        "X-Text-Port",       "X-File-Port",
    "X-WhiteBoard-Port", "X-Natted",           nullptr};

static_assert(sizeof(SipProtocol::HEADERS) / sizeof(SipProtocol::HEADERS[0]) ==
                  SipProtocol::HEADER_COUNT + 1,
              "50 header names");

SipProtocol::SipProtocol(Plugin* plugin, int transport) : transport(transport), plugin(plugin) {
  serverInterp = new Interp(32, 32, 4096);
  clientInterp = new Interp(32, 32, 4096);
  name = new DataBuf("sip");
  version = new DataBuf("2.0");
  headers = new SharedHash(HEADER_BUCKETS);

  serverInterp->addCommand(new SipServerInvite());
  serverInterp->addCommand(new SipServerBye());
  serverInterp->addCommand(new SipServerUpdate());
  serverInterp->addCommand(new SipServerRegister());
  serverInterp->addCommand(new SipServerSubscribe());
  serverInterp->addCommand(new SipServerOptions());
  serverInterp->addCommand(new SipServerCancel());
  serverInterp->addCommand(new SipServerAck());

  clientInterp->addCommand(new SipClientInvite());
  clientInterp->addCommand(new SipClientBye());
  clientInterp->addCommand(new SipClientUpdate());
  clientInterp->addCommand(new SipClientRegister());
  clientInterp->addCommand(new SipClientSubscribe());
  clientInterp->addCommand(new SipClientOptions());
  clientInterp->addCommand(new SipClientCancel());
  clientInterp->addCommand(new SipClientAck());

  const char general = 1;  // every SIP header is of the general class
  for (unsigned i = 0; HEADERS[i] != nullptr; ++i)
    headers->put(HEADERS[i], static_cast<unsigned>(std::strlen(HEADERS[i])) + 1, &general, 1,
                     false);
}

SipProtocol::~SipProtocol() {}

int SipProtocol::handleBadRequest(char*, char*, void* context) {
  request_context_t* ctx = static_cast<request_context_t*>(context);
  if (ctx == nullptr) return 0;
  SipConnection* c = dynamic_cast<SipConnection*>(ctx->sock);
  SipBlockState* state = c != nullptr ? SipBlockState::of(c->getBlock()) : nullptr;
  if (state != nullptr) {
    char peer[InetAddress::TEXT_SIZE];
    int port = 0;
    c->peerText(peer, sizeof peer, &port);
    state->log(SIP_LOG_ERROR, "BAD REQUEST: from %s:%d", peer, port);
  }
  if (ctx->reason != nullptr) ctx->reason->xcopy("Bad Request", 12);
  ctx->status = 400;
  return 0;
}

namespace {

// The second word of a text split at blanks, or null when it has fewer
// than two (the words live in `words`).
const char* secondWord(Vector* words, const char* text) {
  if (text == nullptr || words->addElements(text, " ", true) != 0) return nullptr;
  return words->size() >= 2 ? words->elementAt(1) : nullptr;
}

inline const char* orEmpty(const char* s) { return s != nullptr ? s : ""; }

}  // namespace

int SipProtocol::handleResponse(void* context) {
  request_context_t* ctx = static_cast<request_context_t*>(context);
  if (ctx == nullptr || ctx->in == nullptr) return IODevice::RESULT_EOF;
  SipConnection* c = dynamic_cast<SipConnection*>(ctx->sock);
  SipBlockState* state = c != nullptr ? SipBlockState::of(c->getBlock()) : nullptr;
  if (state == nullptr) return IODevice::RESULT_EOF;
  TextMessage* in = ctx->in;
  const char* to = in->getHeader("To");
  const char* from = in->getHeader("From");
  const char* callId = in->getHeader("Call-ID");
  const char* cseq = in->getHeader("CSeq");
  const char* statusLine = in->getStartLine()->getData();

  char peer[InetAddress::TEXT_SIZE];
  int port = 0;
  c->peerText(peer, sizeof peer, &port);
  state->log(SIP_LOG_ERROR, "HANDLE_RESPONSE FROM %s:%d", peer, port);
  state->log(SIP_LOG_ERROR, "HANDLE_RESPONSE: sl  =%s", orEmpty(statusLine));
  state->log(SIP_LOG_ERROR, "HANDLE_RESPONSE: to  =%s", orEmpty(to));
  state->log(SIP_LOG_ERROR, "HANDLE_RESPONSE: from=%s", orEmpty(from));
  state->log(SIP_LOG_ERROR, "HANDLE_RESPONSE: id  =%s", orEmpty(callId));
  state->log(SIP_LOG_ERROR, "HANDLE_RESPONSE: cseq=%s", orEmpty(cseq));

  Vector statusWords(255, 5, 3);
  Vector cseqWords(255, 5, 3);
  const char* code = secondWord(&statusWords, statusLine);
  const char* method = secondWord(&cseqWords, cseq);
  if (to == nullptr || from == nullptr || callId == nullptr || code == nullptr ||
      method == nullptr) {
    state->log(SIP_LOG_ERROR, "HANDLE_RESPONSE: Malformed Response");
    return IODevice::RESULT_EOF;
  }
  SipDialog* session = state->findSession(callId);
  if (session == nullptr) {
    state->log(SIP_LOG_ERROR, "HANDLE_RESPONSE: Null Dialog");
    return IODevice::RESULT_EOF;
  }
  session->set("From", from);
  session->set("To", to);
  long status = std::strtol(code, nullptr, 0);
  if (status <= 199) {
    state->postEvent(SIP_EVENT_PROVISIONAL, session);
    c->setMode(SipConnection::MODE_SERVER);
    return IODevice::RESULT_READY;
  }
  if (status <= 299) {
    unsigned event = 0;
    if (std::strcmp(method, "INVITE") == 0) event = SIP_EVENT_ESTABLISHED;
    if (std::strcmp(method, "BYE") == 0) event = SIP_EVENT_BYE_ACCEPTED;
    state->postEvent(event, session);
    c->setMode(SipConnection::MODE_SERVER);
    return IODevice::RESULT_READY;
  }
  if (status <= 699) state->postEvent(SIP_EVENT_REJECTED, session);
  return IODevice::RESULT_EOF;
}

}  // namespace MorvaneLib
