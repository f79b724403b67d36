// Payloads between Python objects and the core's JSON values, and the payload hooks that the
// file forms hand to the core.
//
// Every hook swallows errors: a caller's callable that raises, or returns something with no
// JSON form, leaves the payload out; the interpreter's error indicator is clear afterwards.
// Only an error that is no Exception (KeyboardInterrupt) stops the whole call, by throwing
// interrupt::Interrupted (py::drop_callback_error). All of it needs the interpreter lock.
#pragma once

#include <initializer_list>
#include <optional>

#include "framework/framework.hpp"
#include "payload.hpp"
#include "serialization/json_value.hpp"

namespace torvex::binding {

// Arrays and objects nested deeper than this fail the conversion: the core's writers and
// JsonValue's destructor recurse once per level, and the readers admit no more anyway.
inline constexpr int kPayloadMaxDepth = kJsonMaxDepth;

// None, bool, int (64-bit signed), float (NaN and infinities as null), str, list and dict
// with str keys, tested in that order. Nothing, with a Python error set, for anything else,
// an int out of range, a str that is not UTF-8, or nesting beyond kPayloadMaxDepth (a list
// that contains itself ends there too).
std::optional<JsonValue> py_to_json_value(PyObject* obj);

// A fresh Python object for a JSON value; an object becomes a dict filled in key order, an
// unsigned integer above 2^63 - 1 the nearest float. Null with an error set only when
// CPython cannot allocate.
py::Ref json_value_to_py(const JsonValue& value);

// The writer hook: `serializer(payload)` converted to JSON, or nothing when the node has no
// payload object (the serializer is then not called) or anything fails.
std::optional<JsonValue> serialize_payload(const PyNodePayload& record, PyObject* serializer);

// The reader hook: `deserializer(value as Python object)` becomes the payload object, None
// included; nothing when anything fails.
std::optional<PyNodePayload> deserialize_payload(const JsonValue& value, PyObject* deserializer);

// Calls `callable` with positional arguments (borrowed). New reference, or null with an error.
py::Ref call(PyObject* callable, std::initializer_list<PyObject*> args);

}  // namespace torvex::binding
