// Writes a new archive to a stream: stored or deflated entries, optionally encrypted with the
// traditional PKWARE encryption, folders as directory entries, Zip64 records when sizes, offsets
// or the entry count need them. Names are code page 1252 with "/" separators; they are stored in
// OEM code page 850 when it holds them, else as UTF-8 with the UTF-8 flag (bit 11).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/stream.h"

namespace zq {

class TZipWriter {
 public:
  // The archive is written from the stream's current position, which must be 0 for a file that
  // holds nothing else.
  explicit TZipWriter(TStream& out);

  // Empty: no encryption.
  void SetPassword(std::string password) { password_ = std::move(password); }
  // 0 stores; 1..9 deflate at that level.
  void SetCompressionMode(int mode) { mode_ = mode; }

  void AddDirectory(const std::string& name, uint32_t dos_date_time, uint32_t attributes);
  // Reads the whole source (twice: once for the CRC, once for the data); it must be seekable.
  void AddStream(const std::string& name, TStream& source, uint32_t dos_date_time,
                 uint32_t attributes);
  // Writes the central directory and the end records; nothing may be added afterwards.
  void Finish(const std::string& comment = "");

  size_t EntryCount() const { return entries_.size(); }

 private:
  struct Entry {
    std::string stored_name;  // bytes as stored
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t version_needed = 20;
    uint32_t dos_date_time = 0;
    uint32_t crc = 0;
    uint64_t compressed = 0;
    uint64_t uncompressed = 0;
    uint64_t offset = 0;
    uint32_t attributes = 0;
  };

  Entry MakeEntry(const std::string& name, uint32_t dos_date_time, uint32_t attributes);
  void WriteLocalHeader(const Entry& e, bool zip64);
  void WriteBytes(const void* data, size_t count);

  TStream& out_;
  int64_t base_;
  std::string password_;
  int mode_ = 6;
  std::vector<Entry> entries_;
  bool finished_ = false;
};

}  // namespace zq
