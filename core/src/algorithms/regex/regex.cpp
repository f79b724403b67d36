#include "algorithms/regex/regex.hpp"

#include <re2/re2.h>

#include <algorithm>
#include <cstdio>

#include "utf8.hpp"

namespace torvex::algorithms::regex {
namespace {

// RE2 refuses counts above this, also as products of nested counts.
constexpr std::uint64_t kRe2MaxRepeat = 1000;
// Optional copies nest in parts of this many: RE2 compiles a part in time growing with the
// square of its count, and each part adds a level of nesting.
constexpr std::uint64_t kChunk = 100;
constexpr std::uint64_t kMaxChain = 1000;
// RE2's memory budget: larger than its default, so every pattern within our own size limit fits.
constexpr std::int64_t kRe2MaxMemory = 64 << 20;

bool is_plain(char32_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

void append_char(std::string& out, char32_t c) {
  if (is_plain(c)) {
    out += static_cast<char>(c);
    return;
  }
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "\\x{%X}", static_cast<unsigned>(c));
  out += buffer;
}

class Re2Writer {
 public:
  explicit Re2Writer(const Syntax& syntax) : syntax_(syntax) {}

  bool write(const Node& node, std::uint64_t repeat_product, std::string& out) {
    switch (node.kind) {
      case Node::Kind::kEmpty:
        out += "(?:)";
        return true;
      case Node::Kind::kClass:
        write_class(syntax_.classes[node.class_index], out);
        return true;
      case Node::Kind::kLook:
        return write_look(node, out);
      case Node::Kind::kConcat:
        for (const Node& child : node.children) {
          out += "(?:";
          if (!write(child, repeat_product, out))
            return false;
          out += ')';
        }
        return true;
      case Node::Kind::kAlternate:
        for (std::size_t k = 0; k < node.children.size(); ++k) {
          if (k > 0)
            out += '|';
          out += "(?:";
          if (!write(node.children[k], repeat_product, out))
            return false;
          out += ')';
        }
        return true;
      case Node::Kind::kRepeat:
        return write_repeat(node, repeat_product, out);
    }
    return false;
  }

 private:
  // RE2 refuses a count above kRe2MaxRepeat, also as the product of nested counts; a larger
  // repetition becomes a sequence of smaller ones, so the automaton still takes it:
  // X{n,m} = X{k}...X{k} X{0,k}...X{0,k}, and X{n,} = X{k}...X{k} X*.
  bool write_repeat(const Node& node, std::uint64_t product, std::string& out) {
    const std::uint64_t budget = kRe2MaxRepeat / product;
    const std::uint64_t count =
        node.max == kUnbounded ? std::max<std::uint64_t>(node.min, 1) : node.max;
    if (count <= budget) {
      if (!write_group(node.children[0], product * std::max<std::uint64_t>(count, 1), out))
        return false;
      if (node.min == 0 && node.max == kUnbounded) {
        out += '*';
      } else if (node.min == 1 && node.max == kUnbounded) {
        out += '+';
      } else if (node.max == kUnbounded) {
        out += '{' + std::to_string(node.min) + ",}";
      } else {
        out += '{' + std::to_string(node.min) + ',' + std::to_string(node.max) + '}';
      }
      return true;
    }
    out += "(?:";
    for (std::uint64_t left = node.min; left > 0;) {
      const std::uint64_t k = std::min(left, budget);
      if (!write_group(node.children[0], product * k, out))
        return false;
      out += '{' + std::to_string(k) + '}';
      left -= k;
    }
    if (node.max == kUnbounded) {
      if (!write_group(node.children[0], product, out))
        return false;
      out += '*';
    }
    if (node.max != kUnbounded &&
        !write_optional(node.children[0], node.max - node.min, product, budget, out)) {
      return false;
    }
    out += ')';
    return true;
  }

