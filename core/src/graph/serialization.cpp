// The serialization topic: the graph walks behind every form and the builders behind every
// reader. The byte and text details live in serialization/.
#include "graph/serialization.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "interrupt.hpp"
#include "serialization/bincode.hpp"
#include "serialization/file_io.hpp"
#include "serialization/json_reader.hpp"
#include "serialization/json_writer.hpp"
#include "serialization/number_text.hpp"
#include "utf8.hpp"

namespace torvex {

namespace {

constexpr const char* kJsonReadFailed = "JSON deserialization failed: ";
constexpr const char* kJsonWriteFailed = "JSON serialization failed: ";

TorvexError weight_without_json_form(std::string_view from, std::string_view to, double weight) {
  return TorvexError::graph(std::string(kJsonWriteFailed) + "edge " + std::string(from) + " -> " +
                            std::string(to) + " has weight " + plain_float(weight) +
                            ", which JSON cannot represent");
}

std::string payload_too_deep(std::string_view name, int max_depth) {
  return "payload of node " + std::string(name) + " is nested more than " +
         std::to_string(max_depth) + " levels deep, which the reader refuses";
}

// Whether a payload nests deeper than the binary reader admits in a payload text of its own.
bool too_deep_for_bincode(const std::optional<JsonValue>& payload) {
  return payload && nesting_depth(*payload) > kJsonMaxDepth;
}

TorvexError bincode_payload_too_deep(std::string_view name) {
  return TorvexError::graph(bincode_write_error(payload_too_deep(name, kJsonMaxDepth)));
}

// --- walks ------------------------------------------------------------------------------------

// Every encoder and every pass that sizes or checks a form walks the graph through these, so a
// signal is seen in all of them; what they build is dropped whole on a stop.
template <class F>
void for_each_live_node(const StableGraph& g, F&& f) {
  for (NodeIndex n = 0; n < g.node_bound(); ++n) {
    interrupt::poll_at(n);
    if (g.is_live(n))
      f(n);
  }
}

template <class F>
void for_each_live_edge(const StableGraph& g, F&& f) {
  for (EdgeIndex e = 0; e < g.edge_bound(); ++e) {
    interrupt::poll_at(e);
    if (g.is_edge_live(e))
      f(e);
  }
}

std::optional<JsonValue> payload_of(const detail::SlotPayloadWriter& payloads, NodeIndex n) {
  if (!payloads)
    return std::nullopt;
  return payloads(n);
}

// --- the binary form --------------------------------------------------------------------------

// Writes every field in layout order, each node's payload as the compact JSON text that
// `payload_text(n)` points to (null: none); false as soon as the sink refuses one.
template <class Sink, class PayloadText>
bool encode(const StableGraph& g, Sink& sink, PayloadText&& payload_text) {
  BincodeEncoder<Sink> out(sink);
  bool ok = out.u64(g.node_count());
  for_each_live_node(g, [&](NodeIndex n) {
    ok = ok && out.text(g.name(n)) && out.optional_text(payload_text(n));
  });
  ok = ok && out.u64(g.edge_count());
  for_each_live_edge(g, [&](EdgeIndex e) {
    ok = ok && out.text(g.name(g.edge_source(e))) && out.text(g.name(g.edge_target(e))) &&
         out.f64(g.edge_weight(e)) && out.optional_text(g.edge_label(e));
  });
  return ok;
}

// The file learns the length first: a limit or a full disk too small for it then fails before
// the old file is touched, and a file rewritten in place is made unreadable until it is whole.
// The length takes a pass of its own, so it is counted only for a file that looks at it.
template <class PayloadText>
bool begin_file(const StableGraph& g, FileOutput& file, PayloadText&& payload_text) {
  CountingSink count;
  if (file.needs_length())
    encode(g, count, payload_text);
  return file.begin(count.size(), kBincodeUnreadableStart);
}

const std::string* no_payload(NodeIndex /*n*/) {
  return nullptr;
}

// Every payload's compact JSON text up front, by node slot (empty without payloads), so the
// bytes can then be written without calling the hook. Stops at the first payload too deep for
// the reader.
Result<std::vector<std::optional<std::string>>> payload_texts(
    const StableGraph& g, const detail::SlotPayloadWriter& payloads) {
  std::vector<std::optional<std::string>> texts;
  if (!payloads)
    return texts;
  texts.resize(g.node_bound());
  std::optional<NodeIndex> too_deep;
  for_each_live_node(g, [&](NodeIndex n) {
    if (too_deep)
      return;
    std::optional<JsonValue> payload = payloads(n);
    if (too_deep_for_bincode(payload))
      too_deep = n;
    else if (payload)
      append_compact_json(texts[n].emplace(), *payload);
  });
  if (too_deep)
    return bincode_payload_too_deep(g.name(*too_deep));
  return texts;
}

void run_blocking(const FileAccess& access, const std::function<void()>& step) {
  if (access.blocking)
    access.blocking(step);
  else
    step();
}

Status decode_edges(BincodeDecoder& in, GraphStore& store) {
  EdgeBatch batch(store);
  Status read = [&]() -> Status {
    TORVEX_TRY(count, in.u64());
    struct Record {
      std::string_view from, to;
      double weight;
      std::optional<std::string_view> label;
    };
    // Records are decoded a block ahead of their insertion and their names and nodes requested
    // early, so that the cache misses of a block overlap. Insertion stays in record order, and a
    // decoding failure is reported only after the records before it went in.
    constexpr std::size_t kBlock = 32;
    Record block[kBlock];
    for (std::uint64_t done = 0; done < count;) {
      std::size_t size = 0;
      Status decoded = [&]() -> Status {
        for (; size < kBlock && done + size < count; ++size) {
          TORVEX_TRY(from, in.text());
          TORVEX_TRY(to, in.text());
          TORVEX_TRY(weight, in.f64());
          TORVEX_TRY(label, in.optional_text());
          block[size] = Record{from, to, weight, label};
          store.prefetch_name(from);
          store.prefetch_name(to);
        }
        return {};
      }();
      for (std::size_t k = 0; k < size; ++k) {
        for (std::string_view name : {block[k].from, block[k].to}) {
          if (auto n = store.find(name))
            store.prefetch_node(*n);
        }
      }
      interrupt::poll(size);
      for (std::size_t k = 0; k < size; ++k) {
        const Record& r = block[k];
        TORVEX_TRY_STATUS(batch.add(r.from, r.to, r.weight,
                                    r.label ? std::optional<std::string>(*r.label) : std::nullopt));
      }
      TORVEX_TRY_STATUS(decoded);
      done += size;
    }
    return {};
  }();
  // A cycle among the edges before a failure is what one-by-one insertion would report.
  TORVEX_TRY_STATUS(batch.finish());
  return read;
}

// --- DOT and Mermaid --------------------------------------------------------------------------

// The label, else the weight when it is not 1.0 (NaN never is annotated), else nothing.
std::optional<std::string> annotation(const StableGraph& g, EdgeIndex e) {
  if (const std::string* label = g.edge_label(e))
    return *label;
  const double weight = g.edge_weight(e);
  if (std::fabs(weight - 1.0) > std::numeric_limits<double>::epsilon())
    return plain_float(weight);
  return std::nullopt;
}

// DOT reads \" inside a quoted string as a quote and a backslash before a line feed as a line
// continuation; every other backslash, a pair included, stays as it is. So each quote gets a
// backslash, and a run of backslashes that meets a quote, a line feed or the closing quote is
// doubled: DOT then reads the text with just those runs doubled, which keeps distinct texts
// distinct, and a text with none of them is written as it is.
void append_dot_string(std::string& out, std::string_view text) {
  out += '"';
  const bool plain = text.find('"') == std::string_view::npos &&
                     text.find("\\\n") == std::string_view::npos &&
                     (text.empty() || text.back() != '\\');
  if (plain) {
    out.append(text);
  } else {
    std::size_t i = 0;
    while (i < text.size()) {
      const std::size_t run_start = i;
      while (i < text.size() && text[i] == '\\')
        ++i;
      const std::size_t run = i - run_start;
      const bool meets = i == text.size() || text[i] == '"' || text[i] == '\n';
      out.append(meets ? 2 * run : run, '\\');
      if (i == text.size())
        break;
      if (text[i] == '"')
        out += '\\';
      out += text[i++];
    }
  }
  out += '"';
}

// Older DOT scanners drop a line feed that stands alone in a quoted string: between a backslash
// or a quote (or the opening quote) and a backslash or a quote (or the closing quote).
bool lone_line_feed(std::string_view text, std::size_t i) {
  const auto stops = [](char c) { return c == '"' || c == '\\'; };
  return text[i] == '\n' && (i == 0 || stops(text[i - 1])) &&
         (i + 1 == text.size() || stops(text[i + 1]));
}

// Whether `text` can stand between angle brackets: its own brackets pair up, none closing early.
bool brackets_pair_up(std::string_view text) {
  std::size_t depth = 0;
  for (char c : text) {
    if (c == '<')
      ++depth;
    else if (c == '>' && depth-- == 0)
      return false;
  }
  return depth == 0;
}

// A node name in quotes of either kind. Dropping a lone line feed would merge names: the empty
// name with a line feed, a backslash with a backslash and a line feed. So such a name is an
// angle-bracket string, which DOT reads byte for byte. When its brackets do not pair up, only a
// form outside the DOT grammar is left, though Graphviz reads it: the lone line feeds in
// angle-bracket parts joined to the quoted rest by "+".
void append_dot_quoted(std::string& out, std::string_view name) {
  std::size_t lone = 0;
  while (lone < name.size() && !lone_line_feed(name, lone))
    ++lone;
  if (lone == name.size()) {
    append_dot_string(out, name);
  } else if (brackets_pair_up(name)) {
    out.append("<").append(name).append(">");
  } else {
    std::size_t start = 0;
    for (std::size_t i = lone; i < name.size(); ++i) {
      if (!lone_line_feed(name, i))
        continue;
      append_dot_string(out, name.substr(start, i - start));
      out += " + <\n>";
      if (i + 1 < name.size())
        out += " + ";
      start = i + 1;
    }
    if (start < name.size())
      append_dot_string(out, name.substr(start));
  }
}

// Words the Mermaid flowchart lexer reads as keywords where an identifier starts (after any
// leading digits, which it reads as a number), also when a '-' follows them: it takes the first
// rule that matches and ends these words at a word boundary.
constexpr std::array<std::string_view, 13> kMermaidKeywords = {
    "end",      "graph",       "flowchart", "subgraph", "style",   "linkStyle", "class",
    "classDef", "interpolate", "_self",     "_blank",   "_parent", "_top"};
// Words it reads as keywords only when white space follows, so only as whole identifiers.
constexpr std::array<std::string_view, 3> kMermaidSpacedKeywords = {"click", "call", "href"};

// ASCII letters, digits and '_', in parts joined by single '-', and no keyword.
bool is_plain_mermaid_id(std::string_view name) {
  bool after_dash = true;  // a leading '-' is as bad as a doubled one
  for (char c : name) {
    const bool word =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!word && (c != '-' || after_dash))
      return false;
    after_dash = c == '-';
  }
  if (after_dash)  // empty, or a trailing '-'
    return false;
  const std::string_view rest =
      name.substr(std::min(name.find_first_not_of("0123456789"), name.size()));
  const std::string_view head = rest.substr(0, rest.find('-'));
  const auto has = [](const auto& words, std::string_view word) {
    return std::find(words.begin(), words.end(), word) != words.end();
  };
  // "direction", white space (a line end included) and TB make a line a direction statement.
  return !has(kMermaidKeywords, head) && !has(kMermaidSpacedKeywords, rest) &&
         !name.ends_with("direction");
}

// Mermaid identifiers: a node's name when it is a plain identifier, else "n{slot}", with "_"
// appended while that is the name of another node (ids of this form differ in their digits, so
// they never meet each other). Only the made-up ones are stored.
class MermaidIds {
 public:
  explicit MermaidIds(const GraphStore& store) : graph_(store.graph()) {
    for_each_live_node(graph_, [&](NodeIndex n) {
      interrupt::poll(1 + graph_.name(n).size() / 64);
      if (is_plain_mermaid_id(graph_.name(n)))
        return;
      if (made_.empty())
        made_.resize(graph_.node_bound());
      std::string id = "n" + std::to_string(n);
      while (store.contains(id))
        id += '_';
      made_[n] = std::move(id);
    });
  }
  std::string_view operator[](NodeIndex n) const {
    return made_.empty() || made_[n].empty() ? graph_.name(n) : made_[n];
  }

