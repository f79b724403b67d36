// The document layer of the JSON reader: the three record types in object or array form.
#include "serialization/json_reader.hpp"

#include <string>
#include <utility>

#include "interrupt.hpp"
#include "serialization/json_parser.hpp"

namespace torvex {

namespace {

// Every message of the document layer, in one place.
namespace msg {
constexpr const char* kEofValue = "EOF while parsing a value";
constexpr const char* kGraph = "struct SerializableGraph";
constexpr const char* kNode = "struct SerializableNode";
constexpr const char* kEdge = "struct SerializableEdge";
constexpr const char* kGraphLength = "struct SerializableGraph with 2 elements";
constexpr const char* kNodeLength = "struct SerializableNode with 2 elements";
constexpr const char* kEdgeLength = "struct SerializableEdge with 4 elements";

std::string invalid_length(std::size_t found, std::string_view expected) {
  return "invalid length " + std::to_string(found) + ", expected " + std::string(expected);
}
std::string duplicate_field(std::string_view key) {
  return "duplicate field `" + std::string(key) + "`";
}
std::string missing_field(std::string_view key) {
  return "missing field `" + std::string(key) + "`";
}
}  // namespace msg

// Reads records over the token layer. Members with other keys are read and dropped.
class DocumentReader {
 public:
  explicit DocumentReader(JsonParser& p) noexcept : p_(p) {}

  bool read_graph(SerializableGraph& graph) {
    const int c = p_.peek();
    if (c < 0)
      return p_.peek_fail(msg::kEofValue);
    if (c == '{') {
      bool seen_nodes = false;
      bool seen_edges = false;
      return p_.read_members([&](const std::string& key) {
        if (key == "nodes")
          return once(seen_nodes, key) && p_.colon() && read_nodes(graph.nodes);
        if (key == "edges")
          return once(seen_edges, key) && p_.colon() && read_edges(graph.edges);
        return skip_member();
      }) && required(seen_nodes, "nodes") &&
             required(seen_edges, "edges");
    }
    if (c == '[') {
      bool first = true;
      return p_.open_container() && element(first, 0, msg::kGraphLength) &&
             read_nodes(graph.nodes) && element(first, 1, msg::kGraphLength) &&
             read_edges(graph.edges) && p_.end_array();
    }
    return p_.unexpected(msg::kGraph);
  }

 private:
  bool read_nodes(std::vector<SerializableNode>& nodes) {
    return p_.read_sequence([&] {
      interrupt::poll();
      return read_node(nodes.emplace_back());
    });
  }

  bool read_edges(std::vector<SerializableEdge>& edges) {
    return p_.read_sequence([&] {
      interrupt::poll();
      return read_edge(edges.emplace_back());
    });
  }

  bool read_node(SerializableNode& node) {
    const int c = p_.peek();
    if (c == '{') {
      bool seen_name = false;
      bool seen_payload = false;
      return p_.read_members([&](const std::string& key) {
        if (key == "name")
          return once(seen_name, key) && p_.colon() && p_.read_string(node.name);
        if (key == "payload") {
          return once(seen_payload, key) && p_.colon() && p_.read_optional_value(node.payload);
        }
        return skip_member();
      }) && required(seen_name, "name");
    }
    if (c == '[') {
      bool first = true;
      return p_.open_container() && element(first, 0, msg::kNodeLength) &&
             p_.read_string(node.name) && element(first, 1, msg::kNodeLength) &&
             p_.read_optional_value(node.payload) && p_.end_array();
    }
    return p_.unexpected(msg::kNode);
  }

  bool read_edge(SerializableEdge& edge) {
    const int c = p_.peek();
    if (c == '{') {
      bool seen_from = false;
      bool seen_to = false;
      bool seen_weight = false;
      bool seen_label = false;
      return p_.read_members([&](const std::string& key) {
        if (key == "from")
          return once(seen_from, key) && p_.colon() && p_.read_string(edge.from);
        if (key == "to")
          return once(seen_to, key) && p_.colon() && p_.read_string(edge.to);
        if (key == "weight") {
          return once(seen_weight, key) && p_.colon() && p_.read_f64(edge.weight);
        }
        if (key == "label") {
          return once(seen_label, key) && p_.colon() && p_.read_optional_string(edge.label);
        }
        return skip_member();
      }) && required(seen_from, "from") &&
             required(seen_to, "to") && required(seen_weight, "weight");
    }
    if (c == '[') {
      bool first = true;
      return p_.open_container() && element(first, 0, msg::kEdgeLength) &&
             p_.read_string(edge.from) && element(first, 1, msg::kEdgeLength) &&
             p_.read_string(edge.to) && element(first, 2, msg::kEdgeLength) &&
             p_.read_f64(edge.weight) && element(first, 3, msg::kEdgeLength) &&
             p_.read_optional_string(edge.label) && p_.end_array();
    }
    return p_.unexpected(msg::kEdge);
  }

  bool skip_member() { return p_.colon() && p_.read_value(nullptr); }

  bool once(bool& seen, std::string_view key) {
    if (seen)
      return p_.fail(msg::duplicate_field(key));
    seen = true;
    return true;
  }

  // Checked once the closing brace is consumed.
  bool required(bool seen, std::string_view key) {
    return seen || p_.fail(msg::missing_field(key));
  }

  // The array form of a record: the element at `index` must be there.
  bool element(bool& first, std::size_t index, std::string_view expecting) {
    const int r = p_.next_element(first);
    if (r < 0)
      return false;
    if (r == 0) {
      p_.close_container();
      return p_.fail(msg::invalid_length(index, expecting));
    }
    return true;
  }

  JsonParser& p_;
};

}  // namespace

Result<SerializableGraph> read_serializable_graph(std::string_view text) {
  JsonParser parser(text);
  SerializableGraph graph;
  if (!DocumentReader(parser).read_graph(graph) || !parser.at_end())
    return parser.error();
  return graph;
}

Result<JsonValue> parse_json_value(std::string_view text) {
  JsonParser parser(text);
  Result<JsonValue> value{std::in_place};  // read into in place, see Result
  if (!parser.read_value(&*value) || !parser.at_end())
    return parser.error();
  return value;
}

}  // namespace torvex
