#include "algorithms/regex/parser_impl.hpp"

namespace torvex::algorithms::regex {
namespace {

using detail::Failure;
using detail::Parser;
using detail::decode_utf8;

std::string utf8(std::u32string_view text) {
  std::string out;
  for (const char32_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
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
  if (!decode_utf8(pattern, text)) return invalid_pattern("the pattern is not valid UTF-8");
  Parser parser(text);
  Syntax out;
  if (const auto failure = parser.run(out)) {
    const std::size_t last = std::min(failure->last, text.empty() ? 0 : text.size() - 1);
    std::size_t first = std::min(failure->first, last);
    std::u32string_view part = std::u32string_view(text).substr(first, last - first + 1);
    std::string quoted = "`" + utf8(part.substr(0, kMaxQuoted)) + "`";
    if (part.size() > kMaxQuoted) quoted += "...";
    return invalid_pattern(failure->what + (text.empty() ? "" : ": " + quoted));
  }
  return out;
}

bool needs_ascii_text_for_re2(const Node& node) {
  if (node.kind == Node::Kind::kLook) {
    return (node.unicode && node.look >= Look::kWordBoundary) || node.look == Look::kNotWordBoundary;
  }
  return std::any_of(node.children.begin(), node.children.end(), needs_ascii_text_for_re2);
}

}  // namespace torvex::algorithms::regex
