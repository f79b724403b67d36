// The parser of the regex dialect (internal to the regex folder): recursive descent over the
// pattern's characters, building the parsed form directly; nesting is bounded, so is the depth.
#pragma once

#include <algorithm>
#include <optional>
#include <set>
#include <string>

#include "algorithms/regex/syntax.hpp"

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
    if (len == 0 || i + len > text.size()) return false;
    char32_t c = len == 1 ? b : b & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
      const auto cont = static_cast<unsigned char>(text[i + k]);
      if ((cont & 0xC0) != 0x80) return false;
      c = (c << 6) | (cont & 0x3F);
    }
    constexpr char32_t kMinOfLength[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kMinOfLength[len] || c > kMaxScalar || (c >= 0xD800 && c <= 0xDFFF)) return false;
    out += c;
    i += len;
  }
  return true;
}

inline bool is_hex(char32_t c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
inline int hex_value(char32_t c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }
inline bool is_ascii_alnum(char32_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
// Any ASCII character but letters, digits, `<` and `>` may be escaped to stand for itself.
inline bool is_escapable(char32_t c) { return c < 0x80 && !is_ascii_alnum(c) && c != '<' && c != '>'; }
// Whether \c (followed by whatever completes it) stands for one character.
inline bool is_literal_escape(char32_t c) {
  return std::u32string_view(U"dDsSwWpP").find(c) == std::u32string_view::npos;
}
inline bool is_space(char32_t c) {
  static const CharClass space = perl_class(PerlClass::kSpace, true);
  return space.contains(c);
}

class Parser {
 public:
  explicit Parser(std::u32string text) : text_(std::move(text)) {}

  std::optional<Failure> run(Syntax& out) {
    int height = 0;
    out.root = parse_alternation(0, height);
    if (failure_) return failure_;
    if (!at_end()) return Failure{"unopened group", pos_, pos_};
    if (height > kNestLimit) return Failure{"nesting too deep", 0, text_.size() - 1};
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
    if (!flags_.x) return;
    while (!at_end()) {
      if (is_space(peek())) {
        ++pos_;
      } else if (peek() == '#') {
        while (!at_end() && peek() != '\n') ++pos_;
      } else {
        break;
      }
    }
  }
  void bump_space() { ++pos_; skip_space(); }
  void fail(std::string what, std::size_t first, std::size_t last) {
    if (!failure_) failure_ = Failure{std::move(what), first, last};
    pos_ = text_.size();
  }
  bool failed() const { return failure_.has_value(); }

  Node class_node(CharClass cls) {
    Node n;
    n.kind = Node::Kind::kClass;
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
    if (flags_.i) cls.fold_case(flags_.u || c >= 0x80);
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
  Node parse_alternation(int depth, int& height) {
    std::vector<Node> branches;
    int branch_height = 0;
    branches.push_back(parse_concat(depth, branch_height));
    while (!failed() && peek() == '|' && !at_end()) {
      ++pos_;
      int h = 0;
      branches.push_back(parse_concat(depth, h));
      branch_height = std::max(branch_height, h);
    }
    if (branches.size() == 1) {
      height = branch_height;
      return std::move(branches[0]);
    }
    height = branch_height + 1;
    Node n;
    n.kind = Node::Kind::kAlternate;
    n.children = std::move(branches);
    return n;
  }

  Node parse_concat(int depth, int& height) {
    std::vector<Node> items;
    std::vector<int> heights;
    bool last_is_flags = false;  // `(?i)` is an item that nothing can repeat
    for (;;) {
      skip_space();
      if (at_end() || failed() || peek() == '|' || peek() == ')') break;
      const std::size_t start = pos_;
      const char32_t c = peek();
      if (c == '*' || c == '+' || c == '?' || c == '{') {
        if (items.empty() || last_is_flags) {
          fail("repetition operator without an operand", start, start);
          break;
        }
        if (!parse_repetition(items.back(), heights.back())) break;
        continue;
      }
      int h = 0;
      bool is_flags = false;
      Node item = parse_atom(depth, h, is_flags);
      if (failed()) break;
      last_is_flags = is_flags;
      // A flags item stays as an empty item: it counts towards the nesting like any other.
      items.push_back(std::move(item));
      heights.push_back(h);
    }
    if (items.empty()) return Node{};
    if (items.size() == 1) {
      height = heights[0];
      return std::move(items[0]);
    }
    height = *std::max_element(heights.begin(), heights.end()) + 1;
    Node n;
    n.kind = Node::Kind::kConcat;
    n.children = std::move(items);
    return n;
  }

  // --- repetitions -------------------------------------------------------------------------
  // Counts allow white space around their digits in every mode.
  void skip_any_space() {
    while (!at_end() && is_space(peek())) ++pos_;
  }
  bool parse_decimal(std::uint32_t& out) {
    skip_any_space();
    const std::size_t start = pos_;
    std::uint64_t value = 0;
    while (!at_end() && peek() >= '0' && peek() <= '9') {
      value = value * 10 + (peek() - '0');
      if (value > 0xFFFFFFFFu) {
        fail("repetition count too large", start, pos_);
        return false;
      }
      bump_space();
    }
    if (pos_ == start) {
      fail("repetition count expects a decimal number", start, start);
      return false;
    }
    skip_any_space();
    out = static_cast<std::uint32_t>(value);
    return true;
  }

  bool parse_repetition(Node& target, int& height) {
    const std::size_t start = pos_;
    std::uint32_t min = 0, max = kUnbounded;
    const char32_t op = peek();
    if (op == '{') bump_space(); else ++pos_;
    if (op == '+') min = 1;
    if (op == '?') max = 1;
    if (op == '{') {
      if (at_end()) return fail("unclosed counted repetition", start, start), false;
      if (!parse_decimal(min)) return false;
      max = min;
      if (peek() == ',') {
        bump_space();
        max = kUnbounded;
        if (peek() != '}' && !parse_decimal(max)) return false;
      }
      if (at_end() || peek() != '}') return fail("unclosed counted repetition", start, pos_ - 1), false;
      if (min > max) return fail("invalid repetition range: the start exceeds the end", start, pos_), false;
      bump_space();
    }
    if (peek() == '?' && !at_end()) ++pos_;  // lazy: the same names match
    Node n;
    n.kind = Node::Kind::kRepeat;
    n.min = min;
    n.max = max;
    n.children.push_back(std::move(target));
    target = std::move(n);
    // Checked at once: a long run of operators would otherwise nest without bound.
    if (++height > kNestLimit) return fail("nesting too deep", start, pos_ - 1), false;
    return true;
  }

  // --- atoms ---------------------------------------------------------------------------------
  Node parse_atom(int depth, int& height, bool& is_flags) {
    const std::size_t start = pos_;
    const char32_t c = peek();
    switch (c) {
      case '(': return parse_group(depth, height, is_flags);
      case '[': {
        ++pos_;
        CharClass cls = parse_bracket(depth, start, height);
        if (failed() || !check_bytes(cls, start)) return {};
        return class_node(std::move(cls));
      }
      case '.': {
        ++pos_;
        CharClass cls = CharClass::range(0, kMaxScalar);
        if (!flags_.s) {
          cls.subtract(CharClass::of('\n'));
          if (flags_.crlf) cls.subtract(CharClass::of('\r'));
        }
        if (!check_bytes(cls, start)) return {};
        return class_node(std::move(cls));
      }
      case '^':
        ++pos_;
        return look_node(!flags_.m ? Look::kStartText : flags_.crlf ? Look::kStartLineCrlf : Look::kStartLine);
      case '$':
        ++pos_;
        return look_node(!flags_.m ? Look::kEndText : flags_.crlf ? Look::kEndLineCrlf : Look::kEndLine);
      case '\\': return parse_escape_atom();
      default:
        ++pos_;
        return literal_node(c);
    }
  }

  Node parse_escape_atom() {
    const std::size_t start = pos_;
    std::optional<Look> look;
    CharClass cls;
    if (!parse_escape(false, cls, look)) return {};
    if (look) return look_node(*look, flags_.u);
    if (!is_literal_escape(text_[start + 1]) && !check_bytes(cls, start)) return {};
    return class_node(std::move(cls));
  }

  // --- groups and flags ----------------------------------------------------------------------
  Node parse_group(int depth, int& height, bool& is_flags) {
    const std::size_t start = pos_;
    ++pos_;
    const Flags outer = flags_;
    if (peek() == '?' && !at_end()) {
      ++pos_;
      if (peek() == '=' || peek() == '!' || (peek() == '<' && (peek(1) == '=' || peek(1) == '!'))) {
        fail("look-around is not supported", start, pos_ + (peek() == '<' ? 1 : 0));
        return {};
      }
      if (peek() == 'P' && peek(1) == '<') {
        ++pos_;
      }
      if (peek() == '<') {
        if (!parse_group_name(start)) return {};
      } else {
        const bool scoped = parse_flags(start);
        if (failed()) return {};
        if (!scoped) {  // (?flags): applies to the rest of the enclosing group
          is_flags = true;
          return {};
        }
      }
    }
    if (depth + 1 > kNestLimit) {
      fail("nesting too deep", start, start);
      return {};
    }
    int inner = 0;
    Node n = parse_alternation(depth + 1, inner);
    if (failed()) return {};
    if (at_end()) {
      fail("unclosed group", start, text_.size() - 1);
      return {};
    }
    ++pos_;  // ')'
    flags_ = outer;
    height = inner + 1;
    return n;
  }

  bool parse_group_name(std::size_t start) {
    ++pos_;  // '<'
    static const CharClass alphabetic = [] {
      CharClass out;
      (void)unicode_property("Alphabetic", out);
      return out;
    }();
    static const CharClass numeric = [] {
      CharClass out;
      (void)unicode_property("N", out);
      return out;
    }();
    std::u32string name;
    while (!at_end() && peek() != '>') {
      const char32_t c = peek();
      const bool ok = c == '_' || alphabetic.contains(c) ||
                      (!name.empty() && (c == '.' || c == '[' || c == ']' || numeric.contains(c)));
      if (!ok) return fail("invalid character in a group name", pos_, pos_), false;
      name += c;
      ++pos_;
    }
    if (at_end()) return fail("unclosed group name", start, text_.size() - 1), false;
    if (name.empty()) return fail("empty group name", start, pos_), false;
    if (!names_.insert(name).second) return fail("duplicate group name", start, pos_), false;
    ++pos_;  // '>'
    return true;
  }

  // Reads flags up to `:` (true: a scoped group follows) or `)` (false).
  bool parse_flags(std::size_t start) {
    bool negated = false, seen_negation = false, any = false, dangling = false;
    std::u32string seen;
    for (;;) {
      if (at_end()) return fail("unclosed group", start, text_.size() - 1), false;
      const char32_t c = peek();
      if (c == ':' || c == ')') {
        if (dangling) return fail("flag negation without a flag", start, pos_), false;
        if (!any && c == ')') return fail("empty flag group", start, pos_), false;
        ++pos_;
        return c == ':';
      }
      if (c == '-') {
        if (seen_negation) return fail("repeated flag negation", start, pos_), false;
        negated = seen_negation = dangling = true;
        any = true;
        ++pos_;
        continue;
      }
      if (seen.find(c) != std::u32string::npos) return fail("duplicate flag", start, pos_), false;
      seen += c;
      const bool on = !negated;
      switch (c) {
        case 'i': flags_.i = on; break;
        case 'm': flags_.m = on; break;
        case 's': flags_.s = on; break;
        case 'U': flags_.greedy_swap = on; break;
        case 'u': flags_.u = on; break;
        case 'x': flags_.x = on; break;
        case 'R': flags_.crlf = on; break;
        default: return fail("unrecognised flag", pos_, pos_), false;
      }
      any = true;
      dangling = false;
      ++pos_;
    }
  }

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
