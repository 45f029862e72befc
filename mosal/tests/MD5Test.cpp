// MD5 digest: the RFC 1321 test suite, split updates, long inputs and hex form.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mosal/MD5.h"

namespace {

std::string hexOf(const std::string& text) {
  char hex[MD5_HEX_LENGTH];
  MD5Hex(text.data(), static_cast<unsigned>(text.size()), hex);
  return hex;
}

struct Vector {
  const char* input;
  const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
const Vector kRfcSuite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

}  // namespace

TEST(MD5, Rfc1321Suite) {
  for (const Vector& v : kRfcSuite) EXPECT_EQ(hexOf(v.input), v.digest) << '"' << v.input << '"';
}

TEST(MD5, RawDigestBytesAndContextIsWiped) {
  md5_context_t ctx;
  unsigned char digest[16];
  MD5Init(&ctx);
  MD5Update(&ctx, "abc", 3);
  MD5Final(digest, &ctx);
  const unsigned char expected[16] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                      0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
  EXPECT_EQ(std::memcmp(digest, expected, 16), 0);
  const unsigned char* raw = reinterpret_cast<const unsigned char*>(&ctx);
  for (size_t i = 0; i < sizeof(ctx); ++i) ASSERT_EQ(raw[i], 0) << "byte " << i;
  // The context can be started again.
  MD5Init(&ctx);
  MD5Final(digest, &ctx);
  char hex[MD5_HEX_LENGTH];
  MD5DigestToHex(digest, hex);
  EXPECT_STREQ(hex, "d41d8cd98f00b204e9800998ecf8427e");
}

// Any split of the input into two or three updates gives the one-shot digest;
// the lengths cover the padding boundaries (55, 56, 63, 64 bytes) and
// several whole blocks.
TEST(MD5, UpdatesSplitAtEveryBoundaryAgree) {
  std::string text;
  for (int i = 0; i < 200; ++i) text.push_back(static_cast<char>((i * 37 + 11) & 0xff));
  for (size_t len : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 200u}) {
    const std::string input = text.substr(0, len);
    const std::string whole = hexOf(input);
    for (size_t cut = 0; cut <= len; ++cut) {
      for (size_t cut2 : {cut, (cut + len) / 2, len}) {
        md5_context_t ctx;
        MD5Init(&ctx);
        MD5Update(&ctx, input.data(), static_cast<unsigned>(cut));
        MD5Update(&ctx, input.data() + cut, static_cast<unsigned>(cut2 - cut));
        MD5Update(&ctx, input.data() + cut2, static_cast<unsigned>(len - cut2));
        unsigned char digest[16];
        char hex[MD5_HEX_LENGTH];
        MD5Final(digest, &ctx);
        MD5DigestToHex(digest, hex);
        ASSERT_EQ(whole, hex) << "len " << len << " cuts " << cut << "," << cut2;
      }
    }
  }
}

TEST(MD5, ByteByByteAndMillionA) {
  // The classic long vector: one million 'a', fed in pieces of odd sizes.
  md5_context_t ctx;
  MD5Init(&ctx);
  const std::string chunk(997, 'a');
  size_t left = 1000000;
  while (left > 0) {
    size_t n = left < chunk.size() ? left : chunk.size();
    MD5Update(&ctx, chunk.data(), static_cast<unsigned>(n));
    left -= n;
  }
  unsigned char digest[16];
  char hex[MD5_HEX_LENGTH];
  MD5Final(digest, &ctx);
  MD5DigestToHex(digest, hex);
  EXPECT_STREQ(hex, "7707d6ae4e027c70eea2a935c2296f21");

  MD5Init(&ctx);
  for (char c : std::string("message digest")) MD5Update(&ctx, &c, 1);
  MD5Update(&ctx, nullptr, 0);
  MD5Final(digest, &ctx);
  MD5DigestToHex(digest, hex);
  EXPECT_STREQ(hex, "f96b697d7cb7938d525a2f31aaf161d0");
}

TEST(MD5, CredentialIsLowerCaseHexOfEmailThenPassword) {
  // E-mail immediately followed by the password, no separator, no NUL.
  const std::string email = "anna@example.org", password = "s3cret";
  const std::string hex = hexOf(email + password);
  ASSERT_EQ(hex.size(), 32u);
  for (char c : hex) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << c;
  EXPECT_EQ(hex, "1d0bf8028e039be9054dbfec51b44bf0");
  EXPECT_NE(hex, hexOf(email + '\0' + password));
}
