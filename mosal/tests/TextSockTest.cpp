// Text-message connections over loopback: server dispatch and bad requests,
// several requests (with and without bodies) on one connection, back-to-back
// messages in one write, entities in and out, client mode on the event loop
// with an answer and a request arriving together, blocking use, wake-up.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "mosal/Entity.h"
#include "mosal/Hash.h"
#include "mosal/Interp.h"
#include "mosal/TextMessage.h"
#include "mosal/TextSock.h"
#include "mosal/Trace.h"
#include "mosal_posix/IOMonitor.h"
#include "mosal_posix/Semaphore.h"
#include "mosal_posix/Sock.h"
#include "mosal_posix/Thread.h"

using namespace MorvaneLib;

namespace {

request_context_t* ctxOf(void* p) { return static_cast<request_context_t*>(p); }

void setReason(request_context_t* c, const char* r) { c->reason->xcopy(r, static_cast<unsigned>(std::strlen(r)) + 1); }

// ECHO <uri> <version>: 200 Ok, echoes X-Seq.
class Echo : public Command {
 public:
  Echo() : Command("ECHO", 2, 2) {}
  int perform(Params*, void* data) override {
    auto* c = ctxOf(data);
    c->status = 200;
    setReason(c, "Ok");
    const char* seq = c->in->getHeader("X-Seq");
    if (seq) c->out->setHeader("X-Seq", seq);
    calls++;
    return 0;
  }
  std::atomic<int> calls{0};
};

// PLAIN <uri> <version>: 200 and no reason.
class Plain : public Command {
 public:
  Plain() : Command("PLAIN", 2, 2) {}
  int perform(Params*, void* data) override {
    ctxOf(data)->status = 200;
    return 0;
  }
};

// FILE <uri> <version>: answers with a body from the "<_DEFAULTEP_>" producer.
class FileCmd : public Command {
 public:
  FileCmd() : Command("FILE", 2, 2) {}
  int perform(Params*, void* data) override {
    auto* c = ctxOf(data);
    c->status = 200;
    setReason(c, "Ok");
    c->out->setHeader("Content-Type", "text/plain");
    c->out->setHeader("Content-Length", std::to_string(body.size()).c_str());
    delete producer;
    producer = new BufferEP(body.data(), static_cast<unsigned>(body.size()));
    c->sock->addProducer("<_DEFAULTEP_>", producer);
    return 0;
  }
  ~FileCmd() override { delete producer; }
  std::string body;
  BufferEP* producer = nullptr;
};

// Client side: PING <target> builds "PING <target> TEST/1.0".
class Ping : public Command {
 public:
  Ping() : Command("PING", 1, 1) {}
  int perform(Params* p, void* data) override {
    std::string line = std::string("PING ") + p->getArg(0) + " TEST/1.0";
    ctxOf(data)->out->getStartLine()->xcopy(line.c_str(), static_cast<unsigned>(line.size()) + 1);
    return 0;
  }
};

class TestProtocol : public Protocol {
 public:
  TestProtocol() {
    serverInterp = new Interp(32, 32, 1024);
    clientInterp = new Interp(32, 32, 1024);
    name = new DataBuf("TEST");
    version = new DataBuf("1.0");
    headers = new SharedHash(64);
    const char general = 1, entity = 4;
    headers->put("X-Seq", 6, &general, 1);
    headers->put("Content-Type", 13, &entity, 1);
    headers->put("Content-Length", 15, &entity, 1);
    serverInterp->addCommand(echo = new Echo());
    serverInterp->addCommand(new Plain());
    serverInterp->addCommand(file = new FileCmd());
    clientInterp->addCommand(new Ping());
  }
  int handleBadRequest(char* method, char*, void* data) override {
    auto* c = ctxOf(data);
    c->status = 400;
    setReason(c, "Bad Request");
    lastBad = method;
    return 0;
  }
  // Like a signalling protocol: after an answer, the connection serves requests.
  int handleResponse(void* data) override {
    auto* c = ctxOf(data);
    responses += std::string(c->in->getStartLine()->getData()) + "|";
    c->sock->setMode(TextSock::MODE_SERVER);
    answered.post();
    return 1;
  }
  Echo* echo;
  FileCmd* file;
  std::string lastBad;
  std::string responses;
  Semaphore answered{0};
};

// Collects an entity; counts end-of-stream calls.
class Collect : public EntityConsumer {
 public:
  int consume(TextMessage*, char* data, unsigned n, void*) override {
    if (n == 0) {
      ends++;
      return -1;
    }
    bytes.append(data, n);
    return static_cast<int>(n);
  }
  std::string bytes;
  std::atomic<int> ends{0};
};

// A listening socket that turns each accepted socket into a server-mode
// connection of the test protocol.
class ServerSock : public TCPServerSock {
 public:
  ServerSock(InetAddress& at, Protocol* p) : TCPServerSock(at, 8), protocol(p) {}
  int doRead(IOMonitor* m) override {
    TCPSock* s = accept();
    if (s == nullptr) return 6;
    auto* c = new HttpLikeSock(s, new HttpLikeMessage(protocol, 64, 256, 32768, 1024),
                               new HttpLikeMessage(protocol, 64, 256, 32768, 1024), true, true,
                               TextSock::MODE_SERVER);
    c->setProtocol(protocol);
    if (consumer) c->addConsumer(consumerType.c_str(), consumer);
    c->setState(IODevice::STATE_READING);
    last = c;
    if (m->attach(c) != 0) delete c;
    return 2;
  }
  Protocol* protocol;
  EntityConsumer* consumer = nullptr;
  std::string consumerType = "text/plain";
  std::atomic<TextSock*> last{nullptr};
};

class TextSockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    traced = Trace::enabled();
    Trace::setEnabled(getenv("NETDBG") != nullptr);
    monitor = new IOMonitor(64);
    monitor->setDeleteRemoved(true);
    InetAddress at("127.0.0.1", 0);
    server = new ServerSock(at, &protocol);
    server->setState(IODevice::STATE_READING);
    ASSERT_EQ(monitor->attach(server), 0);
    loop = std::thread([this] { monitor->loop(); });
  }
  void TearDown() override {
    // A stop() before the loop has begun would be overridden by its start.
    waitFor([this] { return !monitor->isStopped(); });
    monitor->stop();
    loop.join();
    delete monitor;
    Trace::setEnabled(traced);
  }
  unsigned short port() { return server->getLocalAddress()->getPort(); }
  void connectClient(TCPSock& c) {
    InetAddress to("127.0.0.1", port());
    ASSERT_EQ(c.connect(to), 0);
  }
  // Reads until `count` answers (messages ending in an empty line, bodies of
  // known length included) have arrived, or 5 seconds pass.
  static std::string readAnswers(TCPSock& c, int count, unsigned bodyBytes = 0) {
    std::string got;
    for (int i = 0; i < 200; i++) {
      size_t ends = 0, pos = 0;
      while ((pos = got.find("\r\n\r\n", pos)) != std::string::npos) {
        ends++;
        pos += 4;
      }
      if (static_cast<int>(ends) >= count && got.size() >= got.rfind("\r\n\r\n") + 4 + bodyBytes) break;
      char buf[4096];
      time_info_t t{0, 25000, false};
      int n = c.read(buf, sizeof buf, &t);
      if (n == 0) break;
      if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }
  static bool waitFor(const std::function<bool()>& cond) {
    for (int i = 0; i < 500 && !cond(); i++) Thread::sleep(10);
    return cond();
  }

  bool traced = true;
  TestProtocol protocol;
  IOMonitor* monitor;
  ServerSock* server;
  std::thread loop;
};

}  // namespace

