// TOptimBlobStream: the in-memory stream a record buffer keeps for each blob field. It knows where
// the field's blob descriptor lies in the database and loads the value (through the file layer
// and the processing pipeline) only when it is first read or sought. Writing, resizing or clearing
// it makes the file contents irrelevant.
#pragma once

#include <cstdint>

#include "platform/stream.h"

namespace zq {

class TDbFileIO;

// The data set that owns blob streams: gives the file access object of its database.
class TBlobStreamOwner {
 public:
  virtual ~TBlobStreamOwner() = default;
  // The open file access object, or nullptr when the database is closed.
  virtual TDbFileIO* BlobFileIO() = 0;
};

class TOptimBlobStream : public TMemoryStream {
 public:
  explicit TOptimBlobStream(TBlobStreamOwner* owner = nullptr) : owner_(owner) {}

  // Points the stream at a blob descriptor (0 = nothing to load) and marks it not loaded. The
  // current contents stay until the next read or seek replaces them. Given the position of its
  // record's slot, the load takes the descriptor at field_offset of the image that the slot names
  // then: another opener's modify moves a record's image (and zeroes the old one) between the read
  // of the record and the load of its blob.
  void SetSource(int64_t position, bool encrypted, bool compressed, int64_t slot_position = 0,
                 int32_t field_offset = 0);

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Write(const void* buffer, int64_t count) override;
  void SetSize(int64_t size) override;
  void Clear() override;
  int64_t Size() override;

  // Loads the value now when it is still due.
  void EnsureLoaded();

  TBlobStreamOwner* Owner() const { return owner_; }
  // The descriptor's position: the last one loaded from, or the one given while not yet loaded.
  int64_t SourcePosition() const { return position_in_file_; }
  bool Encrypted() const { return encrypted_; }
  bool Compressed() const { return compressed_; }
  bool Loaded() const { return loaded_; }
  // Number of lazy loads that read the file (for tests and diagnostics).
  int LoadCount() const { return load_count_; }

 private:
  TBlobStreamOwner* owner_;
  int64_t position_in_file_ = 0;
  int64_t slot_position_ = 0;
  int32_t field_offset_ = 0;
  bool encrypted_ = false;
  bool compressed_ = false;
  bool loaded_ = true;
  int load_count_ = 0;
};

}  // namespace zq
