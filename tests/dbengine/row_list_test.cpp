// The row list against a plain array: seeded random inserts, removes, position reads and writes,
// appends, searches and rotations, many more entries than one block holds, compared whole after
// every burst of operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <random>
#include <vector>

#include "dbengine/storage/row_list.h"

namespace zq {
namespace {

uint32_t Seed() {
  const char* env = std::getenv("ZQ_ROW_LIST_SEED");
  return env != nullptr && *env != '\0' ? static_cast<uint32_t>(std::strtoul(env, nullptr, 10)) : 20261209u;
}

::testing::AssertionResult Same(const TRowList& list, const std::vector<TRowRef>& model) {
  if (list.size() != model.size())
    return ::testing::AssertionFailure() << "size " << list.size() << " instead of " << model.size();
  if (list.ToVector() != model) return ::testing::AssertionFailure() << "the blocks hold another order";
  size_t k = 0;
  for (const TRowRef& ref : list) {
    if (!(ref == model[k])) return ::testing::AssertionFailure() << "iteration differs at " << k;
    ++k;
  }
  for (size_t p = model.size(); p-- > 0;)
    if (!(list[p] == model[p])) return ::testing::AssertionFailure() << "position " << p << " read backwards differs";
  return ::testing::AssertionSuccess();
}

TEST(RowList, MatchesAnArrayUnderRandomOperations) {
  const uint32_t seed = Seed();
  std::cout << "seed " << seed << " (ZQ_ROW_LIST_SEED)\n";
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  TRowList list;
  std::vector<TRowRef> model;
  int32_t next_id = 0;
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  // Phases: grow well past several blocks, churn around a size, shrink to nothing, grow again.
  const std::vector<std::pair<int, int>> phases = {{6000, 80}, {6000, 50}, {8000, 15}, {3000, 70}};
  for (const auto& [steps, insert_percent] : phases) {
    for (int s = 0; s < steps; ++s) {
      const uint32_t roll = rng() % 100;
      if (model.empty() || roll < static_cast<uint32_t>(insert_percent)) {
        const TRowRef ref{static_cast<int32_t>(rng()), next_id++};
        if (rng() % 4 == 0) {
          list.push_back(ref);
          model.push_back(ref);
        } else {
          const size_t at = pick(model.size() + 1);
          const auto it = list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), ref);
          ASSERT_EQ(it - list.begin(), static_cast<std::ptrdiff_t>(at));
          model.insert(model.begin() + static_cast<std::ptrdiff_t>(at), ref);
        }
      } else if (roll < 90) {
        const size_t at = pick(model.size());
        list.erase(at);
        model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
      } else if (roll < 97) {
        // A write through a position, then reads at random positions.
        const size_t at = pick(model.size());
        list[at].DataOffset = model[at].DataOffset = static_cast<int32_t>(rng());
        for (int k = 0; k < 8; ++k) {
          const size_t p = pick(model.size());
          ASSERT_EQ(list[p], model[p]) << "position " << p;
        }
      } else {
        // A row that moves between two places, as a data set moves one after a modify.
        const size_t from = pick(model.size()), to = pick(model.size());
        auto rotate = [&](auto first, auto middle, auto last) { std::rotate(first, middle, last); };
        if (from < to) {
          rotate(list.begin() + static_cast<std::ptrdiff_t>(from), list.begin() + static_cast<std::ptrdiff_t>(from) + 1,
                 list.begin() + static_cast<std::ptrdiff_t>(to) + 1);
          rotate(model.begin() + static_cast<std::ptrdiff_t>(from), model.begin() + static_cast<std::ptrdiff_t>(from) + 1,
                 model.begin() + static_cast<std::ptrdiff_t>(to) + 1);
        } else {
          rotate(list.begin() + static_cast<std::ptrdiff_t>(to), list.begin() + static_cast<std::ptrdiff_t>(from),
                 list.begin() + static_cast<std::ptrdiff_t>(from) + 1);
          rotate(model.begin() + static_cast<std::ptrdiff_t>(to), model.begin() + static_cast<std::ptrdiff_t>(from),
                 model.begin() + static_cast<std::ptrdiff_t>(from) + 1);
        }
      }
      if (s % 500 == 0) ASSERT_TRUE(Same(list, model)) << "step " << s;
    }
    ASSERT_TRUE(Same(list, model)) << "end of a phase at " << model.size() << " entries";
  }
  EXPECT_THROW((void)list.at(model.size()), std::out_of_range);
  list.clear();
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.begin(), list.end());
}

// Binary searches through the iterators, as the table layer finds a record ID in physical order.
TEST(RowList, SortedSearchAndCopies) {
  TRowList list;
  std::vector<TRowRef> model;
  for (int32_t id = 0; id < 5000; id += 3) {
    list.push_back({id * 10, id});
    model.push_back({id * 10, id});
  }
  auto by_id = [](const TRowRef& ref, int32_t v) { return ref.RecordId < v; };
  for (int32_t v = -1; v < 5002; ++v) {
    const auto got = std::lower_bound(list.begin(), list.end(), v, by_id);
    const auto want = std::lower_bound(model.begin(), model.end(), v, by_id);
    ASSERT_EQ(got - list.begin(), want - model.begin()) << v;
  }
  TRowList copy = list;
  EXPECT_TRUE(copy == list);
  copy.erase(0);
  EXPECT_FALSE(copy == list);
  const TRowList small{{1, 2}, {3, 4}};
  EXPECT_EQ(small.size(), 2u);
  EXPECT_EQ(small.back(), (TRowRef{3, 4}));
}

}  // namespace
}  // namespace zq
