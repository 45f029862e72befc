// morconsole: feeds graph-script lines from standard input to the block
// framework's graph engine and prints each result.
#include <cstdio>
#include <cstring>

#include "framework/BlockManager.h"
#include "mosal/DataBuf.h"
#include "mosal/Error.h"
#include "mosal/Utils.h"

using namespace MorvaneLib;

int main() {
  BlockManager* manager = nullptr;
  DataBuf* line = nullptr;
  try {
    manager = new BlockManager("morconsole", nullptr);
    line = new DataBuf(0x40000, 0, 0x40000, ALLOC_ONCREATE);
  } catch (LibError& e) {
    std::fprintf(stderr, "Cannot initialize application\n");
    std::fprintf(stderr, "Reason: %s in %s\n", e.getReason(), e.getLocation());
    delete manager;
    return 1;
  }
  manager->start();

  // The reader needs room for its NUL after the record: one byte less than
  // the buffer holds.
  unsigned limit = line->getSize() - 1;
  bool inTail = false;  // the rest of a line too long for the buffer
  for (;;) {
    unsigned ends = 0;
    bool cut = false;
    int n = Utils::getDelim(line->getData(), limit, '\n', stdin, &ends, &cut);
    if (n == -1 || n == 0) break;
    char* text = line->getData();
    // Input that ends inside a line: that line is not run.
    if (!cut && text[n - 1] != '\n') break;
    bool skip = inTail;
    inTail = cut;
    if (skip) continue;
    if (cut) {
      std::fprintf(stderr, "Line too long: not run\n");
      std::printf("Graph engine returned %d\n", -1);
      std::fflush(stdout);
      continue;
    }
    line->setLength(static_cast<unsigned>(n));
    if (std::strncmp(text, "Quit", 4) == 0) break;
    int result = manager->runGraphScript(line);
    if (result != 0) std::fprintf(stderr, "%s\n", manager->getErrorString());
    std::printf("Graph engine returned %d\n", result);
    std::fflush(stdout);
  }
  delete manager;
  delete line;
  return 0;
}
