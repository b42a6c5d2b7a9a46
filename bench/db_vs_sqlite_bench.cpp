// The database engine side by side with SQLite on the same data: one table (Id integer key,
// Name string, Qty integer, Price float) with one unique index on the key.
//
//   append       N records in ascending key order, one at a time (each in the file at once)
//   append_bulk  the same N records in one bulk group of the database (StartBulk/EndBulk), on a
//                fresh file; absent when the engine has no bulk groups
//   lookup       L random existing keys, reading the record's other fields
//   modify       M random records whose key changes to a new, unused key (the record moves in the index)
//   scan         every record through the filter "Qty > 500", reading the accepted records' fields
//
// Each operation runs on the engine's table data set (TDbTable through the default session, the way
// a program uses it), on the table storage layer directly (TDbTableIO, to see where the time goes;
// no bulk groups there), and on SQLite in two ways: "txn", synchronous off, journal in memory, one
// transaction around the appends and one around the modifications; "wal", journal in WAL mode with
// synchronous NORMAL and one transaction per statement (what a program that writes each change at
// once gets). Unencrypted and with Blowfish; SQLite has no encryption of its own, so both engine
// modes are compared with the same plain SQLite figures.
// Output: one line per operation with microseconds per operation of each side; with --tsv FILE the
// same figures as tab-separated values (mode, operation, table_us, tableio_us, sqlite_txn_us,
// sqlite_wal_us; 0 where a side did not run the operation).
//
// Usage: db_vs_sqlite_bench [--records N] [--lookups L] [--modifies M] [--dir D] [--tsv FILE]
//                           [--only table|io|sqlite] [--mode plain|blowfish] [--repeat R]
//                           [--scans S]   (passes of the data set's scan, the best counts)
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbengine/session/database.h"
#include "dbengine/storage/db_creator.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/format/db_format.h"
#include "dbengine/dataset/db_table.h"
#include "dbengine/dataset/field.h"
#include "dbengine/storage/field_buffers.h"
#include "dbengine/format/field_type.h"
#include "dbengine/session/session.h"
#include "dbengine/session/session_list.h"
#include "dbengine/storage/table_io.h"
#include "platform/exception.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Config {
  int records = 100000;
  int lookups = 10000;
  int modifies = 10000;
  std::string dir;
  std::string tsv;
  std::string only;  // empty: all three
  std::string mode;  // empty: both
  int repeat = 1;    // runs of everything; the best time of each side counts
  int scans = 1;     // passes of the data set's scan in each run (for profiles); the best counts
};

// The workload, fixed by a seed so every run and every side sees the same data.
struct Workload {
  std::vector<int32_t> keys;         // append order: 2, 4, 6, ...
  std::vector<std::string> names;
  std::vector<int32_t> qty;
  std::vector<double> price;
  std::vector<int32_t> lookup_keys;  // existing keys
  std::vector<std::pair<int32_t, int32_t>> changes;  // (old key, new odd key), each record once

  explicit Workload(const Config& c) {
    std::mt19937 rnd(20130115);
    for (int i = 0; i < c.records; ++i) {
      keys.push_back(2 * (i + 1));
      std::string n = "Item ";
      int len = 5 + static_cast<int>(rnd() % 20);
      for (int k = 0; k < len; ++k) n += static_cast<char>('a' + rnd() % 26);
      names.push_back(n);
      qty.push_back(static_cast<int32_t>(rnd() % 1000));
      price.push_back(static_cast<double>(rnd() % 100000) / 100.0);
    }
    for (int i = 0; i < c.lookups; ++i) lookup_keys.push_back(keys[rnd() % keys.size()]);
    std::vector<int32_t> order(keys.size());
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), rnd);
    std::vector<int32_t> fresh(keys.size());
    for (size_t i = 0; i < fresh.size(); ++i) fresh[i] = 2 * static_cast<int32_t>(i) + 1;
    std::shuffle(fresh.begin(), fresh.end(), rnd);
    for (int i = 0; i < c.modifies && static_cast<size_t>(i) < order.size(); ++i)
      changes.emplace_back(keys[static_cast<size_t>(order[static_cast<size_t>(i)])], fresh[static_cast<size_t>(i)]);
  }
};

