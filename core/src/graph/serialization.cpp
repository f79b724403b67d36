// The serialization topic: the graph walks behind every form and the builders behind every
// reader. The byte and text details live in serialization/.
#include "graph/serialization.hpp"

#include <algorithm>
#include <array>
#include <boost/unordered/unordered_flat_set.hpp>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "hash.hpp"
#include "interrupt.hpp"
#include "serialization/bincode.hpp"
#include "serialization/file_io.hpp"
#include "serialization/json_reader.hpp"
#include "serialization/json_writer.hpp"
#include "serialization/number_text.hpp"
#include "utf8.hpp"

namespace torvex {

using namespace std::string_view_literals;

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

// The label, else the weight when it is not 1.0 (NaN never is annotated), else nothing. A
// weight's text is written into `buffer`, which one call after another reuses.
std::optional<std::string_view> annotation(const StableGraph& g, EdgeIndex e, std::string& buffer) {
  if (const std::string* label = g.edge_label(e))
    return *label;
  const double weight = g.edge_weight(e);
  if (std::fabs(weight - 1.0) > std::numeric_limits<double>::epsilon()) {
    buffer.clear();
    append_plain_float(buffer, weight);
    return buffer;
  }
  return std::nullopt;
}

// Both DOT readers take a quoted string apart as Graphviz's scanner does: \" is a quote, \\ a
// pair that stays as it is, a backslash before a line feed joins two lines, and every other byte
// stands for itself. Beyond that, pydot drops a backslash before a line feed or a CR LF even when
// it ends a pair; Graphviz 2.43 drops a line feed that stands alone between a quote or a
// backslash (or an end of the string) and a quote or a backslash (or an end); and Graphviz
// refuses a quoted or angle-bracket run longer than 16,384 bytes. Both read quoted parts joined
// by '+' as one string, each part scanned on its own, so a part may end where a scan must stop.

// At most 16,000 bytes once each quote has its backslash.
constexpr std::size_t kDotPartText = 8000;

// Whether a text goes between quotes as it is: no '"', '\\', line feed or NUL, and short enough
// for one part. Looks at eight bytes at a time: most names are plain.
bool is_plain_dot_text(std::string_view text) {
  if (text.size() > kDotPartText)
    return false;
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  const auto zero_byte = [](std::uint64_t word) { return (word - kOnes) & ~word & (kOnes << 7); };
  const auto special = [&](std::uint64_t word) {
    return zero_byte(word) | zero_byte(word ^ (kOnes * '"')) | zero_byte(word ^ (kOnes * '\\')) |
           zero_byte(word ^ (kOnes * '\n'));
  };
  const auto word_at = [&](std::size_t i) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    return word;
  };
  if (text.size() < 8) {
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return c == '"' || c == '\\' || c == '\n' || c == '\0'; });
  }
  std::uint64_t found = special(word_at(text.size() - 8));  // the last eight, overlapping
  for (std::size_t i = 0; i + 8 < text.size(); i += 8)
    found |= special(word_at(i));
  return found == 0;
}

std::size_t backslashes_before(std::string_view text, std::size_t part_start, std::size_t i) {
  std::size_t k = i;
  while (k > part_start && text[k - 1] == '\\')
    --k;
  return i - k;
}

