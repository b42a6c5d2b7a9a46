// The model of the many-openers interleaving tests: a plain in-memory copy of what the table
// holds, the random operations a seeded scheduler hands to the openers, and what each one must
// lead to. Independent of the engine: its orders come from its own comparators, not from
// TDbTableIO::CompareValues.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "dbengine/storage/db_creator.h"
#include "dbengine/format/field_type.h"

namespace zq::testing_support {

// Table "M": Id auto-increment (primary), Code unique, Name case-insensitive, Num descending,
// (Num, Code) over two fields, Note a compressed memo (blob).
inline TDbSchema OpenersSchema() {
  TDbSchema s;
  s.Compression = "ZLIB";
  TDbSchemaTable t;
  t.Name = "M";
  t.Fields = {{"Id", ftAutoInc}, {"Code", ftString, 6}, {"Name", ftString, 8}, {"Num", ftInteger}, {"Note", ftMemo}};
  t.Indexes = {{"PK", {"Id"}, tiPrimary},
               {"ByCode", {"Code"}, tiUnique},
               {"NameCI", {"Name"}, tiCaseInsensitive},
               {"NumDesc", {"Num"}, tiDescending},
               {"NumCode", {"Num", "Code"}, 0}};
  s.Tables.push_back(t);
  return s;
}
constexpr int kOpenersIndexCount = 5;

struct MRow {
  int32_t id = 0;  // 0 on append: assign the next value; 0 on modify: keep the stored one
  std::string code, name;
  int32_t num = 0;
  std::string note;
  bool operator==(const MRow&) const = default;
};

inline std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The model's own orders. Codes are small letters only, names letters only: for those the
// locale's order is the alphabet, a prefix first; ignoring case, the same on the small letters.
inline int ModelOrder(int index, const MRow& a, const MRow& b) {
  auto sign = [](const auto& x, const auto& y) { return x < y ? -1 : (y < x ? 1 : 0); };
  switch (index) {
    case 0: return sign(a.id, b.id);
    case 1: return sign(a.code, b.code);
    case 2: return sign(Lower(a.name), Lower(b.name));
    case 3: return -sign(a.num, b.num);
    case 4: {
      int c = sign(a.num, b.num);
      return c != 0 ? c : sign(a.code, b.code);
    }
  }
  return 0;
}
inline bool ModelUnique(int index) { return index <= 1; }

enum class OpKind { Append, Modify, Delete, Refresh };

// One step of the scheduler: which opener does what.
struct Op {
  int opener = 0;
  OpKind kind = OpKind::Append;
  int32_t target = -1;  // record ID of a modify or delete
  MRow row;
};

// What an opener reports back after an operation.
struct Outcome {
  std::string error;       // empty: done
  int32_t record_id = -1;  // append: the new record ID
  int32_t id_value = 0;    // append: the Id stored
  bool absent = false;     // the opener's lists no longer hold the target (it saw the delete)
};

inline std::string Serialise(const Op& op) {
  std::ostringstream out;
  out << op.opener << ' ' << static_cast<int>(op.kind) << ' ' << op.target << ' ' << op.row.id << ' '
      << op.row.num << " [" << op.row.code << "] [" << op.row.name << "] [" << op.row.note << "]";
  return out.str();
}

inline Op Deserialise(const std::string& text) {
  Op op;
  std::istringstream in(text);
  int kind = 0;
  in >> op.opener >> kind >> op.target >> op.row.id >> op.row.num;
  op.kind = static_cast<OpKind>(kind);
  auto field = [&](std::string& out) {
    size_t a = text.find('[', static_cast<size_t>(in.tellg()));
    size_t b = text.find(']', a);
    out = text.substr(a + 1, b - a - 1);
    in.seekg(static_cast<std::streamoff>(b + 1));
  };
  field(op.row.code);
  field(op.row.name);
  field(op.row.note);
  return op;
}

// The table as a plain map, and the seeded choice of operations.
class OpenersModel {
 public:
  OpenersModel(uint32_t seed, int openers) : rng_(seed), openers_(openers) {}

