// Sockets over loopback: stream transfer and connection names, a refused
// connect that leaves a usable socket, timed reads, resume, datagram
// gather/scatter and last-sender bookkeeping, accepting into the event loop,
// multicast options.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "mosal/DataBuf.h"
#include "mosal/Trace.h"
#include "mosal_posix/IOMonitor.h"
#include "mosal_posix/Sock.h"
#include "mosal_posix/Thread.h"

using namespace MorvaneLib;

namespace {

InetAddress loopback(unsigned short port) { return InetAddress("127.0.0.1", port); }

// A listening socket on 127.0.0.1 and a system-chosen port.
TCPServerSock* listenLocal() {
  InetAddress at("127.0.0.1", 0);
  return new TCPServerSock(at, 8);
}

int readTimed(Sock& s, char* buf, unsigned n, int ms) {
  time_info_t t{ms / 1000, (ms % 1000) * 1000, false};
  return s.read(buf, n, &t);
}

bool noDelay(Sock& s) {
  int on = 0;
  socklen_t len = sizeof on;
  getsockopt(s.getDescriptor(), IPPROTO_TCP, TCP_NODELAY, &on, &len);
  return on != 0;
}

class SockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    traced = Trace::enabled();
    Trace::setEnabled(false);
  }
  void TearDown() override { Trace::setEnabled(traced); }
  bool traced = true;
};

}  // namespace

TEST_F(SockTest, StreamTransferBothWaysWithAddressesAndNoDelay) {
  TCPServerSock* server = listenLocal();
  unsigned short port = server->getLocalAddress()->getPort();
  ASSERT_NE(port, 0);
  TCPSock client;
  InetAddress to = loopback(port);
  ASSERT_EQ(client.connect(to), 0) << client.getErrorString();
  TCPSock* peer = server->accept();
  ASSERT_NE(peer, nullptr);

  EXPECT_STREQ(client.getRemoteAddress()->toString(), "127.0.0.1");
  EXPECT_EQ(client.getRemoteAddress()->getPort(), port);
  EXPECT_EQ(peer->getRemoteAddress()->getPort(), [&] {
    client.updateLocalAddress();
    return client.getLocalAddress()->getPort();
  }());
  EXPECT_TRUE(noDelay(client));
  EXPECT_TRUE(noDelay(*peer));

  std::string big(200000, 'q');
  for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<char>(i * 31);
  std::thread writer([&] { EXPECT_EQ(client.writeAll(big.data(), static_cast<unsigned>(big.size())), 200000); });
  std::string got(big.size(), '\0');
  bool eof = true;
  EXPECT_EQ(peer->readAll(&got[0], static_cast<unsigned>(got.size()), &eof), 200000);
  writer.join();
  EXPECT_FALSE(eof);
  EXPECT_TRUE(got == big);

  // The peer goes away: a read gives 0 and "End of file", a write -1 (and
  // never a SIGPIPE that would end the process).
  delete peer;
  char c;
  EXPECT_EQ(readTimed(client, &c, 1, 2000), 0);
  EXPECT_STREQ(client.getErrorString(), "End of file");
  int r = 0;
  for (int i = 0; i < 50 && r >= 0; i++) r = client.write(big.data(), 65536);
  EXPECT_EQ(r, -1);
  delete server;
}

// Messages written with "more follows" are held for the next write or a
// push, never lost or reordered.
TEST_F(SockTest, HeldWritesArriveWholeAfterThePlainWriteOrAPush) {
  TCPServerSock* server = listenLocal();
  TCPSock client;
  InetAddress to = loopback(server->getLocalAddress()->getPort());
  ASSERT_EQ(client.connect(to), 0) << client.getErrorString();
  TCPSock* peer = server->accept();
  ASSERT_NE(peer, nullptr);
  client.setMoreFollows(true);
  ASSERT_EQ(client.write("answer;", 7), 7);
  client.setMoreFollows(false);
  ASSERT_EQ(client.write("request;", 8), 8);
  client.setMoreFollows(true);
  ASSERT_EQ(client.write("last", 4), 4);
  EXPECT_EQ(client.push(), 0);
  std::string got(19, '\0');
  bool eof = true;
  EXPECT_EQ(peer->readAll(&got[0], 19, &eof), 19);
  EXPECT_EQ(got, "answer;request;last");
  client.close();
  EXPECT_EQ(client.push(), -1);
  delete peer;
  delete server;
}

