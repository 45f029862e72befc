// An outside SIP peer, sipp: as the callee it answers the block's INVITE
// (180, then 200 with a session description) and takes its BYE; as the
// caller it sends an INVITE with the media port headers and a session
// description, takes the block's "Ringing", answers the acceptance and
// ends the call. Skipped when sipp is not installed.
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
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
  // sipp needs a moment to listen; the block's Invite is retried until it
  // reaches it (each failed attempt is a 2000 event, no more).
  ASSERT_EQ(side->command("SessionCreate s1 subject info"), 0);
  ASSERT_EQ(side->command("SessionSet s1 VideoMinPort 6001"), 0);
  ASSERT_EQ(side->command("SessionSet s1 AudioMinPort 9001"), 0);
  ASSERT_EQ(side->command("SessionSet s1 Natted 0"), 0);
  bool sent = false;
  for (int attempt = 0; attempt < 200 && !sent; ++attempt) {
    int r = side->command("Invite s1 sipp alice subject 127.0.0.1 " + std::to_string(sippPort));
    if (r == 0) {
      sent = true;
    } else {
      Event e;
      side->waitEvent(2000, &e, 100);
      Thread::sleep(20);
    }
    if (!tcp) break;  // a datagram needs no listener to be sent
  }
  ASSERT_TRUE(sent);
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
  std::vector<std::string> args = common("caller.xml", freePort(tcp ? SOCK_STREAM : SOCK_DGRAM));
  args.push_back("-s");
  args.push_back("bob");
  args.push_back("127.0.0.1:" + std::to_string(blockPort));
  Sipp sipp(args, tempDir("sipp") + "/caller-" + transport + ".out");
  Event e;
  ASSERT_TRUE(side->waitEvent(1001, &e, 10000)) << sipp.output();
  EXPECT_EQ(e.video, "6100");
  EXPECT_EQ(e.audio, "9100");
  EXPECT_EQ(e.natted, "0");
  EXPECT_EQ(e.remoteIp, "127.0.0.1");
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
