// A test fixture with a fresh scratch directory: root is made under /tmp
// before each test and removed with everything in it afterwards; dir names
// root/data, which the test creates when it wants it. Tracing is off during
// each test and back on after it.
#ifndef MORVANE_TESTS_SCRATCH_DIR_TEST_H
#define MORVANE_TESTS_SCRATCH_DIR_TEST_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "mosal/Trace.h"

class ScratchDirTest : public testing::Test {
 protected:
  // prefix: the start of the directory's name under /tmp.
  explicit ScratchDirTest(const char* prefix) : _prefix(prefix) {}

  void SetUp() override {
    MorvaneLib::Trace::setEnabled(false);
    std::string tmpl = "/tmp/" + _prefix + "-XXXXXX";
    ASSERT_NE(::mkdtemp(&tmpl[0]), nullptr);
    root = tmpl;
    dir = root + "/data";
  }
  void TearDown() override {
    MorvaneLib::Trace::setEnabled(true);
    std::string cmd = "rm -rf " + root;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }

  std::string root, dir;

 private:
  std::string _prefix;
};

#endif
