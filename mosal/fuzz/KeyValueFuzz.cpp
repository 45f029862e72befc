// Fuzz target: the key=value loader and the line reader under it. The input
// is written to a file and read back; records must give back every byte
// except the continuations, with any buffer size.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mosal/Hash.h"
#include "mosal/Trace.h"
#include "mosal/Utils.h"

using namespace MorvaneLib;

namespace {

std::string tempFile() {
  char path[] = "/tmp/keyvaluefuzz-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) std::abort();
  close(fd);
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Trace::setEnabled(false);
  static const std::string path = tempFile();
  static const std::string savePath = tempFile();
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  // Line reader: what the records hold is the input without "\\\n" pairs.
  std::string expected;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\\' && i + 1 < size && data[i + 1] == '\n') {
      ++i;
      continue;
    }
    expected += static_cast<char>(data[i]);
  }
  unsigned bufSize = size > 0 ? 2 + data[0] % 40 : 8;
  std::vector<char> buf(bufSize + 1);
  f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return 0;
  std::string got;
  unsigned ends = 0;
  bool cut = false;
  int n;
  size_t guard = 0;
  while ((n = Utils::getDelim(buf.data(), bufSize, '\n', f, &ends, &cut)) != -1) {
    if (n < 1 || static_cast<unsigned>(n) > bufSize || buf[n] != '\0') std::abort();
    got.append(buf.data(), cut ? n - 1 : n);  // a cut record ends in a borrowed delimiter
    if (++guard > size + 1) std::abort();     // every record makes progress
  }
  std::fclose(f);
  if (got != expected) std::abort();

  // Loader: every stored pair can be found again and saved.
  Hash h(16);
  if (h.loadKV(path.c_str()) != 0) std::abort();
  Enumeration* keys = h.keys();
  if (keys->getCount() != h.getEntryCount()) std::abort();
  while (keys->hasMoreElements()) {
    enum_elem_t* k = keys->nextElement();
    if (k->length == 0 || k->data[k->length - 1] != '\0') std::abort();
    if (h.get(k->data, k->length) == nullptr) std::abort();
  }
  if (h.saveKV(savePath.c_str()) != 0) std::abort();
  Hash back(16);
  if (back.loadKV(savePath.c_str()) != 0) std::abort();
  return 0;
}
