// The client interpreter's request builders.
#include "plugins/sip/SipClientCommands.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "mosal/TextMessage.h"
#include "mosal/TextSock.h"
#include "mosal/Trace.h"
#include "plugins/sip/SipMidLevel.h"

namespace MorvaneLib {

namespace {

inline const char* arg(Params* p, int i) { return p != nullptr ? p->getArg(i) : nullptr; }

// The start line "<method> <uri> <version>", copied with its NUL.
int startLine(TextMessage* out, const char* method, Params* args) {
  const char* uri = arg(args, 0);
  const char* version = arg(args, 1);
  if (uri == nullptr || version == nullptr) return -1;
  std::string line = std::string(method) + " " + uri + " " + version;
  if (line.find_first_of("\r\n") != std::string::npos) return -1;
  return out->getStartLine()->xcopy(line.c_str(), static_cast<unsigned>(line.size()) + 1);
}

// One header from one position; an empty or missing value sets nothing.
int header(TextMessage* out, const char* name, Params* args, int position) {
  const char* v = arg(args, position);
  if (v == nullptr || v[0] == '\0') return 0;
  return out->setHeader(name, v) == 0 ? 0 : -1;
}

}  // namespace

int SipClientInvite::makeParams(Params* params, const char* text) {
  return SipMidLevel::split(params, text);
}

int SipClientInvite::perform(Params* args, void* context) {
  request_context_t* ctx = static_cast<request_context_t*>(context);
  if (ctx == nullptr || ctx->out == nullptr) return -1;
  TextMessage* out = ctx->out;
  if (startLine(out, "INVITE", args) != 0) return -1;
  typedef SipMidLevel M;
  if (header(out, "To", args, M::INV_TO) || header(out, "From", args, M::INV_FROM) ||
      header(out, "Call-ID", args, M::INV_CALLID) || header(out, "CSeq", args, M::INV_CSEQ) ||
      header(out, "X-Video-Port", args, M::INV_VIDEO) ||
      header(out, "X-Audio-Port", args, M::INV_AUDIO) ||
      header(out, "X-Text-Port", args, M::INV_TEXT) ||
      header(out, "X-WhiteBoard-Port", args, M::INV_WHITEBOARD) ||
      header(out, "X-Natted", args, M::INV_NATTED))
    return -1;
  return 0;
}

int SipClientBye::makeParams(Params* params, const char* text) {
  return SipMidLevel::split(params, text);
}

int SipClientBye::perform(Params* args, void* context) {
  request_context_t* ctx = static_cast<request_context_t*>(context);
  if (ctx == nullptr || ctx->out == nullptr) return -1;
  TextMessage* out = ctx->out;
  if (startLine(out, "BYE", args) != 0) return -1;
  typedef SipMidLevel M;
  if (header(out, "To", args, M::BYE_TO) || header(out, "From", args, M::BYE_FROM) ||
      header(out, "Call-ID", args, M::BYE_CALLID) || header(out, "CSeq", args, M::BYE_CSEQ) ||
      header(out, "Max-Forwards", args, M::BYE_MAXFWD))
    return -1;
  return 0;
}

int SipClientOther::perform(Params*, void*) {
  MTRACE_ERR("Client: %s\n", getName());
  return 0;
}

}  // namespace MorvaneLib
