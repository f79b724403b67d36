// Node costs and priorities, and the float orderings the scheduling and partition families share.
#pragma once

#include <bit>
#include <boost/unordered/unordered_flat_map.hpp>
#include <cmath>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hash.hpp"
#include "interrupt.hpp"
#include "types.hpp"

namespace torvex {

// A caller's costs or priorities by node name. Names that are not in the graph are ignored by
// every consumer.
using CostMap = boost::unordered_flat_map<std::string, double, SeededStringHash, std::equal_to<>>;

}  // namespace torvex

namespace torvex::algorithms {

// A float per node slot; a slot without an entry reads as the fallback (1.0 for costs, 0.0 for
// priorities). Values are kept as given: negative, infinite and NaN included.
class NodeValues {
 public:
  explicit NodeValues(double fallback = 1.0) noexcept : fallback_(fallback) {}

  double operator[](NodeIndex n) const noexcept {
    return n < values_.size() ? values_[n] : fallback_;
  }
  void set(NodeIndex n, double value) {
    if (n >= values_.size())
      values_.resize(std::size_t{n} + 1, fallback_);
    values_[n] = value;
  }
  double fallback() const noexcept { return fallback_; }

 private:
  std::vector<double> values_;
  double fallback_;
};

// IEEE 754 total order as a signed integer: -NaN < -inf < ... < -0 < +0 < ... < inf < +NaN.
constexpr std::int64_t total_order_key(double x) noexcept {
  const auto bits = std::bit_cast<std::int64_t>(x);
  return bits < 0 ? bits ^ INT64_MAX : bits;
}

// A float that compares by the IEEE 754 total order, for sort and heap keys.
struct OrdF64 {
  double value = 0.0;
  friend constexpr std::strong_ordering operator<=>(OrdF64 a, OrdF64 b) noexcept {
    return total_order_key(a.value) <=> total_order_key(b.value);
  }
  friend constexpr bool operator==(OrdF64 a, OrdF64 b) noexcept {
    return total_order_key(a.value) == total_order_key(b.value);
  }
};

// IEEE 754 maxNum: a NaN operand is ignored; on equal operands the first is kept.
inline double max_num(double a, double b) noexcept {
  return std::isnan(b) || a >= b ? a : b;
}

}  // namespace torvex::algorithms

namespace torvex {

// The per-slot form of a cost or priority map for a store that resolves names with
// find(name) -> std::optional<NodeIndex>; names not in the graph are dropped silently.
// `fallback` is what a node without an entry reads: 1.0 for costs, 0.0 for priorities.
// Complexity: one name lookup per entry.
template <class Store>
algorithms::NodeValues names_to_indices(const Store& store, const CostMap& values,
                                        double fallback = 1.0) {
  algorithms::NodeValues out(fallback);
  for (const auto& [name, value] : values) {
    interrupt::poll();
    if (std::optional<NodeIndex> n = store.find(name))
      out.set(*n, value);
  }
  return out;
}

}  // namespace torvex
