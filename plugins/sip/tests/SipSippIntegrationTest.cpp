// An outside SIP peer, sipp: as the callee it answers the block's INVITE
// (180, then 200 with a session description) and takes its BYE; as the
// caller it sends an INVITE with the media port headers and a session
// description, takes the block's "Ringing", answers the acceptance and
// ends the call. Skipped when sipp is not installed.
//
// The block's answers start with the lower-case "sip/2.0" of its status
// lines, which sipp does not take for a response (it drops them unseen).
// When sipp calls, a relay between the two therefore writes the status
// lines' protocol in upper case, and changes nothing else: that is what
// sipp takes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "SipTestSupport.h"
#include "mosal/Trace.h"
#include "mosal_posix/Thread.h"

using namespace siptest;

namespace {

// sipp running one scenario for one call; its output goes to a file.
class Sipp {
 public:
  Sipp(const std::vector<std::string>& args, const std::string& log) : _log(log) {
    _pid = fork();
    if (_pid == 0) {
      FILE* f = std::freopen(log.c_str(), "w", stdout);
      (void)f;
      dup2(1, 2);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(SIPP_PROGRAM));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(SIPP_PROGRAM, argv.data());
      _exit(127);
    }
  }
  ~Sipp() {
    if (_pid > 0 && !_done) {
      kill(_pid, SIGKILL);
      waitpid(_pid, nullptr, 0);
    }
  }
  // Its exit status once it ended within ms (-1 on time-out).
  int wait(int ms) {
    long long end = nowMs() + ms;
    int status = 0;
    while (nowMs() < end) {
      pid_t r = waitpid(_pid, &status, WNOHANG);
      if (r == _pid) {
        _done = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      }
      Thread::sleep(5);
    }
    return -1;
  }
  std::string output() {
    std::ifstream f(_log);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }

 private:
  pid_t _pid = -1;
  bool _done = false;
  std::string _log;
};


// True once something listens on (TCP) or has bound (UDP) 127.0.0.1:port.
bool portTaken(int type, int port) {
  int fd = socket(AF_INET, type, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<unsigned short>(port));
  bool taken;
  if (type == SOCK_STREAM) {
    taken = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  } else {
    taken = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
  }
  close(fd);
  return taken;
}

// Upper-cases the protocol of every status line in a piece of the block's
// output that holds whole messages.
std::string upperStatusLines(std::string s) {
  for (size_t at = 0; at < s.size();) {
    if (s.compare(at, 8, "sip/2.0 ") == 0) s.replace(at, 3, "SIP");
    size_t end = s.find("\r\n\r\n", at);
    if (end == std::string::npos) break;
    at = end + 4;
  }
  return s;
}

// Stands between sipp (which talks to the relay's port) and the block.
class Relay {
 public:
  Relay(int type, int blockPort) : _type(type) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    _front = socket(AF_INET, type, 0);
    bind(_front, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(_front, reinterpret_cast<sockaddr*>(&a), &len);
    _port = ntohs(a.sin_port);
    if (type == SOCK_STREAM) listen(_front, 4);
    _block = a;
    _block.sin_port = htons(static_cast<unsigned short>(blockPort));
    _thread = std::thread([this] { _type == SOCK_STREAM ? _stream() : _datagrams(); });
  }
  ~Relay() {
    _stop.store(true);
    _thread.join();
    close(_front);
  }
  int port() const { return _port; }

