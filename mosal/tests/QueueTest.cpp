// Queues: the record ring at its bounds, the shared and priority queues
// under several producers and consumers, the urgent lane, the drawing rule,
// the never-waiting try forms and the timed get.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "mosal/Queue.h"
#include "mosal_posix/Thread.h"

using namespace MorvaneLib;
using Clock = std::chrono::steady_clock;

namespace {

long msSince(Clock::time_point t) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// A record of the many-threads tests: producer, sequence number, lane.
struct Rec {
  int producer;
  int seq;
  int lane;
  int pad[9];  // 48 bytes, the size of the system's messages
};
static_assert(sizeof(Rec) == 48, "record size");

}  // namespace

// Waiters that time out while counts are being posted must neither lose a
// count nor take one twice: every post is taken exactly once.
TEST(QueueSemaphore, TimedOutWaitersLoseNoCount) {
  QueueSemaphore sem(0);
  const int kPosts = 20000;
  std::atomic<int> taken{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> waiters;
  for (int w = 0; w < 3; ++w) {
    waiters.emplace_back([&, w] {
      while (!stop.load()) {
        if ((w == 0 ? sem.tryWait() : sem.timedWait(w == 1 ? 0 : 1)) == 0) taken++;
      }
    });
  }
  for (int i = 0; i < kPosts; ++i) {
    sem.post();
    if (i % 64 == 0) std::this_thread::yield();
  }
  Clock::time_point t0 = Clock::now();
  while (taken.load() < kPosts && msSince(t0) < 20000) Thread::sleep(1);
  stop = true;
  for (auto& t : waiters) t.join();
  EXPECT_EQ(taken.load(), kPosts);
  EXPECT_EQ(sem.getValue(), 0);
  EXPECT_EQ(sem.tryWait(), -1);
  sem.post();
  EXPECT_EQ(sem.getValue(), 1);  // the waiters all left: nobody owed a wake-up
  EXPECT_EQ(sem.timedWait(0), 0);
}

TEST(SimpleQueue, BoundsTruncationAndWrapAround) {
  SimpleQueue q(16, 2);
  char big[40];
  for (int i = 0; i < 40; ++i) big[i] = static_cast<char>('a' + i % 26);
  EXPECT_EQ(q.put(big, 40), 0);  // cut to 16 bytes
  EXPECT_EQ(q.put("xy", 3), 0);
  EXPECT_EQ(q.put("z", 2), -1);  // full
  EXPECT_EQ(q.tryPut("z", 2), -1);
  EXPECT_EQ(q.getCount(), 2);

  char out[40];
  std::memset(out, '#', sizeof out);
  ASSERT_EQ(q.get(out, sizeof out), 0);
  EXPECT_EQ(std::string(out, 16), std::string(big, 16));
  EXPECT_EQ(out[16], '#');  // nothing beyond the 16 stored bytes

  // A buffer smaller than the record gets only its own size.
  std::memset(out, '#', sizeof out);
  ASSERT_EQ(q.get(out, 1), 0);
  EXPECT_EQ(out[0], 'x');
  EXPECT_EQ(out[1], '#');
  EXPECT_EQ(q.get(out, sizeof out), -1);  // empty
  EXPECT_EQ(q.tryGet(out, sizeof out), -1);

  // Many rounds over the two-record ring keep first-in first-out order.
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(q.put(reinterpret_cast<char*>(&i), sizeof i), 0);
    int j = i + 1;
    ASSERT_EQ(q.put(reinterpret_cast<char*>(&j), sizeof j), 0);
    int a = -1, b = -1;
    ASSERT_EQ(q.get(reinterpret_cast<char*>(&a), sizeof a), 0);
    ASSERT_EQ(q.get(reinterpret_cast<char*>(&b), sizeof b), 0);
    ASSERT_EQ(a, i);
    ASSERT_EQ(b, i + 1);
  }
  EXPECT_EQ(q.getCount(), 0);
}

TEST(SimpleQueue, ZeroCapacityRefusesAndNegativeThrows) {
  SimpleQueue q(8, 0);
  char b[8] = {0};
  EXPECT_EQ(q.put(b, 8), -1);
  EXPECT_EQ(q.get(b, 8), -1);
  try {
    SimpleQueue bad(8, -3);
    FAIL() << "negative capacity accepted";
  } catch (const LibError& e) {
    EXPECT_STREQ(e.getLocation(), "SimpleQueue()");
  }
}

