// Helpers of the SIP plug-in's tests: manager and block, peer process, raw
// loopback sockets.
#include "SipTestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "mosal/Logger.h"
#include "mosal/Trace.h"
#include "mosal_posix/IODevice.h"
#include "mosal_posix/Thread.h"

namespace siptest {

std::string tempDir(const std::string& name) {
  static std::map<std::string, std::string> made;
  auto it = made.find(name);
  if (it != made.end()) return it->second;
  std::string tmpl = "/tmp/sip-" + name + "-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  char* d = mkdtemp(buf.data());
  std::string dir = d != nullptr ? d : "/tmp";
  made[name] = dir;
  return dir;
}

long long nowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool waitUntil(const std::function<bool()>& cond, int ms) {
  long long end = nowMs() + ms;
  while (!cond()) {
    if (nowMs() > end) return cond();
    Thread::sleep(1);
  }
  return true;
}

int freePort(int type) {
  int fd = socket(AF_INET, type, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

// ------------------------------------------------------------------ SipSide

namespace {

std::string copy(ConfigTable* t, const char* k) {
  char buf[1024];
  if (t == nullptr || t->copyString(k, buf, sizeof buf) != 0) return "";
  return buf;
}

}  // namespace

SipSide::SipSide(const std::string& appName) : _app(appName) {
  setenv("MORVANE_HOME", tempDir("home").c_str(), 1);
  _manager.reset(new BlockManager(appName.c_str(), nullptr));
  _manager->start();
  Plugin* p = _manager->getPluginLoader()->getPlugin("SipController");
  if (p == nullptr) {
    ADD_FAILURE() << "no SipController plug-in: " << _manager->getErrorString();
    return;
  }
  if (_manager->createPluginInstance(p, &_block) != 0) {
    ADD_FAILURE() << "no block: " << _manager->getErrorString();
    _block = nullptr;
    return;
  }
  _adapter.reset(new BlockAdapter("tamvoses", sizeof(cmessage_t), 1, 256));
  _adapter->connect(_block);
}

SipSide::~SipSide() {
  if (_block != nullptr) {
    _adapter->disconnect(_block);
    _manager->destroyBlock(_block);
  }
  _adapter.reset();
  _manager.reset();
}

int SipSide::open(const char* transport, int port) {
  if (_block == nullptr) return -1;
  table()->setString("Transport", transport, static_cast<unsigned>(std::strlen(transport)) + 1);
  table()->setInt("ListenPort", port);
  return _manager->sendMessage(_block->getName(), "reset", true);
}

int SipSide::command(const std::string& line) {
  if (_block == nullptr) return -100;
  DefaultStatusListener l(_block, 4);
  uint32_t serial = 0;
  if (_block->sendCommandScript((line + "\n").c_str(), &l, &serial) != 0) return -100;
  status_t s;
  while (l.waitStatus(&s, 10000) == 0)
    if (s.serial == serial) return s.result;
  return -101;
}

bool SipSide::nextEvent(Event* e, int ms) {
  cmessage_t m;
  if (_adapter == nullptr || _adapter->recvMessage(&m, static_cast<unsigned>(ms)) != 0)
    return false;
  e->code = m.code;
  e->table = m.params;
  e->callId = copy(m.params, "Call-ID");
  e->from = copy(m.params, "From");
  e->to = copy(m.params, "To");
  e->remoteIp = copy(m.params, "RemoteIP");
  e->remotePort = copy(m.params, "RemotePort");
  e->video = copy(m.params, "VideoMinPort");
  e->audio = copy(m.params, "AudioMinPort");
  e->natted = copy(m.params, "Natted");
  return true;
}

bool SipSide::waitEvent(unsigned code, Event* e, int ms) {
  long long end = nowMs() + ms;
  while (nowMs() < end) {
    if (!nextEvent(e, static_cast<int>(end - nowMs()) + 1)) return false;
    if (e->code == code) return true;
  }
  return false;
}

bool SipSide::quiet(int ms) {
  Event e;
  return !nextEvent(&e, ms);
}

int SipSide::serverPort() {
  void* obj = nullptr;
  unsigned short size = 0;
  if (_block == nullptr || table()->getObject("_ts", &obj, &size) != 0 || obj == nullptr)
    return -1;
  int* fd = static_cast<int*>(static_cast<IODevice*>(obj)->getHandle());
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (fd == nullptr || getsockname(*fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return -1;
  return ntohs(a.sin_port);
}

std::string SipSide::logText() {
  _manager->getLogger()->close();
  std::ifstream f(tempDir("home") + "/" + _app + "/" + _app + ".log");
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// -------------------------------------------------------------- PeerProcess

PeerProcess::PeerProcess(const std::string& appName, const char* transport, int port,
                         bool autoAnswer) {
  int toChild[2], fromChild[2];
  if (pipe(toChild) != 0) return;
  if (pipe(fromChild) != 0) {
    ::close(toChild[0]);
    ::close(toChild[1]);
    return;
  }
  std::string home = tempDir("peer-" + appName);
  std::string portText = std::to_string(port);
  _pid = fork();
  if (_pid == 0) {
    dup2(toChild[0], 0);
    dup2(fromChild[1], 1);
    ::close(toChild[0]);
    ::close(toChild[1]);
    ::close(fromChild[0]);
    ::close(fromChild[1]);
    setenv("MORVANE_HOME", home.c_str(), 1);
    setenv("MOSAL_TRACE", "0", 1);
    const char* args[] = {SIP_PEER_PROGRAM, appName.c_str(), transport, portText.c_str(),
                          autoAnswer ? "--auto" : nullptr, nullptr};
    execv(SIP_PEER_PROGRAM, const_cast<char**>(args));
    _exit(127);
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  _in = toChild[1];
  _out = fromChild[0];
  if (_pid < 0) return;
  std::string line;
  long long end = nowMs() + 10000;
  while (nowMs() < end && _readLine(&line, static_cast<int>(end - nowMs()))) {
    if (line.rfind("READY", 0) == 0) {
      _ready = true;
      break;
    }
    if (line.rfind("FAILED", 0) == 0) {
      ADD_FAILURE() << "sip_peer: " << line;
      break;
    }
  }
}

PeerProcess::~PeerProcess() {
  if (_in >= 0) {
    ssize_t w = write(_in, "quit\n", 5);
    (void)w;
    ::close(_in);
  }
  if (_pid > 0) {
    long long end = nowMs() + 10000;
    int status;
    while (waitpid(_pid, &status, WNOHANG) == 0) {
      if (nowMs() > end) {
        kill(_pid, SIGKILL);
        waitpid(_pid, &status, 0);
        break;
      }
      Thread::sleep(5);
    }
  }
  if (_out >= 0) ::close(_out);
}

bool PeerProcess::_readLine(std::string* line, int ms) {
  long long end = nowMs() + ms;
  for (;;) {
    size_t nl = _pending.find('\n');
    if (nl != std::string::npos) {
      *line = _pending.substr(0, nl);
      _pending.erase(0, nl + 1);
      return true;
    }
    int left = static_cast<int>(end - nowMs());
    if (left <= 0 || _out < 0) return false;
    pollfd p{_out, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) continue;
    char buf[4096];
    ssize_t n = read(_out, buf, sizeof buf);
    if (n <= 0) return false;
    _pending.append(buf, static_cast<size_t>(n));
  }
}

int PeerProcess::command(const std::string& line, int ms) {
  std::string l = line + "\n";
  if (_in < 0 || write(_in, l.data(), l.size()) != static_cast<ssize_t>(l.size())) return -1000;
  long long end = nowMs() + ms;
  std::string got;
  while (nowMs() < end && _readLine(&got, static_cast<int>(end - nowMs()))) {
    if (got.rfind("RESULT ", 0) == 0) return std::atoi(got.c_str() + 7);
    if (got.rfind("EVENT ", 0) == 0) _events.push_back(got);
  }
  return -1000;
}

std::string PeerProcess::waitEvent(unsigned code, int ms) {
  std::string prefix = "EVENT " + std::to_string(code) + " ";
  for (auto it = _events.begin(); it != _events.end(); ++it) {
    if (it->rfind(prefix, 0) == 0) {
      std::string e = *it;
      _events.erase(it);
      return e;
    }
  }
  long long end = nowMs() + ms;
  std::string got;
  while (nowMs() < end && _readLine(&got, static_cast<int>(end - nowMs()))) {
    if (got.rfind(prefix, 0) == 0) return got;
    if (got.rfind("EVENT ", 0) == 0) _events.push_back(got);
  }
  return "";
}

long PeerProcess::rssKb() {
  std::ifstream f("/proc/" + std::to_string(_pid) + "/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// ---------------------------------------------------------------- RawSocket

RawSocket::RawSocket(int type, int port) : _type(type) {
  _fd = socket(AF_INET, type, 0);
  if (_fd < 0) return;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (type == SOCK_DGRAM) {
    bind(_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  a.sin_port = htons(static_cast<unsigned short>(port));
  if (connect(_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(_fd);
    _fd = -1;
    return;
  }
  sockaddr_in l{};
  socklen_t len = sizeof l;
  getsockname(_fd, reinterpret_cast<sockaddr*>(&l), &len);
  _port = ntohs(l.sin_port);
}

RawSocket RawSocket::listener() {
  RawSocket s;
  s._type = SOCK_STREAM;
  s._fd = socket(AF_INET, SOCK_STREAM, 0);
  if (s._fd < 0) return s;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(s._fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s._fd, 16) != 0 ||
      getsockname(s._fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    s.close();
    return s;
  }
  s._port = ntohs(a.sin_port);
  return s;
}

RawSocket::RawSocket(RawSocket&& o) noexcept : _fd(o._fd), _port(o._port), _type(o._type) {
  o._fd = -1;
}

RawSocket::~RawSocket() { close(); }

void RawSocket::close() {
  if (_fd >= 0) ::close(_fd);
  _fd = -1;
}

bool RawSocket::send(const std::string& bytes) {
  if (_fd < 0) return false;
  if (_type == SOCK_DGRAM) return ::send(_fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

RawSocket RawSocket::accept(int ms) {
  RawSocket s;
  pollfd p{_fd, POLLIN, 0};
  if (_fd < 0 || poll(&p, 1, ms) <= 0) return s;
  s._fd = ::accept(_fd, nullptr, nullptr);
  s._type = SOCK_STREAM;
  return s;
}

std::string RawSocket::readUntil(const std::string& marker, int ms) {
  std::string got;
  long long end = nowMs() + ms;
  while (_fd >= 0 && got.find(marker) == std::string::npos) {
    int left = static_cast<int>(end - nowMs());
    if (left <= 0) break;
    pollfd p{_fd, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) continue;
    char buf[4096];
    ssize_t n = ::recv(_fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

std::string RawSocket::readMessages(int count, int ms) {
  std::string got;
  long long end = nowMs() + ms;
  auto sections = [&] {
    int n = 0;
    for (size_t at = got.find("\r\n\r\n"); at != std::string::npos; at = got.find("\r\n\r\n", at + 4))
      ++n;
    return n;
  };
  while (_fd >= 0 && sections() < count) {
    int left = static_cast<int>(end - nowMs());
    if (left <= 0) break;
    pollfd p{_fd, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) continue;
    char buf[4096];
    ssize_t n = ::recv(_fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

std::string RawSocket::recvDatagram(int ms) {
  pollfd p{_fd, POLLIN, 0};
  if (_fd < 0 || poll(&p, 1, ms) <= 0) return "";
  std::vector<char> buf(65536);
  ssize_t n = ::recv(_fd, buf.data(), buf.size(), 0);
  return n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : "";
}

bool RawSocket::closedByPeer(int ms) {
  long long end = nowMs() + ms;
  while (_fd >= 0) {
    int left = static_cast<int>(end - nowMs());
    if (left <= 0) return false;
    pollfd p{_fd, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) continue;
    char buf[4096];
    ssize_t n = ::recv(_fd, buf, sizeof buf, 0);
    if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
    if (n < 0) return false;
  }
  return false;
}

}  // namespace siptest
