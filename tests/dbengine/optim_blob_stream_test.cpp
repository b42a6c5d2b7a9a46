#include "dbengine/storage/optim_blob_stream.h"

#include <gtest/gtest.h>

#include "dbengine/format/db_error.h"
#include "dbengine/storage/memory_stream_registry.h"
#include "engine_test_support.h"

namespace zq {
namespace {

using namespace testing_support;

class OptimBlobStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TDbSchema s;
    s.Compression = "ZLIB";
    TDbSchemaTable t;
    t.Name = "B";
    t.Fields = {{"K", ftInteger}, {"Data", ftBlob}};
    t.Records.push_back({{{"K", Variant(1)}, {"Data", Variant(std::string(1000, 'q'))}}});
    s.Tables.push_back(t);
    TDbCreator::CreateInStream(stream_, s);
    name_ = TMemoryStreamRegistry::Register(&stream_);
    owner_.io().Open(name_, mtMemory, 0, false, false);
    // The record image follows the first slot block; the blob descriptor is at +4.
    descriptor_ = dbfmt::kFileHeaderSize + dbfmt::kTableHeaderSize + dbfmt::kSlotBlockSize + 4;
  }
  void TearDown() override {
    owner_.io().Close();
    TMemoryStreamRegistry::Unregister(&stream_);
  }
  TMemoryStream stream_;
  std::string name_;
  FakeOwner owner_{mtMemory};
  int64_t descriptor_ = 0;
};

TEST_F(OptimBlobStreamTest, LoadsLazilyOnFirstReadOrSeek) {
  TOptimBlobStream blob(&owner_);
  blob.WriteBuffer("old", 3);
  blob.SetSource(descriptor_, false, true);
  EXPECT_FALSE(blob.Loaded());
  EXPECT_EQ(blob.Bytes().size(), 3u);  // contents stay until the next read or seek
  EXPECT_EQ(blob.LoadCount(), 0);
  char c = 0;
  blob.ReadBuffer(&c, 1);
  EXPECT_EQ(c, 'q');
  EXPECT_EQ(blob.LoadCount(), 1);
  EXPECT_EQ(blob.Size(), 1000);
  blob.Seek(0, SeekOrigin::Begin);
  EXPECT_EQ(blob.LoadCount(), 1);  // loaded once
  blob.SetSource(descriptor_, false, true);
  blob.Seek(0, SeekOrigin::End);
  EXPECT_EQ(blob.LoadCount(), 2);
}

TEST_F(OptimBlobStreamTest, WritingMakesTheFileContentsIrrelevant) {
  TOptimBlobStream blob(&owner_);
  blob.SetSource(descriptor_, false, true);
  blob.SetSize(0);
  blob.WriteBuffer("new", 3);
  blob.SetPosition(0);
  EXPECT_EQ(blob.Size(), 3);
  EXPECT_EQ(blob.LoadCount(), 0);
  blob.SetSource(descriptor_, false, true);
  blob.Clear();
  EXPECT_EQ(blob.Size(), 0);
  EXPECT_EQ(blob.LoadCount(), 0);
  TOptimBlobStream nothing(&owner_);
  nothing.SetSource(0, false, false);  // position 0: nothing to load
  EXPECT_EQ(nothing.Size(), 0);
}

TEST_F(OptimBlobStreamTest, ErrorsReachTheReader) {
  TOptimBlobStream closed(nullptr);
  closed.SetSource(descriptor_, false, false);
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { closed.Size(); }), "Cannot perform this operation on a closed database");
  // A descriptor pointing outside the file.
  uint8_t bad[4];
  dbfmt::PutI32(bad, 0x7FFFFF00);
  stream_.SetPosition(descriptor_);
  stream_.WriteBuffer(bad, 4);
  TOptimBlobStream blob(&owner_);
  blob.SetSource(descriptor_, false, true);
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { blob.Size(); }),
            "Database file '" + name_ + "' is damaged: blob descriptor at offset " + std::to_string(descriptor_));
}

}  // namespace
}  // namespace zq
