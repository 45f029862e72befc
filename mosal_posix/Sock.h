// BSD sockets as event-loop devices: Sock (a descriptor with its creation
// triple), InetSock (bound to a local IPv4 address, multicast options),
// TCPSock (a connected stream), TCPServerSock (listens, accepts and attaches
// connections to the loop) and UDPSock (datagrams, gather/scatter, last sender).
//
// Sockets are not locked: one thread uses a socket at a time (the event loop's,
// or the thread of a blocking exchange). Stream writes never raise SIGPIPE: a
// peer that went away gives -1 with the system's text. Connected and accepted
// stream sockets have TCP_NODELAY set, so small messages leave at once.
#ifndef MOSAL_POSIX_SOCK_H
#define MOSAL_POSIX_SOCK_H

#include "mosal/DataBuf.h"
#include "mosal_posix/IODevice.h"
#include "mosal_posix/InetAddress.h"

namespace MorvaneLib {

class IOMonitor;

// A time limit for a blocking read, and whether it ran out.
struct time_info_t {
  int sec;
  int usec;
  bool timedOut;
};

class Sock : public IODevice {
 public:
  // socket(); a failure throws LibError("Sock()", strerror(errno)).
  Sock(int domain, int type, int protocol);
  // Adopts an open descriptor: domain from getsockname, type from SO_TYPE,
  // protocol 0; a failure throws LibError("Sock()", ...) and leaves fd open.
  explicit Sock(int fd);
  // Closes the descriptor.
  ~Sock() override;

  // "S<descriptor>", rewritten on every call.
  char* getID() override;
  void setID(const char* id) override;
  // Points to the descriptor.
  void* getHandle() override { return &fd; }
  void setHandle(void* handle) override;

  int read(char* buf, unsigned n) override;
  int write(const char* buf, unsigned n) override;
  // Closes the descriptor if open; 0.
  int close() override;
  // Closed: a new socket with the stored triple (0, or -1 with the error
  // text). Still open: -1, nothing changes.
  int resume() override;

  // Waits at most t's time for readability, then reads; a time-out sets
  // t->timedOut, the text "Timeout" and returns -1; 0 means end of file.
  int read(char* buf, unsigned n, time_info_t* t);
  // Writes; the time limit is not applied.
  int write(const char* buf, unsigned n, time_info_t* t);
  int setNonBlocking();

  int getDescriptor() const { return fd; }
  int getDomain() const { return domain; }
  int getType() const { return type; }
  int getProtocol() const { return protocol; }

 protected:
  int fd;
  int domain;
  int type;
  int protocol;
};

class InetSock : public Sock {
 public:
  // A new socket of the triple with the wildcard local address, port 0.
  InetSock(int domain, int type, int protocol);
  // Adopts fd; the local address from getsockname; a failure throws
  // LibError("InetSock()", strerror(errno)).
  explicit InetSock(int fd);
  ~InetSock() override;

  // Closes, re-creates the socket with the stored triple and binds it to the
  // stored local address; 0, or -1 with the error text.
  int resume() override;
  // Binds to `local` (copied into the local address), then reads the address
  // the system gave back (a port of 0 becomes the chosen port); 0 or -1.
  int bind(InetAddress& local);
  // Reads the local address back from the system; 0 or -1.
  int updateLocalAddress();

  // Multicast (AF_INET only, else -1). A null interface means the wildcard,
  // otherwise the address of the named interface (name cut to 16 bytes).
  int joinMulticastGroup(InetAddress& group, const char* interfaceName);
  int leaveMulticastGroup(InetAddress& group, const char* interfaceName);
  int setMulticastLoop(int on);
  int getMulticastLoop();
  int setMulticastTTL(int ttl);
  int getMulticastTTL();
  // Not provided: "Unimplemented method" and -1 (null for the name).
  int setMulticastInterface(const char* name);
  int setMulticastInterface(int index);
  int getMulticastInterface();
  char* getMulticastInterfaceName();
  int getPathMTU();
  int setPathMTUDiscovery(int on);

  // Owned by the socket.
  InetAddress* getLocalAddress() { return local; }

 protected:
  int membership(int option, InetAddress& group, const char* interfaceName);

  InetAddress* local;
};

class TCPSock : public InetSock {
 public:
  // An unconnected stream socket with empty addresses and connection name.
  TCPSock();
  // Adopts a connected descriptor (accept): the remote address from
  // getpeername; a failure throws LibError("TCPSock()", strerror(errno)).
  explicit TCPSock(int fd);
  ~TCPSock() override;

  // 0 once connected (the remote address read back). On failure: the error
  // text, the socket re-created so the object can try again, -1.
  int connect(InetAddress& to);

