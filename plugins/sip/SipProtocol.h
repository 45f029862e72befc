// SipProtocol: the protocol object every SIP connection of a
// "SipController" block carries: the 50 header names its messages accept,
// the name "sip" and version "2.0" of its answers' status lines, the server
// interpreter (request method -> SipServer* handler), the client
// interpreter (mid-level request -> SipClient* builder), and the handling
// of bad requests and of responses (events 1002 to 1005).
//
// The plug-in makes two, one per transport (1 TCP, 2 UDP), registered as
// "sip/2.0/TCP" and "sip/2.0/UDP" and shared by every block of a manager.
// After construction everything in it is only read; its handlers run on
// the threads of the blocks whose connections call them.
#ifndef MRB_SIPPROTOCOL_H
#define MRB_SIPPROTOCOL_H

#include "framework/BlockManager.h"
#include "framework/Plugin.h"
#include "mosal/TextSock.h"

namespace MorvaneLib {

class SipProtocol : public Protocol, public ProtocolTransport {
 public:
  enum { HEADER_COUNT = 50, HEADER_BUCKETS = 128 };
  // The accepted header names, in the order they are filed; null-ended.
  static const char* const HEADERS[];

  // plugin: borrowed. transport: 1 TCP, 2 UDP. Throws LibError when its
  // tables cannot be made.
  SipProtocol(Plugin* plugin, int transport);
  ~SipProtocol() override;

  // A request the server interpreter refused (unknown method, other than
  // two words after it) or that lacks a header every request must carry:
  // logs "BAD REQUEST: from <peer>" and answers 400 "Bad Request". 0.
  int handleBadRequest(char* method, char* arguments, void* context) override;
  // A response to a request of ours: updates the session, posts 1002, 1003,
  // 1004 or 1005 and says what the connection does next: 1 go on (it is
  // then in server mode), 7 end it. A response lacking To, From, Call-ID or
  // CSeq, or whose status line or CSeq has fewer than two words, is logged
  // and dropped (7), like one for an unknown Call-ID.
  int handleResponse(void* context) override;

  // 1 TCP, 2 UDP: the manager files the object as "sip/2.0/TCP" or ".../UDP".
  int getTransport() const override { return transport; }
  Plugin* getPlugin() const { return plugin; }

 private:
  int transport;
  Plugin* plugin;
};

}  // namespace MorvaneLib

#endif
