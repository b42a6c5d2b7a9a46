#include "dbengine/storage/db_file_io.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <random>
#include <tuple>

#include "dbengine/format/db_error.h"
#include "dbengine/storage/db_file_stream.h"
#include "dbengine/storage/memory_stream_registry.h"
#include "engine_test_support.h"
#include "tests/support/run_program.h"

namespace zq {
namespace {

using namespace testing_support;

TDbSchema SmallSchema() {
  TDbSchema s;
  TDbSchemaTable t;
  t.Name = "Config";
  t.Fields = {{"Id", ftAutoInc}, {"Name", ftString, 20}, {"Memo", ftMemo}};
  t.Indexes = {{"PK", {"Id"}, tiPrimary}, {"ByName", {"Name"}, tiCaseInsensitive}};
  for (int i = 0; i < 5; ++i)
    t.Records.push_back({{{"Id", Variant(0)}, {"Name", Variant("name" + std::to_string(4 - i))},
                          {"Memo", Variant(std::string(i * 30, char('a' + i)))}}});
  s.Tables.push_back(t);
  TDbSchemaTable empty;
  empty.Name = "Settings";
  empty.Fields = {{"Key", ftInteger}};
  s.Tables.push_back(empty);
  return s;
}

class DbFileIOTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("db.zqc");
    TDbCreator::CreateFile(path_, SmallSchema());
  }
  void SetVersion(const std::string& version) {
    auto bytes = ReadAll(path_);
    std::fill(bytes.begin() + 7, bytes.begin() + 12, 0);
    std::copy(version.begin(), version.end(), bytes.begin() + 7);
    WriteAll(path_, bytes);
  }
  TempDir dir_;
  std::string path_;
};

TEST_F(DbFileIOTest, OpensAndReadsDirectoryAndTableNames) {
  FakeOwner owner;
  owner.io().Open(path_, mtDisk, 0, false, false);
  EXPECT_TRUE(owner.io().IsOpen());
  EXPECT_TRUE(owner.io().IsFlushed());
  EXPECT_EQ(owner.io().Directory().TableCount(), 2);
  std::vector<std::string> names{"stale"};
  owner.io().GetTableNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"Config", "Settings"}));
  owner.io().Close();
  EXPECT_FALSE(owner.io().IsOpen());
}

TEST_F(DbFileIOTest, MissingFileAndBadMagic) {
  FakeOwner owner;
  std::string missing = dir_.File("none.zqc");
  EXPECT_EQ(ErrorOf([&] { owner.io().Open(missing, mtDisk, 0, false, false); }), "Cannot open file " + missing);
  auto bytes = ReadAll(path_);
  bytes[6] = 'X';  // magic followed by a non-NUL byte
  WriteAll(path_, bytes);
  EXPECT_EQ(ErrorOf([&] { owner.io().Open(path_, mtDisk, 0, false, false); }),
            "Database file '" + path_ + "' is a invalid database file");
  EXPECT_FALSE(owner.io().IsOpen());
  WriteAll(path_, {0x54, 0x69});
  EXPECT_EQ(ErrorOf([&] { owner.io().Open(path_, mtDisk, 0, false, false); }),
            "Database file '" + path_ + "' is a invalid database file");
}

TEST_F(DbFileIOTest, VersionChecks) {
  FakeOwner owner;
  SetVersion("1.00");
  EXPECT_EQ(ErrorOf([&] { owner.io().Open(path_, mtDisk, 0, false, false); }), "Version 1.00 is not compatible");
  SetVersion("2.1");
  EXPECT_EQ(ErrorOf([&] { owner.io().Open(path_, mtDisk, 0, false, false); }), "Version of database file is too High");
  SetVersion("3.0");
  EXPECT_EQ(ErrorOf([&] { owner.io().Open(path_, mtDisk, 0, false, false); }), "Version of database file is too High");
  SetVersion("1.5");
  EXPECT_EQ(ErrorOf([&] { owner.io().Open(path_, mtDisk, 0, false, false); }), "<no error>");
  owner.io().Close();
  SetVersion("2.0");
  EXPECT_EQ(ErrorOf([&] { owner.io().Open(path_, mtDisk, 0, false, false); }), "<no error>");
}

