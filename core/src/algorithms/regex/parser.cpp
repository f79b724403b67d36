#include "algorithms/regex/parser_impl.hpp"
#include "utf8.hpp"

namespace torvex::algorithms::regex {

namespace detail {

Node Parser::parse_alternation(int depth, int& height) {
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
  n.only_empty =
      std::all_of(branches.begin(), branches.end(), [](const Node& b) { return b.only_empty; });
  n.children = std::move(branches);
  return n;
}

Node Parser::parse_concat(int depth, int& height) {
  std::vector<Node> items;
  std::vector<int> heights;
  bool last_is_flags = false;  // `(?i)` is an item that nothing can repeat
  for (;;) {
    interrupt::poll();
    skip_space();
    if (at_end() || failed() || peek() == '|' || peek() == ')')
      break;
    const std::size_t start = pos_;
    const char32_t c = peek();
    if (c == '*' || c == '+' || c == '?' || c == '{') {
      if (items.empty() || last_is_flags) {
        fail("repetition operator without an operand", start, start);
        break;
      }
      if (!parse_repetition(items.back(), heights.back()))
        break;
      continue;
    }
    int h = 0;
    bool is_flags = false;
    Node item = parse_atom(depth, h, is_flags);
    if (failed())
      break;
    last_is_flags = is_flags;
    // A flags item stays as an empty item: it counts towards the nesting like any other.
    items.push_back(std::move(item));
    heights.push_back(h);
  }
  if (items.empty())
    return Node{};
  if (items.size() == 1) {
    height = heights[0];
    return std::move(items[0]);
  }
  height = *std::max_element(heights.begin(), heights.end()) + 1;
  Node n;
  n.kind = Node::Kind::kConcat;
  n.only_empty =
      std::all_of(items.begin(), items.end(), [](const Node& item) { return item.only_empty; });
  n.children = std::move(items);
  return n;
}

void Parser::skip_any_space() {
  while (!at_end() && is_space(peek()))
    ++pos_;
}

bool Parser::parse_decimal(std::uint64_t& out) {
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
  out = value;
  return true;
}

bool Parser::parse_repetition(Node& target, int& height) {
  const std::size_t start = pos_;
  std::uint64_t min = 0, max = kUnbounded;
  const char32_t op = peek();
  if (op == '{')
    bump_space();
  else
    ++pos_;
  if (op == '+')
    min = 1;
  if (op == '?')
    max = 1;
  if (op == '{') {
    if (at_end())
      return fail("unclosed counted repetition", start, start), false;
    if (!parse_decimal(min))
      return false;
    max = min;
    if (peek() == ',') {
      bump_space();
      max = kUnbounded;
      if (peek() != '}' && !parse_decimal(max))
        return false;
    }
    if (at_end() || peek() != '}')
      return fail("unclosed counted repetition", start, pos_ - 1), false;
    if (min > max)
      return fail("invalid repetition range: the start exceeds the end", start, pos_), false;
    bump_space();
  }
  if (peek() == '?' && !at_end())
    ++pos_;  // lazy: the same names match
  // Repeating what can only match the empty string adds nothing past the first copy, so it
  // costs nothing, however large the count.
  if (target.only_empty) {
    min = std::min<std::uint64_t>(min, 1);
    max = std::min<std::uint64_t>(max, 1);
  }
  Node n;
  n.kind = Node::Kind::kRepeat;
  n.min = min;
  n.max = max;
  n.only_empty = max == 0 || target.only_empty;
  n.children.push_back(std::move(target));
  target = std::move(n);
  // Checked at once: a long run of operators would otherwise nest without bound.
  if (++height > kNestLimit)
    return fail("nesting too deep", start, pos_ - 1), false;
  return true;
}

Node Parser::parse_atom(int depth, int& height, bool& is_flags) {
  const std::size_t start = pos_;
  const char32_t c = peek();
  switch (c) {
    case '(':
      return parse_group(depth, height, is_flags);
    case '[': {
      ++pos_;
      CharClass cls = parse_bracket(depth, start, height);
      if (failed() || !check_bytes(cls, start))
        return {};
      return class_node(std::move(cls));
    }
    case '.': {
      ++pos_;
      CharClass cls = CharClass::range(0, kMaxScalar);
      if (!flags_.s) {
        cls.subtract(CharClass::of('\n'));
        if (flags_.crlf)
          cls.subtract(CharClass::of('\r'));
      }
      if (!check_bytes(cls, start))
        return {};
      return class_node(std::move(cls));
    }
    case '^':
      ++pos_;
      return look_node(!flags_.m     ? Look::kStartText
                       : flags_.crlf ? Look::kStartLineCrlf
                                     : Look::kStartLine);
    case '$':
      ++pos_;
      return look_node(!flags_.m     ? Look::kEndText
                       : flags_.crlf ? Look::kEndLineCrlf
                                     : Look::kEndLine);
    case '\\':
      return parse_escape_atom();
    default:
      ++pos_;
      return literal_node(c);
  }
}

Node Parser::parse_escape_atom() {
  const std::size_t start = pos_;
  std::optional<Look> look;
  CharClass cls;
  if (!parse_escape(false, cls, look))
    return {};
  if (look)
    return look_node(*look, flags_.u);
  if (!is_literal_escape(text_[start + 1]) && !check_bytes(cls, start))
    return {};
  return class_node(std::move(cls));
}

Node Parser::parse_group(int depth, int& height, bool& is_flags) {
  const std::size_t start = pos_;
  bump_space();  // free spacing may part `(` from `?`
  const Flags outer = flags_;
  bool capturing = true;
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
      if (!parse_group_name(start))
        return {};
    } else {
      const bool scoped = parse_flags(start);
      capturing = false;
      if (failed())
        return {};
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
  if (failed())
    return {};
  if (at_end()) {
    fail("unclosed group", start, text_.size() - 1);
    return {};
  }
  ++pos_;  // ')'
  flags_ = outer;
  height = inner + 1;
  n.captures += capturing ? 1 : 0;
  return n;
}

bool Parser::parse_group_name(std::size_t start) {
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
    if (!ok)
      return fail("invalid character in a group name", pos_, pos_), false;
    name += c;
    ++pos_;
  }
  if (at_end())
    return fail("unclosed group name", start, text_.size() - 1), false;
  if (name.empty())
    return fail("empty group name", start, pos_), false;
  if (!names_.insert(name).second)
    return fail("duplicate group name", start, pos_), false;
  ++pos_;  // '>'
  return true;
}

bool Parser::parse_flags(std::size_t start) {
  bool negated = false, seen_negation = false, any = false, dangling = false;
  std::u32string seen;
  for (;;) {
    if (at_end())
      return fail("unclosed group", start, text_.size() - 1), false;
    const char32_t c = peek();
    if (c == ':' || c == ')') {
      if (dangling)
        return fail("flag negation without a flag", start, pos_), false;
      if (!any && c == ')')
        return fail("empty flag group", start, pos_), false;
      ++pos_;
      return c == ':';
    }
    if (c == '-') {
      if (seen_negation)
        return fail("repeated flag negation", start, pos_), false;
      negated = seen_negation = dangling = true;
      any = true;
      ++pos_;
      continue;
    }
    if (seen.find(c) != std::u32string::npos)
      return fail("duplicate flag", start, pos_), false;
    seen += c;
    const bool on = !negated;
    switch (c) {
      case 'i':
        flags_.i = on;
        break;
      case 'm':
        flags_.m = on;
        break;
      case 's':
        flags_.s = on;
        break;
      case 'U':
        flags_.greedy_swap = on;
        break;
      case 'u':
        flags_.u = on;
        break;
      case 'x':
        flags_.x = on;
        break;
      case 'R':
        flags_.crlf = on;
        break;
      default:
        return fail("unrecognised flag", pos_, pos_), false;
    }
    any = true;
    dangling = false;
    ++pos_;
  }
}

}  // namespace detail

