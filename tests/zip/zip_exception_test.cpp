#include "zip/zip_exception.h"

#include <gtest/gtest.h>

#include "zip/zip_archiver.h"

namespace zq {
namespace {

TEST(ZipExceptionTest, MessageTableTexts) {
  EXPECT_EQ(ZipMessageText(0), "Unknown error");
  EXPECT_EQ(ZipMessageText(4), "Invalid size or check sum of file or unsupported compression format");
  EXPECT_EQ(ZipMessageText(6), "File \"%s\" not found");
  EXPECT_EQ(ZipMessageText(17), "Invalid compressed size, rfs.size = %d, count = %d");
  EXPECT_EQ(ZipMessageText(18), "Invalid archive file.");
  EXPECT_EQ(ZipMessageText(20), "Archive is open. You should close it beore performing this operation.");
  EXPECT_EQ(ZipMessageText(28),
            "MakeSFX is not allowed for splitted or spanned archives. Set SFXStub before archive "
            "creation instead of MakeSFX");
  EXPECT_EQ(ZipMessageText(33), "MakeSFX error");
  EXPECT_EQ(ZipMessageText(34), "Unknown error");  // outside the table
  EXPECT_EQ(ZipMessageText(-1), "Unknown error");
}

TEST(ZipExceptionTest, NativeCodeMap) {
  const std::pair<int, int> expected[] = {
      {0, 0},   {1, 1},   {4, 1},   {5, 2},   {6, 3},   {7, 1},   {8, 4},   {9, 5},   {10, 5},
      {11, 6},  {12, 6},  {13, 7},  {14, 7},  {15, 6},  {16, 1},  {17, 8},  {18, 6},  {19, 9},
      {20, 10}, {21, 1},  {22, 11}, {23, 9},  {24, 1},  {25, 11}, {26, 13}, {27, 14}, {28, 15},
      {29, 5},  {30, 6},  {31, 6},  {32, 16}, {33, 12}, {34, 17}, {35, 18}, {36, 19}, {37, 20},
      {38, 6},  {39, 21}, {40, 22}, {41, 23}, {42, 6},  {43, 23}, {44, 24}, {45, 24}, {46, 25},
      {47, 26}, {48, 27}, {49, 28}, {50, 29}, {51, 30}, {52, 31}, {53, 6},  {54, 6},  {55, 32},
      {56, 33}};
  for (const auto& [native, index] : expected) EXPECT_EQ(ZipErrorCodeOfNative(native), index) << native;
  EXPECT_EQ(ZipErrorCodeOfNative(57), 0);
  EXPECT_EQ(ZipErrorCodeOfNative(-3), 0);
  EXPECT_EQ(ZipErrorCodeOfNative(100000), 0);
}

TEST(ZipExceptionTest, Composition) {
  EXPECT_EQ(ComposeZipMessage(12, {"C:\\x.zip"}, "Archiver"),
            "Archiver: File \"C:\\x.zip\" not found - Native error: 00012");
  EXPECT_EQ(ComposeZipMessage(35, {}, ""), "Invalid archive file. - Native error: 00035");
  EXPECT_EQ(ComposeZipMessage(8, {}, "Archiver"),
            "Archiver: Invalid size or check sum of file or unsupported compression format - Native error: 00008");
  EXPECT_EQ(ComposeZipMessage(34, {"10", "3"}, ""),
            "Invalid compressed size, rfs.size = 10, count = 3 - Native error: 00034");
  EXPECT_EQ(ComposeZipMessage(123456, {}, ""), "Unknown error - Native error: 123456");
  EXPECT_EQ(ComposeZipMessage(-5, {}, ""), "Unknown error - Native error: 000-5");
  EZipException e = MakeZipException(19, {"/x/y"}, "A");
  EXPECT_EQ(e.Message(), "A: Cannot create file \"/x/y\" - Native error: 00019");
  EXPECT_EQ(e.NativeError(), 19);
  EXPECT_EQ(e.ErrorCode(), 9);
}

TEST(ZipExceptionTest, ComponentRaisesWithItsName) {
  TZipArchiver archiver;
  archiver.SetName("Archiver");
  archiver.SetFileName("/tmp/");
  try {
    archiver.Open();
    FAIL() << "no exception";
  } catch (const EZipException& e) {
    EXPECT_EQ(e.Message(), "Archiver: File name is blank. Specify appropriate file name - Native error: 00009");
    EXPECT_EQ(e.NativeError(), 9);
    EXPECT_EQ(e.ErrorCode(), 5);
  }
  try {
    archiver.ExtractMatching();
    FAIL() << "no exception";
  } catch (const EZipException& e) {
    EXPECT_EQ(e.Message(), "Archiver: Archive is not open - Native error: 00013");
  }
  EXPECT_THROW(archiver.FileCount(), EZipException);
  try {
    archiver.SetCompressionMode(10);
    FAIL() << "no exception";
  } catch (const EZipException& e) {
    EXPECT_EQ(e.Message(),
              "Archiver: Invalid compression mode. Mode must be in [0-9] range - Native error: 00005");
  }
}

TEST(ZipExceptionTest, DefaultsOfTheComponent) {
  TZipBaseArchiver base;
  TZipArchiver archiver;
  EXPECT_EQ(base.Zip64Mode(), zmAuto);
  EXPECT_EQ(archiver.Zip64Mode(), zmDisabled);
  EXPECT_EQ(archiver.CompressionLevel(), clFastest);
  EXPECT_EQ(archiver.CompressionMode(), 1);
  EXPECT_EQ(archiver.SpanningMode(), smNone);
  EXPECT_TRUE(archiver.SpanningOptions().AdvancedNaming);
  EXPECT_EQ(archiver.SpanningOptions().VolumeSize, vsAutoDetect);
  const TZipOptions& o = archiver.Options();
  EXPECT_EQ(o.StorePath, spRelativePath);
  EXPECT_TRUE(o.Recurse);
  EXPECT_EQ(o.ShareMode, smShareDenyNone);
  EXPECT_EQ(o.OverwriteMode, omAlways);
  EXPECT_TRUE(o.CreateDirs && o.ReplaceReadOnly && o.SetAttributes && o.FlushBuffers && o.OEMFileNames);
  EXPECT_EQ(o.SearchAttr, 10431);
  EXPECT_TRUE(archiver.RepairDamagedArchives());
  EXPECT_FALSE(archiver.SuppressPasswordPrompt());
  EXPECT_FALSE(archiver.InMemory());
  EXPECT_FALSE(archiver.ExtractCorruptedFiles());
  EXPECT_EQ(archiver.CurrentVersion(), "1.00 ");
  EXPECT_TRUE(archiver.FileName().empty() && archiver.Password().empty() && archiver.BaseDir().empty());
}

}  // namespace
}  // namespace zq