// Whether a part that began at `part_start` may end before text[i]: not inside a character, not
// beside a line feed, and not after an odd run of backslashes, which would escape the quote.
bool can_end_part(std::string_view text, std::size_t part_start, std::size_t i) {
  return (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && text[i] != '\n' &&
         text[i - 1] != '\n' && backslashes_before(text, part_start, i) % 2 == 0;
}

// The ends of the parts of a quoted form of `text` (no NUL) that both readers read byte for
// byte, or nothing when there is none. With `lone_line_feeds_ok`, line feeds that only Graphviz
// drops are let through.
std::optional<std::vector<std::size_t>> dot_part_ends(std::string_view text,
                                                      bool lone_line_feeds_ok) {
  // Parts must end after a run of backslashes that meets a line feed, so that no part holds a
  // backslash before it; a run that meets a quote or the end must be even.
  std::vector<std::size_t> cuts;
  for (std::size_t i = text.find('\\'); i < text.size(); i = text.find('\\', i)) {
    std::size_t j = i;
    while (j < text.size() && text[j] == '\\')
      ++j;
    const bool odd = (j - i) % 2 == 1;
    if (j == text.size() || text[j] == '"' || text[j] == '\n') {
      if (odd)
        return std::nullopt;
      if (j < text.size() && text[j] == '\n')
        cuts.push_back(j);
    } else if (text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n') {
      cuts.push_back(odd ? j + 1 : j);  // an odd run may keep the CR: a backslash before it stays
    }
    i = j;
  }
  cuts.push_back(text.size());

  // Parts short enough for Graphviz.
  std::vector<std::size_t> ends;
  std::size_t start = 0;
  for (std::size_t cut : cuts) {
    while (cut - start > kDotPartText) {
      std::size_t end = start + kDotPartText;
      while (end > start && !can_end_part(text, start, end))
        --end;
      if (end == start)
        return std::nullopt;
      ends.push_back(end);
      start = end;
    }
    ends.push_back(cut);
    start = cut;
  }

  // No line feed alone between scan stops within a part.
  if (!lone_line_feeds_ok) {
    const auto stops = [&](std::size_t k) { return text[k] == '"' || text[k] == '\\'; };
    start = 0;
    for (std::size_t end : ends) {
      for (std::size_t i = text.find('\n', start); i < end; i = text.find('\n', i + 1)) {
        if ((i == start || stops(i - 1)) && (i + 1 == end || stops(i + 1)))
          return std::nullopt;
      }
      start = end;
    }
  }
  return ends;
}

void append_dot_parts(std::string& out, std::string_view text,
                      const std::vector<std::size_t>& ends) {
  std::size_t start = 0;
  for (std::size_t end : ends) {
    if (start > 0)
      out += " + ";
    out += '"';
    for (std::size_t i = start; i < end; ++i) {
      if (text[i] == '"')
        out += '\\';
      out += text[i];
    }
    out += '"';
    start = end;
  }
}

// Whether `text` reads back byte for byte between angle brackets: its own brackets pair up,
// none closing early, and Graphviz's scan stops often enough (at a bracket or a line feed).
bool fits_angle_brackets(std::string_view text) {
  std::size_t depth = 0;
  std::size_t run = 0;
  for (char c : text) {
    if (c == '<') {
      ++depth;
    } else if (c == '>' && depth-- == 0) {
      return false;
    }
    run = c == '<' || c == '>' || c == '\n' ? 0 : run + 1;
    if (run > 2 * kDotPartText)
      return false;
  }
  return depth == 0;
}

// A text that no DOT form carries, in a form both readers read alike: each backslash doubled, a
// NUL as \0 and a line feed as \n. Distinct texts stay distinct.
std::string dot_escaped(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\\')
      escaped += "\\\\";
    else if (c == '\0')
      escaped += "\\0";
    else if (c == '\n')
      escaped += "\\n";
    else
      escaped += c;
  }
  return escaped;
}

// The quoted form of an escaped text, whose backslash runs before a quote or the end are even
// and which holds no line feed, so that it always has one.
void append_dot_escaped(std::string& out, std::string_view text) {
  const std::string escaped = dot_escaped(text);
  append_dot_parts(out, escaped, *dot_part_ends(escaped, true));
}

// An edge label, always quoted (an angle-bracket one would be HTML): byte for byte where a
// quoted form carries it, a lone line feed only for pydot; else escaped.
void append_dot_label(std::string& out, std::string_view label) {
  if (is_plain_dot_text(label)) {
    out += '"';
    out.append(label);
    out += '"';
  } else if (label.find('\0') != std::string_view::npos) {
    append_dot_escaped(out, label);
  } else if (auto ends = dot_part_ends(label, true)) {
    append_dot_parts(out, label, *ends);
  } else {
    append_dot_escaped(out, label);
  }
}

