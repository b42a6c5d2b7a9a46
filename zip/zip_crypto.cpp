#include "zip/zip_crypto.h"

#include <zlib.h>

#ifdef ZQ_HAVE_ISAL
#include <isa-l/crc.h>
#endif

namespace zq {

namespace {

// One raw CRC-32 step (no pre/post inversion), as the key schedule uses it.
inline uint32_t CrcStep(uint32_t crc, uint8_t byte) {
  static const z_crc_t* table = get_crc_table();
  return static_cast<uint32_t>(table[(crc ^ byte) & 0xFF]) ^ (crc >> 8);
}

}  // namespace

void TZipCrypto::Init(std::string_view password) {
  key0_ = 0x12345678;
  key1_ = 0x23456789;
  key2_ = 0x34567890;
  for (char c : password) Update(static_cast<uint8_t>(c));
}

void TZipCrypto::Update(uint8_t plain) {
  key0_ = CrcStep(key0_, plain);
  key1_ = (key1_ + (key0_ & 0xFF)) * 134775813u + 1;
  key2_ = CrcStep(key2_, static_cast<uint8_t>(key1_ >> 24));
}

namespace {

// The cipher over a buffer; decrypting updates the keys with the plaintext it produces,
// encrypting with the plaintext it reads.
template <bool kDecrypt>
void Transform(uint8_t* data, size_t count, uint32_t& key0, uint32_t& key1, uint32_t& key2) {
  const z_crc_t* table = get_crc_table();
  uint32_t k0 = key0, k1 = key1, k2 = key2;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t temp = (k2 | 2) & 0xFFFF;
    const uint8_t stream = static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
    const uint8_t plain = kDecrypt ? static_cast<uint8_t>(data[i] ^ stream) : data[i];
    data[i] = static_cast<uint8_t>(data[i] ^ stream);
    k0 = static_cast<uint32_t>(table[(k0 ^ plain) & 0xFF]) ^ (k0 >> 8);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = static_cast<uint32_t>(table[(k2 ^ (k1 >> 24)) & 0xFF]) ^ (k2 >> 8);
  }
  key0 = k0;
  key1 = k1;
  key2 = k2;
}

}  // namespace

void TZipCrypto::Decrypt(uint8_t* data, size_t count) { Transform<true>(data, count, key0_, key1_, key2_); }

void TZipCrypto::Encrypt(uint8_t* data, size_t count) { Transform<false>(data, count, key0_, key1_, key2_); }

uint32_t ZipCrc32(uint32_t crc, const void* data, size_t count) {
#ifdef ZQ_HAVE_ISAL
  // The same CRC-32 as zlib's, computed with carry-less multiplication where the processor has it.
  return crc32_gzip_refl(crc, static_cast<const unsigned char*>(data), count);
#endif
  const auto* p = static_cast<const Bytef*>(data);
  while (count > 0) {
    auto n = static_cast<uInt>(count > (1u << 30) ? (1u << 30) : count);
    crc = static_cast<uint32_t>(crc32(crc, p, n));
    p += n;
    count -= n;
  }
  return crc;
}

}  // namespace zq
