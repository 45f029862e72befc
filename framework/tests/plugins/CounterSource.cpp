// CounterSource: a test source that sends numbered RGB pictures on "OUT".
// Each frame's first four bytes hold its number (also in the header's
// origin), the next four width << 16 | height; the rest is a fixed pattern.
// Properties: "Width", "Height" (pixels), "Frames" (0: no end), "Period"
// (microseconds between frames, applied to the clock on reset; -1 paced by
// the outputs). Words: "user 1" posts event 3000. Command: "Emit <n>" sends n
// frames at once. Posts event 3001 when "Frames" have been produced.
#include <cstdlib>
#include <vector>

#include "TestPluginRecord.h"
#include "TestPluginSupport.h"
#include "framework/Plugin.h"

using namespace MorvaneLib;
using namespace testplugins;

namespace {

struct CounterState {
  std::vector<unsigned char> picture;
  unsigned produced = 0;
  bool doneSent = false;
  // Read from the properties on reset.
  int frames = 0;
  uint16_t width = 0, height = 0;
};

int produceOne(Block* b) {
  CounterState* s = stateOf<CounterState>(b);
  if (s == nullptr) return -1;
  ConfigTable* t = b->getProperties();
  int frames = s->frames;
  if (frames > 0 && s->produced >= static_cast<unsigned>(frames)) {
    if (!s->doneSent) {
      s->doneSent = true;
      b->postEvent(3001, t);
    }
    return 0;
  }
  if (s->picture.empty()) return -1;
  ++s->produced;
  t->setInt("Produced", static_cast<int>(s->produced));
  DataPin* out = b->getOutputPin("OUT");
  DataFrame* f = out->getFrame(static_cast<unsigned>(s->picture.size()));
  if (f == nullptr) return 0;  // nobody could take it: counted by the pin
  unsigned char* d = reinterpret_cast<unsigned char*>(f->getData()->getData());
  std::memcpy(d, s->picture.data(), s->picture.size());
  uint32_t n = s->produced;
  std::memcpy(d, &n, 4);
  dmessage_t* h = f->getHeader();
  h->kind = DATA_VIDEO;
  h->format = VIDEO_RGB24;
  h->width = s->width;
  h->height = s->height;
  uint32_t wh = static_cast<uint32_t>(h->width) << 16 | h->height;
  std::memcpy(d + 4, &wh, 4);
  h->origin = n;
  h->timestamp = n;
  h->rate = 25;
  out->sendFrame(f);
  if (frames > 0 && s->produced >= static_cast<unsigned>(frames) && !s->doneSent) {
    s->doneSent = true;
    b->postEvent(3001, t);
  }
  return 0;
}

int reset(Block* b) {
  CounterState* s = stateOf<CounterState>(b);
  ConfigTable* t = b->getProperties();
  int w = getInt(t, "Width", 352), h = getInt(t, "Height", 288);
  if (s == nullptr || w < 1 || h < 1 || w > 4096 || h > 4096) {
    b->getError()->set("bad picture size");
    return 1;
  }
  s->picture.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
  for (size_t i = 0; i < s->picture.size(); ++i) s->picture[i] = static_cast<unsigned char>(i * 7);
  s->produced = 0;
  s->doneSent = false;
  s->frames = getInt(t, "Frames", 0);
  s->width = static_cast<uint16_t>(w);
  s->height = static_cast<uint16_t>(h);
  t->setInt("Produced", 0);
  b->getClock()->set(getInt(t, "Period", 40000));
  return 0;
}

int user1(Block* b) { return b->postEvent(3000, b->getProperties()) == 0 ? 0 : 1; }

class EmitCommand : public Command {
 public:
  EmitCommand() : Command("Emit", 1, 1) {}
  int perform(Params* params, void* data) override {
    Block* b = static_cast<Block*>(data);
    int n = std::atoi(params->getArg(0));
    if (n < 0 || n > 100000) return 2;
    for (int i = 0; i < n; ++i) produceOne(b);
    return 0;
  }
};

int typeCode(void*) { return Block::TYPE_SOURCE; }

int setup(Block* b) {
  if (b->addOutputPin("OUT") != 0) return -1;
  ConfigTable* t = b->getProperties();
  defineInt(t, "Width", 352, "Picture width");
  defineInt(t, "Height", 288, "Picture height");
  defineInt(t, "Frames", 0, "Frames to send (0: no end)");
  defineInt(t, "Period", 40000, "Microseconds between frames (-1: as fast as taken)");
  t->setInt("Produced", 0);
  t->setObject("_state", new CounterState(), sizeof(CounterState));
  Interp* in = b->enableScriptEngine(8, 4, 64);
  if (in != nullptr) in->addCommand(new EmitCommand());
  if (b->attachEventHandler(Block::WORD_RESET, new FnHandler("R", b, reset)) != 0) return -1;
  if (b->attachEventHandler(Block::WORD_USER1, new FnHandler("U", b, user1)) != 0) return -1;
  if (b->attachActionHandler(Block::ACTION_PRODUCE, new FnHandler("P", b, produceOne)) != 0)
    return -1;
  b->getInfo()->set("counting pictures");
  return 0;
}

int cleanup(Block* b) { return freeState<CounterState>(b); }

}  // namespace

MORVANE_PLUGIN_REGISTER(r) {
  return fillRecord(r, "CounterSource", "Sends numbered test pictures", 0x01020304, typeCode, setup, cleanup);
}