TEST(SharedQueue, TryFormsNeverWaitAndTimedGetTimesOut) {
  SharedQueue q(4, 1);
  char b[4] = {1, 2, 3, 4};
  EXPECT_EQ(q.tryGet(b, 4), -1);
  EXPECT_EQ(q.tryPut(b, 4), 0);
  EXPECT_EQ(q.tryPut(b, 4), -1);  // full: refused at once
  EXPECT_EQ(q.getCount(), 1);
  EXPECT_EQ(q.tryGet(b, 4), 0);
  Clock::time_point t = Clock::now();
  EXPECT_EQ(q.timedGet(b, 4, 80), -1);
  long waited = msSince(t);
  EXPECT_GE(waited, 60);
  EXPECT_LT(waited, 2000);
}

// Several producers and consumers over a small queue that is full and empty
// again and again: every record arrives exactly once.
TEST(SharedQueue, ManyProducersAndConsumersLoseAndDuplicateNothing) {
  const int kProducers = 4, kConsumers = 3, kPerProducer = 5000;
  SharedQueue q(sizeof(Rec), 8);
  std::vector<std::atomic<int>> seen(kProducers * kPerProducer);
  for (auto& s : seen) s = 0;
  std::atomic<int> stray{0};
  std::vector<std::thread> consumers;
  for (int c = 0; c < kConsumers; ++c) {
    consumers.emplace_back([&, c] {
      for (;;) {
        Rec r;
        if ((c & 1) != 0 ? q.get(reinterpret_cast<char*>(&r), sizeof r) != 0
                         : q.tryGet(reinterpret_cast<char*>(&r), sizeof r) != 0) {
          if ((c & 1) == 0) std::this_thread::yield();
          continue;
        }
        if (r.producer < 0) return;  // stop record
        if (r.producer >= kProducers || r.seq < 0 || r.seq >= kPerProducer) {
          stray++;
          continue;
        }
        seen[r.producer * kPerProducer + r.seq]++;
      }
    });
  }
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < kPerProducer; ++i) {
        Rec r{p, i, 0, {0}};
        if ((p & 1) != 0) {
          while (q.tryPut(reinterpret_cast<char*>(&r), sizeof r) != 0) std::this_thread::yield();
        } else {
          ASSERT_EQ(q.put(reinterpret_cast<char*>(&r), sizeof r), 0);
        }
      }
    });
  }
  for (auto& t : producers) t.join();
  for (int c = 0; c < kConsumers; ++c) {
    Rec stop{-1, 0, 0, {0}};
    ASSERT_EQ(q.put(reinterpret_cast<char*>(&stop), sizeof stop), 0);
  }
  for (auto& t : consumers) t.join();
  EXPECT_EQ(stray.load(), 0);
  int missing = 0, doubled = 0;
  for (auto& s : seen) {
    if (s == 0) missing++;
    if (s > 1) doubled++;
  }
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(doubled, 0);
  EXPECT_EQ(q.getCount(), 0);
}

TEST(PriorityQueue, ConstructionRatesAndRefusedPriorities) {
  PriorityQueue q(8, 100, 4, 10);
  EXPECT_EQ(q.getDrawingRate(0), 12);
  EXPECT_EQ(q.getDrawingRate(1), 6);
  EXPECT_EQ(q.getDrawingRate(2), 4);
  EXPECT_EQ(q.getDrawingRate(3), 3);
  char b[8] = {0};
  EXPECT_EQ(q.put(b, 8, 4), -1);  // priority equal to the number of levels
  EXPECT_EQ(q.tryPut(b, 8, 99), -1);
  EXPECT_EQ(q.getCount(), 0);
  EXPECT_EQ(q.tryGet(b, 8), -1);  // empty: at once

  // Lanes that can hold nothing refuse at once instead of waiting for ever.
  PriorityQueue noUrgent(8, 2, 4, 0);  // 2 / 4 = 0 records per level
  EXPECT_EQ(noUrgent.put(b, 8, -1), -1);
  EXPECT_EQ(noUrgent.put(b, 8, 0), -1);
  EXPECT_EQ(noUrgent.tryPut(b, 8, 3), -1);
  EXPECT_EQ(noUrgent.getCount(), 0);

  for (int lv : {0, -1}) {
    try {
      PriorityQueue bad(8, 100, lv == 0 ? 0 : 2, lv == 0 ? 5 : -1);
      FAIL() << "bad arguments accepted";
    } catch (const LibError& e) {
      EXPECT_STREQ(e.getLocation(), "PriorityQueue()");
    }
  }
}

