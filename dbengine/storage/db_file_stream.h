// The file stream of a database on disk: a file stream with a start offset (the database begins
// that many bytes into the file; always 0 in practice), a flushed flag for the periodic flush, and
// the sharing mode enforced with whole-file locks (see platform/file_lock.h): an exclusive open
// fails while any other open of the file exists, and any open fails while an exclusive one exists,
// in this process or another.
#pragma once

#include <cstdint>
#include <string>

#include "platform/stream.h"

namespace zq {

class TDbFileStream : public TFileStream {
 public:
  // Opens an existing file. A sharing conflict raises EStreamError with the host's sharing message.
  TDbFileStream(const std::string& path, FileAccess access, FileShare share, int32_t start_offset = 0);

  int64_t Write(const void* buffer, int64_t count) override;
  // Positions are relative to the start offset.
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  // The size of the database: the file's size less the start offset.
  int64_t Size() override;
  void SetSize(int64_t size) override;

  int32_t StartOffset() const { return start_offset_; }
  // A negative value is stored as 0; a change moves the position to the start of the database.
  void SetStartOffset(int32_t offset);

  bool Flushed() const { return flushed_; }
  // Writes the file's buffers to the disk and sets the flushed flag.
  void Flush();

 private:
  int32_t start_offset_ = 0;
  bool flushed_ = true;
};

}  // namespace zq