TEST_F(SockTest, RefusedConnectLeavesASocketThatConnectsNextTime) {
  TCPServerSock* probe = listenLocal();
  unsigned short port = probe->getLocalAddress()->getPort();
  delete probe;  // nothing listens there now

  TCPSock client;
  InetAddress to = loopback(port);
  int before = client.getDescriptor();
  EXPECT_EQ(client.connect(to), -1);
  EXPECT_STREQ(client.getErrorString(), std::strerror(ECONNREFUSED));
  EXPECT_GE(client.getDescriptor(), 0);  // a fresh socket, ready again
  (void)before;

  InetAddress at("127.0.0.1", port);
  TCPServerSock* server = nullptr;
  try {
    server = new TCPServerSock(at, 4);
  } catch (LibError& e) {
    GTEST_SKIP() << "port " << port << " taken meanwhile: " << e.getReason();
  }
  EXPECT_EQ(client.connect(to), 0) << client.getErrorString();
  TCPSock* peer = server->accept();
  ASSERT_NE(peer, nullptr);
  EXPECT_EQ(client.writeAll("ok", 2), 2);
  char buf[2];
  bool eof = false;
  EXPECT_EQ(peer->readAll(buf, 2, &eof), 2);
  delete peer;
  delete server;
}

TEST_F(SockTest, TimedReadAndResume) {
  TCPServerSock* server = listenLocal();
  TCPSock client;
  InetAddress to = loopback(server->getLocalAddress()->getPort());
  ASSERT_EQ(client.connect(to), 0);
  TCPSock* peer = server->accept();
  ASSERT_NE(peer, nullptr);

  char buf[8];
  time_info_t t{0, 50000, false};
  EXPECT_EQ(client.read(buf, sizeof buf, &t), -1);
  EXPECT_TRUE(t.timedOut);
  EXPECT_STREQ(client.getErrorString(), "Timeout");
  ASSERT_EQ(peer->write("abc", 3), 3);
  t = time_info_t{2, 0, true};
  EXPECT_EQ(client.read(buf, sizeof buf, &t), 3);
  EXPECT_FALSE(t.timedOut);

  // resume() of an open socket changes nothing; of a closed one re-creates it.
  int fd = client.getDescriptor();
  EXPECT_EQ(client.Sock::resume(), -1);
  EXPECT_EQ(client.getDescriptor(), fd);
  client.close();
  EXPECT_EQ(client.getDescriptor(), -1);
  EXPECT_EQ(client.Sock::resume(), 0);
  EXPECT_GE(client.getDescriptor(), 0);
  EXPECT_EQ(client.getType(), SOCK_STREAM);

  char id[16];
  std::snprintf(id, sizeof id, "S%d", client.getDescriptor());
  client.setID("other");
  EXPECT_STREQ(client.getID(), id);  // the identifier follows the descriptor
  delete peer;
  delete server;
}

TEST_F(SockTest, AdoptingDescriptors) {
  EXPECT_THROW(TCPSock(-1), LibError);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  try {
    Sock* s = new TCPSock(fds[0]);
    delete s;
    ADD_FAILURE() << "a pipe taken as a socket";
  } catch (LibError& e) {
    EXPECT_STREQ(e.getLocation(), "Sock()");
  }
  // A failed adoption leaves the descriptor to the caller.
  EXPECT_EQ(write(fds[1], "x", 1), 1);
  char c;
  EXPECT_EQ(read(fds[0], &c, 1), 1);
  close(fds[0]);
  close(fds[1]);

  // An unconnected stream socket has no peer.
  TCPSock lone;
  int dup = ::dup(lone.getDescriptor());
  try {
    TCPSock adopted(dup);
    ADD_FAILURE() << "no peer, no exception";
  } catch (LibError& e) {
    EXPECT_STREQ(e.getLocation(), "TCPSock()");
  }
  EXPECT_EQ(fcntl(dup, F_GETFD), 0);  // still open, the caller's
  close(dup);
}

TEST_F(SockTest, DatagramGatherScatterAndLastSender) {
  InetAddress any("127.0.0.1", 0);
  UDPSock a(any), b(any), c(any);
  InetAddress toB("127.0.0.1", b.getLocalAddress()->getPort());

  DataBuf h("head"), m("-middle-"), t("tail");  // lengths include the NULs: 5, 9, 5
  DataBuf* out[] = {&h, &m, &t};
  ASSERT_EQ(a.send(out, 3, &toB), 19);
  EXPECT_EQ(a.getSentBytes(), 19);

  DataBuf r1(4, 0, 4, ALLOC_ONCREATE), r2(8, 0, 8, ALLOC_ONCREATE), r3(100, 0, 100, ALLOC_ONCREATE),
      r4(10, 0, 10, ALLOC_ONCREATE);
  r4.setLength(7);  // gets nothing: keeps its length
  DataBuf* in[] = {&r1, &r2, &r3, &r4};
  InetAddress from;
  ASSERT_EQ(b.recv(in, 4, &from), 19);
  EXPECT_EQ(r1.getLength(), 4u);
  EXPECT_EQ(r2.getLength(), 8u);
  EXPECT_EQ(r3.getLength(), 7u);
  EXPECT_EQ(r4.getLength(), 7u);
  std::string all = std::string(r1.getData(), 4) + std::string(r2.getData(), 8) + std::string(r3.getData(), 7);
  EXPECT_EQ(all, std::string("head\0-middle-\0tail\0", 19));
  EXPECT_EQ(from.getPort(), a.getLocalAddress()->getPort());
  EXPECT_EQ(b.getReceivedBytes(), 19);

  // write() answers the last sender: first a, then c.
  ASSERT_EQ(b.write("to-a", 4), 4);
  char buf[16];
  EXPECT_EQ(a.recv(buf, sizeof buf, nullptr), 4);
  ASSERT_EQ(c.send("from-c", 6, &toB), 6);
  EXPECT_EQ(b.read(buf, sizeof buf), 6);
  EXPECT_EQ(b.getRemoteAddress()->getPort(), c.getLocalAddress()->getPort());
  ASSERT_EQ(b.write("to-c", 4), 4);
  EXPECT_EQ(readTimed(c, buf, sizeof buf, 2000), 4);
  EXPECT_EQ(std::string(buf, 4), "to-c");
  time_info_t quick{0, 20000, false};
  EXPECT_EQ(a.read(buf, sizeof buf, &quick), -1);  // a got nothing more
  EXPECT_TRUE(quick.timedOut);
}

