// The module's seven exception classes and the conversion of core errors into them.
#pragma once

#include <cstddef>

#include "errors.hpp"
#include "framework/python.hpp"

namespace torvex::binding {

// The classes in the order the module adds them: TorvexError (0) first, then one per error
// kind. The module attribute name of class i, and the class itself (borrowed; created on first
// call, kept for the process).
inline constexpr std::size_t kExceptionCount = 7;
const char* exception_name(std::size_t i);
PyObject* exception_class(std::size_t i);

// Raises the exception of the error's kind with its bare text: the node name, "{} -> {}" for a
// missing edge, the whole sentence for cycle and graph errors. Always returns null.
std::nullptr_t into_pyerr(const TorvexError& error);

}  // namespace torvex::binding
