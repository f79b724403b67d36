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
#include "graph/serialization.hpp"
#include "payload.hpp"
#include "serialization/json_value.hpp"

namespace torvex::binding {

// What a payload's JSON form may hold in one of the file forms. Nesting beyond max_depth fails
// the conversion: the core's writers and JsonValue's destructor recurse once per level, and
// the readers admit no more anyway.
struct PayloadForm {
  int max_depth;
  // A NaN or infinite float fails the conversion instead of becoming null.
  bool finite_only;
};
// The binary form keeps each payload as a text of its own: as deep as its reader admits,
// non-finite floats as null.
inline constexpr PayloadForm kBinaryPayloads{kJsonMaxDepth, false};
// The JSON document must read back as it was written: its own three levels leave less room,
// and a null would come back as None where a float was, so such a payload has no JSON form.
inline constexpr PayloadForm kDocumentPayloads{kDocumentPayloadMaxDepth, true};

// None, bool, int (64-bit signed), float, str, list and dict with str keys, tested in that
// order. Nothing, with a Python error set, for anything else, an int out of range, a str that
// is not UTF-8, a float or nesting that `form` refuses (a list that contains itself ends there
// too).
std::optional<JsonValue> py_to_json_value(PyObject* obj, PayloadForm form);

// A fresh Python object for a JSON value; an object becomes a dict filled in key order, an
// unsigned integer above 2^63 - 1 the nearest float. Null with an error set only when
// CPython cannot allocate.
py::Ref json_value_to_py(const JsonValue& value);

// The writer hook: `serializer(payload)` converted to JSON for `form`, or nothing when the node
// has no payload object (the serializer is then not called) or anything fails.
std::optional<JsonValue> serialize_payload(const PyNodePayload& record, PyObject* serializer,
                                           PayloadForm form);

// The reader hook: `deserializer(value as Python object)` becomes the payload object, None
// included; nothing when anything fails.
std::optional<PyNodePayload> deserialize_payload(const JsonValue& value, PyObject* deserializer);

// Calls `callable` with positional arguments (borrowed). New reference, or null with an error.
py::Ref call(PyObject* callable, std::initializer_list<PyObject*> args);

}  // namespace torvex::binding
