// ChecksumSink: a test sink that copies every frame off "IN", checks it and
// keeps a running checksum. Properties it writes (each time it has caught up
// with its input, and when "Expect" frames have come): "Received", "Checksum",
// "LastSequence", "LastOrigin", "OutOfOrder" (a sequence number that did not
// grow), "Gaps" (frames missing by their origin numbers), "HeaderErrors"
// (payload and header disagree). It reads "Delay" (microseconds per frame),
// "Expect" (post event 3002 once that many arrived) and "Paint" (1: hand each
// frame to the painter bound to it).
#include <vector>

#include "TestPluginRecord.h"
#include "TestPluginSupport.h"
#include "framework/Plugin.h"

using namespace MorvaneLib;
using namespace testplugins;

namespace {

struct SinkState {
  std::vector<unsigned char> copy;
  unsigned received = 0;
  uint32_t checksum = 0;
  uint32_t lastSequence = 0;
  uint32_t lastOrigin = 0;
  unsigned outOfOrder = 0;
  unsigned gaps = 0;
  unsigned headerErrors = 0;
  unsigned shownOutOfOrder = 0, shownGaps = 0, shownHeaderErrors = 0;
};

int consume(Block* b) {
  DataFrame* f = b->getCurrentFrame();
  SinkState* s = stateOf<SinkState>(b);
  if (f == nullptr || s == nullptr) return -1;
  ConfigTable* t = b->getProperties();
  recordLatency(b, f->getHeader());
  sleepMicros(getInt(t, "Delay", 0));
  const dmessage_t* h = f->getHeader();
  unsigned len = f->getData()->getLength();
  s->copy.resize(len);
  std::memcpy(s->copy.data(), f->getData()->getData(), len);
  // Eight bytes a step; the tail byte by byte.
  uint64_t sum = s->checksum;
  size_t words = len / 8;
  const unsigned char* d = s->copy.data();
  for (size_t i = 0; i < words; ++i) {
    uint64_t w;
    std::memcpy(&w, d + i * 8, 8);
    sum = (sum ^ w) * 0x100000001b3ULL;
  }
  for (size_t i = words * 8; i < len; ++i) sum = (sum ^ d[i]) * 0x100000001b3ULL;
  s->checksum = static_cast<uint32_t>(sum ^ (sum >> 32));
  if (len >= 8) {
    uint32_t n, wh;
    std::memcpy(&n, d, 4);
    std::memcpy(&wh, d + 4, 4);
    if (n != h->origin || wh != (static_cast<uint32_t>(h->width) << 16 | h->height) ||
        h->length != len)
      ++s->headerErrors;
  } else {
    ++s->headerErrors;
  }
  if (s->received > 0 && h->sequence <= s->lastSequence) ++s->outOfOrder;
  if (s->received > 0 && h->origin > s->lastOrigin + 1) s->gaps += h->origin - s->lastOrigin - 1;
  s->lastSequence = h->sequence;
  s->lastOrigin = h->origin;
  ++s->received;
  if (getInt(t, "Paint", 0) == 1) b->paint();
  int expect = getInt(t, "Expect", 0);
  // The counts go to the properties whenever the sink has caught up (and at
  // the expected count), not for every frame of a burst. "Received" last:
  // whoever sees the count sees the rest of that frame too.
  bool idle = b->getCurrentWire() == nullptr || b->getCurrentWire()->getQueued() == 0;
  if (!idle && static_cast<int>(s->received) != expect) return 0;
  t->setInt("Checksum", static_cast<int>(s->checksum));
  t->setInt("LastSequence", static_cast<int>(s->lastSequence));
  t->setInt("LastOrigin", static_cast<int>(s->lastOrigin));
  if (s->outOfOrder != s->shownOutOfOrder) t->setInt("OutOfOrder", static_cast<int>(s->outOfOrder));
  if (s->gaps != s->shownGaps) t->setInt("Gaps", static_cast<int>(s->gaps));
  if (s->headerErrors != s->shownHeaderErrors)
    t->setInt("HeaderErrors", static_cast<int>(s->headerErrors));
  s->shownOutOfOrder = s->outOfOrder;
  s->shownGaps = s->gaps;
  s->shownHeaderErrors = s->headerErrors;
  t->setInt("Received", static_cast<int>(s->received));
  if (static_cast<int>(s->received) == expect) b->postEvent(3002, t);
  return 0;
}

int reset(Block* b) {
  SinkState* s = stateOf<SinkState>(b);
  if (s == nullptr) return -1;
  *s = SinkState();
  ConfigTable* t = b->getProperties();
  const char* keys[] = {"Received", "Checksum", "LastSequence", "LastOrigin",
                        "OutOfOrder", "Gaps", "HeaderErrors"};
  for (const char* k : keys) t->setInt(k, 0);
  return 0;
}

int typeCode(void*) { return Block::TYPE_SINK; }

int setup(Block* b) {
  if (b->addInputPin("IN") != 0) return -1;
  ConfigTable* t = b->getProperties();
  defineInt(t, "Delay", 0, "Microseconds spent on each frame");
  defineInt(t, "Expect", 0, "Frames after which event 3002 is posted");
  defineInt(t, "Paint", 0, "1: paint every frame");
  t->setObject("_state", new SinkState(), sizeof(SinkState));
  if (reset(b) != 0) return -1;
  if (b->attachEventHandler(Block::WORD_RESET, new FnHandler("R", b, reset)) != 0) return -1;
  return b->attachActionHandler(Block::ACTION_CONSUME, new FnHandler("C", b, consume));
}

int cleanup(Block* b) { return freeState<SinkState>(b); }

}  // namespace

MORVANE_PLUGIN_REGISTER(r) {
  return fillRecord(r, "ChecksumSink", "Checks and sums the frames it gets", 0x00030001, typeCode, setup, cleanup);
}
