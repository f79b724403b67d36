// JSON text: string escapes, compact and pretty values, and the streaming document writer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "serialization/json_value.hpp"

namespace torvex {

// A double-quoted string: \" and \\, the short escapes \b \t \n \f \r, \u00xx for the other
// bytes below 32; every other byte (DEL and all UTF-8 included) unchanged.
void append_json_string(std::string& out, std::string_view text);

// No whitespace at all; object members in key order. Recursion depth follows the value's own
// nesting, which its builder bounds (the reader admits 127 levels).
void append_compact_json(std::string& out, const JsonValue& value);
std::string to_compact_json(const JsonValue& value);

// Two spaces per level starting from `level`; "[]" and "{}" for empty containers.
void append_pretty_json(std::string& out, const JsonValue& value, int level);

// Writes the graph document in its pretty layout, one record at a time, straight into `out`:
// the nodes, then begin_edges(), the edges, then finish(). No newline after the final brace.
class JsonDocumentWriter {
 public:
  explicit JsonDocumentWriter(std::string& out);

  // Null payload: the node has none and no "payload" member is written.
  void node(std::string_view name, const JsonValue* payload);
  void begin_edges();
  // Requires: a finite weight (JSON has no other numbers). A null label leaves "label" out.
  void edge(std::string_view from, std::string_view to, double weight, const std::string* label);
  void finish();

 private:
  void open_record();
  void close_array();

  std::string& out_;
  bool first_ = true;
};

}  // namespace torvex
