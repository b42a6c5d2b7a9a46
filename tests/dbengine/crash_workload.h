// A scripted workload for the crash tests: appends with a memo and a picture, modifies that move a
// record in several indexes, deletes; a plain model of what the table must hold after each
// operation; and the comparison of a loaded table with the model (values and every index order).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "dbengine/storage/db_creator.h"
#include "dbengine/format/field_type.h"
#include "dbengine/storage/optim_blob_stream.h"
#include "dbengine/storage/table_io.h"

namespace zq::testing_support {

enum class FileKind { Plain, Compressed, Encrypted };
inline const char* KindName(FileKind k) {
  return k == FileKind::Plain ? "plain" : k == FileKind::Compressed ? "compressed" : "encrypted";
}
inline std::string PasswordOf(FileKind k) { return k == FileKind::Encrypted ? "crash" : ""; }

constexpr int32_t kNameSize = 16;

struct Item {
  std::string name;
  int32_t group = 0;
  double price = 0;
  std::string memo, picture;
  bool operator==(const Item&) const = default;
};

struct Op {
  enum Kind { Append, Modify, Delete } kind = Append;
  int32_t record = -1;  // modify, delete: the record ID
  Item item;            // append, modify: the new values
};

// Fields Id (auto-increment), Name, Group, Price, Memo, Picture; indexes PK (Id), ByName (unique,
// case-insensitive) and ByGroup (Group, Name; descending).
inline TDbSchema CrashSchema(FileKind kind, const std::vector<Item>& initial) {
  TDbSchema schema;
  if (kind != FileKind::Plain) schema.Compression = "ZLIB";
  if (kind == FileKind::Encrypted) {
    schema.EncryptAlgorithm = "Blowfish";
    schema.EncryptMode = 1;
    schema.Password = PasswordOf(kind);
  }
  TDbSchemaTable t;
  t.Name = "Items";
  t.Fields = {{"Id", ftAutoInc},  {"Name", ftString, kNameSize}, {"Group", ftInteger},
              {"Price", ftFloat}, {"Memo", ftMemo},              {"Picture", ftGraphic}};
  t.Indexes = {{"PK", {"Id"}, tiPrimary},
               {"ByName", {"Name"}, tiUnique | tiCaseInsensitive},
               {"ByGroup", {"Group", "Name"}, tiDescending}};
  for (const Item& i : initial)
    t.Records.push_back({{{"Id", Variant(0)},
                          {"Name", Variant(i.name)},
                          {"Group", Variant(i.group)},
                          {"Price", Variant(i.price)},
                          {"Memo", Variant(i.memo)},
                          {"Picture", Variant(i.picture)}}});
  schema.Tables.push_back(t);
  return schema;
}

// The records a table must hold: record ID -> (Id value, values).
struct Model {
  std::map<int32_t, std::pair<int32_t, Item>> rows;
  int32_t next_record = 0;
  int32_t last_id = 0;

  Model() = default;
  explicit Model(const std::vector<Item>& initial) {
    for (const Item& i : initial) Apply({Op::Append, -1, i});
  }
  void Apply(const Op& op) {
    if (op.kind == Op::Append) rows[next_record++] = {++last_id, op.item};
    if (op.kind == Op::Modify) rows.at(op.record).second = op.item;
    if (op.kind == Op::Delete) rows.erase(op.record);
  }
  bool operator==(const Model& other) const { return rows == other.rows; }

  // Record IDs in the order of index 0 (PK), 1 (ByName) or 2 (ByGroup). Names are letters only,
  // so their order ignoring case is the order of their lower-case forms.
  std::vector<int32_t> Order(int index) const {
    std::vector<int32_t> ids;
    for (const auto& [r, v] : rows) ids.push_back(r);
    auto lower = [](std::string s) {
      for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return s;
    };
    std::sort(ids.begin(), ids.end(), [&](int32_t a, int32_t b) {
      const auto &x = rows.at(a), &y = rows.at(b);
      if (index == 0) return x.first < y.first;
      if (index == 1) return lower(x.second.name) < lower(y.second.name);
      if (x.second.group != y.second.group) return x.second.group > y.second.group;
      return lower(x.second.name) > lower(y.second.name);
    });
    return ids;
  }
};

// Seeded values; names unique without regard to case among the records alive.
class ItemMaker {
 public:
  explicit ItemMaker(uint32_t seed) : rng_(seed) {}
  Item Make(const Model& model, int32_t except = -1) {
    Item i;
    for (;;) {
      i.name.clear();
      const int length = 3 + static_cast<int>(rng_() % 8);
      for (int k = 0; k < length; ++k) i.name += static_cast<char>((rng_() % 2 ? 'a' : 'A') + rng_() % 26);
      bool taken = false;
      for (const auto& [r, v] : model.rows)
        if (r != except && Lower(v.second.name) == Lower(i.name)) taken = true;
      if (!taken) break;
    }
    i.group = static_cast<int32_t>(rng_() % 4);
    i.price = static_cast<double>(rng_() % 100000) / 100.0;
    i.memo = std::string(rng_() % 90, static_cast<char>('m' + rng_() % 10));
    i.picture.resize(rng_() % 40);
    for (char& c : i.picture) c = static_cast<char>(rng_());
    return i;
  }
  // A random operation on the model: appends, modifies (new key, or only the price) and deletes.
  Op Next(const Model& model) {
    const uint32_t roll = rng_() % 10;
    if (model.rows.empty() || roll < 4) return {Op::Append, -1, Make(model)};
    auto it = model.rows.begin();
    std::advance(it, static_cast<long>(rng_() % model.rows.size()));
    if (roll < 8) {
      Item item = roll < 7 ? Make(model, it->first) : it->second.second;
      if (roll == 7) item.price += 1;
      return {Op::Modify, it->first, item};
    }
    return {Op::Delete, it->first, {}};
  }
  uint32_t Roll() { return rng_(); }

