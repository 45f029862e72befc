// Sock, InetSock, TCPSock, TCPServerSock, UDPSock: descriptors, binding,
// multicast options, connect with retry, accept into the event loop, datagrams.
#include "mosal_posix/Sock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "mosal/Trace.h"
#include "mosal_posix/IOMonitor.h"
#include "mosal_posix/System.h"

namespace MorvaneLib {

namespace {

void setNoDelay(int fd) {
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Queues the device's removal from the monitor at the end of the pass.
void queueRemoval(IOMonitor* m, IODevice* d) {
  if (m == nullptr) return;
  char* id = d->getID();
  if (id != nullptr) m->removeDevice(id);
}

}  // namespace

// ---------------------------------------------------------------- Sock

Sock::Sock(int d, int t, int p) : fd(-1), domain(d), type(t), protocol(p) {
  fd = ::socket(d, t, p);
  if (fd < 0) throw LibError("Sock()", "%s", std::strerror(errno));
  setHandleType(1);
}

Sock::Sock(int desc) : fd(-1), domain(0), type(0), protocol(0) {
  sockaddr_storage ss;
  socklen_t len = sizeof ss;
  if (::getsockname(desc, reinterpret_cast<sockaddr*>(&ss), &len) != 0) {
    throw LibError("Sock()", "%s", std::strerror(errno));
  }
  int t = 0;
  socklen_t tlen = sizeof t;
  if (::getsockopt(desc, SOL_SOCKET, SO_TYPE, &t, &tlen) != 0) {
    throw LibError("Sock()", "%s", std::strerror(errno));
  }
  fd = desc;
  domain = ss.ss_family;
  type = t;
  setHandleType(1);
}

Sock::~Sock() { close(); }


char* Sock::getID() {
  char id[16];
  std::snprintf(id, sizeof id, "S%d", fd);
  _id->xcopy(id, static_cast<unsigned>(std::strlen(id)) + 1);
  return _id->getData();
}

void Sock::setID(const char* id) {
  if (id != nullptr) _id->xcopy(id, static_cast<unsigned>(std::strlen(id)) + 1);
}

void Sock::setHandle(void* handle) {
  if (handle != nullptr) fd = *static_cast<int*>(handle);
}

int Sock::read(char* buf, unsigned n) {
  ssize_t r;
  while ((r = ::read(fd, buf, n)) < 0 && errno == EINTR) {
  }
  return static_cast<int>(r);
}

int Sock::write(const char* buf, unsigned n) {
  ssize_t r;
  while ((r = ::write(fd, buf, n)) < 0 && errno == EINTR) {
  }
  return static_cast<int>(r);
}

int Sock::close() {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
  return 0;
}

int Sock::resume() {
  if (fd >= 0) return -1;
  fd = ::socket(domain, type, protocol);
  if (fd < 0) {
    setErrorFromErrno();
    return -1;
  }
  return 0;
}

int Sock::read(char* buf, unsigned n, time_info_t* t) {
  if (t != nullptr) t->timedOut = false;
  if (fd < 0 || fd >= FD_SETSIZE) {
    setErrorText(fd < 0 ? "Bad file descriptor" : "Descriptor out of range");
    return -1;
  }
  for (;;) {
    fd_set rs;
    FD_ZERO(&rs);
    FD_SET(fd, &rs);
    timeval tv;
    timeval* tp = nullptr;
    if (t != nullptr) {
      tv.tv_sec = t->sec;
      tv.tv_usec = t->usec;
      tp = &tv;
    }
    int r = ::select(fd + 1, &rs, nullptr, nullptr, tp);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      setErrorFromErrno();
      return -1;
    }
    if (r == 0) {
      if (t != nullptr) t->timedOut = true;
      setErrorText("Timeout");
      return -1;
    }
    break;
  }
  int got = read(buf, n);
  if (got < 0) {
    setErrorFromErrno();
    return -1;
  }
  if (got == 0) setErrorText("End of file");
  return got;
}

int Sock::write(const char* buf, unsigned n, time_info_t*) { return write(buf, n); }

int Sock::setNonBlocking() {
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    setErrorFromErrno();
    return -1;
  }
  return 0;
}

