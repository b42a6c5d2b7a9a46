#include "dbengine/dataset/db_blob_stream.h"

#include "dbengine/format/db_error.h"
#include "dbengine/dataset/db_table.h"

namespace zq {
namespace {

TDbTable* TableOf(TField& field) {
  auto* table = dynamic_cast<TDbTable*>(field.DataSet());
  if (!table || !field.IsBlob() || field.FieldNo() <= 0)
    throw EDatabaseError("Invalid class typecast");
  return table;
}

}  // namespace

TDbBlobStream::TDbBlobStream(TField& field, TBlobStreamMode mode)
    : field_(field), data_set_(TableOf(field)), field_no_(field.FieldNo()), mode_(mode) {
  if (mode != TBlobStreamMode::bmRead) {
    const TDataSetState s = data_set_->State();
    if (s != TDataSetState::dsEdit && s != TDataSetState::dsInsert)
      throw EDatabaseError("Dataset not in edit or insert mode");
  }
  if (mode == TBlobStreamMode::bmWrite) {
    Clear();
    CopyBack();
    field_.SetModified(true);
    modified_ = true;
  } else {
    CopyIn();
  }
  opened_ = true;
}

void TDbBlobStream::CopyIn() {
  TRecordBuffer buffer = data_set_->GetActiveRecBuf();
  if (!buffer) return;
  TOptimBlobStream* source = data_set_->BlobStreamOf(buffer, field_);
  if (!source) return;
  Clear();
  source->SetPosition(0);  // loads the value from the file when it is still due
  const int64_t size = source->Size();
  SetSize(size);
  if (size > 0) source->ReadBuffer(Memory(), size);
  SetPosition(0);
}

void TDbBlobStream::CopyBack() {
  TRecordBuffer buffer = data_set_->GetActiveRecBuf();
  if (!buffer) return;
  const int64_t position = Position();
  TOptimBlobStream* target = data_set_->BlobStreamOf(buffer, field_);
  if (target) {
    target->Clear();
    if (Size() > 0) target->WriteBuffer(Memory(), Size());
    target->SetPosition(0);
  }
  SetPosition(position);
}

int64_t TDbBlobStream::Write(const void* buffer, int64_t count) {
  const int64_t written = TMemoryStream::Write(buffer, count);
  if (mode_ != TBlobStreamMode::bmRead) {
    modified_ = true;
    CopyBack();
    field_.SetModified(true);
    data_set_->BlobFieldChanged(field_);
  }
  return written;
}

}  // namespace zq
