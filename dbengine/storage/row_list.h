// TRowList: an ordered list of row references (record image offset, record ID) that the table
// layer keeps per index and a data set keeps for its visible rows. It holds its references in
// blocks of at most kBlockSize entries, with the position at which each block starts, so that an
// insert or a remove at any place moves at most one block's entries and the starts of the blocks
// after it, instead of every entry after the place: a record that moves in an index of 100,000
// records costs a few hundred moves, not tens of thousands. Positions and order are those of a
// plain array; reading through the positions in order finds each block once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace zq {

// A record's place: the offset of its record image and its record ID.
struct TRowRef {
  int32_t DataOffset = 0;
  int32_t RecordId = 0;
  bool operator==(const TRowRef&) const = default;
};

class TRowList {
 public:
  static constexpr size_t kBlockSize = 512;

  template <bool Const>
  class Iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = TRowRef;
    using difference_type = std::ptrdiff_t;
    using pointer = std::conditional_t<Const, const TRowRef*, TRowRef*>;
    using reference = std::conditional_t<Const, const TRowRef&, TRowRef&>;
    using List = std::conditional_t<Const, const TRowList, TRowList>;

    Iterator() = default;
    Iterator(List* list, difference_type position) : list_(list), position_(position) {}
    operator Iterator<true>() const { return {list_, position_}; }

    reference operator*() const { return (*list_)[static_cast<size_t>(position_)]; }
    pointer operator->() const { return &**this; }
    reference operator[](difference_type n) const { return *(*this + n); }
    Iterator& operator++() { return ++position_, *this; }
    Iterator operator++(int) { Iterator old = *this; ++position_; return old; }
    Iterator& operator--() { return --position_, *this; }
    Iterator operator--(int) { Iterator old = *this; --position_; return old; }
    Iterator& operator+=(difference_type n) { return position_ += n, *this; }
    Iterator& operator-=(difference_type n) { return position_ -= n, *this; }
    friend Iterator operator+(Iterator it, difference_type n) { return it += n; }
    friend Iterator operator+(difference_type n, Iterator it) { return it += n; }
    friend Iterator operator-(Iterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const Iterator& a, const Iterator& b) { return a.position_ - b.position_; }
    friend bool operator==(const Iterator& a, const Iterator& b) { return a.position_ == b.position_; }
    friend auto operator<=>(const Iterator& a, const Iterator& b) { return a.position_ <=> b.position_; }
    difference_type Position() const { return position_; }

   private:
    List* list_ = nullptr;
    difference_type position_ = 0;
  };
  using iterator = Iterator<false>;
  using const_iterator = Iterator<true>;
  using value_type = TRowRef;
  using size_type = size_t;

  TRowList() = default;
  TRowList(std::initializer_list<TRowRef> refs) {
    for (const TRowRef& ref : refs) push_back(ref);
  }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear();
  void reserve(size_t) {}

  const TRowRef& operator[](size_t position) const {
    const size_t block = BlockOf(position);
    return blocks_[block][position - last_start_];
  }
  TRowRef& operator[](size_t position) {
    const size_t block = BlockOf(position);
    return blocks_[block][position - last_start_];
  }
  const TRowRef& at(size_t position) const {
    if (position >= size_) throw std::out_of_range("row list position out of range");
    return (*this)[position];
  }
  const TRowRef& front() const { return (*this)[0]; }
  const TRowRef& back() const { return blocks_.back().back(); }
  TRowRef& back() { return blocks_.back().back(); }

  iterator begin() { return {this, 0}; }
  iterator end() { return {this, static_cast<std::ptrdiff_t>(size_)}; }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, static_cast<std::ptrdiff_t>(size_)}; }

  void push_back(const TRowRef& ref);
  void insert(size_t position, const TRowRef& ref);
  void erase(size_t position);
  iterator insert(const_iterator at, const TRowRef& ref) {
    insert(static_cast<size_t>(at.Position()), ref);
    return {this, at.Position()};
  }
  iterator erase(const_iterator at) {
    erase(static_cast<size_t>(at.Position()));
    return {this, at.Position()};
  }

  bool operator==(const TRowList& other) const;
  // The references in order, as one array.
  std::vector<TRowRef> ToVector() const;

 private:
  // The block that holds a position (< size); sets last_start_ to its first position. Sequential
  // reads stay in the block found last.
  size_t BlockOf(size_t position) const;
  void UpdateStarts(size_t from_block);

  std::vector<std::vector<TRowRef>> blocks_;
  std::vector<size_t> starts_;  // starts_[b]: the position of block b's first entry
  size_t size_ = 0;
  mutable size_t last_block_ = 0;
  mutable size_t last_start_ = 0;
};

}  // namespace zq
