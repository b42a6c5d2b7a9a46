// Writes a small archive with the installed archive component, then lists it: the archive part of
// the consumer check. Usage: list_archive ARCHIVE-FILE
#include <cstdio>
#include <string>

#include "platform/stream.h"
#include "zip/zip_archiver.h"
#include "zip/zip_writer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: list_archive ARCHIVE-FILE\n");
    return 2;
  }
  try {
    {
      zq::TFileStream file = zq::TFileStream::Create(argv[1]);
      zq::TZipWriter writer(file);
      writer.SetPassword("secret");
      const uint32_t noon_1_june_2020 = (40u << 9 | 6u << 5 | 1u) << 16 | 12u << 11;
      writer.AddDirectory("docs/", noon_1_june_2020, 0x10);
      zq::TMemoryStream text;
      const std::string body = "installed and listed\n";
      text.Write(body.data(), static_cast<int64_t>(body.size()));
      writer.AddStream("docs/read me.txt", text, noon_1_june_2020, 0x20);
      writer.Finish("consumer check");
    }
    zq::TZipArchiver archive;
    archive.SetFileName(argv[1]);
    archive.Open();
    std::printf("%d entries, comment \"%s\"\n", archive.FileCount(), archive.Comment().c_str());
    for (int i = 0; i < archive.FileCount(); ++i) {
      const zq::TDirItem& item = archive.Item(i);
      std::printf("%s %llu%s\n", item.FileName.c_str(),
                  static_cast<unsigned long long>(item.EffectiveUncompressedSize()),
                  item.Encrypted() ? " encrypted" : "");
    }
    archive.Close();
  } catch (const zq::Exception& e) {
    std::fprintf(stderr, "list_archive: %s\n", e.Message().c_str());
    return 1;
  }
  return 0;
}