  std::map<int32_t, MRow> live;  // by record ID
  std::vector<int32_t> deleted;  // record IDs deleted so far
  int32_t slot_count = 0;
  int32_t last_auto_inc = 0;

  Op Next() {
    Op op;
    op.opener = static_cast<int>(rng_() % static_cast<uint32_t>(openers_));
    const uint32_t roll = rng_() % 100;
    // Keep the table between a few dozen and about a hundred and fifty records.
    const size_t n = live.size();
    if (roll < 8) {
      op.kind = OpKind::Refresh;
    } else if (n < 20 || (roll < 45 && n < 150)) {
      op.kind = OpKind::Append;
    } else if (roll < 80 || n < 40) {
      op.kind = OpKind::Modify;
    } else {
      op.kind = OpKind::Delete;
    }
    if (op.kind == OpKind::Modify || op.kind == OpKind::Delete) {
      // Now and then a record another opener has deleted (a stale row).
      if (!deleted.empty() && rng_() % 8 == 0) {
        op.target = deleted[rng_() % deleted.size()];
      } else if (!live.empty()) {
        auto it = live.begin();
        std::advance(it, static_cast<long>(rng_() % live.size()));
        op.target = it->first;
      } else {
        op.kind = OpKind::Append;
      }
    }
    if (op.kind == OpKind::Append) {
      op.row = RandomRow();
      op.row.id = 0;
      const uint32_t r = rng_() % 20;
      if (r == 0) op.row.id = last_auto_inc + 1 + static_cast<int32_t>(rng_() % 3);  // explicit, above
      if (r == 1 && !live.empty()) op.row.id = AnyLive().id;                           // taken
    } else if (op.kind == OpKind::Modify) {
      const auto found = live.find(op.target);
      op.row = found != live.end() ? found->second : RandomRow();
      // Keys move within every index: each field changes now and then.
      if (rng_() % 2) op.row.code = RandomCode();
      if (rng_() % 2) op.row.name = RandomName();
      if (rng_() % 2) op.row.num = static_cast<int32_t>(rng_() % 10);
      if (rng_() % 2) op.row.note = RandomNote();
      const uint32_t r = rng_() % 10;
      if (r < 6) op.row.id = 0;  // keep
      else if (r == 6) op.row.id = last_auto_inc + 1 + static_cast<int32_t>(rng_() % 3);
      else if (r == 7 && !live.empty()) op.row.id = AnyLive().id;
    }
    return op;
  }

  // Checks an outcome against the model and applies the operation to the model.
  void Apply(const Op& op, const Outcome& out) {
    switch (op.kind) {
      case OpKind::Refresh: break;
      case OpKind::Append: {
        const bool taken = (op.row.id != 0 && HeldBy(0, op.row, -1)) || HeldBy(1, op.row, -1);
        if (taken) {
          EXPECT_EQ(out.error, "Invalid unique field value '" + (HeldBy(0, op.row, -1) && op.row.id != 0
                                                                     ? std::to_string(op.row.id)
                                                                     : op.row.code) + "'");
          break;
        }
        ASSERT_EQ(out.error, "");
        MRow row = op.row;
        if (row.id == 0) row.id = last_auto_inc + 1;
        last_auto_inc = std::max(last_auto_inc, row.id);
        EXPECT_EQ(out.record_id, slot_count);
        EXPECT_EQ(out.id_value, row.id);
        live[slot_count++] = row;
        break;
      }
      case OpKind::Modify: {
        const auto found = live.find(op.target);
        if (found == live.end()) {
          ExpectDeletedError(op, out);
          break;
        }
        MRow row = op.row;
        if (row.id == 0) row.id = found->second.id;
        const bool id_taken = HeldBy(0, row, op.target), code_taken = HeldBy(1, row, op.target);
        if (id_taken || code_taken) {
          EXPECT_EQ(out.error, "Invalid unique field value '" + (id_taken ? std::to_string(row.id) : row.code) + "'");
          break;
        }
        ASSERT_EQ(out.error, "");
        EXPECT_FALSE(out.absent);
        last_auto_inc = std::max(last_auto_inc, row.id);
        found->second = row;
        break;
      }
      case OpKind::Delete: {
        const auto found = live.find(op.target);
        if (found == live.end()) {
          ExpectDeletedError(op, out);
          break;
        }
        ASSERT_EQ(out.error, "");
        EXPECT_FALSE(out.absent);
        live.erase(found);
        deleted.push_back(op.target);
        break;
      }
    }
  }

