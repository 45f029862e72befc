// The server interpreter's request handlers: one Command per request method,
// each taking the request URI and version (two arguments) and the request
// context of the connection the request came on. INVITE and BYE do the
// work; the other methods are accepted and answered with the untouched
// status (0).
//
// Every request must carry To, From, Call-ID and CSeq: one that lacks any
// of them is answered 400 "Bad Request" and changes no session.
#ifndef MRB_SIPSERVERCOMMANDS_H
#define MRB_SIPSERVERCOMMANDS_H

#include "mosal/Interp.h"

namespace MorvaneLib {

// INVITE: an unknown Call-ID is an incoming call (a "_RECV_" dialog, event
// 1001, answer 180 "Ringing"); a known session is the callee's acceptance
// (the peer's ports stored, event 1003, answer 200 "Ok").
class SipServerInvite : public Command {
 public:
  SipServerInvite() : Command("INVITE", 2, 2) {}
  using Command::perform;
  int perform(Params* args, void* context) override;
};

// BYE: for a known session the peer ends the call (event 1006, answer 200
// "Ok"); for an unknown Call-ID nothing happens (status 0).
class SipServerBye : public Command {
 public:
  SipServerBye() : Command("BYE", 2, 2) {}
  using Command::perform;
  int perform(Params* args, void* context) override;
};

// Accepted methods that do nothing: 0, no status.
class SipServerNoop : public Command {
 public:
  explicit SipServerNoop(const char* method) : Command(method, 2, 2) {}
  using Command::perform;
  int perform(Params*, void*) override { return 0; }
};

class SipServerUpdate : public SipServerNoop {
 public:
  SipServerUpdate() : SipServerNoop("UPDATE") {}
};
class SipServerRegister : public SipServerNoop {
 public:
  SipServerRegister() : SipServerNoop("REGISTER") {}
};
class SipServerSubscribe : public SipServerNoop {
 public:
  SipServerSubscribe() : SipServerNoop("SUBSCRIBE") {}
};
class SipServerOptions : public SipServerNoop {
 public:
  SipServerOptions() : SipServerNoop("OPTIONS") {}
};
class SipServerCancel : public SipServerNoop {
 public:
  SipServerCancel() : SipServerNoop("CANCEL") {}
};
class SipServerAck : public SipServerNoop {
 public:
  SipServerAck() : SipServerNoop("ACK") {}
};

}  // namespace MorvaneLib

#endif
