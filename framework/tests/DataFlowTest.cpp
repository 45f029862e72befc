// Frames between block threads: order and content across three threads,
// fan-out, drops counted when a consumer lags, pacing, stopped consumers,
// the clock, and wiring changes while frames flow.
#include <cstring>
#include <vector>

#include "FrameworkTestSupport.h"

using namespace fwtest;

namespace {

// The checksum ChecksumSink keeps, over the pictures CounterSource sends.
uint32_t expectedChecksum(int width, int height, unsigned frames) {
  std::vector<unsigned char> pic(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < pic.size(); ++i) pic[i] = static_cast<unsigned char>(i * 7);
  uint32_t checksum = 0;
  for (uint32_t n = 1; n <= frames; ++n) {
    std::memcpy(pic.data(), &n, 4);
    uint32_t wh = static_cast<uint32_t>(width) << 16 | static_cast<uint32_t>(height);
    std::memcpy(pic.data() + 4, &wh, 4);
    uint64_t sum = checksum;
    size_t words = pic.size() / 8;
    for (size_t i = 0; i < words; ++i) {
      uint64_t w;
      std::memcpy(&w, pic.data() + i * 8, 8);
      sum = (sum ^ w) * 0x100000001b3ULL;
    }
    for (size_t i = words * 8; i < pic.size(); ++i) sum = (sum ^ pic[i]) * 0x100000001b3ULL;
    checksum = static_cast<uint32_t>(sum ^ (sum >> 32));
  }
  return checksum;
}

class DataFlow : public FrameworkTest {
 protected:
  void source(Block* b, int w, int h, int period, int frames) {
    ConfigTable* t = b->getProperties();
    t->setInt("Width", w);
    t->setInt("Height", h);
    t->setInt("Period", period);
    t->setInt("Frames", frames);
    ASSERT_EQ(manager->sendMessage(b->getName(), "reset", true), 0);
  }
  void expectClean(Block* sink, unsigned frames) {
    EXPECT_EQ(prop(sink, "Received"), static_cast<int>(frames));
    EXPECT_EQ(prop(sink, "Gaps"), 0);
    EXPECT_EQ(prop(sink, "OutOfOrder"), 0);
    EXPECT_EQ(prop(sink, "HeaderErrors"), 0);
    EXPECT_EQ(prop(sink, "LastOrigin"), static_cast<int>(frames));
  }
};

}  // namespace

TEST_F(DataFlow, EveryPictureCrossesThreeThreadsInOrderWithItsHeader) {
  manager->getConfig()->setInt("morvane.wire.depth", 128);
  Block* src = create("CounterSource");
  Block* flt = create("PassFilter");
  Block* sink = create("ChecksumSink");
  ASSERT_TRUE(src && flt && sink);
  connect(src, "OUT", flt, "IN");
  connect(flt, "OUT", sink, "IN");
  const unsigned frames = 100;
  sink->getProperties()->setInt("Expect", frames);
  BlockAdapter events("test", sizeof(cmessage_t), 1, 8);
  events.connect(sink);
  source(src, 352, 288, -1, frames);
  ASSERT_EQ(manager->sendMessage(src->getName(), "start", true), 0);
  cmessage_t m;
  ASSERT_EQ(events.recvMessage(&m, 20000), 0);
  EXPECT_EQ(m.code, 3002u);
  EXPECT_EQ(m.sender, sink);
  expectClean(sink, frames);
  EXPECT_EQ(static_cast<uint32_t>(prop(sink, "Checksum")), expectedChecksum(352, 288, frames));
  EXPECT_EQ(prop(sink, "LastSequence"), static_cast<int>(frames));  // the filter's pin numbers
  // The filter counts after handing the last frame on, so the sink may have
  // told us before the count is written: wait for it.
  EXPECT_TRUE(waitUntil([&] { return prop(flt, "Passed") == static_cast<int>(frames); }))
      << prop(flt, "Passed");
  DataPin* out = src->getOutputPin("OUT");
  EXPECT_EQ(out->getSent(), frames);
  EXPECT_EQ(out->getDropped(), 0u);
  EXPECT_EQ(sink->getInputPin("IN")->getReceived(), frames);
}

