// Helpers shared by the fuzz targets: an input reader, a failure that stops the run, UTF-8
// decoding, and a checker of the store's invariants that trusts nothing but the slots.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "../store_checks.hpp"
#include "graph/dag.hpp"
#include "serialization/json_value.hpp"

namespace torvex::fuzz {

// Prints what broke and aborts, so that libFuzzer saves the input as a crash.
[[noreturn]] inline void fail(std::string_view what, std::string_view detail = {}) {
  std::fprintf(stderr, "fuzz check failed: %.*s\n", static_cast<int>(what.size()), what.data());
  if (!detail.empty()) {
    std::fprintf(stderr, "  %.*s\n", static_cast<int>(detail.size()), detail.data());
  }
  std::abort();
}

inline void check(bool ok, std::string_view what, std::string_view detail = {}) {
  if (!ok)
    fail(what, detail);
}

inline bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Takes the input a byte at a time; an exhausted input reads as zeros.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const noexcept { return pos_ >= size_; }
  std::uint8_t byte() noexcept { return done() ? 0 : data_[pos_++]; }
  // A choice among n options (n <= 256).
  std::size_t pick(std::size_t n) noexcept { return byte() % n; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// The code points of valid UTF-8 (no overlong forms, surrogates or values past U+10FFFF),
// or nothing. Written independently of the core's own validation, to check it.
inline std::optional<std::u32string> decode_utf8(std::string_view text) {
  std::u32string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, cp = lead & 0x07, min = 0x10000;
    } else {
      return std::nullopt;
    }
    if (i + extra >= text.size())
      return std::nullopt;
    for (int k = 1; k <= extra; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0) != 0x80)
        return std::nullopt;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return std::nullopt;
    out.push_back(cp);
    i += extra + 1;
  }
  return out;
}

inline bool is_utf8(std::string_view text) {
  return decode_utf8(text).has_value();
}

// Aborts on the first disagreement of the store with its slots (checks::store_fault).
inline void check_store(const GraphStore& store) {
  if (auto fault = checks::store_fault(store))
    fail("the store disagrees with its slots", *fault);
}

inline void check_topo_order(const StableGraph& g, const IndexList& order, std::string_view what) {
  if (auto fault = checks::topo_order_fault(g, order))
    fail(what, *fault);
}

// --- graphs read from the external forms ------------------------------------------------------

// The payload the reader targets keep: the JSON value the reader hook saw, or none.
using JsonPayload = std::shared_ptr<const JsonValue>;
using JsonDag = DAG<JsonPayload>;

// A graph that a reader (from_json_into and the like) built from scratch, or its error.
using ReadDag = Result<std::unique_ptr<JsonDag>>;
template <class Read>
ReadDag read_new(Read&& read) {
  auto dag = std::make_unique<JsonDag>();
  Status status = read(*dag);
  if (!status.ok())
    return std::move(status).error();
  return ReadDag(std::move(dag));
}

// The reader hook: keeps the value, except that it fails for `false` and throws for the
// string "throw", so both ways of giving nothing are exercised.
inline std::optional<JsonPayload> read_payload(const JsonValue& value) {
  if (value.kind() == JsonValue::Kind::Bool && !value.as_bool())
    return std::nullopt;
  if (value.kind() == JsonValue::Kind::String && value.as_string() == "throw") {
    throw std::runtime_error("refused");
  }
  return std::make_shared<const JsonValue>(value);
}

inline std::optional<JsonValue> write_payload(const JsonPayload& payload) {
  if (!payload)
    return std::nullopt;
  return *payload;
}

inline bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// How payloads compare: not at all, exactly, or with a JSON null in `a` standing for none in
// `b` (the document reads "payload": null as no payload).
enum class Payloads { Ignored, Same, NullAsNone };

inline bool is_none(const JsonPayload& payload, Payloads mode) {
  return !payload || (mode == Payloads::NullAsNone && payload->is_null());
}

// Same live nodes in slot order (names, payloads as `payloads` says), same live edges in slot
// order (endpoint names, weight bit for bit, label).
inline void check_same_graph(const JsonDag& a, const JsonDag& b, Payloads payloads,
                             std::string_view what) {
  const StableGraph& ga = a.graph();
  const StableGraph& gb = b.graph();
  check(ga.node_count() == gb.node_count() && ga.edge_count() == gb.edge_count(), what,
        "counts differ");
  const IndexList na = a.nodes(), nb = b.nodes();
  for (std::size_t i = 0; i < na.size(); ++i) {
    check(ga.name(na[i]) == gb.name(nb[i]), what, "names differ");
    if (payloads == Payloads::Ignored)
      continue;
    const JsonPayload& pa = a.payload(na[i]);
    const JsonPayload& pb = b.payload(nb[i]);
    const bool none = is_none(pa, payloads);
    check(none == !pb && (none || *pa == *pb), what, "payloads differ");
  }
  std::vector<EdgeIndex> ea, eb;
  for (EdgeIndex e = 0; e < ga.edge_bound(); ++e)
    if (ga.is_edge_live(e))
      ea.push_back(e);
  for (EdgeIndex e = 0; e < gb.edge_bound(); ++e)
    if (gb.is_edge_live(e))
      eb.push_back(e);
  for (std::size_t i = 0; i < ea.size(); ++i) {
    const EdgeIndex x = ea[i], y = eb[i];
    check(ga.name(ga.edge_source(x)) == gb.name(gb.edge_source(y)) &&
              ga.name(ga.edge_target(x)) == gb.name(gb.edge_target(y)),
          what, "edge endpoints differ");
    check(same_bits(ga.edge_weight(x), gb.edge_weight(y)), what, "weights differ");
    const std::string* la = ga.edge_label(x);
    const std::string* lb = gb.edge_label(y);
    check(static_cast<bool>(la) == static_cast<bool>(lb) && (!la || *la == *lb), what,
          "labels differ");
  }
}

// A freshly read graph: consistent, dense indices and epochs in record order, one generation
// per insertion, an untouched cache.
inline void check_fresh_graph(const JsonDag& dag) {
  check_store(dag);
  const StableGraph& g = dag.graph();
  check(g.node_bound() == g.node_count(), "a read graph has vacant node slots");
  check(g.edge_bound() == g.edge_count(), "a read graph has vacant edge slots");
  for (NodeIndex n = 0; n < g.node_bound(); ++n) {
    check(dag.epoch(n) == n, "epochs do not follow the records");
  }
  check(dag.generation() == g.node_count() + g.edge_count(), "generation is not the insertions");
  check(dag.cache_size() == 0 && dag.cache_hits() == 0 && dag.cache_misses() == 0,
        "a read graph starts with a used cache");
}

}  // namespace torvex::fuzz
