// The stored unit format of the "ZLIB" algorithm: byte-exact against zlib's own compress2, the
// raw fallback, empty units, progress, and damaged or hostile units.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include "dbengine/pipeline/compress_zlib.h"
#include "dbengine/pipeline/pipeline_progress.h"
#include "dbengine/pipeline/zlib_errors.h"

namespace zq {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Random(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes v(n);
  for (auto& b : v) b = static_cast<uint8_t>(gen());
  return v;
}

// Text over a small alphabet: compresses, but not to nothing.
// 100 * pos / total rounded half to even, worked out here rather than by the unit's own function.
int HalfEvenPercent(int64_t pos, int64_t total) {
  int64_t q = 100 * pos / total, r = 100 * pos % total;
  if (2 * r > total || (2 * r == total && q % 2 == 1)) ++q;
  return static_cast<int>(q);
}

Bytes Compressible(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes v(n);
  for (auto& b : v) b = static_cast<uint8_t>('a' + gen() % 16);
  return v;
}

Bytes Compress2(const Bytes& in, int level) {
  uLongf len = compressBound(in.size());
  Bytes out(len);
  EXPECT_EQ(compress2(out.data(), &len, in.data(), in.size(), level), Z_OK);
  out.resize(len);
  return out;
}

TMemoryStream Stream(const Bytes& b) {
  TMemoryStream s;
  if (!b.empty()) s.WriteBuffer(b.data(), static_cast<int64_t>(b.size()));
  s.SetPosition(0);
  return s;
}

Bytes Contents(const TMemoryStream& s) { return s.Bytes(); }

Bytes Encode(const Bytes& in) {
  TCompAlgo_Zlib zlib(nullptr);
  TMemoryStream src = Stream(in), dst;
  zlib.EncodeStream(src, dst, -1);
  return Contents(dst);
}

Bytes Decode(const Bytes& unit) {
  TCompAlgo_Zlib zlib(nullptr);
  TMemoryStream src = Stream(unit), dst;
  zlib.DecodeStream(src, dst, -1);
  EXPECT_EQ(dst.Position(), 0);
  return Contents(dst);
}

int32_t SizeField(const Bytes& unit) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t{unit[i]} << (8 * i);
  return static_cast<int32_t>(v);
}

Bytes Unit(int32_t size_field, const Bytes& rest) {
  Bytes u(4);
  for (int i = 0; i < 4; ++i) u[i] = static_cast<uint8_t>(static_cast<uint32_t>(size_field) >> (8 * i));
  u.insert(u.end(), rest.begin(), rest.end());
  return u;
}

TEST(ZlibUnit, CompressibleUnitIsSizeFieldThenCompress2Output) {
  for (size_t n : {1000u, 65536u, 200000u}) {
    Bytes in = Compressible(n, static_cast<uint32_t>(n));
    Bytes unit = Encode(in);
    ASSERT_GE(unit.size(), 4u);
    EXPECT_EQ(SizeField(unit), static_cast<int32_t>(n));
    Bytes stream(unit.begin() + 4, unit.end());
    EXPECT_EQ(stream, Compress2(in, Z_DEFAULT_COMPRESSION)) << n;
    EXPECT_EQ(Decode(unit), in);
  }
}

TEST(ZlibUnit, IncompressibleUnitIsStoredRaw) {
  Bytes in = Random(5000, 1);
  Bytes unit = Encode(in);
  EXPECT_EQ(unit, Unit(-5000, in));
  EXPECT_EQ(Decode(unit), in);
  Bytes one = {0x42};
  EXPECT_EQ(Encode(one), Unit(-1, one));
}

// The zlib stream must be strictly shorter than N: a stream of exactly N bytes is stored raw,
// one of N - 1 bytes is kept.
TEST(ZlibUnit, StreamOfExactlyNBytesIsStoredRaw) {
  bool found_equal = false, found_shorter = false;
  for (size_t repeat = 0; repeat < 80 && !(found_equal && found_shorter); ++repeat) {
    for (size_t tail = 0; tail < 40; ++tail) {
      Bytes in(repeat, 'x');
      Bytes rnd = Random(tail, static_cast<uint32_t>(repeat * 100 + tail));
      in.insert(in.end(), rnd.begin(), rnd.end());
      if (in.empty()) continue;
      size_t zlen = Compress2(in, Z_DEFAULT_COMPRESSION).size();
      Bytes unit = Encode(in);
      if (zlen == in.size()) {
        found_equal = true;
        EXPECT_EQ(unit, Unit(-static_cast<int32_t>(in.size()), in));
      } else if (zlen + 1 == in.size()) {
        found_shorter = true;
        EXPECT_EQ(SizeField(unit), static_cast<int32_t>(in.size()));
        EXPECT_EQ(unit.size(), in.size() + 3);
      }
      EXPECT_LE(unit.size(), in.size() + 4);
      EXPECT_EQ(Decode(unit), in);
    }
  }
  EXPECT_TRUE(found_equal);
  EXPECT_TRUE(found_shorter);
}

