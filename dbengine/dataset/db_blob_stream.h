// TDbBlobStream: the stream a table data set hands out for a blob field of its active record.
// It works on a copy of the value: reading copies the record buffer's blob stream in (loading it
// from the file on first use); in the write modes every write copies the whole contents back to
// the record buffer and tells the data set that the field changed. Nothing reaches the file until
// the record is posted.
#pragma once

#include "dbengine/dataset/data_set.h"
#include "platform/stream.h"

namespace zq {

class TDbTable;

class TDbBlobStream : public TMemoryStream {
 public:
  // Raises "Invalid class typecast" unless the field is a blob field of a TDbTable; the write
  // modes need the data set in edit or insert state ("Dataset not in edit or insert mode").
  // bmWrite empties the field at once.
  TDbBlobStream(TField& field, TBlobStreamMode mode);

  int64_t Write(const void* buffer, int64_t count) override;

  TField& Field() const { return field_; }
  TBlobStreamMode Mode() const { return mode_; }
  bool Opened() const { return opened_; }
  bool Modified() const { return modified_; }

 private:
  void CopyIn();
  void CopyBack();

  TField& field_;
  TDbTable* data_set_;
  int field_no_;
  TBlobStreamMode mode_;
  bool opened_ = false;
  bool modified_ = false;
};

}  // namespace zq
