#include "algorithms/regex/regex.hpp"

#include <re2/re2.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>
#include <new>

#include "interrupt.hpp"
#include "utf8.hpp"

namespace torvex::algorithms::regex {
namespace {

// Counts above this are fitted to the longest name, when the caller knows it.
constexpr std::uint64_t kLargeCount = 256;
// Counts in the pattern go up to this; a product of two stays far from overflowing.
constexpr std::uint64_t kMaxCount = 0xFFFFFFFF;
// RE2 refuses counts above this, also as products of nested counts.
constexpr std::uint64_t kRe2MaxRepeat = 1000;
// Optional copies nest in parts of at least this many, in at most kMaxChain levels: RE2
// compiles a part in time growing with the square of its count, and each part adds a level of
// nesting.
constexpr std::uint64_t kChunk = 100;
constexpr std::uint64_t kMaxChain = 1000;
// RE2's memory budget: larger than its default, so every pattern within our own size limit fits.
constexpr std::int64_t kRe2MaxMemory = 64 << 20;
// RE2 gives up its automaton for the slow simulation when the budget left after the program
// holds fewer than about twenty states of the largest size; for a large program (an alternation
// of thousands of words) that takes several hundred bytes per instruction. The budget is what
// the automaton may fill before starting over, not what it takes at once.
constexpr std::int64_t kRe2MemoryPerInstruction = 1024;
constexpr std::int64_t kRe2MaxMemoryCeiling = std::int64_t{512} << 20;

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
  // mirrored: the chains of optional copies open towards the end of the pattern, for a
  // pattern that RE2 searches backwards from the end of the text.
  Re2Writer(const Syntax& syntax, bool mirrored) : syntax_(syntax), mirrored_(mirrored) {}

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
      case Node::Kind::kAlternate: {
        // Whether a name holds a match does not depend on the order of the branches. Sorted,
        // the branches that start alike are neighbours, and RE2 factors neighbours' common
        // starts: a list of words becomes a trie, whose automaton states stay small.
        std::vector<std::string> branches(node.children.size());
        for (std::size_t k = 0; k < node.children.size(); ++k) {
          if (!write(node.children[k], repeat_product, branches[k]))
            return false;
        }
        std::sort(branches.begin(), branches.end());
        for (std::size_t k = 0; k < branches.size(); ++k) {
          if (k > 0)
            out += '|';
          out += "(?:";
          out += branches[k];
          out += ')';
        }
        return true;
      }
      case Node::Kind::kRepeat:
        return write_repeat(node, repeat_product, out);
    }
    return false;
  }

 private:
  // RE2 refuses a count above kRe2MaxRepeat, also as the product of nested counts; a larger
  // repetition becomes a sequence of smaller ones, so the automaton still takes it:
  // X{n,m} = X{k}...X{k} then X{0,m-n} (write_optional), and X{n,} = X{k}...X{k} X*.
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
  // way out of one part passes through the entries of all later parts. It is also ambiguous, as
  // is any form whose parts can each stop early: after j copies a match may be split among the
  // parts in about j ways, so RE2's automaton grows states of j threads and gives up on long
  // runs of X. So the copies go in a nested chain of whole parts, then at most c-1 more:
  // (?:X{c}(?:X{c}(?:...(?:X{s})?...)?)?)?X{0,c-1}, with the last part s <= c making the total n.
  // Every way out leads straight to the tail, and a run of copies has about one place in it.
  bool write_optional(const Node& body, std::uint64_t left, std::uint64_t product,
                      std::uint64_t budget, std::string& out) {
    const std::uint64_t chunk =
        std::min(budget, std::max(kChunk, (left + kMaxChain - 1) / kMaxChain));
    // Within the budget RE2 takes X{0,n} as it is; too deep to nest, it takes the flat form.
    if (left <= budget || left / chunk > kMaxChain) {
      for (; left > 0;) {
        const std::uint64_t k = std::min(left, budget);
        if (!write_group(body, product * k, out))
          return false;
        out += "{0," + std::to_string(k) + '}';
        left -= k;
      }
      return true;
    }
    const std::uint64_t tail = chunk - 1;  // left > budget >= chunk: the chain is not empty
    auto write_tail = [&] {
      if (tail == 0)
        return true;
      if (!write_group(body, product * tail, out))
        return false;
      out += "{0," + std::to_string(tail) + '}';
      return true;
    };
    std::vector<std::uint64_t> parts;
    for (std::uint64_t rest = left - tail; rest > 0;) {
      parts.push_back(std::min(rest, chunk));
      rest -= parts.back();
    }
    auto write_part = [&](std::uint64_t k) {
      if (!write_group(body, product * k, out))
        return false;
      out += '{' + std::to_string(k) + '}';
      return true;
    };
    if (mirrored_) {
      // Read from the end: X{0,c-1}(?:(?:...(?:X{s})?...X{c})?X{c})?
      if (!write_tail())
        return false;
      for (std::size_t k = 0; k < parts.size(); ++k)
        out += "(?:";
      for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        if (!write_part(*it))
          return false;
        out += ")?";
      }
      return true;
    }
    for (const std::uint64_t k : parts) {
      out += "(?:";
      if (!write_part(k))
        return false;
    }
    for (std::size_t k = 0; k < parts.size(); ++k)
      out += ")?";
    return write_tail();
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
  bool mirrored_;
};

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

