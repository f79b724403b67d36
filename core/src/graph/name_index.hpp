// Name -> node slot, built for about one cache miss per lookup: open addressing with linear
// probing over 16-byte entries that hold the slot, 24 bits of the name's hash, its length and
// its first eight bytes. A name of at most eight bytes is decided inside the entry; a longer one
// reads the node slot only when hash bits, length and first eight bytes all agree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "graph/stable_graph.hpp"

namespace torvex {

class NameIndex {
 public:
  // Names are read from `graph`'s live slots; the index never owns a copy.
  NameIndex(const StableGraph& graph, std::uint64_t seed) noexcept : graph_(graph), seed_(seed) {}
  NameIndex(const NameIndex&) = delete;
  NameIndex& operator=(const NameIndex&) = delete;

  std::optional<NodeIndex> find(std::string_view name) const noexcept;
  std::size_t size() const noexcept { return size_; }
  // Hints that `name` is about to be looked up (no observable effect).
  void prefetch(std::string_view name) const noexcept {
    if (size_ != 0)
      __builtin_prefetch(&table_[home(key(name).hash)]);
  }

  // Room for this many names in all, so that insert never allocates.
  // Errors: std::bad_alloc (the index unchanged).
  void reserve(std::size_t names);
  // Requires: room (reserve), the name absent, and `n` a live slot holding it.
  void insert(NodeIndex n) noexcept;
  // Requires: `n` live and indexed (before its slot is emptied).
  void erase(NodeIndex n) noexcept;

 private:
  struct Entry {
    std::uint64_t prefix;  // first eight bytes, zero-padded
    NodeIndex slot;        // kEnd: empty
    std::uint32_t check;   // hash bits above the byte, length (capped at 255) in the low byte
  };
  struct Key {
    std::uint64_t hash;
    std::uint64_t prefix;
    std::uint32_t check;
  };

  Key key(std::string_view name) const noexcept;
  std::size_t home(std::uint64_t hash) const noexcept { return hash >> shift_; }
  void place(const Entry& entry, std::uint64_t hash) noexcept;

  struct Free {
    void operator()(Entry* p) const noexcept;
  };

  const StableGraph& graph_;
  std::uint64_t seed_;
  std::unique_ptr<Entry[], Free> table_;
  std::size_t capacity_ = 0;  // a power of two, or 0
  std::size_t mask_ = 0;
  int shift_ = 64;
  std::size_t size_ = 0;
};

}  // namespace torvex
