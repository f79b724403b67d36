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

struct ExceptionText {
  const char* name;
  const char* doc;
};

// In the order the module adds them; the first is the base of the others.
constexpr ExceptionText kExceptions[kExceptionCount] = {
    {"TorvexError", "Base exception for all torvex errors."},
    {"CycleError", "Raised when an operation would create a cycle in the DAG."},
    {"NodeNotFoundError", "Raised when a referenced node does not exist."},
    {"DuplicateNodeError", "Raised when adding a node with a name that already exists."},
    {"EdgeNotFoundError", "Raised when a referenced edge does not exist."},
    {"GraphError", "Raised for general graph operation errors."},
    {"StaleNodeRefError",
     "Raised when a NodeRef refers to a node that has been removed or replaced."},
};

enum ClassIndex : std::size_t {
  kTorvex,
  kCycle,
  kNodeNotFound,
  kDuplicateNode,
  kEdgeNotFound,
  kGraph,
  kStaleNodeRef,
};

}  // namespace

const char* exception_name(std::size_t i) {
  return kExceptions[i].name;
}

PyObject* exception_class(std::size_t i) {
  // Created once, under the interpreter lock, and never released.
  static PyObject* cells[kExceptionCount] = {};
  if (cells[i] == nullptr) {
    // The base first, so that it exists whichever class is asked for first.
    PyObject* base = i == kTorvex ? PyExc_Exception : exception_class(kTorvex);
    const std::string qualified_name = std::string("torvex.") + kExceptions[i].name;
    cells[i] = py::new_exception_class(qualified_name.c_str(), kExceptions[i].doc, base);
  }
  return cells[i];
}

std::nullptr_t into_pyerr(const TorvexError& error) {
  switch (error.kind()) {
    case ErrorKind::Cycle:
      return py::raise(exception_class(kCycle), error.text());
    case ErrorKind::NodeNotFound:
      return py::raise(exception_class(kNodeNotFound), error.text());
    case ErrorKind::DuplicateNode:
      return py::raise(exception_class(kDuplicateNode), error.text());
    case ErrorKind::EdgeNotFound:
      return py::raise(exception_class(kEdgeNotFound), error.text() + " -> " + error.target());
    case ErrorKind::StaleNodeRef:
      return py::raise(exception_class(kStaleNodeRef), error.text());
    case ErrorKind::Graph:
      return py::raise(exception_class(kGraph), error.text());
  }
  py::panic("unknown error kind");
}

}  // namespace torvex::binding
