#include "dbengine/pipeline/compress_zlib.h"

#include <zlib.h>

#include <cstring>
#include <vector>

#include "dbengine/pipeline/pipeline_progress.h"
#include "dbengine/pipeline/zlib_errors.h"

namespace zq {

namespace {

std::unique_ptr<TDataProcessAlgo> CreateZlib(TPipelineOwner* owner) {
  return std::make_unique<TCompAlgo_Zlib>(owner);
}

void WriteInt32(TStream& stream, int32_t value) {
  uint8_t b[4];
  auto u = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(u >> (8 * i));
  stream.WriteBuffer(b, 4);
}

// Frees the zlib state on every way out.
struct DeflateGuard {
  z_stream* z;
  ~DeflateGuard() { deflateEnd(z); }
};
struct InflateGuard {
  z_stream* z;
  ~InflateGuard() { inflateEnd(z); }
};

}  // namespace

const TDataProcessAlgoClass TCompAlgo_Zlib::kClass{"TCompAlgo_Zlib", &CreateZlib};

int TCompAlgo_Zlib::ZlibLevel(uint8_t code) {
  switch (code) {
    case lvMaximum: return 9;
    case lvNormal: return Z_DEFAULT_COMPRESSION;
    case lvFast:
    case lvFastest: return 1;
    default: return 0;
  }
}

void TCompAlgo_Zlib::EncodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t size) {
  if (&source == &destination) {
    // In place: compress from a copy, since the destination is cleared first.
    TMemoryStream copy;
    copy.LoadFromStream(source);
    EncodeStream(copy, destination, size);
    return;
  }
  const int64_t n = source.Size();
  if (n > INT32_MAX) throw ECompressionError();  // the size field is 32 bits
  source_size_ = static_cast<int32_t>(n);
  destination.Clear();
  if (n == 0) return;

  WriteInt32(destination, static_cast<int32_t>(n));
  z_stream z{};
  if (deflateInit2(&z, ZlibLevel(level_), Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw ECompressionError();
  DeflateGuard guard{&z};
  std::vector<uint8_t> out(kBufferSize);
  const uint8_t* input = source.Memory();
  int64_t consumed = 0;
  z.next_out = out.data();
  z.avail_out = kBufferSize;
  // Feed the source in pieces zlib's 32-bit counters can hold. While the source is being written
  // into the stream, each time the output buffer fills and is written out, progress is reported;
  // finishing the stream once all of it is in reports nothing.
  int flush = Z_NO_FLUSH;
  while (true) {
    if (z.avail_in == 0 && consumed < n) {
      auto piece = static_cast<uInt>(std::min<int64_t>(n - consumed, 1 << 30));
      z.next_in = const_cast<Bytef*>(input + consumed);
      z.avail_in = piece;
      consumed += piece;
    }
    if (consumed == n && z.avail_in == 0) flush = Z_FINISH;
    int rc = deflate(&z, flush);
    if (rc == Z_STREAM_ERROR) throw ECompressionError();
    if (z.avail_out == 0) {
      destination.WriteBuffer(out.data(), kBufferSize);
      z.next_out = out.data();
      z.avail_out = kBufferSize;
      if (flush == Z_NO_FLUSH) EncodeProgress(ProgressPercent(consumed - z.avail_in, n));
    }
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) throw ECompressionError();
  }
  destination.WriteBuffer(out.data(), kBufferSize - z.avail_out);

  if (n > destination.Size() - 4) {
    destination.SetPosition(0);
    return;
  }
  // Not strictly shorter: store the bytes raw behind -N.
  destination.Clear();
  WriteInt32(destination, static_cast<int32_t>(-n));
  destination.WriteBuffer(input, n);
  destination.SetPosition(0);
}

void TCompAlgo_Zlib::DecodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t) {
  const int64_t total = source.Size();
  source_size_ = static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX));
  if (total == 0) {
    destination.Clear();
    return;
  }
  if (total < 4) throw EStreamError("Stream read error");
  const uint8_t* data = source.Memory();
  auto n = static_cast<int32_t>(uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16 |
                                uint32_t{data[3]} << 24);
  if (n < 0) {
    // Raw: the bytes after the size field, whatever their count.
    std::vector<uint8_t> raw(data + 4, data + total);
    destination.Clear();
    destination.WriteBuffer(raw.data(), static_cast<int64_t>(raw.size()));
    destination.SetPosition(0);
    return;
  }
  // The size field comes from the file: the output grows only as inflation produces bytes, so a
  // damaged unit claiming a huge size costs what it really inflates to, then fails below.
  std::vector<uint8_t> result;
  if (n > 0) {
    z_stream z{};
    if (inflateInit2(&z, 15) != Z_OK) throw EDecompressionError();
    InflateGuard guard{&z};
    std::vector<uint8_t> out(kBufferSize);
    int64_t in_pos = 4;
    bool ended = false;
    while (static_cast<int64_t>(result.size()) < n && !ended) {
      if (z.avail_in == 0) {
        if (in_pos >= total) break;  // input exhausted before N bytes
        auto piece = static_cast<uInt>(std::min<int64_t>(total - in_pos, kBufferSize));
        z.next_in = const_cast<Bytef*>(data + in_pos);
        z.avail_in = piece;
        in_pos += piece;
        DecodeProgress(ProgressPercent(in_pos - 4, total));  // compressed bytes, not the size field
      }
      int64_t want = std::min<int64_t>(n - static_cast<int64_t>(result.size()), kBufferSize);
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(want);
      int rc = inflate(&z, Z_NO_FLUSH);
      if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_MEM_ERROR || rc == Z_STREAM_ERROR)
        throw EDecompressionError();
      size_t produced = static_cast<size_t>(want) - z.avail_out;
      result.insert(result.end(), out.data(), out.data() + produced);
      if (rc == Z_STREAM_END) ended = true;
      if (rc == Z_BUF_ERROR && z.avail_in != 0) throw EDecompressionError();
    }
    if (static_cast<int64_t>(result.size()) < n) throw EStreamError("Stream read error");
  }
  destination.Clear();
  if (!result.empty()) destination.WriteBuffer(result.data(), static_cast<int64_t>(result.size()));
  destination.SetPosition(0);
}

}  // namespace zq
