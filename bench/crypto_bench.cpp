// Throughput of the ciphers (modes 1 and 2), SHA-0 and CRC-32, with Blowfish in mode 1 side by
// side with OpenSSL's Blowfish CBC on the same buffers.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <memory>
#include <vector>

#include "dbengine/crypto/enc_blowfish.h"
#include "dbengine/crypto/enc_gost.h"
#include "dbengine/crypto/enc_twofish.h"
#include "dbengine/crypto/hash_checksum.h"
#include "dbengine/crypto/hash_sha.h"

#ifdef ZQ_HAVE_OPENSSL
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <openssl/blowfish.h>
#endif

namespace {

std::vector<uint8_t> Data(size_t n) {
  std::vector<uint8_t> v(n);
  uint32_t x = 12345;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return v;
}

template <class Cipher>
void BM_Cipher(benchmark::State& state) {
  const auto mode = static_cast<uint8_t>(state.range(0));
  const auto size = static_cast<size_t>(state.range(1));
  Cipher cipher;
  cipher.InitKey("benchmark password");
  cipher.SetMode(mode);
  auto buf = Data(size);
  for (auto _ : state) {
    cipher.EncodeBuffer(buf.data(), buf.data(), static_cast<int64_t>(size));
    cipher.Done();
    benchmark::DoNotOptimize(buf.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

BENCHMARK_TEMPLATE(BM_Cipher, zq::TEnc_Blowfish)->Args({1, 65536})->Args({2, 65536});
BENCHMARK_TEMPLATE(BM_Cipher, zq::TEnc_Twofish)->Args({1, 65536})->Args({2, 65536});
BENCHMARK_TEMPLATE(BM_Cipher, zq::TEnc_Gost)->Args({1, 65536})->Args({2, 65536});

void BM_Sha0(benchmark::State& state) {
  auto buf = Data(static_cast<size_t>(state.range(0)));
  zq::THash_SHA sha;
  for (auto _ : state) {
    sha.Init();
    sha.Calc(buf.data(), buf.size());
    sha.Done();
    benchmark::DoNotOptimize(sha.DigestKey());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Sha0)->Arg(65536);

void BM_Crc32(benchmark::State& state) {
  auto buf = Data(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(zq::CRC32OfBuffer(buf.data(), buf.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc32)->Arg(65536);

#ifdef ZQ_HAVE_OPENSSL
// Same key bytes (the password digest) and the same starting vector as the engine's mode 1.
void BM_OpenSslBlowfishCbc(benchmark::State& state) {
  const auto size = static_cast<size_t>(state.range(0));
  zq::TEnc_Blowfish ours;
  ours.InitKey("benchmark password");
  zq::THash_SHA sha;
  sha.Calc(std::string("benchmark password"));
  sha.Done();
  BF_KEY key;
  BF_set_key(&key, 20, sha.DigestKey());
  unsigned char iv0[8];
  std::memcpy(iv0, ours.Vector(), 8);
  auto in = Data(size);
  std::vector<uint8_t> out(size);
  for (auto _ : state) {
    unsigned char iv[8];
    std::memcpy(iv, iv0, 8);
    BF_cbc_encrypt(in.data(), out.data(), static_cast<long>(size), &key, iv, BF_ENCRYPT);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}
BENCHMARK(BM_OpenSslBlowfishCbc)->Arg(65536);

// The engine's mode 1 on the same input, copying into a separate buffer as OpenSSL does.
void BM_OurBlowfishCbc(benchmark::State& state) {
  const auto size = static_cast<size_t>(state.range(0));
  zq::TEnc_Blowfish ours;
  ours.InitKey("benchmark password");
  ours.SetMode(zq::modeCBC);
  auto in = Data(size);
  std::vector<uint8_t> out(size);
  for (auto _ : state) {
    ours.EncodeBuffer(in.data(), out.data(), static_cast<int64_t>(size));
    ours.Done();
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}
BENCHMARK(BM_OurBlowfishCbc)->Arg(65536);

// Both produce the same ciphertext: checked once before the timings.
bool SameAsOpenSsl() {
  zq::TEnc_Blowfish ours;
  ours.InitKey("benchmark password");
  ours.SetMode(zq::modeCBC);
  zq::THash_SHA sha;
  sha.Calc(std::string("benchmark password"));
  sha.Done();
  BF_KEY key;
  BF_set_key(&key, 20, sha.DigestKey());
  unsigned char iv[8];
  std::memcpy(iv, ours.Vector(), 8);
  auto in = Data(4096);
  std::vector<uint8_t> a(4096), b(4096);
  ours.EncodeBuffer(in.data(), a.data(), 4096);
  BF_cbc_encrypt(in.data(), b.data(), 4096, &key, iv, BF_ENCRYPT);
  return a == b;
}
const bool kSame = [] {
  if (!SameAsOpenSsl()) {
    std::fprintf(stderr, "Blowfish mode 1 differs from OpenSSL's CBC\n");
    std::abort();
  }
  return true;
}();
#pragma GCC diagnostic pop
#endif

}  // namespace

BENCHMARK_MAIN();
