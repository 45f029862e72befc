// Fuzz target: TextMessage::parse fed in chunks whose sizes the first input
// bytes choose; the chunked result must equal the result of one whole parse.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mosal/TextMessage.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

SharedHash* descriptors() {
  static SharedHash* table = [] {
    Trace::setEnabled(false);
    auto* t = new SharedHash(128);
    const char* general[] = {"Via", "To", "From", "Call-ID", "CSeq", "Contact", "Max-Forwards",
                             "User-Agent", "X-Video-Port", "X-Audio-Port", "Host"};
    char one = 1, two = 2, three = 3, four = 4, bad = 7;
    for (const char* n : general) t->put(n, std::strlen(n) + 1, &one, 1);
    t->put("Expires", 8, &two, 1);
    t->put("Retry-After", 12, &three, 1);
    t->put("Content-Type", 13, &four, 1);
    t->put("Content-Length", 15, &four, 1);
    t->put("Broken", 7, &bad, 1);
    return t;
  }();
  return table;
}

std::string state(HttpLikeMessage& m) {
  std::string s(m.getStartLine()->getData());
  s += m.isCompleted() ? "|done|" : "|open|";
  s.append(m.getResidueData()->getData(), m.getResidueData()->getLength());
  DataBuf* w = m.getMessageBuffer();  // enumerates the three tables
  s += '|';
  if (w) s.append(w->getData(), w->getLength());
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  unsigned nSizes = data[0] % 8 + 1;
  if (size < 1 + nSizes) return 0;
  const uint8_t* sizes = data + 1;
  const char* text = reinterpret_cast<const char*>(data + 1 + nSizes);
  unsigned len = static_cast<unsigned>(size - 1 - nSizes);

  HttpLikeMessage whole(descriptors(), 64, 32, 32768, 64);
  int rw = whole.parse(text, len);

  HttpLikeMessage chunked(descriptors(), 64, 32, 32768, 64);
  int rc = 0;
  unsigned pos = 0;
  for (unsigned i = 0; pos < len && rc == 0; ++i) {
    unsigned n = sizes[i % nSizes] % 64 + 1;
    if (n > len - pos) n = len - pos;
    rc = chunked.parse(text + pos, n);
    pos += n;
  }
  if (rw == 0 && rc == 0 && state(whole) != state(chunked)) std::abort();

  // Entity rules, then the following messages of the stream.
  for (int round = 0; round < 8 && rw == 0 && whole.isCompleted(); ++round) {
    whole.isEntityPresent();
    unsigned used = whole.getEntitySize();
    whole.getEntityKey();
    rw = whole.resetForNext(used);
    DataBuf* sl = whole.getStartLine();  // always a text inside its buffer
    if (strnlen(sl->getData(), sl->getSize()) >= sl->getSize()) std::abort();
  }
  whole.reset();
  return 0;
}