TEST_F(TextSockTest, UnknownMethodIsAnsweredThroughHandleBadRequest) {
  TCPSock c;
  connectClient(c);
  std::string req = "FETCH /x TEST/1.0\r\nX-Seq: 9\r\n\r\nECHO /a TEST/1.0\r\n\r\nECHO /too many words\r\n\r\n";
  ASSERT_EQ(c.writeAll(req.data(), static_cast<unsigned>(req.size())), static_cast<int>(req.size()));
  std::string got = readAnswers(c, 3);
  EXPECT_EQ(got, "TEST/1.0 400 Bad Request\r\n\r\nTEST/1.0 200 Ok\r\n\r\nTEST/1.0 400 Bad Request\r\n\r\n");
  EXPECT_EQ(protocol.lastBad, "ECHO");  // the wrong argument count is refused too
}

TEST_F(TextSockTest, BackToBackRequestsAndLaterOnesOnTheSameConnection) {
  TCPSock c;
  connectClient(c);
  std::string two = "ECHO /1 TEST/1.0\r\nX-Seq: 1\r\n\r\nECHO /2 TEST/1.0\r\nX-Seq: 2\r\n\r\nECHO /3 TEST/1.0\r\nX-S";
  ASSERT_GT(c.writeAll(two.data(), static_cast<unsigned>(two.size())), 0);
  std::string got = readAnswers(c, 2);
  EXPECT_EQ(got, "TEST/1.0 200 Ok\r\nX-Seq: 1\r\n\r\nTEST/1.0 200 Ok\r\nX-Seq: 2\r\n\r\n");
  // The third request was cut in the middle of a header; its rest comes later.
  std::string rest = "eq: 3\r\n\r\n";
  ASSERT_GT(c.writeAll(rest.data(), static_cast<unsigned>(rest.size())), 0);
  EXPECT_EQ(readAnswers(c, 1), "TEST/1.0 200 Ok\r\nX-Seq: 3\r\n\r\n");
  // And one more, written alone, after all answers went out.
  std::string later = "PLAIN / TEST/1.0\r\n\r\n";
  ASSERT_GT(c.writeAll(later.data(), static_cast<unsigned>(later.size())), 0);
  EXPECT_EQ(readAnswers(c, 1), "TEST/1.0 200 \r\n\r\n");  // empty reason: the line ends in a blank
  EXPECT_EQ(protocol.echo->calls.load(), 3);
}