TEST(ZlibUnit, InPlaceEncodeAndDecode) {
  Bytes in = Compressible(20000, 8);
  TCompAlgo_Zlib zlib(nullptr);
  TMemoryStream s = Stream(in);
  zlib.EncodeStream(s, s, -1);
  EXPECT_EQ(s.Bytes(), Encode(in));
  zlib.DecodeStream(s, s, -1);
  EXPECT_EQ(s.Bytes(), in);
}

TEST(ZlibUnit, EmptyInEmptyOut) {
  EXPECT_TRUE(Encode({}).empty());
  EXPECT_TRUE(Decode({}).empty());
}

TEST(ZlibUnit, SizeFieldZeroWithTrailingBytesDecodesToNothing) {
  EXPECT_TRUE(Decode(Unit(0, {1, 2, 3, 4, 5})).empty());
  EXPECT_TRUE(Decode(Unit(0, {})).empty());
}

TEST(ZlibUnit, RawUnitKeepsEverythingAfterTheField) {
  EXPECT_EQ(Decode(Unit(-3, {7, 8, 9, 10})), (Bytes{7, 8, 9, 10}));
}

TEST(ZlibUnit, LevelCodes) {
  EXPECT_EQ(TCompAlgo_Zlib::ZlibLevel(lvMaximum), 9);
  EXPECT_EQ(TCompAlgo_Zlib::ZlibLevel(lvNormal), -1);
  EXPECT_EQ(TCompAlgo_Zlib::ZlibLevel(lvFast), 1);
  EXPECT_EQ(TCompAlgo_Zlib::ZlibLevel(lvFastest), 1);
  EXPECT_EQ(TCompAlgo_Zlib::ZlibLevel(4), 0);
  EXPECT_EQ(TCompAlgo_Zlib::ZlibLevel(255), 0);
  TCompAlgo_Zlib zlib(nullptr);
  EXPECT_EQ(zlib.GetLevel(), lvNormal);
  // A unit written at another level is still read: reading does not depend on the level.
  Bytes in = Compressible(30000, 9);
  zlib.SetLevel(lvMaximum);
  TMemoryStream src = Stream(in), dst;
  zlib.EncodeStream(src, dst, -1);
  Bytes stream(dst.Bytes().begin() + 4, dst.Bytes().end());
  EXPECT_EQ(stream, Compress2(in, 9));
  EXPECT_EQ(Decode(dst.Bytes()), in);
}

TEST(ZlibUnit, DecodeProgressAfterEveryInputPiece) {
  Bytes in = Compressible(400000, 3);
  Bytes unit = Encode(in);
  ASSERT_GT(unit.size(), 3u * 65536);
  TCompAlgo_Zlib zlib(nullptr);
  std::vector<int> seen;
  zlib.OnDecodeProgress = [&](TPipelineOwner*, int p) { seen.push_back(p); };
  TMemoryStream src = Stream(unit), dst;
  zlib.DecodeStream(src, dst, -1);
  std::vector<int> expected;
  const int64_t total = static_cast<int64_t>(unit.size());
  // Compressed bytes read so far (the size field is no compressed byte) against the unit's size.
  for (int64_t pos = 4; pos < total;) {
    pos = std::min<int64_t>(pos + 65536, total);
    expected.push_back(HalfEvenPercent(pos - 4, total));
  }
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(dst.Bytes(), in);
}

// The encode progress figures of a source: zlib run as the unit format describes it, the whole
// source written into the stream first (one report per full 64 KiB output buffer, of the bytes
// consumed so far), then the stream finished without reports. Also counts the full buffers that
// finishing writes.
struct EncodeProgressModel {
  std::vector<int> reports;
  int full_buffers_while_finishing = 0;
};

