// A Pike VM over the parsed form: a linear-time search (no backtracking) that knows every
// assertion of the dialect, the Unicode word boundaries included.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "algorithms/regex/syntax.hpp"

namespace torvex::algorithms::regex {

// The compiled size past which a pattern is refused (an estimate in bytes of its program).
inline constexpr std::uint64_t kSizeLimit = 10u << 20;

class PikeProgram {
 public:
  // Whether the program for `syntax` stays within kSizeLimit; computed without building it.
  static bool within_size_limit(const Syntax& syntax);
  // Compiles `syntax`; nullopt when the program would exceed kSizeLimit.
  static std::optional<PikeProgram> compile(const Syntax& syntax);
  // A program that answers the same as compile(syntax) but reads the text from its end, for
  // patterns whose end is rarer in the text than their start; nullopt also for the CRLF line
  // assertions, which are not mirror images of each other.
  static std::optional<PikeProgram> compile_reversed(const Syntax& syntax);

  // Whether some substring of `text` matches (a malformed UTF-8 byte matches no class).
  // Complexity: O(text length x program size) time, O(program size) space.
  bool search(std::string_view text) const;

  // As search, giving up after about `max_steps` steps (a step per character and live thread):
  // nullopt then, with `reached` the bytes it had read.
  std::optional<bool> search_within(std::string_view text, std::uint64_t max_steps,
                                    std::size_t& reached) const;

 private:
  enum class Op : std::uint8_t { kClass, kSplit, kJump, kLook, kMatch };
  struct Inst {
    Op op;
    Look look;
    bool unicode;
    std::uint32_t arg;   // class index, or the first target
    std::uint32_t arg2;  // the second target of a split
  };
  class Builder;

  std::vector<Inst> program_;
  std::vector<CharClass> classes_;
  bool anchored_start_ = false;  // every match starts at the start of the text
  bool reversed_ = false;        // reads the text from its end
};

}  // namespace torvex::algorithms::regex
