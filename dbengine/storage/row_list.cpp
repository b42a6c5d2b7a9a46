#include "dbengine/storage/row_list.h"

#include <algorithm>

namespace zq {

void TRowList::clear() {
  blocks_.clear();
  starts_.clear();
  size_ = 0;
  last_block_ = 0;
  last_start_ = 0;
}

size_t TRowList::BlockOf(size_t position) const {
  if (last_block_ < blocks_.size() && position >= starts_[last_block_] &&
      position - starts_[last_block_] < blocks_[last_block_].size()) {
    last_start_ = starts_[last_block_];
    return last_block_;
  }
  // The next block: a reader walking forward.
  const size_t next = last_block_ + 1;
  if (next < blocks_.size() && position >= starts_[next] && position - starts_[next] < blocks_[next].size()) {
    last_block_ = next;
  } else {
    last_block_ = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), position) - starts_.begin()) - 1;
  }
  last_start_ = starts_[last_block_];
  return last_block_;
}

void TRowList::UpdateStarts(size_t from_block) {
  starts_.resize(blocks_.size());
  size_t start = from_block == 0 ? 0 : starts_[from_block - 1] + blocks_[from_block - 1].size();
  for (size_t b = from_block; b < blocks_.size(); ++b) {
    starts_[b] = start;
    start += blocks_[b].size();
  }
  last_block_ = 0;
  last_start_ = 0;
}

void TRowList::push_back(const TRowRef& ref) {
  if (blocks_.empty() || blocks_.back().size() >= kBlockSize) {
    blocks_.emplace_back().reserve(kBlockSize);
    starts_.push_back(size_);
  }
  blocks_.back().push_back(ref);
  ++size_;
}

void TRowList::insert(size_t position, const TRowRef& ref) {
  if (position >= size_) return push_back(ref);
  size_t b = BlockOf(position);
  std::vector<TRowRef>& block = blocks_[b];
  block.insert(block.begin() + static_cast<std::ptrdiff_t>(position - starts_[b]), ref);
  ++size_;
  if (block.size() > 2 * kBlockSize) {
    // A full block splits in two halves.
    std::vector<TRowRef> upper(block.begin() + static_cast<std::ptrdiff_t>(kBlockSize), block.end());
    block.resize(kBlockSize);
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b) + 1, std::move(upper));
  }
  UpdateStarts(b + 1);
}

void TRowList::erase(size_t position) {
  if (position >= size_) return;
  size_t b = BlockOf(position);
  std::vector<TRowRef>& block = blocks_[b];
  block.erase(block.begin() + static_cast<std::ptrdiff_t>(position - starts_[b]));
  --size_;
  if (block.empty()) {
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
    starts_.erase(starts_.begin() + static_cast<std::ptrdiff_t>(b));
    UpdateStarts(b);
    return;
  }
  // A block that erases left small takes in its successor, so that blocks stay few.
  if (block.size() < kBlockSize / 4 && b + 1 < blocks_.size() && block.size() + blocks_[b + 1].size() <= 2 * kBlockSize) {
    block.insert(block.end(), blocks_[b + 1].begin(), blocks_[b + 1].end());
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b) + 1);
    starts_.erase(starts_.begin() + static_cast<std::ptrdiff_t>(b) + 1);
  }
  UpdateStarts(b + 1);
}

bool TRowList::operator==(const TRowList& other) const {
  if (size_ != other.size_) return false;
  for (size_t i = 0; i < size_; ++i)
    if (!((*this)[i] == other[i])) return false;
  return true;
}

std::vector<TRowRef> TRowList::ToVector() const {
  std::vector<TRowRef> out;
  out.reserve(size_);
  for (const auto& block : blocks_) out.insert(out.end(), block.begin(), block.end());
  return out;
}

}  // namespace zq
