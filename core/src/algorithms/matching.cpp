#include "algorithms/matching.hpp"

#include <algorithm>
#include <string>

#include "algorithms/regex/regex.hpp"
#include "interrupt.hpp"

namespace torvex::algorithms {

std::string glob_to_regex(std::string_view glob) {
  std::string regex;
  regex.reserve(glob.size() + 4);
  regex += '^';
  // Byte by byte is character by character here: every byte that needs translating is ASCII,
  // and UTF-8 never uses ASCII bytes inside a multi-byte character.
  for (const char c : glob) {
    switch (c) {
      case '*':
        regex += ".*";
        break;
      case '?':
        regex += '.';
        break;
      case '$':
      case '(':
      case ')':
      case '+':
      case '.':
      case '[':
      case '\\':
      case ']':
      case '^':
      case '{':
      case '|':
      case '}':
        regex += '\\';
        regex += c;
        break;
      default:
        regex += c;
    }
  }
  regex += '$';
  return regex;
}

Result<IndexList> nodes_matching_regex(const StableGraph& graph, std::string_view pattern) {
  // Compile once; errors are returned, never logged.
  TORVEX_TRY(compiled, regex::Pattern::compile(pattern, [&graph] {
               std::uint64_t longest = 0;
               for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
                 interrupt::poll();
                 if (graph.is_live(n))
                   longest = std::max<std::uint64_t>(longest, graph.name(n).size());
               }
               return longest;
             }));
  // Keep the live nodes with a match anywhere in their name; stop at the first match. The
  // searcher polls as well, by the time its searches take.
  regex::Searcher searcher(compiled);
  IndexList kept;
  for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
    if (!graph.is_live(n)) {
      interrupt::poll();
      continue;
    }
    const std::string_view name = graph.name(n);
    interrupt::poll(1 + name.size() / 64);
    if (searcher.search(name))
      kept.push_back(n);
  }
  return kept;
}

}  // namespace torvex::algorithms
