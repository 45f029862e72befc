/* MD5: the RFC 1321 message digest, with a C interface (usable from C and C++).
 *
 * Usage: MD5Init(&ctx); MD5Update(&ctx, data, len) any number of times;
 * MD5Final(digest, &ctx) writes the 16-byte digest and wipes the context.
 * MD5Hex() digests one block and writes it as 32 lower-case hexadecimal
 * digits plus a NUL (the form used for credentials and Call-IDs).
 * A context belongs to one thread at a time; the functions keep no state of
 * their own and take no ownership of the buffers they are given.
 */
#ifndef MOSAL_MD5_H
#define MOSAL_MD5_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MD5_DIGEST_LENGTH_BYTES 16
#define MD5_HEX_LENGTH 33 /* 32 digits and the NUL */

typedef struct md5_context_s {
  uint32_t state[4];       /* A, B, C, D */
  uint32_t count[2];       /* message length in bits, low word first */
  unsigned char buffer[64]; /* bytes of the block not yet processed */
} md5_context_t;

void MD5Init(md5_context_t* context);
/* Adds len bytes of input; input may be null when len is 0. */
void MD5Update(md5_context_t* context, const void* input, unsigned int len);
/* Pads, writes the digest (16 bytes) and clears the context. */
void MD5Final(unsigned char digest[16], md5_context_t* context);

/* The digest of len bytes at data as 32 lower-case hex digits and a NUL
 * (hex must hold MD5_HEX_LENGTH bytes). */
void MD5Hex(const void* data, unsigned int len, char hex[33]);
/* Writes a 16-byte digest as 32 lower-case hex digits and a NUL. */
void MD5DigestToHex(const unsigned char digest[16], char hex[33]);

#ifdef __cplusplus
}
#endif

#endif