// ---------------------------------------------------------------- InetSock

InetSock::InetSock(int d, int t, int p) : Sock(d, t, p), local(new InetAddress()) {}

InetSock::InetSock(int desc) : Sock(desc), local(nullptr) {
  sockaddr_in sa;
  socklen_t len = sizeof sa;
  std::memset(&sa, 0, sizeof sa);
  if (::getsockname(desc, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    LibError e("InetSock()", "%s", std::strerror(errno));
    fd = -1;  // the caller still owns the descriptor
    throw e;
  }
  local = new InetAddress(sa);
}

InetSock::~InetSock() { delete local; }

int InetSock::updateLocalAddress() {
  sockaddr_in sa;
  socklen_t len = sizeof sa;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    setErrorFromErrno();
    return -1;
  }
  local->set(sa);
  return 0;
}

int InetSock::bind(InetAddress& to) {
  if (type == SOCK_STREAM) {
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }
  if (::bind(fd, to.get(), to.getSize()) != 0) {
    setErrorFromErrno();
    return -1;
  }
  *local = to;
  return updateLocalAddress();
}

int InetSock::resume() {
  close();
  if (Sock::resume() != 0) return -1;
  if (type == SOCK_STREAM) {
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }
  if (::bind(fd, local->get(), local->getSize()) != 0) {
    setErrorFromErrno();
    return -1;
  }
  return 0;
}

int InetSock::membership(int option, InetAddress& group, const char* ifname) {
  if (domain != AF_INET) {
    setErrorText("Not an IPv4 socket");
    return -1;
  }
  ip_mreq mreq;
  std::memset(&mreq, 0, sizeof mreq);
  mreq.imr_multiaddr = reinterpret_cast<sockaddr_in*>(group.get())->sin_addr;
  mreq.imr_interface.s_addr = htonl(INADDR_ANY);
  if (ifname != nullptr) {
    ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    std::strncpy(ifr.ifr_name, ifname, IFNAMSIZ - 1);
    if (::ioctl(fd, SIOCGIFADDR, &ifr) != 0) {
      setErrorFromErrno();
      return -1;
    }
    mreq.imr_interface = reinterpret_cast<sockaddr_in*>(&ifr.ifr_addr)->sin_addr;
  }
  if (setsockopt(fd, IPPROTO_IP, option, &mreq, sizeof mreq) != 0) {
    setErrorFromErrno();
    return -1;
  }
  return 0;
}

int InetSock::joinMulticastGroup(InetAddress& group, const char* ifname) {
  return membership(IP_ADD_MEMBERSHIP, group, ifname);
}

int InetSock::leaveMulticastGroup(InetAddress& group, const char* ifname) {
  return membership(IP_DROP_MEMBERSHIP, group, ifname);
}

int InetSock::setMulticastLoop(int on) {
  if (domain != AF_INET) return -1;
  unsigned char v = on ? 1 : 0;
  if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &v, sizeof v) != 0) {
    setErrorFromErrno();
    return -1;
  }
  return 0;
}

int InetSock::getMulticastLoop() {
  if (domain != AF_INET) return -1;
  unsigned char v = 0;
  socklen_t len = sizeof v;
  if (getsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &v, &len) != 0) {
    setErrorFromErrno();
    return -1;
  }
  return v;
}

int InetSock::setMulticastTTL(int ttl) {
  if (domain != AF_INET) return -1;
  if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
    setErrorFromErrno();
    return -1;
  }
  return 0;
}

int InetSock::getMulticastTTL() {
  if (domain != AF_INET) return -1;
  int ttl = 0;
  socklen_t len = sizeof ttl;
  if (getsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, &len) != 0) {
    setErrorFromErrno();
    return -1;
  }
  return ttl;
}

int InetSock::setMulticastInterface(const char*) {
  setErrorText("Unimplemented method");
  return -1;
}

int InetSock::setMulticastInterface(int) {
  setErrorText("Unimplemented method");
  return -1;
}

int InetSock::getMulticastInterface() {
  setErrorText("Unimplemented method");
  return -1;
}

char* InetSock::getMulticastInterfaceName() {
  setErrorText("Unimplemented method");
  return nullptr;
}

