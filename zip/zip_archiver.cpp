// TZipBaseArchiver's properties, opening and closing, and the selection of entries by mask; the
// extraction of the selected entries is in zip_archiver_extract.cpp. Also the process-wide
// interaction hook and processing lock of the component.
#include "zip/zip_archiver.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/file_system.h"
#include "zip/zip_format.h"
#include "zip/zip_inflater.h"  // the destructor frees the archiver's inflater
#include "zip/zip_mask.h"
#include "zip/zip_paths.h"

namespace zq {

namespace {

std::mutex g_interaction_mutex;
std::shared_ptr<TZipInteraction> g_interaction;

}  // namespace

void SetZipInteraction(std::shared_ptr<TZipInteraction> interaction) {
  std::lock_guard<std::mutex> lock(g_interaction_mutex);
  g_interaction = std::move(interaction);
}

std::shared_ptr<TZipInteraction> ZipInteraction() {
  std::lock_guard<std::mutex> lock(g_interaction_mutex);
  return g_interaction;
}

std::recursive_mutex& ZipProcessLock() {
  static std::recursive_mutex lock;
  return lock;
}

// ---- TZipBaseArchiver ----

TZipBaseArchiver::TZipBaseArchiver() = default;

TZipBaseArchiver::~TZipBaseArchiver() { Close(); }

void TZipBaseArchiver::RaiseNative(int native, std::initializer_list<std::string_view> args,
                                   bool with_name) const {
  throw MakeZipException(native, args, with_name ? name_ : std::string());
}

void TZipBaseArchiver::SetSpanningMode(TZipSpanningMode value) {
  if (active_) throw Exception("Cannot set spanning mode on open archive");
  spanning_mode_ = value;
}

void TZipBaseArchiver::SetCompressionLevel(TZipCompressionLevel value) {
  compression_level_ = value;
  static const int kModes[] = {0, 1, 6, 9};
  compression_mode_ = kModes[value];
}

void TZipBaseArchiver::SetCompressionMode(int value) {
  if (value < 0 || value > 9) RaiseNative(5);
  compression_mode_ = value;
  compression_level_ = value == 0 ? clNone : value <= 2 ? clFastest : value <= 7 ? clNormal : clMax;
}

std::string TZipBaseArchiver::CurrentVersion() const { return "1.00 "; }

void TZipBaseArchiver::CheckActive() const {
  if (!active_ || !dir_) RaiseNative(13);
}

int TZipBaseArchiver::FileCount() const {
  CheckActive();
  return static_cast<int>(dir_->Items().size());
}

const TDirItem& TZipBaseArchiver::Item(int index) const {
  CheckActive();
  if (index < 0 || index >= static_cast<int>(dir_->Items().size())) RaiseNative(16);
  return dir_->Items()[static_cast<size_t>(index)];
}

const std::string& TZipBaseArchiver::Comment() const {
  CheckActive();
  return dir_->Comment();
}

int64_t TZipBaseArchiver::PrefixSize() const {
  CheckActive();
  return dir_->PrefixSize();
}

bool TZipBaseArchiver::IsZip64() const {
  CheckActive();
  return dir_->Zip64();
}

bool TZipBaseArchiver::Rebuilt() const {
  CheckActive();
  return dir_->Rebuilt();
}

// ---- open and close ----

void TZipBaseArchiver::Open() {
  if (!in_memory_ && ExtractFileName(file_name_).empty()) RaiseNative(9);
  OpenMode mode;
  if (in_memory_ || !FileExists(HostPath(file_name_))) {
    mode = OpenMode::Create;
  } else {
    try {
      TFileStream probe(HostPath(file_name_), FileAccess::ReadWrite, FileShare::DenyWrite);
      mode = OpenMode::ReadWrite;
    } catch (const EStreamError&) {
      mode = OpenMode::ReadOnly;
    }
  }
  if (!in_memory_ && ExtractFileName(file_name_).empty()) RaiseNative(10);
  if (mode != OpenMode::Create && !FileExists(HostPath(file_name_)) && spanning_mode_ != smSpanning &&
      !IsRemovableDrive(HostPath(file_name_)))
    RaiseNative(12, {file_name_});
  if (mode != OpenMode::Create && in_memory_) RaiseNative(28);
  Close();
  open_mode_ = mode;
  ReadArchive();
  active_ = true;
  if (AfterOpen) AfterOpen(this);
}

void TZipBaseArchiver::ReadArchive() {
  if (open_mode_ == OpenMode::Create) {
    if (in_memory_)
      stream_ = std::make_unique<TMemoryStream>();
    else
      stream_ = std::make_unique<TFileStream>(TFileStream::Create(HostPath(file_name_)));
    dir_ = std::make_unique<TZipDirManager>(*stream_, options_.OEMFileNames);
    return;
  }
  spanning_mode_ = smNone;
  try {
    stream_ = std::make_unique<TFileStream>(
        HostPath(file_name_), open_mode_ == OpenMode::ReadWrite ? FileAccess::ReadWrite : FileAccess::Read,
        open_mode_ == OpenMode::ReadWrite ? FileShare::DenyWrite : FileShare::DenyNone);
    dir_ = std::make_unique<TZipDirManager>(*stream_, options_.OEMFileNames);
    if (!dir_->FindEndRecord() && !repair_damaged_) RaiseNative(48);
    dir_->ReadDirectory(repair_damaged_);
  } catch (...) {
    dir_.reset();
    stream_.reset();
    throw;
  }
}

void TZipBaseArchiver::Close() {
  if (active_) {
    try {
      if (stream_ && stream_->Size() == 0) {
        // A newly created archive: an empty archive is just an end record.
        uint8_t end[TZipEndOfCentralDir::kSize] = {0x50, 0x4B, 0x05, 0x06};
        stream_->Seek(0, SeekOrigin::Begin);
        stream_->WriteBuffer(end, sizeof end);
      }
    } catch (...) {
      // Closing never fails: the component ends inactive whatever happened.
    }
  }
  active_ = false;
  dir_.reset();
  stream_.reset();
}

// ---- selection ----

bool TZipBaseArchiver::FindFirst(const std::string& mask, TZipArchiveItem& item, int search_attr,
                                 const std::string& exclusion_mask) {
  CheckActive();
  auto prepare = [this](std::string m) {
    if (m.size() >= 2 && m[1] == ':' && options_.StorePath != spFullPathWithDrive) m.erase(0, 2);
    return ReplaceChar(std::move(m), '\\', '/');
  };
  item = TZipArchiveItem{};
  item.Mask = prepare(mask);
  item.ExclusionMask = prepare(exclusion_mask);
  item.Wildcard = item.Mask.find_first_of("*?") != std::string::npos;
  item.SearchAttr = search_attr;
  item.NextIndex = 0;
  return FindNextInternal(item);
}

bool TZipBaseArchiver::FindNext(TZipArchiveItem& item) {
  CheckActive();
  return FindNextInternal(item);
}

bool TZipBaseArchiver::FindNextInternal(TZipArchiveItem& item) {
  const TZipDirArray& items = dir_->Items();
  std::string mask_folder = Cp1252LowerCase(ExtractFilePath(item.Mask));
  for (int i = std::max(item.NextIndex, 0); i < static_cast<int>(items.size()); ++i) {
    const TDirItem& entry = items[static_cast<size_t>(i)];
    std::string name = entry.FileName;
    if (!name.empty() && (name.back() == '/' || name.back() == '\\')) name.pop_back();
    if (!options_.Recurse) {
      // Folders compared with one separator, so masks several folders deep work.
      std::string folder = Cp1252LowerCase(ReplaceChar(ExtractFilePath(name), '\\', '/'));
      if (folder != mask_folder) continue;
    }
    std::string file_part = ExtractFileName(name);
    if (!ZipMaskMatches(item.Mask, name) && !ZipMaskMatches(item.Mask, file_part)) continue;
    if (!item.ExclusionMask.empty() &&
        (ZipMaskMatches(item.ExclusionMask, name) || ZipMaskMatches(item.ExclusionMask, file_part)))
      continue;
    uint32_t attrs = entry.CentralDir.ExternalFileAttributes & 0x1E;
    if ((attrs & ~static_cast<uint32_t>(item.SearchAttr)) != 0) continue;

    item.NextIndex = i + 1;
    item.Index = i;
    item.FileName = ExtractFileName(entry.FileName);
    item.StoredPath = ExtractFilePath(entry.FileName);
    item.UncompressedSize = static_cast<int64_t>(entry.EffectiveUncompressedSize());
    item.CompressedSize = static_cast<int64_t>(entry.EffectiveCompressedSize());
    if (item.UncompressedSize == 0) {
      item.CompressionRate = 100;
    } else {
      item.CompressionRate = (1.0 - static_cast<double>(item.CompressedSize) /
                                        static_cast<double>(item.UncompressedSize)) * 100.0;
      if (item.CompressionRate < 0) item.CompressionRate = 0;
    }
    item.Encrypted = entry.Encrypted();
    item.LastModFileTime = entry.CentralDir.LastModFileTime;
    item.LastModFileDate = entry.CentralDir.LastModFileDate;
    item.CRC = entry.CentralDir.Crc32;
    item.ExternalFileAttributes = entry.CentralDir.ExternalFileAttributes;
    item.Comment = entry.Comment;
    return true;
  }
  item.NextIndex = static_cast<int>(items.size());
  item.Index = -1;
  return false;
}

void TZipBaseArchiver::SelectEntries(const std::string& mask, int search_attr,
                                     const std::string& exclusion_mask) {
  for (TDirItem& entry : dir_->Items()) entry.Selected = false;
  TZipArchiveItem item;
  bool found = FindFirst(mask, item, search_attr, exclusion_mask);
  while (found) {
    dir_->Items()[static_cast<size_t>(item.Index)].Selected = true;
    found = FindNextInternal(item);
  }
}

// ---- TZipArchiver ----

TZipArchiver::TZipArchiver() { SetZip64Mode(zmDisabled); }

}  // namespace zq
