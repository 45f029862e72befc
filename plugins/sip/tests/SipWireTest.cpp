// The block on the wire, against raw loopback sockets: the exact bytes of
// its INVITE, BYE and answers, the events each message gives, messages
// with bodies and messages that arrive together, empty values, and the
// session table staying bounded.
#include <sys/socket.h>

#include <string>

#include "SipTestSupport.h"
#include "mosal/Trace.h"

using namespace siptest;

namespace {

const char kRinging[] =
    "SIP/2.0 180 Ringing\r\nTo: bob\r\nFrom: alice\r\nCall-ID: c1\r\nCSeq: 1 INVITE\r\n\r\n";
const char kAccept[] =
    "INVITE alice SIP/2.0\r\nTo: bob\r\nFrom: alice\r\nCall-ID: c1\r\nCSeq: 1 INVITE\r\n"
    "X-Video-Port: 7001\r\nX-Audio-Port: 10001\r\nX-Text-Port: 0\r\nX-WhiteBoard-Port: 0\r\n"
    "X-Natted: 0\r\n\r\n";

std::string invite(const std::string& callId, const std::string& extra = "") {
  return "INVITE bob SIP/2.0\r\nTo: bob\r\nFrom: alice\r\nCall-ID: " + callId +
         "\r\nCSeq: 1 INVITE\r\nX-Video-Port: 6001\r\nX-Audio-Port: 9001\r\nX-Text-Port: 0\r\n"
         "X-WhiteBoard-Port: 0\r\nX-Natted: 1\r\n" + extra + "\r\n";
}

std::string answer(const std::string& status, const std::string& callId,
                   const std::string& cseq = "1 INVITE") {
  return "sip/2.0 " + status + "\r\nFrom: alice\r\nCall-ID: " + callId + "\r\nTo: bob\r\nCSeq: " +
         cseq + "\r\n\r\n";
}

unsigned countKeys(ConfigTable* t, const std::string& prefix) {
  unsigned n = 0;
  SharedHash* params = t->getParamTable();
  MutexLock l(*params->getMutex());
  Hash* h = params;
  Enumeration* e = h->keys();
  while (e->hasMoreElements())
    if (std::string(e->nextElement()->data).rfind(prefix, 0) == 0) ++n;
  return n;
}

class SipWireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Trace::setEnabled(false);
    side.reset(new SipSide("sipwire"));
    ASSERT_NE(side->block(), nullptr);
  }
  void TearDown() override { side.reset(); }

  // A caller's session c1 with the application's usual keys.
  void callerSession() {
    ASSERT_EQ(side->command("SessionCreate c1 subject info"), 0);
    ASSERT_EQ(side->command("SessionSet c1 VideoMinPort 6001"), 0);
    ASSERT_EQ(side->command("SessionSet c1 AudioMinPort 9001"), 0);
    ASSERT_EQ(side->command("SessionSet c1 TextMinPort 0"), 0);
    ASSERT_EQ(side->command("SessionSet c1 WhiteBoardMinPort 0"), 0);
    ASSERT_EQ(side->command("SessionSet c1 Natted 1"), 0);
    ASSERT_EQ(side->command("SessionSet c1 To \"bob\""), 0);
  }

  std::unique_ptr<SipSide> side;
};

}  // namespace