TEST_F(DbFileIOTest, ReadOnlyFileOpensForReadingOnly) {
  SetFileReadOnly(path_, true);
  FakeOwner owner;
  owner.io().Open(path_, mtDisk, 0, false, false);
  EXPECT_TRUE(owner.io().FileIsReadOnly());
  uint8_t byte = 0;
  owner.io().ReadAt(&byte, 0, 1);
  EXPECT_EQ(byte, 0x54);
  EXPECT_EQ(ErrorOf([&] { owner.io().WriteAt(&byte, 100, 1); }), "Stream write error");
  owner.io().Close();
  SetFileReadOnly(path_, false);
}

TEST_F(DbFileIOTest, ExclusiveOpenConflictsAcrossProcessesBothWays) {
  const std::string sharing = "The process cannot access the file because it is being used by another process";
  auto child_open = [&](bool exclusive) {
    return testing_support::InChildWithin([&] {
      FakeOwner other;
      try {
        other.io().Open(path_, mtDisk, 0, false, exclusive);
      } catch (const EStreamError& e) {
        return e.Message().find(sharing) != std::string::npos ? 1 : 2;
      }
      return 0;
    });
  };
  {
    FakeOwner owner;
    owner.io().Open(path_, mtDisk, 0, false, true);
    EXPECT_EQ(child_open(false), 1);
    EXPECT_EQ(child_open(true), 1);
  }
  {
    FakeOwner owner;
    owner.io().Open(path_, mtDisk, 0, false, false);
    EXPECT_EQ(child_open(true), 1);
    EXPECT_EQ(child_open(false), 0);
  }
  EXPECT_EQ(child_open(true), 0);  // nothing else open any more
}

TEST_F(DbFileIOTest, ExclusiveOpenConflictsWithinOneProcess) {
  FakeOwner first, second;
  first.io().Open(path_, mtDisk, 0, false, false);
  EXPECT_THROW(second.io().Open(path_, mtDisk, 0, false, true), EStreamError);
  EXPECT_FALSE(second.io().IsOpen());
  first.io().Close();
  second.io().Open(path_, mtDisk, 0, false, true);
  EXPECT_THROW(first.io().Open(path_, mtDisk, 0, false, false), EStreamError);
}

TEST_F(DbFileIOTest, LockRetriesThenTimesOutWithoutFinalSleep) {
  FakeOwner holder, waiter;
  holder.io().Open(path_, mtDisk, 0, false, false);
  waiter.io().Open(path_, mtDisk, 0, false, false);
  holder.io().Lock();
  CountingClock clock;
  waiter.io().SetClock(&clock);
  waiter.retry_count = 2;
  waiter.wait_time = 250;
  EXPECT_EQ(ErrorOf([&] { waiter.io().Lock(); }), "Wait for unlock time out");
  EXPECT_EQ(clock.sleeps, 2);
  EXPECT_EQ(clock.total_ms, 500u);
  holder.io().Unlock();
  waiter.io().Lock();  // free now: no sleep
  EXPECT_EQ(clock.sleeps, 2);
  // Nested locking only counts; the lock is held until the outer Unlock.
  waiter.io().Lock();
  waiter.io().Unlock();
  CountingClock clock2;
  holder.io().SetClock(&clock2);
  holder.retry_count = 1;
  EXPECT_EQ(ErrorOf([&] { holder.io().Lock(); }), "Wait for unlock time out");
  EXPECT_EQ(clock2.sleeps, 1);
  waiter.io().Unlock();
  holder.io().Lock();
  holder.io().Unlock();
}

TEST_F(DbFileIOTest, LockIsHeldAgainstOtherProcesses) {
  FakeOwner owner;
  owner.io().Open(path_, mtDisk, 0, false, false);
  owner.io().Lock();
  auto child_lock = [&] {
    return testing_support::InChildWithin([&] {
      FakeOwner other;
      other.retry_count = 1;
      other.io().Open(path_, mtDisk, 0, false, false);
      CountingClock clock;
      other.io().SetClock(&clock);
      try {
        other.io().Lock();
      } catch (const EDatabaseError&) {
        return 1;
      }
      return 0;
    });
  };
  EXPECT_EQ(child_lock(), 1);
  owner.io().Unlock();
  EXPECT_EQ(child_lock(), 0);
}