struct Result {
  double append_us = 0, append_bulk_us = 0, lookup_us = 0, modify_us = 0, scan_us = 0;  // per operation
  int64_t file_size = 0;
  long checksum = 0;  // keeps the reads from being optimised away; equal across sides
  int scan_hits = 0;
};

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

zq::TDbSchema Schema(bool encrypted) {
  zq::TDbSchema s;
  if (encrypted) {
    s.EncryptAlgorithm = "Blowfish";
    s.EncryptMode = 1;
    s.Password = "bench-password";
  }
  zq::TDbSchemaTable t;
  t.Name = "Items";
  t.Fields = {{"Id", zq::ftInteger}, {"Name", zq::ftString, 30}, {"Qty", zq::ftInteger}, {"Price", zq::ftFloat}};
  t.Indexes = {{"ById", {"Id"}, zq::tiPrimary}};
  s.Tables.push_back(t);
  return s;
}

// --- the engine through a table data set ------------------------------------------------------

// A bulk group on the table's database where the engine has them (StartBulk/EndBulk); false and
// nothing done where it has not.
template <class Database>
auto StartBulk(Database& db, int) -> decltype(db.StartBulk(), bool()) {
  db.StartBulk();
  return true;
}
template <class Database>
bool StartBulk(Database&, long) {
  return false;
}
template <class Database>
auto EndBulk(Database& db, int) -> decltype(db.EndBulk(), void()) {
  db.EndBulk();
}
template <class Database>
void EndBulk(Database&, long) {}

std::unique_ptr<zq::TDbTable> OpenTable(const std::string& path, bool encrypted) {
  auto t = std::make_unique<zq::TDbTable>();
  t->SetDatabaseName(path);
  t->SetTableName("Items");
  if (encrypted)
    t->BeforeOpen = [](zq::TDataSet& ds) { static_cast<zq::TDbTable&>(ds).SetPassword("bench-password"); };
  t->Open();
  return t;
}

void AppendAll(zq::TDbTable& t, const Workload& w) {
  zq::TField& id = t.FieldByName("Id");
  zq::TField& name = t.FieldByName("Name");
  zq::TField& qty = t.FieldByName("Qty");
  zq::TField& price = t.FieldByName("Price");
  for (size_t i = 0; i < w.keys.size(); ++i) {
    t.Append();
    id.SetAsInteger(w.keys[i]);
    name.SetAsString(w.names[i]);
    qty.SetAsInteger(w.qty[i]);
    price.SetAsFloat(w.price[i]);
    t.Post();
  }
}

// The appends in one bulk group on a fresh file: microseconds per record, or 0 without groups.
double BulkAppend(const Config& c, const Workload& w, bool encrypted) {
  const std::string path = c.dir + (encrypted ? "/bulk_enc.zqc" : "/bulk.zqc");
  std::filesystem::remove(path);
  zq::TDbCreator::CreateFile(path, Schema(encrypted));
  auto t = OpenTable(path, encrypted);
  double us = 0;
  const auto t0 = Clock::now();
  if (StartBulk(*t->Database(), 0)) {
    AppendAll(*t, w);
    EndBulk(*t->Database(), 0);
    us = Seconds(t0, Clock::now()) * 1e6 / static_cast<double>(w.keys.size());
  }
  t->Close();
  std::filesystem::remove(path);
  return us;
}

