// Threads: the start handshake, the destructor waiting for run(), wrapping,
// sleep() over a second, names that are too long; shared values.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "mosal/SharedValues.h"
#include "mosal/Trace.h"
#include "mosal/tests/TraceOn.h"
#include "mosal_posix/Thread.h"

using namespace MorvaneLib;

namespace {

class CountingThread : public Thread {
 public:
  CountingThread(Semaphore* start, std::atomic<int>* counter)
      : Thread("counter", start), runs(counter) {}
  ~CountingThread() override { waitTermination(); }
  void run() override {
    Thread::sleep(50);
    (*runs)++;
  }
  std::atomic<int>* runs;
};

class SelfStartingThread : public Thread {
 public:
  explicit SelfStartingThread(const char* n) : Thread(n) { start(); }
  ~SelfStartingThread() override { waitTermination(); }
  void run() override { ran = true; }
  std::atomic<bool> ran{false};
};

}  // namespace

TEST(Thread, StartHandshakeRunsOnceAndDestructorWaitsForRun) {
  std::atomic<int> runs{0};
  auto* t = new CountingThread(new Semaphore(0, false), &runs);
  Thread::sleep(30);
  EXPECT_EQ(runs.load(), 0);  // not started: run() not entered
  t->start();
  t->start();  // a second post must not run it again
  delete t;    // returns only after run() (50 ms) has counted
  EXPECT_EQ(runs.load(), 1);
}

TEST(Thread, SkipRunEndsWithoutRunning) {
  std::atomic<int> runs{0};
  auto* t = new CountingThread(new Semaphore(0, false), &runs);
  t->setSkipRun(true);
  t->start();
  delete t;
  EXPECT_EQ(runs.load(), 0);
}

TEST(Thread, SelfStartingSubclassRuns) {
  SelfStartingThread* t = new SelfStartingThread("self");
  for (int i = 0; i < 200 && !t->ran; ++i) Thread::sleep(5);
  EXPECT_TRUE(t->ran);
  delete t;
}

TEST(Thread, WrappedThreadIsNamedAndNotWaitedFor) {
  Thread* w = new Thread(4711UL);
  EXPECT_STREQ(w->getName(), "SELF4711");
  EXPECT_TRUE(w->isWrapped());
  delete w;  // would block for ever if it waited
}

TEST(Thread, LongNameIsCut) {
  std::string longName(400, 'n');
  SelfStartingThread* t = new SelfStartingThread(longName.c_str());
  EXPECT_EQ(std::string(t->getName()), std::string(254, 'n'));
  delete t;
}

TEST(Thread, SleepAcceptsMoreThanASecond) {
  auto before = std::chrono::steady_clock::now();
  Thread::sleep(1500);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - before).count();
  EXPECT_GE(ms, 1490);
}

TEST(Thread, TraceLinesOfTheBody) {
  testing::internal::CaptureStdout();
  { SelfStartingThread t("traced"); }
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("**> thread_proc(): waiting for start\n"), std::string::npos);
  EXPECT_NE(out.find("**> thread_proc(): executing run ? Yes\n"), std::string::npos);
  EXPECT_NE(out.find("~Thread(): (traced) waiting for thread termination\n"), std::string::npos);
  EXPECT_NE(out.find("~Thread(): everything ok\n"), std::string::npos);
}

TEST(SharedValues, ConcurrentSetsAndGets) {
  SharedInt i;
  SharedUint u;
  SharedString s;
  EXPECT_EQ(i.get(), 0);
  EXPECT_EQ(u.get(), 0u);
  EXPECT_STREQ(s.get(), "");
  std::thread writer([&] {
    for (int k = 0; k < 2000; ++k) {
      i.set(k);
      u.set(static_cast<unsigned>(k));
      s.set(k % 2 ? "odd" : std::string(300, 'e').c_str());
    }
  });
  for (int k = 0; k < 2000; ++k) {
    EXPECT_GE(i.get(), 0);
    u.get();
  }
  writer.join();
  EXPECT_EQ(i.get(), 1999);
  EXPECT_STREQ(s.get(), "odd");
}
