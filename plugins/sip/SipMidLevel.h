// SipMidLevel: the mid-level request lines that the session commands hand to
// a connection's client interpreter, and the splitter the INVITE and BYE
// builders read them back with.
//
// A mid-level line is a method word followed by quoted values, one per
// position (the second position is the bare word SIP/2.0):
//   INVITE "to" SIP/2.0 "vport" "aport" "tport" "wport" "nat" "to" "from"
//          "call-id" "1 INVITE" "70" "proto" "-" "0" "contact" "TAMVO HOME 1.0"
//          "org" "expires"
//   BYE "to" SIP/2.0 "to" "from" "call-id" "1 BYE" "70" "proto" "-" "0"
//       "contact" "TAMVO HOME 1.0" "org"
// Inside quotes a backslash escapes the next character, so a value may hold
// a double quote; the splitter keeps an empty quoted value as an empty
// argument, so an empty value never moves the values behind it into the
// wrong positions. A line whose values hold neither a double quote nor a
// backslash is written exactly as the plain format would write it.
#ifndef MRB_SIPMIDLEVEL_H
#define MRB_SIPMIDLEVEL_H

#include "mosal/Interp.h"

namespace MorvaneLib {

// Values of a mid-level INVITE line; a null value is written as empty.
struct SipInviteValues {
  const char* to;
  const char* from;
  const char* callId;
  const char* videoPort;
  const char* audioPort;
  const char* textPort;
  const char* whiteBoardPort;
  const char* natted;
  const char* protocolName;
  const char* contact;
  const char* organization;
  const char* expires;
};

// Values of a mid-level BYE line; a null value is written as empty.
struct SipByeValues {
  const char* to;
  const char* from;
  const char* callId;
  const char* protocolName;
  const char* contact;
  const char* organization;
};

class SipMidLevel {
 public:
  enum {
    LINE_SIZE = 16384,  // room the session commands format a line into
    VALUE_MAX = 4095    // longest value an argument slot of the interpreter holds
  };
  // Positions (0-based argument indexes) of the INVITE line.
  enum {
    INV_URI = 0, INV_VERSION, INV_VIDEO, INV_AUDIO, INV_TEXT, INV_WHITEBOARD, INV_NATTED,
    INV_TO, INV_FROM, INV_CALLID, INV_CSEQ, INV_MAXFWD, INV_PROTOCOL, INV_PLACEHOLDER,
    INV_ZERO, INV_CONTACT, INV_AGENT, INV_ORGANIZATION, INV_EXPIRES, INV_COUNT
  };
  // Positions of the BYE line.
  enum {
    BYE_URI = 0, BYE_VERSION, BYE_TO, BYE_FROM, BYE_CALLID, BYE_CSEQ, BYE_MAXFWD,
    BYE_PROTOCOL, BYE_PLACEHOLDER, BYE_ZERO, BYE_CONTACT, BYE_AGENT, BYE_ORGANIZATION,
    BYE_COUNT
  };

  // The value at the placeholder position, which no handler reads.
  static const char* const PLACEHOLDER;
  // The user-agent text at the INVITE's and BYE's agent position.
  static const char* const AGENT;

  // Formats the line into `line` (`size` bytes, NUL included). 0; -1 when
  // the line does not fit, or a value is longer than VALUE_MAX or holds a CR
  // or LF (it would break the request's wire form); `line` then holds "".
  static int formatInvite(char* line, unsigned size, const SipInviteValues& v);
  static int formatBye(char* line, unsigned size, const SipByeValues& v);

  // Splits a mid-level line's arguments (the text after the method word)
  // into params: blanks separate values; a double quote opens a quoted value
  // that runs to the next unescaped double quote (a backslash inside takes
  // the next character as it is; a quote left open runs to the end). Quoted
  // values are kept even when empty; unquoted pieces that are empty are
  // dropped. Every value is trimmed of leading white space and trailing
  // white space or control characters, as the command splitter does. 0, or
  // -1 when params has no slot left or a value does not fit its slot.
  static int split(Params* params, const char* text);
};

}  // namespace MorvaneLib

#endif