 private:
  const StableGraph& graph_;
  std::vector<std::string> made_;  // by slot; empty for a plain name
};

// Whether text[i], a '#', begins what Mermaid would read as an entity code: '#', word
// characters ('_' among them), then ';'.
bool starts_entity(std::string_view text, std::size_t i) {
  std::size_t j = i + 1;
  const auto word = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  };
  while (j < text.size() && word(text[j]))
    ++j;
  return j > i + 1 && j < text.size() && text[j] == ';';
}

// The white space of Mermaid's script engine beyond the blank and the ASCII controls: its
// regular expressions and its trimming treat these as blanks, some of them as line ends.
bool unicode_space(char32_t c) {
  return c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
         c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

// A Mermaid quoted text that Mermaid shows as exactly `text`. Mermaid rewrites the diagram text
// before its grammar reads it and shows the result as HTML, so each character one of those steps
// would touch becomes an entity code "#N;", which it turns into the HTML entity for that
// character:
// - a quote ends the string and a line feed the statement (written as the line break "<br>");
// - '<' starts a tag (whose `="` Mermaid rewrites), '>' ends one, '&' starts an HTML entity;
// - '%' starts a directive or comment; ':' makes a line holding "style" or "classDef" lose its
//   last ';'; '#', word characters and ';' read as an entity code;
// - white space other than the blank may end a line; leading and trailing blanks are trimmed;
//   a blank after "direction" turns the whole line into a direction statement;
// - a leading backtick makes the text markdown;
// - U+FB02 and U+00B6 start and end Mermaid's own placeholders for entity codes.
// The empty text is a parse error; one blank, trimmed away, shows as empty instead.
void append_mermaid_quoted(std::string& out, std::string_view text) {
  if (text.empty()) {
    out += "\" \"";
    return;
  }
  const auto entity = [&](char32_t code) {
    out.append("#").append(std::to_string(static_cast<std::uint32_t>(code))).append(";");
  };
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t at = i;
    const char32_t code = next_code_point(text, i);
    if (code >= 0x80) {
      if (unicode_space(code) || code == 0xFB02 || code == 0xB6)
        entity(code);
      else
        out.append(text.substr(at, i - at));
      continue;
    }
    const char c = static_cast<char>(code);
    const bool edge = at == 0 || at + 1 == text.size();
    if (c == '"') {
      out += "#quot;";
    } else if (c == '\n') {
      out += "<br>";
    } else if (c == '<' || c == '>' || c == '&' || c == '%' || c == ':' || c == '\t' || c == '\v' ||
               c == '\f' || c == '\r' || (c == '#' && starts_entity(text, at)) ||
               (c == ' ' && (edge || text.substr(0, at).ends_with("direction"))) ||
               (c == '`' && at == 0)) {
      entity(code);
    } else {
      out += c;
    }
  }
  out += '"';
}

}  // namespace

