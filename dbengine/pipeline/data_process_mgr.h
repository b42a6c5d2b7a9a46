// The processing managers that a file access object owns, one for compression and one for
// encryption (the owner is seen here as the TPipelineOwner it implements). A manager holds the current algorithm object, chosen by registered name, and
// forwards the stream (and, for encryption, buffer, mode and key) operations to it. Every
// encryption manager operation ends with Done, so each unit starts again from the vector.
// Without a current algorithm each operation raises EDatabaseError "General error".
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dbengine/pipeline/data_process_algo.h"
#include "platform/stream.h"

namespace zq {

class TPipelineOwner;
class TCompressAlgo;
class TEncryptAlgo;

class TDataProcessMgr {
 public:
  explicit TDataProcessMgr(TPipelineOwner* owner) : owner_(owner) {}
  virtual ~TDataProcessMgr() = default;
  TDataProcessMgr(const TDataProcessMgr&) = delete;
  TDataProcessMgr& operator=(const TDataProcessMgr&) = delete;

  // Registry index of name, or -1.
  virtual int CheckAlgoName(const std::string&) const { return -1; }
  // Selects the algorithm registered under name; keeps the current object (and its mode, level
  // and key) when it is already of that class. Unknown names raise the manager's "not found".
  virtual void SetAlgoName(const std::string& name) = 0;
  // size -1: the whole source.
  virtual void EncodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t size);
  virtual void DecodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t size);

  TPipelineOwner* Owner() const { return owner_; }
  TDataProcessAlgo* Algo() const { return algo_.get(); }

 protected:
  TDataProcessAlgo& CurrentAlgo() const;
  // Shared part of SetAlgoName over a registry.
  void SelectAlgo(const class TAlgoRegistry& registry, const std::string& name, const char* not_found);

 private:
  void ConnectProgress(TDataProcessAlgo& algo);
  virtual bool IsEncryption() const = 0;

  TPipelineOwner* owner_;
  std::unique_ptr<TDataProcessAlgo> algo_;
};

class TCompressMgr : public TDataProcessMgr {
 public:
  using TDataProcessMgr::TDataProcessMgr;
  int CheckAlgoName(const std::string& name) const override;
  // "Compression algorithm module '%s' not found" for an unregistered name.
  void SetAlgoName(const std::string& name) override;
  TCompressAlgo* CompressAlgo() const { return compress_algo_; }

 private:
  bool IsEncryption() const override { return false; }
  // The algorithm object as its own kind, set when it is selected (a cast per buffer would cost a
  // noticeable share of a scan of an encrypted table).
  TCompressAlgo* compress_algo_ = nullptr;
};

class TEncryptMgr : public TDataProcessMgr {
 public:
  using TDataProcessMgr::TDataProcessMgr;
  int CheckAlgoName(const std::string& name) const override;
  // "Encryption algorithm module '%s' not found" for an unregistered name.
  void SetAlgoName(const std::string& name) override;
  void EncodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t size) override;
  void DecodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t size) override;
  virtual void EncodeBuffer(const void* source, void* destination, int64_t size);
  virtual void DecodeBuffer(const void* source, void* destination, int64_t size);
  void SetMode(uint8_t mode);
  // Derives the cipher key from the password's bytes.
  void InitKey(const std::string& password);
  void Done();
  TEncryptAlgo* EncryptAlgo() const { return encrypt_algo_; }

 private:
  bool IsEncryption() const override { return true; }
  TEncryptAlgo& Current() const;
  // As compress_algo_ above.
  TEncryptAlgo* encrypt_algo_ = nullptr;
};

// The password check text stored in a database header: the engine's Base64 form of the SHA-0
// digest of the password's bytes (see dbengine/crypto/digest_text.h).
std::string PipelinePasswordCheckText(const std::string& password);

}  // namespace zq
