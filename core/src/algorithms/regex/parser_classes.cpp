#include "algorithms/regex/parser_impl.hpp"

namespace torvex::algorithms::regex::detail {

// --- escapes ---------------------------------------------------------------------------------

bool Parser::parse_escape(bool in_class, CharClass& cls, std::optional<Look>& look) {
  const std::size_t start = pos_;
  ++pos_;  // '\'
  if (at_end())
    return fail("trailing backslash at the end of the pattern", start, start), false;
  const char32_t c = peek();
  ++pos_;
  auto literal = [&](char32_t value) {
    last_literal_ = value;
    cls = CharClass::of(value);
    if (flags_.i)
      cls.fold_case(flags_.u);
    return true;
  };
  auto assertion = [&](Look kind) {
    if (in_class)
      return fail("assertions are not allowed in a class", start, pos_ - 1), false;
    look = kind;
    return true;
  };
  auto perl = [&](PerlClass which, bool negated) {
    cls = perl_class(which, flags_.u);
    if (flags_.i)
      cls.fold_case(flags_.u);
    if (negated)
      cls.negate();
    return check_bytes(cls, start);
  };
  if (is_escapable(c))
    return literal(c);
  switch (c) {
    case 'a':
      return literal(0x07);
    case 'f':
      return literal(0x0C);
    case 't':
      return literal('\t');
    case 'n':
      return literal('\n');
    case 'r':
      return literal('\r');
    case 'v':
      return literal(0x0B);
    case 'A':
      return assertion(Look::kStartText);
    case 'z':
      return assertion(Look::kEndText);
    case 'B':
      return assertion(Look::kNotWordBoundary);
    case '<':
      return assertion(Look::kWordStart);
    case '>':
      return assertion(Look::kWordEnd);
    case 'b': {
      if (in_class)
        return assertion(Look::kWordBoundary);
      const auto kind = parse_word_boundary(start);
      return !failed() && assertion(kind.value_or(Look::kWordBoundary));
    }
    case 'd':
      return perl(PerlClass::kDigit, false);
    case 'D':
      return perl(PerlClass::kDigit, true);
    case 's':
      return perl(PerlClass::kSpace, false);
    case 'S':
      return perl(PerlClass::kSpace, true);
    case 'w':
      return perl(PerlClass::kWord, false);
    case 'W':
      return perl(PerlClass::kWord, true);
    case 'p':
    case 'P':
      if (!flags_.u)
        return fail("Unicode classes need Unicode mode", start, pos_ - 1), false;
      return parse_property(c == 'P', start, cls);
    case 'x':
    case 'u':
    case 'U': {
      char32_t value = 0;
      const bool braced = (skip_space(), peek() == '{');
      if (!parse_hex(c, start, value))
        return false;
      // Without Unicode mode, \xNN above 0x7F is a byte, which is never a whole character.
      if (!flags_.u && c == 'x' && !braced && value >= 0x80) {
        return fail("a byte above 0x7F can match invalid UTF-8 without Unicode mode", start,
                    pos_ - 1),
               false;
      }
      if (in_class && !flags_.u && value >= 0x80) {
        return fail("a non-ASCII character in a class needs Unicode mode", start, pos_ - 1), false;
      }
      return literal(value);
    }
    default:
      if (c >= '0' && c <= '9') {
        return fail("backreferences and octal escapes are not supported", start, pos_ - 1), false;
      }
      return fail("unrecognised escape sequence", start, pos_ - 1), false;
  }
}

// \b{start}, \b{end}, \b{start-half}, \b{end-half}; nullopt (with nothing read) when the brace
// opens a counted repetition of \b instead.
std::optional<Look> Parser::parse_word_boundary(std::size_t start) {
  if (peek() != '{' || at_end())
    return std::nullopt;
  const std::size_t brace = pos_;
  auto is_name_char = [](char32_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
  };
  bump_space();
  if (at_end())
    return fail("unclosed word boundary or repetition", start, brace), std::nullopt;
  if (!is_name_char(peek())) {
    pos_ = brace;
    return std::nullopt;
  }
  std::u32string name;
  while (!at_end() && is_name_char(peek())) {
    name += peek();
    bump_space();
  }
  if (at_end() || peek() != '}')
    return fail("unclosed word boundary", start, pos_ - 1), std::nullopt;
  ++pos_;
  if (name == U"start")
    return Look::kWordStart;
  if (name == U"end")
    return Look::kWordEnd;
  if (name == U"start-half")
    return Look::kWordStartHalf;
  if (name == U"end-half")
    return Look::kWordEndHalf;
  return fail("unknown word boundary", start, pos_ - 1), std::nullopt;
}

// After \x, \u or \U: a fixed count of hex digits (2, 4, 8) or any count in braces.
bool Parser::parse_hex(char32_t kind, std::size_t start, char32_t& out) {
  std::uint64_t value = 0;
  if (peek() == '{' && !at_end()) {
    bump_space();
    std::size_t digits = 0;
    while (!at_end() && peek() != '}') {
      if (!is_hex(peek()))
        return fail("invalid hexadecimal digit", start, pos_), false;
      value = std::min<std::uint64_t>(value * 16 + hex_value(peek()), 0x100000000);
      ++digits;
      bump_space();
    }
    if (at_end())
      return fail("unclosed hexadecimal escape", start, pos_ - 1), false;
    if (digits == 0)
      return fail("empty hexadecimal escape", start, pos_), false;
    ++pos_;
  } else {
    const int digits = kind == 'x' ? 2 : kind == 'u' ? 4 : 8;
    for (int k = 0; k < digits; ++k) {
      if (at_end())
        return fail("incomplete escape sequence", start, pos_ - 1), false;
      if (!is_hex(peek()))
        return fail("invalid hexadecimal digit", start, pos_), false;
      value = value * 16 + hex_value(peek());
      if (k + 1 < digits)
        bump_space();
      else
        ++pos_;
    }
  }
  if (value > kMaxScalar || (value >= 0xD800 && value <= 0xDFFF)) {
    return fail("not a Unicode scalar value", start, pos_ - 1), false;
  }
  out = static_cast<char32_t>(value);
  return true;
}

// After \p or \P: a one-letter name or {name}, {name=value}, {name:value}, {name!=value}.
bool Parser::parse_property(bool negated, std::size_t start, CharClass& out) {
  skip_space();
  if (at_end())
    return fail("incomplete escape sequence", start, pos_ - 1), false;
  std::optional<PropertyError> error;
  if (peek() == '{') {
    std::string query;
    bump_space();
    while (!at_end() && peek() != '}') {
      if (peek() < 0x80)
        query += static_cast<char>(peek());
      else
        query += '\x80';  // never part of a name: keeps the lookup failing
      bump_space();
    }
    if (at_end())
      return fail("unclosed Unicode class", start, pos_ - 1), false;
    ++pos_;
    if (const std::size_t bang = query.find("!="); bang != std::string::npos) {
      negated = !negated;
      query.erase(bang, 1);
    }
    error = unicode_property(query, out);
  } else {
    error = unicode_property_letter(peek(), out);
    ++pos_;
  }
  if (error) {
    return fail(*error == PropertyError::kNoSuchProperty ? "unknown Unicode property"
                                                         : "unknown Unicode property value",
                start, pos_ - 1),
           false;
  }
  if (flags_.i)
    out.fold_case(true);
  if (negated)
    out.negate();
  return true;
}

// --- bracketed classes -----------------------------------------------------------------------

// After `[`: the class up to its `]`. Items join by union, and `&&`, `--`, `~~` combine the
// unions on either side, left to right; (?i) folds every operand before any negation.
CharClass Parser::parse_bracket(int depth, std::size_t start, int& height) {
  if (depth + 1 > kNestLimit)
    return fail("nesting too deep", start, start), CharClass();
  skip_space();
  bool negated = false;
  if (peek() == '^' && !at_end()) {
    negated = true;
    bump_space();
  }
  CharClass result;
  // The ranges of the union of items being read, joined once it ends: one item at a time
  // would sort the whole union again for each.
  std::vector<CodeRange> operand;
  // For the nesting limit: a union of several items and each operator are one level deeper.
  int operand_items = 0, operand_height = 0, set_height = 0, op = 0;  // op: 0 or its first char
  while (!at_end() && peek() == '-') {
    operand.push_back({'-', '-'});
    ++operand_items;
    bump_space();
  }
  if (operand_items == 0 && peek() == ']' && !at_end()) {
    operand.push_back({']', ']'});
    ++operand_items;
    bump_space();
  }
  auto finish_operand = [&] {
    CharClass joined = CharClass::from_unsorted(std::move(operand));
    if (flags_.i)
      joined.fold_case(flags_.u);
    const int height_of_operand = operand_height + (operand_items > 1 ? 1 : 0);
    if (op == 0) {
      result = std::move(joined);
      set_height = height_of_operand;
    } else {
      if (op == '&')
        result.intersect(joined);
      else if (op == '-')
        result.subtract(joined);
      else
        result.symmetric_difference(joined);
      set_height = 1 + std::max(set_height, height_of_operand);
    }
    operand.clear();
    operand_items = operand_height = 0;
  };
  for (;;) {
    interrupt::poll();
    skip_space();
    if (at_end())
      return fail("unclosed class", start, text_.size() - 1), CharClass();
    const char32_t c = peek();
    if (c == ']') {
      ++pos_;
      break;
    }
    if ((c == '&' || c == '-' || c == '~') && peek(1) == c) {
      finish_operand();
      op = static_cast<int>(c);
      pos_ += 2;
      continue;
    }
    CharClass item;
    bool is_literal = false;
    char32_t first = 0;
    const std::size_t item_start = pos_;
    int item_height = 0;
    if (c == '[') {
      if (!parse_ascii_class(item)) {
        if (failed())
          return CharClass();
        ++pos_;
        item = parse_bracket(depth + 1, item_start, item_height);
      }
    } else if (!parse_class_item(item, is_literal, first)) {
      return CharClass();
    }
    if (failed())
      return CharClass();
    operand_height = std::max(operand_height, item_height);
    // A range: a literal, `-`, a literal, unless the `-` ends the class or starts `--`.
    skip_space();
    if (is_literal && peek() == '-' && !at_end()) {
      const char32_t next = peek_space();
      if (next != ']' && next != '-') {
        bump_space();
        if (at_end())
          return fail("unclosed class", start, text_.size() - 1), CharClass();
        CharClass end_item;
        bool end_literal = false;
        char32_t last = 0;
        if (peek() == '[') {
          end_literal = true;
          last = '[';
          ++pos_;
        } else if (!parse_class_item(end_item, end_literal, last)) {
          return CharClass();
        }
        if (!end_literal)
          return fail("a range must end with a literal", item_start, pos_ - 1), CharClass();
        if (first > last)
          return fail("invalid class range: the start exceeds the end", item_start, pos_ - 1),
                 CharClass();
        item = CharClass::range(first, last);
      }
    } else if (!is_literal && c != '[' && peek() == '-' && !at_end() && peek_space() != '-' &&
               peek_space() != ']') {
      return fail("a range must start with a literal", item_start, pos_), CharClass();
    }
    operand.insert(operand.end(), item.ranges().begin(), item.ranges().end());
    ++operand_items;
  }
  finish_operand();
  if (flags_.i)
    result.fold_case(flags_.u);
  if (negated)
    result.negate();
  if (!check_bytes(result, start))
    return CharClass();
  height = 1 + set_height;
  return result;
}

// [:name:] or [:^name:] at a `[` inside a class; false (nothing read) when it is not one.
bool Parser::parse_ascii_class(CharClass& out) {
  if (peek(1) != ':')
    return false;
  std::size_t at = pos_ + 2;
  const bool negated = at < text_.size() && text_[at] == '^';
  if (negated)
    ++at;
  std::string name;
  while (at < text_.size() && text_[at] >= 'a' && text_[at] <= 'z')
    name += static_cast<char>(text_[at++]);
  if (at + 1 >= text_.size() || text_[at] != ':' || text_[at + 1] != ']')
    return false;
  auto cls = ascii_class(name);
  if (!cls)
    return false;
  const std::size_t start = pos_;
  pos_ = at + 2;
  if (flags_.i)
    cls->fold_case(flags_.u);
  if (negated)
    cls->negate();
  out = std::move(*cls);
  return check_bytes(out, start);
}

// One item other than a nested class: a literal (is_literal, with its value) or an escape.
bool Parser::parse_class_item(CharClass& out, bool& is_literal, char32_t& literal) {
  const std::size_t start = pos_;
  if (peek() == '\\') {
    std::optional<Look> look;
    const char32_t kind = peek(1);
    if (!parse_escape(true, out, look))
      return false;
    is_literal = is_literal_escape(kind);
    if (is_literal)
      literal = last_literal_;
    return true;
  }
  literal = peek();
  if (!flags_.u && literal >= 0x80)
    return fail("a non-ASCII character in a class needs Unicode mode", start, start), false;
  is_literal = true;
  out = CharClass::of(literal);
  ++pos_;
  return true;
}

}  // namespace torvex::algorithms::regex::detail