// Whether the pattern ends with \z at its top level, where RE2 takes it for an anchor and
// searches backwards from the end of the text.
bool ends_with_end_text(const Node& node) {
  if (node.kind == Node::Kind::kLook)
    return node.look == Look::kEndText;
  if (node.kind != Node::Kind::kConcat || node.children.empty())
    return false;
  return ends_with_end_text(node.children.back());
}

// No match within a name of `longest` bytes takes more copies of X than fit in it, so X{n,m}
// needs no more than max(n, longest / least bytes of X); fewer copies make a smaller program.
void fit_counts(Node& node, std::uint64_t longest, const std::vector<CharClass>& classes) {
  for (Node& child : node.children)
    fit_counts(child, longest, classes);
  if (node.kind != Node::Kind::kRepeat || node.max == kUnbounded)
    return;
  // (X{0,k}){n,m} matches what X{0,k*m} matches: each copy may be empty.
  if (Node& inner = node.children[0]; inner.kind == Node::Kind::kRepeat && inner.min == 0 &&
                                      inner.max != kUnbounded && inner.max <= kMaxCount &&
                                      node.max <= kMaxCount) {
    node.min = 0;
    node.max = inner.max * node.max;
    Node body = std::move(inner.children[0]);
    node.children[0] = std::move(body);
  }
  if (node.max <= node.min)
    return;
  const std::uint64_t each = min_match_bytes(node.children[0], classes);
  if (each > 0 && each < kNeverMatches)
    node.max = std::max(node.min, std::min(node.max, longest / each));
}

// The largest finite count of a repetition in `node`.
std::uint64_t largest_count(const Node& node) {
  std::uint64_t out = node.kind == Node::Kind::kRepeat && node.max != kUnbounded ? node.max : 0;
  for (const Node& child : node.children)
    out = std::max(out, largest_count(child));
  return out;
}

bool is_ascii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80)
      return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> to_re2(const Syntax& syntax, bool mirrored) {
  std::string out;
  Re2Writer writer(syntax, mirrored);
  if (!writer.write(syntax.root, 1, out))
    return std::nullopt;
  return out;
}

Pattern::Pattern(Pattern&&) noexcept = default;
Pattern& Pattern::operator=(Pattern&&) noexcept = default;
Pattern::~Pattern() = default;