 private:
  static std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
  std::mt19937 rng_;
};

inline std::vector<Item> InitialItems(uint32_t seed, int count) {
  ItemMaker maker(seed);
  Model model;
  std::vector<Item> items;
  for (int k = 0; k < count; ++k) {
    items.push_back(maker.Make(model));
    model.Apply({Op::Append, -1, items.back()});
  }
  return items;
}

// Field buffers over an item's values.
struct ItemBuffers {
  ItemBuffers(int32_t id, const Item& item) : id_(4), name_(kNameSize + 1, 0), group_(4), price_(8) {
    dbfmt::PutI32(id_.data(), id);
    std::copy(item.name.begin(), item.name.end(), name_.begin());
    dbfmt::PutI32(group_.data(), item.group);
    dbfmt::PutF64(price_.data(), item.price);
    memo_.WriteBuffer(item.memo.data(), static_cast<int64_t>(item.memo.size()));
    picture_.WriteBuffer(item.picture.data(), static_cast<int64_t>(item.picture.size()));
    buffers.Add(id_.data(), ftAutoInc, 4);
    buffers.Add(name_.data(), ftString, kNameSize + 1);
    buffers.Add(group_.data(), ftInteger, 4);
    buffers.Add(price_.data(), ftFloat, 8);
    buffers.AddBlob(&memo_, ftMemo);
    buffers.AddBlob(&picture_, ftGraphic);
  }
  TFieldBuffers buffers;

 private:
  std::vector<uint8_t> id_, name_, group_, price_;
  TOptimBlobStream memo_, picture_;
};

inline int PhysicalPositionOf(TDbTableIO& table, int32_t record) {
  const TRowList& list = table.RowList(0);
  auto it = std::lower_bound(list.begin(), list.end(), record,
                             [](const TRowRef& ref, int32_t v) { return ref.RecordId < v; });
  return it != list.end() && it->RecordId == record ? static_cast<int>(it - list.begin()) : -1;
}

inline void Perform(TDbTableIO& table, const Op& op, const Model& before) {
  if (op.kind == Op::Append) {
    ItemBuffers b(0, op.item);
    table.AppendRecord(b.buffers, false, nullptr);
  } else if (op.kind == Op::Modify) {
    ItemBuffers b(before.rows.at(op.record).first, op.item);
    table.ModifyRecord(b.buffers, PhysicalPositionOf(table, op.record), nullptr, false);
  } else {
    table.DeleteRecord(PhysicalPositionOf(table, op.record), false);
  }
}

inline std::string Stored(TDbTableIO& table, int32_t record, int field) {
  TMemoryStream out;
  table.ReadStoredField(out, record, field);
  return {reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size())};
}

// What a loaded table holds, as a model (values read from the file).
inline Model Contents(TDbTableIO& table) {
  Model m;
  for (const TRowRef& ref : table.RowList(0)) {
    const int32_t r = ref.RecordId;
    Item i;
    const std::string id = Stored(table, r, 0), name = Stored(table, r, 1), group = Stored(table, r, 2),
                      price = Stored(table, r, 3);
    i.name = name.substr(0, name.find('\0'));
    i.group = dbfmt::GetI32(reinterpret_cast<const uint8_t*>(group.data()));
    i.price = dbfmt::GetF64(reinterpret_cast<const uint8_t*>(price.data()));
    i.memo = Stored(table, r, 4);
    i.picture = Stored(table, r, 5);
    m.rows[r] = {dbfmt::GetI32(reinterpret_cast<const uint8_t*>(id.data())), i};
  }
  return m;
}

inline std::vector<int32_t> ListOrder(TDbTableIO& table, int index) {
  std::vector<int32_t> ids;
  for (const TRowRef& ref : table.RowList(index + 1)) ids.push_back(ref.RecordId);
  return ids;
}

// True when the table holds exactly one of the models, with every index in that model's order;
// `which` names the one it matched.
inline ::testing::AssertionResult HoldsOneOf(TDbTableIO& table, const std::vector<const Model*>& models) {
  Model actual = Contents(table);
  for (const Model* m : models) {
    if (!(actual == *m)) continue;
    for (int x = 0; x < 3; ++x)
      if (ListOrder(table, x) != m->Order(x))
        return ::testing::AssertionFailure() << "index " << x << " order " << ::testing::PrintToString(ListOrder(table, x))
                                             << " instead of " << ::testing::PrintToString(m->Order(x));
    return ::testing::AssertionSuccess();
  }
  std::string ids;
  for (const auto& [r, v] : actual.rows) ids += " " + std::to_string(r) + ":" + v.second.name;
  return ::testing::AssertionFailure() << "records" << ids << " match no expected state";
}

}  // namespace zq::testing_support
