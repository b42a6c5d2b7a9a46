// Directory reading of arbitrary bytes: end-record search, Zip64 records, prefix detection, the
// rebuild from local headers and the mask search. Any outcome but a project exception is a fault.
#include "fuzz/zip_fuzz_util.h"
#include "zip/zip_archiver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = zq::fuzz::WriteArchive(data, size);
  zq::TZipArchiver archiver;
  archiver.SetFileName(path);
  try {
    archiver.Open();
    int count = archiver.FileCount();
    uint64_t total = 0;
    for (int i = 0; i < count; ++i) {
      const zq::TDirItem& item = archiver.Item(i);
      total += item.EffectiveUncompressedSize() + item.FileName.size() + item.ExtraFields.size();
    }
    for (const char* mask : {"*.*", "*.", "a?*", "sub/*.txt"}) {
      zq::TZipArchiveItem found;
      int seen = 0;
      for (bool more = archiver.FindFirst(mask, found, 0x28BF, "*.exe"); more; more = archiver.FindNext(found))
        if (++seen > count) __builtin_trap();  // the search must end
    }
    (void)total;
    archiver.Close();
  } catch (const zq::Exception&) {
  }
  return 0;
}
