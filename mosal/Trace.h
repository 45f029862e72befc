// The one trace facility of the libraries: trace lines go to standard output
// unless the environment variable MOSAL_TRACE is set to 0.
#ifndef MOSAL_TRACE_H
#define MOSAL_TRACE_H

#include <cstdio>

namespace MorvaneLib {
namespace Trace {

// True unless MOSAL_TRACE=0; read once, on first use.
bool enabled();
// Overrides the environment (tests that need silence or need the lines).
void setEnabled(bool on);

}  // namespace Trace
}  // namespace MorvaneLib

// printf-style trace line; the arguments are not evaluated when tracing is off.
#define MTRACE(...)                                   \
  do {                                                \
    if (::MorvaneLib::Trace::enabled()) std::printf(__VA_ARGS__); \
  } while (0)

// The same for the few lines that go to standard error (switched with MTRACE).
#define MTRACE_ERR(...)                                                     \
  do {                                                                      \
    if (::MorvaneLib::Trace::enabled()) std::fprintf(stderr, __VA_ARGS__); \
  } while (0)

#endif
