#include "algorithms/regex/pike_vm.hpp"

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

#include "interrupt.hpp"

namespace torvex::algorithms::regex {
namespace {

constexpr std::uint64_t kInstCost = 24;   // estimated bytes per instruction
constexpr std::uint64_t kRangeCost = 40;  // and per further range of each copy of a class

// Stands for a byte that starts no valid UTF-8 sequence: no class contains it.
constexpr char32_t kInvalidByte = 0x110000;

// Decodes the character at text[i] and advances i past it; a malformed sequence reads as one
// kInvalidByte (names from a file need not be valid UTF-8).
char32_t next_char(std::string_view text, std::size_t& i) {
  const auto b = static_cast<unsigned char>(text[i]);
  if (b < 0x80)
    return ++i, b;
  const int len = (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + len > text.size())
    return ++i, kInvalidByte;
  char32_t c = b & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    const auto cont = static_cast<unsigned char>(text[i + k]);
    if ((cont & 0xC0) != 0x80)
      return ++i, kInvalidByte;
    c = (c << 6) | (cont & 0x3F);
  }
  i += len;
  return c;
}

// `text` with its characters in the opposite order, each malformed byte as 0xFF (no class
// contains it either, and it joins no neighbour into a character).
void reverse_characters(std::string_view text, std::string& out) {
  out.resize(text.size());
  std::size_t end = text.size();
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t from = i;
    if (next_char(text, i) == kInvalidByte) {
      out[--end] = static_cast<char>(0xFF);
      continue;
    }
    end -= i - from;
    std::copy(text.begin() + static_cast<std::ptrdiff_t>(from),
              text.begin() + static_cast<std::ptrdiff_t>(i),
              out.begin() + static_cast<std::ptrdiff_t>(end));
  }
}

Look mirrored(Look look) {
  switch (look) {
    case Look::kStartText:
      return Look::kEndText;
    case Look::kEndText:
      return Look::kStartText;
    case Look::kStartLine:
      return Look::kEndLine;
    case Look::kEndLine:
      return Look::kStartLine;
    case Look::kWordStart:
      return Look::kWordEnd;
    case Look::kWordEnd:
      return Look::kWordStart;
    case Look::kWordStartHalf:
      return Look::kWordEndHalf;
    case Look::kWordEndHalf:
      return Look::kWordStartHalf;
    default:
      return look;  // the word boundaries are their own mirror images
  }
}

// Mirrors `node` in place: concatenations in the opposite order, assertions mirrored; false for
// the CRLF line assertions.
bool mirror(Node& node) {
  if (node.kind == Node::Kind::kLook) {
    if (node.look == Look::kStartLineCrlf || node.look == Look::kEndLineCrlf)
      return false;
    node.look = mirrored(node.look);
  }
  if (node.kind == Node::Kind::kConcat)
    std::reverse(node.children.begin(), node.children.end());
  return std::all_of(node.children.begin(), node.children.end(), mirror);
}

// No character on that side (the edge of the text).
constexpr char32_t kNone = 0xFFFFFFFF;

bool look_holds(Look look, bool unicode, char32_t before, char32_t after) {
  auto word = [unicode](char32_t c) { return c != kNone && is_word_char(c, unicode); };
  switch (look) {
    case Look::kStartText:
      return before == kNone;
    case Look::kEndText:
      return after == kNone;
    case Look::kStartLine:
      return before == kNone || before == '\n';
    case Look::kEndLine:
      return after == kNone || after == '\n';
    case Look::kStartLineCrlf:
      return before == kNone || before == '\n' || (before == '\r' && after != '\n');
    case Look::kEndLineCrlf:
      return after == kNone || after == '\r' || (after == '\n' && before != '\r');
    case Look::kWordBoundary:
      return word(before) != word(after);
    case Look::kNotWordBoundary:
      return word(before) == word(after);
    case Look::kWordStart:
      return !word(before) && word(after);
    case Look::kWordEnd:
      return word(before) && !word(after);
    case Look::kWordStartHalf:
      return !word(before);
    case Look::kWordEndHalf:
      return !word(after);
  }
  return false;
}

// A set of program counters with O(1) insert, membership and clear.
class SparseSet {
 public:
  void reset(std::size_t capacity) {
    if (dense_.size() < capacity) {
      dense_.resize(capacity);
      sparse_.resize(capacity);
    }
    size_ = 0;
  }
  bool insert(std::uint32_t v) {
    if (contains(v))
      return false;
    sparse_[v] = size_;
    dense_[size_++] = v;
    return true;
  }
  bool contains(std::uint32_t v) const { return sparse_[v] < size_ && dense_[sparse_[v]] == v; }
  void clear() { size_ = 0; }
  std::uint32_t size() const { return size_; }
  std::uint32_t operator[](std::uint32_t i) const { return dense_[i]; }
  void swap(SparseSet& other) noexcept {
    dense_.swap(other.dense_);
    sparse_.swap(other.sparse_);
    std::swap(size_, other.size_);
  }