int InetSock::getPathMTU() { return -1; }

int InetSock::setPathMTUDiscovery(int) {
  MTRACE("InetSock::setPathMTUDiscovery(): Not implemented\n");
  return -1;
}

// ---------------------------------------------------------------- TCPSock

TCPSock::TCPSock()
    : InetSock(AF_INET, SOCK_STREAM, 0), remote(new InetAddress()), name(new DataBuf("")) {}

TCPSock::TCPSock(int desc) : InetSock(desc), remote(nullptr), name(nullptr) {
  sockaddr_in sa;
  socklen_t len = sizeof sa;
  std::memset(&sa, 0, sizeof sa);
  if (::getpeername(desc, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    LibError e("TCPSock()", "%s", std::strerror(errno));
    fd = -1;  // the caller still owns the descriptor
    throw e;
  }
  remote = new InetAddress(sa);
  name = new DataBuf("");
  setNoDelay(fd);
}

TCPSock::~TCPSock() {
  delete remote;
  delete name;
}

void TCPSock::setConnectionName(const char* text) {
  name->xcopy(text, static_cast<unsigned>(std::strlen(text)) + 1);
}

int TCPSock::connect(InetAddress& to) {
  if (fd < 0 && resume() != 0) return -1;
  int r;
  while ((r = ::connect(fd, to.get(), to.getSize())) != 0 && errno == EINTR) {
    // An interrupted connect goes on in the background: wait for its end.
    fd_set ws;
    FD_ZERO(&ws);
    FD_SET(fd, &ws);
    if (::select(fd + 1, nullptr, &ws, nullptr, nullptr) < 0 && errno == EINTR) continue;
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err == 0) {
      r = 0;
      break;
    }
    errno = err;
    r = -1;
    break;
  }
  if (r != 0) {
    int saved = errno;
    setErrorText(std::strerror(saved));
    // Leave a fresh socket behind so the next connect can succeed; the
    // text of the failure stays.
    char text[64];
    std::snprintf(text, sizeof text, "%s", std::strerror(saved));
    resume();
    setErrorText(text);
    return -1;
  }
  sockaddr_in sa;
  socklen_t len = sizeof sa;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    setErrorFromErrno();
    return -1;
  }
  remote->set(sa);
  setNoDelay(fd);
  return 0;
}

int TCPSock::read(char* buf, unsigned n) {
  int r = Sock::read(buf, n);
  if (r < 0) {
    setErrorFromErrno();
  } else if (r == 0 && n > 0) {
    setErrorText("End of file");
  }
  return r;
}

int TCPSock::write(const char* buf, unsigned n) {
  ssize_t r;
  int flags = MSG_NOSIGNAL | (moreFollows ? MSG_MORE : 0);
  while ((r = ::send(fd, buf, n, flags)) < 0 && errno == EINTR) {
  }
  if (r < 0) setErrorFromErrno();
  return static_cast<int>(r);
}

int TCPSock::push() {
  // Setting TCP_NODELAY sends what is pending at once, whatever it was.
  int one = 1;
  if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) {
    setErrorFromErrno();
    return -1;
  }
  return 0;
}

int TCPSock::readAll(char* buf, unsigned n, bool* eof) {
  unsigned got = 0;
  if (eof != nullptr) *eof = false;
  while (got < n) {
    int r = read(buf + got, n - got);
    if (r < 0) return -1;
    if (r == 0) {
      if (eof != nullptr) *eof = true;
      break;
    }
    got += static_cast<unsigned>(r);
  }
  return static_cast<int>(got);
}

int TCPSock::writeAll(const char* buf, unsigned n) {
  unsigned done = 0;
  while (done < n) {
    int r = write(buf + done, n - done);
    if (r < 0) return -1;
    if (r == 0) {
      setErrorText("Nothing written");
      return -1;
    }
    done += static_cast<unsigned>(r);
  }
  return static_cast<int>(n);
}

