// HttpLikeServerSock: the listening TCP socket of a "SipController" block
// whose "Transport" is "TCP". Each time the block's loop finds it readable
// it accepts one connection and makes it a server-mode SipConnection that
// carries the SIP protocol and the block, so that the requests on it reach
// the request handlers.
//
// A failed accept (descriptors exhausted, a peer that reset its connection
// before it was taken) or a connection that cannot be made loses only that
// connection: the socket keeps listening. Runs on the block's thread.
#ifndef MRB_HTTPLIKESERVERSOCK_H
#define MRB_HTTPLIKESERVERSOCK_H

#include "mosal_posix/InetAddress.h"
#include "mosal_posix/Sock.h"

namespace MorvaneLib {

class Block;
class Protocol;
class SipProtocol;

class HttpLikeServerSock : public TCPServerSock {
 public:
  // Listens on `local` with the backlog; throws LibError("InetSock()", ...)
  // or LibError("TCPServerSock()", ...) as TCPServerSock does.
  HttpLikeServerSock(InetAddress& local, int backlog);
  ~HttpLikeServerSock() override;

  // The protocol its connections carry and the block they belong to; both
  // borrowed.
  void setProtocol(SipProtocol* p) { protocol = p; }
  SipProtocol* getProtocol() const { return protocol; }
  void setBlock(Block* b) { block = b; }
  Block* getBlock() const { return block; }

  // Accepts one connection and attaches it to `monitor`: 2 (keep
  // listening), also when the accept or the connection failed.
  int doRead(IOMonitor* monitor) override;
  int doWrite(IOMonitor* monitor) override;
  // 6, without queueing a removal and without ending the process.
  int onError(IOMonitor* monitor) override;
  int onEOF(IOMonitor* monitor) override;
  int onInputDone(IOMonitor* monitor) override;
  int onOutputDone(IOMonitor* monitor) override;
  // 2: listen.
  int onReady(IOMonitor* monitor) override;
  int onExtendedStatus(IOMonitor* monitor) override;

 private:
  SipProtocol* protocol;
  Block* block;
};

}  // namespace MorvaneLib

#endif
