// The serialization topic: the graph walks behind every form and the builders behind every
// reader. The byte and text details live in serialization/.
#include "graph/serialization.hpp"

#include <cmath>
#include <limits>
#include <vector>

#include "serialization/bincode.hpp"
#include "serialization/file_io.hpp"
#include "serialization/json_reader.hpp"
#include "serialization/json_writer.hpp"
#include "serialization/number_text.hpp"

namespace torvex {

namespace {

constexpr const char* kJsonReadFailed = "JSON deserialization failed: ";

// --- walks ------------------------------------------------------------------------------------

template <class F>
void for_each_live_node(const StableGraph& g, F&& f) {
  for (NodeIndex n = 0; n < g.node_bound(); ++n) {
    if (g.is_live(n))
      f(n);
  }
}

template <class F>
void for_each_live_edge(const StableGraph& g, F&& f) {
  for (EdgeIndex e = 0; e < g.edge_bound(); ++e) {
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

// Writes every field in layout order; false as soon as the sink refuses one.
template <class Sink>
bool encode(const StableGraph& g, Sink& sink, const detail::SlotPayloadWriter& payloads) {
  BincodeEncoder<Sink> out(sink);
  bool ok = out.u64(g.node_count());
  std::string text;
  for_each_live_node(g, [&](NodeIndex n) {
    if (!ok)
      return;
    ok = out.text(g.name(n));
    if (!ok)
      return;
    std::optional<JsonValue> payload = payload_of(payloads, n);
    if (payload) {
      text.clear();
      append_compact_json(text, *payload);
    }
    ok = out.optional_text(payload ? &text : nullptr);
  });
  ok = ok && out.u64(g.edge_count());
  for_each_live_edge(g, [&](EdgeIndex e) {
    ok = ok && out.text(g.name(g.edge_source(e))) && out.text(g.name(g.edge_target(e))) &&
         out.f64(g.edge_weight(e)) && out.optional_text(g.edge_label(e));
  });
  return ok;
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
          if (auto n = store.find(name)) store.prefetch_node(*n);
        }
      }
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

}  // namespace

// --- payload-free forms -----------------------------------------------------------------------

SerializableGraph to_serializable(const GraphStore& store) {
  return detail::to_serializable(store, {});
}

std::string write_json_document(const SerializableGraph& graph) {
  std::string out;
  out.reserve(128);
  JsonDocumentWriter writer(out);
  for (const SerializableNode& node : graph.nodes) {
    writer.node(node.name, node.payload ? &*node.payload : nullptr);
  }
  writer.begin_edges();
  for (const SerializableEdge& edge : graph.edges) {
    writer.edge(edge.from, edge.to, edge.weight, edge.label ? &*edge.label : nullptr);
  }
  writer.finish();
  return out;
}

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
  if (!encode(store.graph(), sink, {})) {
    return TorvexError::graph(bincode_write_error(sink.failure()));
  }
  return {};
}

std::string to_mermaid(const GraphStore& store) {
  const StableGraph& g = store.graph();
  std::string out = "graph TD\n";
  for_each_live_node(g, [&](NodeIndex n) {
    out.append("    ").append(g.name(n)).append("[\"").append(g.name(n)).append("\"]\n");
  });
  for_each_live_edge(g, [&](EdgeIndex e) {
    out.append("    ").append(g.name(g.edge_source(e)));
    if (auto note = annotation(g, e)) {
      out.append(" -->|\"").append(*note).append("\"| ");
    } else {
      out.append(" --> ");
    }
    out.append(g.name(g.edge_target(e))).append("\n");
  });
  return out;
}

namespace detail {

SerializableGraph to_serializable(const GraphStore& store, const SlotPayloadWriter& payloads) {
  const StableGraph& g = store.graph();
  SerializableGraph records;
  records.nodes.reserve(g.node_count());
  records.edges.reserve(g.edge_count());
  for_each_live_node(g, [&](NodeIndex n) {
    records.nodes.push_back({std::string(g.name(n)), payload_of(payloads, n)});
  });
  for_each_live_edge(g, [&](EdgeIndex e) {
    const std::string* label = g.edge_label(e);
    records.edges.push_back({std::string(g.name(g.edge_source(e))),
                             std::string(g.name(g.edge_target(e))), g.edge_weight(e),
                             label ? std::optional<std::string>(*label) : std::nullopt});
  });
  return records;
}

std::string to_json(const GraphStore& store, const SlotPayloadWriter& payloads) {
  const StableGraph& g = store.graph();
  std::string out;
  out.reserve(128);
  JsonDocumentWriter writer(out);
  for_each_live_node(g, [&](NodeIndex n) {
    const std::optional<JsonValue> payload = payload_of(payloads, n);
    writer.node(g.name(n), payload ? &*payload : nullptr);
  });
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
    TORVEX_TRY_STATUS(add_node(std::move(node.name), node.payload ? &*node.payload : nullptr));
  }
  EdgeBatch batch(store);
  Status read = [&]() -> Status {
    for (SerializableEdge& edge : graph.edges) {
      TORVEX_TRY_STATUS(batch.add(edge.from, edge.to, edge.weight, std::move(edge.label)));
    }
    return {};
  }();
  TORVEX_TRY_STATUS(batch.finish());
  return read;
}

std::string to_bincode(const GraphStore& store, const SlotPayloadWriter& payloads) {
  std::string out;
  out.reserve(bincode_size(store));  // exact without payloads
  StringSink sink(out);
  encode(store.graph(), sink, payloads);
  return out;
}

Status to_bincode_file(const GraphStore& store, const std::string& path,
                       const SlotPayloadWriter& payloads) {
  TORVEX_TRY(file, FileOutput::create(path));
  if (!encode(store.graph(), *file, payloads) || !file->commit()) {
    return TorvexError::graph(bincode_write_error(file->failure()));
  }
  return {};
}

Status decode_bincode(std::span<const std::uint8_t> data, bool read_payloads, GraphStore& store,
                      const AddNode& add_node) {
  BincodeDecoder in(data);
  TORVEX_TRY(count, in.u64());
  for (std::uint64_t i = 0; i < count; ++i) {
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
                           const AddNode& add_node) {
  std::vector<std::uint8_t> copy;
  {
    TORVEX_TRY(file, MappedFile::open(path));
    if (!read_payloads)
      return decode_bincode(file.bytes(), false, store, add_node);
    // The payload hook is foreign code that may shrink the file; past its new end a mapped
    // page faults the process, so decode from a private copy instead.
    copy.assign(file.bytes().begin(), file.bytes().end());
  }
  return decode_bincode(copy, true, store, add_node);
}

std::string to_dot_with(const GraphStore& store, const SlotAttrWriter& attrs) {
  const StableGraph& g = store.graph();
  std::string out = "digraph {\n";
  for_each_live_node(g, [&](NodeIndex n) {
    out.append("    \"").append(g.name(n)).append("\"");
    if (attrs) {
      if (auto text = attrs(n))
        out.append(" [").append(*text).append("]");
    }
    out.append(";\n");
  });
  for_each_live_edge(g, [&](EdgeIndex e) {
    out.append("    \"").append(g.name(g.edge_source(e))).append("\" -> \"");
    out.append(g.name(g.edge_target(e))).append("\"");
    if (auto note = annotation(g, e))
      out.append(" [label=\"").append(*note).append("\"]");
    out.append(";\n");
  });
  out.append("}");
  return out;
}

}  // namespace detail

}  // namespace torvex