TEST_F(DataFlow, OneOutputFeedsTwoSinks) {
  Block* src = create("CounterSource");
  Block* a = create("ChecksumSink");
  Block* b = create("ChecksumSink");
  ASSERT_TRUE(src && a && b);
  connect(src, "OUT", a, "IN");
  connect(src, "OUT", b, "IN");
  DataPin* out = src->getOutputPin("OUT");
  EXPECT_EQ(out->getWireCount(), 2u);
  // Each pin's wires are filed under the other end's qualified name.
  std::string key = std::string(a->getName()) + ".IN";
  Wire* w = reinterpret_cast<Wire*>(out->getWireTable()->get(key.c_str(), key.size() + 1));
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->getDestination(), a->getInputPin("IN"));
  std::string back = std::string(src->getName()) + ".OUT";
  EXPECT_EQ(a->getInputPin("IN")->getWireTable()->get(back.c_str(), back.size() + 1),
            reinterpret_cast<char*>(w));

  const unsigned frames = 60;
  source(src, 64, 48, -1, frames);
  ASSERT_EQ(manager->sendMessage(src->getName(), "start", true), 0);
  ASSERT_TRUE(waitUntil([&] {
    return prop(a, "Received") == static_cast<int>(frames) &&
           prop(b, "Received") == static_cast<int>(frames);
  }));
  expectClean(a, frames);
  expectClean(b, frames);
  EXPECT_EQ(prop(a, "Checksum"), prop(b, "Checksum"));
  EXPECT_EQ(static_cast<uint32_t>(prop(a, "Checksum")), expectedChecksum(64, 48, frames));
  EXPECT_EQ(out->getSent(), frames);  // one send reached both
}

TEST_F(DataFlow, ASlowSinkLosesFramesThatAreCountedAndNeverStallsTheSource) {
  manager->getConfig()->setInt("morvane.wire.depth", 4);
  Block* src = create("CounterSource");
  Block* sink = create("ChecksumSink");
  ASSERT_TRUE(src && sink);
  connect(src, "OUT", sink, "IN");
  sink->getProperties()->setInt("Delay", 3000);
  source(src, 8, 2, 0, 0);
  ASSERT_EQ(command(src, "Emit 100"), 0);  // returns while the sink is still busy
  DataPin* out = src->getOutputPin("OUT");
  Wire* w = reinterpret_cast<Wire*>(
      out->getWireTable()->get((std::string(sink->getName()) + ".IN").c_str(),
                               static_cast<unsigned>(std::strlen(sink->getName())) + 4));
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(out->getSent() + out->getDropped(), 100u);
  EXPECT_EQ(w->getDelivered() + w->getDropped(), 100u);
  EXPECT_GT(w->getDropped(), 0u);
  unsigned delivered = w->getDelivered();
  ASSERT_TRUE(waitUntil([&] { return prop(sink, "Received") == static_cast<int>(delivered); }));
  EXPECT_EQ(prop(sink, "OutOfOrder"), 0);
  EXPECT_EQ(prop(sink, "HeaderErrors"), 0);
  // What is missing is exactly what was dropped (the last frame may be among them).
  EXPECT_EQ(static_cast<unsigned>(prop(sink, "Gaps")) + (100u - prop(sink, "LastOrigin")),
            w->getDropped());
}

