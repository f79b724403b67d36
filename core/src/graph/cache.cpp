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
  successors.reset();
  name_prefixes.reset();
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
  // The working forms are no result: they stay while the graph does not change.
  SharedFlatSuccessors successors = std::move(cache_.successors);
  SharedNamePrefixes prefixes = std::move(cache_.name_prefixes);
  cache_.invalidate();
  cache_.successors = std::move(successors);
  cache_.name_prefixes = std::move(prefixes);
}

template <class T, class Build>
std::shared_ptr<const T> GraphStore::working_form(std::shared_ptr<const T> DagCache::*slot,
                                                  Build&& build) const {
  {
    std::shared_lock lock(cache_lock_);
    std::shared_ptr<const T> kept = cache_.*slot;
    if (kept && working_generation_ == generation_)
      return kept;
  }
  auto built = std::make_shared<const T>(build());
  keep_working_form(slot, built);
  return built;
}

template <class T>
void GraphStore::keep_working_form(std::shared_ptr<const T> DagCache::*slot,
                                   std::shared_ptr<const T> form) const {
  std::unique_lock lock(cache_lock_);
  if (working_generation_ != generation_) {
    cache_.successors.reset();
    cache_.name_prefixes.reset();
    working_generation_ = generation_;
  }
  cache_.*slot = std::move(form);
}

template void GraphStore::keep_working_form(SharedFlatSuccessors DagCache::*,
                                            SharedFlatSuccessors) const;

SharedFlatSuccessors GraphStore::flat_successors() const {
  return working_form(&DagCache::successors, [&] { return FlatSuccessors(graph_); });
}

SharedNamePrefixes GraphStore::name_prefixes() const {
  return working_form(&DagCache::name_prefixes, [&] { return torvex::name_prefixes(graph_); });
}

void GraphStore::bump_generation() {
  ++generation_;
  std::unique_lock lock(cache_lock_);
  cache_.invalidate();
}

}  // namespace torvex
