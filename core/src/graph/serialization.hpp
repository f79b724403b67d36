// The serialization topic: the JSON document, the binary form (bytes and files), and DOT and
// Mermaid text of a whole graph.
//
// Every form lists the live node slots in index order, then the live edge slots in index
// order. Payloads leave and enter only through the caller's hooks; a hook that throws
// anything but std::bad_alloc counts as one that gave nothing. Readers fill an empty graph
// through add_node and add_edge, so its indices and epochs follow the input and its
// generation counts the insertions.
//
// The templates are thin front ends for DAG<Payload>; the work is done by the non-template
// functions here and in namespace detail, which see payloads only as node slots.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

#include "errors.hpp"
#include "graph/dag.hpp"
#include "interrupt.hpp"
#include "serialization/json_value.hpp"
#include "serialization/records.hpp"

namespace torvex {

// A node's payload as a JSON value; nothing means the node has no payload.
template <class Payload>
using PayloadWriter = std::function<std::optional<JsonValue>(const Payload&)>;
// A payload from a JSON value; nothing means the hook failed and the node gets none.
template <class Payload>
using PayloadReader = std::function<std::optional<Payload>(const JsonValue&)>;
// DOT attribute text for a node (name, payload); nothing means plain.
template <class Payload>
using NodeAttrHook = std::function<std::optional<std::string>(std::string_view, const Payload&)>;

// The deepest payload the JSON document can carry: its reader admits kJsonMaxDepth open
// containers, and the document's object, the node array and the node record are three of them.
inline constexpr int kDocumentPayloadMaxDepth = kJsonMaxDepth - 3;

// How the file readers and writers wait on the operating system; both members are optional.
struct FileAccess {
  // Runs a step that may block on the file system (opening, reading, writing, syncing,
  // closing). A step calls no payload hook, only `interrupted`. Empty: the step runs in place.
  std::function<void(const std::function<void()>&)> blocking;
  // Asked after a signal interrupted a system call: true retries the call, false gives it up
  // and fails the operation with EINTR. Empty: retry.
  std::function<bool()> interrupted;
  // Runs a reader's wait for a rewrite in place by another process or thread, where `blocking`
  // does not already run the read. Empty: the wait runs in place.
  std::function<void(const std::function<void()>&)> waiting;
};

// --- payload-free forms -------------------------------------------------------------------------

// Byte length of the binary form with every payload tag 0. Complexity: O(V + E).
std::size_t bincode_size(const GraphStore& store);

// Writes the binary form without payloads from the start of `out`.
// Errors: Graph "Bincode write error: io error: failed to write whole buffer" when `out` is
// smaller than bincode_size(); its content is then unspecified.
Status to_bincode_writer(const GraphStore& store, std::span<char> out);

// Mermaid flowchart text: "graph TD", then a line per node and per edge, each ending with a
// newline. A node's identifier is its name when that is a plain identifier (ASCII letters,
// digits and "_", not a keyword), else "n{slot}" made unique against the plain names; its
// displayed text is the name in double quotes. An edge is annotated with its label, or else
// with its weight's plain text when that differs from 1.0 by more than 2^-52. Quoted texts
// stand as they are unless they hold '"', a line break or an entity-like "#...;", which are
// written as Mermaid entity codes ("<br>" for a line feed). Never fails.
// Complexity: O(V + E).
std::string to_mermaid(const GraphStore& store);

namespace detail {

// Hooks by node slot.
using SlotPayloadWriter = std::function<std::optional<JsonValue>(NodeIndex)>;
using SlotAttrWriter = std::function<std::optional<std::string>(NodeIndex)>;
// Adds one decoded node to the graph being built; `payload` is null when it has none.
using AddNode = std::function<Status(std::string name, const JsonValue* payload)>;

// Straight from the store to the pretty text, without records in between.
Result<std::string> to_json(const GraphStore& store, const SlotPayloadWriter& payloads);
// Errors: Graph "JSON deserialization failed: {}" with the reader's message.
Result<SerializableGraph> read_json_records(std::string_view text);
// Nodes, then edges, in record order; stops at the first add_node or add_edge error.
Status build_from_records(SerializableGraph&& graph, GraphStore& store, const AddNode& add_node);

Result<std::string> to_bincode(const GraphStore& store, const SlotPayloadWriter& payloads);
Status to_bincode_file(const GraphStore& store, const std::string& path,
                       const SlotPayloadWriter& payloads, const FileAccess& access);
// Decodes record by record, adding each node and edge before reading the next; payload texts
// are parsed only when `read_payloads`.
Status decode_bincode(std::span<const std::uint8_t> data, bool read_payloads, GraphStore& store,
                      const AddNode& add_node);
// Errors: Graph "Failed to open file {}: {}" or "Failed to mmap file {}: {}"; then as
// decode_bincode.
Status decode_bincode_file(const std::string& path, bool read_payloads, GraphStore& store,
                           const AddNode& add_node, const FileAccess& access);

std::string to_dot_with(const GraphStore& store, const SlotAttrWriter& attrs);

// Calls a hook; an exception other than std::bad_alloc, interrupt::Interrupted (the hook asks
// to stop the whole call) and the unwinding of an ending thread becomes "nothing".
template <class F>
auto call_hook(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const interrupt::Interrupted&) {
    throw;
#if defined(__GLIBCXX__)
  } catch (const abi::__forced_unwind&) {
    throw;
#endif
  } catch (...) {
    return std::nullopt;
  }
}

template <class Payload>
SlotPayloadWriter slot_writer(const DAG<Payload>& dag, const PayloadWriter<Payload>& hook) {
  if (!hook)
    return {};
  return [&dag, &hook](NodeIndex n) { return call_hook([&] { return hook(dag.payload(n)); }); };
}

template <class Payload>
AddNode node_adder(DAG<Payload>& dag, const PayloadReader<Payload>& hook) {
  return [&dag, &hook](std::string name, const JsonValue* value) -> Status {
    Payload payload{};
    if (value != nullptr && hook) {
      if (auto read = call_hook([&] { return hook(*value); }))
        payload = std::move(*read);
    }
    auto added = dag.add_node(std::move(name), std::move(payload));
    if (!added.ok())
      return std::move(added).error();
    return {};
  };
}

}  // namespace detail