// --- payload-free forms -----------------------------------------------------------------------

std::size_t bincode_size(const GraphStore& store) {
  const StableGraph& g = store.graph();
  std::size_t size = 16;  // the two counts
  for_each_live_node(g, [&](NodeIndex n) { size += bincode_text_size(g.name(n)) + 1; });
  for_each_live_edge(g, [&](EdgeIndex e) {
    size += bincode_text_size(g.name(g.edge_source(e))) +
            bincode_text_size(g.name(g.edge_target(e))) + 8 + 1;
    if (const std::string* label = g.edge_label(e))
      size += bincode_text_size(*label);
  });
  return size;
}

Status to_bincode_writer(const GraphStore& store, std::span<char> out) {
  FixedSink sink(out);
  if (!encode(store.graph(), sink, no_payload)) {
    return TorvexError::graph(bincode_write_error(sink.failure()));
  }
  return {};
}

std::string to_mermaid(const GraphStore& store) {
  const StableGraph& g = store.graph();
  const MermaidIds ids(store);
  std::string out = "graph TD\n";
  for_each_live_node(g, [&](NodeIndex n) {
    interrupt::poll(1 + g.name(n).size() / 64);  // the text is dropped whole on a stop
    out.append("    ").append(ids[n]).append("[");
    append_mermaid_quoted(out, g.name(n));
    out.append("]\n");
  });
  for_each_live_edge(g, [&](EdgeIndex e) {
    interrupt::poll(1 + (ids[g.edge_source(e)].size() + ids[g.edge_target(e)].size()) / 64);
    out.append("    ").append(ids[g.edge_source(e)]);
    if (auto note = annotation(g, e)) {
      out.append(" -->|");
      append_mermaid_quoted(out, *note);
      out.append("| ");
    } else {
      out.append(" --> ");
    }
    out.append(ids[g.edge_target(e)]).append("\n");
  });
  return out;
}

