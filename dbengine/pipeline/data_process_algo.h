// The algorithm objects of the processing pipeline:
//   TDataProcessAlgo    base: the owner (a TPipelineOwner: the file access object) and the
//                       encode/decode progress handlers
//   TCompressAlgo       adds the level code (SetLevel does nothing, GetLevel is 1 here)
//   TEncryptAlgo        adds mode, key and buffer operations; streams are processed in 4096-byte
//                       chunks through the buffer operations, with progress
// The concrete classes are TCompAlgo_Zlib (compress_zlib.h) and TEncAlgo_Blowfish, _Twofish and
// _Gost (encrypt_algo.h). Streams are in-memory streams; destination may be the source itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/stream.h"

namespace zq {

class TPipelineOwner;
class TDataProcessAlgo;

// The "class" of an algorithm, as the registries hold it: its name and a factory. Two algorithm
// objects are of the same class exactly when their AlgoClass() is the same object.
struct TDataProcessAlgoClass {
  const char* ClassName;
  std::unique_ptr<TDataProcessAlgo> (*Create)(TPipelineOwner* owner);
};

class TDataProcessAlgo {
 public:
  using ProgressHandler = std::function<void(TPipelineOwner* owner, int percent)>;

  explicit TDataProcessAlgo(TPipelineOwner* owner) : owner_(owner) {}
  virtual ~TDataProcessAlgo() = default;
  TDataProcessAlgo(const TDataProcessAlgo&) = delete;
  TDataProcessAlgo& operator=(const TDataProcessAlgo&) = delete;

  virtual const TDataProcessAlgoClass& AlgoClass() const = 0;
  // size < 0: the whole source.
  virtual void EncodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t size) = 0;
  virtual void DecodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t size) = 0;

  TPipelineOwner* Owner() const { return owner_; }
  ProgressHandler OnEncodeProgress;
  ProgressHandler OnDecodeProgress;

 protected:
  void EncodeProgress(int percent) {
    if (OnEncodeProgress) OnEncodeProgress(owner_, percent);
  }
  void DecodeProgress(int percent) {
    if (OnDecodeProgress) OnDecodeProgress(owner_, percent);
  }

 private:
  TPipelineOwner* owner_;
};

class TCompressAlgo : public TDataProcessAlgo {
 public:
  using TDataProcessAlgo::TDataProcessAlgo;
  virtual void SetLevel(uint8_t) {}
  virtual uint8_t GetLevel() const { return 1; }
};

class TEncryptAlgo : public TDataProcessAlgo {
 public:
  static constexpr int64_t kChunkSize = 4096;

  using TDataProcessAlgo::TDataProcessAlgo;
  virtual void SetMode(uint8_t) {}
  virtual uint8_t GetMode() const { return 0; }
  virtual void InitKey(const std::string& password) = 0;
  virtual void Done() {}
  virtual void EncodeBuffer(const void* source, void* destination, int64_t size) = 0;
  virtual void DecodeBuffer(const void* source, void* destination, int64_t size) = 0;

  // Reads size bytes (size < 0: the whole source from position 0) from the source's position in
  // chunks of 4096 bytes, transforms each with the buffer operation and writes it at the
  // destination's position. Progress: 0, then the running percentage after every chunk, and 0
  // again at the end, also when the operation fails.
  void EncodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t size) override;
  void DecodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t size) override;

 private:
  void ProcessStream(TMemoryStream& source, TMemoryStream& destination, int64_t size, bool encode);
};

}  // namespace zq
