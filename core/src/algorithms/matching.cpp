#include "algorithms/matching.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include <re2/re2.h>

namespace torvex::algorithms {
namespace {

// --- error texts ---------------------------------------------------------------------------

constexpr std::string_view kInvalidPattern = "Invalid regex pattern: ";
constexpr std::string_view kTooLarge = "pattern too large: its compiled form exceeds the size limit";
constexpr std::string_view kNoBackreferences = " (backreferences are not supported)";
constexpr std::string_view kNoLookAround = "look-around is not supported";

// RE2's own texts ("missing ): a(b") are terse; these say what is wrong in plain words.
std::string_view describe(RE2::ErrorCode code) {
  switch (code) {
    case RE2::ErrorBadEscape: return "invalid escape sequence";
    case RE2::ErrorBadCharClass: return "invalid character class";
    case RE2::ErrorBadCharRange: return "invalid character class or range";
    case RE2::ErrorMissingBracket: return "unclosed character class";
    case RE2::ErrorMissingParen: return "unclosed group";
    case RE2::ErrorUnexpectedParen: return "unopened group";
    case RE2::ErrorTrailingBackslash: return "trailing backslash at the end of the pattern";
    case RE2::ErrorRepeatArgument: return "repetition operator without an operand";
    case RE2::ErrorRepeatSize: return "invalid repetition count (at most 1000)";
    case RE2::ErrorRepeatOp: return "invalid repetition operator";
    case RE2::ErrorBadPerlOp: return "invalid or unsupported group syntax";
    case RE2::ErrorBadUTF8: return "invalid UTF-8";
    case RE2::ErrorBadNamedCapture: return "invalid named capture group";
    case RE2::ErrorPatternTooLarge: return kTooLarge;
    default: return "internal error";
  }
}

bool is_look_around(std::string_view pattern, std::string_view arg) {
  if (arg == "(?=" || arg == "(?!") return true;
  return arg == "(?<" && (pattern.find("(?<=") != std::string_view::npos ||
                          pattern.find("(?<!") != std::string_view::npos);
}

// At most this many bytes of the offending fragment are quoted, cut on a character boundary.
constexpr std::size_t kMaxQuoted = 80;

std::string quote(std::string_view fragment) {
  if (fragment.size() <= kMaxQuoted) return "`" + std::string(fragment) + "`";
  std::size_t cut = kMaxQuoted;
  while (cut > 0 && (static_cast<unsigned char>(fragment[cut]) & 0xC0) == 0x80) --cut;
  return "`" + std::string(fragment.substr(0, cut)) + "`...";
}

TorvexError invalid_pattern(const RE2& re, std::string_view pattern) {
  const std::string& arg = re.error_arg();
  std::string text(kInvalidPattern);
  if (re.error_code() == RE2::ErrorBadPerlOp && is_look_around(pattern, arg)) {
    text += kNoLookAround;
  } else {
    text += describe(re.error_code());
  }
  if (!arg.empty()) text += ": " + quote(arg);
  if (re.error_code() == RE2::ErrorBadEscape && arg.size() == 2 && arg[1] >= '0' && arg[1] <= '9') {
    text += kNoBackreferences;
  }
  return TorvexError::graph(std::move(text));
}

// --- the size guard ------------------------------------------------------------------------
//
// RE2 enforces its size limit only after parsing, and parsing itself can be expensive: each
// \p{..} class copies hundreds of ranges and each counted repetition is expanded node by node.
// Patterns whose parse alone would cost more than the compiled form could ever hold (so RE2
// would refuse them anyway) are refused before RE2 sees them. The length cap also keeps RE2's
// tree walks within their internal budgets, past which they print to stderr.

constexpr std::size_t kMaxPatternBytes = 256 * 1024;
constexpr std::uint64_t kParseBudget = 128u << 20;    // estimated bytes
constexpr std::uint64_t kUnicodeClassCost = 32u << 10;  // per \p or \P
constexpr std::uint64_t kRepeatCost = 160;            // per repeated copy
constexpr std::uint64_t kMaxCount = 100000;           // RE2 refuses counts above 1000

// The count of a repetition "{n}", "{n,}" or "{n,m}" starting at pattern[i] == '{' (the larger
// bound), or 0 when none starts there.
std::uint64_t repetition_count(std::string_view pattern, std::size_t i) {
  std::uint64_t bound[2] = {0, 0};
  int part = 0;
  bool digits = false;
  for (++i; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c >= '0' && c <= '9') {
      bound[part] = std::min(bound[part] * 10 + static_cast<unsigned>(c - '0'), kMaxCount);
      digits = true;
    } else if (c == ',' && part == 0 && digits) {
      part = 1;
    } else {
      return c == '}' && digits ? std::max(bound[0], bound[1]) : 0;
    }
  }
  return 0;
}

bool exceeds_parse_budget(std::string_view pattern) {
  if (pattern.size() > kMaxPatternBytes) return true;
  std::uint64_t cost = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '\\' && i + 1 < pattern.size()) {
      ++i;
      if (pattern[i] == 'p' || pattern[i] == 'P') cost += kUnicodeClassCost;
    } else if (pattern[i] == '{') {
      cost += kRepeatCost * repetition_count(pattern, i);
    }
  }
  return cost > kParseBudget;
}

}  // namespace

std::string glob_to_regex(std::string_view glob) {
  std::string regex;
  regex.reserve(glob.size() + 4);
  regex += '^';
  // Byte by byte is character by character here: every byte that needs translating is ASCII,
  // and UTF-8 never uses ASCII bytes inside a multi-byte character.
  for (const char c : glob) {
    switch (c) {
      case '*': regex += ".*"; break;
      case '?': regex += '.'; break;
      case '$': case '(': case ')': case '+': case '.': case '[':
      case '\\': case ']': case '^': case '{': case '|': case '}':
        regex += '\\';
        regex += c;
        break;
      default: regex += c;
    }
  }
  regex += '$';
  return regex;
}

Result<IndexList> nodes_matching_regex(const StableGraph& graph, std::string_view pattern) {
  // Compile once, quietly: errors are returned, never logged.
  if (exceeds_parse_budget(pattern)) {
    return TorvexError::graph(std::string(kInvalidPattern) + std::string(kTooLarge));
  }
  RE2::Options options;
  options.set_log_errors(false);
  const RE2 re(re2::StringPiece(pattern.data(), pattern.size()), options);
  if (!re.ok()) return invalid_pattern(re, pattern);

  // Keep the live nodes with a match anywhere in their name; stop at the first match.
  IndexList kept;
  for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
    if (!graph.is_live(n)) continue;
    const std::string_view name = graph.name(n);
    if (re.Match(re2::StringPiece(name.data(), name.size()), 0, name.size(), RE2::UNANCHORED,
                 nullptr, 0)) {
      kept.push_back(n);
    }
  }
  return kept;
}

}  // namespace torvex::algorithms
