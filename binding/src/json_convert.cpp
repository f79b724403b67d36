// Payload conversion between Python objects and JSON values.
//
//   def py_to_json_value(obj):       # None, bool, int, float, str, list, dict[str, ...]
//   def json_value_to_py(value):     # the reverse; dicts iterate in ascending key order
//   def serialize_payload(node, serializer) -> value or nothing
//   def deserialize_payload(value, deserializer) -> payload or nothing
#include "json_convert.hpp"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace torvex::binding {
namespace {

// Failures return std::nullopt explicitly: a bare nullptr would convert to a JSON null.
std::nullopt_t cannot_convert(PyObject* obj) {
  py::Ref name = py::Ref::steal(PyType_GetName(Py_TYPE(obj)));
  if (name)
    PyErr_Format(PyExc_TypeError, "Cannot convert %U to JSON", name.get());
  return std::nullopt;
}

std::nullopt_t contains_itself() {
  PyErr_SetString(PyExc_ValueError, "Cannot convert to JSON: a container contains itself");
  return std::nullopt;
}

std::optional<JsonValue> list_to_json(PyObject* obj, std::vector<PyObject*>& open,
                                      PayloadForm form);
std::optional<JsonValue> dict_to_json(PyObject* obj, std::vector<PyObject*>& open,
                                      PayloadForm form);

// `open` holds the lists and dicts around `obj`, outermost first. No Python code runs in here,
// but each element is held by a strong reference while it is converted all the same.
std::optional<JsonValue> to_json(PyObject* obj, std::vector<PyObject*>& open, PayloadForm form) {
  if (obj == Py_None)
    return JsonValue();
  if (PyBool_Check(obj))
    return JsonValue(obj == Py_True);
  if (PyLong_Check(obj)) {
    const long long value = PyLong_AsLongLong(obj);
    if (value == -1 && PyErr_Occurred())
      return std::nullopt;
    return JsonValue(static_cast<std::int64_t>(value));
  }
  if (PyFloat_Check(obj))
    return JsonValue(PyFloat_AsDouble(obj));  // NaN and infinities become null
  if (PyUnicode_Check(obj)) {
    auto text = py::utf8(obj);
    if (!text)
      return std::nullopt;
    return JsonValue(*text);
  }
  const bool is_list = PyList_Check(obj);
  if (!is_list && !PyDict_Check(obj))
    return cannot_convert(obj);
  if (std::ssize(open) >= form.max_depth) {
    // A container that holds itself never ends, and has no JSON form; any other one this deep
    // is refused by the writer for its depth alone, whatever lies below.
    if (std::find(open.begin(), open.end(), obj) != open.end())
      return contains_itself();
    return JsonValue(JsonValue::Array{});
  }
  open.push_back(obj);
  std::optional<JsonValue> value =
      is_list ? list_to_json(obj, open, form) : dict_to_json(obj, open, form);
  open.pop_back();
  return value;
}

std::optional<JsonValue> list_to_json(PyObject* obj, std::vector<PyObject*>& open,
                                      PayloadForm form) {
  JsonValue::Array items;
  // The size is read again each round: nothing should shrink the list, but if it did we
  // would stop rather than read past its end.
  for (Py_ssize_t i = 0; i < PyList_Size(obj); ++i) {
    py::Ref item = py::Ref::borrow(PyList_GetItem(obj, i));
    if (!item)
      return std::nullopt;
    auto value = to_json(item.get(), open, form);
    if (!value)
      return std::nullopt;
    items.push_back(std::move(*value));
  }
  return JsonValue(std::move(items));
}

std::optional<JsonValue> dict_to_json(PyObject* obj, std::vector<PyObject*>& open,
                                      PayloadForm form) {
  JsonValue::Object members;
  Py_ssize_t pos = 0;
  PyObject* key_borrowed = nullptr;
  PyObject* value_borrowed = nullptr;
  while (PyDict_Next(obj, &pos, &key_borrowed, &value_borrowed)) {
    py::Ref key = py::Ref::borrow(key_borrowed);
    py::Ref item = py::Ref::borrow(value_borrowed);
    if (!PyUnicode_Check(key.get())) {
      py::conversion_error(key.get(), "PyString");
      return std::nullopt;
    }
    auto text = py::utf8(key.get());
    if (!text)
      return std::nullopt;
    auto value = to_json(item.get(), open, form);
    if (!value)
      return std::nullopt;
    members.insert_or_assign(std::string(*text), std::move(*value));
  }
  return JsonValue(std::move(members));
}

py::Ref to_py(const JsonValue& value) {
  switch (value.kind()) {
    case JsonValue::Kind::Null:
      return py::Ref::borrow(Py_None);
    case JsonValue::Kind::Bool:
      return py::Ref::borrow(value.as_bool() ? Py_True : Py_False);
    case JsonValue::Kind::UInt: {
      const std::uint64_t u = value.as_uint();
      if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return py::float_object(static_cast<double>(u));
      return py::integer(u);
    }
    case JsonValue::Kind::Int:
      return py::signed_integer(value.as_int());
    case JsonValue::Kind::Float:
      return py::float_object(value.as_float());
    case JsonValue::Kind::String:
      return py::str(value.as_string());
    case JsonValue::Kind::Array: {
      const JsonValue::Array& items = value.as_array();
      py::Ref list = py::new_list(items.size());
      if (!list)
        return {};
      for (std::size_t i = 0; i < items.size(); ++i) {
        py::Ref item = to_py(items[i]);
        if (!item)
          return {};
        py::list_set(list.get(), i, std::move(item));
      }
      return list;
    }
    case JsonValue::Kind::Object: {
      py::Ref dict = py::Ref::steal(PyDict_New());
      if (!dict)
        return {};
      for (const auto& [key, member] : value.as_object()) {
        py::Ref key_object = py::str(key);
        if (!key_object)
          return {};
        py::Ref item = to_py(member);
        if (!item || PyDict_SetItem(dict.get(), key_object.get(), item.get()) < 0)
          return {};
      }
      return dict;
    }
  }
  return {};
}

}  // namespace

std::optional<JsonValue> py_to_json_value(PyObject* obj, PayloadForm form) {
  std::vector<PyObject*> open;
  return to_json(obj, open, form);
}

py::Ref json_value_to_py(const JsonValue& value) {
  return to_py(value);
}

py::Ref call(PyObject* callable, std::initializer_list<PyObject*> args) {
  return py::Ref::steal(py::calling_python(
      [&] { return PyObject_Vectorcall(callable, args.begin(), args.size(), nullptr); }));
}

std::optional<JsonValue> serialize_payload(const PyNodePayload& record, PyObject* serializer,
                                           PayloadForm form) {
  if (!record.payload)
    return std::nullopt;
  // Strong references across the call: the callable may drop its own.
  py::Ref callable = py::Ref::borrow(serializer);
  py::Ref payload = py::Ref::borrow(record.payload.get());
  std::optional<JsonValue> value;
  if (py::Ref result = call(callable.get(), {payload.get()}))
    value = py_to_json_value(result.get(), form);
  if (!value)
    py::drop_callback_error();
  return value;
}

std::optional<PyNodePayload> deserialize_payload(const JsonValue& value, PyObject* deserializer) {
  py::Ref callable = py::Ref::borrow(deserializer);
  py::Ref argument = json_value_to_py(value);
  py::Ref result;
  if (argument)
    result = call(callable.get(), {argument.get()});
  if (!result) {
    py::drop_callback_error();
    return std::nullopt;
  }
  return PyNodePayload{py::DeferredRef::steal(result.release()), {}};
}

}  // namespace torvex::binding
