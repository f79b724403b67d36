// Node lists: the form in which the algorithms return nodes and the store caches them.
#pragma once

#include <memory>
#include <vector>

#include "types.hpp"

namespace torvex {

using IndexList = std::vector<NodeIndex>;
using Levels = std::vector<IndexList>;
// Cached lists are immutable and shared, so a hit hands out the list without copying it.
using SharedIndexList = std::shared_ptr<const IndexList>;
using SharedLevels = std::shared_ptr<const Levels>;

}  // namespace torvex
