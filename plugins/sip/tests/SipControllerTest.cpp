// The "SipController" block as the framework loads it: registration,
// properties, reset and quit, the session commands, and the commands that
// fail before anything reaches the network.
#include <sys/socket.h>

#include <cstring>
#include <string>

#include "SipTestSupport.h"
#include "mosal/Logger.h"
#include "mosal/Trace.h"

using namespace siptest;

namespace {

class SipControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Trace::setEnabled(false);
    side.reset(new SipSide("sipctl"));
    ASSERT_NE(side->block(), nullptr);
  }
  void TearDown() override { side.reset(); }
  std::unique_ptr<SipSide> side;
};

std::string text(ConfigTable* t, const char* key) {
  char buf[256];
  return t->copyString(key, buf, sizeof buf) == 0 ? buf : "<absent>";
}

bool hasObject(ConfigTable* t, const char* key) {
  void* obj = nullptr;
  unsigned short size = 0;
  return t->getObject(key, &obj, &size) == 0 && obj != nullptr;
}

}  // namespace

TEST_F(SipControllerTest, RecordHandlersPropertiesAndCommands) {
  BlockManager* m = side->manager();
  Plugin* p = m->getPluginLoader()->getPlugin("SipController");
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p->getInfo(), "Provides blocks for session control by SIP request/response protocol");
  EXPECT_STREQ(p->getVersionString(), "0.20.0.0");
  EXPECT_EQ(p->provides, Block::TYPE_CONTROL);
  protocol_handler_t* tcp = m->getProtocolHandler("sip/2.0/TCP");
  protocol_handler_t* udp = m->getProtocolHandler("sip/2.0/UDP");
  ASSERT_NE(tcp, nullptr);
  ASSERT_NE(udp, nullptr);
  EXPECT_EQ(tcp->plugin, p);
  EXPECT_NE(tcp->protocol, udp->protocol);

  ConfigTable* t = side->table();
  EXPECT_EQ(text(t, "Transport"), "UDP");
  int port = 0;
  ASSERT_EQ(t->getInt("ListenPort", &port), 0);
  EXPECT_EQ(port, 5060);
  ASSERT_EQ(t->getInt("RegistrarPort", &port), 0);
  EXPECT_EQ(port, 5060);
  EXPECT_NE(text(t, "RegistrarHost"), "<absent>");
  Property* d = t->getPropertyDescription("Transport");
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d->description->getData(), "Transport protocol for sip messages");
  ASSERT_EQ(d->choices->size(), 2u);
  EXPECT_STREQ(d->choices->elementAt(0), "UDP");
  EXPECT_STREQ(d->choices->elementAt(1), "TCP");
  d = t->getPropertyDescription("ListenPort");
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d->description->getData(), "Port the sip server will listen on");
  EXPECT_EQ(d->max, 65535);
  EXPECT_EQ(d->min, 1);
  d = t->getPropertyDescription("RegistrarHost");
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d->description->getData(), "Hostname of the registrar server");
  d = t->getPropertyDescription("RegistrarPort");
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d->description->getData(), "Port the sip registrar listens on");
  EXPECT_STREQ(side->block()->getInfo()->get(), "SIP 2.0");

  // The nine commands and nothing else.
  EXPECT_EQ(side->command("Register a b c"), 0);
  EXPECT_EQ(side->command("Update a b"), 0);
  EXPECT_EQ(side->command("Ack a"), 0);
  EXPECT_EQ(side->command("Cancel a b"), -1);
  EXPECT_EQ(side->command("Options a b"), -1);
  EXPECT_EQ(side->command("SessionCreate a b"), -3);
  EXPECT_EQ(side->command("Bye a b c d"), -3);
}