// The caller's side of a call over TCP, byte for byte.
TEST_F(SipWireTest, CallerSendsInviteAndByeAndAnswersTheAcceptance) {
  SipSide& s = *side;
  ASSERT_EQ(s.open("TCP", freePort(SOCK_STREAM)), 0);
  callerSession();
  RawSocket callee = RawSocket::listener();
  ASSERT_TRUE(callee.ok());
  ASSERT_EQ(s.command("Invite c1 bob alice subject 127.0.0.1 " + std::to_string(callee.port())), 0);
  RawSocket conn = callee.accept();
  ASSERT_TRUE(conn.ok());
  EXPECT_EQ(conn.readUntil(),
            "INVITE bob SIP/2.0\r\nFrom: alice\r\nCall-ID: c1\r\nTo: bob\r\nX-Text-Port: 0\r\n"
            "X-Video-Port: 6001\r\nX-Audio-Port: 9001\r\nX-Natted: 1\r\nX-WhiteBoard-Port: 0\r\n"
            "CSeq: 1 INVITE\r\n\r\n");
  Event e;
  EXPECT_TRUE(s.quiet(50));

  // The callee rings and accepts in one write: both are served.
  ASSERT_TRUE(conn.send(std::string(kRinging) + kAccept));
  ASSERT_TRUE(s.waitEvent(1002, &e));
  EXPECT_EQ(e.callId, "c1");
  EXPECT_EQ(e.remoteIp, "127.0.0.1");
  EXPECT_EQ(e.remotePort, std::to_string(callee.port()));
  ASSERT_TRUE(s.waitEvent(1003, &e));
  EXPECT_EQ(e.video, "7001");  // the callee's ports replace ours
  EXPECT_EQ(e.audio, "10001");
  EXPECT_EQ(e.natted, "0");
  EXPECT_EQ(conn.readUntil(), answer("200 Ok", "c1"));

  ASSERT_EQ(s.command("Bye c1 bob alice 127.0.0.1 5060"), 0);
  EXPECT_EQ(conn.readUntil(),
            "BYE bob SIP/2.0\r\nFrom: alice\r\nCall-ID: c1\r\nTo: bob\r\nMax-Forwards: 70\r\n"
            "CSeq: 1 BYE\r\n\r\n");
  ASSERT_TRUE(conn.send("SIP/2.0 200 OK\r\nTo: bob\r\nFrom: alice\r\nCall-ID: c1\r\n"
                        "CSeq: 1 BYE\r\n\r\n"));
  ASSERT_TRUE(s.waitEvent(1005, &e));
  EXPECT_EQ(e.callId, "c1");
  ASSERT_EQ(s.command("SessionDestroy c1"), 0);
  EXPECT_TRUE(conn.closedByPeer());
}

