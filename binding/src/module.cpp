// The module torvex._internal: thirteen classes and seven exception classes, nothing else.
//
//   __all__ = ["DAG", "NodeId", "NodeRef", "ScheduledNode", "ExecutionStep", "ExecutionPlan",
//              "ReachabilityIndex", "GraphStats", "GraphDiff", "NodeIterator",
//              "NodeLevelIterator", "PartitionInfo", "PartitionResult", "TorvexError",
//              "CycleError", "NodeNotFoundError", "DuplicateNodeError", "EdgeNotFoundError",
//              "GraphError", "StaleNodeRefError"]
//
// One interpreter only: a second one gets ImportError. Initialising again in the same
// interpreter returns the module built the first time.
#include <atomic>
#include <cstdint>

#include "exceptions.hpp"
#include "framework/framework.hpp"

namespace torvex::binding {
namespace {

constexpr const char* kClassNames[] = {
    "DAG",
    "NodeId",
    "NodeRef",
    "ScheduledNode",
    "ExecutionStep",
    "ExecutionPlan",
    "ReachabilityIndex",
    "GraphStats",
    "GraphDiff",
    "NodeIterator",
    "NodeLevelIterator",
    "PartitionInfo",
    "PartitionResult",
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_internal",  // m_name
    "",           // m_doc
    0,            // m_size: no per-module state, but initialising again calls the entry again
    nullptr,      // m_methods
    nullptr,      // m_slots
    nullptr,      // m_traverse
    nullptr,      // m_clear
    nullptr,      // m_free
};

std::atomic<std::int64_t> g_interpreter{-1};
// Built once, kept for the process.
PyObject* g_module = nullptr;

// Appends the name to __all__ (created by the first call), then sets the attribute.
bool add(PyObject* module, const char* name, PyObject* value) {
  py::Ref all = py::Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError))
      return false;
    PyErr_Clear();
    all = py::new_list(0);
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0)
      return false;
  }
  py::Ref text = py::str(name);
  if (!text || !py::list_append(all.get(), text)) {
    PyErr_Clear();
    py::panic("could not append __name__ to __all__");
  }
  return PyModule_AddObjectRef(module, name, value) == 0;
}

bool check_interpreter() {
  const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) {
    if (!PyErr_Occurred()) {
      py::raise(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    return false;
  }
  std::int64_t expected = -1;
  if (g_interpreter.compare_exchange_strong(expected, id) || expected == id)
    return true;
  py::raise(PyExc_ImportError,
            "torvex._internal does not support sub-interpreters: it can only be imported once "
            "per process, in the main interpreter");
  return false;
}

PyObject* build_module() {
  // Node arguments and numbers are converted in bulk only when no Python code would run.
  if (!py::learn_python_slots())
    return nullptr;
  py::Ref module = py::Ref::steal(PyModule_Create(&module_def));
  if (!module)
    return nullptr;
  for (const char* name : kClassNames) {
    PyTypeObject* type = py::class_def(name).type();
    if (type == nullptr || !add(module.get(), name, reinterpret_cast<PyObject*>(type))) {
      return nullptr;
    }
  }
  for (std::size_t i = 0; i < kExceptionCount; ++i) {
    if (!add(module.get(), exception_name(i), exception_class(i)))
      return nullptr;
  }
  return module.release();
}

PyObject* init_module() {
  if (!check_interpreter())
    return nullptr;
  if (g_module == nullptr) {
    g_module = build_module();
    if (g_module == nullptr)
      return nullptr;
  }
  return py::new_ref(g_module);
}

}  // namespace
}  // namespace torvex::binding

PyMODINIT_FUNC PyInit__internal() {
  return torvex::py::Guarded<&torvex::binding::init_module>::call();
}
