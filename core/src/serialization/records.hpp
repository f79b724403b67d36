// The records of a whole graph as the JSON document holds them: plain values, owned by
// whoever built them, sharing nothing with any graph.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "serialization/json_value.hpp"

namespace torvex {

struct SerializableNode {
  std::string name;
  std::optional<JsonValue> payload;  // nothing: the node has no payload
};

struct SerializableEdge {
  std::string from;
  std::string to;
  double weight = 1.0;
  std::optional<std::string> label;
};

struct SerializableGraph {
  std::vector<SerializableNode> nodes;
  std::vector<SerializableEdge> edges;
};

}  // namespace torvex
