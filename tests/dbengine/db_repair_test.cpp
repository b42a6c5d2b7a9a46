// The repair of damaged structures: each kind of damage is made by hand in a file the creator
// built, repaired, and then the check must be clean, the repair must say exactly what it changed,
// every record it did not have to give up must keep its values, and a second repair finds nothing.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "db_memory_file.h"
#include "dbengine/storage/db_repair.h"

namespace zq {
namespace {

using namespace testing_support;
using dbfmt::GetI32;
using dbfmt::PutI32;

constexpr int32_t kHeader = dbfmt::kFileHeaderSize;  // the one table's header follows the file header

TDbSchema Schema(bool encrypted) {
  TDbSchema schema;
  schema.Compression = "ZLIB";
  if (encrypted) {
    schema.EncryptAlgorithm = "Twofish";
    schema.EncryptMode = 1;
    schema.Password = "pw";
  }
  TDbSchemaTable t;
  t.Name = "Items";
  t.Fields = {{"Id", ftAutoInc}, {"Name", ftString, 12}, {"Group", ftInteger}, {"Memo", ftMemo}};
  t.Indexes = {{"PK", {"Id"}, tiPrimary}, {"ByName", {"Name"}, tiCaseInsensitive}, {"ByGroup", {"Group"}, tiDescending}};
  const char* names[] = {"delta", "alpha", "echo", "bravo", "charlie"};
  for (int i = 0; i < 5; ++i)
    t.Records.push_back({{{"Id", Variant(i + 1)},
                          {"Name", Variant(std::string(names[i]))},
                          {"Group", Variant(i % 2)},
                          {"Memo", Variant(std::string(static_cast<size_t>(40 * i), static_cast<char>('a' + i)))}}});
  schema.Tables.push_back(t);
  return schema;
}

struct Layout {
  int32_t slot_block, record_size, memo_offset;
  int32_t link_block[3];
  int32_t Slot(int r) const { return slot_block + 4 + 5 * r; }
  int32_t Link(int index, int r) const { return link_block[index] + 4 + 8 * r; }
  static int32_t IndexEntry(int index) { return kHeader + TTableDefBlock::IndexEntryOffset(index); }
};

Layout LayoutOf(const std::vector<uint8_t>& b) {
  Layout l{};
  l.slot_block = I32At(b, kHeader + dbfmt::kHdrFirstSlotBlock);
  l.record_size = 4 + 13 + 4 + 20;
  l.memo_offset = 4 + 13 + 4;
  for (int i = 0; i < 3; ++i) l.link_block[i] = I32At(b, static_cast<size_t>(Layout::IndexEntry(i) + dbfmt::kIdxFirstLinkBlock));
  return l;
}

void Put(std::vector<uint8_t>& b, int64_t at, int32_t v) { PutI32(&b[static_cast<size_t>(at)], v); }

// Live records by record ID: (name, memo).
std::map<int32_t, std::pair<std::string, std::string>> Records(const std::vector<uint8_t>& bytes, const std::string& pw) {
  MemoryFile file(bytes, pw, true);
  TDbTableIO& t = file.Table("Items");
  std::map<int32_t, std::pair<std::string, std::string>> out;
  TMemoryStream s;
  for (const auto& ref : t.RowList(0)) {
    t.ReadStoredField(s, ref.RecordId, 1);
    std::string name(reinterpret_cast<const char*>(s.Memory()));
    t.ReadStoredField(s, ref.RecordId, 3);
    out[ref.RecordId] = {name, std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size()))};
  }
  return out;
}

std::vector<int32_t> Order(const std::vector<uint8_t>& bytes, const std::string& pw, int index) {
  MemoryFile file(bytes, pw, true);
  std::vector<int32_t> ids;
  for (const auto& ref : file.Table("Items").RowList(index + 1)) ids.push_back(ref.RecordId);
  return ids;
}

std::vector<std::string> Repair(std::vector<uint8_t>& bytes, const std::string& pw) {
  MemoryFile file(bytes, pw);
  std::vector<std::string> changes = TDbRepair(file.io()).Run();
  bytes = file.Bytes();
  return changes;
}

struct Damage {
  const char* what;
  std::function<void(std::vector<uint8_t>&, const Layout&)> make;
  std::vector<std::string> changes;  // "@" stands for the end of the file before the repair
  std::vector<int32_t> given_up;     // records the repair marks deleted
};

