// The shared argument parser of every METH_FASTCALL | METH_KEYWORDS method. It only matches
// objects to parameters (converting nothing) and raises the fixed TypeError texts.
#pragma once

#include <cstddef>

#include "framework/python.hpp"

namespace torvex::py {

// One positional-or-keyword parameter. Required parameters come before optional ones.
struct Param {
  const char* name;
  bool required = true;
};
constexpr Param required(const char* name) {
  return Param{name, true};
}
constexpr Param optional(const char* name) {
  return Param{name, false};
}

namespace detail {
bool parse_fastcall(const char* full_name, const Param* params, std::size_t count,
                    PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out);
bool parse_tuple_dict(const char* full_name, const Param* params, std::size_t count, PyObject* args,
                      PyObject* kwargs, PyObject** out);
}  // namespace detail

// Fills out[i] with the borrowed object given for params[i], or null when it was omitted.
// `full_name` is the name used in messages, e.g. "DAG.add_node()".
// Returns false with a TypeError set.
template <std::size_t N>
bool parse_args(const char* full_name, const Param (&params)[N], PyObject* const* args,
                Py_ssize_t nargs, PyObject* kwnames, PyObject* (&out)[N]) {
  return detail::parse_fastcall(full_name, params, N, args, nargs, kwnames, out);
}

// The same for a method without parameters that is still called with the fastcall convention
// (so that a surplus argument gets the framework's text rather than CPython's).
inline bool parse_no_args(const char* full_name, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  return detail::parse_fastcall(full_name, nullptr, 0, args, nargs, kwnames, nullptr);
}

// The same for the tuple-and-dict convention of tp_new; `args` is a tuple, `kwargs` a dict or null.
template <std::size_t N>
bool parse_args(const char* full_name, const Param (&params)[N], PyObject* args, PyObject* kwargs,
                PyObject* (&out)[N]) {
  return detail::parse_tuple_dict(full_name, params, N, args, kwargs, out);
}
inline bool parse_no_args(const char* full_name, PyObject* args, PyObject* kwargs) {
  return detail::parse_tuple_dict(full_name, nullptr, 0, args, kwargs, nullptr);
}

// An optional argument that was omitted or given as None.
inline bool is_absent(PyObject* arg) noexcept {
  return arg == nullptr || arg == Py_None;
}

}  // namespace torvex::py
