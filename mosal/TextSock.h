// Text-message connections: Protocol (the interpreters, names and header table
// of one HTTP-like protocol), the request context handed to its commands, and
// TextSock / HttpLikeSock, a socket with an incoming and an outgoing message
// that exchanges HTTP-like messages on the IOMonitor event loop or by
// blocking calls.
//
// Server mode (2): read a request, run its method in the protocol's server
// interpreter, write the answer the command filled in, read the next request.
// Client mode (1): write the request that doRequest() built, read the answer,
// hand it to the protocol's handleResponse(). The owner may switch the mode
// at any time; every handler reads it afresh.
//
// Message bodies go to EntityConsumers chosen by the message's media type
// (falling back to "<_DEFAULTEC_>") and come from EntityProducers
// ("<_DEFAULTEP_>"). A body with a Content-Length ends after that many bytes;
// one without ends with the stream. The connection borrows consumers and
// producers.
//
// One connection carries any number of messages: bytes that follow a message
// (back-to-back requests, an answer and the next request in one read) are
// kept and parsed as the start of the next message, and the entity modes are
// cleared when the next message begins. A connection in entity mode without
// any consumer (or producer) to call goes to the error state.
//
// Latency: a handler result that leaves the connection with nothing to wait
// for (input done, output done, ready) wakes its monitor, so the next step
// runs in the next pass and never waits for the loop's time-out. A client
// connection whose request is built is best attached in state 4 (writing):
// its socket is writable at once. Work handed to a connection from outside
// its handlers (doRequest() followed by a mode or state change) takes effect
// at once if the owner then calls wake(): the monitor that last ran the
// connection leaves its select().
#ifndef MOSAL_TEXTSOCK_H
#define MOSAL_TEXTSOCK_H

#include "mosal/DataBuf.h"
#include "mosal/Entity.h"
#include "mosal_posix/IODevice.h"

namespace MorvaneLib {

class Interp;
class SharedHash;
class TextMessage;
class HttpLikeMessage;
class Sock;
class InetAddress;
class IOMonitor;
class TextSock;

// The base of a concrete protocol; its constructor fills the fields. Every
// field is owned and deleted with the protocol.
class Protocol {
 public:
  Protocol();
  virtual ~Protocol();
  Protocol(const Protocol&) = delete;
  Protocol& operator=(const Protocol&) = delete;

  // A complete message arrived on a connection in client mode; the result
  // is the connection's next handler result (1 ready, 7 end, ...). Base: 1.
  virtual int handleResponse(void* context);
  // The server interpreter refused a request line (unknown method, wrong
  // argument count); set status and reason in the context. Base: 0.
  virtual int handleBadRequest(char* method, char* arguments, void* context);

  Interp* getServerInterp() { return serverInterp; }
  Interp* getClientInterp() { return clientInterp; }
  // Name and version texts for status lines ("HTTP", "1.0").
  const char* getName();
  const char* getVersion();
  SharedHash* getHeaderDescriptors() { return headers; }

 protected:
  Interp* serverInterp;
  Interp* clientInterp;
  DataBuf* name;
  DataBuf* version;
  SharedHash* headers;
};

// Built on the stack for each dispatch and passed as the void* argument to the
// protocol's commands, handleBadRequest and handleResponse.
struct request_context_t {
  TextMessage* in;     // null while a client request is built
  TextMessage* out;
  int status;          // 0 at the start of a dispatch
  DataBuf* reason;     // the connection's reason buffer; null for a client request
  Protocol* protocol;
  TextSock* sock;
};

class TextSock : public IODevice {
 public:
  enum { MODE_CLIENT = 1, MODE_SERVER = 2 };
  enum { IO_SIZE = 1024, BLOCK_READ = 256, STATUS_LINE_SIZE = 256 };