  // The records of the model in the order of an index are those of `ids` (the order an opener
  // holds): the same records, each pair in order (strictly in a unique index).
  ::testing::AssertionResult InOrder(int index, const std::vector<int32_t>& ids) const {
    std::vector<int32_t> a = ids, b;
    std::sort(a.begin(), a.end());
    for (const auto& [id, row] : live) b.push_back(id);
    if (a != b) return ::testing::AssertionFailure() << "index " << index << " holds other records";
    for (size_t k = 1; k < ids.size(); ++k) {
      int c = ModelOrder(index, live.at(ids[k - 1]), live.at(ids[k]));
      if (c > 0 || (c == 0 && ModelUnique(index)))
        return ::testing::AssertionFailure() << "index " << index << ": record " << ids[k - 1] << " before "
                                             << ids[k];
    }
    return ::testing::AssertionSuccess();
  }

 private:
  bool HeldBy(int index, const MRow& row, int32_t except) const {
    for (const auto& [rid, other] : live)
      if (rid != except && ModelOrder(index, other, row) == 0) return true;
    return false;
  }
  void ExpectDeletedError(const Op& op, const Outcome& out) {
    if (out.absent) return;
    EXPECT_EQ(out.error, "Record " + std::to_string(op.target) + " of table 'M' was deleted by another user");
  }
  const MRow& AnyLive() {
    auto it = live.begin();
    std::advance(it, static_cast<long>(rng_() % live.size()));
    return it->second;
  }
  std::string RandomCode() {
    std::string s;
    for (uint32_t i = 0, n = 1 + rng_() % 2; i < n; ++i) s.push_back("abcdefg"[rng_() % 7]);
    return s;
  }
  std::string RandomName() {
    std::string s;
    for (uint32_t i = 0, n = 1 + rng_() % 3; i < n; ++i) s.push_back("abcABC"[rng_() % 6]);
    return s;
  }
  std::string RandomNote() {
    const uint32_t n = rng_() % 4 == 0 ? 0 : rng_() % 300;
    std::string s(n, ' ');
    for (char& c : s) c = "xyz0123"[rng_() % 7];
    return s;
  }
  MRow RandomRow() {
    MRow r;
    r.code = RandomCode();
    r.name = RandomName();
    r.num = static_cast<int32_t>(rng_() % 10);
    r.note = RandomNote();
    return r;
  }

  std::mt19937 rng_;
  int openers_;
};

// The seed and step count of a run: fixed unless ZQ_STRESS_SEED / ZQ_STRESS_STEPS say otherwise
// ("random" as the seed picks one).
inline uint32_t StressSeed(uint32_t fixed) {
  const char* s = std::getenv("ZQ_STRESS_SEED");
  if (!s || !*s) return fixed;
  if (std::string(s) == "random") return std::random_device{}();
  return static_cast<uint32_t>(std::strtoul(s, nullptr, 10));
}
inline int StressSteps(int fixed) {
  const char* s = std::getenv("ZQ_STRESS_STEPS");
  return s && *s ? std::atoi(s) : fixed;
}

}  // namespace zq::testing_support
