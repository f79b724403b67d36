#include "errors.hpp"

namespace torvex {

std::string TorvexError::display() const {
  switch (kind_) {
    case ErrorKind::Cycle:
      return "Cycle detected: " + text_;
    case ErrorKind::NodeNotFound:
      return "Node not found: " + text_;
    case ErrorKind::DuplicateNode:
      return "Duplicate node: " + text_;
    case ErrorKind::EdgeNotFound:
      return "Edge not found: " + text_ + " -> " + target_;
    case ErrorKind::StaleNodeRef:
      return "Stale node reference: " + text_ +
             " (the node was removed or replaced after the ref was created)";
    case ErrorKind::Graph:
      return "Graph error: " + text_;
  }
  return text_;
}

}  // namespace torvex