Result RunTable(const Config& c, const Workload& w, bool encrypted) {
  const std::string path = c.dir + (encrypted ? "/table_enc.zqc" : "/table.zqc");
  std::filesystem::remove(path);
  zq::TDbCreator::CreateFile(path, Schema(encrypted));
  Result r;
  r.append_bulk_us = BulkAppend(c, w, encrypted);
  auto table = OpenTable(path, encrypted);
  zq::TDbTable& t = *table;
  zq::TField& id = t.FieldByName("Id");
  zq::TField& name = t.FieldByName("Name");
  zq::TField& qty = t.FieldByName("Qty");
  zq::TField& price = t.FieldByName("Price");

  auto t0 = Clock::now();
  AppendAll(t, w);
  auto t1 = Clock::now();
  r.append_us = Seconds(t0, t1) * 1e6 / static_cast<double>(w.keys.size());

  t.SetIndexName("ById");
  t0 = Clock::now();
  for (int32_t k : w.lookup_keys) {
    if (!t.FindKey({zq::Variant(k)})) throw std::runtime_error("lookup missed");
    r.checksum += qty.AsInteger() + static_cast<long>(name.AsString().size());
  }
  t1 = Clock::now();
  r.lookup_us = Seconds(t0, t1) * 1e6 / static_cast<double>(w.lookup_keys.size());

  t0 = Clock::now();
  for (const auto& [old_key, new_key] : w.changes) {
    if (!t.FindKey({zq::Variant(old_key)})) throw std::runtime_error("modify missed");
    t.Edit();
    id.SetAsInteger(new_key);
    t.Post();
  }
  t1 = Clock::now();
  r.modify_us = Seconds(t0, t1) * 1e6 / static_cast<double>(std::max<size_t>(1, w.changes.size()));

  t.SetIndexName("");
  t.SetFilter("Qty > 500");
  for (int pass = 0; pass < c.scans; ++pass) {
    t.SetFiltered(false);
    long checksum = 0;
    int hits = 0;
    t0 = Clock::now();
    t.SetFiltered(true);
    for (t.First(); !t.Eof(); t.Next()) {
      ++hits;
      checksum += id.AsInteger() % 7 + static_cast<long>(price.AsFloat());
    }
    t1 = Clock::now();
    const double us = Seconds(t0, t1) * 1e6 / static_cast<double>(w.keys.size());
    r.scan_us = pass == 0 ? us : std::min(r.scan_us, us);
    if (pass == 0) {
      r.scan_hits = hits;
      r.checksum += checksum;
    }
  }
  t.Close();
  r.file_size = static_cast<int64_t>(std::filesystem::file_size(path));
  return r;
}

// --- the table storage layer directly --------------------------------------------------------

class BenchOwner : public zq::TDbFileOwner {
 public:
  BenchOwner() : io_(this) {}
  zq::TDbMediumType MediumType() const override { return zq::mtDisk; }
  bool Exclusive() const override { return false; }
  int32_t LockRetryCount() const override { return 20; }
  int32_t LockWaitTime() const override { return 10; }
  zq::TDbFileIO* FileIO() override { return io_.IsOpen() ? &io_ : nullptr; }
  zq::TDbFileIO& io() { return io_; }

 private:
  zq::TDbFileIO io_;
};

// A record's values in their stored encodings, with field buffers over them.
struct RecordBuffers {
  uint8_t id[4] = {}, qty[4] = {}, price[8] = {};
  char name[31] = {};
  zq::TFieldBuffers b;
  RecordBuffers() {
    b.Add(id, zq::ftInteger, 4);
    b.Add(name, zq::ftString, 31);
    b.Add(qty, zq::ftInteger, 4);
    b.Add(price, zq::ftFloat, 8);
  }
  void Set(int32_t k, const std::string& n, int32_t q, double p) {
    zq::dbfmt::PutI32(id, k);
    std::memset(name, 0, sizeof name);
    std::memcpy(name, n.data(), std::min<size_t>(30, n.size()));
    zq::dbfmt::PutI32(qty, q);
    zq::dbfmt::PutF64(price, p);
  }
};

