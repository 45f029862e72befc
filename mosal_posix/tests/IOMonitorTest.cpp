// IOMonitor: the transition table, dispatch by state over real socketpairs,
// pipes and TCP connections on 127.0.0.1, attach from handlers and from other
// threads, the removal list (long identifiers included), stop and wake-up
// from other threads, select failures and time-outs, trace lines.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "mosal/Trace.h"
#include "mosal/Vector.h"
#include "mosal_posix/IODevice.h"
#include "mosal_posix/IOMonitor.h"
#include "mosal_posix/Semaphore.h"

using namespace MorvaneLib;

namespace {

enum { READY, INPUT_DONE, OUTPUT_DONE, DO_READ, DO_WRITE, ON_ERROR, ON_EOF, ON_EXTENDED };

class TestDevice : public IODevice {
 public:
  TestDevice(const char* id, int fd, int state, int type = HANDLE_FD) : fd(fd) {
    setID(id);
    setState(state);
    setHandleType(type);
  }
  ~TestDevice() override {
    if (deleted) *deleted = true;
  }
  char* getID() override { return _id->getData(); }
  void setID(const char* s) override { _id->xcopy(s, static_cast<unsigned>(std::strlen(s)) + 1); }
  void* getHandle() override { return nullHandle ? nullptr : &fd; }
  void setHandle(void* h) override { fd = *static_cast<int*>(h); }
  int read(char* b, unsigned n) override { return static_cast<int>(::read(fd, b, n)); }
  int write(const char* b, unsigned n) override { return static_cast<int>(::write(fd, b, n)); }
  int close() override { return ::close(fd); }
  int resume() override { return -1; }

  int doRead(IOMonitor* m) override { return call(DO_READ, m); }
  int doWrite(IOMonitor* m) override { return call(DO_WRITE, m); }
  int onError(IOMonitor* m) override { return call(ON_ERROR, m); }
  int onEOF(IOMonitor* m) override { return call(ON_EOF, m); }
  int onInputDone(IOMonitor* m) override { return call(INPUT_DONE, m); }
  int onOutputDone(IOMonitor* m) override { return call(OUTPUT_DONE, m); }
  int onReady(IOMonitor* m) override { return call(READY, m); }
  int onExtendedStatus(IOMonitor* m) override { return call(ON_EXTENDED, m); }

  int call(int which, IOMonitor* m) {
    ++calls[which];
    if (hook[which]) return hook[which](m);
    return result[which];
  }

  int fd;
  bool nullHandle = false;
  bool* deleted = nullptr;
  std::atomic<int> calls[8] = {};
  int result[8] = {};
  std::function<int(IOMonitor*)> hook[8];
};

class TestMonitor : public IOMonitor {
 public:
  explicit TestMonitor(unsigned buckets = 16) : IOMonitor(buckets) {}
  void runPass() { _pass(); }
  void finish() { _removeAll(); }
  void setControl(int f) { _setControlFlags(f); }

  void onPostSelect() override {
    int n = ++passes;
    if (afterPass) afterPass(n);
  }
  void onTimeout() override { ++timeouts; }
  void onError() override {
    ++errors;
    IOMonitor::onError();
  }
  void onExtendedEvent(int e) override {
    extended.push_back(e);
    IOMonitor::onExtendedEvent(e);
  }

  std::atomic<int> passes{0};
  std::atomic<int> timeouts{0};
  std::atomic<int> errors{0};
  std::vector<int> extended;
  std::function<void(int)> afterPass;
};

struct Pair {
  Pair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fd), 0); }
  ~Pair() {
    if (fd[0] >= 0) ::close(fd[0]);
    if (fd[1] >= 0) ::close(fd[1]);
  }
  void feed(const char* s = "x") { ASSERT_GT(::write(fd[1], s, std::strlen(s)), 0); }
  int fd[2];
};

class Quiet : public ::testing::Environment {
 public:
  void SetUp() override { Trace::setEnabled(false); }
};
const auto* kQuiet = ::testing::AddGlobalTestEnvironment(new Quiet);

