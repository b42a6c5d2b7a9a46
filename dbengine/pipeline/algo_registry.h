// The two process-wide algorithm registries: ordered lists of (name, algorithm class). Lookup
// ignores letter case and takes the first match; registering a class already listed replaces its
// name, a new class is appended. Both lists are created on first use already holding the
// built-in algorithms ("ZLIB"; "Blowfish", "Twofish", "Gost"), so no start-up order matters.
#pragma once

#include <string>
#include <vector>

#include "dbengine/pipeline/data_process_algo.h"

namespace zq {

class TAlgoRegistry {
 public:
  struct Entry {
    std::string Name;
    const TDataProcessAlgoClass* Class;
  };

  void Register(const TDataProcessAlgoClass& cls, const std::string& name);
  // Index of the first entry whose name equals name ignoring case, or -1.
  int IndexOf(const std::string& name) const;
  const Entry& At(int index) const { return entries_.at(static_cast<size_t>(index)); }
  int Count() const { return static_cast<int>(entries_.size()); }

 private:
  std::vector<Entry> entries_;
};

TAlgoRegistry& CompressRegistry();
TAlgoRegistry& EncryptRegistry();

void RegisterCompressClass(const TDataProcessAlgoClass& cls, const std::string& name);
void RegisterEncryptClass(const TDataProcessAlgoClass& cls, const std::string& name);

}  // namespace zq