Result RunTableIO(const Config& c, const Workload& w, bool encrypted) {
  const std::string path = c.dir + (encrypted ? "/io_enc.zqc" : "/io.zqc");
  std::filesystem::remove(path);
  zq::TDbCreator::CreateFile(path, Schema(encrypted));
  Result r;
  BenchOwner owner;
  owner.io().Open(path, zq::mtDisk, 0, false, false);
  if (!owner.io().CheckPassword(encrypted ? "bench-password" : "")) throw std::runtime_error("password");
  zq::TDbTableIO table(&owner);
  table.SetTableName("Items");
  table.Open();
  RecordBuffers rec;

  auto t0 = Clock::now();
  for (size_t i = 0; i < w.keys.size(); ++i) {
    rec.Set(w.keys[i], w.names[i], w.qty[i], w.price[i]);
    table.AppendRecord(rec.b, false, nullptr);
  }
  auto t1 = Clock::now();
  r.append_us = Seconds(t0, t1) * 1e6 / static_cast<double>(w.keys.size());

  RecordBuffers key;
  t0 = Clock::now();
  for (int32_t k : w.lookup_keys) {
    zq::dbfmt::PutI32(key.id, k);
    int result = 0;
    const zq::TRowList& list = table.RowList(1);
    int pos = table.FindKey(key.b, list, false, 1, result, 0);
    if (result != 0) throw std::runtime_error("lookup missed");
    table.ReadRecord(rec.b, list, pos);
    r.checksum += zq::dbfmt::GetI32(rec.qty) + static_cast<long>(std::strlen(rec.name));
  }
  t1 = Clock::now();
  r.lookup_us = Seconds(t0, t1) * 1e6 / static_cast<double>(w.lookup_keys.size());

  t0 = Clock::now();
  for (const auto& [old_key, new_key] : w.changes) {
    zq::dbfmt::PutI32(key.id, old_key);
    int result = 0;
    const zq::TRowList& list = table.RowList(1);
    int pos = table.FindKey(key.b, list, false, 1, result, 0);
    if (result != 0) throw std::runtime_error("modify missed");
    table.ReadRecord(rec.b, list, pos);
    zq::dbfmt::PutI32(rec.id, new_key);
    table.ModifyRecord(rec.b, table.PhysicalPosition(list, pos), nullptr, false);
  }
  t1 = Clock::now();
  r.modify_us = Seconds(t0, t1) * 1e6 / static_cast<double>(std::max<size_t>(1, w.changes.size()));

  t0 = Clock::now();
  const zq::TRowList& physical = table.RowList(0);
  for (size_t start = 0; start < physical.size(); start += 1024) {
    zq::TDbTableIO::ReadBatch batch(table);  // one lock and read-ahead per 1,024 records
    for (size_t p = start; p < std::min(physical.size(), start + 1024); ++p) {
      table.ReadRecord(rec.b, physical, static_cast<int>(p));
      if (zq::dbfmt::GetI32(rec.qty) > 500) {
        ++r.scan_hits;
        r.checksum += zq::dbfmt::GetI32(rec.id) % 7 + static_cast<long>(zq::dbfmt::GetF64(rec.price));
      }
    }
  }
  t1 = Clock::now();
  r.scan_us = Seconds(t0, t1) * 1e6 / static_cast<double>(w.keys.size());
  table.Close();
  owner.io().Close();
  r.file_size = static_cast<int64_t>(std::filesystem::file_size(path));
  return r;
}

// --- SQLite ----------------------------------------------------------------------------------

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

