// Byte streams: the abstract stream with the runtime's read/write/seek semantics, an in-memory
// stream and a file stream on a POSIX descriptor. The database pipeline, the file layer and the
// blob streams all move bytes through these.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/exception.h"

namespace zq {

enum class SeekOrigin { Begin, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to count bytes at the position; returns how many were read (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes count bytes at the position, extending the stream as needed; returns bytes written.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position; returns the new absolute position.
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  virtual void SetSize(int64_t size) = 0;
  virtual int64_t Size();

  int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(int64_t position) { Seek(position, SeekOrigin::Begin); }

  // Exactly count bytes or EStreamError "Stream read error" / "Stream write error".
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);

  // Copies count bytes from source's position; count 0 copies the whole source from its start.
  // Returns the number of bytes copied.
  int64_t CopyFrom(TStream& source, int64_t count);
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  void SetSize(int64_t size) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }

  // Empties the stream and sets the position to 0.
  virtual void Clear();
  // Replaces the contents with the whole of source; position 0 afterwards.
  void LoadFromStream(TStream& source);

  uint8_t* Memory() { return data_.data(); }
  const uint8_t* Memory() const { return data_.data(); }
  const std::vector<uint8_t>& Bytes() const { return data_; }

 protected:
  std::vector<uint8_t> data_;
  int64_t position_ = 0;
};

// File open modes (access) and sharing modes, after the host's file API.
enum class FileAccess { Read, Write, ReadWrite };
enum class FileShare { Exclusive, DenyWrite, DenyRead, DenyNone };

class TFileStream : public TStream {
 public:
  // Opens an existing file; EStreamError with a clear message when it cannot be opened.
  TFileStream(const std::string& path, FileAccess access, FileShare share = FileShare::DenyNone);
  // Creates (or truncates) a file for reading and writing.
  static TFileStream Create(const std::string& path);
  TFileStream(TFileStream&& other) noexcept;
  TFileStream& operator=(TFileStream&&) = delete;
  ~TFileStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  // One fstat instead of three seeks.
  int64_t Size() override;
  void SetSize(int64_t size) override;

  int Handle() const { return fd_; }
  const std::string& FileName() const { return path_; }

 protected:
  TFileStream(int fd, std::string path) : fd_(fd), path_(std::move(path)) { InitPosition(); }

 private:
  void InitPosition();

  int fd_ = -1;
  std::string path_;
  // Regular files keep the position here and use pread/pwrite, so a positioned read or write
  // costs one system call; other descriptors (pipes, terminals) use the descriptor's own offset.
  bool positioned_ = false;
  int64_t position_ = 0;
};

// File attributes used by the file layers: existence and the read-only attribute (the owner's
// write permission bit on this host).
bool FileExists(const std::string& path);
bool FileIsReadOnly(const std::string& path);
void SetFileReadOnly(const std::string& path, bool read_only);

}  // namespace zq