// --- the JSON document --------------------------------------------------------------------------

// The pretty document; "payload" members only where `hook` gave a value. Whatever it writes,
// from_json_into reads back as the same graph.
// Errors: Graph "JSON serialization failed: {}" for what the document cannot hold: an edge
// whose weight is NaN or infinite (found before the hook is called at all), or a payload
// nested deeper than kDocumentPayloadMaxDepth; the message names the edge or the node.
// Complexity: O(V + E) plus the payload texts.
template <class Payload>
Result<std::string> to_json(const DAG<Payload>& dag,
                            const std::type_identity_t<PayloadWriter<Payload>>& hook = {}) {
  return detail::to_json(dag, detail::slot_writer(dag, hook));
}

// The readers add what they read to a graph the caller owns, which should be empty (after a
// failure it holds what was added before it and is meant to be dropped).

// Adds the nodes, then the edges, of records to `dag`. A record's payload goes through `hook`
// when both are present.
// Errors: DuplicateNode for a repeated name; NodeNotFound for an edge endpoint that no record
// names (source first); Cycle "Edge {} -> {} would create a cycle: {}".
template <class Payload>
Status from_serializable_into(SerializableGraph graph, DAG<Payload>& dag,
                              const std::type_identity_t<PayloadReader<Payload>>& hook = {}) {
  return detail::build_from_records(std::move(graph), dag, detail::node_adder(dag, hook));
}

// Reads the whole text into records, so a text that fails to read adds nothing; then as
// from_serializable_into.
// Errors: Graph "JSON deserialization failed: {}" with the reader's message; then as
// from_serializable_into.
template <class Payload>
Status from_json_into(std::string_view text, DAG<Payload>& dag,
                      const std::type_identity_t<PayloadReader<Payload>>& hook = {}) {
  TORVEX_TRY(records, detail::read_json_records(text));
  return from_serializable_into(std::move(records), dag, hook);
}

// --- the binary form ----------------------------------------------------------------------------

// The binary form without payloads (every tag 0), in a growing buffer. Never fails.
template <class Payload>
std::string to_bincode(const DAG<Payload>& dag) {
  return detail::to_bincode(dag, {}).value();
}

