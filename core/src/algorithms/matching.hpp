// Selecting nodes by name: regular expressions and globs with * and ?.
//
// Matching runs in time linear in the length of each name, whatever the pattern: there is no
// backtracking, so backreferences and look-around are refused instead of risking exponential
// time. The dialect, its parser and its two engines live in algorithms/regex/.
#pragma once

#include <string>
#include <string_view>

#include "errors.hpp"
#include "graph/stable_graph.hpp"
#include "lists.hpp"

namespace torvex::algorithms {

// Translates a glob into an anchored regular expression that matches whole names: `*` becomes
// ".*", `?` becomes ".", the twelve characters $ ( ) + . [ \ ] ^ { | } are escaped, and every
// other character stands for itself (globs have no classes, braces or escapes).
// Returns: "^" + translation + "$"; never fails, and the result always parses.
// Complexity: O(glob length).
std::string glob_to_regex(std::string_view glob);

// The live nodes whose name contains a match of `pattern` anywhere, in index order.
// The pattern is UTF-8 and case-sensitive unless it says otherwise; `.` and classes match whole
// characters, \w \d \s and \b are Unicode-aware, `.` skips a line feed, and `^` / `$` match
// only at the very start and end of a name (flags i m s U u x R change that within the pattern).
// Errors: Graph "Invalid regex pattern: {}" for a syntax error, a backreference or look-around,
// an unknown Unicode property, nesting deeper than 250, or a pattern whose compiled form would
// exceed the size limit (10 MiB by our estimate).
// Complexity: one compilation, then time linear in the total length of the names (times the
// pattern's compiled size at worst); O(V) extra space.
Result<IndexList> nodes_matching_regex(const StableGraph& graph, std::string_view pattern);

}  // namespace torvex::algorithms
