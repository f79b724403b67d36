// The payload record of every node of a Python-owned graph.
#pragma once

#include "framework/gil.hpp"
#include "framework/ref.hpp"

namespace torvex::binding {

// Two optional strong references. Dropping them goes through the deferred release, so a record
// may be destroyed while the interpreter lock is released.
struct PyNodePayload {
  py::DeferredRef payload;
  py::DeferredRef metadata;

  // A record sharing the same objects (for copies of a node). Requires the lock.
  PyNodePayload clone() const noexcept { return {payload.clone(), metadata.clone()}; }
};

// The stored object, or None when absent. New reference.
inline PyObject* object_or_none(const py::DeferredRef& ref) noexcept {
  return py::new_ref(ref ? ref.get() : Py_None);
}

}  // namespace torvex::binding
