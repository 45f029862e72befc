// MD5: the RFC 1321 message digest, with the 64 steps of a block unrolled.
#include "mosal/MD5.h"

#include <cstring>

namespace {

inline uint32_t rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

// A little-endian 32-bit word at p, whatever the alignment.
inline uint32_t load32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

inline void store32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

// The four auxiliary functions, in forms that need fewer operations:
// F(x,y,z) = (x & y) | (~x & z) as a select; G's two terms never share a bit,
// so they are added separately; H and I as defined.
#define MD5_STEP_F(a, b, c, d, k, t, s)                          \
  a += (((c ^ d) & b) ^ d) + X[k] + t;                           \
  a = rotl(a, s) + b
#define MD5_STEP_G(a, b, c, d, k, t, s)                          \
  a += X[k] + t + (~d & c);                                      \
  a += d & b;                                                    \
  a = rotl(a, s) + b
#define MD5_STEP_H(a, b, c, d, k, t, s)                          \
  a += (b ^ c ^ d) + X[k] + t;                                   \
  a = rotl(a, s) + b
#define MD5_STEP_I(a, b, c, d, k, t, s)                          \
  a += (c ^ (b | ~d)) + X[k] + t;                                \
  a = rotl(a, s) + b

// Runs the compression function over `blocks` consecutive 64-byte blocks.
void transform(uint32_t state[4], const unsigned char* p, size_t blocks) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; blocks > 0; --blocks, p += 64) {
    uint32_t X[16];
    for (int i = 0; i < 16; ++i) X[i] = load32(p + 4 * i);
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

    // Round 1.
    MD5_STEP_F(a, b, c, d, 0, 0xd76aa478u, 7);
    MD5_STEP_F(d, a, b, c, 1, 0xe8c7b756u, 12);
    MD5_STEP_F(c, d, a, b, 2, 0x242070dbu, 17);
    MD5_STEP_F(b, c, d, a, 3, 0xc1bdceeeu, 22);
    MD5_STEP_F(a, b, c, d, 4, 0xf57c0fafu, 7);
    MD5_STEP_F(d, a, b, c, 5, 0x4787c62au, 12);
    MD5_STEP_F(c, d, a, b, 6, 0xa8304613u, 17);
    MD5_STEP_F(b, c, d, a, 7, 0xfd469501u, 22);
    MD5_STEP_F(a, b, c, d, 8, 0x698098d8u, 7);
    MD5_STEP_F(d, a, b, c, 9, 0x8b44f7afu, 12);
    MD5_STEP_F(c, d, a, b, 10, 0xffff5bb1u, 17);
    MD5_STEP_F(b, c, d, a, 11, 0x895cd7beu, 22);
    MD5_STEP_F(a, b, c, d, 12, 0x6b901122u, 7);
    MD5_STEP_F(d, a, b, c, 13, 0xfd987193u, 12);
    MD5_STEP_F(c, d, a, b, 14, 0xa679438eu, 17);
    MD5_STEP_F(b, c, d, a, 15, 0x49b40821u, 22);
    // Round 2.
    MD5_STEP_G(a, b, c, d, 1, 0xf61e2562u, 5);
    MD5_STEP_G(d, a, b, c, 6, 0xc040b340u, 9);
    MD5_STEP_G(c, d, a, b, 11, 0x265e5a51u, 14);
    MD5_STEP_G(b, c, d, a, 0, 0xe9b6c7aau, 20);
    MD5_STEP_G(a, b, c, d, 5, 0xd62f105du, 5);
    MD5_STEP_G(d, a, b, c, 10, 0x02441453u, 9);
    MD5_STEP_G(c, d, a, b, 15, 0xd8a1e681u, 14);
    MD5_STEP_G(b, c, d, a, 4, 0xe7d3fbc8u, 20);
    MD5_STEP_G(a, b, c, d, 9, 0x21e1cde6u, 5);
    MD5_STEP_G(d, a, b, c, 14, 0xc33707d6u, 9);
    MD5_STEP_G(c, d, a, b, 3, 0xf4d50d87u, 14);
    MD5_STEP_G(b, c, d, a, 8, 0x455a14edu, 20);
    MD5_STEP_G(a, b, c, d, 13, 0xa9e3e905u, 5);
    MD5_STEP_G(d, a, b, c, 2, 0xfcefa3f8u, 9);
    MD5_STEP_G(c, d, a, b, 7, 0x676f02d9u, 14);
    MD5_STEP_G(b, c, d, a, 12, 0x8d2a4c8au, 20);
    // Round 3.
    MD5_STEP_H(a, b, c, d, 5, 0xfffa3942u, 4);
    MD5_STEP_H(d, a, b, c, 8, 0x8771f681u, 11);
    MD5_STEP_H(c, d, a, b, 11, 0x6d9d6122u, 16);
    MD5_STEP_H(b, c, d, a, 14, 0xfde5380cu, 23);
    MD5_STEP_H(a, b, c, d, 1, 0xa4beea44u, 4);
    MD5_STEP_H(d, a, b, c, 4, 0x4bdecfa9u, 11);
    MD5_STEP_H(c, d, a, b, 7, 0xf6bb4b60u, 16);
    MD5_STEP_H(b, c, d, a, 10, 0xbebfbc70u, 23);
    MD5_STEP_H(a, b, c, d, 13, 0x289b7ec6u, 4);
    MD5_STEP_H(d, a, b, c, 0, 0xeaa127fau, 11);
    MD5_STEP_H(c, d, a, b, 3, 0xd4ef3085u, 16);
    MD5_STEP_H(b, c, d, a, 6, 0x04881d05u, 23);
    MD5_STEP_H(a, b, c, d, 9, 0xd9d4d039u, 4);
    MD5_STEP_H(d, a, b, c, 12, 0xe6db99e5u, 11);
    MD5_STEP_H(c, d, a, b, 15, 0x1fa27cf8u, 16);
    MD5_STEP_H(b, c, d, a, 2, 0xc4ac5665u, 23);
    // Round 4.
    MD5_STEP_I(a, b, c, d, 0, 0xf4292244u, 6);
    MD5_STEP_I(d, a, b, c, 7, 0x432aff97u, 10);
    MD5_STEP_I(c, d, a, b, 14, 0xab9423a7u, 15);
    MD5_STEP_I(b, c, d, a, 5, 0xfc93a039u, 21);
    MD5_STEP_I(a, b, c, d, 12, 0x655b59c3u, 6);
    MD5_STEP_I(d, a, b, c, 3, 0x8f0ccc92u, 10);
    MD5_STEP_I(c, d, a, b, 10, 0xffeff47du, 15);
    MD5_STEP_I(b, c, d, a, 1, 0x85845dd1u, 21);
    MD5_STEP_I(a, b, c, d, 8, 0x6fa87e4fu, 6);
    MD5_STEP_I(d, a, b, c, 15, 0xfe2ce6e0u, 10);
    MD5_STEP_I(c, d, a, b, 6, 0xa3014314u, 15);
    MD5_STEP_I(b, c, d, a, 13, 0x4e0811a1u, 21);
    MD5_STEP_I(a, b, c, d, 4, 0xf7537e82u, 6);
    MD5_STEP_I(d, a, b, c, 11, 0xbd3af235u, 10);
    MD5_STEP_I(c, d, a, b, 2, 0x2ad7d2bbu, 15);
    MD5_STEP_I(b, c, d, a, 9, 0xeb86d391u, 21);

    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

const char kHexDigits[] = "0123456789abcdef";

}  // namespace