// Reset opens the server socket of the transport, and only for "UDP" and
// "TCP" exactly; quit takes it away; quit without reset does nothing.
TEST_F(SipControllerTest, ResetOpensTheServerSocketAndQuitClosesIt) {
  EXPECT_EQ(side->open("tcp", 0), 0);
  EXPECT_FALSE(hasObject(side->table(), "_ts"));
  EXPECT_EQ(side->open("SCTP", 0), 0);
  EXPECT_FALSE(hasObject(side->table(), "_ts"));

  int port = freePort(SOCK_STREAM);
  ASSERT_EQ(side->open("TCP", port), 0) << side->block()->getErrorString();
  EXPECT_EQ(side->serverPort(), port);
  // A second reset replaces the listening socket on the same port.
  ASSERT_EQ(side->open("TCP", port), 0) << side->block()->getErrorString();
  EXPECT_EQ(side->serverPort(), port);
  RawSocket c(SOCK_STREAM, port);
  EXPECT_TRUE(c.ok());

  int udp = freePort(SOCK_DGRAM);
  ASSERT_EQ(side->open("UDP", udp), 0) << side->block()->getErrorString();
  EXPECT_EQ(side->serverPort(), udp);
  // The TCP port is free again once the loop has let go of its socket.
  EXPECT_TRUE(waitUntil([&] { return !RawSocket(SOCK_STREAM, port).ok(); }));
}

TEST_F(SipControllerTest, QuitWithoutResetAndResetOfABusyPort) {
  EXPECT_EQ(side->manager()->sendMessage(side->block()->getName(), "quit", true), 0);

  SipSide other("sipctl2");
  RawSocket busy = RawSocket::listener();
  ASSERT_TRUE(busy.ok());
  EXPECT_EQ(other.open("TCP", busy.port()), 2);
  EXPECT_STRNE(other.block()->getErrorString(), "");
  EXPECT_FALSE(hasObject(other.table(), "_ts"));
}

// Sessions: create, set, destroy, and the results of each failure.
TEST_F(SipControllerTest, SessionCommands) {
  EXPECT_EQ(side->command("SessionCreate c1 name desc"), 0);
  SipSide& s = *side;
  void* obj = nullptr;
  unsigned short size = 0;
  ASSERT_EQ(s.table()->getObject("c1", &obj, &size), 0);
  ConfigTable* d = static_cast<ConfigTable*>(obj);
  EXPECT_EQ(text(d, "Call-ID"), "c1");
  for (const char* k : {"To", "From", "Contact", "VideoMinPort", "AudioMinPort", "RemoteIP",
                        "RemotePort", "Natted", "Phone", "DataTransport"})
    EXPECT_EQ(text(d, k), "") << k;
  EXPECT_EQ(s.command("SessionCreate c1 again desc"), 10);
  EXPECT_EQ(s.command("SessionSet c1 VideoMinPort 6001"), 0);
  EXPECT_EQ(text(d, "VideoMinPort"), "6001");
  EXPECT_EQ(s.command("SessionSet c1 NewKey \"a value\""), 0);
  EXPECT_EQ(text(d, "NewKey"), "a value");
  EXPECT_EQ(s.command("SessionSet nope VideoMinPort 1"), 11);
  // Keys of the block are no sessions.
  EXPECT_EQ(s.command("SessionSet ListenPort x y"), 11);
  EXPECT_EQ(s.command("SessionSet _sip x y"), 11);
  EXPECT_EQ(s.command("SessionDestroy _sip"), 11);
  EXPECT_EQ(s.command("SessionCreate Transport n d"), 21);
  EXPECT_EQ(text(s.table(), "Transport"), "UDP");

  EXPECT_EQ(s.command("SessionDestroy c1"), 0);
  EXPECT_EQ(s.command("SessionDestroy c1"), 11);
  unsigned char type = 0;
  EXPECT_EQ(s.table()->getParamType("c1", &type), -1);  // the key went with it
  EXPECT_EQ(s.command("SessionCreate c1 n d"), 0);
  EXPECT_EQ(s.command("SessionDestroy c1"), 0);

  // The lines reach the manager's log.
  std::string log = s.logText();
  EXPECT_NE(log.find("Session c1 created"), std::string::npos);
  EXPECT_NE(log.find("Session Name: name"), std::string::npos);
  EXPECT_NE(log.find("Session c1 exists"), std::string::npos);
  EXPECT_NE(log.find("Session c1: Set VideoMinPort (value = 6001)"), std::string::npos);
  EXPECT_NE(log.find("Session nope not found"), std::string::npos);
  EXPECT_NE(log.find("Session c1 deleted"), std::string::npos);
  EXPECT_NE(log.find("Session Transport error"), std::string::npos);
}