TEST_F(TextSockTest, BodiesOnOneConnectionGoToTheirConsumerWhole) {
  Collect body;
  server->consumer = &body;
  server->consumerType = "<_DEFAULTEC_>";  // the fallback for any media type
  TCPSock c;
  connectClient(c);
  // A body with its request and the next request in one write, then a body
  // that comes in two writes, then a request without body.
  std::string a = "ECHO /a TEST/1.0\r\nContent-Type: text/plain; charset=x\r\nContent-Length: 5\r\nX-Seq: 1\r\n\r\n"
                  "hello"
                  "ECHO /b TEST/1.0\r\nContent-Type: image/png\r\nContent-Length: 0x8\r\nX-Seq: 2\r\n\r\n1234";
  ASSERT_GT(c.writeAll(a.data(), static_cast<unsigned>(a.size())), 0);
  std::string got = readAnswers(c, 1);
  EXPECT_EQ(got, "TEST/1.0 200 Ok\r\nX-Seq: 1\r\n\r\n");  // the second waits for its whole body
  std::string b = "5678ECHO /c TEST/1.0\r\nX-Seq: 3\r\n\r\n";
  ASSERT_GT(c.writeAll(b.data(), static_cast<unsigned>(b.size())), 0);
  got = readAnswers(c, 2);
  EXPECT_EQ(got, "TEST/1.0 200 Ok\r\nX-Seq: 2\r\n\r\nTEST/1.0 200 Ok\r\nX-Seq: 3\r\n\r\n");
  EXPECT_EQ(body.bytes, "hello12345678");
  EXPECT_EQ(body.ends.load(), 2);  // each entity ended by its length
}