  // X{0,n} for n above the budget. A flat X{0,k}X{0,k}... makes RE2's compile quadratic: every
  // way out of one part passes through the entries of all later parts. Nested as
  // X{0,c-1}(?:X X{0,c-1}(?:X ...)?)? every way out leads straight to the end, and the copies
  // of X still match any count up to n.
  bool write_optional(const Node& body, std::uint64_t left, std::uint64_t product,
                      std::uint64_t budget, std::string& out) {
    const std::uint64_t chunk = std::min(budget, kChunk);
    if (left / chunk > kMaxChain) {  // too deep to nest: RE2 takes the flat form as well
      for (; left > 0;) {
        const std::uint64_t k = std::min(left, budget);
        if (!write_group(body, product * k, out))
          return false;
        out += "{0," + std::to_string(k) + '}';
        left -= k;
      }
      return true;
    }
    std::uint64_t open = 0;
    for (; left > budget; left -= chunk, ++open) {
      if (chunk > 1) {
        if (!write_group(body, product * (chunk - 1), out))
          return false;
        out += "{0," + std::to_string(chunk - 1) + '}';
      }
      out += "(?:";
      if (!write_group(body, product, out))
        return false;
    }
    if (!write_group(body, product * std::max<std::uint64_t>(left, 1), out))
      return false;
    out += "{0," + std::to_string(left) + '}';
    for (; open > 0; --open)
      out += ")?";
    return true;
  }

  bool write_group(const Node& node, std::uint64_t product, std::string& out) {
    out += "(?:";
    if (!write(node, product, out))
      return false;
    out += ')';
    return true;
  }

  static void write_class(const CharClass& cls, std::string& out) {
    if (const auto c = cls.single())
      return append_char(out, *c);
    if (cls.is_empty()) {
      out += "[^\\x{0}-\\x{10FFFF}]";
      return;
    }
    out += '[';
    for (const CodeRange& r : cls.ranges()) {
      append_char(out, r.first);
      if (r.last != r.first) {
        out += '-';
        append_char(out, r.last);
      }
    }
    out += ']';
  }

  static bool write_look(const Node& node, std::string& out) {
    switch (node.look) {
      case Look::kStartText:
        out += "\\A";
        return true;
      case Look::kEndText:
        out += "\\z";
        return true;
      case Look::kStartLine:
        out += "(?m:^)";
        return true;
      case Look::kEndLine:
        out += "(?m:$)";
        return true;
      case Look::kWordBoundary:
        out += "\\b";
        return true;
      case Look::kNotWordBoundary:
        out += "\\B";
        return true;
      default:
        return false;  // CRLF lines and word starts and ends: the Pike VM's
    }
  }

