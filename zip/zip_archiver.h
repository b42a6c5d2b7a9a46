// The package archive component: opens a ZIP archive (end record, Zip64 records, data in front of
// the archive, rebuild from local headers when the end record is missing), lists its entries and
// extracts the entries that match a mask under a base folder, decrypting traditional PKWARE
// encryption, inflating through zlib and verifying size and CRC-32.
//
// Text is code page 1252 throughout. Interaction with a person (password, failure question,
// overwrite question) goes through the events below or, when an event is unassigned, through the
// process-wide TZipInteraction hook (the Qt dialogs in ui/ install one; without it nothing is asked).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/stream.h"
#include "zip/zip_dir_manager.h"
#include "zip/zip_exception.h"

namespace zq {

enum TZipSpanningMode { smNone, smSpanning, smSplitting };
enum TZip64Mode { zmDisabled, zmAuto, zmAlways };
enum TZipCompressionLevel { clNone, clFastest, clNormal, clMax };
enum TZipStorePathMode { spNoPath, spRelativePath, spFullPath, spFullPathWithDrive };
enum TZipFileShareMode {
  smShareCompat,
  smShareExclusive,
  smShareDenyWrite,
  smShareDenyRead,
  smShareDenyNone
};
enum TZipOverwriteMode { omPrompt, omAlways, omNever, omIfNewer, omIfOlder };
enum TZipAction { fxaRetry, fxaIgnore, fxaAbort };
enum TZipProgressPhase { ppStart, ppProcess, ppEnd };
enum TZipVolumeSize { vsAutoDetect, vsCustomSize, vs1_44MB, vs100MB, vs200MB, vs250MB, vs650MB,
                      vs700MB, vs4GB };

struct TZipSpanningOptions {
  bool AdvancedNaming = true;
  int64_t FirstVolumeSize = 0;
  TZipVolumeSize VolumeSize = vsAutoDetect;
  int64_t CustomVolumeSize = 65536;
};

struct TZipOptions {
  TZipStorePathMode StorePath = spRelativePath;
  bool Recurse = true;
  TZipFileShareMode ShareMode = smShareDenyNone;
  TZipOverwriteMode OverwriteMode = omAlways;
  bool CreateDirs = true;
  bool ReplaceReadOnly = true;
  bool SetAttributes = true;
  // read-only, hidden, system, volume, directory, archive, normal, compressed,
  // not-content-indexed
  int SearchAttr = 0x28BF;
  bool FlushBuffers = true;
  bool OEMFileNames = true;
};

// The search record of FindFirst/FindNext.
struct TZipArchiveItem {
  // search state
  std::string Mask;            // "/" separators
  std::string ExclusionMask;   // "/" separators
  bool Wildcard = false;
  int SearchAttr = 0;
  int NextIndex = 0;
  // the entry found
  int Index = -1;
  std::string FileName;        // name part
  std::string StoredPath;      // folder part, "/" separators, with a trailing "/" when non-empty
  int64_t UncompressedSize = 0;
  int64_t CompressedSize = 0;
  double CompressionRate = 0;  // percent
  bool Encrypted = false;
  uint16_t LastModFileTime = 0;
  uint16_t LastModFileDate = 0;
  uint32_t CRC = 0;
  uint32_t ExternalFileAttributes = 0;
  std::string Comment;
};

// Answers to the default overwrite question.
enum TZipOverwriteAnswer { oaYes, oaNo, oaYesToAll, oaNoToAll };

// What the component may ask a person when the matching event is unassigned. Texts are code page
// 1252. The Qt implementation lives in ui/zip_dialogs.h.
class TZipInteraction {
 public:
  virtual ~TZipInteraction() = default;
  // Text-input query; value holds the initial text and receives the answer. False on Cancel.
  virtual bool InputQuery(const std::string& caption, const std::string& prompt,
                          std::string& value) = 0;
  // Abort/Retry/Ignore question; closing it counts as Abort.
  virtual TZipAction AskFileFailure(const std::string& text) = 0;
  // Yes / No / No to all / Yes to all question.
  virtual TZipOverwriteAnswer AskOverwrite(const std::string& text) = 0;
};

// Installs the process-wide interaction hook (nullptr: nobody is asked; a password query counts
// as Cancel, a failure question as Abort, an overwrite question as No).
void SetZipInteraction(std::shared_ptr<TZipInteraction> interaction);
std::shared_ptr<TZipInteraction> ZipInteraction();

// The process-wide lock held for the whole of a processing operation of any instance.
std::recursive_mutex& ZipProcessLock();

class TZipBaseArchiver;
class TZipInflater;

using TZipOverallProgressEvent = std::function<void(TZipBaseArchiver* Sender, double Progress,
                                                    TZipProcessOperation Operation,
                                                    TZipProgressPhase ProgressPhase, bool& Cancel)>;
using TZipFileProgressEvent = std::function<void(
    TZipBaseArchiver* Sender, const std::string& FileName, double Progress,
    TZipProcessOperation Operation, TZipProgressPhase ProgressPhase, bool& Cancel)>;
using TZipConfirmProcessFileEvent =
    std::function<void(TZipBaseArchiver* Sender, const std::string& FileName,
                       TZipProcessOperation Operation, bool& Confirm)>;
using TZipExtractFileEvent =
    std::function<void(TZipBaseArchiver* Sender, std::string& FileName, uint32_t FileAttr,
                       const std::string& Comment)>;
using TZipConfirmOverwriteEvent =
    std::function<void(TZipBaseArchiver* Sender, const std::string& SourceFileName,
                       std::string& DestFileName, bool& Confirm)>;
using TZipPasswordEvent = std::function<void(TZipBaseArchiver* Sender, const std::string& FileName,
                                             std::string& NewPassword, bool& SkipFile)>;
using TZipProcessFileFailureEvent = std::function<void(
    TZipBaseArchiver* Sender, const std::string& FileName, TZipProcessOperation Operation,
    int NativeError, int ErrorCode, const std::string& ErrorMessage, TZipAction& Action)>;
using TZipNotifyEvent = std::function<void(TZipBaseArchiver* Sender)>;

class TZipBaseArchiver {
 public:
  TZipBaseArchiver();
  virtual ~TZipBaseArchiver();
  TZipBaseArchiver(const TZipBaseArchiver&) = delete;
  TZipBaseArchiver& operator=(const TZipBaseArchiver&) = delete;

