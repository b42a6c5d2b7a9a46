#include "zip/zip_inflater.h"

#include <algorithm>
#include <climits>

#ifdef ZQ_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#else
#include <zlib.h>
#endif

#include "platform/exception.h"

namespace zq {

#ifdef ZQ_HAVE_ISAL

struct TZipInflater::State {
  inflate_state isal{};
  bool ended = false;
};

TZipInflater::TZipInflater() : state_(std::make_unique<State>()) {
  isal_inflate_init(&state_->isal);
  state_->isal.crc_flag = ISAL_DEFLATE;  // raw deflate data, no wrapper, no checksum
}

TZipInflater::~TZipInflater() = default;

void TZipInflater::Reset() {
  isal_inflate_reset(&state_->isal);
  state_->isal.crc_flag = ISAL_DEFLATE;
  state_->ended = false;
}

TZipInflater::Result TZipInflater::Inflate(const uint8_t*& in, size_t& in_left, uint8_t*& out,
                                           size_t& out_left) {
  if (state_->ended) return Result::kEnd;
  inflate_state& s = state_->isal;
  s.next_in = const_cast<uint8_t*>(in);
  s.avail_in = static_cast<uint32_t>(std::min<size_t>(in_left, UINT32_MAX));
  s.next_out = out;
  s.avail_out = static_cast<uint32_t>(std::min<size_t>(out_left, UINT32_MAX));
  const uint32_t in_before = s.avail_in, out_before = s.avail_out;
  int result = isal_inflate(&s);
  in += in_before - s.avail_in;
  in_left -= in_before - s.avail_in;
  out += out_before - s.avail_out;
  out_left -= out_before - s.avail_out;
  if (result < 0) return Result::kError;
  if (s.block_state == ISAL_BLOCK_FINISH) {
    state_->ended = true;
    return Result::kEnd;
  }
  return Result::kMore;
}

// The decoder reads ahead into a bit buffer; whole bytes left there were never part of the stream.
size_t TZipInflater::TakenBehindTheEnd() const {
  return state_->ended ? static_cast<size_t>(state_->isal.read_in_length / 8) : 0;
}

const char* TZipInflater::Engine() { return "ISA-L"; }

#else

struct TZipInflater::State {
  z_stream zs{};
  bool header_given = false;
  bool ended = false;
};

TZipInflater::TZipInflater() : state_(std::make_unique<State>()) {
  if (inflateInit(&state_->zs) != Z_OK) throw Exception("zlib cannot start an inflate stream");
}

TZipInflater::~TZipInflater() { inflateEnd(&state_->zs); }

void TZipInflater::Reset() {
  inflateReset(&state_->zs);
  state_->header_given = false;
  state_->ended = false;
}

TZipInflater::Result TZipInflater::Inflate(const uint8_t*& in, size_t& in_left, uint8_t*& out,
                                           size_t& out_left) {
  if (state_->ended) return Result::kEnd;
  z_stream& zs = state_->zs;
  if (!state_->header_given) {
    // The raw data behind a zlib stream header, so that the standard stream decoder takes it;
    // the Adler-32 trailer is never reached, the entry's size bounds the input.
    static const uint8_t kZlibHeader[2] = {0x78, 0x01};
    zs.next_in = const_cast<Bytef*>(kZlibHeader);
    zs.avail_in = 2;
    zs.next_out = out;
    zs.avail_out = 0;
    inflate(&zs, Z_NO_FLUSH);
    state_->header_given = true;
  }
  zs.next_in = const_cast<Bytef*>(in);
  zs.avail_in = static_cast<uInt>(std::min<size_t>(in_left, UINT_MAX));
  zs.next_out = out;
  zs.avail_out = static_cast<uInt>(std::min<size_t>(out_left, UINT_MAX));
  const uInt in_before = zs.avail_in, out_before = zs.avail_out;
  int result = inflate(&zs, Z_NO_FLUSH);
  in += in_before - zs.avail_in;
  in_left -= in_before - zs.avail_in;
  out += out_before - zs.avail_out;
  out_left -= out_before - zs.avail_out;
  if (result == Z_STREAM_END) {
    state_->ended = true;
    return Result::kEnd;
  }
  if (result < 0 && result != Z_BUF_ERROR) return Result::kError;
  return Result::kMore;
}

// zlib takes no byte behind the data it decodes.
size_t TZipInflater::TakenBehindTheEnd() const { return 0; }

const char* TZipInflater::Engine() { return "zlib"; }

#endif

}  // namespace zq