// Node names as DOT writes them: quoted as they are for most, in quoted parts or angle brackets
// where that reads back byte for byte, else escaped, with '_' appended while that is a name of
// the graph or of another escaped node, so that distinct nodes stay distinct. Each name is
// looked at once; only the forms that differ from the quoted name are stored.
class DotNames {
 public:
  explicit DotNames(const GraphStore& store) : graph_(store.graph()) {
    // Made only when needed: its seed costs a system call.
    std::optional<boost::unordered_flat_set<std::string, SeededStringHash, std::equal_to<>>>
        escaped;
    for_each_live_node(graph_, [&](NodeIndex n) {
      const std::string_view name = graph_.name(n);
      interrupt::poll(1 + name.size() / 64);
      if (is_plain_dot_text(name))
        return;
      if (written_.empty())
        written_.resize(graph_.node_bound());
      std::string& form = written_[n];
      if (name.find('\0') == std::string_view::npos) {
        if (auto ends = dot_part_ends(name, false)) {
          append_dot_parts(form, name, *ends);
          return;
        }
        if (fits_angle_brackets(name)) {
          form.append("<").append(name).append(">");
          return;
        }
      }
      if (!escaped)
        escaped.emplace();
      std::string id = dot_escaped(name);
      while (store.contains(id) || escaped->contains(id))
        id += '_';
      append_dot_parts(form, id, *dot_part_ends(id, true));
      escaped->insert(std::move(id));
    });
  }
  void append(std::string& out, NodeIndex n) const {
    if (written_.empty() || written_[n].empty()) {
      out += '"';
      out.append(graph_.name(n));
      out += '"';
    } else {
      out.append(written_[n]);
    }
  }

 private:
  const StableGraph& graph_;
  std::vector<std::string> written_;  // by slot; empty for a name written as it is
};

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

// The bytes append_mermaid_quoted looks at: the ASCII ones it may write otherwise, and the first
// bytes of the code points it may write otherwise (U+00A0 and U+00B6, U+1680, U+2000 to U+205F,
// U+3000, U+FB02 and U+FEFF).
constexpr std::array<bool, 256> kMermaidLooksAt = [] {
  std::array<bool, 256> looks{};
  for (unsigned char c : std::string_view("\"\n<>&%:\t\v\f\r# `"))
    looks[c] = true;
  for (unsigned char c : {0xC2, 0xE1, 0xE2, 0xE3, 0xEF})
    looks[c] = true;
  return looks;
}();

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
    // Most bytes stand as they are: copy them a run at a time.
    std::size_t run_end = i;
    while (run_end < text.size() && !kMermaidLooksAt[static_cast<unsigned char>(text[run_end])])
      ++run_end;
    out.append(text.substr(i, run_end - i));
    if (run_end == text.size())
      break;
    i = run_end;
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
  std::string weight_text;
  for_each_live_node(g, [&](NodeIndex n) {
    interrupt::poll(1 + g.name(n).size() / 64);  // the text is dropped whole on a stop
    out.append("    "sv).append(ids[n]).append("["sv);
    append_mermaid_quoted(out, g.name(n));
    out.append("]\n"sv);
  });
  for_each_live_edge(g, [&](EdgeIndex e) {
    interrupt::poll(1 + (ids[g.edge_source(e)].size() + ids[g.edge_target(e)].size()) / 64);
    out.append("    "sv).append(ids[g.edge_source(e)]);
    if (auto note = annotation(g, e, weight_text)) {
      out.append(" -->|"sv);
      append_mermaid_quoted(out, *note);
      out.append("| "sv);
    } else {
      out.append(" --> "sv);
    }
    out.append(ids[g.edge_target(e)]).append("\n"sv);
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
  run_blocking(access, [&] { read.emplace(read_file(path, access.interrupted, access.waiting)); });
  TORVEX_TRY(file, std::move(*read));
  return decode_bincode(file.bytes(), read_payloads, store, add_node);
}

std::string to_dot_with(const GraphStore& store, const SlotAttrWriter& attrs) {
  const StableGraph& g = store.graph();
  const DotNames names(store);
  std::string out = "digraph {\n";
  std::string weight_text;
  for_each_live_node(g, [&](NodeIndex n) {
    // Steps by length, so that long names are looked after as often as many short ones. The
    // text is dropped whole on a stop.
    interrupt::poll(1 + g.name(n).size() / 64);
    out.append("    "sv);
    names.append(out, n);
    if (attrs) {
      if (auto text = attrs(n))
        out.append(" ["sv).append(*text).append("]");
    }
    out.append(";\n"sv);
  });
  for_each_live_edge(g, [&](EdgeIndex e) {
    interrupt::poll(1 + (g.name(g.edge_source(e)).size() + g.name(g.edge_target(e)).size()) / 64);
    out.append("    "sv);
    names.append(out, g.edge_source(e));
    out.append(" -> "sv);
    names.append(out, g.edge_target(e));
    if (auto note = annotation(g, e, weight_text)) {
      out.append(" [label="sv);
      append_dot_label(out, *note);
      out.append("]"sv);
    }
    out.append(";\n"sv);
  });
  out.append("}"sv);
  return out;
}

}  // namespace detail

}  // namespace torvex