TEST(PriorityQueue, UrgentRecordsComeFirst) {
  PriorityQueue q(8, 100, 4, 10);
  char b[8];
  for (char c : {'a', 'b', 'c'}) {
    b[0] = c;
    ASSERT_EQ(q.put(b, 1, 0), 0);
  }
  b[0] = 'x';
  ASSERT_EQ(q.tryPut(b, 1, 3), 0);
  b[0] = 'U';
  ASSERT_EQ(q.put(b, 1, -1), 0);
  b[0] = 'V';
  ASSERT_EQ(q.tryPut(b, 1, -7), 0);  // any negative priority is urgent
  EXPECT_EQ(q.getCount(), 6);
  std::string order;
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(q.get(b, 8), 0);
    order += b[0];
  }
  EXPECT_EQ(order, "UVabcx");
}

// Levels 0 and 1 kept full, 2 and 3 empty: 12 from level 0, 6 from level 1,
// then 36 from level 0 (the cursor stands on the empty levels 2 and 3 while
// level 0 is drawn), then 6 from level 1 again.
TEST(PriorityQueue, WeightedRoundRobinDrawing) {
  PriorityQueue q(8, 100, 4, 10);
  char b[8] = {0};
  for (int lv = 0; lv < 2; ++lv) {
    b[0] = static_cast<char>(lv);
    for (int i = 0; i < 25; ++i) ASSERT_EQ(q.tryPut(b, 1, lv), 0);
    ASSERT_EQ(q.tryPut(b, 1, lv), -1);  // the level is full
  }
  std::string drawn;
  for (int i = 0; i < 60; ++i) {
    ASSERT_EQ(q.tryGet(b, 8), 0);
    drawn += static_cast<char>('0' + b[0]);
    ASSERT_EQ(q.tryPut(b, 1, b[0]), 0);  // keep the level full
  }
  EXPECT_EQ(drawn, std::string(12, '0') + std::string(6, '1') + std::string(36, '0') +
                       std::string(6, '1'));

  // All four levels full: each is served its rate in turn.
  PriorityQueue all(8, 100, 4, 0);
  for (int lv = 0; lv < 4; ++lv) {
    b[0] = static_cast<char>(lv);
    for (int i = 0; i < 25; ++i) ASSERT_EQ(all.put(b, 1, lv), 0);
  }
  drawn.clear();
  for (int i = 0; i < 37; ++i) {
    ASSERT_EQ(all.get(b, 8), 0);
    drawn += static_cast<char>('0' + b[0]);
    ASSERT_EQ(all.put(b, 1, b[0]), 0);
  }
  EXPECT_EQ(drawn, std::string(12, '0') + std::string(6, '1') + std::string(4, '2') +
                       std::string(3, '3') + std::string(12, '0'));
}

// A full level refuses a tryPut at once (giving the total slot back) while
// the others still accept; the blocking put waits until its level has room.
TEST(PriorityQueue, FullLevelRefusesTryPutAndPutWaitsForRoom) {
  PriorityQueue q(4, 10, 4, 0);  // 2 records per level, 10 total slots
  char b[4] = {7, 0, 0, 0};
  ASSERT_EQ(q.put(b, 4, 2), 0);
  ASSERT_EQ(q.put(b, 4, 2), 0);
  Clock::time_point t = Clock::now();
  EXPECT_EQ(q.tryPut(b, 4, 2), -1);
  EXPECT_LT(msSince(t), 1000);
  EXPECT_EQ(q.tryPut(b, 4, 1), 0);
  EXPECT_EQ(q.getCount(), 3);

  std::atomic<bool> stored{false};
  std::thread producer([&] {
    char c[4] = {9, 0, 0, 0};
    q.put(c, 4, 2);
    stored = true;
  });
  Thread::sleep(50);
  EXPECT_FALSE(stored.load());  // level 2 is full
  for (int i = 0; i < 3; ++i) ASSERT_EQ(q.get(b, 4), 0);
  producer.join();
  EXPECT_TRUE(stored.load());
  ASSERT_EQ(q.tryGet(b, 4), 0);
  EXPECT_EQ(b[0], 9);
  EXPECT_EQ(q.tryGet(b, 4), -1);
}

