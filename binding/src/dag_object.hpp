// The Python class DAG: an object that owns one core graph of PyNodePayload records.
#pragma once

#include "framework/framework.hpp"
#include "graph/dag.hpp"
#include "payload.hpp"

namespace torvex::binding {

using CoreDAG = torvex::DAG<PyNodePayload>;

struct PyDAG {
  using Value = CoreDAG;
  static constexpr bool kFrozen = false;
  static constexpr const char* kName = "DAG";
};

using SharedDAG = py::Shared<PyDAG>;
using ExclusiveDAG = py::Exclusive<PyDAG>;

}  // namespace torvex::binding