TEST_F(TextSockTest, LengthWithoutTypeIsSkippedNotParsed) {
  TCPSock c;
  connectClient(c);
  std::string a = "ECHO /a TEST/1.0\r\nContent-Length: 13\r\nX-Seq: 1\r\n\r\nPLAIN / x\r\n\r\nECHO /b TEST/1.0\r\nX-Seq: 2\r\n\r\n";
  ASSERT_GT(c.writeAll(a.data(), static_cast<unsigned>(a.size())), 0);
  EXPECT_EQ(readAnswers(c, 2), "TEST/1.0 200 Ok\r\nX-Seq: 1\r\n\r\nTEST/1.0 200 Ok\r\nX-Seq: 2\r\n\r\n");
}

TEST_F(TextSockTest, EntityWithoutAnyConsumerEndsTheConnection) {
  TCPSock c;
  connectClient(c);
  std::string a = "ECHO /a TEST/1.0\r\nContent-Type: text/plain\r\nContent-Length: 3\r\n\r\nabc";
  ASSERT_GT(c.writeAll(a.data(), static_cast<unsigned>(a.size())), 0);
  // Error state: the connection removes itself and is deleted, which closes it.
  char buf[64];
  time_info_t t{5, 0, false};
  EXPECT_EQ(c.read(buf, sizeof buf, &t), 0);
  EXPECT_EQ(protocol.echo->calls.load(), 0);
}

TEST_F(TextSockTest, AnswerWithBodyFromAProducer) {
  protocol.file->body = std::string(3000, 'z') + "end";
  TCPSock c;
  connectClient(c);
  std::string a = "FILE /f TEST/1.0\r\n\r\nECHO /a TEST/1.0\r\nX-Seq: 7\r\n\r\n";
  ASSERT_GT(c.writeAll(a.data(), static_cast<unsigned>(a.size())), 0);
  std::string got = readAnswers(c, 2, 0);
  std::string head = "TEST/1.0 200 Ok\r\nContent-Length: 3003\r\nContent-Type: text/plain\r\n\r\n";
  std::string head2 = "TEST/1.0 200 Ok\r\nContent-Type: text/plain\r\nContent-Length: 3003\r\n\r\n";
  ASSERT_TRUE(got.compare(0, head.size(), head) == 0 || got.compare(0, head2.size(), head2) == 0) << got.substr(0, 200);
  EXPECT_EQ(got.substr(head.size()), protocol.file->body + "TEST/1.0 200 Ok\r\nX-Seq: 7\r\n\r\n");
}

TEST_F(TextSockTest, ClientModeOnTheLoopAnswerAndRequestTogether) {
  // A client connection of the test protocol talks to a plain listening
  // socket that the test serves by hand.
  InetAddress at("127.0.0.1", 0);
  TCPServerSock peerListen(at, 2);
  auto* client = new HttpLikeSock(&protocol, nullptr, nullptr, true, true, TextSock::MODE_CLIENT);
  ASSERT_EQ(client->connect(1, "127.0.0.1", peerListen.getLocalAddress()->getPort(), 0), 0);
  ASSERT_EQ(client->doRequest("PING /there"), 0);
  EXPECT_EQ(client->doRequest("NOPE /x"), -1);  // unknown to the client interpreter
  ASSERT_EQ(client->doRequest("PING /there"), 0);
  // Attached writing: the connected socket is writable at once, so the
  // request leaves in the next pass whatever the loop's time-out.
  client->setState(IODevice::STATE_WRITING);
  ASSERT_EQ(monitor->attach(client), 0);

  TCPSock* peer = peerListen.accept();
  ASSERT_NE(peer, nullptr);
  std::string req = readAnswers(*peer, 1);
  EXPECT_EQ(req, "PING /there TEST/1.0\r\n\r\n");
  // The answer and the peer's own request in one write.
  std::string both = "TEST/1.0 180 Ringing\r\nX-Seq: 1\r\n\r\nECHO /back TEST/1.0\r\nX-Seq: 2\r\n\r\n";
  ASSERT_GT(peer->writeAll(both.data(), static_cast<unsigned>(both.size())), 0);
  EXPECT_EQ(protocol.answered.timedWait(5000), 0);
  EXPECT_EQ(readAnswers(*peer, 1), "TEST/1.0 200 Ok\r\nX-Seq: 2\r\n\r\n");
  EXPECT_EQ(protocol.responses, "TEST/1.0 180 Ringing|");

  // Work handed over from outside the loop's handlers: a new request, then
  // mode and state, then wake(). The loop has no time-out, so without the
  // wake-up the request would sit until some other descriptor moved.
  ASSERT_TRUE(waitFor([&] { return client->getState() == IODevice::STATE_READING; }));
  ASSERT_EQ(client->doRequest("PING /again"), 0);
  client->setMode(TextSock::MODE_CLIENT);
  client->setState(IODevice::STATE_READY);
  client->wake();
  EXPECT_EQ(readAnswers(*peer, 1), "PING /again TEST/1.0\r\n\r\n");
  delete peer;  // the client sees the end and removes itself; the loop deletes it
}