// The callee's side over TCP: an incoming INVITE rings, the acceptance goes
// back on the same connection, the peer's BYE ends the call.
TEST_F(SipWireTest, CalleeRingsAcceptsAndTakesTheByeOnTheSameConnection) {
  SipSide& s = *side;
  int port = freePort(SOCK_STREAM);
  ASSERT_EQ(s.open("TCP", port), 0);
  RawSocket caller(SOCK_STREAM, port);
  ASSERT_TRUE(caller.ok());
  ASSERT_TRUE(caller.send(invite("c9")));
  EXPECT_EQ(caller.readUntil(), answer("180 Ringing", "c9"));
  Event e;
  ASSERT_TRUE(s.waitEvent(1001, &e));
  EXPECT_EQ(e.callId, "c9");
  EXPECT_EQ(e.from, "alice");
  EXPECT_EQ(e.to, "bob");
  EXPECT_EQ(e.remoteIp, "127.0.0.1");
  EXPECT_EQ(e.remotePort, std::to_string(caller.port()));
  EXPECT_EQ(e.video, "6001");
  EXPECT_EQ(e.audio, "9001");
  EXPECT_EQ(e.natted, "1");
  EXPECT_EQ(countKeys(s.table(), "_RECV_c9"), 1u);

  // A BYE for a call that is only offered: untouched status, no event.
  ASSERT_TRUE(caller.send("BYE bob SIP/2.0\r\nTo: bob\r\nFrom: alice\r\nCall-ID: c9\r\n"
                          "CSeq: 1 BYE\r\n\r\n"));
  EXPECT_EQ(caller.readUntil(), "sip/2.0 0 \r\n\r\n");
  EXPECT_TRUE(s.quiet(50));

  ASSERT_EQ(s.command("SessionCreate c9 - -"), 0);
  ASSERT_EQ(s.command("SessionSet c9 VideoMinPort 7001"), 0);
  ASSERT_EQ(s.command("SessionSet c9 AudioMinPort 10001"), 0);
  ASSERT_EQ(s.command("SessionSet c9 TextMinPort 0"), 0);
  ASSERT_EQ(s.command("SessionSet c9 WhiteBoardMinPort 0"), 0);
  ASSERT_EQ(s.command("SessionSet c9 Natted 0"), 0);
  ASSERT_EQ(s.command("InviteAccept c9 bob alice - 127.0.0.1 5060"), 0);
  EXPECT_EQ(caller.readUntil(),
            "INVITE bob SIP/2.0\r\nFrom: alice\r\nCall-ID: c9\r\nTo: bob\r\nX-Text-Port: 0\r\n"
            "X-Video-Port: 7001\r\nX-Audio-Port: 10001\r\nX-Natted: 0\r\nX-WhiteBoard-Port: 0\r\n"
            "CSeq: 1 INVITE\r\n\r\n");
  ASSERT_TRUE(caller.send("sip/2.0 200 Ok\r\nTo: bob\r\nFrom: alice\r\nCall-ID: c9\r\n"
                          "CSeq: 1 INVITE\r\n\r\n"));
  ASSERT_TRUE(s.waitEvent(1003, &e));
  EXPECT_EQ(e.callId, "c9");

  ASSERT_TRUE(caller.send("BYE bob SIP/2.0\r\nTo: bob\r\nFrom: alice\r\nCall-ID: c9\r\n"
                          "CSeq: 1 BYE\r\n\r\n"));
  EXPECT_EQ(caller.readUntil(), answer("200 Ok", "c9", "1 BYE"));
  ASSERT_TRUE(s.waitEvent(1006, &e));
  EXPECT_EQ(e.remoteIp, "127.0.0.1");
  EXPECT_EQ(e.remotePort, std::to_string(caller.port()));
  ASSERT_EQ(s.command("SessionDestroy c9"), 0);
  EXPECT_TRUE(caller.closedByPeer());
  // The ended connection took the offered call's entry with it.
  ASSERT_TRUE(waitUntil([&] { return countKeys(s.table(), "_RECV_") == 0; }));

  std::string log = s.logText();
  std::string from = "127.0.0.1:" + std::to_string(caller.port());
  for (const std::string& line :
       {"SERVER: INVITE FROM " + from, std::string("SERVER: to   =bob"),
        std::string("SERVER: vport=6001"), std::string("SERVER: nat  =1"),
        "SERVER: Create Session for " + from, "SERVER: BYE from " + from,
        std::string("SERVER: cseq =1 BYE"), "HANDLE_RESPONSE FROM " + from,
        std::string("HANDLE_RESPONSE: sl  =sip/2.0 200 Ok"),
        std::string("HANDLE_RESPONSE: cseq=1 INVITE")})
    EXPECT_NE(log.find("): " + line + "\n"), std::string::npos) << line;
}

// An empty session value leaves its header out instead of moving the
// values behind it into the wrong headers.
TEST_F(SipWireTest, EmptyValueLeavesItsHeaderOut) {
  SipSide& s = *side;
  ASSERT_EQ(s.open("TCP", freePort(SOCK_STREAM)), 0);
  ASSERT_EQ(s.command("SessionCreate c1 subject info"), 0);
  ASSERT_EQ(s.command("SessionSet c1 VideoMinPort 6001"), 0);
  ASSERT_EQ(s.command("SessionSet c1 AudioMinPort 9001"), 0);
  ASSERT_EQ(s.command("SessionSet c1 WhiteBoardMinPort 5"), 0);
  ASSERT_EQ(s.command("SessionSet c1 Natted 1"), 0);
  RawSocket callee = RawSocket::listener();
  ASSERT_EQ(s.command("Invite c1 bob alice subject 127.0.0.1 " + std::to_string(callee.port())), 0);
  RawSocket conn = callee.accept();
  EXPECT_EQ(conn.readUntil(),
            "INVITE bob SIP/2.0\r\nFrom: alice\r\nCall-ID: c1\r\nTo: bob\r\n"
            "X-Video-Port: 6001\r\nX-Audio-Port: 9001\r\nX-Natted: 1\r\nX-WhiteBoard-Port: 5\r\n"
            "CSeq: 1 INVITE\r\n\r\n");
}

