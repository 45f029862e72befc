// Shared by the framework's tests: a private data directory per test
// program, a manager on the built plug-ins, and bounded waits.
#ifndef MORVANE_FRAMEWORK_TEST_SUPPORT_H
#define MORVANE_FRAMEWORK_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "framework/BlockAdapter.h"
#include "framework/BlockManager.h"
#include "mosal/Trace.h"
#include "mosal_posix/Thread.h"

namespace fwtest {

using namespace MorvaneLib;

// A fresh MORVANE_HOME under /tmp for this process, removed at its end.
inline std::string privateHome() {
  static std::string home;
  if (home.empty()) {
    char tmpl[] = "/tmp/morvane-test-XXXXXX";
    char* d = mkdtemp(tmpl);
    if (d == nullptr) return "/tmp";
    home = d;
    setenv("MORVANE_HOME", home.c_str(), 1);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(home, ec);
    });
  }
  return home;
}

inline long long nowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Polls `cond` every millisecond for at most `ms`: its last value.
inline bool waitUntil(const std::function<bool()>& cond, int ms = 10000) {
  long long end = nowMs() + ms;
  while (!cond()) {
    if (nowMs() > end) return cond();
    Thread::sleep(1);
  }
  return true;
}

inline int prop(Block* b, const char* key) {
  int v = -12345;
  b->getProperties()->getInt(key, &v);
  return v;
}

inline std::string pluginDir() {
  const char* p = getenv("MOSAL_PLUGIN_PATH");
  return p != nullptr ? p : "";
}

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Trace::setEnabled(false);
    // Every test starts from the default settings.
    std::remove((privateHome() + "/fwtest/morvane.properties").c_str());
    manager.reset(new BlockManager("fwtest", nullptr));
    manager->start();
  }
  void TearDown() override { manager.reset(); }

  Block* create(const char* type, const char* name = nullptr) {
    Plugin* p = manager->getPluginLoader()->getPlugin(type);
    EXPECT_NE(p, nullptr) << type;
    if (p == nullptr) return nullptr;
    Block* b = nullptr;
    EXPECT_EQ(manager->createPluginInstance(p, &b, name), 0) << manager->getErrorString();
    return b;
  }
  void connect(Block* a, const char* out, Block* b, const char* in) {
    ASSERT_EQ(manager->connectPins(a->getOutputPin(out), b->getInputPin(in)), 0)
        << manager->getErrorString();
  }
  // Runs a command line on the block and waits for its result.
  int command(Block* b, const std::string& line) {
    DefaultStatusListener l(b, 4);
    uint32_t serial;
    if (b->sendCommandScript((line + "\n").c_str(), &l, &serial) != 0) return -100;
    status_t s;
    while (l.waitStatus(&s, 10000) == 0)
      if (s.serial == serial) return s.result;
    return -101;
  }

  std::unique_ptr<BlockManager> manager;
};

}  // namespace fwtest

#endif
