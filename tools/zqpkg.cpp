// zqpkg: lists, extracts and creates installation packages through the archive component.
// Terminal text is UTF-8; inside, names and paths are code page 1252.
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/file_system.h"
#include "zip/zip_archiver.h"
#include "zip/zip_writer.h"

namespace {

namespace fs = std::filesystem;
using zq::Cp1252ToUtf8;

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

struct UsageError {
  std::string message;
};

// The progress line of extract, when one is on the terminal: cleared before anything else is
// written there, so that a message never runs into it.
bool g_progress_line_shown = false;

void ClearProgressLine() {
  if (!g_progress_line_shown) return;
  std::cerr << "\r\033[K" << std::flush;
  g_progress_line_shown = false;
}

void PrintError(const std::string& message_1252) {
  ClearProgressLine();
  std::cerr << "zqpkg: " << Cp1252ToUtf8(message_1252) << '\n';
}

// Said on stderr by list and extract when the directory was rebuilt from local headers.
void WarnIfRebuilt(const zq::TZipArchiver& archiver) {
  if (archiver.Rebuilt())
    PrintError("the archive's directory is missing or damaged; entries were found by scanning and some may be missing");
}

// Command-line text (UTF-8) to the components' code page; a character 1252 lacks is a usage error.
std::string Ansi(const std::string& utf8) {
  try {
    return zq::Utf8ToCp1252(utf8);
  } catch (const zq::ECodePageError& e) {
    throw UsageError{e.Message() + ": " + utf8};
  }
}

std::string DosDateTimeText(uint32_t dos) {
  unsigned date = dos >> 16, time = dos & 0xFFFF;
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", (date >> 9) + 1980,
                (date >> 5) & 0x0F, date & 0x1F, time >> 11, (time >> 5) & 0x3F, (time & 0x1F) * 2);
  return text;
}

std::string AttributeText(uint32_t attributes) {
  std::string text = "-----";
  if (attributes & 0x01) text[0] = 'R';
  if (attributes & 0x02) text[1] = 'H';
  if (attributes & 0x04) text[2] = 'S';
  if (attributes & 0x10) text[3] = 'D';
  if (attributes & 0x20) text[4] = 'A';
  return text;
}

// Opens ARCHIVE for reading; a missing file is the component's "not found" error, never a new
// archive.
void OpenExisting(zq::TZipArchiver& archiver, const std::string& archive_1252) {
  if (!zq::FileExists(Cp1252ToUtf8(archive_1252))) throw zq::MakeZipException(12, {archive_1252});
  archiver.SetFileName(archive_1252);
  archiver.Open();
}

int List(const std::string& archive_utf8, bool json) {
  std::string archive = Ansi(archive_utf8);
  zq::TZipArchiver archiver;
  try {
    OpenExisting(archiver, archive);
  } catch (const zq::Exception& e) {
    PrintError(e.Message());
    return kUsage;
  }
  if (!json) WarnIfRebuilt(archiver);
  if (json) {
    nlohmann::ordered_json doc;
    doc["prefix_size"] = archiver.PrefixSize();
    doc["comment"] = Cp1252ToUtf8(archiver.Comment());
    doc["zip64"] = archiver.IsZip64();
    doc["rebuilt"] = archiver.Rebuilt();
    doc["entries"] = nlohmann::ordered_json::array();
    for (int i = 0; i < archiver.FileCount(); ++i) {
      const zq::TDirItem& item = archiver.Item(i);
      const auto& cd = item.CentralDir;
      nlohmann::ordered_json e;
      e["name"] = Cp1252ToUtf8(item.FileName);
      e["size"] = item.EffectiveUncompressedSize();
      e["compressed_size"] = item.EffectiveCompressedSize();
      e["method"] = cd.CompressionMethod;
      e["crc32"] = cd.Crc32;
      e["encrypted"] = item.Encrypted();
      e["flags"] = cd.GeneralPurposeBitFlag;
      e["external_attributes"] = cd.ExternalFileAttributes;
      e["dos_datetime"] = static_cast<uint32_t>(cd.LastModFileDate) << 16 | cd.LastModFileTime;
      e["local_header_offset"] = item.EffectiveLocalHeaderOffset();
      doc["entries"].push_back(std::move(e));
    }
    std::cout << doc.dump() << '\n';
  } else {
    std::printf("%12s %12s %6s %-19s %-5s %s\n", "Size", "Packed", "Method", "Date", "Attr", "Name");
    for (int i = 0; i < archiver.FileCount(); ++i) {
      const zq::TDirItem& item = archiver.Item(i);
      const auto& cd = item.CentralDir;
      std::printf("%12llu %12llu %6u %-19s %-5s %s%s\n",
                  static_cast<unsigned long long>(item.EffectiveUncompressedSize()),
                  static_cast<unsigned long long>(item.EffectiveCompressedSize()), cd.CompressionMethod,
                  DosDateTimeText(static_cast<uint32_t>(cd.LastModFileDate) << 16 | cd.LastModFileTime).c_str(),
                  AttributeText(cd.ExternalFileAttributes).c_str(), Cp1252ToUtf8(item.FileName).c_str(),
                  item.Encrypted() ? " (encrypted)" : "");
    }
  }
  archiver.Close();
  return kOk;
}

