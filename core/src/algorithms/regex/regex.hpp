// A compiled pattern of the regex dialect: parsed by our own front end, then matched by RE2
// (given explicit ranges for every class, so its own class tables play no part) wherever RE2
// can express the pattern, and by a Pike VM otherwise. Both are linear in the text.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "algorithms/regex/pike_vm.hpp"
#include "algorithms/regex/syntax.hpp"
#include "errors.hpp"

namespace re2 {
class RE2;
}

namespace torvex::algorithms::regex {

class Pattern {
 public:
  // Errors: Graph "Invalid regex pattern: {description}" for anything the dialect refuses,
  // the compiled-size limit included.
  static Result<Pattern> compile(std::string_view pattern);

  Pattern(Pattern&&) noexcept;
  Pattern& operator=(Pattern&&) noexcept;
  ~Pattern();

  // Whether `name` contains a match (a malformed UTF-8 byte matches no class).
  bool search(std::string_view name) const;

 private:
  Pattern() = default;

  std::unique_ptr<re2::RE2> re2_;    // null when RE2 cannot express the pattern
  bool re2_ascii_only_ = false;      // RE2's \b stands for Unicode \b: pure-ASCII names only
  std::optional<PikeProgram> pike_;  // for the names RE2 does not take
  std::uint64_t min_length_ = 0;     // in bytes: no shorter name holds a match
  std::string required_;             // no name without it holds a match (empty: none known)
};

// The RE2 pattern for `syntax`, with ASCII \b for Unicode \b (the caller decides where that is
// exact); nullopt when RE2 cannot express it.
std::optional<std::string> to_re2(const Syntax& syntax);

}  // namespace torvex::algorithms::regex
