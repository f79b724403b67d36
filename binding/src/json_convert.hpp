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

// How deep a payload's JSON form may nest in one of the file forms: as deep as its reader
// admits. A deeper payload converts with one empty array standing for everything below that
// depth, so its value is just deep enough for the core's writer to refuse the graph, naming the
// node; nothing deeper is built (the core's writers and JsonValue's destructor recurse once per
// level).
struct PayloadForm {
  int max_depth;
};
// The binary form keeps each payload as a text of its own.
inline constexpr PayloadForm kBinaryPayloads{kJsonMaxDepth};
// The JSON document's own three levels leave less room.
inline constexpr PayloadForm kDocumentPayloads{kDocumentPayloadMaxDepth};

// None, bool, int (64-bit signed), float (NaN and infinities as null), str, list and dict with
// str keys, tested in that order. Nothing, with a Python error set, for anything else, an int
// out of range, a str that is not UTF-8, or a list or dict that contains itself (found where
// the nesting passes `form`'s depth). Deeper nesting: see PayloadForm.
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
