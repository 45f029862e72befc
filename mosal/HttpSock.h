// The HTTP/1.0 client built on the text-message engine: HttpSockFactory (the
// HTTP protocol: header table, the "GET" request command), HttpSock (a client
// connection with a blocking GET) and HttpGet (the command that writes the
// request line).
#ifndef MOSAL_HTTPSOCK_H
#define MOSAL_HTTPSOCK_H

#include "mosal/Interp.h"
#include "mosal/TextMessage.h"
#include "mosal/TextSock.h"

namespace MorvaneLib {

class URL;
class HttpSock;

// Interpreters Interp(256, 256, 2048), name "HTTP", version "1.0", a header
// table of Content-Length, Content-Type, Content-Encoding (entity) and Host,
// Server, Date, Connection, Cache-Control, Pragma (general); the client
// interpreter knows "GET" (1 to 10 arguments).
//
// HTTP header names are not case-sensitive, and servers differ ("Content-type"
// is common): the table also names each header in lower case and with only
// its first letter capital, and an answer's header under such a name is
// filed under the name above as well.
class HttpSockFactory : public Protocol {
 public:
  HttpSockFactory();
  // A new client connection (the caller's) with two new messages, owning its
  // socket and messages.
  HttpSock* createClient();
};

class HttpSock : public HttpLikeSock {
 public:
  HttpSock(HttpSockFactory* factory, HttpMessage* in, HttpMessage* out, bool ownSock,
           bool ownMessages, int mode);

  // Blocking GET of `url` (port 80 when it has none): the answer's entity
  // goes to the consumer registered for its media type (or the default
  // one). 0, or -1 when a step fails (also an answer that is cut short).
  int doGet(const char* url);
  int doGet(URL* url);

  HttpSockFactory* getFactory() { return factory; }

 protected:
  void _headersComplete() override;

 private:
  HttpSockFactory* factory;
};

// "GET" request builder. Arguments: request target, protocol text, optional
// host. Writes "<name> <target> <protocol>" into the outgoing start line of
// the request context and sets "Host".
class HttpGet : public Command {
 public:
  HttpGet();
  int perform(Params* params, void* context) override;
};

}  // namespace MorvaneLib

#endif