TEST_F(DbFileIOTest, CheckPasswordOnUnencryptedFile) {
  FakeOwner owner;
  EXPECT_FALSE(owner.io().CheckPassword("x"));  // closed
  owner.io().Open(path_, mtDisk, 0, false, false);
  EXPECT_TRUE(owner.io().CheckPassword(""));
  EXPECT_TRUE(owner.io().CheckPassword("anything"));
}

TEST_F(DbFileIOTest, FlushedFlagFollowsWritesAndFlush) {
  FakeOwner owner;
  owner.io().Open(path_, mtDisk, 0, false, false);
  uint8_t b = 0;
  owner.io().ReadAt(&b, 12, 1);
  owner.io().WriteAt(&b, 12, 1);
  EXPECT_FALSE(owner.io().IsFlushed());
  owner.io().Flush();
  EXPECT_TRUE(owner.io().IsFlushed());
}

TEST_F(DbFileIOTest, FileStreamStartOffsetIsTheStartOfTheDatabase) {
  TDbFileStream stream(path_, FileAccess::Read, FileShare::DenyNone, 7);
  int64_t file_size = static_cast<int64_t>(ReadAll(path_).size());
  EXPECT_EQ(stream.Position(), 0);
  EXPECT_EQ(stream.Size(), file_size - 7);
  uint8_t byte = 0;
  stream.ReadBuffer(&byte, 1);
  EXPECT_EQ(byte, '2');  // the version text starts at byte 7
  EXPECT_EQ(stream.Position(), 1);
  stream.Seek(1, SeekOrigin::Current);
  EXPECT_EQ(stream.Position(), 2);
  stream.ReadBuffer(&byte, 1);
  EXPECT_EQ(byte, '0');  // "2.0": byte 10 of the file
  stream.SetStartOffset(-3);
  EXPECT_EQ(stream.StartOffset(), 0);
  EXPECT_EQ(stream.Position(), 0);
  EXPECT_TRUE(stream.Flushed());
}

TEST(DbFileIOMemory, NamesAndStreamLifetime) {
  EXPECT_TRUE(TMemoryStreamRegistry::IsValidName(":1A2b"));
  EXPECT_FALSE(TMemoryStreamRegistry::IsValidName(":1A2G"));
  EXPECT_FALSE(TMemoryStreamRegistry::IsValidName("1A2b"));
  EXPECT_FALSE(TMemoryStreamRegistry::IsValidName(":"));
  FakeOwner owner(mtMemory);
  for (std::string bad : {":1A2G", "1A2b", ":", ":1A 2"})
    EXPECT_EQ(ErrorOf([&] { owner.io().Open(bad, mtMemory, 0, false, false); }), "Invalid database name '" + bad + "'");

  auto stream = std::make_unique<TMemoryStream>();
  TDbCreator::CreateInStream(*stream, SmallSchema());
  int64_t size = stream->Size();
  std::string name = TMemoryStreamRegistry::Register(stream.get());
  EXPECT_EQ(name[0], ':');
  EXPECT_EQ(TMemoryStreamRegistry::Find(name), stream.get());
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(TMemoryStreamRegistry::Find(lower), stream.get());
  EXPECT_EQ(TMemoryStreamRegistry::Find(":0" + name.substr(1)), stream.get());
  owner.io().Open(name, mtMemory, 0, false, false);
  EXPECT_TRUE(owner.io().IsOpen());
  owner.io().Lock();  // no file lock on the memory medium
  owner.io().Unlock();
  owner.io().Close();
  EXPECT_EQ(stream->Size(), size);  // the caller's stream lives on
  uint8_t magic[6];
  stream->SetPosition(0);
  stream->ReadBuffer(magic, 6);
  EXPECT_EQ(magic[0], 0x54);
  TMemoryStreamRegistry::Unregister(stream.get());
  EXPECT_EQ(TMemoryStreamRegistry::Find(name), nullptr);
  EXPECT_EQ(ErrorOf([&] { owner.io().Open(name, mtMemory, 0, false, false); }), "Invalid database name '" + name + "'");
}

// What a reader gets from a file: every stored field of every live record by (table, record,
// field), and the message of each error met on the way.
struct ReadOut {
  std::map<std::tuple<std::string, int32_t, int>, std::string> values;
  std::vector<std::string> errors;
};

