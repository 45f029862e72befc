// Fuzz target: the command-line splitter, through Command::makeParams, an
// interpreter run and Vector::addElements, on arbitrary texts.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mosal/Interp.h"
#include "mosal/Trace.h"
#include "mosal/Vector.h"

using namespace MorvaneLib;

namespace {

class Echo : public Command {
 public:
  Echo() : Command("Echo", 0, 6) {}
  int perform(Params* p, void*) override { return p->argc; }
};

bool space7(char c) { return std::isspace(static_cast<unsigned char>(c) & 0x7F) != 0; }
bool trailing7(char c) {
  int v = static_cast<unsigned char>(c) & 0x7F;
  return std::isspace(v) || std::iscntrl(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Trace::setEnabled(false);
  std::string text(reinterpret_cast<const char*>(data), size);  // cut at an inner NUL below
  const char* s = text.c_str();

  Params p(8, 16);
  Command cmd("Fuzz", 0, 8);
  int r = cmd.makeParams(&p, s);
  if (r != 0 && r != -1) std::abort();
  if (p.argc < 0 || p.argc > p.max) std::abort();
  if (r == -1 && p.argc != p.max) std::abort();  // only a full list refuses
  for (int i = 0; i < p.argc; ++i) {
    size_t n = strnlen(p.argv[i], 16);
    if (n == 0 || n > 15) std::abort();  // never empty, always terminated in its slot
    // Trimmed before being cut to the slot, so only an uncut end is clean.
    if (space7(p.argv[i][0]) || (n < 15 && trailing7(p.argv[i][n - 1]))) std::abort();
  }

  static Interp* in = nullptr;
  if (in == nullptr) {
    in = new Interp(8, 4, 32);
    in->addCommand(new Echo());
  }
  r = in->run("Echo", s, nullptr);
  if (r < -3 || r > 4) std::abort();

  // The vector form: first byte picks the delimiters and the trimming.
  const char* delims = size > 0 && (data[0] & 1) ? ",;" : " \t";
  bool trim = size > 0 && (data[0] & 2);
  Vector v(12, 5, 3);
  if (v.addElements(s, delims, trim) != 0) std::abort();
  for (unsigned i = 0; i < v.size(); ++i)
    if (strnlen(v.elementAt(i), 12) > 11) std::abort();
  return 0;
}
