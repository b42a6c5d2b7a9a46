// Helpers of the installation tests: special folders pointing into a test folder, file reading
// and writing, and a reader of shortcut files that follows their own offsets.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <map>
#include <string>
#include <utility>

#include "platform/special_folders.h"

namespace zq::testing {

class FakeFolders : public ISpecialFolders {
 public:
  std::string Location(int csidl) override { return locations.count(csidl) ? locations[csidl] : std::string(); }
  std::map<int, std::string> locations;
};

inline QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void WriteFile(const QString& path, const QByteArray& data) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(data);
}

inline uint32_t U32(const QByteArray& b, int at) {
  auto u = [&](int i) { return static_cast<uint32_t>(static_cast<uint8_t>(b.at(at + i))); };
  return u(0) | u(1) << 8 | u(2) << 16 | u(3) << 24;
}

// Target and working directory of a shortcut file, read by following its own offsets.
inline std::pair<std::string, std::u16string> ReadShortcut(const QString& path) {
  QByteArray b = ReadAll(path);
  if (b.size() < 0x4C + 28 || U32(b, 0) != 0x4C) return {};
  int info = 0x4C;
  std::string target(b.constData() + info + U32(b, info + 16));
  int at = info + static_cast<int>(U32(b, info));
  int count = static_cast<uint8_t>(b.at(at)) | static_cast<uint8_t>(b.at(at + 1)) << 8;
  std::u16string dir;
  for (int i = 0; i < count; ++i)
    dir.push_back(static_cast<char16_t>(static_cast<uint8_t>(b.at(at + 2 + 2 * i)) |
                                        static_cast<uint8_t>(b.at(at + 3 + 2 * i)) << 8));
  return {target, dir};
}

inline std::u16string U16(const QString& s) { return s.toStdU16String(); }

}  // namespace zq::testing
