// PassFilter: a test filter that copies every frame from "IN" to "OUT" with
// its header. "Delay" (microseconds) slows each frame down; "Passed" counts
// (written whenever the filter has caught up with its input).
#include "TestPluginRecord.h"
#include "TestPluginSupport.h"
#include "framework/Plugin.h"

using namespace MorvaneLib;
using namespace testplugins;

namespace {

struct FilterState {
  unsigned passed = 0;
};

int consume(Block* b) {
  DataFrame* in = b->getCurrentFrame();
  FilterState* s = stateOf<FilterState>(b);
  if (in == nullptr || s == nullptr) return -1;
  recordLatency(b, in->getHeader());
  sleepMicros(getInt(b->getProperties(), "Delay", 0));
  DataPin* out = b->getOutputPin("OUT");
  unsigned len = in->getData()->getLength();
  DataFrame* f = out->getFrame(len);
  if (f == nullptr) return 0;
  std::memcpy(f->getData()->getData(), in->getData()->getData(), len);
  *f->getHeader() = *in->getHeader();
  out->sendFrame(f);
  ++s->passed;
  // Counted in the properties once the filter has caught up.
  if (b->getCurrentWire() != nullptr && b->getCurrentWire()->getQueued() == 0)
    b->getProperties()->setInt("Passed", static_cast<int>(s->passed));
  return 0;
}

int typeCode(void*) { return Block::TYPE_FILTER; }

int setup(Block* b) {
  if (b->addInputPin("IN") != 0 || b->addOutputPin("OUT") != 0) return -1;
  defineInt(b->getProperties(), "Delay", 0, "Microseconds spent on each frame");
  b->getProperties()->setInt("Passed", 0);
  b->getProperties()->setObject("_state", new FilterState(), sizeof(FilterState));
  return b->attachActionHandler(Block::ACTION_CONSUME, new FnHandler("C", b, consume));
}

int cleanup(Block* b) { return freeState<FilterState>(b); }

}  // namespace

MORVANE_PLUGIN_REGISTER(r) {
  return fillRecord(r, "PassFilter", "Passes frames on unchanged", 0x00010000, typeCode, setup, cleanup);
}
