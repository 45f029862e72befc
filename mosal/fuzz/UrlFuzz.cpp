// Fuzz target: URL parsing, rebuilding and percent coding of arbitrary texts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mosal/URL.h"

using namespace MorvaneLib;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);  // cut at an inner NUL below
  const char* s = text.c_str();
  URL u(s);
  if (u.path == nullptr) std::abort();  // parsing always leaves a path
  u.toString();
  u.encodePath();
  u.toString();
  u.decodePath();
  u.toString();

  // Decoding an encoded text gives the text back.
  size_t n = std::strlen(s);
  std::string enc(3 * n + 1, '\0'), dec(3 * n + 1, '\0');
  URL::stringEncode(s, &enc[0]);
  URL::stringDecode(&dec[0], enc.c_str());
  if (std::strcmp(dec.c_str(), s) != 0) std::abort();
  URL::stringDecode(&dec[0], s);
  return 0;
}