TEST_F(DataFlow, APacedSourceWaitsForRoomAndLosesNothing) {
  manager->getConfig()->setInt("morvane.wire.depth", 2);
  Block* src = create("CounterSource");
  Block* sink = create("ChecksumSink");
  ASSERT_TRUE(src && sink);
  connect(src, "OUT", sink, "IN");
  sink->getProperties()->setInt("Delay", 200);
  const unsigned frames = 300;
  source(src, 16, 16, -1, frames);
  BlockAdapter events("done", sizeof(cmessage_t), 1, 4);
  events.connect(src);
  ASSERT_EQ(manager->sendMessage(src->getName(), "start", true), 0);
  cmessage_t m;
  ASSERT_EQ(events.recvMessage(&m, 20000), 0);
  EXPECT_EQ(m.code, 3001u);
  ASSERT_TRUE(waitUntil([&] { return prop(sink, "Received") == static_cast<int>(frames); }));
  expectClean(sink, frames);
  EXPECT_EQ(src->getOutputPin("OUT")->getDropped(), 0u);
}

TEST_F(DataFlow, AChainOfPacedBlocksLosesNothingBehindASlowSink) {
  manager->getConfig()->setInt("morvane.wire.depth", 3);
  Block* src = create("CounterSource");
  Block* flt = create("PassFilter");
  Block* sink = create("ChecksumSink");
  ASSERT_TRUE(src && flt && sink);
  connect(src, "OUT", flt, "IN");
  connect(flt, "OUT", sink, "IN");
  flt->getClock()->set(-1);  // takes frames only while its output has room
  sink->getProperties()->setInt("Delay", 300);
  const unsigned frames = 200;
  source(src, 32, 32, -1, frames);
  ASSERT_EQ(manager->sendMessage(src->getName(), "start", true), 0);
  ASSERT_TRUE(waitUntil([&] { return prop(sink, "Received") == static_cast<int>(frames); }, 20000));
  expectClean(sink, frames);
  EXPECT_EQ(src->getOutputPin("OUT")->getDropped(), 0u);
  EXPECT_EQ(flt->getOutputPin("OUT")->getDropped(), 0u);
  // Without pacing the same filter drops what the sink cannot take.
  ASSERT_EQ(manager->sendMessage(sink->getName(), "reset", true), 0);
  flt->getClock()->set(0);
  ASSERT_EQ(manager->sendMessage(src->getName(), "reset", true), 0);
  ASSERT_EQ(manager->sendMessage(src->getName(), "start", true), 0);
  ASSERT_TRUE(waitUntil([&] {
    return flt->getInputPin("IN")->getReceived() == 2 * frames &&
           flt->getOutputPin("OUT")->getSent() + flt->getOutputPin("OUT")->getDropped() ==
               2 * frames &&
           prop(sink, "Received") ==
               static_cast<int>(flt->getOutputPin("OUT")->getSent() - frames);
  }, 20000)) << flt->getInputPin("IN")->getReceived() << " " << flt->getOutputPin("OUT")->getSent()
               << " " << flt->getOutputPin("OUT")->getDropped() << " " << prop(sink, "Received")
               << " " << sink->getInputPin("IN")->getReceived() << " " << prop(src, "Produced")
               << " src sent " << src->getOutputPin("OUT")->getSent() << " dropped "
               << src->getOutputPin("OUT")->getDropped() << " status " << src->getRunStatus();
  EXPECT_GT(flt->getOutputPin("OUT")->getDropped(), 0u);
}

TEST_F(DataFlow, StoppedConsumersDiscardAndStartedOnesConsume) {
  Block* src = create("CounterSource");
  Block* sink = create("ChecksumSink");
  ASSERT_TRUE(src && sink);
  connect(src, "OUT", sink, "IN");
  source(src, 8, 2, 0, 0);
  DataPin* in = sink->getInputPin("IN");
  // Consumers need no "start": a fresh sink takes frames.
  ASSERT_EQ(command(src, "Emit 2"), 0);
  ASSERT_TRUE(waitUntil([&] { return prop(sink, "Received") == 2; }));
  ASSERT_EQ(manager->sendMessage(sink->getName(), "stop", true), 0);
  ASSERT_EQ(command(src, "Emit 5"), 0);
  ASSERT_TRUE(waitUntil([&] { return in->getDiscarded() == 5; }));
  EXPECT_EQ(prop(sink, "Received"), 2);
  ASSERT_EQ(manager->sendMessage(sink->getName(), "start", true), 0);
  ASSERT_EQ(command(src, "Emit 3"), 0);
  ASSERT_TRUE(waitUntil([&] { return prop(sink, "Received") == 5; }));
  EXPECT_EQ(in->getReceived(), 10u);
}