// Opens, loads every table and reads every field of every record. With keep_going the errors are
// collected and the reading goes on with the next table or field; without, the first one throws.
ReadOut ExerciseEverything(const std::string& name, bool keep_going = true) {
  ReadOut out;
  auto attempt = [&](const std::function<void()>& step) {
    try {
      step();
      return true;
    } catch (const EDatabaseError& e) {
      if (!keep_going) throw;
      out.errors.push_back(e.Message());
    } catch (const EStreamError& e) {
      if (!keep_going) throw;
      out.errors.push_back(e.Message());
    }
    return false;
  };
  FakeOwner owner(mtMemory);
  std::vector<std::string> names;
  if (!attempt([&] {
        owner.io().Open(name, mtMemory, 0, false, false);
        owner.io().GetTableNames(names);
      }))
    return out;
  for (const auto& table : names) {
    TDbTableIO t(&owner);
    t.SetTableName(table);
    if (!attempt([&] { t.Open(); })) continue;
    for (const auto& ref : t.RowList(0))
      for (int f = 0; f < t.FieldDefs().Count(); ++f)
        attempt([&] {
          TMemoryStream field;
          t.ReadStoredField(field, ref.RecordId, f);
          out.values[{table, ref.RecordId, f}] =
              std::string(reinterpret_cast<const char*>(field.Memory()), static_cast<size_t>(field.Size()));
        });
    t.Close();
  }
  return out;
}

TEST(DbFileIOCorruption, MutatedAndTruncatedFilesFailCleanly) {
  std::vector<uint8_t> good = TDbCreator::Build(SmallSchema());
  ASSERT_GT(good.size(), 3821u + 2 * 4821u);
  TMemoryStream good_stream;
  good_stream.WriteBuffer(good.data(), static_cast<int64_t>(good.size()));
  const std::string good_name = TMemoryStreamRegistry::Register(&good_stream);
  const ReadOut good_read = ExerciseEverything(good_name);
  TMemoryStreamRegistry::Unregister(&good_stream);
  ASSERT_EQ(good_read.errors, std::vector<std::string>{});
  ASSERT_EQ(good_read.values.size(), 15u);  // five records of three fields

  std::mt19937 rng(12345);
  // Interesting places: the directory, the table header counts and offsets, slots, links.
  std::vector<size_t> hot = {2789, 2790, 2797, 2801, 3821 + 33, 3821 + 37, 3821 + 45, 3821 + 4177,
                             3821 + 4181 + 66, 3821 + 4181 + 70, 3821 + 4181 + 34};
  int damaged = 0, intact = 0;
  for (int round = 0; round < 400; ++round) {
    std::vector<uint8_t> bytes = good;
    const bool truncated = round % 10 == 9;
    int edits = 0;
    if (truncated) {
      bytes.resize(std::uniform_int_distribution<size_t>(0, good.size() - 1)(rng));
    } else {
      edits = 1 + round % 4;
      for (int e = 0; e < edits; ++e) {
        size_t at = (round % 2 == 0) ? hot[std::uniform_int_distribution<size_t>(0, hot.size() - 1)(rng)] +
                                           std::uniform_int_distribution<size_t>(0, 3)(rng)
                                     : std::uniform_int_distribution<size_t>(0, bytes.size() - 1)(rng);
        if (at >= bytes.size()) continue;
        static const uint8_t kValues[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0x10};
        bytes[at] = (e % 2) ? kValues[rng() % 6] : static_cast<uint8_t>(rng());
      }
    }
    SCOPED_TRACE("round " + std::to_string(round));
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    std::string name = TMemoryStreamRegistry::Register(&stream);
    const ReadOut read = ExerciseEverything(name);
    TMemoryStreamRegistry::Unregister(&stream);
    // Every failure is the engine's damage report, or its general error for a field type that
    // has no size (the damaged byte named a type that does not exist).
    for (const auto& error : read.errors)
      EXPECT_TRUE(error.rfind("Database file '" + name + "' is damaged: ", 0) == 0 || error == "General error") << error;
    // A truncated file never reads a value the good file does not hold; each overwritten byte
    // changes at most one record's three fields.
    int differing = 0;
    for (const auto& [key, value] : read.values) {
      auto it = good_read.values.find(key);
      if (it == good_read.values.end() || it->second != value) ++differing;
    }
    if (truncated) {
      EXPECT_EQ(differing, 0);
    }
    EXPECT_LE(differing, 3 * edits);
    (read.errors.empty() ? intact : damaged)++;
  }
  EXPECT_GT(damaged, 0);
  EXPECT_GT(intact, 0);
}

