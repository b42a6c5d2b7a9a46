// Index order from the records' keys: what a chain should be, computed from the values instead of
// the links, and whether a chain in the file is whole. Used to rebuild a chain that an interrupted
// write or other damage left broken.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "dbengine/format/db_defs.h"
#include "dbengine/format/db_format.h"

namespace zq {

// One record with the decoded stored bytes of each key field, in key field order.
struct TKeyedRecord {
  int32_t RecordId = 0;
  std::vector<std::vector<uint8_t>> Values;
};

// -1, 0 or 1 as a's key sorts before, with or after b's in an index with these key field types and
// options.
int CompareIndexKeys(const TKeyedRecord& a, const TKeyedRecord& b, const std::vector<uint8_t>& key_field_types,
                     TDbIndexOptions options);

// Sorts records into index order. Stable: records with equal keys keep the order in which they come.
void SortByIndexKey(std::vector<TKeyedRecord>& records, const std::vector<uint8_t>& key_field_types,
                    TDbIndexOptions options);

// Whether the chain that starts at head is whole: every link of the first live.size() records names
// its own record; the chain ends (-1) without leaving those records or passing one twice; it passes
// every live record exactly once; and, when compare is given (compare(a, b) > 0: record a's key
// sorts after b's), the live records along it are in key order.
bool ChainIsWhole(int32_t head, const std::vector<TIndexLink>& links, const std::vector<bool>& live,
                  const std::function<int(int32_t, int32_t)>& compare);

}  // namespace zq