// The table the loop must follow: next state (-1 stays), read bit, write bit
// (+1 set, -1 clear, 0 kept) and the wait bit (+1 on, -1 off, 0 kept).
struct Expect {
  int next, r, w, wait;
};
const Expect S = {-1, 0, 0, 0};
const Expect kTable[5][7] = {
    {{0, 0, 0, 0}, {3, 1, 0, 1}, {4, 0, 1, 1}, {1, 0, 0, -1}, {2, 0, 0, -1}, {5, -1, 0, -1},
     {6, -1, 0, -1}},
    {{0, 0, 0, -1}, {3, 1, 0, 1}, {4, 0, 1, 1}, {1, 0, 0, 1}, S, {5, 0, 0, 1}, {6, 0, 0, 1}},
    {{0, 0, 0, -1}, {3, 1, 0, 1}, {4, 0, 1, 1}, S, {2, 0, 0, 1}, {5, 0, 0, 1}, {6, 0, 0, 1}},
    {{0, -1, 0, -1}, {3, 0, 0, 1}, {4, -1, 1, 1}, {1, -1, 0, 1}, S, {5, -1, 0, -1}, {6, -1, 0, -1}},
    {{0, 0, -1, -1}, {3, 1, -1, 1}, {4, 0, 0, 1}, S, {2, 0, -1, 1}, {5, 0, -1, -1}, {6, 0, -1, -1}},
};

bool waitFor(const std::function<bool()>& cond, int ms = 3000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return cond();
}

}  // namespace

TEST(IOMonitor, FollowsTheTransitionTableForEveryStateAndResult) {
  for (int state = 0; state <= 4; ++state) {
    for (int result = 0; result <= 8; ++result) {
      for (int waitBefore = 0; waitBefore <= 1; ++waitBefore) {
        SCOPED_TRACE("state " + std::to_string(state) + " result " + std::to_string(result) +
                     " wait " + std::to_string(waitBefore));
        Pair p;
        p.feed();  // readable (and always writable)
        TestMonitor m;
        m.setTimeout(0, 1000);  // states 0-2 have no descriptor in the sets
        TestDevice d("S1", p.fd[0], state);
        d.result[state] = result;
        ASSERT_EQ(m.attach(&d), 0);
        m.setControl(IOMonitor::CTRL_DISPATCH | IOMonitor::CTRL_REMOVE |
                     (waitBefore ? IOMonitor::CTRL_WAIT : 0));
        m.runPass();
        ASSERT_EQ(d.calls[state].load(), 1);

        Expect e = (result >= 1 && result <= 7) ? kTable[state][result - 1] : S;
        int r0 = state == 3 ? 1 : 0, w0 = state == 4 ? 1 : 0;
        int rWant = e.r > 0 ? 1 : e.r < 0 ? 0 : r0;
        int wWant = e.w > 0 ? 1 : e.w < 0 ? 0 : w0;
        int waitWant = e.wait > 0 ? 1 : e.wait < 0 ? 0 : waitBefore;
        EXPECT_EQ(d.getState(), e.next < 0 ? state : e.next);
        EXPECT_EQ(m.isInReadSet(p.fd[0]) ? 1 : 0, rWant);
        EXPECT_EQ(m.isInWriteSet(p.fd[0]) ? 1 : 0, wWant);
        EXPECT_EQ(m.getControlFlags() & IOMonitor::CTRL_WAIT ? 1 : 0, waitWant);
        m.finish();
      }
    }
  }
}

TEST(IOMonitor, ReadingDeviceIsCalledOnlyWhenReadable) {
  Pair p;
  TestMonitor m;
  m.setTimeout(0, 2000);
  TestDevice d("S7", p.fd[0], IODevice::STATE_READING);
  d.result[DO_READ] = IODevice::RESULT_READ;
  ASSERT_EQ(m.attach(&d), 0);
  for (int i = 0; i < 3; ++i) m.runPass();
  EXPECT_EQ(d.calls[DO_READ].load(), 0);
  EXPECT_EQ(m.timeouts.load(), 3);
  EXPECT_TRUE(m.isInReadSet(p.fd[0]));
  EXPECT_GE(m.getHighestDescriptor(), p.fd[0]);

  p.feed();
  d.hook[DO_READ] = [&](IOMonitor*) {
    char c;
    EXPECT_EQ(d.read(&c, 1), 1);
    return IODevice::RESULT_READ;
  };
  m.runPass();
  m.runPass();  // drained: not called again
  EXPECT_EQ(d.calls[DO_READ].load(), 1);
  m.finish();
}

