// SipBlockState: what the plug-in keeps for each "SipController" block beside
// the block's property table, and the helpers its commands and handlers
// share (log lines, events, protocol choice). Private to the plug-in.
//
// The session table is the block's property table: a session is the object
// under its Call-ID, an incoming call's dialog the object under
// "_RECV_<Call-ID>". This state adds the bookkeeping that keeps that table
// bounded and its pointers valid:
//  - every dialog of the block, so that a connection that ends is taken out
//    of each dialog holding it (no dialog keeps a connection that is gone);
//  - the "_RECV_" entries in arrival order: an entry goes when its
//    connection ends, when the application destroys the session of the same
//    Call-ID, or when more than MAX_RECEIVED are waiting (the oldest first);
//  - dialogs the block no longer keeps (dropped "_RECV_" entries, dialogs a
//    repeated INVITE displaced) wait in a short queue before they are
//    deleted, because an event message may still lend them to the
//    application; the queue holds at most MAX_RETIRED;
//  - the housekeeper device that deletes ended connections.
//
// Threads: everything here runs on the block's thread (commands, handlers
// and the loop's devices all do), so the state has no lock of its own.
#ifndef MRB_SIPBLOCKSTATE_H
#define MRB_SIPBLOCKSTATE_H

#include <deque>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "framework/Block.h"
#include "mosal/TextSock.h"

namespace MorvaneLib {

class SipConnection;
class TCPSock;
class SipDialog;
class SipHousekeeper;
class SipProtocol;

// Log levels of this plug-in's lines.
enum { SIP_LOG_PROGRESS = 3, SIP_LOG_ERROR = 4 };

// Event codes posted to the application.
enum {
  SIP_EVENT_INCOMING = 1001,
  SIP_EVENT_PROVISIONAL = 1002,
  SIP_EVENT_ESTABLISHED = 1003,
  SIP_EVENT_REJECTED = 1004,
  SIP_EVENT_BYE_ACCEPTED = 1005,
  SIP_EVENT_PEER_BYE = 1006,
  SIP_EVENT_CONNECT_ERROR = 2000,
  SIP_EVENT_ACCEPT_ERROR = 2001,
  SIP_EVENT_BYE_ERROR = 2002
};

// Result codes of the block's commands.
enum {
  SIP_DONE = 0,
  SIP_NO_HANDLER = 1,
  SIP_CONNECTION_ERROR = 2,
  SIP_MALFORMED = 3,
  SIP_ATTACH_ERROR = 4,
  SIP_SESSION_EXISTS = 10,
  SIP_SESSION_NOT_FOUND = 11,
  SIP_SET_ERROR = 20,
  SIP_CREATE_ERROR = 21
};

class SipBlockState {
 public:
  enum { MAX_RECEIVED = 64, MAX_RETIRED = 32 };
  // The hidden object key under which the state hangs in the block's table.
  static const char* const KEY;

  explicit SipBlockState(Block* block);
  // Deletes the dialogs still kept (sessions, "_RECV_" entries, retired
  // ones) without ending their connections, every connection and server
  // socket of the block, and the housekeeper with what it holds. Only when
  // the block's loop has ended.
  ~SipBlockState();
  SipBlockState(const SipBlockState&) = delete;
  SipBlockState& operator=(const SipBlockState&) = delete;

  // The state of a block (null when the set-up entry did not make one).
  static SipBlockState* of(Block* block);

  Block* getBlock() const { return _block; }

  // -------- sessions (the object under the Call-ID)
  // The live session of a Call-ID, or null.
  SipDialog* findSession(const char* callId);
  // Stores a new session: 0, or -1 (the dialog stays the caller's).
  int addSession(const char* callId, SipDialog* dialog);
  // Takes the session out of the table and deletes it. Its connection ends
  // unless the block's shared datagram socket or another session holds it.
  // Also drops the "_RECV_" entry of the same Call-ID. 0, or -1 when absent.
  int destroySession(const char* callId);

