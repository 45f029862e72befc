// InetAddress: IPv4 resolution with the resolver's error texts, printing and URLs.
#include "mosal_posix/InetAddress.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace MorvaneLib {

InetAddress::InetAddress()
    : url(new DataBuf("")), error(new DataBuf("")), errorCode(0) {
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  text[0] = '\0';
}

InetAddress::InetAddress(const char* host, unsigned short port)
    : url(new DataBuf("")), error(new DataBuf("")), errorCode(0) {
  text[0] = '\0';
  if (set(host, port) != 0) {
    LibError e("InetAddress()", "%s", getErrorString());
    delete url;
    delete error;
    throw e;
  }
}

InetAddress::InetAddress(const sockaddr_in& raw)
    : addr(raw), url(new DataBuf("")), error(new DataBuf("")), errorCode(0) {
  text[0] = '\0';
}

InetAddress::InetAddress(const InetAddress& other)
    : Address(), Error(), addr(other.addr), url(new DataBuf("")), error(new DataBuf("")),
      errorCode(0) {
  text[0] = '\0';
}

InetAddress& InetAddress::operator=(const InetAddress& other) {
  addr = other.addr;
  return *this;
}

InetAddress::~InetAddress() {
  delete url;
  delete error;
}

const char* InetAddress::resolverErrorText(int code) {
  switch (code) {
    case HOST_NOT_FOUND:
      return "Host not found";
    case TRY_AGAIN:
      return "Server busy, try again later";
    case NO_RECOVERY:
      return "Unrecoverable dns error";
    case NO_DATA:
      return "Host with no address";
    default:
      return nullptr;
  }
}

void InetAddress::setError(const char* t) { error->xcopy(t, static_cast<unsigned>(std::strlen(t)) + 1); }

char* InetAddress::getErrorString() { return error->getData(); }

int InetAddress::set(const char* host, unsigned short port) {
  std::memset(&addr, 0, sizeof addr);
  if (resolve(host) != 0) return -1;
  addr.sin_port = htons(port);
  return 0;
}

int InetAddress::resolve(const char* host) {
  if (host == nullptr) {
    errorCode = HOST_NOT_FOUND;
    setError(resolverErrorText(errorCode));
    return -1;
  }
  if (std::strcmp(host, "ANY") == 0 || std::strcmp(host, "0.0.0.0") == 0) {
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    return 0;
  }
  // A dotted quad needs no resolver (which would check its configuration
  // files first on every call).
  in_addr literal;
  if (inet_pton(AF_INET, host, &literal) == 1) {
    addr.sin_family = AF_INET;
    addr.sin_addr = literal;
    return 0;
  }
  // The re-entrant form: the fetcher thread and the event loops resolve at once.
  hostent he;
  hostent* result = nullptr;
  int herr = 0;
  std::vector<char> work(2048);
  int rc;
  while ((rc = gethostbyname_r(host, &he, work.data(), work.size(), &result, &herr)) == ERANGE &&
         work.size() < 65536) {
    work.resize(work.size() * 2);
  }
  if (rc != 0 || result == nullptr || result->h_addr_list == nullptr ||
      result->h_addr_list[0] == nullptr || result->h_length != static_cast<int>(sizeof(in_addr))) {
    errorCode = herr != 0 ? herr : HOST_NOT_FOUND;
    const char* t = resolverErrorText(errorCode);
    if (t != nullptr) setError(t);
    return -1;
  }
  addr.sin_family = static_cast<sa_family_t>(result->h_addrtype);
  std::memcpy(&addr.sin_addr, result->h_addr_list[0], sizeof(in_addr));
  return 0;
}

char* InetAddress::toString() {
  if (inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text) == nullptr) text[0] = '\0';
  return text;
}

char* InetAddress::toURL(const char* scheme, const char* prefix, const char* suffix) {
  char port[16];
  std::snprintf(port, sizeof port, "%u", static_cast<unsigned>(getPort()));
  const char* parts[] = {scheme, "://", prefix, toString(), ":", port, suffix};
  // Drop the terminating NUL before appending, put one back at the end.
  if (url->getLength() > 0 && url->getData()[url->getLength() - 1] == '\0') {
    url->setLength(url->getLength() - 1);
  }
  for (const char* p : parts) {
    if (p != nullptr) url->merge(p, static_cast<unsigned>(std::strlen(p)));
  }
  url->merge("", 1);
  return url->getData();
}

}  // namespace MorvaneLib
