#include "dbengine/storage/optim_blob_stream.h"

#include "dbengine/format/db_error.h"
#include "dbengine/storage/db_file_io.h"

namespace zq {

void TOptimBlobStream::SetSource(int64_t position, bool encrypted, bool compressed, int64_t slot_position,
                                 int32_t field_offset) {
  position_in_file_ = position;
  slot_position_ = slot_position;
  field_offset_ = field_offset;
  encrypted_ = encrypted;
  compressed_ = compressed;
  loaded_ = false;
}

void TOptimBlobStream::EnsureLoaded() {
  if (loaded_ || position_in_file_ == 0) return;
  // Marked loaded only once the value is here: a load that fails leaves the stream due, so the
  // next read tries again and a post loads it (or fails) instead of writing back nothing.
  TDbFileIO* io = owner_ ? owner_->BlobFileIO() : nullptr;
  if (io == nullptr || !io->IsOpen()) throw EDatabaseError("Cannot perform this operation on a closed database");
  TMemoryStream stored;
  io->Lock();
  try {
    if (slot_position_ != 0) {
      // Where the record's image is now; a slot that names no image in the file (damage) leaves
      // the position given, whose descriptor is then checked as usual.
      uint8_t slot_raw[dbfmt::kSlotSize];
      io->ReadAt(slot_raw, slot_position_, dbfmt::kSlotSize);
      const int64_t image = TRecordSlot::Read(slot_raw).DataOffset;
      if (image >= dbfmt::kFileHeaderSize && image + field_offset_ + dbfmt::kBlobDescriptorSize <= io->FileSize())
        position_in_file_ = image + field_offset_;
    }
    uint8_t raw[dbfmt::kBlobDescriptorSize];
    io->ReadAt(raw, position_in_file_, dbfmt::kBlobDescriptorSize);
    TBlobDescriptor d = TBlobDescriptor::Read(raw);
    if (d.DataLength < 0 || d.AreaOffset < 0 || int64_t{d.AreaOffset} + d.DataLength > io->FileSize())
      io->RaiseDamaged(FormatMessage("blob descriptor at offset %s", {std::to_string(position_in_file_)}));
    stored.SetSize(d.DataLength);
    if (d.DataLength > 0) io->ReadAt(stored.Memory(), d.AreaOffset, d.DataLength);
    io->Unlock();
  } catch (...) {
    io->Unlock();
    throw;
  }
  ++load_count_;
  TMemoryStream decoded;
  io->DecodeStreamData(stored, decoded, compressed_, encrypted_);
  data_ = decoded.Bytes();
  position_ = 0;
  loaded_ = true;
}

int64_t TOptimBlobStream::Read(void* buffer, int64_t count) {
  EnsureLoaded();
  return TMemoryStream::Read(buffer, count);
}

int64_t TOptimBlobStream::Seek(int64_t offset, SeekOrigin origin) {
  EnsureLoaded();
  return TMemoryStream::Seek(offset, origin);
}

int64_t TOptimBlobStream::Size() {
  EnsureLoaded();
  return TMemoryStream::Size();
}

int64_t TOptimBlobStream::Write(const void* buffer, int64_t count) {
  loaded_ = true;
  return TMemoryStream::Write(buffer, count);
}

void TOptimBlobStream::SetSize(int64_t size) {
  loaded_ = true;
  TMemoryStream::SetSize(size);
}

void TOptimBlobStream::Clear() {
  loaded_ = true;
  TMemoryStream::Clear();
}

}  // namespace zq
