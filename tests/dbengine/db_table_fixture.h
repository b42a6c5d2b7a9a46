// Helpers of the table data set tests: a scratch folder per test and database files made with
// the creation facility.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "dbengine/db_creator.h"
#include "dbengine/db_table.h"
#include "dbengine/session.h"
#include "dbengine/session_list.h"
#include "platform/exception.h"
#include "tests/dbengine/engine_test_support.h"

namespace zq::testing {

using testing_support::ErrorOf;

class DbTableTest : public ::testing::Test {
 protected:
  DbTableTest() {
    static std::atomic<int> counter{0};
    dir_ = std::filesystem::temp_directory_path() /
           ("zq_dbtable_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  ~DbTableTest() override { std::filesystem::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  std::string Create(const std::string& name, const TDbSchema& schema) {
    const std::string p = Path(name);
    TDbCreator::CreateFile(p, schema);
    return p;
  }

  // A table data set on a file in the default session.
  static std::unique_ptr<TDbTable> Table(const std::string& path, const std::string& table,
                                         const std::string& password = "") {
    auto t = std::make_unique<TDbTable>();
    t->SetDatabaseName(path);
    t->SetTableName(table);
    if (!password.empty())
      t->BeforeOpen = [password](TDataSet& ds) {
        static_cast<TDbTable&>(ds).SetPassword(password);
      };
    return t;
  }

  static TDbDatabase* DefaultDatabase(const std::string& path) {
    return DefaultSession().FindDatabase(path);
  }

  std::filesystem::path dir_;
};

}  // namespace zq::testing