  // For an existing socket (accepted connections). Null arguments throw
  // LibError("TextSock()", "Invalid IODevice" / "Invalid Input TextMessage" /
  // "Invalid Output TextMessage"). The protocol is set later by the creator.
  // The addresses are taken from the socket when it is an IPv4 socket.
  TextSock(Sock* sock, TextMessage* in, TextMessage* out, bool ownSock, bool ownMessages, int mode);
  // For a connection that connect() opens later. A null protocol throws
  // LibError("TextSock()", "Invalid protocol"); a null message is replaced
  // by one the connection makes (and owns) with the protocol's header table.
  TextSock(Protocol* protocol, TextMessage* in, TextMessage* out, bool ownSock, bool ownMessages,
           int mode);
  ~TextSock() override;

  // Forwarded to the socket (without one: null, nothing, null, nothing, -1...).
  char* getID() override;
  void setID(const char* id) override;
  void* getHandle() override;
  void setHandle(void* handle) override;
  int read(char* buf, unsigned n) override;
  int write(const char* buf, unsigned n) override;
  int close() override;
  int resume() override;

  int doRead(IOMonitor* m) override;
  int doWrite(IOMonitor* m) override;
  int onError(IOMonitor* m) override;
  int onEOF(IOMonitor* m) override;
  int onInputDone(IOMonitor* m) override;
  int onOutputDone(IOMonitor* m) override;
  int onReady(IOMonitor* m) override;
  int onExtendedStatus(IOMonitor* m) override;
  // Client dispatch of a complete answer: the protocol's handleResponse().
  virtual int processResponse(IOMonitor* m);

  // kind 1: TCP to host:port (localPort ignored); kind 2: UDP bound to
  // localPort (if not 0) with host:port as default destination. A host that
  // cannot be resolved throws LibError("InetAddress()", ...) for kind 1; a
  // UDP bind failure throws LibError("InetSock()", ...). 0, or -1 (refused
  // connection, other kinds) with the text in getErrorString(). The socket
  // made here belongs to the connection; an owned earlier one is deleted.
  int connect(int kind, const char* host, unsigned short port, unsigned short localPort);
  // Builds the outgoing request from a client-interpreter line and queues
  // it for writing. 0; -1 when the interpreter refuses the line or the wire
  // form cannot be built; 6 without a socket.
  int doRequest(const char* line);
  // After doRequest on a fresh connection, before it is attached: writes
  // the request at once instead of in the loop's next pass (the peer, just
  // woken by the connection, often reads it before it sleeps again). The
  // state to attach the connection in: STATE_OUTPUT_DONE when everything
  // went, else STATE_WRITING (the loop writes the rest, or meets the error).
  int writeNow();
  // Server dispatch of the complete incoming request; builds the answer; 3.
  int _server_action();

  // Blocking use. sendText: the outgoing wire form, all of it; bytes or -1.
  int sendText();
  // Reads until the incoming message is complete (0) or the peer closed (0,
  // isCompleted() tells); -1 on a read error, a parse failure gives its code.
  int recvText();
  // The incoming entity to c: what came with the header first, then reads
  // until the entity's length, the end of stream, or c refuses. Bytes read
  // from the socket, or -1 (read error, no socket, no consumer).
  int recvEntity(EntityConsumer* c);
  // Chunks from p until it has nothing more (0 or -1), each written whole.
  // Bytes written, or -1 on a write error or without a socket.
  int sendEntity(EntityProducer* p);

  // Makes the monitor that last ran this connection leave select() at once,
  // so a state or mode change from outside a handler is served in this pass.
  void wake();

  // Registers a consumer or producer under a media type ("<_DEFAULTEC_>",
  // "<_DEFAULTEP_>" for the fallbacks); borrowed. put result (0, 10, -1).
  int addConsumer(const char* mediaType, EntityConsumer* c);
  int addProducer(const char* mediaType, EntityProducer* p);
  SharedHash* getConsumers() { return consumers; }
  SharedHash* getProducers() { return producers; }

