#include "serialization/json_writer.hpp"

#include <charconv>

#include "serialization/number_text.hpp"

namespace torvex {

namespace {

void indent(std::string& out, int level) {
  out.append(static_cast<std::size_t>(level) * 2, ' ');
}

template <class Int>
void append_integer(std::string& out, Int value) {
  char buffer[24];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  (void)ec;
  out.append(buffer, end);
}

// Scalars look the same in both layouts. Returns false for arrays and objects.
bool append_scalar(std::string& out, const JsonValue& value) {
  switch (value.kind()) {
    case JsonValue::Kind::Null:
      out += "null";
      return true;
    case JsonValue::Kind::Bool:
      out += value.as_bool() ? "true" : "false";
      return true;
    case JsonValue::Kind::UInt:
      append_integer(out, value.as_uint());
      return true;
    case JsonValue::Kind::Int:
      append_integer(out, value.as_int());
      return true;
    case JsonValue::Kind::Float:
      append_json_float(out, value.as_float());
      return true;
    case JsonValue::Kind::String:
      append_json_string(out, value.as_string());
      return true;
    case JsonValue::Kind::Array:
    case JsonValue::Kind::Object:
      break;
  }
  return false;
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t run = 0;  // start of the bytes not yet copied
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\')
      continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
  }
  out.append(text.data() + run, text.size() - run);
  out += '"';
}

void append_compact_json(std::string& out, const JsonValue& value) {
  if (append_scalar(out, value))
    return;
  if (value.kind() == JsonValue::Kind::Array) {
    out += '[';
    bool first = true;
    for (const JsonValue& element : value.as_array()) {
      if (!first)
        out += ',';
      first = false;
      append_compact_json(out, element);
    }
    out += ']';
    return;
  }
  out += '{';
  bool first = true;
  for (const auto& [key, member] : value.as_object()) {
    if (!first)
      out += ',';
    first = false;
    append_json_string(out, key);
    out += ':';
    append_compact_json(out, member);
  }
  out += '}';
}

std::string to_compact_json(const JsonValue& value) {
  std::string out;
  append_compact_json(out, value);
  return out;
}

void append_pretty_json(std::string& out, const JsonValue& value, int level) {
  if (append_scalar(out, value))
    return;
  const bool is_array = value.kind() == JsonValue::Kind::Array;
  out += is_array ? '[' : '{';
  bool first = true;
  auto next_line = [&] {
    out += first ? "\n" : ",\n";
    first = false;
    indent(out, level + 1);
  };
  if (is_array) {
    for (const JsonValue& element : value.as_array()) {
      next_line();
      append_pretty_json(out, element, level + 1);
    }
  } else {
    for (const auto& [key, member] : value.as_object()) {
      next_line();
      append_json_string(out, key);
      out += ": ";
      append_pretty_json(out, member, level + 1);
    }
  }
  if (!first) {
    out += '\n';
    indent(out, level);
  }
  out += is_array ? ']' : '}';
}

// --- the document ----------------------------------------------------------------------------
// Levels: 0 the document, 1 its members, 2 the records, 3 the records' members.

JsonDocumentWriter::JsonDocumentWriter(std::string& out) : out_(out) {
  out_ += "{\n  \"nodes\": ";
}

void JsonDocumentWriter::open_record() {
  out_ += first_ ? "[\n    {\n" : ",\n    {\n";
  first_ = false;
}

void JsonDocumentWriter::close_array() {
  out_ += first_ ? "[]" : "\n  ]";
  first_ = true;
}

void JsonDocumentWriter::node(std::string_view name, const JsonValue* payload) {
  open_record();
  out_ += "      \"name\": ";
  append_json_string(out_, name);
  if (payload != nullptr) {
    out_ += ",\n      \"payload\": ";
    append_pretty_json(out_, *payload, 3);
  }
  out_ += "\n    }";
}

void JsonDocumentWriter::begin_edges() {
  close_array();
  out_ += ",\n  \"edges\": ";
}

void JsonDocumentWriter::edge(std::string_view from, std::string_view to, double weight,
                              const std::string* label) {
  open_record();
  out_ += "      \"from\": ";
  append_json_string(out_, from);
  out_ += ",\n      \"to\": ";
  append_json_string(out_, to);
  out_ += ",\n      \"weight\": ";
  append_json_float(out_, weight);
  if (label != nullptr) {
    out_ += ",\n      \"label\": ";
    append_json_string(out_, *label);
  }
  out_ += "\n    }";
}

void JsonDocumentWriter::finish() {
  close_array();
  out_ += "\n}";
}

}  // namespace torvex