TEST(IOMonitor, SkippedSelectStillPollsSoNoStaleReadinessIsUsed) {
  // Pass 1 reports the descriptor readable; the handler drains it and turns
  // the wait bit off through state 1 -> 3. Pass 2 must not call doRead on
  // the old readiness (a blocking read would hang the loop).
  Pair p;
  p.feed();
  TestMonitor m;
  TestDevice d("S2", p.fd[0], IODevice::STATE_READING);
  d.hook[DO_READ] = [&](IOMonitor*) {
    char c;
    EXPECT_EQ(d.read(&c, 1), 1);
    return IODevice::RESULT_INPUT_DONE;  // -> 1, wait stays on
  };
  d.result[INPUT_DONE] = IODevice::RESULT_READY;  // -> 0, wait off
  d.result[READY] = IODevice::RESULT_READ;        // -> 3, wait on
  ASSERT_EQ(m.attach(&d), 0);
  m.setTimeout(0, 1000);
  m.runPass();  // doRead
  m.runPass();  // onInputDone: wait off
  m.runPass();  // no wait: onReady -> 3
  m.runPass();  // nothing to read
  EXPECT_EQ(d.calls[DO_READ].load(), 1);
  EXPECT_EQ(d.calls[INPUT_DONE].load(), 1);
  EXPECT_EQ(d.calls[READY].load(), 1);
  m.finish();
}

TEST(IOMonitor, ErrorStateIsCalledEveryPassUntilRemoved) {
  Pair p;
  p.feed();
  TestMonitor m;
  TestDevice d("S3", p.fd[0], IODevice::STATE_READING);
  d.result[DO_READ] = IODevice::RESULT_ERROR;
  d.hook[ON_ERROR] = [&](IOMonitor* mon) {
    if (d.calls[ON_ERROR] == 3) {
      EXPECT_EQ(mon->removeDevice(d.getID()), 0);
    }
    return 42;
  };
  ASSERT_EQ(m.attach(&d), 0);
  m.setTimeout(0, 1000);
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  for (int i = 0; i < 6; ++i) m.runPass();
  std::string out = testing::internal::GetCapturedStdout();
  Trace::setEnabled(false);
  EXPECT_EQ(d.getState(), IODevice::STATUS_ERROR);
  EXPECT_EQ(d.calls[ON_ERROR].load(), 3);
  EXPECT_FALSE(m.isInReadSet(p.fd[0]));
  std::string line = "[" + std::to_string(p.fd[0]) + ",STATUS_ERROR]: event = 42\n";
  size_t n = 0;
  for (size_t at = out.find(line); at != std::string::npos; at = out.find(line, at + 1)) ++n;
  EXPECT_EQ(n, 3u);
  EXPECT_NE(out.find("IOMonitor::start(): found devices to remove...\n"
                     "IOMonitor::start(): removing device S3\n"),
            std::string::npos);
  EXPECT_FALSE(d.deleted);
}

TEST(IOMonitor, EofAndExtendedStatesAndDevicesWithoutDescriptor) {
  TestMonitor m;
  m.setTimeout(0, 1000);
  int none = -1;
  TestDevice eof("E1", none, IODevice::STATUS_EOF, 0);
  eof.result[ON_EOF] = 3;
  TestDevice ext("X1", none, 9, 0);
  ext.result[ON_EXTENDED] = 77;
  TestDevice reader("R1", none, IODevice::STATE_READING, 0);  // never selected
  reader.result[DO_READ] = IODevice::RESULT_READY;
  TestDevice ready("Z1", none, IODevice::STATE_READY, 0);
  ready.result[READY] = IODevice::RESULT_READY;
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  for (TestDevice* d : {&eof, &ext, &reader, &ready}) m.attach(d);
  m.runPass();
  m.runPass();
  std::string out = testing::internal::GetCapturedStdout();
  Trace::setEnabled(false);
  EXPECT_EQ(eof.calls[ON_EOF].load(), 2);
  EXPECT_EQ(eof.getState(), IODevice::STATUS_EOF);  // results never move it
  EXPECT_EQ(ext.calls[ON_EXTENDED].load(), 2);
  EXPECT_EQ(ext.getState(), 9);
  EXPECT_EQ(m.extended, (std::vector<int>{77, 77}));
  EXPECT_EQ(reader.calls[DO_READ].load(), 0);
  EXPECT_EQ(ready.calls[READY].load(), 2);
  EXPECT_NE(out.find("[-1,STATUS_EOF]: event = 3\n"), std::string::npos);
  EXPECT_NE(out.find("[-1,STATUS_EXTENDED]: event = 77\nIOMonitor: extended event detected (77)\n"),
            std::string::npos);
  EXPECT_NE(out.find("IOMonitor::attach(): id = \"R1\" fd = -1 type = 0\n"), std::string::npos);
  EXPECT_NE(out.find("IOMonitor: attached device Z1 to monitored table\n"), std::string::npos);
  m.finish();
}

