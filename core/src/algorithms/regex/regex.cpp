#include "algorithms/regex/regex.hpp"

#include <re2/re2.h>

#include <cstdio>

namespace torvex::algorithms::regex {
namespace {

// RE2 refuses counts above this, also as products of nested counts.
constexpr std::uint64_t kRe2MaxRepeat = 1000;
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
      case Node::Kind::kRepeat: {
        const std::uint64_t count =
            node.max == kUnbounded ? std::max<std::uint64_t>(node.min, 1) : node.max;
        const std::uint64_t product = repeat_product * count;
        if (product > kRe2MaxRepeat)
          return false;
        out += "(?:";
        if (!write(node.children[0], product, out))
          return false;
        out += ')';
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
    }
    return false;
  }

 private:
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
  Pattern out;
  // The Pike VM's program doubles as the size check, whichever engine then runs.
  out.pike_ = PikeProgram::compile(syntax);
  if (!out.pike_)
    return invalid_pattern("pattern too large: its compiled form exceeds the size limit");
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
  if (out.re2_ && !out.re2_ascii_only_)
    out.pike_.reset();
  return out;
}

bool Pattern::search(std::string_view name) const {
  if (re2_ && (!re2_ascii_only_ || is_ascii(name))) {
    return re2_->Match(re2::StringPiece(name.data(), name.size()), 0, name.size(), RE2::UNANCHORED,
                       nullptr, 0);
  }
  return pike_->search(name);
}

}  // namespace torvex::algorithms::regex
