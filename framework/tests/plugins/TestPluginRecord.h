// The registration record of the framework's test plug-ins: their texts,
// version and entries, with load and unload entries that do nothing.
#ifndef MORVANE_TEST_PLUGIN_RECORD_H
#define MORVANE_TEST_PLUGIN_RECORD_H

#include <cstdint>
#include <cstring>

#include "framework/BlockManager.h"
#include "framework/Plugin.h"

namespace testplugins {

inline int loadNothing(MorvaneLib::BlockManager*) { return 0; }
inline int unloadNothing(MorvaneLib::BlockManager*) { return 0; }

// Fills r for a test plug-in called name; returns 0 for mrb_register.
inline int fillRecord(MorvaneLib::plugin_record_t* r, const char* name, const char* description,
                      uint32_t version, MorvaneLib::plugin_type_t type,
                      MorvaneLib::plugin_setup_t setup, MorvaneLib::plugin_cleanup_t cleanup) {
  using MorvaneLib::plugin_record_t;
  std::strncpy(r->name, name, plugin_record_t::NAME_SIZE);
  std::strncpy(r->description, description, plugin_record_t::TEXT_SIZE);
  std::strncpy(r->copyright, "(c) the framework's own tests", plugin_record_t::TEXT_SIZE);
  r->version = version;
  r->load = loadNothing;
  r->unload = unloadNothing;
  r->type = type;
  r->setup = setup;
  r->cleanup = cleanup;
  return 0;
}

}  // namespace testplugins

#endif
