// For test programs that read trace lines: turns tracing on before the first
// test, whatever MOSAL_TRACE says. Include it in one file of the program.
#ifndef MORVANE_TESTS_TRACE_ON_H
#define MORVANE_TESTS_TRACE_ON_H

#include <gtest/gtest.h>

#include "mosal/Trace.h"

namespace {
struct TraceOn : testing::Environment {
  void SetUp() override { MorvaneLib::Trace::setEnabled(true); }
};
const auto* const g_traceOn = testing::AddGlobalTestEnvironment(new TraceOn);
}  // namespace

#endif