TEST(IOMonitor, AttachRefusesDuplicatesAndDescriptorsSelectCannotTake) {
  TestMonitor m;
  m.setTimeout(0, 1000);
  Pair p;
  TestDevice a("S9", p.fd[0], IODevice::STATE_READING);
  TestDevice b("S9", p.fd[1], IODevice::STATE_READING);
  EXPECT_EQ(m.attach(&a), 0);
  EXPECT_EQ(m.attach(&b), 10);

  TestDevice high("HIGH", FD_SETSIZE, IODevice::STATE_READING);
  EXPECT_EQ(m.attach(&high), -1);
  EXPECT_NE(std::strstr(m.getErrorString(), "outside the select range"), nullptr);
  TestDevice higher("HIGHER", 5000, IODevice::STATE_READY);
  EXPECT_EQ(m.attach(&higher), -1);
  TestDevice negative("NEG", -1, IODevice::STATE_READING);
  EXPECT_EQ(m.attach(&negative), -1);
  TestDevice nullHandle("NULL", 3, IODevice::STATE_READY);
  nullHandle.nullHandle = true;
  EXPECT_EQ(m.attach(&nullHandle), -1);
  TestDevice noId("", 3, IODevice::STATE_READY);
  EXPECT_EQ(m.attach(&noId), -1);
  EXPECT_EQ(m.attach(nullptr), -1);
  // A device without descriptor may carry any handle value.
  TestDevice other("OTHER", 5000, IODevice::STATE_READY, 2);
  EXPECT_EQ(m.attach(&other), 0);

  m.runPass();
  EXPECT_TRUE(m.isInReadSet(p.fd[0]));
  EXPECT_LT(m.getHighestDescriptor(), FD_SETSIZE);
  m.finish();
}

TEST(IOMonitor, DuplicateOfAMonitoredDeviceWaitsForItsRemoval) {
  TestMonitor m;
  m.setTimeout(0, 1000);
  int none = -1;
  TestDevice first("D1", none, IODevice::STATE_READY, 0);
  TestDevice second("D1", none, IODevice::STATE_READY, 0);
  ASSERT_EQ(m.attach(&first), 0);
  m.runPass();
  ASSERT_EQ(m.attach(&second), 0);  // the attach table is free again
  m.runPass();
  EXPECT_EQ(first.calls[READY].load(), 2);
  EXPECT_EQ(second.calls[READY].load(), 0);
  ASSERT_EQ(m.removeDevice("D1"), 0);
  m.runPass();  // first still served, then removed
  m.runPass();  // second moves in
  EXPECT_EQ(first.calls[READY].load(), 3);
  EXPECT_EQ(second.calls[READY].load(), 1);
  m.finish();
}

TEST(IOMonitor, LongIdentifiersNeverRemoveTheWrongDevice) {
  TestMonitor m;
  m.setTimeout(0, 1000);
  int none = -1;
  const char* longId = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";  // 26 characters
  TestDevice full("ABCDEFGHIJKLMNOPQRST", none, IODevice::STATE_READY, 0);  // 20
  TestDevice prefix("ABCDEFGHIJKLMNOPQRS", none, IODevice::STATE_READY, 0);  // 19
  TestDevice longer(longId, none, IODevice::STATE_READY, 0);
  for (TestDevice* d : {&full, &prefix, &longer}) ASSERT_EQ(m.attach(d), 0);
  m.runPass();

  // Straight into the list: neither fits with its NUL. Nothing is removed,
  // least of all the 19-character device their first bytes resemble.
  Vector* list = m.getRemovalList();
  list->addElement(const_cast<char*>(longId), static_cast<unsigned>(std::strlen(longId)) + 1);
  list->addElement(full.getID(), 21);
  m.runPass();
  m.runPass();
  EXPECT_EQ(full.calls[READY].load(), 3);
  EXPECT_EQ(prefix.calls[READY].load(), 3);
  EXPECT_EQ(longer.calls[READY].load(), 3);

  // Through removeDevice every length works, and only the named device goes.
  ASSERT_EQ(m.removeDevice(longId), 0);
  ASSERT_EQ(m.removeDevice(full.getID()), 0);
  m.runPass();
  m.runPass();
  EXPECT_EQ(full.calls[READY].load(), 4);
  EXPECT_EQ(longer.calls[READY].load(), 4);
  EXPECT_EQ(prefix.calls[READY].load(), 5);
  m.finish();
}