// The commands that stop before the network, with their events: a peer
// where nothing listens (2000), no connection for InviteAccept (2001) and
// Bye (2002), a value that would break the request (3).
TEST_F(SipControllerTest, RequestCommandsWithoutPeerOrConnection) {
  SipSide& s = *side;
  s.table()->setString("Transport", "TCP", 4);
  EXPECT_EQ(s.command("Invite nope bob alice - 127.0.0.1 5060"), 11);
  EXPECT_EQ(s.command("InviteAccept nope bob alice - - 5060"), 11);
  EXPECT_EQ(s.command("Bye nope bob alice - 5060"), 11);
  ASSERT_EQ(s.command("SessionCreate c2 n d"), 0);

  int closed = freePort(SOCK_STREAM);
  EXPECT_EQ(s.command("Invite c2 bob alice - 127.0.0.1 " + std::to_string(closed)), 2);
  Event e;
  ASSERT_TRUE(s.waitEvent(2000, &e));
  EXPECT_EQ(e.callId, "c2");
  EXPECT_EQ(e.remoteIp, "");  // set only once connected
  EXPECT_EQ(s.command("Invite c2 bob alice - no-such-host.invalid 5060"), 2);
  ASSERT_TRUE(s.waitEvent(2000, &e));

  EXPECT_EQ(s.command("InviteAccept c2 bob alice - - 5060"), 2);
  ASSERT_TRUE(s.waitEvent(2001, &e));
  EXPECT_EQ(e.callId, "c2");
  EXPECT_EQ(s.command("Bye c2 bob alice - 5060"), 2);
  ASSERT_TRUE(s.waitEvent(2002, &e));
  EXPECT_EQ(s.command("Bye c2 bob alice - 5060 a b c d e"), 2);
  ASSERT_TRUE(s.waitEvent(2002, &e));

  // A value with a line end would break the request: nothing is sent.
  RawSocket peer = RawSocket::listener();
  ASSERT_EQ(s.command("SessionSet c2 Contact a\rb"), 0);
  ASSERT_EQ(s.command("SessionSet c2 Contact \"a\rb\""), 0);
  EXPECT_EQ(s.command("Invite c2 bob alice - 127.0.0.1 " + std::to_string(peer.port())), 3);
  RawSocket none = peer.accept(200);
  EXPECT_FALSE(none.ok());
  EXPECT_TRUE(s.quiet(100));

  // With nobody listening for events the event is dropped, the command
  // still answers.
  ASSERT_EQ(s.command("SessionSet c2 Contact alice"), 0);
  s.disconnectEvents();
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  int r = s.command("Invite c2 bob alice - 127.0.0.1 " + std::to_string(closed));
  std::string out = testing::internal::GetCapturedStdout();
  Trace::setEnabled(false);
  EXPECT_EQ(r, 2);
  EXPECT_NE(out.find("unconnected\n"), std::string::npos);

  std::string log = s.logText();
  EXPECT_NE(log.find("Session c2: INVITE: Connect To 127.0.0.1:" + std::to_string(closed)),
            std::string::npos);
  EXPECT_NE(log.find("Session c2: INVITE: Connect Error"), std::string::npos);
  EXPECT_NE(log.find("Session nope: INVITE_ACCEPT: Not found"), std::string::npos);
  EXPECT_NE(log.find("Session c2: BYE: Error"), std::string::npos);
  EXPECT_NE(log.find("Session c2: INVITE: Malformed MidLevel Request (ret = ffffffff)"),
            std::string::npos);
}
