// The shell-link object: a shortcut to a target file with a working directory, saved as a
// Windows shortcut (.lnk) file in the published Shell Link binary format:
//
//   ShellLinkHeader (76 bytes, little-endian)
//     0  HeaderSize     4  0x0000004C
//     4  LinkCLSID     16  00021401-0000-0000-C000-000000000046
//    20  LinkFlags      4  HasLinkInfo 0x02 | HasWorkingDir 0x10 | IsUnicode 0x80
//    24  FileAttributes 4  the target's (0x10 folder, 0x20 file, |0x01 read-only), 0 if absent
//    28  Creation/Access/WriteTime 3 x 8  the target's FILETIMEs (100 ns since 1601), 0 if absent
//    52  FileSize       4  low 32 bits of the target's size
//    56  IconIndex 4 = 0, ShowCommand 4 = 1 (normal), HotKey 2 = 0, Reserved 2+4+4 = 0
//   LinkInfo
//     LinkInfoSize 4, LinkInfoHeaderSize 4 = 0x1C, LinkInfoFlags 4 = VolumeIDAndLocalBasePath 1,
//     VolumeIDOffset 4 = 0x1C, LocalBasePathOffset 4, CommonNetworkRelativeLinkOffset 4 = 0,
//     CommonPathSuffixOffset 4,
//     VolumeID: VolumeIDSize 4 = 17, DriveType 4 = 3 (fixed), DriveSerialNumber 4 = 0,
//               VolumeLabelOffset 4 = 0x10, empty label "\0",
//     LocalBasePath: the target, code page 1252, NUL-terminated,
//     CommonPathSuffix: "\0"
//   StringData WORKING_DIR: CountCharacters 2, then that many UTF-16LE units (no NUL)
//   TerminalBlock: 4 zero bytes
//
// Texts given to the object are code page 1252 (as the shell's ANSI interface takes them).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zq {

class IShellLink {
 public:
  virtual ~IShellLink() = default;
  virtual void SetPath(const std::string& path) = 0;
  virtual void SetWorkingDirectory(const std::string& dir) = 0;
  // Writes the shortcut to file_name (a host path, UTF-8), replacing an existing file. False when
  // the file cannot be written.
  virtual bool Save(const std::string& file_name) = 0;
};

class TShellLink : public IShellLink {
 public:
  void SetPath(const std::string& path) override { path_ = path; }
  void SetWorkingDirectory(const std::string& dir) override { working_dir_ = dir; }
  bool Save(const std::string& file_name) override;

  const std::string& Path() const { return path_; }
  const std::string& WorkingDirectory() const { return working_dir_; }

  // The bytes of the shortcut file. The target's attributes, times and size are read from the
  // file system now (the 1252 target converted to the host's UTF-8; zero when it does not exist).
  // EStreamError "Shortcut path too long" when a text does not fit the format's 16-bit lengths.
  std::vector<uint8_t> Serialize() const;

 private:
  std::string path_;
  std::string working_dir_;
};

}  // namespace zq