namespace {

using detail::decode_utf8;
using detail::Failure;
using detail::Parser;

std::string utf8(std::u32string_view text) {
  std::string out;
  for (const char32_t c : text)
    append_utf8(out, c);
  return out;
}

// At most this many characters of the offending part are quoted.
constexpr std::size_t kMaxQuoted = 80;

}  // namespace

TorvexError invalid_pattern(std::string_view description) {
  return TorvexError::graph("Invalid regex pattern: " + std::string(description));
}

Result<Syntax> parse(std::string_view pattern) {
  std::u32string text;
  if (!decode_utf8(pattern, text))
    return invalid_pattern("the pattern is not valid UTF-8");
  Parser parser(text);
  Syntax out;
  if (const auto failure = parser.run(out)) {
    const std::size_t last = std::min(failure->last, text.empty() ? 0 : text.size() - 1);
    std::size_t first = std::min(failure->first, last);
    std::u32string_view part = std::u32string_view(text).substr(first, last - first + 1);
    std::string quoted = "`" + utf8(part.substr(0, kMaxQuoted)) + "`";
    if (part.size() > kMaxQuoted)
      quoted += "...";
    return invalid_pattern(failure->what + (text.empty() ? "" : ": " + quoted));
  }
  return out;
}

bool needs_ascii_text_for_re2(const Node& node) {
  if (node.kind == Node::Kind::kLook) {
    return (node.unicode && node.look >= Look::kWordBoundary) ||
           node.look == Look::kNotWordBoundary;
  }
  return std::any_of(node.children.begin(), node.children.end(), needs_ascii_text_for_re2);
}