extern "C" {

void MD5Init(md5_context_t* ctx) {
  ctx->state[0] = 0x67452301u;
  ctx->state[1] = 0xefcdab89u;
  ctx->state[2] = 0x98badcfeu;
  ctx->state[3] = 0x10325476u;
  ctx->count[0] = ctx->count[1] = 0;
}

void MD5Update(md5_context_t* ctx, const void* input, unsigned int len) {
  if (len == 0) return;
  const unsigned char* in = static_cast<const unsigned char*>(input);
  unsigned used = (ctx->count[0] >> 3) & 63u;
  // The bit count is 64 bits wide and wraps, as RFC 1321 prescribes.
  uint32_t low = ctx->count[0] + (static_cast<uint32_t>(len) << 3);
  if (low < ctx->count[0]) ++ctx->count[1];
  ctx->count[1] += static_cast<uint32_t>(len) >> 29;
  ctx->count[0] = low;

  if (used != 0) {
    unsigned room = 64 - used;
    if (len < room) {
      std::memcpy(ctx->buffer + used, in, len);
      return;
    }
    std::memcpy(ctx->buffer + used, in, room);
    transform(ctx->state, ctx->buffer, 1);
    in += room;
    len -= room;
  }
  if (len >= 64) {
    transform(ctx->state, in, len / 64);
    in += len & ~63u;
    len &= 63u;
  }
  if (len) std::memcpy(ctx->buffer, in, len);
}

void MD5Final(unsigned char digest[16], md5_context_t* ctx) {
  unsigned char bits[8];
  store32(bits, ctx->count[0]);
  store32(bits + 4, ctx->count[1]);
  // Pad with 0x80 and zeros to 56 bytes modulo 64, then the bit count.
  static const unsigned char padding[64] = {0x80};
  unsigned used = (ctx->count[0] >> 3) & 63u;
  unsigned padLen = used < 56 ? 56 - used : 120 - used;
  MD5Update(ctx, padding, padLen);
  MD5Update(ctx, bits, 8);
  for (int i = 0; i < 4; ++i) store32(digest + 4 * i, ctx->state[i]);
  // Leave nothing of the message behind.
  volatile unsigned char* wipe = reinterpret_cast<volatile unsigned char*>(ctx);
  for (size_t i = 0; i < sizeof(*ctx); ++i) wipe[i] = 0;
}

void MD5DigestToHex(const unsigned char digest[16], char hex[33]) {
  for (int i = 0; i < 16; ++i) {
    hex[2 * i] = kHexDigits[digest[i] >> 4];
    hex[2 * i + 1] = kHexDigits[digest[i] & 15];
  }
  hex[32] = '\0';
}

void MD5Hex(const void* data, unsigned int len, char hex[33]) {
  md5_context_t ctx;
  unsigned char digest[16];
  MD5Init(&ctx);
  MD5Update(&ctx, data, len);
  MD5Final(digest, &ctx);
  MD5DigestToHex(digest, hex);
}

}  // extern "C"
