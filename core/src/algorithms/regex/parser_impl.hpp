// The parser of the regex dialect (internal to the regex folder): recursive descent over the
// pattern's characters, building the parsed form directly; nesting is bounded, so is the depth.
#pragma once

#include <algorithm>
#include <optional>
#include <set>
#include <string>

#include "algorithms/regex/syntax.hpp"
#include "interrupt.hpp"

namespace torvex::algorithms::regex::detail {

// Deeper nesting of groups, classes, repetitions, concatenations and alternations is refused.
inline constexpr int kNestLimit = 250;

struct Flags {
  bool i = false, m = false, s = false, greedy_swap = false, u = true, x = false, crlf = false;
};

// A parse failure: what is wrong and the offending part (character positions).
struct Failure {
  std::string what;
  std::size_t first, last;
};

inline bool decode_utf8(std::string_view text, std::u32string& out) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > text.size())
      return false;
    char32_t c = len == 1 ? b : b & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
      const auto cont = static_cast<unsigned char>(text[i + k]);
      if ((cont & 0xC0) != 0x80)
        return false;
      c = (c << 6) | (cont & 0x3F);
    }
    constexpr char32_t kMinOfLength[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kMinOfLength[len] || c > kMaxScalar || (c >= 0xD800 && c <= 0xDFFF))
      return false;
    out += c;
    i += len;
  }
  return true;
}

inline bool is_hex(char32_t c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
inline int hex_value(char32_t c) {
  return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}
inline bool is_ascii_alnum(char32_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
// Any ASCII character but letters, digits, `<` and `>` may be escaped to stand for itself.
inline bool is_escapable(char32_t c) {
  return c < 0x80 && !is_ascii_alnum(c) && c != '<' && c != '>';
}
// Whether \c (followed by whatever completes it) stands for one character.
inline bool is_literal_escape(char32_t c) {
  return std::u32string_view(U"dDsSwWpP").find(c) == std::u32string_view::npos;
}
inline bool is_space(char32_t c) {
  static const CharClass space = perl_class(PerlClass::kSpace, true);
  return space.contains(c);
}

// Each parse_* reads one construct at pos_. `depth` counts the groups and classes around it
// (it bounds the recursion); `height` returns how deeply the construct nests, as the limit
// counts it. After a failure, pos_ is at the end and every caller unwinds.
class Parser {
 public:
  explicit Parser(std::u32string text) : text_(std::move(text)) {}

  std::optional<Failure> run(Syntax& out) {
    int height = 0;
    out.root = parse_alternation(0, height);
    if (failure_)
      return failure_;
    if (!at_end())
      return Failure{"unopened group", pos_, pos_};
    if (height > kNestLimit)
      return Failure{"nesting too deep", 0, text_.size() - 1};
    out.classes = std::move(classes_);
    return std::nullopt;
  }

 private:
  // --- input ---------------------------------------------------------------------------------
  bool at_end() const { return pos_ >= text_.size(); }
  char32_t peek(std::size_t ahead = 0) const {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : 0;
  }
  // In free-spacing mode, white space and `#` comments between tokens are skipped.
  void skip_space() {
    if (!flags_.x)
      return;
    while (!at_end()) {
      if (is_space(peek())) {
        ++pos_;
      } else if (peek() == '#') {
        while (!at_end() && peek() != '\n')
          ++pos_;
      } else {
        break;
      }
    }
  }
  void bump_space() {
    ++pos_;
    skip_space();
  }
  // The character after the one at pos_, past white space and comments in free-spacing mode,
  // as the dialect looks ahead after a `-` in a class: once in a comment it stops at the first
  // character that is not white space, and when only those follow it gives the next character.
  char32_t peek_space() const {
    if (!flags_.x)
      return peek(1);
    bool in_comment = false;
    for (std::size_t at = pos_ + 1; at < text_.size(); ++at) {
      if (is_space(text_[at]))
        continue;
      if (in_comment || text_[at] != '#')
        return text_[at];
      in_comment = true;
    }
    return peek(1);
  }
  void fail(std::string what, std::size_t first, std::size_t last) {
    if (!failure_)
      failure_ = Failure{std::move(what), first, last};
    pos_ = text_.size();
  }
  bool failed() const { return failure_.has_value(); }

  Node class_node(CharClass cls) {
    Node n;
    n.kind = Node::Kind::kClass;
    n.only_empty = false;
    n.class_index = static_cast<std::uint32_t>(classes_.size());
    classes_.push_back(std::move(cls));
    return n;
  }
  Node look_node(Look look, bool unicode = true) {
    Node n;
    n.kind = Node::Kind::kLook;
    n.look = look;
    n.unicode = unicode;
    return n;
  }
  // A literal, folded for (?i): by Unicode orbits, or ASCII only without Unicode mode.
  Node literal_node(char32_t c) {
    CharClass cls = CharClass::of(c);
    if (flags_.i)
      cls.fold_case(flags_.u);
    return class_node(std::move(cls));
  }
  // Under (?-u) a class must stay within ASCII: anything else could match part of a character.
  bool check_bytes(const CharClass& cls, std::size_t first) {
    if (!flags_.u && !cls.is_ascii()) {
      fail("this class can match invalid UTF-8 without Unicode mode", first, pos_ - 1);
      return false;
    }
    return true;
  }

  // --- alternation and concatenation -------------------------------------------------------
  Node parse_alternation(int depth, int& height);
  Node parse_concat(int depth, int& height);

  // --- repetitions -------------------------------------------------------------------------
  // Counts allow white space around their digits in every mode.
  void skip_any_space();
  bool parse_decimal(std::uint64_t& out);
  bool parse_repetition(Node& target, int& height);

  // --- atoms ---------------------------------------------------------------------------------
  Node parse_atom(int depth, int& height, bool& is_flags);
  Node parse_escape_atom();

  // --- groups and flags ----------------------------------------------------------------------
  Node parse_group(int depth, int& height, bool& is_flags);
  bool parse_group_name(std::size_t start);
  // Reads flags up to `:` (true: a scoped group follows) or `)` (false).
  bool parse_flags(std::size_t start);

  // --- escapes -------------------------------------------------------------------------------
  // At a backslash: a literal or class into `cls`, or an assertion into `look`.
  bool parse_escape(bool in_class, CharClass& cls, std::optional<Look>& look);
  bool parse_hex(char32_t kind, std::size_t start, char32_t& out);
  bool parse_property(bool negated, std::size_t start, CharClass& out);
  std::optional<Look> parse_word_boundary(std::size_t start);

  // --- bracketed classes ---------------------------------------------------------------------
  CharClass parse_bracket(int depth, std::size_t start, int& height);
  bool parse_class_item(CharClass& out, bool& is_literal, char32_t& literal);
  bool parse_ascii_class(CharClass& out);

  std::u32string text_;
  std::size_t pos_ = 0;
  Flags flags_;
  std::vector<CharClass> classes_;
  std::set<std::u32string> names_;
  std::optional<Failure> failure_;
  char32_t last_literal_ = 0;  // the value of the last literal escape, before folding
};

}  // namespace torvex::algorithms::regex::detail