Result<Pattern> Pattern::compile(std::string_view text,
                                 const std::function<std::uint64_t()>& longest_name) {
  TORVEX_TRY(syntax, parse(text));
  if (!fits_size_limit(syntax))
    return invalid_pattern(kTooLarge);
  Pattern out;
  out.min_length_ = min_match_bytes(syntax.root, syntax.classes);
  if (longest_name && largest_count(syntax.root) > kLargeCount)
    fit_counts(syntax.root, longest_name(), syntax.classes);
  out.required_ = required_character(syntax.root, syntax.classes);
  trim_edges(syntax.root);
  out.re2_from_end_ = ends_with_end_text(syntax.root);
  if (const auto re2_text = to_re2(syntax, out.re2_from_end_)) {
    RE2::Options options;
    options.set_log_errors(false);
    options.set_never_capture(true);
    // The pattern's length stands in for RE2's program size until RE2 has compiled it (about
    // one instruction per four characters of a literal alternation); when the program turns
    // out much larger (counted repetitions, classes of many byte ranges), compile again.
    auto budget = [](std::uint64_t instructions) {
      return std::clamp(static_cast<std::int64_t>(instructions) * kRe2MemoryPerInstruction,
                        kRe2MaxMemory, kRe2MaxMemoryCeiling);
    };
    const std::int64_t estimated = budget(re2_text->size() / 4);
    options.set_max_mem(estimated);
    const re2::StringPiece piece(re2_text->data(), re2_text->size());
    auto re = std::make_unique<RE2>(piece, options);
    if (re->ok() && budget(re->ProgramSize()) > 2 * estimated) {
      options.set_max_mem(budget(re->ProgramSize()));
      re = std::make_unique<RE2>(piece, options);
    }
    if (re->ok()) {
      out.re2_size_ = static_cast<std::uint64_t>(re->ProgramSize());
      out.re2_ = std::move(re);
      out.re2_ascii_only_ = needs_ascii_text_for_re2(syntax.root);
    }
  }
  if (!out.re2_ || out.re2_ascii_only_) {
    out.pike_ = PikeProgram::compile(syntax);
    if (!out.pike_)
      return invalid_pattern(kTooLarge);
    out.syntax_ = std::move(syntax);
  } else if (PikeProgram::within_size_limit(syntax)) {
    out.syntax_ = std::move(syntax);
  }
  return out;
}

bool Pattern::re2_takes(std::string_view name) const {
  return re2_ && (!re2_ascii_only_ || is_ascii(name));
}

bool Pattern::re2_search(std::string_view name, std::size_t begin, std::size_t end) const {
  return re2_->Match(re2::StringPiece(name.data(), name.size()), begin, end, RE2::UNANCHORED,
                     nullptr, 0);
}

bool Pattern::search(std::string_view name) const {
  if (ruled_out(name))
    return false;
  if (re2_takes(name))
    return re2_search(name, 0, name.size());
  return pike_->search(name);
}

namespace {

// The work of one call, counted in bytes of name.
constexpr double kCallUnits = 16;
// Names run on one engine between two looks at the clock, in units of work: at first, and at
// most.
constexpr double kBlockUnits = 4096;
constexpr double kMaxBlockUnits = 65536;
// The longest an RE2 search should run: it cannot be interrupted.
constexpr double kMaxRe2Ns = 20e6;
// The bytes RE2 searches first when it has not been timed yet.
constexpr double kFirstStart = 64;
// The first turn of the Pike VM from either end of a long name.
constexpr std::uint64_t kFirstRaceSteps = 4096;
// The steps the Pike VM may take on a long name before it has been timed.
constexpr std::uint64_t kFirstPikeSteps = std::uint64_t{1} << 20;
// The longest a single name tried on the other engine should take.
constexpr double kMaxTrialNs = 1e6;
// What a search costs per byte and instruction at worst, before any has been timed.
constexpr double kWorstNsPerInstruction = 4;
// The other engine is tried with this share of the time spent on the preferred one.
constexpr double kTrialShare = 1.0 / 32;
// An interrupt poll step for this much work.
constexpr double kNsPerPollStep = 50;

double elapsed_ns(Searcher::Clock::time_point since, Searcher::Clock::time_point until) {
  return std::chrono::duration<double, std::nano>(until - since).count();
}

void poll_for(double spent_ns) {
  interrupt::poll(1 + static_cast<std::size_t>(spent_ns / kNsPerPollStep));
}

}  // namespace

Searcher::Clock::time_point Searcher::Clock::now() noexcept {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return time_point(duration(std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec));
}

void Searcher::Rate::add(double spent_ns, double done_units) {
  ns = ns / 2 + spent_ns;
  units = units / 2 + done_units;
}

Searcher::Searcher(const Pattern& pattern)
    : pattern_(pattern), block_size_(kBlockUnits), trial_credit_ns_(-20e3 * kTrialShare) {}

const PikeProgram& Searcher::pike() {
  if (pattern_.pike_)
    return *pattern_.pike_;
  if (!own_pike_) {
    own_pike_ = PikeProgram::compile(*pattern_.syntax_);  // within its limit: checked
    if (!own_pike_)
      throw std::bad_alloc();
  }
  return *own_pike_;
}

