// Fuzz target: the multipart/x-mixed-replace splitter fed with arbitrary
// streams cut into arbitrary pieces. The parts that come out must not depend
// on how the stream was cut.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mosal/Hash.h"
#include "mosal/StreamConsumers.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

class Recorder : public EntityConsumer {
 public:
  int consume(TextMessage*, char* data, unsigned n, void* context) override {
    auto* info = static_cast<part_info_t*>(context);
    if (info == nullptr || n == 0) std::abort();
    if (info->first) log += "#" + std::to_string(info->number) + "/" + std::to_string(info->size) + ":";
    log.append(data, n);
    return static_cast<int>(n);
  }
  std::string log;
};

std::string run(const uint8_t* data, size_t size, const uint8_t* cuts, size_t ncuts) {
  MultipartXMixedReplaceEC ec(nullptr, "multipart/x-mixed-replace; boundary=b");
  Recorder r;
  ec.getPartConsumers()->pput("image/jpeg", 11, &r);
  ec.getPartConsumers()->pput("", 1, &r);
  size_t off = 0, k = 0;
  std::vector<char> piece;
  while (off < size) {
    size_t n = ncuts == 0 ? size : cuts[k++ % ncuts] % 97 + 1;
    if (n > size - off) n = size - off;
    piece.assign(data + off, data + off + n);  // exact size: overreads are caught
    if (ec.consume(nullptr, piece.data(), static_cast<unsigned>(n), nullptr) != static_cast<int>(n)) std::abort();
    off += n;
  }
  if (ec.consume(nullptr, nullptr, 0, nullptr) != -1) std::abort();
  return r.log;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = (Trace::setEnabled(false), true);
  (void)quiet;
  if (size < 1) return 0;
  size_t ncuts = data[0] % 8;
  if (size < 1 + ncuts) return 0;
  const uint8_t* cuts = data + 1;
  const uint8_t* stream = data + 1 + ncuts;
  size_t n = size - 1 - ncuts;
  if (run(stream, n, cuts, ncuts) != run(stream, n, nullptr, 0)) std::abort();
  return 0;
}
