// Per-search node marks that cost what a search touches, not what the graph holds.
// A query that visits a handful of nodes in a graph of millions must not clear an array of
// millions: the marks live in a hash table while few and move to one flat array per slot once
// they cover a sizeable share of the slots, when that array costs no more than the marks did.
// Owned by one call, so concurrent readers of one graph need no shared scratch.
#pragma once

#include <boost/unordered/unordered_flat_map.hpp>
#include <boost/unordered/unordered_flat_set.hpp>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "types.hpp"

namespace torvex::algorithms {

// A set of node slots below a fixed bound.
class NodeSet {
 public:
  explicit NodeSet(NodeIndex bound) noexcept : bound_(bound) {}

  // True when n was not in the set yet.
  bool insert(NodeIndex n) {
    if (is_dense()) {
      std::uint64_t& word = bits_[n / 64];
      const std::uint64_t bit = std::uint64_t{1} << (n % 64);
      if (word & bit)
        return false;
      word |= bit;
      return true;
    }
    if (!sparse_.insert(n).second)
      return false;
    // One bit per slot costs 8 bytes per member at this size.
    if (sparse_.size() > bound_ / 64)
      make_dense();
    return true;
  }

  void erase(NodeIndex n) noexcept {
    if (is_dense()) {
      bits_[n / 64] &= ~(std::uint64_t{1} << (n % 64));
    } else {
      sparse_.erase(n);
    }
  }

  bool contains(NodeIndex n) const noexcept {
    if (is_dense())
      return (bits_[n / 64] >> (n % 64)) & 1u;
    return sparse_.contains(n);
  }

 private:
  bool is_dense() const noexcept { return !bits_.empty(); }

  void make_dense() {
    bits_.assign(std::size_t{bound_} / 64 + 1, 0);
    for (NodeIndex n : sparse_)
      bits_[n / 64] |= std::uint64_t{1} << (n % 64);
    sparse_ = {};
  }

  NodeIndex bound_;
  boost::unordered_flat_set<NodeIndex> sparse_;
  std::vector<std::uint64_t> bits_;  // empty while sparse; never empty once dense
};

// A map from node slots below a fixed bound to node indices (parent links, local numbers);
// kEnd stands for no entry and cannot be stored.
class NodeIndexMap {
 public:
  explicit NodeIndexMap(NodeIndex bound) noexcept : bound_(bound) {}

  // The value stored for n, or kEnd.
  NodeIndex find(NodeIndex n) const noexcept {
    if (!dense_.empty())
      return dense_[n];
    const auto it = sparse_.find(n);
    return it == sparse_.end() ? kEnd : it->second;
  }

  bool contains(NodeIndex n) const noexcept { return find(n) != kEnd; }

  // Stores value for n unless n has an entry; true when it stored.
  bool try_emplace(NodeIndex n, NodeIndex value) {
    if (!dense_.empty()) {
      if (dense_[n] != kEnd)
        return false;
      dense_[n] = value;
      return true;
    }
    if (!sparse_.try_emplace(n, value).second)
      return false;
    // A flat entry per slot costs 32 bytes per entry at this size.
    if (sparse_.size() > bound_ / 8)
      make_dense();
    return true;
  }

 private:
  void make_dense() {
    dense_.assign(std::size_t{bound_} + 1, kEnd);
    for (const auto& [n, value] : sparse_)
      dense_[n] = value;
    sparse_ = {};
  }

  NodeIndex bound_;
  boost::unordered_flat_map<NodeIndex, NodeIndex> sparse_;
  std::vector<NodeIndex> dense_;  // empty while sparse
};

}  // namespace torvex::algorithms
