#include "dbengine/storage/field_buffers.h"

#include <algorithm>
#include <cstring>

#include "dbengine/format/field_type.h"
#include "dbengine/storage/optim_blob_stream.h"
#include "dbengine/format/value_text.h"

namespace zq {

TFieldBufferItem::TFieldBufferItem(void* data, uint8_t field_type, int32_t data_size)
    : data_(data), field_type_(field_type), data_size_(data_size < 0 ? 0 : data_size) {}

TFieldBufferItem::TFieldBufferItem(TOptimBlobStream* stream, uint8_t field_type)
    : blob_(stream), field_type_(field_type) {}

bool TFieldBufferItem::IsBlob() const { return IsBlobType(field_type_); }

const uint8_t* TFieldBufferItem::ValueRef() const {
  if (IsBlob()) {
    if (!blob_) return nullptr;
    blob_->EnsureLoaded();
    return blob_->Memory();
  }
  return static_cast<const uint8_t*>(data_);
}

int64_t TFieldBufferItem::ValueSize() const {
  if (IsBlob()) {
    if (!blob_) return 0;
    blob_->EnsureLoaded();
    return static_cast<int64_t>(blob_->Bytes().size());
  }
  return data_ ? data_size_ : 0;
}

bool TFieldBufferItem::NormaliseString() {
  if (!data_ || data_size_ <= 0) return false;
  auto* p = static_cast<uint8_t*>(data_);
  uint8_t* nul = std::find(p, p + data_size_ - 1, uint8_t{0});
  const bool changed = std::any_of(nul, p + data_size_, [](uint8_t b) { return b != 0; });
  std::memset(nul, 0, static_cast<size_t>(p + data_size_ - nul));
  return changed;
}

std::string TFieldBufferItem::AsText() const {
  try {
    return ValueText(ValueRef(), ValueSize(), field_type_);
  } catch (...) {
    return {};
  }
}

TFieldBufferItem& TFieldBuffers::Add(void* data, uint8_t field_type, int32_t data_size) {
  if (IsBlobType(field_type)) {
    TOptimBlobStream* stream = data ? *static_cast<TOptimBlobStream**>(data) : nullptr;
    return AddBlob(stream, field_type);
  }
  items_.push_back(std::make_unique<TFieldBufferItem>(data, field_type, data_size));
  return *items_.back();
}

TFieldBufferItem& TFieldBuffers::AddBlob(TOptimBlobStream* stream, uint8_t field_type) {
  items_.push_back(std::make_unique<TFieldBufferItem>(stream, field_type));
  return *items_.back();
}

TFieldBufferItem& TFieldBuffers::AddSameValue(const TFieldBufferItem& item) {
  TFieldBufferItem& added = item.IsBlob() ? AddBlob(item.BlobStream(), item.FieldType())
                                          : Add(item.Data(), item.FieldType(), item.DataSize());
  added.SetActive(item.Active());
  return added;
}

TFieldBufferItem& TFieldBuffers::AddPlaceholder() {
  items_.push_back(std::make_unique<TFieldBufferItem>(static_cast<void*>(nullptr), uint8_t{0}, 0));
  items_.back()->SetActive(false);
  return *items_.back();
}

}  // namespace zq
