// A compiled pattern of the regex dialect: parsed by our own front end, then matched by RE2
// (given explicit ranges for every class, so its own class tables play no part) wherever RE2
// can express the pattern, and by a Pike VM otherwise. Both are linear in the text.
#pragma once

#include <chrono>
#include <functional>
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
  // the compiled-size limit included. `longest_name`, when given, tells the longest name (in
  // bytes) that will be searched; it is asked only for patterns with large counts, which are
  // then compiled for names up to that length alone.
  static Result<Pattern> compile(std::string_view pattern,
                                 const std::function<std::uint64_t()>& longest_name = {});

  Pattern(Pattern&&) noexcept;
  Pattern& operator=(Pattern&&) noexcept;
  ~Pattern();

  // Whether `name` contains a match (a malformed UTF-8 byte matches no class).
  bool search(std::string_view name) const;

 private:
  friend class Searcher;
  Pattern() = default;

  // Whether the cheap tests already show that `name` holds no match.
  bool ruled_out(std::string_view name) const {
    return name.size() < min_length_ ||
           (!required_.empty() && name.find(required_) == std::string_view::npos);
  }
  // Whether RE2 gives the answer for `name`.
  bool re2_takes(std::string_view name) const;
  bool re2_search(std::string_view name, std::size_t begin, std::size_t end) const;

  std::unique_ptr<re2::RE2> re2_;    // null when RE2 cannot express the pattern
  bool re2_ascii_only_ = false;      // RE2's \b stands for Unicode \b: pure-ASCII names only
  std::optional<PikeProgram> pike_;  // for the names RE2 does not take
  std::uint64_t min_length_ = 0;     // in bytes: no shorter name holds a match
  std::string required_;             // no name without it holds a match (empty: none known)
  bool re2_from_end_ = false;        // RE2 searches backwards from the end of the text
  std::uint64_t re2_size_ = 0;       // RE2's program size, in instructions
  std::optional<Syntax> syntax_;     // when the Pike VM would take it: for a Searcher to build
                                     // it, or its reversed form
};

// Answers Pattern::search for one name after another, choosing for each name between RE2 and
// the Pike VM by the time each has taken so far: processor time of this thread, which a busy
// machine does not stretch as it stretches the time on the wall. RE2's automaton is the fastest
// while its cache holds the states the names need; when they need ever new states (`.*a.{40}` and
// its like) it builds one per byte and falls far behind the Pike VM. An RE2 search also cannot be
// stopped half-way, so RE2 only gets a name whose search it has shown it finishes within a few
// milliseconds; the rest goes to the Pike VM, which polls for interruption as it goes. On a long
// name the Pike VM runs from either end in turns (a pattern whose start is common and whose end
// is rare has few threads from the end), and the first long name goes to it for a bounded
// number of steps before RE2 is tried.
// Private to one thread, like the thread that uses it.
class Searcher {
 public:
  explicit Searcher(const Pattern& pattern);

  bool search(std::string_view name) { return !pattern_.ruled_out(name) && search_possible(name); }

  // The processor time of the calling thread.
  struct Clock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<Clock>;
    static constexpr bool is_steady = true;
    static time_point now() noexcept;
  };

 private:
  enum class Engine : std::uint8_t { kRe2, kPike };
  // Recent time per unit of work (a byte, and a few for each call), decaying.
  struct Rate {
    double ns = 0, units = 0;
    bool known() const { return units > 0; }
    double per_unit() const { return ns / units; }
    void add(double spent_ns, double done_units);
  };

  bool search_possible(std::string_view name);
  bool search_slow(std::string_view name, double units);
  bool run(Engine engine, std::string_view name);
  bool pike_search(std::string_view name);
  std::optional<bool> pike_race(std::string_view name, std::uint64_t max_steps);
  const PikeProgram* reversed_pike();
  bool re2_bounded(std::string_view name);
  const PikeProgram& pike();
  void close_block(Clock::time_point now);

  const Pattern& pattern_;
  std::optional<PikeProgram> own_pike_;
  std::optional<PikeProgram> own_reversed_;  // reads names from their end; built on demand
  bool reversed_tried_ = false;
  bool pike_reversed_ = false;  // the Pike VM reads names from their end
  Rate re2_, pike_;
  Engine preferred_ = Engine::kRe2;
  // Names run on the preferred engine since the clock was last read, and their work.
  Clock::time_point block_start_;
  double block_units_ = 0;
  double block_size_;  // the units after which the block closes
  // Names shorter than this go straight to the preferred engine until the block closes.
  std::size_t fast_limit_ = 0;
  // Time earned for trying the other engine: a share of the time spent on the preferred one.
  double trial_credit_ns_ = 0;
};

// The RE2 pattern for `syntax`, with ASCII \b for Unicode \b (the caller decides where that is
// exact); nullopt when RE2 cannot express it. `mirrored`: long optional runs are written to be
// read from the end (for a pattern that ends with \z).
std::optional<std::string> to_re2(const Syntax& syntax, bool mirrored = false);

}  // namespace torvex::algorithms::regex