  int read(char* buf, unsigned n) override;
  int write(const char* buf, unsigned n) override;
  using Sock::read;
  using Sock::write;
  // Reads until n bytes arrived; at end of stream sets *eof (if given) and
  // returns what arrived so far; -1 on failure.
  int readAll(char* buf, unsigned n, bool* eof);
  // Writes all n bytes; n or -1.
  int writeAll(const char* buf, unsigned n);

  int doRead(IOMonitor* m) override;
  int doWrite(IOMonitor* m) override;
  int onError(IOMonitor* m) override;
  int onEOF(IOMonitor* m) override;
  int onInputDone(IOMonitor* m) override;
  int onOutputDone(IOMonitor* m) override;
  int onReady(IOMonitor* m) override;
  int onExtendedStatus(IOMonitor* m) override;

  // With `on`, writes tell the system that more data follows at once
  // (MSG_MORE): it holds them back, so two messages written back to back
  // reach the peer in one segment and wake it once. The next write without
  // it (or push()) sends everything held.
  void setMoreFollows(bool on) { moreFollows = on; }
  // Sends whatever is held back now. 0, or -1 with the error text.
  int push();

  // Owned by the socket.
  InetAddress* getRemoteAddress() { return remote; }
  // "[fd,local:port,remote:port]" for accepted connections, else empty.
  char* getConnectionName() { return name->getData(); }
  void setConnectionName(const char* text);

 protected:
  InetAddress* remote;
  DataBuf* name;
  bool moreFollows = false;
};

class TCPServerSock : public InetSock {
 public:
  // Listens on all interfaces at `port` (0: the system chooses; the local
  // address then holds the chosen port). bind failure throws
  // LibError("InetSock()", ...), listen failure LibError("TCPServerSock()", ...).
  TCPServerSock(unsigned short port, int backlog);
  TCPServerSock(InetAddress& local, int backlog);

  // A new connected socket (the caller's), or null with the error text.
  TCPSock* accept();
  int resume(int backlog);
  using InetSock::resume;

  // Accepts one connection, names it, attaches it to m in state 3 (reading)
  // and stays listening (2); a failed accept gives 6. The accepted socket
  // belongs to the monitor's owner from then on.
  int doRead(IOMonitor* m) override;
  int doWrite(IOMonitor* m) override;
  // Ends the process (status 1): a plain listening socket cannot go on.
  int onError(IOMonitor* m) override;
  int onEOF(IOMonitor* m) override;
  int onInputDone(IOMonitor* m) override;
  int onOutputDone(IOMonitor* m) override;
  int onReady(IOMonitor* m) override;
  int onExtendedStatus(IOMonitor* m) override;

 private:
  void listenOn(int backlog);
};

class UDPSock : public InetSock {
 public:
  // An unbound datagram socket.
  UDPSock();
  // Bound to `port` on all interfaces when port is not 0; a bind failure
  // throws LibError("InetSock()", strerror(errno)).
  explicit UDPSock(unsigned short port);
  // Bound to `local` (port 0: the system chooses); throws as above.
  explicit UDPSock(InetAddress& local);
  ~UDPSock() override;

  // One datagram to `to`, or to the remote address if null; -1 on failure.
  int send(const char* buf, unsigned n, InetAddress* to);
  // One datagram; the sender goes into `from` (if given) and always into the
  // remote address, so that write() answers the last sender; -1 on failure.
  int recv(char* buf, unsigned n, InetAddress* from);
  // One datagram gathered from the used bytes of `count` buffers.
  int send(DataBuf** bufs, int count, InetAddress* to);
  // One datagram scattered over the buffers, each up to its size; each
  // buffer that received bytes gets its length set to them, the buffers after
  // the last byte keep their length. Bytes beyond the buffers are lost.
  int recv(DataBuf** bufs, int count, InetAddress* from);

  int read(char* buf, unsigned n) override { return recv(buf, n, nullptr); }
  int write(const char* buf, unsigned n) override { return send(buf, n, nullptr); }
  using Sock::read;
  using Sock::write;

  int doRead(IOMonitor* m) override;
  int doWrite(IOMonitor* m) override;
  int onError(IOMonitor* m) override;
  int onEOF(IOMonitor* m) override;
  int onInputDone(IOMonitor* m) override;
  int onOutputDone(IOMonitor* m) override;
  int onReady(IOMonitor* m) override;
  int onExtendedStatus(IOMonitor* m) override;

  // The default destination and last sender (owned).
  InetAddress* getRemoteAddress() { return remote; }
  // Sets the default destination (copied).
  void setRemoteAddress(InetAddress& to) { *remote = to; }

 protected:
  int sendIov(struct iovec* iov, int count, InetAddress* to);
  int recvIov(struct iovec* iov, int count, InetAddress* from);

  InetAddress* remote;
  DataBuf* name;
};

}  // namespace MorvaneLib

#endif
