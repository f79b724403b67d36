// The binary-form reader on arbitrary bytes, against a decoder written here from the layout.
//
// Reading with and without a payload hook, from memory or from a file, must agree with the
// reference decoder on the outcome: the same error (truncation, bad tag, bad UTF-8, duplicate
// node, missing node, cycle) or the same records. An accepted graph must then write back
// exactly: the fixed-size writer fills a buffer of bincode_size() bytes, refuses one byte less,
// and the payload-carrying form reads back to the same graph and the same bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "graph/serialization.hpp"

namespace torvex::fuzz {
namespace {

using Bytes = std::span<const std::uint8_t>;

Bytes as_bytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// The UTF-8 error text of the layout: the valid prefix ends at `index`; the invalid sequence
// there has `length` bytes, or the input ends inside it.
std::optional<std::string> utf8_problem(std::string_view text) {
  auto cont = [](unsigned char b) { return (b & 0xC0) == 0x80; };
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    const int width = lead >= 0xC2 && lead <= 0xDF   ? 2
                      : lead >= 0xE0 && lead <= 0xEF ? 3
                      : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                     : 0;
    const std::string from_index = " from index " + std::to_string(i);
    if (width == 0)
      return "invalid utf-8 sequence of 1 bytes" + from_index;
    for (int k = 1; k < width; ++k) {
      if (i + k >= text.size())
        return "incomplete utf-8 byte sequence" + from_index;
      const auto b = static_cast<unsigned char>(text[i + k]);
      bool ok = cont(b);
      if (k == 1) {
        if (lead == 0xE0)
          ok = b >= 0xA0 && b <= 0xBF;
        if (lead == 0xED)
          ok = b >= 0x80 && b <= 0x9F;
        if (lead == 0xF0)
          ok = b >= 0x90 && b <= 0xBF;
        if (lead == 0xF4)
          ok = b >= 0x80 && b <= 0x8F;
      }
      if (!ok)
        return "invalid utf-8 sequence of " + std::to_string(k) + " bytes" + from_index;
    }
    i += width;
  }
  return std::nullopt;
}

struct EdgeRecord {
  std::string from, to;
  double weight = 0;
  std::optional<std::string> label;
};

// What reading the bytes must give: an error (the whole message, or for a cycle its
// fixed beginning), or these records.
struct Expected {
  std::optional<TorvexError> error;
  std::vector<std::string> names;
  std::vector<EdgeRecord> edges;
};

class ReferenceDecoder {
 public:
  explicit ReferenceDecoder(Bytes data) : data_(data) {}

  Expected run() {
    Expected out;
    std::uint64_t count = 0;
    if (!u64(count))
      return error(out);
    std::map<std::string, std::size_t> index;
    std::vector<std::vector<std::size_t>> successors;
    for (std::uint64_t i = 0; i < count; ++i) {
      std::string name;
      std::optional<std::string> payload;
      if (!text(name) || !optional_text(payload))
        return error(out);
      if (index.count(name)) {
        out.error = TorvexError::duplicate_node(name);
        return out;
      }
      index.emplace(name, out.names.size());
      out.names.push_back(std::move(name));
      successors.emplace_back();
    }
    if (!u64(count))
      return error(out);
    for (std::uint64_t i = 0; i < count; ++i) {
      EdgeRecord edge;
      std::uint64_t bits = 0;
      if (!text(edge.from) || !text(edge.to) || !u64(bits) || !optional_text(edge.label)) {
        return error(out);
      }
      edge.weight = std::bit_cast<double>(bits);
      auto from = index.find(edge.from);
      auto to = index.find(edge.to);
      if (from == index.end() || to == index.end()) {
        out.error = TorvexError::node_not_found(from == index.end() ? edge.from : edge.to);
        return out;
      }
      if (reaches(successors, to->second, from->second)) {
        out.error =
            TorvexError::cycle("Edge " + edge.from + " -> " + edge.to + " would create a cycle: ");
        return out;
      }
      successors[from->second].push_back(to->second);
      out.edges.push_back(std::move(edge));
    }
    return out;
  }

 private:
  Expected& error(Expected& out) {
    out.error = TorvexError::graph("Bincode read error: " + problem_);
    return out;
  }

  bool truncated() {
    problem_ = "io error: failed to fill whole buffer";
    return false;
  }

  bool u64(std::uint64_t& out) {
    if (data_.size() - pos_ < 8)
      return truncated();
    std::memcpy(&out, data_.data() + pos_, 8);  // little-endian host, checked by the core
    pos_ += 8;
    return true;
  }

  bool text(std::string& out) {
    std::uint64_t length = 0;
    if (!u64(length))
      return false;
    if (length > data_.size() - pos_)
      return truncated();
    out.assign(reinterpret_cast<const char*>(data_.data() + pos_), length);
    pos_ += length;
    if (auto problem = utf8_problem(out)) {
      problem_ = "string is not valid utf8: " + *problem;
      return false;
    }
    return true;
  }

  bool optional_text(std::optional<std::string>& out) {
    if (pos_ == data_.size())
      return truncated();
    const std::uint8_t tag = data_[pos_++];
    if (tag > 1) {
      problem_ = "tag for enum is not valid, found " + std::to_string(tag);
      return false;
    }
    if (tag == 0)
      return true;
    out.emplace();
    return text(*out);
  }

  static bool reaches(const std::vector<std::vector<std::size_t>>& successors, std::size_t start,
                      std::size_t goal) {
    std::vector<bool> seen(successors.size(), false);
    std::vector<std::size_t> stack{start};
    seen[start] = true;
    while (!stack.empty()) {
      const std::size_t u = stack.back();
      stack.pop_back();
      if (u == goal)
        return true;
      for (std::size_t v : successors[u]) {
        if (!seen[v])
          seen[v] = true, stack.push_back(v);
      }
    }
    return false;
  }

