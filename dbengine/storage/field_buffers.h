// Field buffers: how a data set tells the table layer where each field's value lives. One item per
// table field, in field-number order. A non-blob item points at the value in its stored encoding
// (the slot encodings of the file format); a blob item refers to the blob stream holding the whole
// value. Row references and row lists are the table layer's in-memory record orders.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/row_list.h"

namespace zq {

class TOptimBlobStream;

class TFieldBufferItem {
 public:
  // A value item: data points at size bytes in the field's stored encoding.
  TFieldBufferItem(void* data, uint8_t field_type, int32_t data_size);
  // A blob item.
  TFieldBufferItem(TOptimBlobStream* stream, uint8_t field_type);

  bool IsBlob() const;
  void* Data() const { return data_; }
  TOptimBlobStream* BlobStream() const { return blob_; }
  uint8_t FieldType() const { return field_type_; }
  int32_t DataSize() const { return data_size_; }
  bool Active() const { return active_; }
  void SetActive(bool active) { active_ = active; }

  // The start of the value for comparisons: the blob stream's memory, or the data.
  const uint8_t* ValueRef() const;
  // Number of bytes at ValueRef().
  int64_t ValueSize() const;
  // The value as text for messages (see value_text.h).
  std::string AsText() const;
  // Zeroes every byte of a string value after its text (the last byte always). True when a byte
  // changed.
  bool NormaliseString();

 private:
  void* data_ = nullptr;
  TOptimBlobStream* blob_ = nullptr;
  uint8_t field_type_ = 0;
  int32_t data_size_ = 0;
  bool active_ = true;
};

class TFieldBuffers {
 public:
  TFieldBuffers() = default;
  TFieldBuffers(const TFieldBuffers&) = delete;
  TFieldBuffers& operator=(const TFieldBuffers&) = delete;

  // Adds an item. For a blob type, data is the address of a TOptimBlobStream* and the item takes
  // the stream stored there; otherwise data is the value itself.
  TFieldBufferItem& Add(void* data, uint8_t field_type, int32_t data_size);
  // Adds a blob item for the given stream.
  TFieldBufferItem& AddBlob(TOptimBlobStream* stream, uint8_t field_type);
  // Adds an inactive placeholder (type 0, no data, size 0) for a field the caller has no value for.
  TFieldBufferItem& AddPlaceholder();
  // Adds an item referring to the same value as `item` (the same data or blob stream), as active as
  // it is.
  TFieldBufferItem& AddSameValue(const TFieldBufferItem& item);

  int Count() const { return static_cast<int>(items_.size()); }
  TFieldBufferItem& Item(int index) { return *items_.at(static_cast<size_t>(index)); }
  const TFieldBufferItem& Item(int index) const { return *items_.at(static_cast<size_t>(index)); }
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<TFieldBufferItem>> items_;
};


}  // namespace zq
