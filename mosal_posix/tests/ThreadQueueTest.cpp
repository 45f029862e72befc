// Threads with a message queue: the queue is made with the given numbers,
// carries records into run(), and goes with the thread.
#include <gtest/gtest.h>

#include <atomic>

#include "mosal/Queue.h"
#include "mosal_posix/Thread.h"

using namespace MorvaneLib;

namespace {

// Sums the ints it receives until it gets a 0.
class Summer : public Thread {
 public:
  Summer() : Thread("summer", new Semaphore(0, false), sizeof(int), 10, 1, 10) {}
  ~Summer() override { waitTermination(); }
  void run() override {
    int v;
    while (getQueue()->get(reinterpret_cast<char*>(&v), sizeof v) == 0 && v != 0) sum += v;
  }
  std::atomic<int> sum{0};
};

}  // namespace

TEST(ThreadQueue, QueueIsMadeWithTheNumbersAndFeedsRun) {
  Summer* t = new Summer();
  PriorityQueue* q = t->getQueue();
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->getItemSize(), sizeof(int));
  EXPECT_EQ(q->getLevels(), 1);
  EXPECT_EQ(q->getDrawingRate(0), 5);
  t->start();
  for (int v : {5, 7, 30, 0}) ASSERT_EQ(q->put(reinterpret_cast<char*>(&v), sizeof v), 0);
  delete t;  // waits for run(), then frees the queue (checked by the leak sanitizer)
}

TEST(ThreadQueue, NameOnlyFormAndPlainThreads) {
  Thread* t = new Thread("queued", 48, 100, 4, 10);
  ASSERT_NE(t->getQueue(), nullptr);
  EXPECT_EQ(t->getQueue()->getDrawingRate(3), 3);
  EXPECT_STREQ(t->getName(), "queued");
  t->start();
  delete t;

  Thread* plain = new Thread("plain");
  EXPECT_EQ(plain->getQueue(), nullptr);
  plain->start();
  delete plain;
}

TEST(ThreadQueue, BadQueueNumbersThrowWithoutAThread) {
  try {
    Thread t("bad", 48, 100, 0, 10);
    FAIL() << "zero levels accepted";
  } catch (const LibError& e) {
    EXPECT_STREQ(e.getLocation(), "PriorityQueue()");
  }
}
