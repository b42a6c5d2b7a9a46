// TCompAlgo_Zlib, the "ZLIB" compression algorithm, and its stored unit format:
//
//   offset 0, 4 bytes: N, int32 little-endian; the unit's uncompressed size, or -N when the N
//                      bytes are stored raw
//   offset 4, rest:    a zlib stream (RFC 1950) of the N bytes, or the N raw bytes
//
// Compression: zlib level from the level code (code 1 → library default), deflate, window bits
// 15, memory level 8, default strategy. The zlib stream is kept only when strictly shorter than N;
// otherwise the unit is stored raw. An empty unit is stored as nothing at all.
#pragma once

#include "dbengine/pipeline/data_process_algo.h"

namespace zq {

// Level codes.
enum TCompressLevel : uint8_t { lvMaximum = 0, lvNormal = 1, lvFast = 2, lvFastest = 3 };

class TCompAlgo_Zlib : public TCompressAlgo {
 public:
  static const TDataProcessAlgoClass kClass;
  static constexpr int kBufferSize = 65536;

  explicit TCompAlgo_Zlib(TPipelineOwner* owner) : TCompressAlgo(owner) {}

  const TDataProcessAlgoClass& AlgoClass() const override { return kClass; }
  void SetLevel(uint8_t level) override { level_ = level; }
  uint8_t GetLevel() const override { return level_; }
  // The zlib level a level code selects: 0 → 9, 1 → -1, 2 and 3 → 1, others → 0.
  static int ZlibLevel(uint8_t code);

  // The whole source (from its start) becomes the destination's stored unit; size is ignored.
  void EncodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t size) override;
  // The whole source (a stored unit) becomes the destination, positioned at 0.
  void DecodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t size) override;

 private:
  uint8_t level_ = lvNormal;
  int32_t source_size_ = 0;
};

}  // namespace zq
