// The Python class DAG: an object that owns one core graph of PyNodePayload records.
#pragma once

#include <utility>

#include "framework/framework.hpp"
#include "graph/dag.hpp"
#include "payload.hpp"

namespace torvex::binding {

using CoreDAG = torvex::DAG<PyNodePayload>;

struct PyDAG {
  using Value = CoreDAG;
  static constexpr bool kFrozen = false;
  static constexpr const char* kName = "DAG";

  // Cyclic garbage collection over the payload and metadata objects (a payload may refer back
  // to its graph). See dag.cpp.
  static int traverse(const CoreDAG& dag, visitproc visit, void* arg) noexcept;
  static int clear(PyObject* self) noexcept;
};

using SharedDAG = py::Shared<PyDAG>;
using ExclusiveDAG = py::Exclusive<PyDAG>;

// A method or slot without parameters that only reads the graph: Body(const CoreDAG&) runs
// under a shared borrow and its result is returned as it is; a failing borrow returns the
// slot's error value with the borrow error set.
template <auto Body>
auto with_shared(PyObject* self) -> decltype(Body(std::declval<const CoreDAG&>())) {
  using R = decltype(Body(std::declval<const CoreDAG&>()));
  SharedDAG dag(self);
  if (!dag)
    return py::error_value<R>();
  return Body(*dag);
}

}  // namespace torvex::binding
