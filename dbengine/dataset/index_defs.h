// Index definitions of a data set: name, the key fields as a ";"- or ","-separated list of
// names, and the options. A table data set rebuilds them from the table when it opens.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zq {

enum TIndexOption : uint8_t { ixPrimary = 1, ixUnique = 2, ixDescending = 4, ixCaseInsensitive = 8 };
using TIndexOptions = uint8_t;  // a set of TIndexOption bits

class TIndexDef {
 public:
  TIndexDef(std::string name, std::string fields, TIndexOptions options)
      : name_(std::move(name)), fields_(std::move(fields)), options_(options) {}
  const std::string& Name() const { return name_; }
  const std::string& Fields() const { return fields_; }
  TIndexOptions Options() const { return options_; }
  bool Has(TIndexOption o) const { return (options_ & o) != 0; }

 private:
  std::string name_;
  std::string fields_;
  TIndexOptions options_;
};

class TIndexDefs {
 public:
  TIndexDef& Add(const std::string& name, const std::string& fields, TIndexOptions options);
  void Clear() { items_.clear(); }
  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  const TIndexDef& operator[](int i) const { return *items_.at(i); }
  int IndexOf(const std::string& name) const;
  // "Index '%s' not found" when absent.
  const TIndexDef& Find(const std::string& name) const;

 private:
  std::vector<std::unique_ptr<TIndexDef>> items_;
};

// Splits a list of field names at ";" or ",", trimming blanks; empty names are dropped.
std::vector<std::string> SplitFieldNames(const std::string& list);

}  // namespace zq