  const Syntax& syntax_;
};

// The fewest bytes a match takes, saturating at kNever (a class that matches nothing): a
// shorter name holds no match.
constexpr std::uint64_t kNever = std::uint64_t{1} << 62;

std::uint64_t min_match_bytes(const Node& node, const std::vector<CharClass>& classes) {
  switch (node.kind) {
    case Node::Kind::kEmpty:
    case Node::Kind::kLook:
      return 0;
    case Node::Kind::kClass: {
      const auto& ranges = classes[node.class_index].ranges();
      if (ranges.empty())
        return kNever;
      const char32_t c = ranges.front().first;
      return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    }
    case Node::Kind::kConcat: {
      std::uint64_t total = 0;
      for (const Node& child : node.children)
        total = std::min(total + min_match_bytes(child, classes), kNever);
      return total;
    }
    case Node::Kind::kAlternate: {
      std::uint64_t least = kNever;
      for (const Node& child : node.children)
        least = std::min(least, min_match_bytes(child, classes));
      return least;
    }
    case Node::Kind::kRepeat: {
      if (node.min == 0)
        return 0;
      const std::uint64_t each = min_match_bytes(node.children[0], classes);
      return each > kNever / node.min ? kNever : each * node.min;
    }
  }
  return 0;
}

// A character every match contains (the last one a concatenation requires), in UTF-8: a name
// without it holds no match, which a byte search tells faster than the automaton.
std::string required_character(const Node& node, const std::vector<CharClass>& classes) {
  switch (node.kind) {
    case Node::Kind::kClass: {
      const auto c = classes[node.class_index].single();
      if (!c)
        return {};
      std::string out;
      append_utf8(out, *c);
      return out;
    }
    case Node::Kind::kConcat:
      for (auto it = node.children.rbegin(); it != node.children.rend(); ++it) {
        if (std::string found = required_character(*it, classes); !found.empty())
          return found;
      }
      return {};
    case Node::Kind::kRepeat:
      return node.min > 0 ? required_character(node.children[0], classes) : std::string();
    default:
      return {};
  }
}

// A name contains a match of X{n,m} R exactly when it contains one of X{n} R: drop the first
// copies of X from any match. So a repetition at either edge of the pattern (of a branch of a
// top-level alternation) needs only its least count; the copies it saves would change no
// answer, and a large count there would only cost compile time.
void trim_edges(Node& node) {
  switch (node.kind) {
    case Node::Kind::kAlternate:
      for (Node& child : node.children)
        trim_edges(child);
      return;
    case Node::Kind::kRepeat:
      node.max = node.min;
      return;
    case Node::Kind::kConcat: {
      auto trim = [](Node& child) {  // true: nothing left, the next item is at the edge
        if (child.kind == Node::Kind::kRepeat) {
          child.max = child.min;
          return child.min == 0;
        }
        return child.kind == Node::Kind::kEmpty;
      };
      for (auto it = node.children.begin(); it != node.children.end() && trim(*it);)
        ++it;
      for (auto it = node.children.rbegin(); it != node.children.rend() && trim(*it);)
        ++it;
      return;
    }
    default:
      return;
  }
}

bool is_ascii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80)
      return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> to_re2(const Syntax& syntax) {
  std::string out;
  Re2Writer writer(syntax);
  if (!writer.write(syntax.root, 1, out))
    return std::nullopt;
  return out;
}

Pattern::Pattern(Pattern&&) noexcept = default;
Pattern& Pattern::operator=(Pattern&&) noexcept = default;
Pattern::~Pattern() = default;

Result<Pattern> Pattern::compile(std::string_view text) {
  TORVEX_TRY(syntax, parse(text));
  if (!fits_size_limit(syntax))
    return invalid_pattern(kTooLarge);
  Pattern out;
  out.min_length_ = min_match_bytes(syntax.root, syntax.classes);
  out.required_ = required_character(syntax.root, syntax.classes);
  trim_edges(syntax.root);
  if (const auto re2_text = to_re2(syntax)) {
    RE2::Options options;
    options.set_log_errors(false);
    options.set_never_capture(true);
    options.set_max_mem(kRe2MaxMemory);
    auto re = std::make_unique<RE2>(re2::StringPiece(re2_text->data(), re2_text->size()), options);
    if (re->ok()) {
      out.re2_ = std::move(re);
      out.re2_ascii_only_ = needs_ascii_text_for_re2(syntax.root);
    }
  }
  if (!out.re2_ || out.re2_ascii_only_) {
    out.pike_ = PikeProgram::compile(syntax);
    if (!out.pike_)
      return invalid_pattern(kTooLarge);
  }
  return out;
}

bool Pattern::search(std::string_view name) const {
  if (name.size() < min_length_ ||
      (!required_.empty() && name.find(required_) == std::string_view::npos)) {
    return false;
  }
  if (re2_ && (!re2_ascii_only_ || is_ascii(name))) {
    return re2_->Match(re2::StringPiece(name.data(), name.size()), 0, name.size(), RE2::UNANCHORED,
                       nullptr, 0);
  }
  return pike_->search(name);
}

}  // namespace torvex::algorithms::regex
