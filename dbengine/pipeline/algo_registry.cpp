#include "dbengine/pipeline/algo_registry.h"

#include "dbengine/pipeline/compress_zlib.h"
#include "dbengine/pipeline/encrypt_algo.h"
#include "platform/collation.h"

namespace zq {

void TAlgoRegistry::Register(const TDataProcessAlgoClass& cls, const std::string& name) {
  for (auto& e : entries_) {
    if (e.Class == &cls) {
      e.Name = name;
      return;
    }
  }
  entries_.push_back(Entry{name, &cls});
}

int TAlgoRegistry::IndexOf(const std::string& name) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (CompareStringA(entries_[i].Name, name, true) == 0) return static_cast<int>(i);
  }
  return -1;
}

// Built on first use, with the built-in algorithms already in place.
TAlgoRegistry& CompressRegistry() {
  static TAlgoRegistry registry = [] {
    TAlgoRegistry r;
    r.Register(TCompAlgo_Zlib::kClass, "ZLIB");
    return r;
  }();
  return registry;
}

TAlgoRegistry& EncryptRegistry() {
  static TAlgoRegistry registry = [] {
    TAlgoRegistry r;
    r.Register(TEncAlgo_Blowfish::kClass, "Blowfish");
    r.Register(TEncAlgo_Twofish::kClass, "Twofish");
    r.Register(TEncAlgo_Gost::kClass, "Gost");
    return r;
  }();
  return registry;
}

void RegisterCompressClass(const TDataProcessAlgoClass& cls, const std::string& name) {
  CompressRegistry().Register(cls, name);
}

void RegisterEncryptClass(const TDataProcessAlgoClass& cls, const std::string& name) {
  EncryptRegistry().Register(cls, name);
}

}  // namespace zq
