// Helpers of the table data set tests: a scratch folder per test and database files made with
// the creation facility.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "dbengine/storage/db_creator.h"
#include "dbengine/dataset/db_table.h"
#include "dbengine/session/session.h"
#include "dbengine/session/session_list.h"
#include "platform/exception.h"
#include "tests/dbengine/engine_test_support.h"

namespace zq::testing {

using testing_support::ErrorOf;

class DbTableTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.File(name); }

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

  testing_support::TempDir dir_{"zq-dbtable"};
};

}  // namespace zq::testing
