#include "dbengine/pipeline/data_process_mgr.h"

#include "dbengine/pipeline/algo_registry.h"
#include "dbengine/crypto/hash_sha.h"
#include "dbengine/format/db_error.h"
#include "dbengine/pipeline/pipeline_progress.h"

namespace zq {

namespace {

// The progress goes to the owner's target when somebody listens for it.
void Report(TPipelineOwner* owner, TPipelineOperation operation, int percent) {
  if (owner == nullptr) return;
  if (TPipelineProgressTarget* target = owner->ProgressTarget())
    target->PipelineProgress(operation, percent);
}

}  // namespace

TDataProcessAlgo& TDataProcessMgr::CurrentAlgo() const {
  if (!algo_) throw EDatabaseError("General error");
  return *algo_;
}

void TDataProcessMgr::EncodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t size) {
  CurrentAlgo().EncodeStream(source, destination, size);
}

void TDataProcessMgr::DecodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t size) {
  CurrentAlgo().DecodeStream(source, destination, size);
}

void TDataProcessMgr::SelectAlgo(const TAlgoRegistry& registry, const std::string& name,
                                 const char* not_found) {
  int index = registry.IndexOf(name);
  if (index < 0) throw EDatabaseError(FormatMessage(not_found, {name}));
  const TDataProcessAlgoClass& cls = *registry.At(index).Class;
  if (algo_ && &algo_->AlgoClass() == &cls) return;  // same class: keep its mode, level and key
  algo_.reset();
  algo_ = cls.Create(owner_);
  if (owner_ != nullptr) ConnectProgress(*algo_);
}

void TDataProcessMgr::ConnectProgress(TDataProcessAlgo& algo) {
  const bool encryption = IsEncryption();
  algo.OnEncodeProgress = [encryption](TPipelineOwner* owner, int percent) {
    Report(owner, encryption ? TPipelineOperation::Encrypt : TPipelineOperation::Compress, percent);
  };
  algo.OnDecodeProgress = [encryption](TPipelineOwner* owner, int percent) {
    Report(owner, encryption ? TPipelineOperation::Decrypt : TPipelineOperation::Uncompress, percent);
  };
}

int TCompressMgr::CheckAlgoName(const std::string& name) const { return CompressRegistry().IndexOf(name); }

void TCompressMgr::SetAlgoName(const std::string& name) {
  compress_algo_ = nullptr;
  SelectAlgo(CompressRegistry(), name, "Compression algorithm module '%s' not found");
  compress_algo_ = dynamic_cast<TCompressAlgo*>(Algo());
}

int TEncryptMgr::CheckAlgoName(const std::string& name) const { return EncryptRegistry().IndexOf(name); }

void TEncryptMgr::SetAlgoName(const std::string& name) {
  encrypt_algo_ = nullptr;
  SelectAlgo(EncryptRegistry(), name, "Encryption algorithm module '%s' not found");
  encrypt_algo_ = dynamic_cast<TEncryptAlgo*>(Algo());
}

TEncryptAlgo& TEncryptMgr::Current() const {
  if (encrypt_algo_ == nullptr) throw EDatabaseError("General error");
  return *encrypt_algo_;
}

// Every operation ends with Done, also when it fails, so the next starts from the vector.
void TEncryptMgr::EncodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t size) {
  TEncryptAlgo& algo = Current();
  try {
    algo.EncodeStream(source, destination, size);
  } catch (...) {
    algo.Done();
    throw;
  }
  algo.Done();
}

void TEncryptMgr::DecodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t size) {
  TEncryptAlgo& algo = Current();
  try {
    algo.DecodeStream(source, destination, size);
  } catch (...) {
    algo.Done();
    throw;
  }
  algo.Done();
}

void TEncryptMgr::EncodeBuffer(const void* source, void* destination, int64_t size) {
  TEncryptAlgo& algo = Current();
  try {
    algo.EncodeBuffer(source, destination, size);
  } catch (...) {
    algo.Done();
    throw;
  }
  algo.Done();
}

void TEncryptMgr::DecodeBuffer(const void* source, void* destination, int64_t size) {
  TEncryptAlgo& algo = Current();
  try {
    algo.DecodeBuffer(source, destination, size);
  } catch (...) {
    algo.Done();
    throw;
  }
  algo.Done();
}

void TEncryptMgr::SetMode(uint8_t mode) { Current().SetMode(mode); }
void TEncryptMgr::InitKey(const std::string& password) { Current().InitKey(password); }
void TEncryptMgr::Done() { Current().Done(); }

std::string PipelinePasswordCheckText(const std::string& password) {
  THash_SHA sha;
  sha.Init();
  sha.Calc(password.data(), password.size());
  sha.Done();
  return sha.DigestText();
}

}  // namespace zq
