#include "zip/zip_writer.h"

#include <zlib.h>

#include <random>

#include "platform/codepage.h"
#include "zip/zip_crypto.h"
#include "zip/zip_dir_manager.h"
#include "zip/zip_format.h"

namespace zq {

using zipfmt::Put16;
using zipfmt::Put32;
using zipfmt::Put64;

namespace {

constexpr uint32_t kMax32 = 0xFFFFFFFF;
constexpr size_t kBuffer = 256 * 1024;
// Sources from this size on get Zip64 sizes in their local header: deflate and encryption can
// add a little to the stored size.
constexpr uint64_t kZip64Threshold = 0xFFFF0000ull;

}  // namespace

TZipWriter::TZipWriter(TStream& out) : out_(out), base_(out.Position()) {}

void TZipWriter::WriteBytes(const void* data, size_t count) {
  out_.WriteBuffer(data, static_cast<int64_t>(count));
}

TZipWriter::Entry TZipWriter::MakeEntry(const std::string& name, uint32_t dos_date_time,
                                        uint32_t attributes) {
  if (finished_) throw Exception("The archive is already finished");
  Entry e;
  if (!TryCp1252ToCp850(name, e.stored_name)) {
    e.stored_name = Cp1252ToUtf8(name);
    e.flags |= 0x0800;
  }
  if (e.stored_name.size() > 0xFFFF) throw Exception(FormatMessage("Entry name too long: %s", {name}));
  e.dos_date_time = dos_date_time;
  e.attributes = attributes;
  e.offset = static_cast<uint64_t>(out_.Position() - base_);
  return e;
}

void TZipWriter::WriteLocalHeader(const Entry& e, bool zip64) {
  std::vector<uint8_t> h(30 + e.stored_name.size() + (zip64 ? 20 : 0));
  Put32(&h[0], kLocalHeaderSig);
  Put16(&h[4], e.version_needed);
  Put16(&h[6], e.flags);
  Put16(&h[8], e.method);
  Put16(&h[10], static_cast<uint16_t>(e.dos_date_time));
  Put16(&h[12], static_cast<uint16_t>(e.dos_date_time >> 16));
  Put32(&h[14], e.crc);
  Put32(&h[18], zip64 ? kMax32 : static_cast<uint32_t>(e.compressed));
  Put32(&h[22], zip64 ? kMax32 : static_cast<uint32_t>(e.uncompressed));
  Put16(&h[26], static_cast<uint16_t>(e.stored_name.size()));
  Put16(&h[28], zip64 ? 20 : 0);
  std::copy(e.stored_name.begin(), e.stored_name.end(), h.begin() + 30);
  if (zip64) {
    uint8_t* x = &h[30 + e.stored_name.size()];
    Put16(x, 0x0001);
    Put16(x + 2, 16);
    Put64(x + 4, e.uncompressed);
    Put64(x + 12, e.compressed);
  }
  WriteBytes(h.data(), h.size());
}

void TZipWriter::AddDirectory(const std::string& name, uint32_t dos_date_time, uint32_t attributes) {
  std::string dir = name;
  if (dir.empty() || dir.back() != '/') dir.push_back('/');
  Entry e = MakeEntry(dir, dos_date_time, attributes | 0x10);
  e.version_needed = 20;
  WriteLocalHeader(e, false);
  entries_.push_back(std::move(e));
}

void TZipWriter::AddStream(const std::string& name, TStream& source, uint32_t dos_date_time,
                           uint32_t attributes) {
  Entry e = MakeEntry(name, dos_date_time, attributes);
  std::vector<uint8_t> in(kBuffer), packed(kBuffer);

  // First pass: size and CRC (the encryption header's check byte needs the CRC up front).
  source.SetPosition(0);
  for (;;) {
    int64_t n = source.Read(in.data(), static_cast<int64_t>(in.size()));
    if (n <= 0) break;
    e.crc = ZipCrc32(e.crc, in.data(), static_cast<size_t>(n));
    e.uncompressed += static_cast<uint64_t>(n);
  }
  const bool encrypt = !password_.empty();
  const bool deflate = mode_ > 0;
  e.method = deflate ? 8 : 0;
  if (encrypt) e.flags |= 0x0001;
  const bool zip64 = e.uncompressed >= kZip64Threshold;
  if (zip64) e.version_needed = 45;
  const int64_t header_at = out_.Position();
  WriteLocalHeader(e, zip64);

  TZipCrypto crypto(password_);
  auto put = [&](uint8_t* data, size_t n) {
    if (encrypt) crypto.Encrypt(data, n);
    WriteBytes(data, n);
    e.compressed += n;
  };
  if (encrypt) {
    uint8_t header[12];
    std::random_device random;
    for (int i = 0; i < 11; ++i) header[i] = static_cast<uint8_t>(random());
    header[11] = static_cast<uint8_t>(e.crc >> 24);
    put(header, sizeof header);
  }

  source.SetPosition(0);
  z_stream zs{};
  if (deflate && deflateInit2(&zs, mode_, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw Exception("Cannot start the deflate stream");
  uint64_t read_total = 0;
  try {
    for (;;) {
      int64_t n = source.Read(in.data(), static_cast<int64_t>(in.size()));
      if (n < 0) n = 0;
      read_total += static_cast<uint64_t>(n);
      if (!deflate) {
        if (n == 0) break;
        put(in.data(), static_cast<size_t>(n));
        continue;
      }
      zs.next_in = in.data();
      zs.avail_in = static_cast<uInt>(n);
      int flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
      int result;
      do {
        zs.next_out = packed.data();
        zs.avail_out = static_cast<uInt>(packed.size());
        result = ::deflate(&zs, flush);
        if (result == Z_STREAM_ERROR) throw Exception("Deflate failed");
        put(packed.data(), packed.size() - zs.avail_out);
      } while (zs.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
      if (flush == Z_FINISH) break;
    }
  } catch (...) {
    if (deflate) deflateEnd(&zs);
    throw;
  }
  if (deflate) deflateEnd(&zs);
  if (read_total != e.uncompressed) throw EStreamError("Stream read error");  // source changed

  // Patch the sizes into the local header.
  const int64_t end = out_.Position();
  out_.SetPosition(header_at + 18);
  uint8_t sizes[8];
  Put32(sizes, zip64 ? kMax32 : static_cast<uint32_t>(e.compressed));
  Put32(sizes + 4, zip64 ? kMax32 : static_cast<uint32_t>(e.uncompressed));
  WriteBytes(sizes, sizeof sizes);
  if (zip64) {
    out_.SetPosition(header_at + 30 + static_cast<int64_t>(e.stored_name.size()) + 4);
    uint8_t values[16];
    Put64(values, e.uncompressed);
    Put64(values + 8, e.compressed);
    WriteBytes(values, sizeof values);
  } else if (e.compressed >= kMax32) {
    throw Exception(FormatMessage("Entry too large: %s", {name}));
  }
  out_.SetPosition(end);
  entries_.push_back(std::move(e));
}

void TZipWriter::Finish(const std::string& comment) {
  if (finished_) return;
  finished_ = true;
  const uint64_t cd_start = static_cast<uint64_t>(out_.Position() - base_);
  for (const Entry& e : entries_) {
    std::vector<uint8_t> extra;
    auto add64 = [&](uint64_t v) {
      size_t at = extra.size();
      extra.resize(at + 8);
      Put64(&extra[at], v);
    };
    bool big_u = e.uncompressed >= kMax32, big_c = e.compressed >= kMax32, big_o = e.offset >= kMax32;
    if (big_u) add64(e.uncompressed);
    if (big_c) add64(e.compressed);
    if (big_o) add64(e.offset);
    std::vector<uint8_t> h(46 + e.stored_name.size() + (extra.empty() ? 0 : 4 + extra.size()));
    bool zip64 = !extra.empty();
    Put32(&h[0], kCentralHeaderSig);
    Put16(&h[4], zip64 ? 45 : 20);  // made by: MS-DOS attributes
    Put16(&h[6], zip64 ? 45 : e.version_needed);
    Put16(&h[8], e.flags);
    Put16(&h[10], e.method);
    Put16(&h[12], static_cast<uint16_t>(e.dos_date_time));
    Put16(&h[14], static_cast<uint16_t>(e.dos_date_time >> 16));
    Put32(&h[16], e.crc);
    Put32(&h[20], big_c ? kMax32 : static_cast<uint32_t>(e.compressed));
    Put32(&h[24], big_u ? kMax32 : static_cast<uint32_t>(e.uncompressed));
    Put16(&h[28], static_cast<uint16_t>(e.stored_name.size()));
    Put16(&h[30], static_cast<uint16_t>(extra.empty() ? 0 : 4 + extra.size()));
    Put16(&h[32], 0);
    Put16(&h[34], 0);
    Put16(&h[36], 0);
    Put32(&h[38], e.attributes);
    Put32(&h[42], big_o ? kMax32 : static_cast<uint32_t>(e.offset));
    std::copy(e.stored_name.begin(), e.stored_name.end(), h.begin() + 46);
    if (zip64) {
      uint8_t* x = &h[46 + e.stored_name.size()];
      Put16(x, 0x0001);
      Put16(x + 2, static_cast<uint16_t>(extra.size()));
      std::copy(extra.begin(), extra.end(), x + 4);
    }
    WriteBytes(h.data(), h.size());
  }
  const uint64_t cd_end = static_cast<uint64_t>(out_.Position() - base_);
  const uint64_t cd_size = cd_end - cd_start;
  const uint64_t count = entries_.size();
  const bool zip64 = count >= 0xFFFF || cd_start >= kMax32 || cd_size >= kMax32;
  if (zip64) {
    uint8_t rec[56 + 20] = {};
    Put32(rec, kZip64EndRecordSig);
    Put64(rec + 4, 44);
    Put16(rec + 12, 45);
    Put16(rec + 14, 45);
    Put64(rec + 24, count);
    Put64(rec + 32, count);
    Put64(rec + 40, cd_size);
    Put64(rec + 48, cd_start);
    uint8_t* loc = rec + 56;
    Put32(loc, kZip64LocatorSig);
    Put64(loc + 8, cd_end);
    Put32(loc + 16, 1);
    WriteBytes(rec, sizeof rec);
  }
  if (comment.size() > 0xFFFF) throw Exception("Archive comment too long");
  uint8_t end[22] = {};
  Put32(end, kEndRecordSig);
  uint16_t count16 = count >= 0xFFFF ? 0xFFFF : static_cast<uint16_t>(count);
  Put16(end + 8, count16);
  Put16(end + 10, count16);
  Put32(end + 12, cd_size >= kMax32 ? kMax32 : static_cast<uint32_t>(cd_size));
  Put32(end + 16, cd_start >= kMax32 ? kMax32 : static_cast<uint32_t>(cd_start));
  Put16(end + 20, static_cast<uint16_t>(comment.size()));
  WriteBytes(end, sizeof end);
  WriteBytes(comment.data(), comment.size());
}

}  // namespace zq
