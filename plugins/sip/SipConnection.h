// SipConnection: a connection of a "SipController" block (an HttpLikeSock
// over a stream or a datagram socket) that frames SIP messages soundly and
// tells the block when it ends.
//
// Framing. A message ends at its empty line; when it carries a body
// (Content-Length, as ordinary SIP clients send a session description) the
// body is read and dropped, whatever its size, and the bytes behind it
// start the next message, so one stream may carry messages back to back.
// On a datagram socket each datagram is one message: an incomplete or
// unreadable datagram is dropped and the socket keeps reading.
//
// Dispatch. A message whose start line begins with "SIP/" (in any case) is
// a response and goes to the protocol's handleResponse; any other is a
// request and goes to the server interpreter, which builds the answer.
// The mode (1 client, 2 server) decides, as in every TextSock, whether the
// connection writes a request first or reads first.
//
// Latency. Work that needs no readiness (dispatching a message that has
// arrived, reading on after an answer went out) is done in the same
// handler call instead of in a later pass of the loop, so no step of a call
// waits for the loop's select() time-out.
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

#include "mosal/TextSock.h"
#include "mosal_posix/InetAddress.h"

namespace MorvaneLib {

class Block;

class SipConnection : public HttpLikeSock {
 public:
  enum { MODE_CLIENT = 1, MODE_SERVER = 2 };
  enum { STREAM_READ = 4096, DATAGRAM_MAX = 65536 };

  // For a connection that connect() opens (own socket, own messages).
  // Throws LibError("TextSock()", ...) as TextSock does.
  SipConnection(Protocol* protocol, HttpLikeMessage* in, HttpLikeMessage* out, int mode);
  // For an accepted stream: takes the socket and the messages.
  SipConnection(Sock* accepted, HttpLikeMessage* in, HttpLikeMessage* out, int mode);
  ~SipConnection() override;

  // The block the connection belongs to (its owner slot).
  Block* getBlock();
  void setBlock(Block* block);
  // True for the block's shared datagram server socket ("_ts").
  bool isServerSocket() const { return _serverSocket; }
  void setServerSocket(bool on) { _serverSocket = on; }
  bool isDatagram();

  // The peer's address text and port ("" and 0 when unknown).
  void peerText(char* buf, unsigned size, int* port);
  // The peer's address (the last sender on a datagram socket), or null.
  InetAddress* getPeerAddress();
  // Datagram sockets: where the next request goes.
  void setPeerAddress(const InetAddress& peer);

  // doRequest, forgetting whatever input was pending: the connection now
  // waits for the answer to this request. 0, -1 (line refused) or 6.
  int request(const char* line);

  int doRead(IOMonitor* m) override;
  int doWrite(IOMonitor* m) override;
  int onReady(IOMonitor* m) override;
  int onInputDone(IOMonitor* m) override;
  int onOutputDone(IOMonitor* m) override;
  int onError(IOMonitor* m) override;
  int onEOF(IOMonitor* m) override;

 private:
  int _readStream(IOMonitor* m);
  int _readDatagram(IOMonitor* m);
  // The incoming message is complete: frames its body. True when the body
  // is all here (the message can be dispatched).
  bool _frame();
  // Dispatches complete messages: the handler result for the loop.
  int _serve(IOMonitor* m);
  // Starts the next message from the bytes left over.
  void _next();
  void _forgetInput();
  void _ended();

  std::vector<char> _buffer;
  std::string _carry;      // bytes read behind a body, for the next message
  unsigned _bodyLeft;      // body bytes still to be read and dropped
  unsigned _bodyInResidue; // body bytes of the current message in its residue
  bool _ready;             // a complete, framed message waits
  bool _answering;         // the output being written is an answer
  bool _serverSocket;
  bool _gone;
};

}  // namespace MorvaneLib

#endif
