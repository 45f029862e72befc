// The client interpreter's request builders: each turns the values of a
// mid-level request line (SipMidLevel) into the start line and headers of
// the connection's outgoing message. INVITE and BYE build real requests;
// the other methods only print their name to standard error.
//
// The builders split their line with SipMidLevel::split, so an empty value
// keeps its position (and its header is then left out of the request) and
// a value may hold a double quote.
#ifndef MRB_SIPCLIENTCOMMANDS_H
#define MRB_SIPCLIENTCOMMANDS_H

#include "mosal/Interp.h"

namespace MorvaneLib {

// "INVITE <To> SIP/2.0", then To, From, Call-ID, CSeq, X-Video-Port,
// X-Audio-Port, X-Text-Port, X-WhiteBoard-Port, X-Natted. 0, or -1 when a
// header cannot be set (the line is then refused).
class SipClientInvite : public Command {
 public:
  SipClientInvite() : Command("INVITE", 12, 30) {}
  using Command::perform;
  int makeParams(Params* params, const char* text) override;
  int perform(Params* args, void* context) override;
};

// "BYE <To> SIP/2.0", then To, From, Call-ID, CSeq, Max-Forwards.
class SipClientBye : public Command {
 public:
  SipClientBye() : Command("BYE", 7, 30) {}
  using Command::perform;
  int makeParams(Params* params, const char* text) override;
  int perform(Params* args, void* context) override;
};

// Methods without a builder: "Client: <METHOD>" on standard error, 0.
class SipClientOther : public Command {
 public:
  explicit SipClientOther(const char* method) : Command(method, 2, 2) {}
  using Command::perform;
  int perform(Params*, void*) override;
};

class SipClientUpdate : public SipClientOther {
 public:
  SipClientUpdate() : SipClientOther("UPDATE") {}
};
class SipClientRegister : public SipClientOther {
 public:
  SipClientRegister() : SipClientOther("REGISTER") {}
};
class SipClientSubscribe : public SipClientOther {
 public:
  SipClientSubscribe() : SipClientOther("SUBSCRIBE") {}
};
class SipClientOptions : public SipClientOther {
 public:
  SipClientOptions() : SipClientOther("OPTIONS") {}
};
class SipClientCancel : public SipClientOther {
 public:
  SipClientCancel() : SipClientOther("CANCEL") {}
};
class SipClientAck : public SipClientOther {
 public:
  SipClientAck() : SipClientOther("ACK") {}
};

}  // namespace MorvaneLib

#endif