  // -------- incoming calls (the object under "_RECV_<Call-ID>")
  SipDialog* findReceived(const char* callId);
  // Stores the dialog of an incoming INVITE; a dialog already stored under
  // that Call-ID is displaced (retired, its connection kept). 0, or -1 (the
  // dialog stays the caller's).
  int addReceived(const char* callId, SipDialog* dialog);
  // Drops the entry: its dialog is retired, its connection kept.
  void dropReceived(const char* callId);
  unsigned receivedCount() const { return static_cast<unsigned>(_received.size()); }
  unsigned retiredCount() const { return static_cast<unsigned>(_retired.size()); }
  unsigned dialogCount() const { return static_cast<unsigned>(_dialogs.size()); }

  // -------- connections
  // A new connection of this block over `protocol` in the given mode, with
  // its two messages; owned by the block's state until it ends. Throws
  // LibError when it cannot be made.
  SipConnection* makeConnection(SipProtocol* protocol, int mode);
  // A server-mode connection over an accepted stream, which it takes (also
  // when it throws LibError).
  SipConnection* acceptConnection(TCPSock* accepted, SipProtocol* protocol);
  // Deletes a connection that never reached the loop.
  void discardConnection(SipConnection* connection);
  // Takes the server socket ("_ts") off the loop: "_ts" becomes null, the
  // socket's removal is queued (by the housekeeper, in its next pass) and
  // the socket deleted, closing its port, once the loop lets go of it. A
  // datagram server socket first lets go of its sessions like any
  // connection that ends. For handlers and commands (the loop's thread).
  void closeServerSocket();
  // True when "_ts" is open for the transport (datagram or stream) on the
  // port (0: any port).
  bool serverMatches(bool datagram, int port);
  // A connection of this block has ended (it queued its own removal): every
  // dialog lets go of it, the "_RECV_" entries holding it are dropped, and
  // the connection is handed to the housekeeper, which deletes it once the
  // loop is done with it (or at once when there is no housekeeper).
  void connectionEnded(SipConnection* connection);
  // The block's server socket ("_ts"), or null.
  IODevice* getServerSocket();
  // The housekeeper of the block's loop (made by reset, attached there).
  SipHousekeeper* getHousekeeper() { return _housekeeper; }
  void setHousekeeper(SipHousekeeper* h) { _housekeeper = h; }

  // -------- shared helpers
  // A line at `level` through the manager's logger (cut to 255 characters).
  void log(unsigned char level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Posts an event about `dialog` (word 9) to the block's receivers.
  void postEvent(unsigned code, SipDialog* dialog);
  // The protocol name and socket type chosen by "Transport" ("UDP" exactly:
  // "sip/2.0/UDP" and 2, else "sip/2.0/TCP" and 1), and the protocol
  // registered under that name (null when none is).
  const char* protocolName(int* socketType);
  SipProtocol* findProtocol(const char* protocolName);

 private:
  void _retire(SipDialog* d);
  // Deletes a device the loop lets go of, through the housekeeper; with
  // queueRemoval the housekeeper takes it off the loop first.
  void _release(IODevice* d, bool queueRemoval);
  void _ended(SipConnection* c, bool queueRemoval);
  void _forget(SipDialog* d);
  bool _heldByOtherSession(SipDialog* d);
  void _eraseReceivedId(const std::string& id);

  Block* _block;
  ConfigTable* _table;
  struct Filed {
    bool received;       // a "_RECV_" entry, else a session
    std::string callId;  // the Call-ID it is filed under
  };
  // Every dialog the table holds.
  std::unordered_map<SipDialog*, Filed> _dialogs;
  std::deque<std::string> _received;  // "_RECV_" Call-IDs, oldest first
  std::deque<SipDialog*> _retired;    // oldest first
  SipHousekeeper* _housekeeper;
  std::unordered_set<SipConnection*> _connections;  // made here, not ended
  std::vector<IODevice*> _leftovers;  // let go of without a housekeeper
};

}  // namespace MorvaneLib

#endif
