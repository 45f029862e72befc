// Shared by the SIP plug-in's tests: a block manager with one
// "SipController" block and an event mailbox, a second videophone in a
// process of its own (sip_peer), plain loopback sockets for writing and
// reading raw SIP bytes, and bounded waits.
#ifndef MRB_SIP_TEST_SUPPORT_H
#define MRB_SIP_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/BlockAdapter.h"
#include "framework/BlockManager.h"

namespace siptest {

using namespace MorvaneLib;

// A fresh directory under /tmp (made once per name and process).
std::string tempDir(const std::string& name);
long long nowMs();
// Polls `cond` every millisecond for at most `ms`: its last value.
bool waitUntil(const std::function<bool()>& cond, int ms = 5000);

// A port of the given socket type (SOCK_STREAM, SOCK_DGRAM) that nothing on
// 127.0.0.1 uses right now.
int freePort(int type);

// One event as the application sees it: the code and the session keys
// copied out of the lent table.
struct Event {
  unsigned code = 0;
  std::string callId, from, to, remoteIp, remotePort, video, audio, natted;
  ConfigTable* table = nullptr;
};

// A manager (own data directory) with one "SipController" block whose events
// arrive in an adapter.
class SipSide {
 public:
  // appName names the data directory ($MORVANE_HOME/<appName>).
  explicit SipSide(const std::string& appName);
  ~SipSide();

  BlockManager* manager() { return _manager.get(); }
  Block* block() { return _block; }
  ConfigTable* table() { return _block->getProperties(); }

  // Sets "Transport" and "ListenPort" and resets the block: the reset result.
  int open(const char* transport, int port);
  // One command line; its result (or -100/-101 when it could not run).
  int command(const std::string& line);
  // The next event within `ms`; false on time-out.
  bool nextEvent(Event* e, int ms = 5000);
  // Waits for an event of the code, skipping others (kept in `skipped`).
  bool waitEvent(unsigned code, Event* e, int ms = 5000);
  // Stops receiving the block's events (they then find no receiver).
  void disconnectEvents() { _adapter->disconnect(_block); }
  // No event arrives within ms.
  bool quiet(int ms);
  // The port the block's TCP server listens on (from "_ts"), or -1.
  int serverPort();
  // The log file, after closing the manager's logger so that every line
  // held is written (later lines stay held).
  std::string logText();

 private:
  std::unique_ptr<BlockManager> _manager;
  Block* _block = nullptr;
  std::unique_ptr<BlockAdapter> _adapter;
  std::string _app;
};

// sip_peer in a process of its own, driven through its standard input and
// read line by line from its standard output.
class PeerProcess {
 public:
  // Starts sip_peer <appName> <transport> <port> [--auto] with its own
  // MORVANE_HOME; waits for its READY line (false from ready() otherwise).
  PeerProcess(const std::string& appName, const char* transport, int port, bool autoAnswer);
  ~PeerProcess();
  bool ready() const { return _ready; }
  pid_t pid() const { return _pid; }
  // Sends a command line and waits for its RESULT line (events read
  // meanwhile are kept); the result, or -1000 when none came.
  int command(const std::string& line, int ms = 5000);
  // The next line starting with "EVENT <code>", within ms; "" on time-out.
  std::string waitEvent(unsigned code, int ms = 5000);
  // Resident memory of the process in kB (from /proc), or -1.
  long rssKb();

 private:
  bool _readLine(std::string* line, int ms);
  pid_t _pid = -1;
  int _in = -1, _out = -1;
  std::string _pending;
  std::vector<std::string> _events;
  bool _ready = false;
};

// Plain loopback sockets for raw SIP traffic.
class RawSocket {
 public:
  // A stream connected to 127.0.0.1:port, or a datagram socket bound to an
  // ephemeral port with 127.0.0.1:port as its destination.
  RawSocket(int type, int port);
  // A listening stream on 127.0.0.1, port chosen by the system.
  static RawSocket listener();
  RawSocket(RawSocket&& o) noexcept;
  ~RawSocket();
  bool ok() const { return _fd >= 0; }
  int port() const { return _port; }  // local port
  bool send(const std::string& bytes);
  // Accepts one connection of a listener within ms.
  RawSocket accept(int ms = 5000);
  // Reads until `marker` has arrived (a whole SIP header section ends at
  // "\r\n\r\n") or the peer closes; what arrived, within ms.
  std::string readUntil(const std::string& marker = "\r\n\r\n", int ms = 5000);
  // Reads until `count` header sections (each ending in "\r\n\r\n") have
  // arrived, the peer closes or ms pass.
  std::string readMessages(int count, int ms = 5000);
  // One datagram within ms ("" on time-out).
  std::string recvDatagram(int ms = 5000);
  // True when the peer closed the stream within ms.
  bool closedByPeer(int ms = 5000);
  void close();

 private:
  RawSocket() = default;
  int _fd = -1;
  int _port = 0;
  int _type = 0;
};

}  // namespace siptest

#endif
