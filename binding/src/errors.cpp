// Exception classes and error conversion.
//
//   class TorvexError(Exception): "Base exception for all torvex errors."
//   class CycleError(TorvexError): ...          (module "torvex", one text argument)
//   class NodeNotFoundError(TorvexError): ...
//   class DuplicateNodeError(TorvexError): ...
//   class EdgeNotFoundError(TorvexError): ...
//   class GraphError(TorvexError): ...
//   class StaleNodeRefError(TorvexError): ...
#include <string>

#include "exceptions.hpp"
#include "framework/failure.hpp"

namespace torvex::binding {
namespace {

// Created once, under the interpreter lock, and never released.
PyObject* cached_class(PyObject*& cell, const char* qualified_name, const char* doc,
                       PyObject* base) {
  if (cell == nullptr)
    cell = py::new_exception_class(qualified_name, doc, base);
  return cell;
}

template <const char* QualifiedName, const char* Doc>
PyObject* subclass() {
  static PyObject* cell = nullptr;
  return cached_class(cell, QualifiedName, Doc, torvex_error_type());
}

constexpr char kCycleName[] = "torvex.CycleError";
constexpr char kCycleDoc[] = "Raised when an operation would create a cycle in the DAG.";
constexpr char kNotFoundName[] = "torvex.NodeNotFoundError";
constexpr char kNotFoundDoc[] = "Raised when a referenced node does not exist.";
constexpr char kDuplicateName[] = "torvex.DuplicateNodeError";
constexpr char kDuplicateDoc[] = "Raised when adding a node with a name that already exists.";
constexpr char kEdgeName[] = "torvex.EdgeNotFoundError";
constexpr char kEdgeDoc[] = "Raised when a referenced edge does not exist.";
constexpr char kGraphName[] = "torvex.GraphError";
constexpr char kGraphDoc[] = "Raised for general graph operation errors.";
constexpr char kStaleName[] = "torvex.StaleNodeRefError";
constexpr char kStaleDoc[] =
    "Raised when a NodeRef refers to a node that has been removed or replaced.";

constexpr ExceptionClass kClasses[kExceptionCount] = {
    {"TorvexError", &torvex_error_type},
    {"CycleError", &cycle_error_type},
    {"NodeNotFoundError", &node_not_found_error_type},
    {"DuplicateNodeError", &duplicate_node_error_type},
    {"EdgeNotFoundError", &edge_not_found_error_type},
    {"GraphError", &graph_error_type},
    {"StaleNodeRefError", &stale_node_ref_error_type},
};

}  // namespace

const ExceptionClass* exception_classes() {
  return kClasses;
}

PyObject* torvex_error_type() {
  static PyObject* cell = nullptr;
  return cached_class(cell, "torvex.TorvexError", "Base exception for all torvex errors.",
                      PyExc_Exception);
}
PyObject* cycle_error_type() {
  return subclass<kCycleName, kCycleDoc>();
}
PyObject* node_not_found_error_type() {
  return subclass<kNotFoundName, kNotFoundDoc>();
}
PyObject* duplicate_node_error_type() {
  return subclass<kDuplicateName, kDuplicateDoc>();
}
PyObject* edge_not_found_error_type() {
  return subclass<kEdgeName, kEdgeDoc>();
}
PyObject* graph_error_type() {
  return subclass<kGraphName, kGraphDoc>();
}
PyObject* stale_node_ref_error_type() {
  return subclass<kStaleName, kStaleDoc>();
}

std::nullptr_t into_pyerr(const TorvexError& error) {
  switch (error.kind()) {
    case ErrorKind::Cycle:
      return py::raise(cycle_error_type(), error.text());
    case ErrorKind::NodeNotFound:
      return py::raise(node_not_found_error_type(), error.text());
    case ErrorKind::DuplicateNode:
      return py::raise(duplicate_node_error_type(), error.text());
    case ErrorKind::EdgeNotFound:
      return py::raise(edge_not_found_error_type(), error.text() + " -> " + error.target());
    case ErrorKind::StaleNodeRef:
      return py::raise(stale_node_ref_error_type(), error.text());
    case ErrorKind::Graph:
      return py::raise(graph_error_type(), error.text());
  }
  py::panic("unknown error kind");
}

}  // namespace torvex::binding
