// MD5 throughput over 64 KiB blocks: ours against OpenSSL's (EVP interface).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <vector>

#include "RatioReporter.h"
#include "mosal/MD5.h"

namespace {

const unsigned kBlock = 64 * 1024;

std::vector<unsigned char> makeBlock() {
  std::vector<unsigned char> v(kBlock);
  for (unsigned i = 0; i < kBlock; ++i) v[i] = static_cast<unsigned char>(i * 2654435761u >> 24);
  return v;
}

void BM_Md5_Mosal(benchmark::State& state) {
  const std::vector<unsigned char> block = makeBlock();
  unsigned char digest[16];
  for (auto _ : state) {
    md5_context_t ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, block.data(), kBlock);
    MD5Final(digest, &ctx);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_Md5_Mosal);

void BM_Md5_OpenSSL(benchmark::State& state) {
  const std::vector<unsigned char> block = makeBlock();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned len = 0;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  const EVP_MD* md = EVP_md5();
  for (auto _ : state) {
    EVP_DigestInit_ex(ctx, md, nullptr);
    EVP_DigestUpdate(ctx, block.data(), kBlock);
    EVP_DigestFinal_ex(ctx, digest, &len);
    benchmark::DoNotOptimize(digest);
  }
  EVP_MD_CTX_free(ctx);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_Md5_OpenSSL);

// Both sides must agree before their speeds are worth comparing.
bool sameDigest() {
  const std::vector<unsigned char> block = makeBlock();
  unsigned char ours[16], theirs[EVP_MAX_MD_SIZE];
  unsigned len = 0;
  md5_context_t ctx;
  MD5Init(&ctx);
  MD5Update(&ctx, block.data(), kBlock);
  MD5Final(ours, &ctx);
  EVP_Digest(block.data(), kBlock, theirs, &len, EVP_md5(), nullptr);
  return len == 16 && std::memcmp(ours, theirs, 16) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!sameDigest()) {
    std::fprintf(stderr, "Md5Bench: digests differ from OpenSSL's\n");
    return 1;
  }
  std::vector<char*> args = RatioReporter::withRepetitions(argc, argv, "5");
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  RatioReporter reporter;
  reporter.addPair("BM_Md5_Mosal", "BM_Md5_OpenSSL");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  benchmark::Shutdown();
  return 0;
}