// The binary form with payloads from `hook` (tag 0 where it gives none).
// Errors: Graph "Bincode write error: payload of node {} is nested more than 127 levels deep,
// which the reader refuses" for the first such payload; the hook is not called after it.
template <class Payload>
Result<std::string> to_bincode(const DAG<Payload>& dag,
                               const std::type_identity_t<PayloadWriter<Payload>>& hook) {
  return detail::to_bincode(dag, detail::slot_writer(dag, hook));
}

// Saves the binary form to `path` (payloads as to_bincode). A regular file is replaced only
// once the new content is complete and synced; on failure it stays as it was and no stray
// file remains. A symbolic link's target is replaced. A device or pipe, a file with other
// hard links, a file in a directory that takes no new file and a file whose owner a new file
// cannot be given are rewritten in place.
// Phases: the file is opened, then every payload goes through `hook` (outside
// `access.blocking`), then the bytes are written and put in place.
// Errors: Graph "Failed to create file {}: {}" (the path as given, then the operating
// system's reason), "Bincode write error: io error: {}"; a payload too deep for the reader
// fails as in to_bincode, before any byte is written.
template <class Payload>
Status to_bincode_file(const DAG<Payload>& dag, const std::string& path,
                       const std::type_identity_t<PayloadWriter<Payload>>& hook = {},
                       const FileAccess& access = {}) {
  return detail::to_bincode_file(dag, path, detail::slot_writer(dag, hook), access);
}

// Decodes the binary form into `dag`, each record added before the next is read; bytes after
// the last edge record are ignored. A payload text that is no JSON value (or nests too deep)
// gives a node without payload.
// Errors: Graph "Bincode read error: {}" (truncated input, a tag other than 0 and 1, a text
// that is not UTF-8); DuplicateNode, NodeNotFound, Cycle as from_serializable_into.
// Complexity: O(input) besides the insertions; nothing is reserved from counts in the input.
template <class Payload>
Status from_bincode_into(std::span<const std::uint8_t> data, DAG<Payload>& dag,
                         const std::type_identity_t<PayloadReader<Payload>>& hook = {}) {
  return detail::decode_bincode(data, static_cast<bool>(hook), dag, detail::node_adder(dag, hook));
}

// As from_bincode_into over the file's bytes, read whole into private memory first (in
// `access.blocking`), so neither the hook nor another process can fault the decoding by
// changing the file.
// Errors: Graph "Failed to open file {}: {}", "Failed to mmap file {}: {}"; then as
// from_bincode_into.
// Complexity: the file's length in extra space, besides the graph.
template <class Payload>
Status from_bincode_file_into(const std::string& path, DAG<Payload>& dag,
                              const std::type_identity_t<PayloadReader<Payload>>& hook = {},
                              const FileAccess& access = {}) {
  return detail::decode_bincode_file(path, static_cast<bool>(hook), dag,
                                     detail::node_adder(dag, hook), access);
}

// --- DOT ----------------------------------------------------------------------------------------

// DOT text: "digraph {", a line per node and per edge, and "}" with no newline after it.
// Names and labels are written so that Graphviz and pydot read them back byte for byte: between
// double quotes with each '"' written \" where that form carries them (in parts joined by '+'
// where it must be split), else a name between angle brackets when its own brackets pair up.
// What no form carries (a NUL, for one) is written with \\, \0 and \n for backslash, NUL and
// line feed, and such a name gets '_' appended while it would meet another, so distinct names
// stay distinct nodes. Attribute texts go in verbatim; edges are annotated as in to_mermaid.
// `hook` is called once per node, in node order, for the text of its bracketed attributes.
// Never fails. Complexity: O(V + E) plus the hook calls.
template <class Payload>
std::string to_dot_with(const DAG<Payload>& dag,
                        const std::type_identity_t<NodeAttrHook<Payload>>& hook = {}) {
  detail::SlotAttrWriter attrs;
  if (hook) {
    attrs = [&](NodeIndex n) {
      return detail::call_hook([&] { return hook(dag.graph().name(n), dag.payload(n)); });
    };
  }
  return detail::to_dot_with(dag, attrs);
}

}  // namespace torvex