EncodeProgressModel ModelEncodeProgress(const Bytes& in) {
  EncodeProgressModel model;
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes out(65536);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  while (z.avail_in > 0) {
    EXPECT_EQ(deflate(&z, Z_NO_FLUSH), Z_OK);
    if (z.avail_out == 0) {
      model.reports.push_back(HalfEvenPercent(static_cast<int64_t>(in.size() - z.avail_in),
                                              static_cast<int64_t>(in.size())));
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
    }
  }
  for (int rc = Z_OK; rc != Z_STREAM_END;) {
    rc = deflate(&z, Z_FINISH);
    EXPECT_TRUE(rc == Z_OK || rc == Z_STREAM_END || rc == Z_BUF_ERROR);
    if (z.avail_out == 0) {
      ++model.full_buffers_while_finishing;
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
    }
  }
  deflateEnd(&z);
  return model;
}

TEST(ZlibUnit, EncodeProgressEachTimeTheOutputBufferIsWritten) {
  std::vector<Bytes> sources;
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    sources.push_back(Compressible(400000 + seed * 7919, seed));
    sources.push_back(Random(200000 + seed * 12347, seed));
  }
  // A source whose stream, once all of it is in, still fills a whole buffer while it is finished.
  bool found = false;
  for (size_t n = 65536; n < 4 * 65536 && !found; n += 4099) {
    Bytes in = Compressible(n, 7);
    if (ModelEncodeProgress(in).full_buffers_while_finishing > 0) {
      sources.push_back(in);
      found = true;
    }
  }
  ASSERT_TRUE(found);
  for (const Bytes& in : sources) {
    SCOPED_TRACE(std::to_string(in.size()) + " bytes");
    TCompAlgo_Zlib zlib(nullptr);
    std::vector<int> seen;
    zlib.OnEncodeProgress = [&](TPipelineOwner*, int p) { seen.push_back(p); };
    TMemoryStream src = Stream(in), dst;
    zlib.EncodeStream(src, dst, -1);
    EXPECT_EQ(seen, ModelEncodeProgress(in).reports);
  }
}

TEST(ProgressPercent, RoundsHalfToEvenAndZeroForZeroDivisor) {
  EXPECT_EQ(ProgressPercent(0, 0), 0);
  EXPECT_EQ(ProgressPercent(5, 0), 0);
  EXPECT_EQ(ProgressPercent(1, 8), 12);   // 12.5 → 12
  EXPECT_EQ(ProgressPercent(3, 8), 38);   // 37.5 → 38
  EXPECT_EQ(ProgressPercent(1, 200), 0);  // 0.5 → 0
  EXPECT_EQ(ProgressPercent(3, 200), 2);  // 1.5 → 2
  EXPECT_EQ(ProgressPercent(4096, 10000), 41);
  EXPECT_EQ(ProgressPercent(10000, 10000), 100);
}

// Damaged and hostile units end in the project's exceptions, never in a huge allocation.
TEST(ZlibUnit, HostileUnits) {
  Bytes in = Compressible(1000, 5);
  Bytes good = Encode(in);
  Bytes stream(good.begin() + 4, good.end());

  // A size field claiming 2 GiB over a stream of 1000 bytes.
  try {
    Decode(Unit(0x7FFFFFFF, stream));
    FAIL();
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
  // Truncated stream.
  try {
    Decode(Unit(1000, Bytes(stream.begin(), stream.begin() + stream.size() / 2)));
    FAIL();
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
  // Garbage instead of a zlib stream.
  try {
    Decode(Unit(1000, Random(200, 6)));
    FAIL();
  } catch (const EDecompressionError& e) {
    EXPECT_EQ(e.Message(), "error");
  }
  // A size field alone, or only part of one.
  EXPECT_THROW(Decode(Unit(50, {})), EStreamError);
  EXPECT_THROW(Decode(Bytes{1, 0}), EStreamError);
  // A corrupted checksum trailer.
  Bytes bad = good;
  bad.back() ^= 0xFF;
  // Either the N bytes were complete before the trailer was checked, or the check fails.
  try {
    EXPECT_EQ(Decode(bad), in);
  } catch (const EDecompressionError& e) {
    EXPECT_EQ(e.Message(), "error");
  }
  // Random units of every shape fail cleanly or decode to something.
  for (uint32_t seed = 0; seed < 300; ++seed) {
    Bytes junk = Random(4 + seed % 64, seed);
    if (seed % 3 == 0) junk[3] = 0x7F;
    try {
      Decode(junk);
    } catch (const Exception&) {
    }
  }
}

}  // namespace
}  // namespace zq