TEST(PriorityQueue, BlockingAndTimedGetWakeOnPut) {
  PriorityQueue q(sizeof(int), 10, 1, 10);
  int v = 0;
  Clock::time_point t = Clock::now();
  EXPECT_EQ(q.timedGet(reinterpret_cast<char*>(&v), sizeof v, 60), -1);
  EXPECT_GE(msSince(t), 40);

  std::thread producer([&] {
    Thread::sleep(30);
    int a = 41;
    q.put(reinterpret_cast<char*>(&a), sizeof a);
    Thread::sleep(30);
    a = 42;
    q.put(reinterpret_cast<char*>(&a), sizeof a, -1);
  });
  ASSERT_EQ(q.get(reinterpret_cast<char*>(&v), sizeof v), 0);
  EXPECT_EQ(v, 41);
  ASSERT_EQ(q.timedGet(reinterpret_cast<char*>(&v), sizeof v, 5000), 0);
  EXPECT_EQ(v, 42);
  producer.join();
}

// Producers on every lane, blocking and try forms, several consumers: no
// record lost or duplicated, and with one consumer per-lane order is kept.
TEST(PriorityQueue, ManyThreadsOverAllLanes) {
  const int kProducers = 4, kPerProducer = 4000;
  for (int consumersCount : {1, 3}) {
    PriorityQueue q(sizeof(Rec), 12, 3, 4);
    std::vector<std::atomic<int>> seen(kProducers * kPerProducer);
    for (auto& s : seen) s = 0;
    std::atomic<int> outOfOrder{0};
    std::atomic<int> received{0};
    std::vector<std::thread> consumers;
    for (int c = 0; c < consumersCount; ++c) {
      consumers.emplace_back([&, c] {
        std::vector<int> last(kProducers * 4, -1);
        for (;;) {
          Rec r;
          int got = (c % 3 == 0)   ? q.get(reinterpret_cast<char*>(&r), sizeof r)
                    : (c % 3 == 1) ? q.timedGet(reinterpret_cast<char*>(&r), sizeof r, 5)
                                   : q.tryGet(reinterpret_cast<char*>(&r), sizeof r);
          if (got != 0) {
            std::this_thread::yield();
            continue;
          }
          if (r.producer < 0) return;
          seen[r.producer * kPerProducer + r.seq]++;
          received++;
          int& l = last[r.producer * 4 + r.lane + 1];
          if (r.seq <= l) outOfOrder++;
          l = r.seq;
        }
      });
    }
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
      producers.emplace_back([&, p] {
        for (int i = 0; i < kPerProducer; ++i) {
          int lane = (i % 3 == 0) ? -1 : (i + p) % 3;
          Rec r{p, i, lane, {0}};
          if (p % 2 == 0) {
            ASSERT_EQ(q.put(reinterpret_cast<char*>(&r), sizeof r, lane), 0);
          } else {
            while (q.tryPut(reinterpret_cast<char*>(&r), sizeof r, lane) != 0)
              std::this_thread::yield();
          }
        }
      });
    }
    for (auto& t : producers) t.join();
    // A stop record may be drawn before records of other lanes: send the
    // stops only once everything has arrived (or after a bounded wait).
    Clock::time_point t0 = Clock::now();
    while (received.load() < kProducers * kPerProducer && msSince(t0) < 30000) Thread::sleep(2);
    for (int c = 0; c < consumersCount; ++c) {
      Rec stop{-1, 0, 0, {0}};
      ASSERT_EQ(q.put(reinterpret_cast<char*>(&stop), sizeof stop, 0), 0);
    }
    for (auto& t : consumers) t.join();
    int missing = 0, doubled = 0;
    for (auto& s : seen) {
      if (s == 0) missing++;
      if (s > 1) doubled++;
    }
    EXPECT_EQ(missing, 0) << consumersCount << " consumers";
    EXPECT_EQ(doubled, 0) << consumersCount << " consumers";
    if (consumersCount == 1) {
      EXPECT_EQ(outOfOrder.load(), 0);
    }
    EXPECT_EQ(q.getCount(), 0);
  }
}
