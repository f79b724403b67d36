// Glob translation and pattern compilation on arbitrary patterns and names.
//
// Input: fields separated by the byte 0xFF (never part of UTF-8): the pattern, then node names.
// The pattern also names a node of its own. A glob's translation must always compile and select
// exactly the names that a direct glob matcher accepts; the raw pattern as a regular expression
// must either compile and select nodes in index order, or be refused with the documented error.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "algorithms/matching.hpp"
#include "algorithms/regex/pike_vm.hpp"
#include "fuzz_support.hpp"

namespace torvex::fuzz {
namespace {

constexpr std::size_t kMaxNames = 24;
// The direct matcher is quadratic; longer globs and names are only checked by the store.
constexpr std::size_t kMaxMatcherLength = 256;

// `*` is any run of characters without a line feed, `?` one character other than a line feed,
// anything else itself: dynamic programming over code points.
bool glob_matches(const std::u32string& glob, const std::u32string& name) {
  std::vector<char> row(name.size() + 1, 0), next(name.size() + 1, 0);
  row[0] = 1;
  for (const char32_t g : glob) {
    next[0] = g == U'*' && row[0];
    for (std::size_t j = 1; j <= name.size(); ++j) {
      const char32_t c = name[j - 1];
      if (g == U'*') {
        next[j] = row[j] || (next[j - 1] && c != U'\n');
      } else if (g == U'?') {
        next[j] = row[j - 1] && c != U'\n';
      } else {
        next[j] = row[j - 1] && c == g;
      }
    }
    row.swap(next);
  }
  return row[name.size()];
}

bool has_regex_syntax(std::string_view pattern) {
  return pattern.find_first_of("\\.+*?()|[]{}^$") != std::string_view::npos;
}

void check_regex_error(const TorvexError& error) {
  check(error.kind() == ErrorKind::Graph && starts_with(error.text(), "Invalid regex pattern: "),
        "a refused pattern gives another error", error.display());
}

void check_index_order(const StableGraph& g, const IndexList& kept) {
  for (std::size_t i = 0; i < kept.size(); ++i) {
    check(g.is_live(kept[i]), "a match in a vacant slot");
    check(i == 0 || kept[i - 1] < kept[i], "matches out of index order");
  }
}

void check_glob(const StableGraph& g, std::string_view glob, NodeIndex own_node) {
  const std::string regex = algorithms::glob_to_regex(glob);
  check(starts_with(regex, "^") && regex.back() == '$', "translation is not anchored", regex);
  auto kept = algorithms::nodes_matching_regex(g, regex);
  check(kept.ok(), "a glob's translation is refused", kept.ok() ? "" : kept.error().display());
  check_index_order(g, *kept);
  check(std::find(kept->begin(), kept->end(), own_node) != kept->end(),
        "a glob does not select its own text", glob);

  if (glob.size() > kMaxMatcherLength)
    return;
  const std::u32string glob_chars = *decode_utf8(glob);
  IndexList expected;
  for (NodeIndex n = 0; n < g.node_bound(); ++n) {
    if (g.is_live(n) && g.name(n).size() <= kMaxMatcherLength &&
        glob_matches(glob_chars, *decode_utf8(g.name(n)))) {
      expected.push_back(n);
    }
  }
  IndexList checked;
  for (NodeIndex n : *kept) {
    if (g.name(n).size() <= kMaxMatcherLength)
      checked.push_back(n);
  }
  check(checked == expected, "glob selection differs from a direct match", glob);
}

void check_regex(const StableGraph& g, std::string_view pattern) {
  auto kept = algorithms::nodes_matching_regex(g, pattern);
  if (!kept.ok()) {
    check_regex_error(kept.error());
    return;
  }
  check_index_order(g, *kept);
  // The Pike VM reading names from their end selects what it selects from their start.
  if (auto syntax = algorithms::regex::parse(pattern); syntax.ok()) {
    const auto forward = algorithms::regex::PikeProgram::compile(*syntax);
    const auto reversed = algorithms::regex::PikeProgram::compile_reversed(*syntax);
    for (NodeIndex n = 0; forward && reversed && n < g.node_bound(); ++n) {
      if (g.is_live(n)) {
        check(forward->search(g.name(n)) == reversed->search(g.name(n)),
              "the reversed Pike VM differs", pattern);
      }
    }
  }
  if (has_regex_syntax(pattern) || !is_utf8(pattern))
    return;
  // Plain text is a substring test.
  IndexList expected;
  for (NodeIndex n = 0; n < g.node_bound(); ++n) {
    if (g.is_live(n) && g.name(n).find(pattern) != std::string_view::npos)
      expected.push_back(n);
  }
  check(*kept == expected, "a plain pattern is not a substring test", pattern);
}

}  // namespace
}  // namespace torvex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace torvex;
  using namespace torvex::fuzz;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const std::size_t end = input.find('\xFF', start);
    fields.push_back(input.substr(start, end - start));
    if (end == std::string_view::npos || fields.size() > kMaxNames)
      break;
    start = end + 1;
  }
  const std::string_view pattern = fields[0];

  // Names must be valid text, as everywhere in the store. A node added and removed midway
  // leaves a vacant slot that every scan must skip.
  StableGraph g;
  auto add = [&](std::string_view name) -> std::optional<NodeIndex> {
    for (NodeIndex n = 0; n < g.node_bound(); ++n) {
      if (g.is_live(n) && g.name(n) == name)
        return n;
    }
    if (!is_utf8(name))
      return std::nullopt;
    return *g.add_node(std::string(name));
  };
  std::optional<NodeIndex> own = add(pattern);
  const NodeIndex vacant = *g.add_node("vacant");
  for (std::size_t i = 1; i < fields.size(); ++i)
    add(fields[i]);
  g.remove_node(vacant);

  if (own)
    check_glob(g, pattern, *own);
  check_regex(g, pattern);
  return 0;
}
