#include "dbengine/storage/index_order.h"

#include <algorithm>

#include "dbengine/storage/table_io.h"

namespace zq {

int CompareIndexKeys(const TKeyedRecord& a, const TKeyedRecord& b, const std::vector<uint8_t>& key_field_types,
                     TDbIndexOptions options) {
  const bool ci = (options & tiCaseInsensitive) != 0;
  int c = 0;
  for (size_t k = 0; k < key_field_types.size() && c == 0; ++k) {
    const auto& x = a.Values.at(k);
    const auto& y = b.Values.at(k);
    c = TDbTableIO::CompareValues(x.data(), static_cast<int64_t>(x.size()), y.data(), static_cast<int64_t>(y.size()),
                                  false, ci, key_field_types[k]);
  }
  return (options & tiDescending) ? -c : c;
}

void SortByIndexKey(std::vector<TKeyedRecord>& records, const std::vector<uint8_t>& key_field_types,
                    TDbIndexOptions options) {
  std::stable_sort(records.begin(), records.end(), [&](const TKeyedRecord& a, const TKeyedRecord& b) {
    return CompareIndexKeys(a, b, key_field_types, options) < 0;
  });
}

bool ChainIsWhole(int32_t head, const std::vector<TIndexLink>& links, const std::vector<bool>& live,
                  const std::function<int(int32_t, int32_t)>& compare) {
  const auto count = static_cast<int32_t>(live.size());
  if (links.size() < live.size()) return false;
  for (int32_t r = 0; r < count; ++r)
    if (links[static_cast<size_t>(r)].RecordId != r) return false;
  std::vector<bool> seen(live.size(), false);
  int32_t live_seen = 0, previous = -1;
  for (int32_t r = head; r != -1; r = links[static_cast<size_t>(r)].NextRecordId) {
    if (r < 0 || r >= count || seen[static_cast<size_t>(r)]) return false;
    seen[static_cast<size_t>(r)] = true;
    if (!live[static_cast<size_t>(r)]) continue;
    if (compare && previous >= 0 && compare(previous, r) > 0) return false;
    previous = r;
    ++live_seen;
  }
  return live_seen == static_cast<int32_t>(std::count(live.begin(), live.end(), true));
}

}  // namespace zq