bool Searcher::search_possible(std::string_view name) {
  const double units = static_cast<double>(name.size()) + kCallUnits;
  if (name.size() < fast_limit_ && block_units_ + units < block_size_) {
    // Within a block that search_slow opened: the preferred engine, counted for the block.
    block_units_ += units;
    return preferred_ == Engine::kRe2 ? pattern_.re2_search(name, 0, name.size())
                                      : pike_search(name);
  }
  return search_slow(name, units);
}

bool Searcher::search_slow(std::string_view name, double units) {
  if (!pattern_.re2_takes(name))
    return pike_search(name);
  if (!pattern_.pike_ && !pattern_.syntax_) {  // too large for the Pike VM: RE2 alone
    const bool found = pattern_.re2_search(name, 0, name.size());
    interrupt::poll(1 + name.size() / 64);
    return found;
  }
  const double worst = kWorstNsPerInstruction * static_cast<double>(pattern_.re2_size_);
  auto estimate = [&](const Rate& rate) {
    return (rate.known() ? rate.per_unit() : worst) * units;
  };
  const Engine other = preferred_ == Engine::kRe2 ? Engine::kPike : Engine::kRe2;
  const Rate& other_rate = other == Engine::kRe2 ? re2_ : pike_;
  const bool trial = trial_credit_ns_ >= 0 && estimate(other_rate) <= kMaxTrialNs;
  if (!trial && (preferred_ == Engine::kPike || estimate(re2_) <= kMaxRe2Ns)) {
    // The usual case: the preferred engine, timed a block of names at a time.
    if (block_units_ == 0) {
      block_start_ = Clock::now();
      // The names that go on the preferred engine straight away until the block closes: no
      // trial is due before then, and RE2 takes the name within its time.
      const double per_unit = re2_.known() ? re2_.per_unit() : worst;
      if (trial_credit_ns_ < 0 && preferred_ == Engine::kPike) {
        fast_limit_ = std::numeric_limits<std::size_t>::max();
      } else if (trial_credit_ns_ < 0 && !pattern_.re2_ascii_only_) {
        fast_limit_ = static_cast<std::size_t>(
            std::clamp(kMaxRe2Ns / std::max(per_unit, 1e-3) - kCallUnits, 0.0, 1e15));
      }
    }
    const bool found =
        preferred_ == Engine::kRe2 ? pattern_.re2_search(name, 0, name.size()) : pike_search(name);
    block_units_ += units;
    if (block_units_ >= block_size_)
      close_block(Clock::now());
    return found;
  }
  const auto start = Clock::now();
  close_block(start);
  const bool found = run(trial ? other : preferred_, name);
  if (trial)
    trial_credit_ns_ -= elapsed_ns(start, Clock::now());
  return found;
}

void Searcher::close_block(Clock::time_point now) {
  fast_limit_ = 0;
  if (block_units_ == 0)
    return;
  const double spent = elapsed_ns(block_start_, now);
  (preferred_ == Engine::kRe2 ? re2_ : pike_).add(spent, block_units_);
  trial_credit_ns_ += spent * kTrialShare;
  block_units_ = 0;
  const Engine before = preferred_;
  if (re2_.known() && pike_.known())
    preferred_ = pike_.per_unit() < re2_.per_unit() ? Engine::kPike : Engine::kRe2;
  // Blocks grow while the choice stands: the clock of processor time is slow to read.
  block_size_ = preferred_ == before ? std::min(2 * block_size_, kMaxBlockUnits) : kBlockUnits;
  poll_for(spent);
}

const PikeProgram* Searcher::reversed_pike() {
  if (!reversed_tried_) {
    reversed_tried_ = true;
    if (pattern_.syntax_)
      own_reversed_ = PikeProgram::compile_reversed(*pattern_.syntax_);
  }
  return own_reversed_ ? &*own_reversed_ : nullptr;
}

bool Searcher::pike_search(std::string_view name) {
  return pike_reversed_ ? reversed_pike()->search(name) : pike().search(name);
}