  Bytes data_;
  std::size_t pos_ = 0;
  std::string problem_;
};

void check_outcome(const ReadDag& read, const Expected& expected, std::string_view what) {
  if (expected.error) {
    check(!read.ok(), what, "accepted bytes the layout refuses");
    const TorvexError& got = read.error();
    if (expected.error->kind() == ErrorKind::Cycle) {
      check(got.kind() == ErrorKind::Cycle && starts_with(got.text(), expected.error->text()), what,
            "cycle error expected: " + got.display());
    } else {
      check(got == *expected.error, what,
            "expected " + expected.error->display() + ", got " + got.display());
    }
    return;
  }
  check(read.ok(), what, read.ok() ? "" : "refused valid bytes: " + read.error().display());
  const JsonDag& dag = **read;
  const StableGraph& g = dag.graph();
  check(g.node_count() == expected.names.size() && g.edge_count() == expected.edges.size(), what,
        "record counts differ");
  for (NodeIndex n = 0; n < g.node_count(); ++n) {
    check(g.name(n) == expected.names[n], what, "node names differ");
  }
  for (EdgeIndex e = 0; e < g.edge_count(); ++e) {
    const EdgeRecord& want = expected.edges[e];
    check(g.name(g.edge_source(e)) == want.from && g.name(g.edge_target(e)) == want.to, what,
          "edge endpoints differ");
    check(same_bits(g.edge_weight(e), want.weight), what, "weights differ");
    const std::string* label = g.edge_label(e);
    check(static_cast<bool>(label) == want.label.has_value() && (!label || *label == *want.label),
          what, "labels differ");
  }
}

// The writers agree with each other and with the reader.
void check_writers(const JsonDag& dag) {
  const std::string plain = to_bincode(dag);
  check(bincode_size(dag) == plain.size(), "bincode_size differs from the written length");
  std::string buffer(plain.size(), '\0');
  check(to_bincode_writer(dag, buffer).ok() && buffer == plain,
        "the fixed-size writer differs from the growing one");
  buffer.pop_back();
  const Status short_write = to_bincode_writer(dag, buffer);
  check(!short_write.ok() &&
            short_write.error() ==
                TorvexError::graph("Bincode write error: io error: failed to write whole buffer"),
        "a buffer one byte short is not refused as it should be");

  const std::string full = to_bincode(dag, write_payload).value();
  auto again =
      read_new([&](JsonDag& d) { return from_bincode_into(as_bytes(full), d, read_payload); });
  check(again.ok(), "written bytes are refused", again.ok() ? "" : again.error().display());
  check_same_graph(dag, **again, Payloads::Same, "bytes read back");
  check(to_bincode(**again, write_payload).value() == full, "bytes written twice differ");
}

// The JSON document carries the graph too, unless it holds what the document cannot: a
// non-finite weight, or a payload nested deeper than the document reader admits. The writer
// then refuses it rather than write a document that does not read back.
void check_json_form(const JsonDag& dag) {
  const StableGraph& g = dag.graph();
  bool too_deep = false;
  for (NodeIndex n : dag.nodes()) {
    if (dag.payload(n) && nesting_depth(*dag.payload(n)) > kDocumentPayloadMaxDepth)
      too_deep = true;
  }
  bool non_finite = false;
  for (EdgeIndex e = 0; e < g.edge_bound(); ++e) {
    if (g.is_edge_live(e) && !std::isfinite(g.edge_weight(e)))
      non_finite = true;
  }
  auto document = to_json(dag, write_payload);
  if (too_deep || non_finite) {
    const std::string_view expected = non_finite ? "has weight" : "is nested more than";
    check(!document.ok() && document.error().text().find(expected) != std::string::npos,
          "the writer should refuse the graph", expected);
    return;
  }
  check(document.ok(), "the writer refuses the graph",
        document.ok() ? "" : document.error().text());
  auto read = read_new([&](JsonDag& d) { return from_json_into(*document, d, read_payload); });
  check(read.ok(), "the written document is refused", read.ok() ? "" : read.error().display());
  check_same_graph(dag, **read, Payloads::NullAsNone, "document read back");
}

// The path of a file that holds exactly `bytes`: one memory-backed file, rewritten each time.
std::string file_holding(Bytes bytes) {
  static const int fd = memfd_create("bincode_reader_fuzz", 0);
  check(fd >= 0, "memfd_create failed");
  check(ftruncate(fd, 0) == 0, "ftruncate failed");
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    check(n > 0, "pwrite failed");
    done += static_cast<std::size_t>(n);
  }
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace
}  // namespace torvex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace torvex;
  using namespace torvex::fuzz;
  const Bytes input(data, size);
  const Expected expected = ReferenceDecoder(input).run();

  // Payload texts are parsed only with a hook; either way the outcome is the same.
  auto with_hook = read_new([&](JsonDag& d) { return from_bincode_into(input, d, read_payload); });
  check_outcome(with_hook, expected, "read with a payload hook");
  auto plain = read_new([&](JsonDag& d) { return from_bincode_into(input, d); });
  check_outcome(plain, expected, "read without a payload hook");
  const std::string path = file_holding(input);
  check_outcome(read_new([&](JsonDag& d) { return from_bincode_file_into(path, d, read_payload); }),
                expected, "read from a file");
  if (expected.error)
    return 0;

  check_fresh_graph(**with_hook);
  check_fresh_graph(**plain);
  for (NodeIndex n : plain.value()->nodes()) {
    check(!plain.value()->payload(n), "a payload read without a hook");
  }
  check_writers(**with_hook);
  check(to_bincode(**plain) == to_bincode(**with_hook), "the hook changed the structure");
  check_json_form(**with_hook);
  return 0;
}
