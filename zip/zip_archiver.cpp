#include "zip/zip_archiver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "platform/codepage.h"
#include "platform/file_system.h"
#include "zip/zip_crypto.h"
#include "zip/zip_format.h"
#include "zip/zip_inflater.h"
#include "zip/zip_mask.h"

namespace zq {

namespace {

constexpr int64_t kInputChunk = 1048576;
constexpr size_t kOutputBuffer = 256 * 1024;  // inflate output, written out whenever it fills
constexpr int64_t kMemoryAskInterval = 16 << 20;

std::mutex g_interaction_mutex;
std::shared_ptr<TZipInteraction> g_interaction;

// A file stream over a descriptor this unit opened itself (exclusive creation).
class TOutputFileStream : public TFileStream {
 public:
  TOutputFileStream(int fd, std::string path) : TFileStream(fd, std::move(path)) {}
};

// Paths are code page 1252 inside the component; the host's file system takes UTF-8.
std::string Host(const std::string& path) { return Cp1252ToUtf8(path); }

std::string Replace(std::string text, char from, char to) {
  std::replace(text.begin(), text.end(), from, to);
  return text;
}

// A name that would leave the base folder: absolute, with a drive, or climbing out with "..".
bool LeavesBaseFolder(const std::string& name) {
  if (name.empty()) return false;
  if (name[0] == '/' || name[0] == '\\') return true;
  if (name.find(':') != std::string::npos) return true;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

// Output-size estimate of a chunk: 2 to the rounded base-2 logarithm of
// (local uncompressed / local compressed + 1) * (chunk + chunk / 2 + 267), low 8 bits cleared.
uint64_t EstimateOutput(uint32_t local_uncompressed, uint32_t local_compressed, int64_t chunk) {
  uint64_t ratio = local_compressed == 0 ? 2 : local_uncompressed / local_compressed + 1;
  ratio = std::min<uint64_t>(ratio, 1u << 20);
  uint64_t product = ratio * static_cast<uint64_t>(chunk + chunk / 2 + 267);
  product &= ~static_cast<uint64_t>(0xFF);
  if (product == 0) return 256;
  int exponent = static_cast<int>(std::lround(std::log2(static_cast<double>(product))));
  return exponent >= 63 ? (1ull << 62) : (1ull << exponent);
}

// Creates the folders of relative (a "/"-separated path) under root one by one, never through a
// symbolic link: a link or a file where a folder belongs fails, so nothing outside root is ever
// created or written. root itself is the caller's folder and is created as it is named. Without
// a root (a full path chosen by an OnExtractFile handler) the path is the handler's own.
bool CreateFoldersUnder(const std::string& root, const std::string& relative) {
  if (root.empty()) return ForceDirectories(Host(relative));
  if (!ForceDirectories(Host(root))) return false;
  std::string folder = IncludeTrailingPathDelimiter(root);
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    if (end > start) {
      folder += relative.substr(start, end - start);
      const std::string host = Host(folder);  // no trailing "/": that would follow a link
      struct stat st {};
      if (::lstat(host.c_str(), &st) != 0) {
        if (errno != ENOENT) return false;
        if (::mkdir(host.c_str(), 0777) != 0 && errno != EEXIST) return false;
        if (::lstat(host.c_str(), &st) != 0) return false;
      }
      if (!S_ISDIR(st.st_mode)) return false;
      folder += '/';
    }
    start = end + 1;
  }
  return true;
}

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
  if (in_memory_ || !FileExists(Host(file_name_))) {
    mode = OpenMode::Create;
  } else {
    try {
      TFileStream probe(Host(file_name_), FileAccess::ReadWrite, FileShare::DenyWrite);
      mode = OpenMode::ReadWrite;
    } catch (const EStreamError&) {
      mode = OpenMode::ReadOnly;
    }
  }
  if (!in_memory_ && ExtractFileName(file_name_).empty()) RaiseNative(10);
  if (mode != OpenMode::Create && !FileExists(Host(file_name_)) && spanning_mode_ != smSpanning &&
      !IsRemovableDrive(Host(file_name_)))
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
      stream_ = std::make_unique<TFileStream>(TFileStream::Create(Host(file_name_)));
    dir_ = std::make_unique<TZipDirManager>(*stream_, options_.OEMFileNames);
    return;
  }
  spanning_mode_ = smNone;
  try {
    stream_ = std::make_unique<TFileStream>(
        Host(file_name_), open_mode_ == OpenMode::ReadWrite ? FileAccess::ReadWrite : FileAccess::Read,
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
    return Replace(std::move(m), '\\', '/');
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
      std::string folder = Cp1252LowerCase(Replace(ExtractFilePath(name), '\\', '/'));
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

// ---- extraction ----

void TZipBaseArchiver::ExtractMatching(const std::string& mask, int search_attr,
                                       const std::string& exclusion_mask) {
  CheckActive();
  SelectEntries(mask, search_attr, exclusion_mask);
  ProcessSelected();
}

void TZipBaseArchiver::ProcessSelected() {
  std::lock_guard<std::recursive_mutex> lock(ZipProcessLock());
  // The decoding buffers live for one operation, also when it ends in an exception.
  struct FreeBuffers {
    TZipBaseArchiver& a;
    ~FreeBuffers() {
      a.input_buffer_ = {};
      a.output_buffer_ = {};
      a.inflater_.reset();
      a.available_memory_ = 0;
    }
  } free_buffers{*this};
  processed_number_ = 0;
  cancel_ = false;
  progress_enabled_ = true;
  processed_count_ = 0;
  for (const TDirItem& entry : dir_->Items())
    if (entry.Selected) ++processed_count_;

  bool cancel = false;
  if (OnOverallProgress) OnOverallProgress(this, 0, poExtract, ppStart, cancel);
  if (!cancel) {
    for (size_t i = 0; i < dir_->Items().size(); ++i) {
      if (!dir_->Items()[i].Selected) continue;
      bool stop = false;
      for (;;) {  // one pass per attempt (Retry repeats the entry)
        TDirItem& entry = dir_->Items()[i];
        entry.Operation = poExtract;
        TZipAction action = fxaIgnore;
        std::string name = Replace(entry.FileName, '/', '\\');
        bool confirm = true;
        if (OnConfirmProcessFile) OnConfirmProcessFile(this, name, poExtract, confirm);
        if (!confirm) break;
        std::string base_folder = IncludeTrailingPathDelimiter(base_dir_.empty() ? Utf8ToCp1252BestFit(GetCurrentDir()) : base_dir_);
        bool file_cancel = false;
        if (OnFileProgress) OnFileProgress(this, name, 0, poExtract, ppStart, file_cancel);
        if (file_cancel) {
          cancel_ = true;
          stop = true;
          break;
        }
        try {
          ExtractOne(static_cast<int>(i), base_folder);
          bool ignored = false;
          if (OnFileProgress) OnFileProgress(this, name, 100, poExtract, ppEnd, ignored);
        } catch (const EZipException& e) {
          if (OnProcessFileFailure) {
            OnProcessFileFailure(this, name, poExtract, e.NativeError(), e.ErrorCode(), e.Message(), action);
          } else {
            auto hook = ZipInteraction();
            action = hook ? hook->AskFileFailure(
                                FormatMessage("%s. File processing error, possibly disk is full", {e.Message()}))
                          : fxaAbort;
          }
          if (action == fxaRetry) continue;
          if (action == fxaAbort) stop = true;
          break;
        }
        ++processed_number_;
        if (cancel_) stop = true;
        break;
      }
      if (stop) break;
    }
  }
  progress_enabled_ = false;
  bool ignored = false;
  if (OnOverallProgress) OnOverallProgress(this, 100, poExtract, ppEnd, ignored);
}

void TZipBaseArchiver::ExtractOne(int index, const std::string& base_folder) {
  if (index < 0 || index >= static_cast<int>(dir_->Items().size())) RaiseNative(16);
  const TDirItem entry = dir_->Items()[static_cast<size_t>(index)];
  const uint32_t attributes = entry.CentralDir.ExternalFileAttributes;
  const std::string stored = entry.FileName;
  std::string name = Replace(stored, '/', '\\');
  if (OnExtractFile) OnExtractFile(this, name, attributes, entry.Comment);
  bool renamed = name != Replace(stored, '/', '\\');

  // An archive's name never leaves the base folder; a name the caller's handler chose is its own.
  if (!renamed && LeavesBaseFolder(stored)) RaiseNative(19, {base_folder + Replace(name, '\\', '/')});
  bool full_path = renamed && (name.find(':') != std::string::npos ||
                               name.find("\\\\") != std::string::npos || name[0] == '/');
  std::string path = Replace(name, '\\', '/');
  std::string root = full_path ? std::string() : base_folder;
  if (!options_.CreateDirs) {
    path = ExtractFileName(path);
  } else {
    std::string folder = root + ExtractFilePath(path);
    if (!folder.empty() && !CreateFoldersUnder(root, ExtractFilePath(path))) RaiseNative(20, {folder});
  }
  if ((attributes & 0x10) != 0 || (!stored.empty() && stored.back() == '/')) return;

  // The destination is looked at, and replaced, as what it is: a symbolic link there is never
  // followed, so nothing it points to is changed.
  std::string dest = root + path;
  struct stat existing {};
  const bool exists = ::lstat(Host(dest).c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) RaiseNative(19, {dest});  // a folder is in the way
  if (exists) {
    const bool link = S_ISLNK(existing.st_mode);
    // A link has no attributes of its own: it is never read-only.
    if (!options_.ReplaceReadOnly && !link && (existing.st_mode & S_IWUSR) == 0) return;
    uint32_t entry_time = static_cast<uint32_t>(entry.CentralDir.LastModFileDate) << 16 |
                          entry.CentralDir.LastModFileTime;
    switch (options_.OverwriteMode) {
      case omPrompt: {
        bool confirm = false;
        if (OnConfirmOverwrite) {
          std::string dest_name = dest;
          OnConfirmOverwrite(this, stored, dest_name, confirm);
        } else if (auto hook = ZipInteraction()) {
          switch (hook->AskOverwrite(FormatMessage("Overwrite file \"%s\" with \"%s\"", {dest, stored}))) {
            case oaYes: confirm = true; break;
            case oaNo: confirm = false; break;
            case oaYesToAll: confirm = true; options_.OverwriteMode = omAlways; break;
            // No to all: this file and every later one stay as they are.
            case oaNoToAll: confirm = false; options_.OverwriteMode = omNever; break;
          }
        }
        if (!confirm) return;
        break;
      }
      case omAlways: break;
      case omNever: return;
      case omIfNewer:
        if (!(DateTimeToFileDate(existing.st_mtime) < entry_time)) return;
        break;
      case omIfOlder:
        if (!(entry_time < DateTimeToFileDate(existing.st_mtime))) return;
        break;
    }
    if (!link) FileSetAttr(Host(dest), 0);
    if (!DeleteFile(Host(dest))) RaiseNative(19, {dest});
  }
  int fd = ::open(Host(dest).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) RaiseNative(19, {dest});
  auto out = std::make_unique<TOutputFileStream>(fd, dest);
  // Always, also after a failure: the entry's time, a flush on removable drives, close.
  auto finish = [&] {
    std::time_t t = FileDateToDateTime(static_cast<uint32_t>(entry.CentralDir.LastModFileDate) << 16 |
                                       entry.CentralDir.LastModFileTime);
    if (t != -1) SetFileModificationTime(out->Handle(), t);
    if (options_.FlushBuffers && IsRemovableDrive(Host(dest))) FlushFileBuffers(out->Handle());
    out.reset();
  };
  try {
    bool decoded = DecodeEntry(index, *out);
    if (!decoded && !cancel_ && !extract_corrupted_files_ && !skip_file_) RaiseNative(8);
  } catch (...) {
    finish();
    DeleteFile(Host(dest));
    throw;
  }
  finish();
  if (skip_file_ || cancel_) {
    DeleteFile(Host(dest));
  } else if (options_.SetAttributes) {
    FileSetAttr(Host(dest), attributes);
  }
}

bool TZipBaseArchiver::AskPassword(const std::string& stored_name) {
  if (OnPassword) {
    std::string new_password = password_;
    bool skip = false;
    OnPassword(this, stored_name, new_password, skip);
    // A handler that offers nothing new would be asked forever: that ends the entry too.
    if (skip || new_password == password_) {
      skip_file_ = true;
      return false;
    }
    password_ = new_password;
    return true;
  }
  auto hook = ZipInteraction();
  std::string value = password_;
  if (!hook ||
      !hook->InputQuery(FormatMessage("Password for \"%s\"", {stored_name}), "Enter password: ", value)) {
    skip_file_ = true;
    return false;
  }
  password_ = value;
  return true;
}

void TZipBaseArchiver::ReportProgress(double consumed, double total, bool& cancel_out) {
  double fraction = total > 0 ? consumed / total : 1.0;
  // Both events fire for every step, whichever of them cancels.
  bool file_cancel = false, overall_cancel = false;
  if (OnFileProgress) OnFileProgress(this, current_name_, fraction * 100.0, poExtract, ppProcess, file_cancel);
  if (OnOverallProgress && processed_count_ > 0)
    OnOverallProgress(this, (fraction + processed_number_) / processed_count_ * 100.0, poExtract, ppProcess,
                      overall_cancel);
  cancel_out = file_cancel || overall_cancel;
}

bool TZipBaseArchiver::DecodeEntry(int index, TStream& out) {
  const TDirItem& entry = dir_->Items()[static_cast<size_t>(index)];
  const auto& cd = entry.CentralDir;
  current_name_ = Replace(entry.FileName, '/', '\\');
  // A skip belongs to the entry that asked for it: cleared before any way out, so that a later
  // entry's own failure is never taken for a skip.
  skip_file_ = false;
  const int64_t size = stream_->Size();
  const uint64_t offset = entry.EffectiveLocalHeaderOffset();
  if (offset > static_cast<uint64_t>(size) || offset + TZipLocalFileHeader::kSize > static_cast<uint64_t>(size))
    return false;
  uint8_t head[TZipLocalFileHeader::kSize];
  stream_->Seek(static_cast<int64_t>(offset), SeekOrigin::Begin);
  stream_->ReadBuffer(head, sizeof head);
  TZipLocalFileHeader local;
  local.Parse(head);
  if (local.Signature != kLocalHeaderSig && local.Signature != kOwnLocalHeaderSig) return false;
  const int64_t data_start =
      static_cast<int64_t>(offset) + TZipLocalFileHeader::kSize + local.FileNameLength + local.ExtraFieldLength;

  uint64_t compressed64 = entry.EffectiveCompressedSize();
  int64_t limit = dir_->LastDisk() == 0 ? dir_->CentralDirPosition() : size;
  limit = std::min(limit, size);
  int64_t compressed =
      data_start >= limit ? 0 : static_cast<int64_t>(std::min<uint64_t>(compressed64, static_cast<uint64_t>(limit - data_start)));

  switch (cd.CompressionMethod) {
    case 0:
    case 8: break;
    case 9: RaiseNative(55, {}, false);
    default: return false;  // no other method is read, whatever version it needs
  }

  bool encrypted = (cd.GeneralPurposeBitFlag & 1) != 0;
  TZipCrypto crypto("");
  if (encrypted) {
    if (compressed < 12) return false;
    compressed -= 12;
    const uint8_t expected = (cd.GeneralPurposeBitFlag & 0x0008) ? static_cast<uint8_t>(cd.LastModFileTime >> 8)
                                                                  : static_cast<uint8_t>(cd.Crc32 >> 24);
    for (;;) {
      uint8_t header[12];
      stream_->Seek(data_start, SeekOrigin::Begin);
      stream_->ReadBuffer(header, sizeof header);
      crypto.Init(password_);
      crypto.Decrypt(header, sizeof header);
      if (header[11] == expected || no_password_prompt_) break;
      if (!AskPassword(entry.FileName)) return false;  // SkipFile: the entry is abandoned
    }
  } else {
    stream_->Seek(data_start, SeekOrigin::Begin);
  }

  const bool deflated = cd.CompressionMethod == 8;
  const uint64_t expected_size = entry.EffectiveUncompressedSize();
  const size_t input_size = static_cast<size_t>(std::min<int64_t>(kInputChunk, std::max<int64_t>(compressed, 1))) + 2;
  if (input_buffer_.size() < input_size) input_buffer_.resize(input_size);
  std::vector<uint8_t>& input = input_buffer_;
  if (deflated && output_buffer_.size() < kOutputBuffer) output_buffer_.resize(kOutputBuffer);
  std::vector<uint8_t>& output = output_buffer_;
  TZipInflater* inflater = nullptr;
  if (deflated) {
    if (inflater_) inflater_->Reset();
    else inflater_ = std::make_unique<TZipInflater>();
    inflater = inflater_.get();
  }

  uint32_t crc = 0;
  uint64_t out_count = 0;
  // Passes produced bytes on; false once more than the directory promises arrives.
  auto emit = [&](const uint8_t* data, size_t n) {
    if (n == 0) return true;
    if (out_count + n > expected_size) return false;
    crc = ZipCrc32(crc, data, n);
    if (out.Write(data, static_cast<int64_t>(n)) != static_cast<int64_t>(n)) return false;  // disk full
    out_count += n;
    return true;
  };

  int64_t consumed = 0;
  bool stream_end = false;
  while (consumed < compressed && !stream_end) {
    if (progress_enabled_ && (OnFileProgress || OnOverallProgress)) {
      bool cancel = false;
      ReportProgress(static_cast<double>(consumed), static_cast<double>(compressed), cancel);
      if (cancel) {
        cancel_ = true;
        return true;  // counts as decoded; the cancel flag deletes the file
      }
    }
    int64_t chunk = std::min<int64_t>(kInputChunk, compressed - consumed);
    // Asked only when a chunk is large enough to be halved, and again after every 16 MiB read.
    if (chunk >= 512 && (available_memory_ == 0 || read_since_memory_asked_ >= kMemoryAskInterval)) {
      available_memory_ = AvailablePhysicalMemory();
      read_since_memory_asked_ = 0;
    }
    read_since_memory_asked_ += chunk;
    while (chunk >= 512 && available_memory_ > 0 &&
           EstimateOutput(local.UncompressedSize, local.CompressedSize, chunk) >= available_memory_ / 20)
      chunk /= 2;
    stream_->ReadBuffer(input.data(), chunk);
    if (encrypted) crypto.Decrypt(input.data(), static_cast<size_t>(chunk));
    if (deflated) {
      const uint8_t* in = input.data();
      size_t in_left = static_cast<size_t>(chunk);
      for (;;) {
        uint8_t* out_at = output.data();
        size_t out_left = output.size();
        const size_t in_before = in_left;
        TZipInflater::Result result = inflater->Inflate(in, in_left, out_at, out_left);
        const size_t produced = output.size() - out_left;
        if (result == TZipInflater::Result::kError) return false;
        if (!emit(output.data(), produced)) return false;
        if (result == TZipInflater::Result::kEnd) {
          // Four or more bytes of the entry behind the end of the deflate data are garbage (zlib
          // would take them for its Adler-32 trailer and fail): the entry fails with either decoder.
          const int64_t behind = static_cast<int64_t>(in_left + inflater->TakenBehindTheEnd()) +
                                 (compressed - consumed - chunk);
          if (behind >= 4) return false;
          stream_end = true;
          break;
        }
        // Go on while input is left or the output filled up; stop when nothing moved.
        if (in_left == 0 && out_left != 0) break;
        if (produced == 0 && in_left == in_before) break;
      }
    } else {
      if (!emit(input.data(), static_cast<size_t>(chunk))) return false;
    }
    consumed += chunk;
  }
  return out_count == expected_size && (skip_file_ || crc == cd.Crc32);
}

// ---- TZipArchiver ----

TZipArchiver::TZipArchiver() { SetZip64Mode(zmDisabled); }

}  // namespace zq