namespace detail {

Result<std::string> to_json(const GraphStore& store, const SlotPayloadWriter& payloads) {
  const StableGraph& g = store.graph();
  // Before any payload hook runs: a refused graph calls no foreign code.
  for (EdgeIndex e = 0; e < g.edge_bound(); ++e) {
    interrupt::poll_at(e);
    if (g.is_edge_live(e) && !std::isfinite(g.edge_weight(e)))
      return weight_without_json_form(g.name(g.edge_source(e)), g.name(g.edge_target(e)),
                                      g.edge_weight(e));
  }
  std::string out;
  out.reserve(128);
  JsonDocumentWriter writer(out);
  std::optional<NodeIndex> too_deep;
  for_each_live_node(g, [&](NodeIndex n) {
    if (too_deep)
      return;
    const std::optional<JsonValue> payload = payload_of(payloads, n);
    if (payload && nesting_depth(*payload) > kDocumentPayloadMaxDepth) {
      too_deep = n;
      return;
    }
    writer.node(g.name(n), payload ? &*payload : nullptr);
  });
  if (too_deep)
    return TorvexError::graph(kJsonWriteFailed +
                              payload_too_deep(g.name(*too_deep), kDocumentPayloadMaxDepth));
  writer.begin_edges();
  for_each_live_edge(g, [&](EdgeIndex e) {
    writer.edge(g.name(g.edge_source(e)), g.name(g.edge_target(e)), g.edge_weight(e),
                g.edge_label(e));
  });
  writer.finish();
  return out;
}

Result<SerializableGraph> read_json_records(std::string_view text) {
  auto records = read_serializable_graph(text);
  if (!records.ok())
    return TorvexError::graph(kJsonReadFailed + records.error().text());
  return records;
}

Status build_from_records(SerializableGraph&& graph, GraphStore& store, const AddNode& add_node) {
  for (SerializableNode& node : graph.nodes) {
    interrupt::poll();
    TORVEX_TRY_STATUS(add_node(std::move(node.name), node.payload ? &*node.payload : nullptr));
  }
  EdgeBatch batch(store);
  Status read = [&]() -> Status {
    for (SerializableEdge& edge : graph.edges) {
      interrupt::poll();
      TORVEX_TRY_STATUS(batch.add(edge.from, edge.to, edge.weight, std::move(edge.label)));
    }
    return {};
  }();
  TORVEX_TRY_STATUS(batch.finish());
  return read;
}

Result<std::string> to_bincode(const GraphStore& store, const SlotPayloadWriter& payloads) {
  std::string out;
  out.reserve(bincode_size(store));  // exact without payloads
  StringSink sink(out);
  std::string text;
  std::optional<NodeIndex> too_deep;
  encode(store.graph(), sink, [&](NodeIndex n) -> const std::string* {
    if (too_deep)
      return nullptr;
    const std::optional<JsonValue> payload = payload_of(payloads, n);
    if (too_deep_for_bincode(payload))
      too_deep = n;
    if (!payload || too_deep)
      return nullptr;
    text.clear();
    append_compact_json(text, *payload);
    return &text;
  });
  if (too_deep)
    return bincode_payload_too_deep(store.graph().name(*too_deep));
  return out;
}

Status to_bincode_file(const GraphStore& store, const std::string& path,
                       const SlotPayloadWriter& payloads, const FileAccess& access) {
  // Opening may block (a pipe waits for its reader), so it is a step of its own, before any
  // payload is converted.
  std::optional<Result<std::unique_ptr<FileOutput>>> opened;
  run_blocking(access, [&] { opened.emplace(FileOutput::create(path, access.interrupted)); });
  TORVEX_TRY(file, std::move(*opened));

  const StableGraph& g = store.graph();
  Result<std::vector<std::optional<std::string>>> converted = payload_texts(g, payloads);
  if (!converted) {
    run_blocking(access, [&] { file.reset(); });  // removes a temporary file
    return std::move(converted).error();
  }
  const std::vector<std::optional<std::string>>& texts = *converted;
  const auto text_of = [&](NodeIndex n) -> const std::string* {
    return texts.empty() || !texts[n] ? nullptr : &*texts[n];
  };

  Status status;
  run_blocking(access, [&] {
    if (!begin_file(g, *file, text_of) || !encode(g, *file, text_of) || !file->commit())
      status = TorvexError::graph(bincode_write_error(file->failure()));
    file.reset();  // closing, or removing a temporary file, may wait too
  });
  return status;
}

Status decode_bincode(std::span<const std::uint8_t> data, bool read_payloads, GraphStore& store,
                      const AddNode& add_node) {
  BincodeDecoder in(data);
  TORVEX_TRY(count, in.u64());
  for (std::uint64_t i = 0; i < count; ++i) {
    interrupt::poll();
    TORVEX_TRY(name, in.text());
    TORVEX_TRY(text, in.optional_text());
    // A payload text that is no JSON value simply leaves the node without payload.
    std::optional<JsonValue> payload;
    if (read_payloads && text) {
      if (auto parsed = parse_json_value(*text); parsed.ok())
        payload = std::move(*parsed);
    }
    TORVEX_TRY_STATUS(add_node(std::string(name), payload ? &*payload : nullptr));
  }
  return decode_edges(in, store);
}

Status decode_bincode_file(const std::string& path, bool read_payloads, GraphStore& store,
                           const AddNode& add_node, const FileAccess& access) {
  std::optional<Result<FileBytes>> read;
  run_blocking(access, [&] { read.emplace(read_file(path, access.interrupted)); });
  TORVEX_TRY(file, std::move(*read));
  return decode_bincode(file.bytes(), read_payloads, store, add_node);
}

std::string to_dot_with(const GraphStore& store, const SlotAttrWriter& attrs) {
  const StableGraph& g = store.graph();
  std::string out = "digraph {\n";
  for_each_live_node(g, [&](NodeIndex n) {
    // Steps by length, so that long names are looked after as often as many short ones. The
    // text is dropped whole on a stop.
    interrupt::poll(1 + g.name(n).size() / 64);
    out.append("    ");
    append_dot_quoted(out, g.name(n));
    if (attrs) {
      if (auto text = attrs(n))
        out.append(" [").append(*text).append("]");
    }
    out.append(";\n");
  });
  for_each_live_edge(g, [&](EdgeIndex e) {
    interrupt::poll(1 + (g.name(g.edge_source(e)).size() + g.name(g.edge_target(e)).size()) / 64);
    out.append("    ");
    append_dot_quoted(out, g.name(g.edge_source(e)));
    out.append(" -> ");
    append_dot_quoted(out, g.name(g.edge_target(e)));
    if (auto note = annotation(g, e)) {
      // Quoted even with a lone line feed, which older scanners then leave out of the shown label:
      // an angle-bracket label would be HTML, a joined one outside the DOT grammar.
      out.append(" [label=");
      append_dot_string(out, *note);
      out.append("]");
    }
    out.append(";\n");
  });
  out.append("}");
  return out;
}

}  // namespace detail

}  // namespace torvex
