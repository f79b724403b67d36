// Strict JSON reading (RFC 8259): the graph document into records, and single JSON values.
#pragma once

#include <string_view>

#include "errors.hpp"
#include "serialization/json_value.hpp"
#include "serialization/records.hpp"

namespace torvex {

// Reads the whole document (object or two-element array form) before anything is built.
// Members with unknown keys are parsed and ignored; "payload": null means no payload.
// Requires: UTF-8 text.
// Errors: Graph with the reader's message followed by " at line {} column {}" (1-based line;
// the column counts the bytes of that line consumed when the fault was found).
// Complexity: O(text length); recursion depth at most kJsonMaxDepth.
Result<SerializableGraph> read_serializable_graph(std::string_view text);

// Exactly one JSON value with optional whitespace around it, under the same rules and limits.
// Errors: Graph with the reader's message and position, as above.
Result<JsonValue> parse_json_value(std::string_view text);

}  // namespace torvex
