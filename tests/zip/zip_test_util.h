// Helpers for the archive tests: a scratch folder per test, file helpers, external programs
// (Python's zipfile, Info-ZIP zip), and a byte-level archive builder for hand-made and hostile
// archives that does not share code with the component.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "zip/zip_archiver.h"

namespace zq::test {

using Bytes = std::vector<uint8_t>;

using testing_support::ReadFile;
using testing_support::WriteFile;
inline void WriteFile(const std::string& path, const Bytes& data) {
  WriteFile(path, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}
inline bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}
using testing_support::OnPath;
// Runs a program in a folder; returns its exit status, its error output shown on failure.
inline int Run(const std::string& dir, const std::string& program, const std::vector<std::string>& args) {
  testing_support::ProgramResult r = testing_support::RunProgram(program, args, {.cwd = dir});
  if (r.status != 0) std::cerr << program << ": " << r.out << r.err << "\n";
  return r.status;
}
// Runs a Python script with the given text as its source.
inline int RunPython(const std::string& dir, const std::string& script) { return Run(dir, "python3", {"-c", script}); }

class TempDirTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return temp_.File(name); }
  testing_support::TempDir temp_{"zqzip"};
  std::string dir_ = temp_.Path();
};

inline uint32_t Crc(const std::string& data) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

inline std::string RawDeflate(const std::string& data, int level = 6) {
  z_stream zs{};
  deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, data.size()) + 16, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

// Independent implementation of the traditional PKWARE cipher for building test archives.
class TestCipher {
 public:
  explicit TestCipher(const std::string& password) {
    for (char c : password) Update(static_cast<uint8_t>(c));
  }
  uint8_t Encrypt(uint8_t p) {
    unsigned t = (k2_ | 2) & 0xFFFF;
    uint8_t c = p ^ static_cast<uint8_t>((t * (t ^ 1)) >> 8);
    Update(p);
    return c;
  }

 private:
  static uint32_t Step(uint32_t crc, uint8_t b) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    return crc;
  }
  void Update(uint8_t p) {
    k0_ = Step(k0_, p);
    k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
    k2_ = Step(k2_, static_cast<uint8_t>(k1_ >> 24));
  }
  uint32_t k0_ = 0x12345678, k1_ = 0x23456789, k2_ = 0x34567890;
};

struct RawEntry {
  std::string name{};                // bytes as stored
  std::string data{};                // uncompressed content
  uint16_t method = 8;             // 0 stored, 8 deflate, others stored as given
  uint16_t flags = 0;
  uint16_t version_needed = 20;
  uint16_t time = 0x6000;          // 12:00:00
  uint16_t date = 0x5A21;          // 2025-01-01
  uint32_t external_attributes = 0x20;
  std::string password{};            // non-empty: encrypt (flag bit 0 is set automatically)
  bool data_descriptor = false;    // flag bit 3, sizes and CRC after the data
  std::string packed_override{};     // when set, the entry's data bytes as written
  int64_t crc_override = -1;
  int64_t uncompressed_override = -1;
  std::string extra{};               // central and local extra field
  bool zip64_central = false;      // central sizes and offset as 0xFFFFFFFF plus a Zip64 block
};

// Builds an archive byte by byte: local headers and data, central directory, end record.
class RawZip {
 public:
  std::vector<RawEntry> entries;
  std::string comment;
  std::string prefix;              // bytes in front of the archive
  bool offsets_include_prefix = false;
  int64_t count_override = -1;     // end record entry count
  std::vector<size_t> central_order{};  // directory order as indexes into entries; empty: file order

