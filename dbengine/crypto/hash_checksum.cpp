#include "dbengine/crypto/hash_checksum.h"

#include <array>

namespace zq {

namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

void StoreValue(uint8_t* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

void THash_XOR32::Init() {
  value_ = 0;
  StoreValue(digest_, 0);
}

void THash_XOR32::Calc(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t v = value_;
  for (size_t i = 0; i < size; ++i) v = ((v << 8) | (v >> 24)) ^ p[i];
  value_ = v;
}

void THash_XOR32::Done() { StoreValue(digest_, value_); }

void THash_CRC32::Init() {
  value_ = 0xFFFFFFFFu;
  StoreValue(digest_, 0);
}

void THash_CRC32::Calc(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t c = value_;
  for (size_t i = 0; i < size; ++i) c = kCrcTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  value_ = c;
}

void THash_CRC32::Done() {
  value_ = ~value_;
  StoreValue(digest_, value_);
}

uint32_t CRC32OfBuffer(const void* data, size_t size) {
  THash_CRC32 crc;
  crc.Init();
  crc.Calc(data, size);
  crc.Done();
  return crc.Value();
}

}  // namespace zq