// wal: journal in WAL mode, synchronous NORMAL, one transaction per statement; otherwise
// synchronous off, journal in memory, one transaction around the appends and one around the
// modifications.
Result RunSqlite(const Config& c, const Workload& w, bool wal) {
  const std::string path = c.dir + (wal ? "/peer_wal.sqlite" : "/peer.sqlite");
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  Result r;
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db, "open");
  auto exec = [&](const char* sql) { Check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), db, sql); };
  if (wal) {
    exec("PRAGMA journal_mode=WAL");
    exec("PRAGMA synchronous=NORMAL");
  } else {
    exec("PRAGMA synchronous=OFF");
    exec("PRAGMA journal_mode=MEMORY");
  }
  // BEGIN and COMMIT around a batch, or nothing when each statement is its own transaction.
  auto batch = [&](const char* sql) {
    if (!wal) exec(sql);
  };
  exec("CREATE TABLE Items(Id INTEGER, Name VARCHAR(30), Qty INTEGER, Price REAL)");
  exec("CREATE UNIQUE INDEX ById ON Items(Id)");
  auto prepare = [&](const char* sql) {
    sqlite3_stmt* s = nullptr;
    Check(sqlite3_prepare_v2(db, sql, -1, &s, nullptr), db, sql);
    return s;
  };

  auto t0 = Clock::now();
  batch("BEGIN");
  sqlite3_stmt* ins = prepare("INSERT INTO Items VALUES(?, ?, ?, ?)");
  for (size_t i = 0; i < w.keys.size(); ++i) {
    sqlite3_bind_int(ins, 1, w.keys[i]);
    sqlite3_bind_text(ins, 2, w.names[i].c_str(), static_cast<int>(w.names[i].size()), SQLITE_STATIC);
    sqlite3_bind_int(ins, 3, w.qty[i]);
    sqlite3_bind_double(ins, 4, w.price[i]);
    Check(sqlite3_step(ins), db, "insert");
    sqlite3_reset(ins);
  }
  batch("COMMIT");
  auto t1 = Clock::now();
  sqlite3_finalize(ins);
  r.append_us = Seconds(t0, t1) * 1e6 / static_cast<double>(w.keys.size());

  sqlite3_stmt* sel = prepare("SELECT Name, Qty FROM Items WHERE Id = ?");
  t0 = Clock::now();
  for (int32_t k : w.lookup_keys) {
    sqlite3_bind_int(sel, 1, k);
    if (sqlite3_step(sel) != SQLITE_ROW) throw std::runtime_error("lookup missed");
    r.checksum += sqlite3_column_int(sel, 1) + sqlite3_column_bytes(sel, 0);
    sqlite3_reset(sel);
  }
  t1 = Clock::now();
  sqlite3_finalize(sel);
  r.lookup_us = Seconds(t0, t1) * 1e6 / static_cast<double>(w.lookup_keys.size());

  sqlite3_stmt* upd = prepare("UPDATE Items SET Id = ? WHERE Id = ?");
  t0 = Clock::now();
  batch("BEGIN");
  for (const auto& [old_key, new_key] : w.changes) {
    sqlite3_bind_int(upd, 1, new_key);
    sqlite3_bind_int(upd, 2, old_key);
    Check(sqlite3_step(upd), db, "update");
    if (sqlite3_changes(db) != 1) throw std::runtime_error("modify missed");
    sqlite3_reset(upd);
  }
  batch("COMMIT");
  t1 = Clock::now();
  sqlite3_finalize(upd);
  r.modify_us = Seconds(t0, t1) * 1e6 / static_cast<double>(std::max<size_t>(1, w.changes.size()));

  sqlite3_stmt* scan = prepare("SELECT Id, Name, Qty, Price FROM Items WHERE Qty > 500");
  t0 = Clock::now();
  while (sqlite3_step(scan) == SQLITE_ROW) {
    ++r.scan_hits;
    r.checksum += sqlite3_column_int(scan, 0) % 7 + static_cast<long>(sqlite3_column_double(scan, 3));
  }
  t1 = Clock::now();
  sqlite3_finalize(scan);
  r.scan_us = Seconds(t0, t1) * 1e6 / static_cast<double>(w.keys.size());
  sqlite3_close(db);
  r.file_size = static_cast<int64_t>(std::filesystem::file_size(path));
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  return r;
}