TEST_F(DataFlow, TheClockDrivesASourceOnlyWhileItRuns) {
  Block* src = create("CounterSource");
  Block* sink = create("ChecksumSink");
  ASSERT_TRUE(src && sink);
  connect(src, "OUT", sink, "IN");
  source(src, 8, 2, 10000, 0);
  Thread::sleep(30);
  EXPECT_EQ(prop(sink, "Received"), 0);  // reset alone does not run it
  long long t0 = nowMs();
  ASSERT_EQ(manager->sendMessage(src->getName(), "start", true), 0);
  ASSERT_TRUE(waitUntil([&] { return prop(sink, "Received") >= 20; }));
  // Twenty frames ten milliseconds apart: not free-running.
  EXPECT_GE(nowMs() - t0, 180);
  ASSERT_EQ(manager->sendMessage(src->getName(), "stop", true), 0);
  int after = prop(src, "Produced");
  Thread::sleep(50);
  EXPECT_EQ(prop(src, "Produced"), after);
}

TEST_F(DataFlow, WiresCanChangeWhileFramesFlow) {
  Block* src = create("CounterSource");
  Block* a = create("ChecksumSink");
  Block* b = create("ChecksumSink");
  ASSERT_TRUE(src && a && b);
  DataPin* out = src->getOutputPin("OUT");
  DataPin* ina = a->getInputPin("IN");
  DataPin* inb = b->getInputPin("IN");
  EXPECT_EQ(manager->connectPins(ina, inb), -1);  // two inputs
  EXPECT_EQ(manager->connectPins(out, out), -1);
  EXPECT_EQ(manager->connectPins(nullptr, ina), -1);
  ASSERT_EQ(manager->connectPins(ina, out), 0);  // either order
  EXPECT_EQ(manager->connectPins(out, ina), -1);  // twice
  source(src, 32, 8, 1000, 0);
  ASSERT_EQ(manager->sendMessage(src->getName(), "start", true), 0);
  ASSERT_TRUE(waitUntil([&] { return prop(a, "Received") > 5; }));
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(manager->connectPins(out, inb), 0);
    ASSERT_EQ(manager->disconnectPins(inb, out), 0);  // either order
  }
  EXPECT_EQ(manager->disconnectPins(out, inb), -1);
  EXPECT_EQ(manager->disconnectPins(out, nullptr), -1);
  EXPECT_EQ(manager->disconnectPins(reinterpret_cast<Wire*>(out)), -1);
  Wire* w = reinterpret_cast<Wire*>(
      out->getWireTable()->get((std::string(a->getName()) + ".IN").c_str(),
                               static_cast<unsigned>(std::strlen(a->getName())) + 4));
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(manager->disconnectPins(w), 0);
  EXPECT_EQ(out->getWireCount(), 0u);
  int got = prop(a, "Received");
  Thread::sleep(30);
  EXPECT_EQ(prop(a, "Received"), got);
  EXPECT_EQ(prop(a, "OutOfOrder"), 0);
  EXPECT_EQ(prop(b, "OutOfOrder"), 0);
  // A removed pin takes its wires along; the pin object stays valid.
  ASSERT_EQ(manager->connectPins(out, inb), 0);
  EXPECT_EQ(b->removePin("IN", DataPin::INPUT), 0);
  EXPECT_EQ(out->getWireCount(), 0u);
  EXPECT_EQ(b->getInputPin("IN"), nullptr);
  EXPECT_EQ(inb->getWireCount(), 0u);
  EXPECT_EQ(b->addInputPin("IN"), 0);
  EXPECT_EQ(b->addInputPin("IN"), 10);
  EXPECT_EQ(b->addInputPin("a.b"), -1);
}