const std::vector<Damage>& Damages() {
  static const std::vector<Damage> damages = {
      {"two links of a chain swapped",
       [](auto& b, const Layout& l) {
         const int32_t a = I32At(b, static_cast<size_t>(l.Link(1, 1) + 4)), c = I32At(b, static_cast<size_t>(l.Link(1, 3) + 4));
         Put(b, l.Link(1, 1) + 4, c);
         Put(b, l.Link(1, 3) + 4, a);
       },
       {"table 'Items': index 'ByName': chain rebuilt from the records' keys"},
       {}},
      {"HeadSlot names the wrong record",
       [](auto& b, const Layout&) { Put(b, Layout::IndexEntry(2) + dbfmt::kIdxHeadSlot, 3); },
       {"table 'Items': index 'ByGroup': chain rebuilt from the records' keys"},
       {}},
      {"SlotCount beyond the written slots",
       [](auto& b, const Layout&) { Put(b, kHeader + dbfmt::kHdrSlotCount, 7); },
       {"table 'Items': SlotCount 7 set to 5, the slots that name a record image"},
       {}},
      {"the last slot block links on",
       [](auto& b, const Layout& l) { Put(b, l.slot_block, 4000); },
       {"table 'Items': the last slot block now ends its chain"},
       {}},
      {"a record image outside the file",
       [](auto& b, const Layout& l) { Put(b, l.Slot(2), static_cast<int32_t>(b.size()) + 100); },
       {"table 'Items': record 2: its image at # cannot be read; marked deleted, with an empty image at @"},
       {2}},
      {"a deleted flag of 7",
       [](auto& b, const Layout& l) { b[static_cast<size_t>(l.Slot(4) + 4)] = 7; },
       {"table 'Items': record 4: deleted flag 7 set to 1"},
       {4}},
      {"a blob descriptor with an area size off the 64-byte rule",
       [](auto& b, const Layout& l) { Put(b, I32At(b, static_cast<size_t>(l.Slot(3))) + l.memo_offset + 8, 13); },
       {"table 'Items': record 3: field 'Memo': the blob descriptor (area #, length #, size 13) is broken; the field is "
        "now empty"},
       {}},
      {"an index without link blocks",
       [](auto& b, const Layout&) { Put(b, Layout::IndexEntry(0) + dbfmt::kIdxFirstLinkBlock, 0); },
       {"table 'Items': index 'PK': link block 0 was missing; added at @",
        "table 'Items': index 'PK': chain rebuilt from the records' keys"},
       {}},
      {"LastAutoIncValue below a stored value",
       [](auto& b, const Layout&) { Put(b, kHeader + dbfmt::kHdrLastAutoInc, 2); },
       {"table 'Items': LastAutoIncValue 2 raised to 5"},
       {}},
  };
  return damages;
}

// "#" in an expected line matches any number; "@" the file's size before the repair.
bool Matches(const std::string& expected, const std::string& actual, size_t end) {
  std::string e = expected;
  for (size_t at; (at = e.find('@')) != std::string::npos;) e.replace(at, 1, std::to_string(end));
  size_t i = 0, j = 0;
  while (i < e.size() && j < actual.size()) {
    if (e[i] == '#') {
      if (!std::isdigit(static_cast<unsigned char>(actual[j]))) return false;
      while (j < actual.size() && std::isdigit(static_cast<unsigned char>(actual[j]))) ++j;
      ++i;
    } else if (e[i++] != actual[j++]) {
      return false;
    }
  }
  return i == e.size() && j == actual.size();
}

class DbRepair : public ::testing::TestWithParam<bool> {};

TEST_P(DbRepair, EachDamageIsMendedAndSaidSo) {
  const bool encrypted = GetParam();
  const std::string pw = encrypted ? "pw" : "";
  const std::vector<uint8_t> sound = TDbCreator::Build(Schema(encrypted));
  ASSERT_EQ(CheckProblems(sound, pw), std::vector<std::string>{});
  const auto before = Records(sound, pw);
  ASSERT_EQ(before.size(), 5u);

  for (const Damage& d : Damages()) {
    SCOPED_TRACE(d.what);
    std::vector<uint8_t> bytes = sound;
    d.make(bytes, LayoutOf(sound));
    EXPECT_FALSE(CheckProblems(bytes, pw).empty()) << "the damage is not seen by the check";
    const size_t end = bytes.size();
    std::vector<std::string> changes = Repair(bytes, pw);
    ASSERT_EQ(changes.size(), d.changes.size()) << ::testing::PrintToString(changes);
    for (size_t k = 0; k < changes.size(); ++k) EXPECT_TRUE(Matches(d.changes[k], changes[k], end)) << changes[k];
    EXPECT_EQ(CheckProblems(bytes, pw), std::vector<std::string>{});

    auto after = Records(bytes, pw);
    auto expected = before;
    for (int32_t r : d.given_up) expected.erase(r);
    if (std::string(d.what).find("blob descriptor") != std::string::npos) expected[3].second.clear();
    EXPECT_EQ(after, expected);
    // Every index in key order. Equal keys (ByGroup) keep the order of a whole chain; a rebuilt
    // chain puts them in physical order.
    const bool rebuilt_by_group = std::string(d.what).find("HeadSlot") != std::string::npos;
    std::vector<int32_t> pk, by_name = {1, 3, 4, 0, 2};
    std::vector<int32_t> by_group = rebuilt_by_group ? std::vector<int32_t>{1, 3, 0, 2, 4} : Order(sound, pw, 2);
    for (const auto& [id, v] : expected) pk.push_back(id);
    for (int32_t r : d.given_up) {
      by_name.erase(std::find(by_name.begin(), by_name.end(), r));
      by_group.erase(std::find(by_group.begin(), by_group.end(), r));
    }
    EXPECT_EQ(Order(bytes, pw, 0), pk);
    EXPECT_EQ(Order(bytes, pw, 1), by_name);
    EXPECT_EQ(Order(bytes, pw, 2), by_group);

    EXPECT_EQ(Repair(bytes, pw), std::vector<std::string>{}) << "a second repair changed more";
  }
}

INSTANTIATE_TEST_SUITE_P(PlainAndEncrypted, DbRepair, ::testing::Bool());

TEST(DbRepairSound, ASoundFileIsLeftByteForByte) {
  const std::vector<uint8_t> sound = TDbCreator::Build(Schema(true));
  std::vector<uint8_t> bytes = sound;
  EXPECT_EQ(Repair(bytes, "pw"), std::vector<std::string>{});
  EXPECT_EQ(bytes, sound);
}

}  // namespace
}  // namespace zq