 private:
  void _stream() {
    pollfd p{_front, POLLIN, 0};
    while (!_stop.load() && poll(&p, 1, 20) <= 0) {
    }
    if (_stop.load()) return;
    int peer = accept(_front, nullptr, nullptr);
    int block = socket(AF_INET, SOCK_STREAM, 0);
    connect(block, reinterpret_cast<const sockaddr*>(&_block), sizeof _block);
    std::string fromBlock;
    char buf[65536];
    while (!_stop.load()) {
      pollfd fds[2] = {{peer, POLLIN, 0}, {block, POLLIN, 0}};
      if (poll(fds, 2, 20) <= 0) continue;
      if (fds[0].revents & (POLLIN | POLLHUP)) {
        ssize_t n = recv(peer, buf, sizeof buf, 0);
        if (n <= 0) break;
        send(block, buf, static_cast<size_t>(n), MSG_NOSIGNAL);
      }
      if (fds[1].revents & (POLLIN | POLLHUP)) {
        ssize_t n = recv(block, buf, sizeof buf, 0);
        if (n <= 0) break;
        fromBlock.append(buf, static_cast<size_t>(n));
        size_t end = fromBlock.rfind("\r\n\r\n");
        if (end == std::string::npos) continue;
        std::string whole = upperStatusLines(fromBlock.substr(0, end + 4));
        fromBlock.erase(0, end + 4);
        send(peer, whole.data(), whole.size(), MSG_NOSIGNAL);
      }
    }
    close(peer);
    close(block);
  }
  void _datagrams() {
    int block = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(block, reinterpret_cast<sockaddr*>(&any), sizeof any);
    connect(block, reinterpret_cast<const sockaddr*>(&_block), sizeof _block);
    sockaddr_in peer{};
    socklen_t peerLen = 0;
    std::vector<char> buf(65536);
    while (!_stop.load()) {
      pollfd fds[2] = {{_front, POLLIN, 0}, {block, POLLIN, 0}};
      if (poll(fds, 2, 20) <= 0) continue;
      if (fds[0].revents & POLLIN) {
        peerLen = sizeof peer;
        ssize_t n = recvfrom(_front, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&peer),
                             &peerLen);
        if (n > 0) send(block, buf.data(), static_cast<size_t>(n), 0);
      }
      if ((fds[1].revents & POLLIN) && peerLen > 0) {
        ssize_t n = recv(block, buf.data(), buf.size(), 0);
        if (n <= 0) continue;
        std::string d = upperStatusLines(std::string(buf.data(), static_cast<size_t>(n)));
        sendto(_front, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&peer), peerLen);
      }
    }
    close(block);
  }

  int _type;
  int _front = -1;
  int _port = 0;
  sockaddr_in _block{};
  std::atomic<bool> _stop{false};
  std::thread _thread;
};

bool haveSipp() { return std::string(SIPP_PROGRAM).size() > 0 && access(SIPP_PROGRAM, X_OK) == 0; }

class SipSippTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!haveSipp()) GTEST_SKIP() << "sipp (Debian package sip-tester) is not installed";
    Trace::setEnabled(false);
    transport = GetParam();
    tcp = std::string(transport) == "TCP";
    side.reset(new SipSide(std::string("sipp") + transport));
    ASSERT_NE(side->block(), nullptr);
    blockPort = freePort(tcp ? SOCK_STREAM : SOCK_DGRAM);
    ASSERT_EQ(side->open(transport, blockPort), 0);
  }
  void TearDown() override { side.reset(); }

  std::vector<std::string> common(const char* scenario, int localPort) {
    return {"-sf", std::string(SIP_SCENARIO_DIR) + "/" + scenario,
            "-i", "127.0.0.1",
            "-p", std::to_string(localPort),
            "-t", tcp ? "t1" : "u1",
            "-m", "1",
            "-timeout", "10s",
            "-timeout_error",
            "-nostdin",
            "-trace_msg",
            "-message_file", tempDir("sipp") + "/" + transport + "-messages.log"};
  }
  std::string messages() {
    std::ifstream f(tempDir("sipp") + "/" + transport + "-messages.log");
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }

  const char* transport = "";
  bool tcp = true;
  int blockPort = 0;
  std::unique_ptr<SipSide> side;
};

}  // namespace

