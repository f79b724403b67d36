// The cached-read protocol shared by the topics that read the cache (private to the core).
//
// A hit is counted only for a filled slot of the current generation; a miss only when a result
// was stored. The computation itself never runs under the lock.
#pragma once

#include <mutex>
#include <shared_mutex>

#include "graph/dag.hpp"

namespace torvex {

template <class T, class Compute>
std::shared_ptr<const T> GraphStore::with_cache(std::shared_ptr<const T> DagCache::*slot,
                                                Compute&& compute) const {
  {
    std::shared_lock lock(cache_lock_);
    std::shared_ptr<const T> cached = cache_.*slot;
    if (cached && cache_.cached_generation == generation_) {
      lock.unlock();
      std::unique_lock write(cache_lock_);
      ++cache_.hits;
      return cached;
    }
  }
  // The computation runs without the lock; concurrent misses both compute and the last store wins.
  auto computed = std::make_shared<const T>(compute());
  std::unique_lock write(cache_lock_);
  ++cache_.misses;
  cache_.cached_generation = generation_;
  cache_.*slot = computed;
  return computed;
}

template <class T, class Compute>
Result<std::shared_ptr<const T>> GraphStore::with_cache_result(
    std::shared_ptr<const T> DagCache::*slot, Compute&& compute) const {
  {
    std::shared_lock lock(cache_lock_);
    std::shared_ptr<const T> cached = cache_.*slot;
    if (cached && cache_.cached_generation == generation_) {
      lock.unlock();
      std::unique_lock write(cache_lock_);
      ++cache_.hits;
      return cached;
    }
  }
  Result<T> result = compute();
  // A failed computation is neither stored nor counted.
  if (!result.ok())
    return std::move(result).error();
  auto computed = std::make_shared<const T>(std::move(result).value());
  std::unique_lock write(cache_lock_);
  ++cache_.misses;
  cache_.cached_generation = generation_;
  cache_.*slot = computed;
  return computed;
}

}  // namespace torvex