  // ---- properties (no side effects when set, except SpanningMode) ----
  const std::string& Name() const { return name_; }
  void SetName(std::string value) { name_ = std::move(value); }
  const std::string& FileName() const { return file_name_; }
  void SetFileName(std::string value) { file_name_ = std::move(value); }
  const std::string& Password() const { return password_; }
  void SetPassword(std::string value) { password_ = std::move(value); }
  const std::string& BaseDir() const { return base_dir_; }
  void SetBaseDir(std::string value) { base_dir_ = std::move(value); }
  const std::string& TempDir() const { return temp_dir_; }
  void SetTempDir(std::string value) { temp_dir_ = std::move(value); }
  bool InMemory() const { return in_memory_; }
  void SetInMemory(bool value) { in_memory_ = value; }
  bool ExtractCorruptedFiles() const { return extract_corrupted_files_; }
  void SetExtractCorruptedFiles(bool value) { extract_corrupted_files_ = value; }
  TZipSpanningMode SpanningMode() const { return spanning_mode_; }
  // Raises "Cannot set spanning mode on open archive" while active.
  void SetSpanningMode(TZipSpanningMode value);
  const TZipSpanningOptions& SpanningOptions() const { return spanning_options_; }
  void SetSpanningOptions(const TZipSpanningOptions& value) { spanning_options_ = value; }
  TZip64Mode Zip64Mode() const { return zip64_mode_; }
  void SetZip64Mode(TZip64Mode value) { zip64_mode_ = value; }
  TZipCompressionLevel CompressionLevel() const { return compression_level_; }
  void SetCompressionLevel(TZipCompressionLevel value);
  int CompressionMode() const { return compression_mode_; }
  // 0..9, else native code 5.
  void SetCompressionMode(int value);
  std::string CurrentVersion() const;
  TZipOptions& Options() { return options_; }
  const TZipOptions& Options() const { return options_; }
  void SetOptions(const TZipOptions& value) { options_ = value; }

