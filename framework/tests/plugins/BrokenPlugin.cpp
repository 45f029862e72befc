// BrokenPlugin: a plug-in that fails on purpose. By default its load entry
// refuses (with a reason in the manager's error text). With the environment
// variable MORVANE_BROKEN_MODE set to "setup" it loads, and the set-up entry
// of each of its blocks fails instead; with "noname" mrb_register fills a
// type name of 30 characters without its NUL, which the framework must cut.
#include <cstdlib>
#include <cstring>

#include "framework/BlockManager.h"
#include "framework/Plugin.h"

using namespace MorvaneLib;

namespace {

bool mode(const char* m) {
  const char* v = std::getenv("MORVANE_BROKEN_MODE");
  return v != nullptr && std::strcmp(v, m) == 0;
}

int onLoad(BlockManager* m) {
  if (mode("setup") || mode("noname")) return 0;
  m->getError()->set("BrokenBlock refuses to load");
  return -1;
}
int onUnload(BlockManager*) { return 0; }
int typeCode(void*) { return Block::TYPE_GENERIC; }
int setup(Block* b) {
  b->getManager()->getError()->set("BrokenBlock cannot set blocks up");
  return -1;
}

}  // namespace

MORVANE_PLUGIN_REGISTER(r) {
  if (mode("noname"))
    std::memset(r->name, 'N', plugin_record_t::NAME_SIZE);
  else
    std::strncpy(r->name, "BrokenBlock", plugin_record_t::NAME_SIZE);
  std::strncpy(r->description, "Fails on purpose", plugin_record_t::TEXT_SIZE);
  std::strncpy(r->copyright, "(c) the framework's own tests", plugin_record_t::TEXT_SIZE);
  r->version = 0x00000001;
  r->load = onLoad;
  r->unload = onUnload;
  r->type = typeCode;
  r->setup = setup;
  return 0;
}
