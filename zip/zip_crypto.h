// The traditional PKWARE stream cipher of the ZIP format: three 32-bit keys initialised from the
// password and updated with every plaintext byte through the CRC-32 step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zq {

class TZipCrypto {
 public:
  explicit TZipCrypto(std::string_view password) { Init(password); }
  void Init(std::string_view password);

  uint8_t DecryptByte(uint8_t cipher) {
    uint8_t plain = cipher ^ StreamByte();
    Update(plain);
    return plain;
  }
  uint8_t EncryptByte(uint8_t plain) {
    uint8_t cipher = plain ^ StreamByte();
    Update(plain);
    return cipher;
  }
  // Whole buffers in place, with the keys kept in registers: the same bytes as byte by byte.
  void Decrypt(uint8_t* data, size_t count);
  void Encrypt(uint8_t* data, size_t count);

 private:
  uint8_t StreamByte() const {
    // Unsigned arithmetic: the 16-bit product overflows a signed int.
    uint32_t temp = (key2_ | 2) & 0xFFFF;
    return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
  }
  void Update(uint8_t plain);

  uint32_t key0_ = 0, key1_ = 0, key2_ = 0;
};

// The ZIP CRC-32 of a buffer, continuing from crc (0 to start), through ISA-L where the build has
// it, through zlib otherwise.
uint32_t ZipCrc32(uint32_t crc, const void* data, size_t count);

}  // namespace zq