TEST_F(TextSockTest, RequestWrittenBeforeAttachingIsAnsweredOnTheLoop) {
  InetAddress at("127.0.0.1", 0);
  TCPServerSock peerListen(at, 2);
  auto* client = new HttpLikeSock(&protocol, nullptr, nullptr, true, true, TextSock::MODE_CLIENT);
  ASSERT_EQ(client->connect(1, "127.0.0.1", peerListen.getLocalAddress()->getPort(), 0), 0);
  ASSERT_EQ(client->doRequest("PING /now"), 0);
  EXPECT_EQ(client->writeNow(), IODevice::STATE_OUTPUT_DONE);
  TCPSock* peer = peerListen.accept();
  ASSERT_NE(peer, nullptr);
  // On the wire before the loop knows the connection.
  EXPECT_EQ(readAnswers(*peer, 1), "PING /now TEST/1.0\r\n\r\n");
  client->setState(IODevice::STATE_OUTPUT_DONE);
  ASSERT_EQ(monitor->attach(client), 0);
  std::string answer = "TEST/1.0 180 Ringing\r\nX-Seq: 1\r\n\r\n";
  ASSERT_GT(peer->writeAll(answer.data(), static_cast<unsigned>(answer.size())), 0);
  EXPECT_EQ(protocol.answered.timedWait(5000), 0);
  EXPECT_EQ(protocol.responses, "TEST/1.0 180 Ringing|");
  delete peer;
}

TEST_F(TextSockTest, BlockingUse) {
  HttpLikeSock client(&protocol, nullptr, nullptr, true, true, TextSock::MODE_CLIENT);
  EXPECT_EQ(client.doRequest("PING /x"), 6);  // no socket yet
  EXPECT_EQ(client.recvText(), -1);
  ASSERT_EQ(client.connect(1, "127.0.0.1", port(), 0), 0);
  EXPECT_EQ(client.getRemoteAddress()->getPort(), port());
  EXPECT_NE(client.getLocalAddress()->getPort(), 0);

  // The server answers "PING" as a bad request; the answer is read whole.
  ASSERT_EQ(client.doRequest("PING /x"), 0);
  EXPECT_GT(client.sendText(), 0);
  EXPECT_EQ(client.recvText(), 0);
  EXPECT_TRUE(client.getIncoming()->isCompleted());
  EXPECT_STREQ(client.getIncoming()->getStartLine()->getData(), "TEST/1.0 400 Bad Request");

  // Ask for a body, fetch it with a consumer; then a second request.
  protocol.file->body = std::string(5000, 'b');
  client.getOutgoing()->reset();
  client.getOutgoing()->getStartLine()->xcopy("FILE / TEST/1.0", 16);
  ASSERT_GT(client.sendText(), 0);
  ASSERT_EQ(client.recvText(), 0);
  Collect got;
  EXPECT_EQ(client.recvEntity(&got), static_cast<int>(5000 - client.getIncoming()->getResidueData()->getLength()));
  EXPECT_EQ(got.bytes, protocol.file->body);
  EXPECT_EQ(got.ends.load(), 1);

  // A peer that closes before the message is complete: 0, not completed.
  InetAddress local("127.0.0.1", 0);
  TCPServerSock* quiet = new TCPServerSock(local, 1);
  HttpLikeSock c2(&protocol, nullptr, nullptr, true, true, TextSock::MODE_CLIENT);
  ASSERT_EQ(c2.connect(1, "127.0.0.1", quiet->getLocalAddress()->getPort(), 0), 0);
  TCPSock* p = quiet->accept();
  ASSERT_NE(p, nullptr);
  p->writeAll("TEST/1.0 200 Ok\r\nX-Se", 21);
  delete p;
  EXPECT_EQ(c2.recvText(), 0);
  EXPECT_FALSE(c2.getIncoming()->isCompleted());
  delete quiet;
}

