// Definition collections of the table layer and the database object: fields, indexes and tables,
// each an owned list of named items found by name without regard to case.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/format/db_format.h"

namespace zq {

using TIntegerAry = std::vector<int32_t>;

class TDbDefItem {
 public:
  virtual ~TDbDefItem() = default;
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

 protected:
  std::string name_;
};

class TDbFieldDef : public TDbDefItem {
 public:
  uint8_t FieldType = 0;
  int32_t FieldSize = 0;
  bool StoreRaw = false;
  // Copies name, type, size and StoreRaw.
  void Assign(const TDbFieldDef& source);
};

class TDbIndexDef : public TDbDefItem {
 public:
  TDbIndexOptions Options = 0;
  TIntegerAry FieldNumbers;
  // Copies name, options and field numbers.
  void Assign(const TDbIndexDef& source);
};

class TDbTableDef : public TDbDefItem {
 public:
  int32_t TableNumber = -1;
  void Assign(const TDbTableDef& source);
};

// An owned collection of named items.
template <class T>
class TDbDefCollection {
 public:
  T& Add() {
    items_.push_back(std::make_unique<T>());
    return *items_.back();
  }
  int Count() const { return static_cast<int>(items_.size()); }
  T& Item(int index) { return *items_.at(static_cast<size_t>(index)); }
  const T& Item(int index) const { return *items_.at(static_cast<size_t>(index)); }
  void Clear() { items_.clear(); }
  // Position of the first item whose name equals name without regard to case; -1 when absent.
  int IndexOf(const std::string& name) const;

 private:
  std::vector<std::unique_ptr<T>> items_;
};

// Case-insensitive name equality used by every lookup by name (code page 1252 letters).
bool SameName(const std::string& a, const std::string& b);

template <class T>
int TDbDefCollection<T>::IndexOf(const std::string& name) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (SameName(items_[i]->Name(), name)) return static_cast<int>(i);
  return -1;
}

using TDbFieldDefs = TDbDefCollection<TDbFieldDef>;
using TDbIndexDefs = TDbDefCollection<TDbIndexDef>;
using TDbTableDefs = TDbDefCollection<TDbTableDef>;

}  // namespace zq
