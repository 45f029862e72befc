// The block's session commands: "SessionCreate", "SessionSet" and
// "SessionDestroy". Each perform(params, block) runs on the block's thread
// with the block as its data argument and returns a command result code
// (0 done, 10 exists, 11 not found, 20 value refused, 21 creation failed).
#ifndef MRB_SIPSESSIONCOMMANDS_H
#define MRB_SIPSESSIONCOMMANDS_H

#include "mosal/Interp.h"

namespace MorvaneLib {

// SessionCreate <Call-ID> <name> <description>: a new session, which takes
// the connection of the incoming call of the same Call-ID if there is one.
// The name and description are only logged.
class SipCmdSessionCreate : public Command {
 public:
  SipCmdSessionCreate() : Command("SessionCreate", 3, 3) {}
  using Command::perform;
  int perform(Params* params, void* block) override;
};

// SessionSet <Call-ID> <key> <value>: sets one string key of the session.
class SipCmdSessionSet : public Command {
 public:
  SipCmdSessionSet() : Command("SessionSet", 3, 3) {}
  using Command::perform;
  int perform(Params* params, void* block) override;
};

// SessionDestroy <Call-ID>: removes and deletes the session; its connection
// ends unless another session or the block's datagram server holds it.
class SipCmdSessionDestroy : public Command {
 public:
  SipCmdSessionDestroy() : Command("SessionDestroy", 1, 1) {}
  using Command::perform;
  int perform(Params* params, void* block) override;
};

}  // namespace MorvaneLib

#endif
