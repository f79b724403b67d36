// The cache topic: derived lists read and filled under the reader-writer lock.
#include <mutex>

#include "graph/dag.hpp"

namespace torvex {

void DagCache::invalidate() noexcept {
  roots.reset();
  leaves.reset();
  topo_sort.reset();
  topo_sort_dfs.reset();
  topo_levels.reset();
}

std::size_t DagCache::size() const noexcept {
  return std::size_t{roots != nullptr} + (leaves != nullptr) + (topo_sort != nullptr) +
         (topo_sort_dfs != nullptr) + (topo_levels != nullptr);
}

std::uint64_t GraphStore::cache_hits() const {
  std::shared_lock lock(cache_lock_);
  return cache_.hits;
}

std::uint64_t GraphStore::cache_misses() const {
  std::shared_lock lock(cache_lock_);
  return cache_.misses;
}

std::size_t GraphStore::cache_size() const {
  std::shared_lock lock(cache_lock_);
  return cache_.size();
}

void GraphStore::clear_cache() const {
  std::unique_lock lock(cache_lock_);
  cache_.invalidate();
}

void GraphStore::bump_generation() {
  ++generation_;
  std::unique_lock lock(cache_lock_);
  cache_.invalidate();
}

}  // namespace torvex
