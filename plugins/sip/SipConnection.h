// SipConnection: a connection of a "SipController" block (an HttpLikeSock
// over a stream or a datagram socket) that frames SIP messages soundly and
// tells the block when it ends.
//
// Messages. A message that carries a body (Content-Length, as ordinary SIP
// clients send a session description) has the body read and dropped, of any
// media type and any size; bytes behind it start the next message (the
// connection underneath keeps message boundaries). Without Content-Length a
// message has no body. On a datagram socket each datagram is one message,
// read whole: an incomplete or unreadable datagram is dropped and the
// socket keeps reading.
//
// Dispatch. A message whose start line begins with "SIP/" (in any case) is
// a response and goes to the protocol's handleResponse; any other is a
// request and goes to the server interpreter, which builds the answer. The
// mode (1 client, 2 server) decides, as in every TextSock, whether the
// connection writes a request first or reads first; a request that comes
// while an answer is awaited is answered all the same.
//
// Requests. The session commands hand their requests to request(): a
// connection that is still busy with an answer (being built or written)
// sends the request right after that answer, so an answer is never lost to
// a request that a quick application sends in between.
//
// A session that is destroyed ends its connection, but an answer already on
// its way out (the 200 to the peer's BYE, say) is written first.
//
// End. When the connection ends (end of stream, error, or a handler's
// end-of-file result) it queues its removal, as every TextSock does, and
// hands itself to the block's state (SipBlockState::connectionEnded), which
// takes it out of every dialog and deletes it once the loop lets go of it.
// The block's shared datagram socket never ends because of a peer: read and
// write failures and final responses only drop the message at hand.
//
// Threads: the block's thread only.
#ifndef MRB_SIPCONNECTION_H
#define MRB_SIPCONNECTION_H

#include <string>
#include <vector>

#include "mosal/TextMessage.h"
#include "mosal/TextSock.h"
#include "mosal_posix/InetAddress.h"

namespace MorvaneLib {

class Block;

// The messages of SIP connections: HTTP-like, but only a Content-Length
// announces a body.
class SipMessage : public HttpLikeMessage {
 public:
  template <class P>
  SipMessage(P* protocol, unsigned buckets, unsigned startSize, unsigned entitySize,
             unsigned lineSize)
      : HttpLikeMessage(protocol, buckets, startSize, entitySize, lineSize) {}
  // True when Content-Length is above 0.
  bool isEntityPresent() override { return getEntitySize() > 0; }
};

class SipConnection : public HttpLikeSock {
 public:
  enum { DATAGRAM_MAX = 65536 };

  // For a connection that connect() opens (own socket, own messages).
  // Throws LibError("TextSock()", ...) as TextSock does.
  SipConnection(Protocol* protocol, SipMessage* in, SipMessage* out, int mode);
  // For an accepted stream: takes the socket and the messages.
  SipConnection(Sock* accepted, SipMessage* in, SipMessage* out, int mode);
  ~SipConnection() override;

  // The block the connection belongs to (its owner slot).
  Block* getBlock() { return static_cast<Block*>(getOwner()); }
  void setBlock(Block* block) { setOwner(block); }
  // True for the block's shared datagram server socket ("_ts").
  bool isServerSocket() const { return _serverSocket; }
  void setServerSocket(bool on) { _serverSocket = on; }
  bool isDatagram();

  // The peer's address text and port ("" and 0 when unknown).
  void peerText(char* buf, unsigned size, int* port);
  // The peer's address (the last sender on a datagram socket), or null.
  InetAddress* getPeerAddress() { return getRemoteAddress(); }
  // Datagram sockets: where the next datagram goes.
  void setPeerAddress(const InetAddress& peer);

  // Builds the request from a mid-level line and sends it, now or after
  // the answer in progress; the connection then waits for the response
  // (client mode). peer: for a datagram socket, where the request goes
  // (null: the last sender). 0; -1 when the line is refused (only when it
  // is built at once); 6 without a socket.
  int request(const char* line, const InetAddress* peer);
  bool hasQueuedRequest() const { return _queued; }
  // Ends the connection (end-of-file state, so that the loop ends it); an
  // answer still being written goes out first. For the session that owned
  // the connection, when it is destroyed.
  void finish();
  // Given up by the block (the server socket a reset replaced): from now on
  // it serves nothing and tells nobody of its end.
  void retire() { _gone = true; }

  int doRead(IOMonitor* m) override;
  int doWrite(IOMonitor* m) override;
  int onReady(IOMonitor* m) override;
  int onOutputDone(IOMonitor* m) override;
  int onInputDone(IOMonitor* m) override;
  int processResponse(IOMonitor* m) override;
  int onError(IOMonitor* m) override;
  int onEOF(IOMonitor* m) override;

 private:
  void _ended();
  bool _busy();
  int _issue(const char* line, const InetAddress* peer);
  // The queued request, built now: 3 (write it), or 0 when there is none
  // or it was refused.
  int _issueQueued();
  void _pushHeld();

  std::vector<char> _datagram;
  std::string _queuedLine;
  InetAddress _queuedPeer;
  bool _queuedHasPeer = false;
  bool _queued = false;
  bool _finishing = false;
  bool _held = false;  // bytes written with "more follows", not yet sent
  bool _serverSocket;
  bool _gone;
};

}  // namespace MorvaneLib

#endif
