// The encryption algorithms: TEncAlgo_Base owns a cipher object and forwards mode, key, Done and
// the buffer operations to it; the three registered algorithms differ only in the cipher class.
#pragma once

#include <memory>

#include "dbengine/crypto/encrypt.h"
#include "dbengine/pipeline/data_process_algo.h"

namespace zq {

class TEncAlgo_Base : public TEncryptAlgo {
 public:
  void SetMode(uint8_t mode) override { cipher_->SetMode(mode); }
  uint8_t GetMode() const override { return cipher_->Mode(); }
  // The cipher's InitKey with the password's bytes and no vector.
  void InitKey(const std::string& password) override { cipher_->InitKey(password); }
  void Done() override { cipher_->Done(); }
  void EncodeBuffer(const void* source, void* destination, int64_t size) override {
    cipher_->EncodeBuffer(source, destination, size);
  }
  void DecodeBuffer(const void* source, void* destination, int64_t size) override {
    cipher_->DecodeBuffer(source, destination, size);
  }

  TEncrypt& Cipher() { return *cipher_; }

 protected:
  TEncAlgo_Base(TPipelineOwner* owner, std::unique_ptr<TEncrypt> cipher)
      : TEncryptAlgo(owner), cipher_(std::move(cipher)) {}

 private:
  std::unique_ptr<TEncrypt> cipher_;
};

class TEncAlgo_Blowfish : public TEncAlgo_Base {
 public:
  static const TDataProcessAlgoClass kClass;
  explicit TEncAlgo_Blowfish(TPipelineOwner* owner);
  const TDataProcessAlgoClass& AlgoClass() const override { return kClass; }
};

class TEncAlgo_Twofish : public TEncAlgo_Base {
 public:
  static const TDataProcessAlgoClass kClass;
  explicit TEncAlgo_Twofish(TPipelineOwner* owner);
  const TDataProcessAlgoClass& AlgoClass() const override { return kClass; }
};

class TEncAlgo_Gost : public TEncAlgo_Base {
 public:
  static const TDataProcessAlgoClass kClass;
  explicit TEncAlgo_Gost(TPipelineOwner* owner);
  const TDataProcessAlgoClass& AlgoClass() const override { return kClass; }
};

}  // namespace zq