 private:
  std::vector<std::uint32_t> dense_, sparse_;
  std::uint32_t size_ = 0;
};

// The estimated size in bytes of the program for `node`, saturating past the limit; computed
// before emitting anything, so that no repetition is expanded only to be refused.
std::uint64_t estimate(const Node& node, const std::vector<CharClass>& classes) {
  switch (node.kind) {
    case Node::Kind::kEmpty:
      return 0;
    case Node::Kind::kClass:
      return kInstCost +
             kRangeCost * (std::max<std::size_t>(classes[node.class_index].ranges().size(), 1) - 1);
    case Node::Kind::kLook:
      return kInstCost;
    case Node::Kind::kConcat:
    case Node::Kind::kAlternate: {  // an alternation adds a split and a jump per branch
      const std::uint64_t per_child = node.kind == Node::Kind::kAlternate ? 2 * kInstCost : 0;
      std::uint64_t total = 0;
      for (const Node& child : node.children) {
        total = std::min(total + estimate(child, classes) + per_child, kSizeLimit + 1);
      }
      return total;
    }
    case Node::Kind::kRepeat: {  // each optional copy adds a split
      const std::uint64_t body = estimate(node.children[0], classes);
      const std::uint64_t copies =
          node.max == kUnbounded ? std::max<std::uint64_t>(node.min, 1) : node.max;
      const std::uint64_t per_copy =
          body + (copies > node.min || node.max == kUnbounded ? kInstCost : 0);
      if (copies == 0)
        return 0;
      return per_copy > (kSizeLimit + 1) / copies ? kSizeLimit + 1 : per_copy * copies;
    }
  }
  return 0;
}

// The thread lists of a search, kept per thread so that each name does not allocate anew.
struct Scratch {
  SparseSet current, next;
  std::vector<std::uint32_t> stack;
  std::string reversed;  // the text of a reversed program
};

}  // namespace

class PikeProgram::Builder {
 public:
  explicit Builder(PikeProgram& out) : out_(out) {}

  bool emit(const Node& node) {
    switch (node.kind) {
      case Node::Kind::kEmpty:
        return true;
      case Node::Kind::kClass:
        return push({Op::kClass, Look::kStartText, false, node.class_index, 0});
      case Node::Kind::kLook:
        return push({Op::kLook, node.look, node.unicode, 0, 0});
      case Node::Kind::kConcat:
        for (const Node& child : node.children) {
          if (!emit(child))
            return false;
        }
        return true;
      case Node::Kind::kAlternate:
        return emit_alternation(node);
      case Node::Kind::kRepeat:
        return emit_repeat(node);
    }
    return false;
  }

  bool push(Inst inst) {
    cost_ += kInstCost;
    if (cost_ > kSizeLimit)
      return false;
    out_.program_.push_back(inst);
    return true;
  }
  std::uint32_t here() const { return static_cast<std::uint32_t>(out_.program_.size()); }

 private:
  bool emit_alternation(const Node& node) {
    std::vector<std::uint32_t> jumps;
    for (std::size_t k = 0; k < node.children.size(); ++k) {
      const bool last = k + 1 == node.children.size();
      const std::uint32_t split = here();
      if (!last && !push({Op::kSplit, Look::kStartText, false, split + 1, 0}))
        return false;
      if (!emit(node.children[k]))
        return false;
      if (!last) {
        jumps.push_back(here());
        if (!push({Op::kJump, Look::kStartText, false, 0, 0}))
          return false;
        out_.program_[split].arg2 = here();
      }
    }
    for (const std::uint32_t j : jumps)
      out_.program_[j].arg = here();
    return true;
  }