  // Switches without a published property.
  bool RepairDamagedArchives() const { return repair_damaged_; }     // default true
  void SetRepairDamagedArchives(bool value) { repair_damaged_ = value; }
  bool SuppressPasswordPrompt() const { return no_password_prompt_; }  // default false
  void SetSuppressPasswordPrompt(bool value) { no_password_prompt_ = value; }

  // ---- events ----
  TZipFileProgressEvent OnFileProgress;
  TZipOverallProgressEvent OnOverallProgress;
  TZipConfirmOverwriteEvent OnConfirmOverwrite;
  TZipConfirmProcessFileEvent OnConfirmProcessFile;
  TZipNotifyEvent AfterOpen;
  TZipPasswordEvent OnPassword;
  TZipProcessFileFailureEvent OnProcessFileFailure;
  TZipExtractFileEvent OnExtractFile;

  // ---- operations ----
  void Open();
  void Close();
  bool Active() const { return active_; }
  void ExtractMatching(const std::string& mask = "*.*", int search_attr = 0x28BF,
                       const std::string& exclusion_mask = "");
  // Searches the entry list; true when an entry was found (its fields are in item).
  bool FindFirst(const std::string& mask, TZipArchiveItem& item, int search_attr = 0x28BF,
                 const std::string& exclusion_mask = "");
  bool FindNext(TZipArchiveItem& item);

  // ---- the open archive (native code 13 while inactive) ----
  int FileCount() const;
  const TDirItem& Item(int index) const;  // native code 16 outside the list
  const std::string& Comment() const;
  int64_t PrefixSize() const;
  bool IsZip64() const;
  bool Rebuilt() const;

 protected:
  // Raises EZipException for native code N with the table message formatted with args; the
  // component's Name is prefixed when with_name is true and the Name is not empty.
  [[noreturn]] void RaiseNative(int native, std::initializer_list<std::string_view> args = {},
                                bool with_name = true) const;

 private:
  enum class OpenMode { Create, ReadWrite, ReadOnly };

  void CheckActive() const;
  void ReadArchive();
  void SelectEntries(const std::string& mask, int search_attr, const std::string& exclusion_mask);
  bool FindNextInternal(TZipArchiveItem& item);
  void ProcessSelected();
  void ExtractOne(int index, const std::string& base_folder);
  bool DecodeEntry(int index, TStream& out);
  bool AskPassword(const std::string& stored_name);
  void ReportProgress(double consumed, double total, bool& cancel_out);

  std::string name_;
  std::string file_name_;
  std::string password_;
  std::string base_dir_;
  std::string temp_dir_;
  bool in_memory_ = false;
  bool extract_corrupted_files_ = false;
  TZipSpanningMode spanning_mode_ = smNone;
  TZipSpanningOptions spanning_options_;
  TZip64Mode zip64_mode_ = zmAuto;
  TZipCompressionLevel compression_level_ = clFastest;
  int compression_mode_ = 1;
  TZipOptions options_;
  bool repair_damaged_ = true;
  bool no_password_prompt_ = false;

  bool active_ = false;
  OpenMode open_mode_ = OpenMode::ReadOnly;
  std::unique_ptr<TStream> stream_;
  std::unique_ptr<TZipDirManager> dir_;

  // processing state
  int processed_number_ = 0;
  int processed_count_ = 0;
  bool cancel_ = false;
  bool skip_file_ = false;
  bool progress_enabled_ = false;
  std::string current_name_;  // entry being decoded, "\\" separators
  // Kept from entry to entry of one processing operation, freed at its end.
  std::vector<uint8_t> input_buffer_, output_buffer_;
  std::unique_ptr<TZipInflater> inflater_;
  // Available physical memory, asked again once this many bytes of entry data were read.
  uint64_t available_memory_ = 0;
  int64_t read_since_memory_asked_ = 0;
};

class TZipArchiver : public TZipBaseArchiver {
 public:
  TZipArchiver();
};

}  // namespace zq