  Sock* getSock() { return sock; }
  InetAddress* getLocalAddress() { return localAddress; }
  InetAddress* getRemoteAddress() { return remoteAddress; }
  // Borrowed (normally the socket's own address objects).
  void setLocalAddress(InetAddress* a) { localAddress = a; }
  void setRemoteAddress(InetAddress* a) { remoteAddress = a; }
  TextMessage* getIncoming() { return in; }
  TextMessage* getOutgoing() { return out; }
  Protocol* getProtocol() { return protocol; }
  void setProtocol(Protocol* p) { protocol = p; }
  DataBuf* getReason() { return reason; }
  int getMode() const { return mode; }
  void setMode(int m) { mode = m; }
  void* getOwner() { return owner; }
  void setOwner(void* o) { owner = o; }
  bool isEntityInput() const { return entityIn; }
  bool isEntityOutput() const { return entityOut; }
  bool isEOF() const { return eof; }
  // Bytes received after the last complete message, waiting to be parsed.
  unsigned getPendingBytes() const { return pending->getLength(); }

  char* getErrorString() override;

 protected:
  // Called once the incoming message's header section is complete (event
  // loop and blocking use), before its entity rules are read. Base: nothing.
  virtual void _headersComplete() {}
  // For subclasses that make their own messages.
  TextSock(Protocol* protocol, int mode);
  // The rest of the protocol constructors (messages made when null).
  void _protocolForm(TextMessage* in, TextMessage* out, bool ownSock, bool ownMessages, bool httpLike);
  void _beginInput();
  void _beginOutput();
  int _input(char* data, unsigned n);
  int _feedPending();
  int _entityStep(char* data, unsigned n, bool atEof);
  void _deliver(EntityConsumer* c, char* data, unsigned n);
  EntityConsumer* _findConsumer();
  EntityProducer* _findProducer();
  int _setOutput();
  void _note(IOMonitor* m);
  int _after(IOMonitor* m, int result);
  int _doRead(IOMonitor* m);
  int _doWrite(IOMonitor* m);
  int _onReady(IOMonitor* m);
  int _onInputDone(IOMonitor* m);
  int _onOutputDone(IOMonitor* m);
  void _copySockError();

  Sock* sock;
  InetAddress* localAddress;
  InetAddress* remoteAddress;
  TextMessage* in;
  TextMessage* out;
  Protocol* protocol;
  DataBuf* reason;
  bool ownSock;
  bool ownMessages;
  bool entityIn;
  bool entityOut;
  bool eof;
  int mode;
  DataBuf* outBuf;  // the outgoing message's wire form (owned by the message)
  char iobuf[IO_SIZE];
  int outOffset;
  int outRemaining;
  int residueDelivered;
  SharedHash* consumers;
  SharedHash* producers;
  void* owner;

  // Message boundaries and bookkeeping of this implementation.
  bool madeIn;           // the connection made (and owns) the incoming message
  bool madeOut;
  bool entityDone;       // the entity of the incoming message is complete
  bool entityRefused;    // its consumer wants no more
  bool entityDiscard;    // a body nobody asked for (length but no type)
  long long entityLeft;  // bytes of the entity still to come; -1 until the end
  DataBuf* pending;      // bytes after the last complete message
  DataBuf* scratch;
  bool pendingFirst;     // parse the pending bytes before reading more
  int chunkOffset;       // entity output: the produced chunk in iobuf
  int chunkRemaining;
  IOMonitor* monitor;    // the monitor that last ran a handler
};

// The same connection for HttpLikeMessages (the messages it makes itself are
// HttpLikeMessages, so their entity rules apply).
class HttpLikeSock : public TextSock {
 public:
  HttpLikeSock(Sock* sock, HttpLikeMessage* in, HttpLikeMessage* out, bool ownSock,
               bool ownMessages, int mode);
  HttpLikeSock(Protocol* protocol, HttpLikeMessage* in, HttpLikeMessage* out, bool ownSock,
               bool ownMessages, int mode);
};

}  // namespace MorvaneLib

#endif