TEST_F(TextSockTest, ConstructorsRefuseMissingParts) {
  TCPSock* s = new TCPSock();
  TextMessage* m = new TextMessage(protocol.getHeaderDescriptors(), 8, 64, 0, 64);
  auto expectThrow = [](const std::function<void()>& f, const char* reason) {
    try {
      f();
      ADD_FAILURE() << "no exception for " << reason;
    } catch (LibError& e) {
      EXPECT_STREQ(e.getLocation(), "TextSock()");
      EXPECT_STREQ(e.getReason(), reason);
    }
  };
  expectThrow([&] { TextSock t(static_cast<Sock*>(nullptr), m, m, false, false, 2); }, "Invalid IODevice");
  expectThrow([&] { TextSock t(s, nullptr, m, false, false, 2); }, "Invalid Input TextMessage");
  expectThrow([&] { TextSock t(s, m, nullptr, false, false, 2); }, "Invalid Output TextMessage");
  expectThrow([&] { TextSock t(static_cast<Protocol*>(nullptr), nullptr, nullptr, false, false, 1); },
              "Invalid protocol");
  // One message for both directions, owned: deleted once.
  auto* both = new TextSock(s, m, m, true, true, 2);
  delete both;
}

TEST_F(TextSockTest, DatagramServerAnswersEachSender) {
  // A free port for the server's datagram socket.
  unsigned short port;
  {
    InetAddress any("127.0.0.1", 0);
    UDPSock probe(any);
    port = probe.getLocalAddress()->getPort();
  }
  auto* udp = new HttpLikeSock(&protocol, nullptr, nullptr, true, true, TextSock::MODE_SERVER);
  ASSERT_EQ(udp->connect(2, "127.0.0.1", 9, port), 0);
  EXPECT_EQ(udp->getLocalAddress()->getPort(), port);
  udp->setState(IODevice::STATE_READING);
  ASSERT_EQ(monitor->attach(udp), 0);

  InetAddress any("127.0.0.1", 0), to("127.0.0.1", port);
  UDPSock a(any), b(any);
  char buf[512];
  ASSERT_EQ(a.send("", 0, &to), 0);  // an empty datagram ends nothing
  std::string req = "ECHO / TEST/1.0\r\nX-Seq: 5\r\n\r\n";
  ASSERT_GT(a.send(req.data(), static_cast<unsigned>(req.size()), &to), 0);
  time_info_t t{5, 0, false};
  int n = a.read(buf, sizeof buf, &t);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "TEST/1.0 200 Ok\r\nX-Seq: 5\r\n\r\n");
  req = "ECHO / TEST/1.0\r\nX-Seq: 6\r\n\r\n";
  ASSERT_GT(b.send(req.data(), static_cast<unsigned>(req.size()), &to), 0);
  t = time_info_t{5, 0, false};
  n = b.read(buf, sizeof buf, &t);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "TEST/1.0 200 Ok\r\nX-Seq: 6\r\n\r\n");
}
