// The module's seven exception classes and the conversion of core errors into them.
#pragma once

#include <cstddef>

#include "errors.hpp"
#include "framework/python.hpp"

namespace torvex::binding {

// The classes in the order the module adds them: TorvexError first, then one per error kind.
inline constexpr std::size_t kExceptionCount = 7;
struct ExceptionClass {
  const char* name;     // module attribute, e.g. "CycleError"
  PyObject* (*type)();  // borrowed; created on first call, kept for the process
};
const ExceptionClass* exception_classes();

PyObject* torvex_error_type();
PyObject* cycle_error_type();
PyObject* node_not_found_error_type();
PyObject* duplicate_node_error_type();
PyObject* edge_not_found_error_type();
PyObject* graph_error_type();
PyObject* stale_node_ref_error_type();

// Raises the exception of the error's kind with its bare text: the node name, "{} -> {}" for a
// missing edge, the whole sentence for cycle and graph errors. Always returns null.
std::nullptr_t into_pyerr(const TorvexError& error);

}  // namespace torvex::binding
