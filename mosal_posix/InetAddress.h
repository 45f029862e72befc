// Address, the abstract socket address, and InetAddress, an IPv4 address and
// port with name resolution.
//
// "ANY" and "0.0.0.0" give the wildcard address without a lookup; every other
// text goes to the resolver (dotted quads included). Resolution uses the
// re-entrant resolver, so addresses may be made on any thread.
#ifndef MOSAL_POSIX_INETADDRESS_H
#define MOSAL_POSIX_INETADDRESS_H

#include <netinet/in.h>
#include <sys/socket.h>

#include "mosal/DataBuf.h"
#include "mosal/Error.h"

namespace MorvaneLib {

class Address {
 public:
  // The raw socket address (points into the object).
  virtual sockaddr* get() = 0;
  virtual unsigned getSize() = 0;
  // Printable form of the address; the text belongs to the object.
  virtual char* toString() = 0;
  virtual ~Address() = default;
};

class InetAddress : public Address, public Error {
 public:
  enum { TEXT_SIZE = 50 };

  // The wildcard address with port 0; no lookup.
  InetAddress();
  // Resolves `host`; a failure throws LibError("InetAddress()", <error text>).
  InetAddress(const char* host, unsigned short port);
  // From a raw IPv4 socket address (as returned by accept or getsockname).
  explicit InetAddress(const sockaddr_in& raw);
  // Copies the address and port (not the URL text or the last error).
  InetAddress(const InetAddress& other);
  InetAddress& operator=(const InetAddress& other);
  ~InetAddress() override;

  sockaddr* get() override { return reinterpret_cast<sockaddr*>(&addr); }
  unsigned getSize() override { return sizeof(sockaddr_in); }  // 16
  // Dotted quad, no port; valid until the next call.
  char* toString() override;

  // Zeroes the address, resolves `host`, stores `port`; 0 or -1.
  int set(const char* host, unsigned short port);
  // Takes a raw IPv4 socket address as it stands.
  void set(const sockaddr_in& raw) { addr = raw; }
  // Resolves `host` into the address part (the port is left alone); 0 or -1
  // with the resolver's code in getErrorCode() and its text in getErrorString().
  int resolve(const char* host);

  // Appends scheme "://" prefix address ":" port suffix to the URL buffer
  // (every call appends) and returns the buffer's text.
  char* toURL(const char* scheme, const char* prefix, const char* suffix);

  unsigned short getPort() const { return ntohs(addr.sin_port); }
  void setPort(unsigned short port) { addr.sin_port = htons(port); }
  const sockaddr_in& getRaw() const { return addr; }
  bool isWildcard() const { return addr.sin_addr.s_addr == htonl(INADDR_ANY); }

  char* getErrorString() override;
  int getErrorCode() override { return errorCode; }

  // The text that goes with a resolver code (1-4), or null for other codes.
  static const char* resolverErrorText(int code);

 private:
  void setError(const char* text);

  sockaddr_in addr;
  char text[TEXT_SIZE];
  DataBuf* url;
  DataBuf* error;
  int errorCode;
};

}  // namespace MorvaneLib

#endif
