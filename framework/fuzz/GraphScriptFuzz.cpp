// Fuzz target of the graph-script engine: every line is split and checked,
// every word must survive quote() and a second split unchanged, and the
// script runs on a manager without plug-ins (statements that touch files or
// wait are left out).
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "framework/BlockManager.h"
#include "framework/GraphScript.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

BlockManager* manager() {
  static BlockManager* m = [] {
    Trace::setEnabled(false);
    char tmpl[] = "/tmp/morvane-fuzz-XXXXXX";
    char* d = mkdtemp(tmpl);
    setenv("MORVANE_HOME", d != nullptr ? d : "/tmp", 1);
    setenv("MOSAL_PLUGIN_PATH", "", 1);
    setenv("MORVANE_PLUGIN_DEFAULTS", "0", 1);
    // Listings and echoes are not wanted on the fuzzer's output.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    BlockManager* bm = new BlockManager("fuzz", nullptr);
    bm->start();
    return bm;
  }();
  return m;
}

// Statements left out: those that touch files or wait, and settings that
// would make the manager's table grow without end.
bool leftOut(const std::vector<GraphScript::Token>& t) {
  if (t.empty()) return false;
  const std::string& s = t[0].text;
  if (s == "load" || s == "save" || s == "sleep" || s == "unload") return true;
  unsigned char type;
  return s == "global" && t.size() > 1 &&
         manager()->getConfig()->getParamType(t[1].text.c_str(), &type) != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::string runnable;
  size_t pos = 0;
  std::vector<GraphScript::Token> tokens, again;
  while (pos < size) {
    const void* nl = std::memchr(text + pos, '\n', size - pos);
    size_t end = nl != nullptr ? static_cast<size_t>(static_cast<const char*>(nl) - text) : size;
    const char* why = nullptr;
    if (GraphScript::tokenize(text + pos, end - pos, &tokens, &why) == 0) {
      if (why != nullptr) __builtin_trap();
      for (const GraphScript::Token& t : tokens) {
        if (t.offset >= end - pos) __builtin_trap();
        std::string q = GraphScript::quote(t.text);
        if (GraphScript::tokenize(q.data(), q.size(), &again, &why) != 0 || again.size() != 1 ||
            again[0].text != t.text)
          __builtin_trap();
      }
      GraphScript::check(tokens, &why);
      if (!leftOut(tokens)) runnable.append(text + pos, end - pos).append("\n");
    } else if (why == nullptr) {
      __builtin_trap();
    }
    pos = nl != nullptr ? end + 1 : size;
  }
  manager()->runGraphScript(runnable.data(), static_cast<unsigned>(runnable.size()));
  return 0;
}