  bool emit_repeat(const Node& node) {
    const Node& body = node.children[0];
    for (std::uint64_t k = 0; k < node.min; ++k) {
      if (node.max == kUnbounded && k + 1 == node.min) {  // the last required copy loops
        const std::uint32_t loop = here();
        if (!emit(body))
          return false;
        return push({Op::kSplit, Look::kStartText, false, loop, here() + 1});
      }
      if (!emit(body))
        return false;
    }
    if (node.max == kUnbounded) {  // min == 0
      const std::uint32_t split = here();
      if (!push({Op::kSplit, Look::kStartText, false, split + 1, 0}))
        return false;
      if (!emit(body))
        return false;
      if (!push({Op::kJump, Look::kStartText, false, split, 0}))
        return false;
      out_.program_[split].arg2 = here();
      return true;
    }
    std::vector<std::uint32_t> splits;
    for (std::uint64_t k = node.min; k < node.max; ++k) {
      splits.push_back(here());
      if (!push({Op::kSplit, Look::kStartText, false, here() + 1, 0}))
        return false;
      if (!emit(body))
        return false;
    }
    for (const std::uint32_t s : splits)
      out_.program_[s].arg2 = here();
    return true;
  }

  PikeProgram& out_;
  std::uint64_t cost_ = 0;
};

bool PikeProgram::within_size_limit(const Syntax& syntax) {
  return estimate(syntax.root, syntax.classes) <= kSizeLimit;
}

std::optional<PikeProgram> PikeProgram::compile(const Syntax& syntax) {
  if (!within_size_limit(syntax))
    return std::nullopt;
  PikeProgram out;
  out.classes_ = syntax.classes;
  Builder builder(out);
  if (!builder.emit(syntax.root))
    return std::nullopt;
  if (!builder.push({Op::kMatch, Look::kStartText, false, 0, 0}))
    return std::nullopt;
  out.anchored_start_ = always_anchored(syntax.root, false);
  return out;
}

std::optional<PikeProgram> PikeProgram::compile_reversed(const Syntax& syntax) {
  if (!within_size_limit(syntax))
    return std::nullopt;
  Syntax copy = syntax;
  if (!mirror(copy.root))
    return std::nullopt;
  auto out = compile(copy);
  if (out)
    out->reversed_ = true;
  return out;
}

bool PikeProgram::search(std::string_view text) const {
  std::size_t reached = 0;
  return *search_within(text, std::numeric_limits<std::uint64_t>::max(), reached);
}

std::optional<bool> PikeProgram::search_within(std::string_view text, std::uint64_t max_steps,
                                               std::size_t& reached) const {
  thread_local Scratch scratch;
  if (reversed_) {
    reverse_characters(text, scratch.reversed);
    text = scratch.reversed;
  }
  SparseSet& current = scratch.current;
  SparseSet& next = scratch.next;
  std::vector<std::uint32_t>& stack = scratch.stack;
  current.reset(program_.size());
  next.reset(program_.size());
  stack.clear();
  char32_t before = kNone;

  // Follows jumps, splits and assertions from pc at the boundary (before, after) into `set`;
  // true once a match is reached.
  auto add = [&](SparseSet& set, std::uint32_t pc, char32_t after) {
    stack.push_back(pc);
    while (!stack.empty()) {
      const std::uint32_t at = stack.back();
      stack.pop_back();
      if (!set.insert(at))
        continue;
      const Inst& inst = program_[at];
      switch (inst.op) {
        case Op::kJump:
          stack.push_back(inst.arg);
          break;
        case Op::kSplit:
          stack.push_back(inst.arg2);
          stack.push_back(inst.arg);
          break;
        case Op::kLook:
          if (look_holds(inst.look, inst.unicode, before, after))
            stack.push_back(at + 1);
          break;
        case Op::kMatch:
          stack.clear();
          return true;
        case Op::kClass:
          break;
      }
    }
    return false;
  };

  std::size_t i = 0;
  for (;;) {
    std::size_t after_end = i;
    const char32_t after = i < text.size() ? next_char(text, after_end) : kNone;
    if ((i == 0 || !anchored_start_) && add(current, 0, after))
      return true;
    if (current.size() == 0 && (anchored_start_ || after == kNone))
      return false;
    if (after == kNone)
      return false;
    // Step every thread over the character; the survivors' closures see the next boundary.
    const char32_t following = after_end < text.size() ? [&] {
      std::size_t j = after_end;
      return next_char(text, j);
    }() : kNone;
    const std::uint64_t steps = 1 + current.size();
    interrupt::poll(steps);  // a long name can take long on its own
    if (steps > max_steps) {
      reached = i;
      return std::nullopt;
    }
    max_steps -= steps;
    next.clear();
    before = after;
    for (std::uint32_t k = 0; k < current.size(); ++k) {
      const Inst& inst = program_[current[k]];
      if (inst.op == Op::kClass && classes_[inst.arg].contains(after)) {
        if (add(next, current[k] + 1, following))
          return true;
      }
    }
    current.swap(next);
    i = after_end;
  }
}

}  // namespace torvex::algorithms::regex
