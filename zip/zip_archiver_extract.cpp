// TZipBaseArchiver's extraction: the selected entries one by one into their files (names that
// would leave the base folder refused, folders made without following links, files created
// exclusively), passwords asked for, each entry decrypted, inflated and checked against its CRC,
// with progress. Opening, closing and selecting the entries are in zip_archiver.cpp.
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
#include "zip/zip_paths.h"

namespace zq {

namespace {

constexpr int64_t kInputChunk = 1048576;
constexpr size_t kOutputBuffer = 256 * 1024;  // inflate output, written out whenever it fills
constexpr int64_t kMemoryAskInterval = 16 << 20;

// A file stream over a descriptor this unit opened itself (exclusive creation).
class TOutputFileStream : public TFileStream {
 public:
  TOutputFileStream(int fd, std::string path) : TFileStream(fd, std::move(path)) {}
};

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
  if (root.empty()) return ForceDirectories(HostPath(relative));
  if (!ForceDirectories(HostPath(root))) return false;
  std::string folder = IncludeTrailingPathDelimiter(root);
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    if (end > start) {
      folder += relative.substr(start, end - start);
      const std::string host = HostPath(folder);  // no trailing "/": that would follow a link
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
        std::string name = ReplaceChar(entry.FileName, '/', '\\');
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
  std::string name = ReplaceChar(stored, '/', '\\');
  if (OnExtractFile) OnExtractFile(this, name, attributes, entry.Comment);
  bool renamed = name != ReplaceChar(stored, '/', '\\');

  // An archive's name never leaves the base folder; a name the caller's handler chose is its own.
  if (!renamed && LeavesBaseFolder(stored)) RaiseNative(19, {base_folder + ReplaceChar(name, '\\', '/')});
  bool full_path = renamed && (name.find(':') != std::string::npos ||
                               name.find("\\\\") != std::string::npos || name[0] == '/');
  std::string path = ReplaceChar(name, '\\', '/');
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
  const bool exists = ::lstat(HostPath(dest).c_str(), &existing) == 0;
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
    if (!link) FileSetAttr(HostPath(dest), 0);
    if (!DeleteFile(HostPath(dest))) RaiseNative(19, {dest});
  }
  int fd = ::open(HostPath(dest).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) RaiseNative(19, {dest});
  auto out = std::make_unique<TOutputFileStream>(fd, dest);
  // Always, also after a failure: the entry's time, a flush on removable drives, close.
  auto finish = [&] {
    std::time_t t = FileDateToDateTime(static_cast<uint32_t>(entry.CentralDir.LastModFileDate) << 16 |
                                       entry.CentralDir.LastModFileTime);
    if (t != -1) SetFileModificationTime(out->Handle(), t);
    if (options_.FlushBuffers && IsRemovableDrive(HostPath(dest))) FlushFileBuffers(out->Handle());
    out.reset();
  };
  try {
    bool decoded = DecodeEntry(index, *out);
    if (!decoded && !cancel_ && !extract_corrupted_files_ && !skip_file_) RaiseNative(8);
  } catch (...) {
    finish();
    DeleteFile(HostPath(dest));
    throw;
  }
  finish();
  if (skip_file_ || cancel_) {
    DeleteFile(HostPath(dest));
  } else if (options_.SetAttributes) {
    FileSetAttr(HostPath(dest), attributes);
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
  current_name_ = ReplaceChar(entry.FileName, '/', '\\');
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

}  // namespace zq