// Bodies (a session description, as ordinary SIP phones send) are read and
// dropped, however they are cut, and the connection goes on with the next
// message.
TEST_F(SipWireTest, BodiesAreDroppedAndTheConnectionGoesOn) {
  SipSide& s = *side;
  int port = freePort(SOCK_STREAM);
  ASSERT_EQ(s.open("TCP", port), 0);
  RawSocket caller(SOCK_STREAM, port);
  std::string sdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nm=audio 9 RTP/AVP 0\r\n";
  std::string msg = invite("cb", "Content-Type: application/sdp\r\nContent-Length: " +
                                     std::to_string(sdp.size()) + "\r\n");
  ASSERT_TRUE(caller.send(msg + sdp.substr(0, 10)));
  EXPECT_EQ(caller.readUntil("\r\n\r\n", 300), "");  // the body is not complete yet
  ASSERT_TRUE(caller.send(sdp.substr(10) + "OPTIONS x SIP/2.0\r\nTo: a\r\nFrom: b\r\n"
                          "Call-ID: o\r\nCSeq: 1 OPTIONS\r\n\r\n"));
  EXPECT_EQ(caller.readMessages(2), answer("180 Ringing", "cb") + "sip/2.0 0 \r\n\r\n");
  Event e;
  ASSERT_TRUE(s.waitEvent(1001, &e));
  EXPECT_EQ(e.callId, "cb");
  // A body bigger than any buffer of the message.
  std::string big(200000, 'x');
  ASSERT_TRUE(caller.send(invite("cc", "Content-Type: text/plain\r\nContent-Length: " +
                                           std::to_string(big.size()) + "\r\n") + big));
  EXPECT_EQ(caller.readUntil(), answer("180 Ringing", "cc"));
}

// Incoming calls that nobody answers leave nothing behind once their
// connections end; over UDP, where the connection stays, at most a bounded
// number of offered calls is kept.
TEST_F(SipWireTest, OfferedCallsDoNotPileUp) {
  SipSide& s = *side;
  int port = freePort(SOCK_STREAM);
  ASSERT_EQ(s.open("TCP", port), 0);
  unsigned keysBefore = s.table()->getParamTable()->getEntryCount();
  for (int i = 0; i < 150; ++i) {
    RawSocket caller(SOCK_STREAM, port);
    ASSERT_TRUE(caller.send(invite("t" + std::to_string(i))));
    ASSERT_EQ(caller.readUntil(), answer("180 Ringing", "t" + std::to_string(i)));
  }
  ASSERT_TRUE(waitUntil([&] { return countKeys(s.table(), "_RECV_") == 0; }));
  EXPECT_EQ(s.table()->getParamTable()->getEntryCount(), keysBefore);

  int udp = freePort(SOCK_DGRAM);
  ASSERT_EQ(s.open("UDP", udp), 0);
  RawSocket caller(SOCK_DGRAM, udp);
  for (int i = 0; i < 150; ++i) {
    ASSERT_TRUE(caller.send(invite("u" + std::to_string(i))));
    ASSERT_EQ(caller.recvDatagram(), answer("180 Ringing", "u" + std::to_string(i)));
  }
  EXPECT_LE(countKeys(s.table(), "_RECV_"), 64u);
  EXPECT_GE(countKeys(s.table(), "_RECV_u149"), 1u);
}