std::uint64_t min_match_bytes(const Node& node, const std::vector<CharClass>& classes) {
  switch (node.kind) {
    case Node::Kind::kEmpty:
    case Node::Kind::kLook:
      return 0;
    case Node::Kind::kClass: {
      const auto& ranges = classes[node.class_index].ranges();
      if (ranges.empty())
        return kNeverMatches;
      const char32_t c = ranges.front().first;
      return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    }
    case Node::Kind::kConcat: {
      std::uint64_t total = 0;
      for (const Node& child : node.children)
        total = std::min(total + min_match_bytes(child, classes), kNeverMatches);
      return total;
    }
    case Node::Kind::kAlternate: {
      std::uint64_t least = kNeverMatches;
      for (const Node& child : node.children)
        least = std::min(least, min_match_bytes(child, classes));
      return least;
    }
    case Node::Kind::kRepeat: {
      if (node.min == 0)
        return 0;
      const std::uint64_t each = min_match_bytes(node.children[0], classes);
      return each > kNeverMatches / node.min ? kNeverMatches : each * node.min;
    }
  }
  return 0;
}

bool always_anchored(const Node& node, bool at_end) {
  switch (node.kind) {
    case Node::Kind::kLook:
      return node.look == (at_end ? Look::kEndText : Look::kStartText);
    case Node::Kind::kConcat:
      for (std::size_t k = 0; k < node.children.size(); ++k) {
        const Node& child = node.children[at_end ? node.children.size() - 1 - k : k];
        if (always_anchored(child, at_end))
          return true;
        if (child.kind != Node::Kind::kEmpty)  // flag groups leave nothing before an anchor
          return false;
      }
      return false;
    case Node::Kind::kAlternate:
      return std::all_of(node.children.begin(), node.children.end(),
                         [at_end](const Node& child) { return always_anchored(child, at_end); });
    case Node::Kind::kRepeat:
      return node.min > 0 && always_anchored(node.children[0], at_end);
    default:
      return false;
  }
}

}  // namespace torvex::algorithms::regex