struct ExtractArgs {
  std::string password, mask = "*.*", exclude, overwrite = "always", archive, dest;
  bool no_recurse = false, quiet = false, verbose = false;
};

std::string MiB(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

// Progress of extract on a terminal: entries and bytes done out of the selection's totals, on one
// line redrawn with a carriage return, only when what it shows changes.
class ProgressLine {
 public:
  ProgressLine(int entries, uint64_t bytes) : entries_total_(entries), bytes_total_(bytes) {}

  void EntryStarted(uint64_t size) {
    current_size_ = size;
    Draw(bytes_done_);
  }
  void Advance(double percent) {
    Draw(bytes_done_ + static_cast<uint64_t>(static_cast<double>(current_size_) * percent / 100.0));
  }
  void EntryEnded() {
    ++entries_done_;
    bytes_done_ += current_size_;
    current_size_ = 0;
    Draw(bytes_done_);
  }
  void Finish() {
    if (!g_progress_line_shown) return;
    std::cerr << '\n' << std::flush;
    g_progress_line_shown = false;
  }

 private:
  void Draw(uint64_t bytes) {
    bytes = std::min(bytes, bytes_total_);
    char text[160];
    int permille = bytes_total_ == 0 ? 1000 : static_cast<int>(bytes * 1000 / bytes_total_);
    std::snprintf(text, sizeof text, "\rzqpkg: %d/%d entries, %s of %s (%d%%)", entries_done_, entries_total_,
                  MiB(bytes).c_str(), MiB(bytes_total_).c_str(), permille / 10);
    if (g_progress_line_shown && last_ == text) return;
    last_ = text;
    std::cerr << text << "\033[K" << std::flush;
    g_progress_line_shown = true;
  }

  int entries_total_;
  uint64_t bytes_total_;
  int entries_done_ = 0;
  uint64_t bytes_done_ = 0, current_size_ = 0;
  std::string last_;
};

int Extract(const ExtractArgs& args) {
  zq::TZipArchiver archiver;
  archiver.SetPassword(Ansi(args.password));
  archiver.SetBaseDir(Ansi(args.dest));
  std::string mask = Ansi(args.mask), exclude = Ansi(args.exclude), archive = Ansi(args.archive);
  zq::TZipOptions& options = archiver.Options();
  options.Recurse = !args.no_recurse;
  if (args.overwrite == "always") options.OverwriteMode = zq::omAlways;
  else if (args.overwrite == "never") options.OverwriteMode = zq::omNever;
  else if (args.overwrite == "ifnewer") options.OverwriteMode = zq::omIfNewer;
  else options.OverwriteMode = zq::omIfOlder;

  int failures = 0;
  bool entry_failed = false;
  // Nobody is asked: a failed password check skips the entry, a failed file is reported and
  // ignored.
  archiver.OnPassword = [&](zq::TZipBaseArchiver*, const std::string& name, std::string&, bool& skip) {
    skip = true;
    PrintError(name + ": wrong password");
    ++failures;
    entry_failed = true;
  };
  archiver.OnProcessFileFailure = [&](zq::TZipBaseArchiver*, const std::string&, zq::TZipProcessOperation,
                                      int, int, const std::string& message, zq::TZipAction& action) {
    PrintError(message);
    action = zq::fxaIgnore;
    ++failures;
    entry_failed = true;
  };
  try {
    OpenExisting(archiver, archive);
  } catch (const zq::Exception& e) {
    PrintError(e.Message());
    return kUsage;
  }
  WarnIfRebuilt(archiver);

  // The selection's size, for the progress line; the events keep it up to date.
  std::unique_ptr<ProgressLine> progress;
  if (!args.quiet && ::isatty(STDERR_FILENO)) {
    int entries = 0;
    uint64_t bytes = 0;
    zq::TZipArchiveItem item;
    for (bool found = archiver.FindFirst(mask, item, 0x28BF, exclude); found; found = archiver.FindNext(item)) {
      ++entries;
      bytes += static_cast<uint64_t>(item.UncompressedSize);
    }
    progress = std::make_unique<ProgressLine>(entries, bytes);
  }
  int current = -1;
  archiver.OnFileProgress = [&](zq::TZipBaseArchiver*, const std::string& name, double percent,
                                zq::TZipProcessOperation, zq::TZipProgressPhase phase, bool&) {
    if (phase == zq::ppStart) {
      entry_failed = false;
      ++current;
      // Entries are processed in directory order; find this one's size by its name.
      for (; current < archiver.FileCount(); ++current) {
        const zq::TDirItem& entry = archiver.Item(current);
        std::string stored = entry.FileName;
        std::replace(stored.begin(), stored.end(), '/', '\\');
        if (entry.Selected && stored == name) break;
      }
      if (progress && current < archiver.FileCount())
        progress->EntryStarted(archiver.Item(current).EffectiveUncompressedSize());
    } else if (phase == zq::ppProcess) {
      if (progress) progress->Advance(percent);
    } else {
      if (args.verbose && !entry_failed) {
        std::string shown = name;
        std::replace(shown.begin(), shown.end(), '\\', '/');
        ClearProgressLine();
        std::cout << Cp1252ToUtf8(shown) << std::endl;
      }
      if (progress) progress->EntryEnded();
    }
  };
  archiver.OnProcessFileFailure = [&, report = archiver.OnProcessFileFailure](
                                      zq::TZipBaseArchiver* sender, const std::string& name,
                                      zq::TZipProcessOperation operation, int native, int code,
                                      const std::string& message, zq::TZipAction& action) {
    report(sender, name, operation, native, code, message, action);
    if (progress) progress->EntryEnded();  // a failed entry is done too
  };
  try {
    archiver.ExtractMatching(mask, 0x28BF, exclude);
  } catch (const zq::Exception& e) {
    PrintError(e.Message());
    ++failures;
  }
  if (progress) progress->Finish();
  archiver.Close();
  return failures == 0 ? kOk : kFailed;
}

int Create(const std::string& password_utf8, bool store, const std::string& archive_utf8,
           const std::string& source_utf8) {
  std::string password = Ansi(password_utf8);
  Ansi(archive_utf8);
  Ansi(source_utf8);
  std::error_code ec;
  fs::path source(source_utf8);
  if (!fs::is_directory(source, ec)) {
    PrintError("Source folder not found: " + zq::Utf8ToCp1252BestFit(source_utf8));
    return kUsage;
  }
  // Collect the tree first (names checked before anything is written), sorted for a stable order.
  struct Item {
    std::string name;  // code page 1252, "/" separators
    fs::path path;
    bool directory;
  };
  std::vector<Item> items;
  fs::path archive_abs = fs::weakly_canonical(fs::path(archive_utf8), ec);
  for (auto it = fs::recursive_directory_iterator(source, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    bool directory = entry.is_directory(ec) && !entry.is_symlink(ec);
    if (!directory && !entry.is_regular_file(ec)) continue;  // sockets, devices, dangling links
    if (!directory && fs::weakly_canonical(entry.path(), ec) == archive_abs) continue;
    std::string relative = entry.path().lexically_relative(source).generic_string();
    items.push_back({Ansi(relative), entry.path(), directory});
  }
  if (ec) {
    PrintError(zq::Utf8ToCp1252BestFit(ec.message()) + ": " + zq::Utf8ToCp1252BestFit(source_utf8));
    return kFailed;
  }
  std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.name < b.name; });

  try {
    zq::TFileStream out = zq::TFileStream::Create(archive_utf8);
    try {
      zq::TZipWriter writer(out);
      writer.SetPassword(password);
      writer.SetCompressionMode(store ? 0 : 6);
      for (const Item& item : items) {
        std::string host = item.path.string();
        uint32_t attributes = static_cast<uint32_t>(std::max(zq::FileGetAttr(host), 0));
        struct stat st {};
        std::time_t mtime = ::stat(host.c_str(), &st) == 0 ? st.st_mtime : std::time(nullptr);
        uint32_t dos = zq::DateTimeToFileDate(mtime);
        if (item.directory) {
          writer.AddDirectory(item.name, dos, attributes);
        } else {
          zq::TFileStream in(host, zq::FileAccess::Read);
          writer.AddStream(item.name, in, dos, attributes);
        }
      }
      writer.Finish();
    } catch (...) {
      zq::DeleteFile(archive_utf8);
      throw;
    }
  } catch (const zq::Exception& e) {
    PrintError(e.Message());
    return kFailed;
  }
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"zqpkg: list, extract and create installation packages", "zqpkg"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "zqpkg " ZQ_VERSION);

  bool json = false;
  std::string list_archive;
  CLI::App* list = app.add_subcommand("list", "List the entries of an archive");
  list->add_flag("--json", json, "Print one JSON document");
  list->add_option("ARCHIVE", list_archive, "Archive file")->required();

  ExtractArgs ex;
  CLI::App* extract = app.add_subcommand("extract", "Extract the matching entries under DEST");
  extract->add_option("--password", ex.password, "Password of encrypted entries");
  extract->add_option("--mask", ex.mask, "File mask (default *.*)");
  extract->add_option("--exclude", ex.exclude, "Exclusion mask");
  extract->add_flag("--no-recurse", ex.no_recurse, "Only entries in the mask's folder");
  extract->add_flag("--quiet", ex.quiet, "No progress line on a terminal (errors are still reported)");
  extract->add_flag("--verbose", ex.verbose, "Print each entry's name on stdout as it is extracted");
  extract->add_option("--overwrite", ex.overwrite, "always|never|ifnewer|ifolder")
      ->check(CLI::IsMember({"always", "never", "ifnewer", "ifolder"}));
  extract->add_option("ARCHIVE", ex.archive, "Archive file")->required();
  extract->add_option("DEST", ex.dest, "Destination folder")->required();

  std::string create_password, create_archive, create_source;
  bool store = false;
  CLI::App* create = app.add_subcommand("create", "Create an archive from the files under SRCDIR");
  create->add_option("--password", create_password, "Encrypt with this password");
  create->add_flag("--store", store, "Store without compression");
  create->add_option("ARCHIVE", create_archive, "Archive file to write")->required();
  create->add_option("SRCDIR", create_source, "Folder to pack")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "zqpkg: " << e.what() << "\n" << app.help();
    return kUsage;
  }

  try {
    if (*list) return List(list_archive, json);
    if (*extract) return Extract(ex);
    if (*create) return Create(create_password, store, create_archive, create_source);
  } catch (const UsageError& e) {
    std::cerr << "zqpkg: " << e.message << '\n';
    return kUsage;
  } catch (const zq::Exception& e) {
    PrintError(e.Message());
    return kFailed;
  }
  return kUsage;
}