// Runs a side `repeat` times and keeps the best time of each operation.
Result Best(int repeat, const std::function<Result()>& run) {
  Result best = run();
  for (int i = 1; i < repeat; ++i) {
    Result r = run();
    best.append_us = std::min(best.append_us, r.append_us);
    best.append_bulk_us = std::min(best.append_bulk_us, r.append_bulk_us);
    best.lookup_us = std::min(best.lookup_us, r.lookup_us);
    best.modify_us = std::min(best.modify_us, r.modify_us);
    best.scan_us = std::min(best.scan_us, r.scan_us);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  Config c;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string k = argv[i], v = argv[i + 1];
    if (k == "--records") c.records = std::stoi(v);
    else if (k == "--lookups") c.lookups = std::stoi(v);
    else if (k == "--modifies") c.modifies = std::stoi(v);
    else if (k == "--dir") c.dir = v;
    else if (k == "--tsv") c.tsv = v;
    else if (k == "--only") c.only = v;
    else if (k == "--mode") c.mode = v;
    else if (k == "--repeat") c.repeat = std::max(1, std::stoi(v));
    else if (k == "--scans") c.scans = std::max(1, std::stoi(v));
    else {
      std::fprintf(stderr, "unknown option %s\n", k.c_str());
      return 2;
    }
  }
  std::filesystem::path made;
  if (c.dir.empty()) {
    made = std::filesystem::temp_directory_path() / ("zq_dbbench_" + std::to_string(getpid()));
    std::filesystem::create_directories(made);
    c.dir = made.string();
  }
  int rc = 0;
  try {
    Workload w(c);
    const bool all = c.only.empty();
    Result txn, wal;
    if (all || c.only == "sqlite") {
      txn = Best(c.repeat, [&] { return RunSqlite(c, w, false); });
      wal = Best(c.repeat, [&] { return RunSqlite(c, w, true); });
    }
    std::FILE* tsv = c.tsv.empty() ? nullptr : std::fopen(c.tsv.c_str(), "w");
    if (tsv) std::fprintf(tsv, "mode\toperation\ttable_us\ttableio_us\tsqlite_txn_us\tsqlite_wal_us\n");
    std::printf("%d records, %d lookups, %d modifies, best of %d\n", c.records, c.lookups, c.modifies, c.repeat);
    std::printf("%-9s %-12s %12s %12s %12s %12s\n", "mode", "op", "table_us", "tableio_us", "sqlite_txn", "sqlite_wal");
    for (bool enc : {false, true}) {
      if (!c.mode.empty() && c.mode != (enc ? "blowfish" : "plain")) continue;
      Result tab, io;
      if (all || c.only == "table") tab = Best(c.repeat, [&] { return RunTable(c, w, enc); });
      if (all || c.only == "io") io = Best(c.repeat, [&] { return RunTableIO(c, w, enc); });
      if (all && (tab.checksum != txn.checksum || io.checksum != txn.checksum || wal.checksum != txn.checksum ||
                  tab.scan_hits != txn.scan_hits))
        throw std::runtime_error("the engine and SQLite read different data");
      const char* mode = enc ? "blowfish" : "plain";
      struct Row {
        const char* op;
        double tab, io, txn, wal;
      } rows[] = {{"append", tab.append_us, io.append_us, txn.append_us, wal.append_us},
                  {"append_bulk", tab.append_bulk_us, 0, txn.append_us, wal.append_us},
                  {"lookup", tab.lookup_us, io.lookup_us, txn.lookup_us, wal.lookup_us},
                  {"modify", tab.modify_us, io.modify_us, txn.modify_us, wal.modify_us},
                  {"scan", tab.scan_us, io.scan_us, txn.scan_us, wal.scan_us}};
      for (const Row& row : rows) {
        std::printf("%-9s %-12s %12.3f %12.3f %12.3f %12.3f\n", mode, row.op, row.tab, row.io, row.txn, row.wal);
        if (tsv) std::fprintf(tsv, "%s\t%s\t%.4f\t%.4f\t%.4f\t%.4f\n", mode, row.op, row.tab, row.io, row.txn, row.wal);
      }
      std::printf("%-9s %-12s %12lld %12lld %12lld %12lld\n", mode, "bytes", static_cast<long long>(tab.file_size),
                  static_cast<long long>(io.file_size), static_cast<long long>(txn.file_size),
                  static_cast<long long>(wal.file_size));
      if (tsv)
        std::fprintf(tsv, "%s\tfile_bytes\t%lld\t%lld\t%lld\t%lld\n", mode, static_cast<long long>(tab.file_size),
                     static_cast<long long>(io.file_size), static_cast<long long>(txn.file_size),
                     static_cast<long long>(wal.file_size));
      std::fflush(stdout);
    }
    if (tsv) std::fclose(tsv);
  } catch (const zq::Exception& e) {
    std::fprintf(stderr, "error: %s\n", e.Message().c_str());
    rc = 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    rc = 1;
  }
  if (!made.empty()) std::filesystem::remove_all(made);
  return rc;
}
