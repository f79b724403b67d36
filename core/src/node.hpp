// Node identifiers handed out by the store.
#pragma once

#include <cstdint>
#include <string>

#include "types.hpp"

namespace torvex {

// A node's name and its slot index at the time a list was made; never validated again.
struct NodeId {
  std::string name;
  NodeIndex index = 0;
  friend bool operator==(const NodeId&, const NodeId&) = default;
};

// A stable handle: the name and the epoch under which that node was added.
struct NodeHandle {
  std::string name;
  std::uint64_t epoch = 0;
  friend bool operator==(const NodeHandle&, const NodeHandle&) = default;
};

}  // namespace torvex
