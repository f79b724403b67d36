// The parsed form of a pattern: every class resolved to ranges, groups and flags gone.
//
// The parser (parser*.cpp) reads the whole dialect with its default options. What is left is
// what matching needs: classes, assertions, concatenation, alternation and counted repetition
// (greed and captures do not change whether a name matches, so they are dropped).
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "algorithms/regex/char_class.hpp"
#include "errors.hpp"

namespace torvex::algorithms::regex {

enum class Look : std::uint8_t {
  kStartText,
  kEndText,
  kStartLine,
  kEndLine,
  kStartLineCrlf,
  kEndLineCrlf,
  kWordBoundary,
  kNotWordBoundary,
  kWordStart,
  kWordEnd,
  kWordStartHalf,
  kWordEndHalf,
};

// Counts go up to 2^32 - 1, so the marker of an open end lies beyond them.
inline constexpr std::uint64_t kUnbounded = std::numeric_limits<std::uint64_t>::max();

struct Node {
  enum class Kind : std::uint8_t { kEmpty, kClass, kLook, kConcat, kAlternate, kRepeat };
  Kind kind = Kind::kEmpty;
  Look look = Look::kStartText;
  bool unicode = true;             // of a word assertion: Unicode \w or ASCII
  bool only_empty = true;          // matches nothing but the empty string (an empty class: false)
  std::uint32_t class_index = 0;   // into Syntax::classes
  std::uint64_t min = 0, max = 0;  // of a repetition; max may be kUnbounded
  std::uint32_t captures = 0;      // capture groups around exactly this node (they cost size)
  std::vector<Node> children;
};

struct Syntax {
  std::vector<CharClass> classes;
  Node root;
};

// Graph "Invalid regex pattern: {description}".
TorvexError invalid_pattern(std::string_view description);

// Parses `pattern`; the error is Graph "Invalid regex pattern: {description}".
Result<Syntax> parse(std::string_view pattern);

// Whether the compiled form of `syntax` stays within the dialect's default size limit, as the
// dialect's own engine counts it (the error text is kTooLarge).
bool fits_size_limit(const Syntax& syntax);
inline constexpr std::string_view kTooLarge =
    "pattern too large: its compiled form exceeds the size limit";

// The fewest bytes a match of `node` takes, kNeverMatches for a node that matches nothing (an
// empty class): a shorter name holds no match.
inline constexpr std::uint64_t kNeverMatches = std::uint64_t{1} << 62;
std::uint64_t min_match_bytes(const Node& node, const std::vector<CharClass>& classes);

// Whether every match of `node` begins (at_end: ends) with the text's edge assertion \A (\z).
bool always_anchored(const Node& node, bool at_end);

// Whether RE2's ASCII \b and \B give the pattern's answer only on pure-ASCII text: for the
// Unicode word assertions, and for \B, which RE2 also finds inside a multi-byte character.
bool needs_ascii_text_for_re2(const Node& node);

}  // namespace torvex::algorithms::regex
