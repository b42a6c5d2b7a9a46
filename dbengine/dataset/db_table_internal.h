// Helpers shared by the units of TDbTable (db_table.cpp, db_table_search.cpp); not part of the
// engine's interface.
#pragma once

#include <cstdint>
#include <utility>

#include "dbengine/storage/row_list.h"

namespace zq::db_table_detail {

// Runs a clean-up when the scope ends, normally or by an exception.
template <class F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(std::move(f)) {}
  ~ScopeExit() { f_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F f_;
};

// Position of a row in a list by record ID, -1 when absent.
inline int FindRow(const TRowList& list, int32_t record_id) {
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].RecordId == record_id) return static_cast<int>(i);
  return -1;
}

}  // namespace zq::db_table_detail