// Over UDP the callee's session travels on the block's own server socket:
// destroying it leaves the socket serving later calls.
TEST_F(SipWireTest, DatagramServerSocketOutlivesTheSessionsOnIt) {
  SipSide& s = *side;
  int port = freePort(SOCK_DGRAM);
  ASSERT_EQ(s.open("UDP", port), 0);
  RawSocket caller(SOCK_DGRAM, port);
  ASSERT_TRUE(caller.send(invite("d1")));
  EXPECT_EQ(caller.recvDatagram(), answer("180 Ringing", "d1"));
  Event e;
  ASSERT_TRUE(s.waitEvent(1001, &e));
  ASSERT_EQ(s.command("SessionCreate d1 - -"), 0);
  ASSERT_EQ(s.command("SessionSet d1 VideoMinPort 7001"), 0);
  // Someone else writes to the server socket before the acceptance goes out:
  // the acceptance still goes to the caller.
  RawSocket stranger(SOCK_DGRAM, port);
  ASSERT_TRUE(stranger.send("OPTIONS x SIP/2.0\r\nTo: a\r\nFrom: b\r\nCall-ID: o\r\n"
                            "CSeq: 1 OPTIONS\r\n\r\n"));
  EXPECT_EQ(stranger.recvDatagram(), "sip/2.0 0 \r\n\r\n");
  ASSERT_EQ(s.command("InviteAccept d1 bob alice - 127.0.0.1 5060"), 0);
  std::string acceptance = caller.recvDatagram();
  EXPECT_EQ(acceptance.rfind("INVITE bob SIP/2.0\r\n", 0), 0u) << acceptance;
  ASSERT_TRUE(caller.send("SIP/2.0 200 OK\r\nTo: bob\r\nFrom: alice\r\nCall-ID: d1\r\n"
                          "CSeq: 1 INVITE\r\n\r\n"));
  ASSERT_TRUE(s.waitEvent(1003, &e));
  ASSERT_EQ(s.command("SessionDestroy d1"), 0);
  EXPECT_EQ(countKeys(s.table(), "_RECV_"), 0u);
  // Final and broken responses are taken and dropped; the socket stays.
  ASSERT_EQ(s.command("SessionCreate d3 - -"), 0);
  ASSERT_TRUE(caller.send("SIP/2.0 486 Busy\r\nTo: bob\r\nFrom: alice\r\nCall-ID: d3\r\n"
                          "CSeq: 1 INVITE\r\n\r\n"));
  ASSERT_TRUE(s.waitEvent(1004, &e));
  ASSERT_TRUE(caller.send("SIP/2.0 180\r\n\r\n"));
  ASSERT_TRUE(caller.send(invite("d2")));
  EXPECT_EQ(caller.recvDatagram(), answer("180 Ringing", "d2"));
}

// An application that accepts at once, while the "Ringing" answer is still
// on its way out: the acceptance INVITE follows the answer, it never
// replaces it. Repeated, because how quickly the two meet varies.
TEST_F(SipWireTest, QuickAcceptanceFollowsTheRingingAnswer) {
  SipSide& s = *side;
  int port = freePort(SOCK_STREAM);
  ASSERT_EQ(s.open("TCP", port), 0);
  for (int i = 0; i < 30; ++i) {
    std::string id = "q" + std::to_string(i);
    RawSocket caller(SOCK_STREAM, port);
    ASSERT_TRUE(caller.send(invite(id)));
    Event e;
    ASSERT_TRUE(s.waitEvent(1001, &e));
    ASSERT_EQ(s.command("SessionCreate " + id + " - -\nSessionSet " + id +
                        " VideoMinPort 7001\nInviteAccept " + id + " bob alice - 127.0.0.1 5060"),
              0);
    std::string got = caller.readMessages(2);
    ASSERT_EQ(got.rfind(answer("180 Ringing", id), 0), 0u) << got;
    EXPECT_NE(got.find("INVITE bob SIP/2.0\r\n"), std::string::npos) << got;
    ASSERT_EQ(s.command("SessionDestroy " + id), 0);
  }
}