// The Pike VM from both ends of the name in turn, each with four times the steps of its last
// turn, until one finishes or `max_steps` are spent; the direction that finished is kept for
// the names to come. At most a few times the steps of the better direction.
std::optional<bool> Searcher::pike_race(std::string_view name, std::uint64_t max_steps) {
  const PikeProgram* reversed = reversed_pike();
  std::uint64_t spent = 0;
  for (std::uint64_t budget = kFirstRaceSteps;; budget *= 4) {
    for (const bool from_end : {false, true}) {
      if (from_end && !reversed)
        continue;
      const std::uint64_t steps = std::min(budget, max_steps - spent);
      std::size_t reached = 0;
      const auto found = (from_end ? *reversed : pike()).search_within(name, steps, reached);
      if (found) {
        pike_reversed_ = from_end;
        return found;
      }
      spent += steps;
      if (spent >= max_steps)
        return std::nullopt;
    }
  }
}

// One name on `engine`, timed on its own.
bool Searcher::run(Engine engine, std::string_view name) {
  if (engine == Engine::kRe2)
    return re2_bounded(name);
  const auto start = Clock::now();
  const bool found = static_cast<double>(name.size()) > kFirstStart
                         ? *pike_race(name, std::numeric_limits<std::uint64_t>::max())
                         : pike_search(name);
  const double spent = elapsed_ns(start, Clock::now());
  pike_.add(spent, static_cast<double>(name.size()) + kCallUnits);
  if (re2_.known())
    preferred_ = pike_.per_unit() < re2_.per_unit() ? Engine::kPike : Engine::kRe2;
  poll_for(spent);
  return found;
}

// RE2 on ever longer starts of the name (ends, for a pattern that RE2 searches from the end of
// the text), each four times the last, while the last one's time says that the next ends within
// kMaxRe2Ns; the Pike VM for the name once it does not. A part that took too long is searched
// once more first: the automaton builds its states the first time and keeps them. A match within
// a part is a match of the name, as RE2 judges the assertions at the edges of a part by the bytes
// around it.
bool Searcher::re2_bounded(std::string_view name) {
  // A long name before the Pike VM has been timed: the Pike VM first, for a bounded number of
  // steps. Where RE2's automaton needs a new state for every byte (a long run inside a large
  // count), it finishes long before RE2 would; where it has many threads, it gives up early.
  if (!pike_.known() && static_cast<double>(name.size()) > kFirstStart) {
    const auto start = Clock::now();
    const auto found = pike_race(name, kFirstPikeSteps);
    const double spent = elapsed_ns(start, Clock::now());
    // Unfinished, the name says little of the Pike VM's speed but that it is slow here.
    pike_.add(spent, (found ? static_cast<double>(name.size()) : 0) + kCallUnits);
    poll_for(spent);
    if (found)
      return *found;
  }
  double length = kFirstStart;
  if (re2_.known()) {
    length = kMaxRe2Ns / std::max(re2_.per_unit(), 1e-3) - kCallUnits;
    if (length < kFirstStart)
      return run(Engine::kPike, name);
  }
  const double size = static_cast<double>(name.size());
  const bool from_end = pattern_.re2_from_end_;
  bool again = false;
  for (;;) {
    std::size_t begin = 0, end = name.size();
    if (length < size) {
      std::size_t cut = from_end ? name.size() - static_cast<std::size_t>(length)
                                 : static_cast<std::size_t>(length);
      while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;  // a whole number of characters
      (from_end ? begin : end) = cut;
    }
    const auto start = Clock::now();
    const bool found = pattern_.re2_search(name, begin, end);
    const double spent = elapsed_ns(start, Clock::now());
    const double searched = static_cast<double>(end - begin);
    re2_.add(spent, searched + kCallUnits);
    if (pike_.known())
      preferred_ = pike_.per_unit() < re2_.per_unit() ? Engine::kPike : Engine::kRe2;
    poll_for(spent);
    if (found || end - begin == name.size())
      return found;
    const double next = std::min(size, 4 * searched);
    if (spent * (next + kCallUnits) / (searched + kCallUnits) > kMaxRe2Ns) {
      if (again || spent > kMaxRe2Ns)  // a second look that may take as long again: no
        return run(Engine::kPike, name);
      again = true;
      continue;
    }
    again = false;
    length = next;
  }
}

}  // namespace torvex::algorithms::regex
