// The structural checker of a database file (run by `zqdb check`, and by tests after writes and
// repairs): walks a whole database file on its own (it does not load tables through the table
// layer) and reports every inconsistency it finds, one text each.
//
// What it verifies:
//   - the header: size, signature and version, the table count and each table header's place;
//   - each table header: field and index counts, storable field types, key field numbers;
//   - slot block chains: every block inside the file, no cycle, as many blocks as the slot count
//     needs, the last one ending the chain; deleted flags 0 or 1;
//   - record images inside the file; blob descriptors (area inside the file, area size a
//     multiple of 64 and larger than the stored length, or an all-zero descriptor);
//   - that no two structures (headers, blocks, images, blob areas) overlap;
//   - link block chains of every index, each link naming its own record, and the index chain:
//     every live record exactly once, no cycle, no record outside the table, live records in key
//     order and without duplicate keys in a unique index;
//   - LastAutoIncValue not below any stored auto-increment value; text slots NUL-terminated.
// Field values that are encrypted are compared and inspected only when a decoder is given; blob
// data is decoded (decrypted, inflated) only through the decoder as well.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/stream.h"

namespace zq {

class TDbFileIO;

// Turns stored bytes into plain ones for the checks that need values.
class TDbCheckDecoder {
 public:
  virtual ~TDbCheckDecoder() = default;
  // Decrypts one non-blob slot (count bytes).
  virtual void DecodeSlot(const uint8_t* stored, uint8_t* plain, int32_t count) = 0;
  // Decodes a blob's stored bytes; raises a zq::Exception when they do not decode.
  virtual void DecodeBlob(const std::vector<uint8_t>& stored, bool decompress, bool decrypt) = 0;
};

// The decoder of an open database file: its file layer's own pipeline and password.
class TDbFileIOCheckDecoder : public TDbCheckDecoder {
 public:
  explicit TDbFileIOCheckDecoder(TDbFileIO& io) : io_(io) {}
  void DecodeSlot(const uint8_t* stored, uint8_t* plain, int32_t count) override;
  void DecodeBlob(const std::vector<uint8_t>& stored, bool decompress, bool decrypt) override;

 private:
  TDbFileIO& io_;
};

class TDbChecker {
 public:
  // decoder may be null: encrypted values are then not inspected and blobs not decoded.
  TDbChecker(TStream& stream, TDbCheckDecoder* decoder);
  // Every problem found, in file order of discovery (texts in code page 1252).
  std::vector<std::string> Run();

 private:
  struct Impl;
  TStream& stream_;
  TDbCheckDecoder* decoder_;
};

}  // namespace zq
