// Extraction of arbitrary bytes into a scratch folder, with the non-interactive handlers the tools
// use. Besides crashes, a file written anywhere but under the destination is a fault.
#include <filesystem>

#include "fuzz/zip_fuzz_util.h"
#include "zip/zip_archiver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace fs = std::filesystem;
  const std::string root = zq::fuzz::ScratchDir();
  const std::string dest = root + "/out/base";
  std::string path = zq::fuzz::WriteArchive(data, size);
  zq::TZipArchiver archiver;
  archiver.SetFileName(path);
  archiver.SetBaseDir(dest);
  archiver.SetPassword("pw");
  archiver.OnPassword = [](zq::TZipBaseArchiver*, const std::string&, std::string&, bool& skip) { skip = true; };
  archiver.OnProcessFileFailure = [](zq::TZipBaseArchiver*, const std::string&, zq::TZipProcessOperation, int, int,
                                     const std::string&, zq::TZipAction& action) { action = zq::fxaIgnore; };
  try {
    archiver.Open();
    archiver.ExtractMatching("*.*", 0x28BF, "");
    archiver.Close();
  } catch (const zq::Exception&) {
  }
  // Only input.zip and out/ may exist at the root, and only base/ inside out/.
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(root, ec)) {
    std::string name = e.path().filename().string();
    if (name != "input.zip" && name != "out") __builtin_trap();
  }
  for (const auto& e : fs::directory_iterator(root + "/out", ec))
    if (e.path().filename() != "base") __builtin_trap();
  for (const auto& e : fs::recursive_directory_iterator(root + "/out", ec))
    fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(root + "/out", ec);
  return 0;
}