int TCPSock::doRead(IOMonitor*) { return 6; }
int TCPSock::doWrite(IOMonitor*) { return 6; }
int TCPSock::onReady(IOMonitor*) { return 2; }
int TCPSock::onError(IOMonitor* m) {
  queueRemoval(m, this);
  close();
  return 6;
}
int TCPSock::onEOF(IOMonitor*) { return 6; }
int TCPSock::onInputDone(IOMonitor*) { return 6; }
int TCPSock::onOutputDone(IOMonitor*) { return 6; }
int TCPSock::onExtendedStatus(IOMonitor*) { return 6; }

// ---------------------------------------------------------------- TCPServerSock

TCPServerSock::TCPServerSock(unsigned short port, int backlog) : InetSock(AF_INET, SOCK_STREAM, 0) {
  InetAddress any;
  any.setPort(port);
  if (bind(any) != 0) {
    LibError e("InetSock()", "%s", getErrorString());
    throw e;
  }
  listenOn(backlog);
}

TCPServerSock::TCPServerSock(InetAddress& at, int backlog) : InetSock(AF_INET, SOCK_STREAM, 0) {
  InetAddress copy(at);
  if (bind(copy) != 0) {
    LibError e("InetSock()", "%s", getErrorString());
    throw e;
  }
  listenOn(backlog);
}

void TCPServerSock::listenOn(int backlog) {
  if (::listen(fd, backlog) != 0) {
    throw LibError("TCPServerSock()", "%s", std::strerror(errno));
  }
}

TCPSock* TCPServerSock::accept() {
  int c;
  while ((c = ::accept(fd, nullptr, nullptr)) < 0 && errno == EINTR) {
  }
  if (c < 0) {
    setErrorFromErrno();
    return nullptr;
  }
  try {
    return new TCPSock(c);
  } catch (LibError& e) {
    ::close(c);
    setErrorText(e.getReason());
    return nullptr;
  }
}

int TCPServerSock::resume(int backlog) {
  if (InetSock::resume() != 0) return -1;
  if (::listen(fd, backlog) != 0) {
    setErrorFromErrno();
    return -1;
  }
  return 0;
}

int TCPServerSock::doRead(IOMonitor* m) {
  TCPSock* s = accept();
  if (s == nullptr) return 6;
  s->setState(3);
  char text[128];
  InetAddress* la = s->getLocalAddress();
  InetAddress* ra = s->getRemoteAddress();
  char lt[InetAddress::TEXT_SIZE];
  std::snprintf(lt, sizeof lt, "%s", la->toString());
  std::snprintf(text, sizeof text, "[%d,%s:%d,%s:%d]", s->getDescriptor(), lt, la->getPort(),
                ra->toString(), ra->getPort());
  s->setConnectionName(text);
  MTRACE("TCPServerSock::doRead(): Connection %s\n", text);
  if (m == nullptr || m->attach(s) != 0) {
    // Nobody would own it: do not leak the connection.
    delete s;
  }
  return 2;
}

int TCPServerSock::doWrite(IOMonitor*) { return 6; }
int TCPServerSock::onReady(IOMonitor*) { return 2; }
int TCPServerSock::onError(IOMonitor*) {
  System::fail(1, "TCPServerSock::onError(): %s\n", getErrorString());
  return 6;
}
int TCPServerSock::onEOF(IOMonitor*) { return 6; }
int TCPServerSock::onInputDone(IOMonitor*) { return 6; }
int TCPServerSock::onOutputDone(IOMonitor*) { return 6; }
int TCPServerSock::onExtendedStatus(IOMonitor*) { return 6; }

// ---------------------------------------------------------------- UDPSock

UDPSock::UDPSock()
    : InetSock(AF_INET, SOCK_DGRAM, 0), remote(new InetAddress()), name(new DataBuf("")) {}

UDPSock::UDPSock(unsigned short port)
    : InetSock(AF_INET, SOCK_DGRAM, 0), remote(new InetAddress()), name(new DataBuf("")) {
  if (port != 0) {
    InetAddress any;
    any.setPort(port);
    if (bind(any) != 0) {
      LibError e("InetSock()", "%s", getErrorString());
      delete remote;
      delete name;
      throw e;
    }
  }
}