TEST(DbFileIOCorruption, DamagedCountsNameWhatIsDamaged) {
  std::vector<uint8_t> good = TDbCreator::Build(SmallSchema());
  auto open_with = [&](size_t at, int32_t value) {
    std::vector<uint8_t> bytes = good;
    dbfmt::PutI32(&bytes[at], value);
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    std::string name = TMemoryStreamRegistry::Register(&stream);
    std::string message = ErrorOf([&] { ExerciseEverything(name, false); });
    TMemoryStreamRegistry::Unregister(&stream);
    return std::make_pair(name, message);
  };
  auto [n1, m1] = open_with(2789, 257);
  EXPECT_EQ(m1, "Database file '" + n1 + "' is damaged: table count 257");
  auto [n2, m2] = open_with(2797, 100000000);
  EXPECT_EQ(m2, "Database file '" + n2 + "' is damaged: table header offset 100000000");
  auto [n3, m3] = open_with(3821 + 45, 97);
  EXPECT_EQ(m3, "Database file '" + n3 + "' is damaged: table 'Config' field count 97");
  auto [n4, m4] = open_with(3821 + 4177, 9);
  EXPECT_EQ(m4, "Database file '" + n4 + "' is damaged: table 'Config' index count 9");
  auto [n5, m5] = open_with(3821 + 37, 5000000);
  EXPECT_EQ(m5, "Database file '" + n5 + "' is damaged: record slot count 5000000");
  auto [n6, m6] = open_with(3821 + 49 + 43 + 34, 100000000);  // size of the string field
  EXPECT_EQ(m6, "Database file '" + n6 + "' is damaged: table 'Config' record size");
  // A link chain that points back at itself.
  int32_t links = dbfmt::GetI32(&good[3821 + 4181 + 66]);
  int32_t head = dbfmt::GetI32(&good[3821 + 4181 + 70]);
  // A link chain that points back at itself: what a write torn in a link leaves. The load
  // rebuilds the chain from the records' keys, in the file as well.
  const size_t looping = static_cast<size_t>(links) + 4 + static_cast<size_t>(head) * 8 + 4;
  auto [n7, m7] = open_with(looping, head);
  EXPECT_EQ(m7, "<no error>") << n7;
  {
    std::vector<uint8_t> bytes = good;
    dbfmt::PutI32(&bytes[looping], head);
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    const std::string name = TMemoryStreamRegistry::Register(&stream);
    std::vector<int32_t> order, sound;
    {
      FakeOwner owner(mtMemory);
      owner.io().Open(name, mtMemory, 0, false, false);
      TDbTableIO t(&owner);
      t.SetTableName("Config");
      t.Open();
      for (const auto& ref : t.RowList(1)) order.push_back(ref.RecordId);
    }
    EXPECT_EQ(dbfmt::GetI32(stream.Memory() + looping), dbfmt::GetI32(&good[looping]));
    TMemoryStreamRegistry::Unregister(&stream);
    TMemoryStream sound_stream;
    sound_stream.WriteBuffer(good.data(), static_cast<int64_t>(good.size()));
    const std::string sound_name = TMemoryStreamRegistry::Register(&sound_stream);
    {
      FakeOwner owner(mtMemory);
      owner.io().Open(sound_name, mtMemory, 0, false, false);
      TDbTableIO t(&owner);
      t.SetTableName("Config");
      t.Open();
      for (const auto& ref : t.RowList(1)) sound.push_back(ref.RecordId);
    }
    TMemoryStreamRegistry::Unregister(&sound_stream);
    EXPECT_EQ(order, sound);
    EXPECT_GT(order.size(), 1u);
  }
  // A record image outside the file.
  int32_t slots = dbfmt::GetI32(&good[3821 + 33]);
  auto [n8, m8] = open_with(static_cast<size_t>(slots) + 4, 0x7FFFFFF0);
  EXPECT_EQ(m8, "Database file '" + n8 + "' is damaged: table 'Config' record 0 offset 2147483632");
}

}  // namespace
}  // namespace zq
