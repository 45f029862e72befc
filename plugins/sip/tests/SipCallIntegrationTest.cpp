// Two videophones in two processes (this one and sip_peer), each with its
// own manager, data directory and listening port, set calls up and tear
// them down over TCP and over UDP on 127.0.0.1: an accepted call ended by
// the caller, one ended by the callee, and a refused one.
#include <sys/socket.h>

#include <string>

#include "SipTestSupport.h"
#include "mosal/Trace.h"

using namespace siptest;

namespace {

class SipCallTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    Trace::setEnabled(false);
    transport = GetParam();
    int type = std::string(transport) == "TCP" ? SOCK_STREAM : SOCK_DGRAM;
    a.reset(new SipSide(std::string("caller") + transport));
    ASSERT_NE(a->block(), nullptr);
    ASSERT_EQ(a->open(transport, freePort(type)), 0);
    bPort = freePort(type);
    b.reset(new PeerProcess(std::string("callee") + transport, transport, bPort, false));
    ASSERT_TRUE(b->ready());
  }
  void TearDown() override {
    b.reset();
    a.reset();
  }

  // The caller's script: the session and the Invite.
  void invite(const std::string& id) {
    ASSERT_EQ(a->command("SessionCreate \"" + id + "\" \"subject\" \"info\""), 0);
    ASSERT_EQ(a->command("SessionSet " + id + " VideoMinPort 6001"), 0);
    ASSERT_EQ(a->command("SessionSet " + id + " AudioMinPort 9001"), 0);
    ASSERT_EQ(a->command("SessionSet " + id + " TextMinPort 0"), 0);
    ASSERT_EQ(a->command("SessionSet " + id + " WhiteBoardMinPort 0"), 0);
    ASSERT_EQ(a->command("SessionSet " + id + " Natted 0"), 0);
    ASSERT_EQ(a->command("SessionSet " + id + " To \"bob\""), 0);
    ASSERT_EQ(a->command("SessionSet " + id + " RemoteIP \"127.0.0.1\""), 0);
    ASSERT_EQ(a->command("Invite \"" + id + "\" \"bob\" \"alice\" \"subject\" \"127.0.0.1\" " +
                         std::to_string(bPort)),
              0);
  }
  // The callee's session with its local ports (0 for a refusal).
  void calleeSession(const std::string& id, int video, int audio) {
    ASSERT_EQ(b->command("SessionCreate \"" + id + "\" \"-\" \"-\""), 0);
    ASSERT_EQ(b->command("SessionSet " + id + " VideoMinPort " + std::to_string(video)), 0);
    ASSERT_EQ(b->command("SessionSet " + id + " AudioMinPort " + std::to_string(audio)), 0);
    ASSERT_EQ(b->command("SessionSet " + id + " TextMinPort 0"), 0);
    ASSERT_EQ(b->command("SessionSet " + id + " WhiteBoardMinPort 0"), 0);
    ASSERT_EQ(b->command("SessionSet " + id + " Natted 0"), 0);
  }

  const char* transport = "";
  int bPort = 0;
  std::unique_ptr<SipSide> a;
  std::unique_ptr<PeerProcess> b;
};

}  // namespace

TEST_P(SipCallTest, CallSetUpAndTornDownByEitherSide) {
  for (int round = 0; round < 2; ++round) {
    std::string id = std::string("call-") + transport + "-" + std::to_string(round);
    SCOPED_TRACE(id);
    invite(id);
    std::string offered = b->waitEvent(1001);
    ASSERT_NE(offered, "");
    EXPECT_NE(offered.find("\"" + id + "\" \"alice\" \"bob\" \"127.0.0.1\""), std::string::npos)
        << offered;
    EXPECT_NE(offered.find("\"6001\" \"9001\" \"0\""), std::string::npos) << offered;
    Event e;
    ASSERT_TRUE(a->waitEvent(1002, &e));
    EXPECT_EQ(e.callId, id);

    calleeSession(id, 7001, 10001);
    ASSERT_EQ(b->command("InviteAccept \"" + id + "\" \"bob\" \"alice\" \"-\" \"127.0.0.1\" 5060"), 0);
    ASSERT_TRUE(a->waitEvent(1003, &e));
    EXPECT_EQ(e.video, "7001");
    EXPECT_EQ(e.audio, "10001");
    EXPECT_NE(b->waitEvent(1003), "");

    if (round == 0) {
      ASSERT_EQ(a->command("Bye \"" + id + "\" \"bob\" \"alice\" \"127.0.0.1\" 5060"), 0);
      EXPECT_NE(b->waitEvent(1006), "");
      ASSERT_TRUE(a->waitEvent(1005, &e));
    } else {
      ASSERT_EQ(b->command("Bye \"" + id + "\" \"bob\" \"alice\" \"127.0.0.1\" 5060"), 0);
      ASSERT_TRUE(a->waitEvent(1006, &e));
      EXPECT_EQ(e.callId, id);
      EXPECT_NE(b->waitEvent(1005), "");
    }
    EXPECT_EQ(a->command("SessionDestroy \"" + id + "\""), 0);
    EXPECT_EQ(b->command("SessionDestroy \"" + id + "\""), 0);
  }
}

TEST_P(SipCallTest, RefusedCall) {
  std::string id = std::string("refused-") + transport;
  invite(id);
  ASSERT_NE(b->waitEvent(1001), "");
  Event e;
  ASSERT_TRUE(a->waitEvent(1002, &e));
  calleeSession(id, 0, 0);
  ASSERT_EQ(b->command("Bye \"" + id + "\" \"bob\" \"alice\" \"127.0.0.1\" 5060"), 0);
  ASSERT_TRUE(a->waitEvent(1006, &e));
  EXPECT_EQ(e.callId, id);
  EXPECT_NE(b->waitEvent(1005), "");
  EXPECT_EQ(b->command("SessionDestroy \"" + id + "\""), 0);
  EXPECT_EQ(a->command("SessionDestroy \"" + id + "\""), 0);
  // Both sides take the next call.
  invite(id + "-again");
  ASSERT_NE(b->waitEvent(1001), "");
  ASSERT_TRUE(a->waitEvent(1002, &e));
}

INSTANTIATE_TEST_SUITE_P(Transports, SipCallTest, ::testing::Values("TCP", "UDP"),
                         [](const ::testing::TestParamInfo<const char*>& i) {
                           return std::string(i.param);
                         });