UDPSock::UDPSock(InetAddress& at)
    : InetSock(AF_INET, SOCK_DGRAM, 0), remote(new InetAddress()), name(new DataBuf("")) {
  InetAddress copy(at);
  if (bind(copy) != 0) {
    LibError e("InetSock()", "%s", getErrorString());
    delete remote;
    delete name;
    throw e;
  }
}

UDPSock::~UDPSock() {
  delete remote;
  delete name;
}

int UDPSock::sendIov(iovec* iov, int count, InetAddress* to) {
  InetAddress* dest = to != nullptr ? to : remote;
  msghdr msg;
  std::memset(&msg, 0, sizeof msg);
  msg.msg_name = dest->get();
  msg.msg_namelen = dest->getSize();
  msg.msg_iov = iov;
  msg.msg_iovlen = static_cast<size_t>(count);
  ssize_t r;
  while ((r = ::sendmsg(fd, &msg, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
  }
  if (r < 0) return -1;
  _sent += static_cast<int>(r);
  return static_cast<int>(r);
}

int UDPSock::recvIov(iovec* iov, int count, InetAddress* from) {
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  msghdr msg;
  std::memset(&msg, 0, sizeof msg);
  msg.msg_name = &sa;
  msg.msg_namelen = sizeof sa;
  msg.msg_iov = iov;
  msg.msg_iovlen = static_cast<size_t>(count);
  ssize_t r;
  while ((r = ::recvmsg(fd, &msg, 0)) < 0 && errno == EINTR) {
  }
  if (r < 0) return -1;
  _received += static_cast<int>(r);
  if (msg.msg_namelen >= sizeof(sockaddr_in) && sa.sin_family == AF_INET) {
    if (from != nullptr) from->set(sa);
    remote->set(sa);
  }
  return static_cast<int>(r);
}

int UDPSock::send(const char* buf, unsigned n, InetAddress* to) {
  iovec iov;
  iov.iov_base = const_cast<char*>(buf);
  iov.iov_len = n;
  return sendIov(&iov, 1, to);
}

int UDPSock::recv(char* buf, unsigned n, InetAddress* from) {
  iovec iov;
  iov.iov_base = buf;
  iov.iov_len = n;
  return recvIov(&iov, 1, from);
}

int UDPSock::send(DataBuf** bufs, int count, InetAddress* to) {
  if (bufs == nullptr || count < 0 || count > IOV_MAX) return -1;
  std::vector<iovec> iov(static_cast<size_t>(count) + 1);
  for (int i = 0; i < count; i++) {
    iov[i].iov_base = bufs[i] != nullptr ? bufs[i]->getData() : nullptr;
    iov[i].iov_len = bufs[i] != nullptr ? bufs[i]->getLength() : 0;
  }
  return sendIov(iov.data(), count, to);
}

int UDPSock::recv(DataBuf** bufs, int count, InetAddress* from) {
  if (bufs == nullptr || count < 0 || count > IOV_MAX) return -1;
  std::vector<iovec> iov(static_cast<size_t>(count) + 1);
  for (int i = 0; i < count; i++) {
    iov[i].iov_base = bufs[i] != nullptr ? bufs[i]->getData() : nullptr;
    iov[i].iov_len = bufs[i] != nullptr && bufs[i]->getData() != nullptr ? bufs[i]->getSize() : 0;
  }
  int r = recvIov(iov.data(), count, from);
  if (r < 0) return -1;
  unsigned left = static_cast<unsigned>(r);
  for (int i = 0; i < count && left > 0; i++) {
    unsigned take = left < iov[i].iov_len ? left : static_cast<unsigned>(iov[i].iov_len);
    if (take == 0) continue;
    bufs[i]->setLength(take);
    left -= take;
  }
  return r;
}

int UDPSock::doRead(IOMonitor*) { return 6; }
int UDPSock::doWrite(IOMonitor*) { return 6; }
int UDPSock::onError(IOMonitor*) { return 6; }
int UDPSock::onEOF(IOMonitor*) { return 6; }
int UDPSock::onInputDone(IOMonitor*) { return 6; }
int UDPSock::onOutputDone(IOMonitor*) { return 6; }
int UDPSock::onReady(IOMonitor*) { return 6; }
int UDPSock::onExtendedStatus(IOMonitor*) { return 6; }

}  // namespace MorvaneLib
