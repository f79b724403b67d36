#include "algorithms/reachability.hpp"

#include <unistd.h>

#include <bit>
#include <cassert>
#include <limits>
#include <new>

#include "algorithms/toposort.hpp"
#include "interrupt.hpp"

namespace torvex::algorithms {

namespace {

constexpr std::size_t kWordBits = 64;

// Bytes of physical memory, or the largest size_t when the system does not say.
std::size_t physical_memory_bytes() noexcept {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long page_size = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0)
    return std::numeric_limits<std::size_t>::max();
  const auto p = static_cast<std::size_t>(pages);
  const auto s = static_cast<std::size_t>(page_size);
  return p > std::numeric_limits<std::size_t>::max() / s ? std::numeric_limits<std::size_t>::max()
                                                         : p * s;
}

// `count` zero words. Refused up front when the size overflows or exceeds physical
// memory: with overcommit the allocation could succeed and the process be killed once the pages
// are touched.
std::uint64_t* allocate_zeroed_words(std::size_t count) {
  if (count == 0)
    return nullptr;
  if (count * sizeof(std::uint64_t) > physical_memory_bytes())
    throw std::bad_alloc();
  void* words = std::calloc(count, sizeof(std::uint64_t));
  if (words == nullptr)
    throw std::bad_alloc();
  return static_cast<std::uint64_t*>(words);
}

bool test_bit(const std::uint64_t* row, std::size_t bit) noexcept {
  return (row[bit / kWordBits] >> (bit % kWordBits)) & 1u;
}

}  // namespace

Result<ReachabilityIndex> ReachabilityIndex::build(const StableGraph& graph) {
  auto order = topological_sort_kahn(graph);
  if (!order.ok())
    return std::move(order).error();

  ReachabilityIndex index;
  index.order_ = std::move(order).value();
  const std::size_t n = index.order_.size();
  index.words_per_row_ = (n + kWordBits - 1) / kWordBits;
  // n < 2^32, so the triangle's word count (under 2^58) cannot overflow.
  index.rows_.reset(allocate_zeroed_words(row_offset(n, index.words_per_row_)));
  index.position_by_slot_.assign(graph.node_bound(), kEnd);
  for (std::size_t p = 0; p < n; ++p) {
    index.position_by_slot_[index.order_[p]] = static_cast<NodeIndex>(p);
  }

  // Backward over the order: every successor sits at a later position, so its row is final.
  // A successor's row starts at its own word, later than this row's start.
  const std::size_t words = index.words_per_row_;
  for (std::size_t p = n; p-- > 0;) {
    interrupt::poll();
    std::uint64_t* row = index.row(p);
    row[p / kWordBits] |= std::uint64_t{1} << (p % kWordBits);
    graph.for_each_successor(index.order_[p], [&](NodeIndex v) {
      const std::size_t s = index.position_by_slot_[v];
      assert(s > p && s < n && "successor before its node in a topological order");
      const std::uint64_t* from = index.row(s);
      for (std::size_t w = s / kWordBits; w < words; ++w)
        row[w] |= from[w];
    });
  }
  return index;
}

std::optional<std::size_t> ReachabilityIndex::position(NodeIndex node) const noexcept {
  if (node >= position_by_slot_.size() || position_by_slot_[node] == kEnd)
    return std::nullopt;
  return position_by_slot_[node];
}

bool ReachabilityIndex::can_reach(NodeIndex from, NodeIndex to) const noexcept {
  const auto pf = position(from);
  const auto pt = position(to);
  // Earlier positions are never reachable, and their words are not stored.
  return pf && pt && *pt >= *pf && test_bit(row(*pf), *pt);
}

IndexList ReachabilityIndex::reachable_from(NodeIndex node) const {
  IndexList found;
  const auto p = position(node);
  if (!p)
    return found;
  const std::uint64_t* r = row(*p);
  // Words below the node's own hold no bit; the high bits of the last word are never set.
  for (std::size_t w = *p / kWordBits; w < words_per_row_; ++w) {
    for (std::uint64_t bits = r[w]; bits != 0; bits &= bits - 1) {
      const std::size_t b = w * kWordBits + static_cast<std::size_t>(std::countr_zero(bits));
      if (b != *p)
        found.push_back(order_[b]);
    }
  }
  return found;
}

IndexList ReachabilityIndex::ancestors_of(NodeIndex node) const {
  IndexList found;
  const auto p = position(node);
  if (!p)
    return found;
  // Only earlier positions can reach a node.
  for (std::size_t j = 0; j < *p; ++j) {
    if (test_bit(row(j), *p))
      found.push_back(order_[j]);
  }
  return found;
}

}  // namespace torvex::algorithms
