// Converting method arguments to C++ values and C++ values to new Python objects.
//
// Every *_arg conversion is for a named parameter: on failure it returns nothing with the error
// set, a TypeError carrying the "argument '{}': {}" prefix.
#pragma once

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "framework/failure.hpp"
#include "framework/python.hpp"
#include "framework/ref.hpp"

namespace torvex::py {

// The UTF-8 text of a str (or subclass), valid while the object lives; CPython's
// UnicodeEncodeError for lone surrogates. For values that are not parameters (no prefix).
std::optional<std::string_view> utf8(PyObject* str);

// A str parameter ("PyString" when of another type).
std::optional<std::string_view> str_arg(PyObject* obj, const char* param);
// A list parameter ("PyList"); returns false with the error set.
bool list_arg(PyObject* obj, const char* param);
// A dict parameter ("PyDict").
bool dict_arg(PyObject* obj, const char* param);
// A float parameter through PyFloat_AsDouble.
std::optional<double> float_arg(PyObject* obj, const char* param);
// An unsigned count through the index protocol: OverflowError for negative or too large values.
std::optional<std::uint64_t> count_arg(PyObject* obj, const char* param);
// A signed 64-bit integer through the index protocol.
std::optional<std::int64_t> int64_arg(PyObject* obj, const char* param);
// A bool parameter: any object's truth value.
std::optional<bool> bool_arg(PyObject* obj, const char* param);

// Which conversions run Python code. CPython fills a type's slot with one shared function
// (slot_tp_str, slot_nb_float, ...) when the special method is written in Python, and with C
// code otherwise; learn_python_slots reads the shared ones off a probe class. Call it once, at
// module initialisation, before the others; false with the error set.
bool learn_python_slots();
// Whether str(obj) of a str (or subclass) runs Python code: a __str__ written in Python.
bool str_runs_python(PyObject* obj);
// Whether str(obj) of a str (or subclass) is its own text, str's own __str__.
bool str_is_own_text(PyObject* obj);
// Whether PyFloat_AsDouble(obj) runs Python code: a __float__ or, without one, an __index__
// written in Python. A float (or subclass) is read directly.
bool to_double_runs_python(PyObject* obj);
// Whether PyFloat_AsDouble(obj) surely runs no Python code: a float, an int, or a NumPy real
// scalar, none with a __float__ or __index__ written in Python. Other numbers implemented in C
// may still call back into Python (a weak proxy, a 0-d object array, a complex scalar's warning).
// Runs no Python code itself.
bool to_double_is_plain(PyObject* obj);

// New Python objects (null with an error set on failure).
Ref str(std::string_view text);
Ref integer(std::uint64_t value);
Ref signed_integer(std::int64_t value);
Ref float_object(double value);
Ref new_list(std::size_t size);
// Stores `item` at `index` of a new list; steals the reference.
void list_set(PyObject* list, std::size_t index, Ref item) noexcept;
// Appends `item` (a new reference is added by the list); false with an error set.
bool list_append(PyObject* list, const Ref& item);
// A new list of make(item) (a Ref) for each element of `items`, in order; null with the error
// set as soon as one fails.
template <class Items, class Make>
Ref list_of(const Items& items, Make&& make) {
  Ref list = new_list(std::size(items));
  if (!list)
    return {};
  std::size_t i = 0;
  for (const auto& item : items) {
    interrupt::poll_at(i);  // results run to millions of objects: a signal is seen as they are made
    Ref element = make(item);
    if (!element)
      return {};
    list_set(list.get(), i++, std::move(element));
  }
  return list;
}
// A new list of str, one per text of `names`, in order.
template <class Names>
Ref str_list(const Names& names) {
  return list_of(names, [](const auto& name) { return str(name); });
}
Ref new_tuple(std::size_t size);
void tuple_set(PyObject* tuple, std::size_t index, Ref item) noexcept;
// dict[key] = value; false with an error set.
bool dict_set(PyObject* dict, const char* key, const Ref& value);

}  // namespace torvex::py