TEST_P(SipSippTest, SippAnswersTheBlocksCall) {
  int sippPort = freePort(tcp ? SOCK_STREAM : SOCK_DGRAM);
  Sipp sipp(common("callee.xml", sippPort), tempDir("sipp") + "/callee-" + transport + ".out");
  ASSERT_TRUE(waitUntil([&] { return portTaken(tcp ? SOCK_STREAM : SOCK_DGRAM, sippPort); }, 10000))
      << sipp.output();
  ASSERT_EQ(side->command("SessionCreate s1 subject info"), 0);
  ASSERT_EQ(side->command("SessionSet s1 VideoMinPort 6001"), 0);
  ASSERT_EQ(side->command("SessionSet s1 AudioMinPort 9001"), 0);
  ASSERT_EQ(side->command("SessionSet s1 Natted 0"), 0);
  ASSERT_EQ(side->command("Invite s1 sipp alice subject 127.0.0.1 " + std::to_string(sippPort)), 0);
  Event e;
  ASSERT_TRUE(side->waitEvent(1002, &e, 10000)) << sipp.output();
  EXPECT_EQ(e.callId, "s1");
  ASSERT_TRUE(side->waitEvent(1003, &e, 10000)) << sipp.output();
  EXPECT_NE(e.to.find("sipp"), std::string::npos);  // sipp's To, with its tag
  ASSERT_EQ(side->command("Bye s1 sipp alice 127.0.0.1 5060"), 0);
  ASSERT_TRUE(side->waitEvent(1005, &e, 10000)) << sipp.output() << messages();
  EXPECT_EQ(sipp.wait(10000), 0) << sipp.output() << messages();
  EXPECT_EQ(side->command("SessionDestroy s1"), 0);
}

TEST_P(SipSippTest, SippCallsTheBlock) {
  Relay relay(tcp ? SOCK_STREAM : SOCK_DGRAM, blockPort);
  std::vector<std::string> args = common("caller.xml", freePort(tcp ? SOCK_STREAM : SOCK_DGRAM));
  args.push_back("-s");
  args.push_back("bob");
  args.push_back("127.0.0.1:" + std::to_string(relay.port()));
  Sipp sipp(args, tempDir("sipp") + "/caller-" + transport + ".out");
  Event e;
  ASSERT_TRUE(side->waitEvent(1001, &e, 10000)) << sipp.output();
  EXPECT_EQ(e.video, "6100");
  EXPECT_EQ(e.audio, "9100");
  EXPECT_EQ(e.natted, "0");
  EXPECT_EQ(e.remoteIp, "127.0.0.1");
  EXPECT_NE(e.from.find("sipp"), std::string::npos);
  std::string id = e.callId;
  std::string from = e.from, to = e.to;
  ASSERT_EQ(side->command("SessionCreate \"" + id + "\" \"-\" \"-\""), 0);
  ASSERT_EQ(side->command("SessionSet " + id + " VideoMinPort 7001"), 0);
  ASSERT_EQ(side->command("SessionSet " + id + " AudioMinPort 10001"), 0);
  ASSERT_EQ(side->command("SessionSet " + id + " Natted 0"), 0);
  ASSERT_EQ(side->command("InviteAccept \"" + id + "\" \"" + to + "\" \"" + from +
                          "\" \"-\" \"127.0.0.1\" 5060"),
            0);
  ASSERT_TRUE(side->waitEvent(1003, &e, 10000)) << sipp.output() << messages();
  ASSERT_TRUE(side->waitEvent(1006, &e, 10000)) << sipp.output() << messages();
  EXPECT_EQ(sipp.wait(10000), 0) << sipp.output() << messages();
  EXPECT_EQ(side->command("SessionDestroy \"" + id + "\""), 0);
}

INSTANTIATE_TEST_SUITE_P(Transports, SipSippTest, ::testing::Values("TCP", "UDP"),
                         [](const ::testing::TestParamInfo<const char*>& i) {
                           return std::string(i.param);
                         });