  std::string Build() const {
    std::string out = prefix;
    std::vector<std::string> records;  // central directory record of each entry
    for (const RawEntry& e : entries) {
      uint16_t flags = e.flags;
      std::string packed = e.method == 8 ? RawDeflate(e.data) : e.data;
      if (!e.packed_override.empty()) packed = e.packed_override;
      uint32_t crc = e.crc_override >= 0 ? static_cast<uint32_t>(e.crc_override) : Crc(e.data);
      uint32_t usize = e.uncompressed_override >= 0 ? static_cast<uint32_t>(e.uncompressed_override)
                                                    : static_cast<uint32_t>(e.data.size());
      if (e.data_descriptor) flags |= 0x0008;
      if (!e.password.empty()) {
        flags |= 0x0001;
        TestCipher cipher(e.password);
        std::string enc;
        uint8_t check = e.data_descriptor ? static_cast<uint8_t>(e.time >> 8) : static_cast<uint8_t>(crc >> 24);
        for (int i = 0; i < 11; ++i) enc.push_back(static_cast<char>(cipher.Encrypt(static_cast<uint8_t>(i * 37 + 5))));
        enc.push_back(static_cast<char>(cipher.Encrypt(check)));
        for (char c : packed) enc.push_back(static_cast<char>(cipher.Encrypt(static_cast<uint8_t>(c))));
        packed = enc;
      }
      uint32_t offset = static_cast<uint32_t>(out.size() - (offsets_include_prefix ? 0 : prefix.size()));
      std::string local;
      Put32(local, 0x04034b50);
      Put16(local, e.version_needed);
      Put16(local, flags);
      Put16(local, e.method);
      Put16(local, e.time);
      Put16(local, e.date);
      Put32(local, e.data_descriptor ? 0 : crc);
      Put32(local, e.data_descriptor ? 0 : static_cast<uint32_t>(packed.size()));
      Put32(local, e.data_descriptor ? 0 : usize);
      Put16(local, static_cast<uint16_t>(e.name.size()));
      Put16(local, static_cast<uint16_t>(e.extra.size()));
      out += local + e.name + e.extra + packed;
      if (e.data_descriptor) {
        std::string dd;
        Put32(dd, 0x08074b50);
        Put32(dd, crc);
        Put32(dd, static_cast<uint32_t>(packed.size()));
        Put32(dd, usize);
        out += dd;
      }
      std::string cextra = e.extra;
      if (e.zip64_central) {
        std::string z;
        Put16(z, 1);
        Put16(z, 24);
        Put32(z, usize), Put32(z, 0);
        Put32(z, static_cast<uint32_t>(packed.size())), Put32(z, 0);
        Put32(z, offset), Put32(z, 0);
        cextra += z;
      }
      std::string c;
      Put32(c, 0x02014b50);
      Put16(c, 20);
      Put16(c, e.version_needed);
      Put16(c, flags);
      Put16(c, e.method);
      Put16(c, e.time);
      Put16(c, e.date);
      Put32(c, crc);
      Put32(c, e.zip64_central ? 0xFFFFFFFF : static_cast<uint32_t>(packed.size()));
      Put32(c, e.zip64_central ? 0xFFFFFFFF : usize);
      Put16(c, static_cast<uint16_t>(e.name.size()));
      Put16(c, static_cast<uint16_t>(cextra.size()));
      Put16(c, 0);
      Put16(c, 0);
      Put16(c, 0);
      Put32(c, e.external_attributes);
      Put32(c, e.zip64_central ? 0xFFFFFFFF : offset);
      records.push_back(c + e.name + cextra);
    }
    std::string central;
    if (central_order.empty()) {
      for (const std::string& r : records) central += r;
    } else {
      for (size_t i : central_order) central += records.at(i);
    }
    uint32_t cd_offset = static_cast<uint32_t>(out.size() - (offsets_include_prefix ? 0 : prefix.size()));
    out += central;
    std::string end;
    uint16_t count = static_cast<uint16_t>(count_override >= 0 ? count_override : static_cast<int64_t>(entries.size()));
    Put32(end, 0x06054b50);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, count);
    Put16(end, count);
    Put32(end, static_cast<uint32_t>(central.size()));
    Put32(end, cd_offset);
    Put16(end, static_cast<uint16_t>(comment.size()));
    return out + end + comment;
  }

  static void Put16(std::string& s, uint16_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>(v >> 8));
  }
  static void Put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
};

}  // namespace zq::test
