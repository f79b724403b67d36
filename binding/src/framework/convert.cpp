// Argument conversions and result builders.
#include "framework/convert.hpp"

namespace torvex::py {

std::optional<std::string_view> utf8(PyObject* str) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr)
    return std::nullopt;
  return std::string_view(data, static_cast<std::size_t>(size));
}

std::optional<std::string_view> str_arg(PyObject* obj, const char* param) {
  if (!PyUnicode_Check(obj)) {
    conversion_error(obj, "PyString");
    argument_error(param);
    return std::nullopt;
  }
  auto text = utf8(obj);
  if (!text)
    argument_error(param);
  return text;
}

bool list_arg(PyObject* obj, const char* param) {
  if (PyList_Check(obj))
    return true;
  conversion_error(obj, "PyList");
  argument_error(param);
  return false;
}

bool dict_arg(PyObject* obj, const char* param) {
  if (PyDict_Check(obj))
    return true;
  conversion_error(obj, "PyDict");
  argument_error(param);
  return false;
}

std::optional<double> float_arg(PyObject* obj, const char* param) {
  const double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred()) {
    argument_error(param);
    return std::nullopt;
  }
  return value;
}

std::optional<std::uint64_t> count_arg(PyObject* obj, const char* param) {
  Ref index = Ref::steal(PyNumber_Index(obj));
  if (!index) {
    argument_error(param);
    return std::nullopt;
  }
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    argument_error(param);
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(value);
}

std::optional<std::int64_t> int64_arg(PyObject* obj, const char* param) {
  Ref index = Ref::steal(PyNumber_Index(obj));
  if (!index) {
    argument_error(param);
    return std::nullopt;
  }
  const long long value = PyLong_AsLongLong(index.get());
  if (value == -1 && PyErr_Occurred()) {
    argument_error(param);
    return std::nullopt;
  }
  return static_cast<std::int64_t>(value);
}

std::optional<bool> bool_arg(PyObject* obj, const char* param) {
  const int truth = PyObject_IsTrue(obj);
  if (truth < 0) {
    argument_error(param);
    return std::nullopt;
  }
  return truth != 0;
}

Ref str(std::string_view text) {
  return Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Ref integer(std::uint64_t value) {
  return Ref::steal(PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(value)));
}

Ref signed_integer(std::int64_t value) {
  return Ref::steal(PyLong_FromLongLong(static_cast<long long>(value)));
}

Ref float_object(double value) {
  return Ref::steal(PyFloat_FromDouble(value));
}

Ref new_list(std::size_t size) {
  return Ref::steal(PyList_New(static_cast<Py_ssize_t>(size)));
}

void list_set(PyObject* list, std::size_t index, Ref item) noexcept {
  PyList_SetItem(list, static_cast<Py_ssize_t>(index), item.release());
}

bool list_append(PyObject* list, const Ref& item) {
  return PyList_Append(list, item.get()) == 0;
}

Ref new_tuple(std::size_t size) {
  return Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(size)));
}

void tuple_set(PyObject* tuple, std::size_t index, Ref item) noexcept {
  PyTuple_SetItem(tuple, static_cast<Py_ssize_t>(index), item.release());
}

bool dict_set(PyObject* dict, const char* key, const Ref& value) {
  return PyDict_SetItemString(dict, key, value.get()) == 0;
}

}  // namespace torvex::py
