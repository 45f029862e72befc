// SipDialog: the state of one session (one call, named by its Call-ID): a
// table of string keys (ports, addresses, headers) and the connection the
// session's requests travel on.
//
// A dialog is also the parameter table that the block's event messages lend
// to the application (word 9): the application reads its keys, the block
// owns it.
#ifndef MRB_SIPDIALOG_H
#define MRB_SIPDIALOG_H

#include "mosal/ConfigTable.h"
#include "mosal_posix/InetAddress.h"

namespace MorvaneLib {

class HttpLikeSock;

class SipDialog : public ConfigTable {
 public:
  enum { BUCKETS = 128 };

  // The keys a dialog is made with, in order ("Call-ID" first); null-ended.
  static const char* const KEYS[];

  // Makes every key of KEYS: "Call-ID" holds callId (null: empty), the
  // others the empty text. Throws LibError from the table when memory runs
  // out.
  explicit SipDialog(const char* callId);
  // When the dialog still has a connection, ends it: the connection goes
  // into the end-of-file state, so that the event loop ends it, once an
  // answer it is still writing is out. Whoever must keep the connection
  // alive takes it away first (setConnection(nullptr)). Then the table goes.
  ~SipDialog() override;

  // The session's connection: borrowed (the event loop serves it), null
  // until "Invite" or an incoming INVITE gives it one.
  HttpLikeSock* getConnection() const { return connection; }
  void setConnection(HttpLikeSock* c) { connection = c; }

  // The peer the session's requests go to when its connection is the
  // block's shared datagram socket (which answers whoever sent last): the
  // sender of the incoming INVITE. Null until known; the address is the
  // dialog's.
  const InetAddress* getPeer() const { return hasPeer ? &peer : nullptr; }
  void setPeer(const InetAddress* address);

  // The text of a key, or "" when it is absent or not a string. The text
  // belongs to the table and is valid until the key is set again.
  const char* text(const char* key);
  // Sets a string key (created when missing); 0 or -1. A null value is "".
  int set(const char* key, const char* value);

 private:
  HttpLikeSock* connection;
  InetAddress peer;
  bool hasPeer;
};

}  // namespace MorvaneLib

#endif