TEST(IOMonitor, DeleteBitDeletesRemovedAndRemainingDevices) {
  TestMonitor m;
  m.setTimeout(0, 1000);
  int none = -1;
  bool goneA = false, goneB = false;
  auto* a = new TestDevice("A", none, IODevice::STATE_READY, 0);
  auto* b = new TestDevice("B", none, IODevice::STATE_READY, 0);
  a->deleted = &goneA;
  b->deleted = &goneB;
  ASSERT_EQ(m.attach(a), 0);
  ASSERT_EQ(m.attach(b), 0);
  m.setDeleteRemoved(true);
  EXPECT_EQ(m.getControlFlags(), 15);
  m.runPass();
  ASSERT_EQ(m.removeDevice("A"), 0);
  m.runPass();
  EXPECT_TRUE(goneA);
  EXPECT_FALSE(goneB);
  m.finish();
  EXPECT_TRUE(goneB);
}

TEST(IOMonitor, ListenerAttachesAcceptedConnectionsServedFromTheNextPass) {
  int lfd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(lfd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  ASSERT_EQ(bind(lfd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(lfd, 4), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(getsockname(lfd, reinterpret_cast<sockaddr*>(&addr), &len), 0);

  int cfd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(cfd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::write(cfd, "hello", 5), 5);

  TestMonitor m;
  TestDevice listener("S-listen", lfd, IODevice::STATE_READING);
  TestDevice* conn = nullptr;
  int acceptPass = 0, readPass = 0;
  std::string got;
  listener.hook[DO_READ] = [&](IOMonitor* mon) {
    int fd = accept(lfd, nullptr, nullptr);
    if (fd < 0) return IODevice::RESULT_ERROR;
    conn = new TestDevice(("S" + std::to_string(fd)).c_str(), fd, IODevice::STATE_READING);
    conn->hook[DO_READ] = [&, fd](IOMonitor* mm) {
      char buf[16];
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) {
        mm->removeDevice(conn->getID());
        return IODevice::RESULT_EOF;
      }
      got.append(buf, static_cast<size_t>(n));
      if (readPass == 0) readPass = static_cast<TestMonitor*>(mm)->passes + 1;
      mm->stop();
      return IODevice::RESULT_READ;
    };
    acceptPass = static_cast<TestMonitor*>(mon)->passes + 1;
    EXPECT_EQ(mon->attach(conn), 0);
    return IODevice::RESULT_READ;
  };
  ASSERT_EQ(m.attach(&listener), 0);
  m.afterPass = [&](int n) {
    if (n > 50) m.stop();  // bound: never loop forever
  };
  m.loop();
  EXPECT_EQ(got, "hello");
  EXPECT_GT(acceptPass, 0);
  EXPECT_EQ(readPass, acceptPass + 1);
  EXPECT_TRUE(m.isStopped());
  EXPECT_FALSE(m.isInReadSet(lfd));  // unregistered at stop
  delete conn;
  ::close(cfd);
  ::close(lfd);
}

TEST(IOMonitor, StopFromAnotherThreadEndsALoopWaitingWithoutTimeout) {
  TestMonitor m;
  Semaphore started;
  m.afterPass = [&](int) {};
  std::atomic<bool> returned{false};
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  std::thread t([&] {
    started.post();
    m.loop();
    returned = true;
  });
  ASSERT_EQ(started.timedWait(3000), 0);
  // Let the loop get into its select(), which has no time limit.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(returned.load());
  m.stop();
  EXPECT_TRUE(waitFor([&] { return returned.load(); }));
  t.join();
  std::string out = testing::internal::GetCapturedStdout();
  Trace::setEnabled(false);
  EXPECT_NE(out.find("IOMonitor: removing all attached devices...\nIOMonitor: devices removed.\n"),
            std::string::npos);
  EXPECT_EQ(m.timeouts.load(), 0);
}

TEST(IOMonitor, AttachAndWakeupFromAnotherThreadWakeTheLoopAtOnce) {
  TestMonitor m;
  Semaphore served, passed;
  int none = -1;
  TestDevice d("T1", none, IODevice::STATE_READY, 0);
  d.hook[READY] = [&](IOMonitor*) {
    served.post();
    return IODevice::RESULT_INPUT_DONE;  // state 1, wait off
  };
  d.hook[INPUT_DONE] = [&](IOMonitor*) {
    return IODevice::RESULT_INPUT_DONE;  // stays 1, wait on: idle in select
  };
  std::atomic<int> wanted{-1};
  m.afterPass = [&](int n) {
    if (n == wanted.load()) passed.post();
  };
  std::thread t([&] { m.loop(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(m.attach(&d), 0);
  EXPECT_EQ(served.timedWait(3000), 0);
  ASSERT_TRUE(waitFor([&] { return d.calls[INPUT_DONE].load() >= 1; }));
  // Now idle in select() with no time-out; a wakeup() gives one more pass.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  int before = m.passes.load();
  wanted = before + 1;
  m.wakeup();
  EXPECT_EQ(passed.timedWait(3000), 0);
  m.stop();
  t.join();
  EXPECT_EQ(m.timeouts.load(), 0);
}

// A handler that hands work to a later pass of its own loop calls wakeup():
// the next select() must not wait, although nothing is written to the pipe
// and the loop has no time-out.
TEST(IOMonitor, WakeupFromTheLoopsOwnThreadGivesAnotherPass) {
  TestMonitor m;
  Semaphore passed;
  int none = -1;
  std::atomic<int> wanted{-1};
  TestDevice d("T1", none, IODevice::STATE_READY, 0);
  d.hook[READY] = [&](IOMonitor*) { return IODevice::RESULT_INPUT_DONE; };
  d.hook[INPUT_DONE] = [&](IOMonitor* mon) {
    if (d.calls[INPUT_DONE].load() == 1) {
      wanted = m.passes.load() + 2;  // this pass ends, the next one runs
      mon->wakeup();
    }
    return IODevice::RESULT_INPUT_DONE;  // wait on: would idle for ever
  };
  m.afterPass = [&](int n) {
    if (n == wanted.load()) passed.post();
  };
  ASSERT_EQ(m.attach(&d), 0);
  std::thread t([&] { m.loop(); });
  EXPECT_EQ(passed.timedWait(3000), 0);
  EXPECT_GE(d.calls[INPUT_DONE].load(), 2);
  m.stop();
  t.join();
  EXPECT_EQ(m.timeouts.load(), 0);
}

TEST(IOMonitor, SelectFailureCallsOnErrorAndServesNothingStale) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  ::write(p[1], "x", 1);
  TestMonitor m;
  m.setTimeout(0, 1000);
  TestDevice d("S5", p[0], IODevice::STATE_READING);
  d.result[DO_READ] = IODevice::RESULT_READ;
  ASSERT_EQ(m.attach(&d), 0);
  m.runPass();
  EXPECT_EQ(d.calls[DO_READ].load(), 1);
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();  // opens a file: not in p[0]'s place
  ::close(p[0]);  // closed behind the loop's back: select() fails with EBADF
  m.runPass();
  m.runPass();
  std::string out = testing::internal::GetCapturedStdout();
  Trace::setEnabled(false);
  EXPECT_EQ(m.errors.load(), 2);
  EXPECT_EQ(d.calls[DO_READ].load(), 1);
  EXPECT_NE(out.find("IOMonitor: error (Bad file descriptor)\n"), std::string::npos);
  // Removing the device takes its descriptor out of the sets: select() works again.
  ASSERT_EQ(m.removeDevice("S5"), 0);
  m.runPass();
  m.runPass();
  EXPECT_EQ(m.errors.load(), 3);
  EXPECT_GE(m.timeouts.load(), 1);
  ::close(p[1]);
  m.finish();
}

TEST(IOMonitorDeathTest, NullHandleEndsTheProcess) {
  EXPECT_EXIT(
      {
        TestMonitor m;
        Pair p;
        TestDevice d("N1", p.fd[0], IODevice::STATE_READY);
        m.attach(&d);
        d.nullHandle = true;
        m.runPass();
      },
      testing::ExitedWithCode(1), "");
}