TEST_F(SockTest, BindFailuresThrowFromConstructors) {
  InetAddress any("127.0.0.1", 0);
  UDPSock a(any);
  InetAddress same("127.0.0.1", a.getLocalAddress()->getPort());
  try {
    UDPSock b(same);
    FAIL() << "bound twice";
  } catch (LibError& e) {
    EXPECT_STREQ(e.getLocation(), "InetSock()");
    EXPECT_STREQ(e.getReason(), std::strerror(EADDRINUSE));
  }
  TCPServerSock* s = listenLocal();
  InetAddress taken("127.0.0.1", s->getLocalAddress()->getPort());
  EXPECT_THROW(TCPServerSock(taken, 4), LibError);
  delete s;
}

TEST_F(SockTest, ListeningSocketAcceptsIntoTheLoop) {
  IOMonitor monitor(64);
  monitor.setDeleteRemoved(true);  // the accepted sockets end in the loop
  TCPServerSock* server = listenLocal();
  server->setState(IODevice::STATE_READING);
  ASSERT_EQ(monitor.attach(server), 0);
  std::thread loop([&] { monitor.loop(); });

  TCPSock client;
  InetAddress to = loopback(server->getLocalAddress()->getPort());
  testing::internal::CaptureStdout();
  Trace::setEnabled(true);
  int connected = client.connect(to);
  // The accepted plain TCPSock is served from the next pass: it has nothing
  // to read with, errors out, removes and closes itself, so the client's
  // connection ends.
  int wrote = client.write("x", 1);
  char c;
  int got = readTimed(client, &c, 1, 5000);
  Trace::setEnabled(false);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(connected, 0);
  EXPECT_EQ(wrote, 1);
  // Closed with the byte unread: an orderly end or a reset, never a time-out.
  EXPECT_TRUE(got == 0 || std::string(client.getErrorString()) == std::strerror(ECONNRESET))
      << got << " " << client.getErrorString();
  client.updateLocalAddress();
  std::string name = "TCPServerSock::doRead(): Connection [";
  EXPECT_NE(out.find(name), std::string::npos);
  std::string peer = ",127.0.0.1:" + std::to_string(client.getLocalAddress()->getPort()) + "]";
  EXPECT_NE(out.find(peer), std::string::npos) << out.substr(0, 2000);

  for (int i = 0; i < 500 && monitor.isStopped(); i++) Thread::sleep(10);  // loop() has begun
  monitor.stop();
  loop.join();  // the monitor deletes the server too (delete-removed is on)
}

TEST_F(SockTest, MulticastOptions) {
  UDPSock s;
  EXPECT_EQ(s.setMulticastTTL(5), 0);
  EXPECT_EQ(s.getMulticastTTL(), 5);
  EXPECT_EQ(s.setMulticastLoop(0), 0);
  EXPECT_EQ(s.getMulticastLoop(), 0);
  InetAddress group("239.1.2.3", 0);
  EXPECT_EQ(s.joinMulticastGroup(group, nullptr), 0) << s.getErrorString();
  EXPECT_EQ(s.leaveMulticastGroup(group, nullptr), 0);
  EXPECT_EQ(s.joinMulticastGroup(group, "lo"), 0) << s.getErrorString();
  EXPECT_EQ(s.joinMulticastGroup(group, "no-such-if0"), -1);
  EXPECT_STREQ(s.getErrorString(), std::strerror(ENODEV));

  EXPECT_EQ(s.setMulticastInterface("lo"), -1);
  EXPECT_STREQ(s.getErrorString(), "Unimplemented method");
  EXPECT_EQ(s.getMulticastInterfaceName(), nullptr);
  EXPECT_EQ(s.setMulticastInterface(1), -1);
  EXPECT_EQ(s.getMulticastInterface(), -1);
  EXPECT_EQ(s.getPathMTU(), -1);
  testing::internal::CaptureStdout();
  Trace::setEnabled(true);
  EXPECT_EQ(s.setPathMTUDiscovery(1), -1);
  Trace::setEnabled(false);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "InetSock::setPathMTUDiscovery(): Not implemented\n");
}
