// The block's request commands: "Invite" (call a peer), "InviteAccept"
// (accept an incoming call by sending an INVITE back on the caller's
// connection), "Bye" (refuse or end a call), and "Register", "Update" and
// "Ack", which only answer. Each perform(params, block) runs on the block's
// thread and returns a command result code: 0 done, 1 no protocol handler,
// 2 connection error, 3 malformed mid-level request, 4 attach error,
// 11 session not found.
//
// The sending commands format a mid-level request line (SipMidLevel) from
// the session's keys and hand it to the connection's doRequest, whose
// client interpreter builds the wire request (SipClientInvite,
// SipClientBye). No request is retransmitted and none waits for a time-out.
#ifndef MRB_SIPREQUESTCOMMANDS_H
#define MRB_SIPREQUESTCOMMANDS_H

#include "mosal/Interp.h"

namespace MorvaneLib {

// Invite <Call-ID> <to> <from> <unused> <host> <port>
class SipCmdInvite : public Command {
 public:
  SipCmdInvite() : Command("Invite", 6, 6) {}
  using Command::perform;
  int perform(Params* params, void* block) override;
};

// InviteAccept <Call-ID> <to> <from> <unused> <unused> <port, unused>
class SipCmdInviteAccept : public Command {
 public:
  SipCmdInviteAccept() : Command("InviteAccept", 6, 6) {}
  using Command::perform;
  int perform(Params* params, void* block) override;
};

// Bye <Call-ID> <to> <from> <unused> <port, unused> [up to five more, unused]
class SipCmdBye : public Command {
 public:
  SipCmdBye() : Command("Bye", 5, 10) {}
  using Command::perform;
  int perform(Params* params, void* block) override;
};

// Register: sends nothing, 0.
class SipCmdRegister : public Command {
 public:
  SipCmdRegister() : Command("Register", 3, 3) {}
  using Command::perform;
  int perform(Params*, void*) override { return 0; }
};

// Update: prints "Update" to standard error, 0.
class SipCmdUpdate : public Command {
 public:
  SipCmdUpdate() : Command("Update", 2, 2) {}
  using Command::perform;
  int perform(Params*, void*) override;
};

// Ack: prints "Ack" to standard error, 0.
class SipCmdAck : public Command {
 public:
  SipCmdAck() : Command("Ack", 1, 1) {}
  using Command::perform;
  int perform(Params*, void*) override;
};

}  // namespace MorvaneLib

#endif
