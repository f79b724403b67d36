// The size limit, counted the way the dialect's own engine counts it: the bytes of the
// intermediate states of two Thompson automata, a forward one with capture states and a
// reverse one without, each against the same limit. Each state takes 32 bytes, a union 4 more
// per alternative and a sparse state 8 more per byte range. Counting the same states makes us
// refuse what that engine refuses and accept what it accepts, so the limit also bounds the
// work of compiling and matching what is accepted.
#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "algorithms/regex/syntax.hpp"
#include "interrupt.hpp"
#include "utf8.hpp"

namespace torvex::algorithms::regex {
namespace {

constexpr std::uint64_t kState = 32, kAlternative = 4, kRange = 8;
constexpr std::uint64_t kLimit = 10u << 20;
constexpr std::uint64_t kOver = kLimit + 1;  // saturates every sum and product
// The most UTF-8 sequences a range of characters splits into: at the ends of the four encoded
// lengths and of the surrogates, and two per continuation byte within a length.
constexpr std::uint64_t kMaxSequences = 24;

std::uint64_t add(std::uint64_t a, std::uint64_t b) {
  return std::min(a + b, kOver);
}
std::uint64_t times(std::uint64_t count, std::uint64_t each) {
  return each != 0 && count > kOver / each ? kOver : std::min(count * each, kOver);
}

struct ByteRange {
  std::uint8_t first, last;
  auto operator<=>(const ByteRange&) const = default;
};
using Sequence = std::vector<ByteRange>;

// Splits [first, last] into sequences of byte ranges whose products are exactly the UTF-8
// encodings of the range, in ascending order: the automaton's unit of a class.
template <typename Visit>
void utf8_sequences(char32_t first, char32_t last, Visit&& visit) {
  std::vector<std::pair<char32_t, char32_t>> stack{{first, last}};
  while (!stack.empty()) {
    auto [s, e] = stack.back();
    stack.pop_back();
    for (;;) {
      interrupt::poll();
      if (s < 0xE000 && e > 0xD7FF) {
        if (e >= 0xE000)
          stack.push_back({0xE000, e});
        e = 0xD7FF;
        if (s > e)
          break;
        continue;
      }
      bool split = false;
      for (const char32_t max : {0x7Fu, 0x7FFu, 0xFFFFu}) {
        if (s <= max && max < e) {
          stack.push_back({max + 1, e});
          e = max;
          split = true;
          break;
        }
      }
      if (split)
        continue;
      if (e < 0x80) {  // one byte range
        visit(Sequence{{static_cast<std::uint8_t>(s), static_cast<std::uint8_t>(e)}});
        break;
      }
      for (int i = 1; i < 4 && !split; ++i) {
        const char32_t max = (char32_t{1} << (6 * i)) - 1;
        if ((s & ~max) != (e & ~max)) {
          if ((s & max) != 0) {
            stack.push_back({(s | max) + 1, e});
            e = s | max;
            split = true;
          } else if ((e & max) != max) {
            stack.push_back({e & ~max, e});
            e = (e & ~max) - 1;
            split = true;
          }
        }
      }
      if (split)
        continue;
      std::uint8_t a[4], b[4];
      const std::size_t n = encode_utf8(s, a);
      encode_utf8(e, b);
      Sequence seq(n);
      for (std::size_t k = 0; k < n; ++k)
        seq[k] = {a[k], b[k]};
      visit(seq);
      break;
    }
  }
}

// A class of the forward automaton: a minimal automaton of its sorted UTF-8 sequences built
// incrementally (equal states shared), one sparse state each, plus the common end.
std::uint64_t forward_class_size(const CharClass& cls) {
  struct Node {
    std::vector<std::pair<ByteRange, std::uint32_t>> trans;
    std::optional<ByteRange> last;
  };
  std::map<std::vector<std::pair<ByteRange, std::uint32_t>>, std::uint32_t> compiled;
  std::uint64_t size = kState;  // the end
  std::uint32_t next_id = 1;
  constexpr std::uint32_t kTarget = 0;
  std::vector<Node> uncompiled(1);
  auto compile = [&](std::vector<std::pair<ByteRange, std::uint32_t>> trans) {
    const auto [it, inserted] = compiled.try_emplace(std::move(trans), next_id);
    if (inserted) {
      ++next_id;
      size = add(size, kState + kRange * it->first.size());
    }
    return it->second;
  };
  auto compile_from = [&](std::size_t from) {
    std::uint32_t next = kTarget;
    while (from + 1 < uncompiled.size()) {
      Node node = std::move(uncompiled.back());
      uncompiled.pop_back();
      if (node.last)
        node.trans.push_back({*node.last, next});
      next = compile(std::move(node.trans));
      Node& top = uncompiled.back();
      if (top.last) {
        top.trans.push_back({*top.last, next});
        top.last.reset();
      }
    }
  };
  for (const CodeRange& r : cls.ranges()) {
    utf8_sequences(r.first, r.last, [&](const Sequence& seq) {
      std::size_t prefix = 0;
      while (prefix < seq.size() && prefix < uncompiled.size() &&
             uncompiled[prefix].last == seq[prefix]) {
        ++prefix;
      }
      compile_from(prefix);
      uncompiled.back().last = seq[prefix];
      for (std::size_t k = prefix + 1; k < seq.size(); ++k)
        uncompiled.push_back(Node{{}, seq[k]});
    });
  }
  compile_from(0);
  Node root = std::move(uncompiled.back());
  if (root.last)
    root.trans.push_back({*root.last, kTarget});
  compile(std::move(root.trans));
  return size;
}

// A class of the reverse automaton: a union of the sequences' chains of single-range states,
// shared where sequences begin alike, and an end.
std::uint64_t reverse_class_size(const CharClass& cls) {
  std::map<std::tuple<std::uint32_t, ByteRange>, std::uint32_t> shared;
  std::uint64_t size = 2 * kState;
  std::uint32_t next_id = 1;
  for (const CodeRange& r : cls.ranges()) {
    utf8_sequences(r.first, r.last, [&](const Sequence& seq) {
      std::uint32_t end = 0;
      for (const ByteRange& range : seq) {
        const auto [it, inserted] = shared.try_emplace({end, range}, next_id);
        if (inserted) {
          ++next_id;
          size = add(size, kState);
        }
        end = it->second;
      }
      size = add(size, kAlternative);
    });
  }
  return size;
}

// An alternation of literals: a trie of their bytes (reversed for the reverse automaton). A
// literal that ends where a longer one goes on freezes that state's transitions so far into a
// chunk, which keeps the branches' order; later transitions go into a new chunk. Each state
// with transitions becomes a union of its chunks (one range or sparse state each) and, after
// every frozen chunk, a way to the common end.
std::uint64_t literal_trie_size(const std::vector<std::string>& literals, bool reverse) {
  struct TrieState {
    std::vector<std::pair<std::uint8_t, std::uint32_t>> trans;
    std::vector<std::size_t> chunk_ends;
    std::size_t active() const { return chunk_ends.empty() ? 0 : chunk_ends.back(); }
  };
  std::vector<TrieState> states(1);
  for (const std::string& literal : literals) {
    interrupt::poll(1 + literal.size());
    std::uint32_t at = 0;
    for (std::size_t k = 0; k < literal.size(); ++k) {
      const auto byte =
          static_cast<std::uint8_t>(reverse ? literal[literal.size() - 1 - k] : literal[k]);
      auto& trans = states[at].trans;
      const auto first = trans.begin() + static_cast<std::ptrdiff_t>(states[at].active());
      const auto it = std::lower_bound(first, trans.end(), byte,
                                       [](const auto& t, std::uint8_t b) { return t.first < b; });
      if (it != trans.end() && it->first == byte) {
        at = it->second;
        continue;
      }
      const auto next = static_cast<std::uint32_t>(states.size());
      trans.insert(it, {byte, next});
      states.emplace_back();
      at = next;
    }
    TrieState& end = states[at];
    if (!(end.trans.empty() && !end.chunk_ends.empty()))
      end.chunk_ends.push_back(end.trans.size());
  }
  std::uint64_t total = kState;  // the common end
  for (const TrieState& state : states) {
    if (state.trans.empty())
      continue;  // a leaf: its parents go straight to the end
    std::uint64_t alternatives =
        state.chunk_ends.size();  // a way to the end after each frozen chunk
    std::size_t begin = 0;
    for (std::size_t c = 0; c <= state.chunk_ends.size(); ++c) {
      const std::size_t end =
          c < state.chunk_ends.size() ? state.chunk_ends[c] : state.trans.size();
      const std::size_t n = end - begin;
      if (n > 0) {
        total = add(total, n == 1 ? kState : kState + kRange * n);
        ++alternatives;
      }
      begin = end;
    }
    total = add(total, kState + kAlternative * alternatives);
  }
  return total;
}

class Sizer {
 public:
  // bound: a quick count that is never below the exact one, for classes of many characters.
  Sizer(const Syntax& syntax, bool reverse, bool bound)
      : syntax_(syntax), reverse_(reverse), bound_(bound) {
    class_sizes_.resize(syntax.classes.size());
  }

  std::uint64_t size(const Node& node) {
    std::uint64_t own = 0;
    switch (node.kind) {
      case Node::Kind::kEmpty:
        own = kState;
        break;
      case Node::Kind::kLook:
        own = kState;
        break;
      case Node::Kind::kClass:
        own = class_size(node.class_index);
        break;
      case Node::Kind::kConcat:
        for (const Node& child : node.children) {
          // Flag groups and `(?:)` between other items leave no state.
          if (child.kind != Node::Kind::kEmpty || child.captures > 0)
            own = add(own, size(child));
        }
        break;
      case Node::Kind::kAlternate:
        own = alternation_size(node);
        break;
      case Node::Kind::kRepeat:
        own = repeat_size(node);
        break;
    }
    if (!reverse_)  // a capture start and end state per group
      own = add(own, times(node.captures, 2 * kState));
    return own;
  }

 private:
  std::uint64_t class_size(std::uint32_t index) {
    std::uint64_t& cached = class_sizes_[index];
    if (cached != 0)
      return cached;
    const CharClass& cls = syntax_.classes[index];
    if (const auto c = cls.single()) {  // a literal: a state per byte
      std::uint8_t bytes[4];
      cached = kState * encode_utf8(*c, bytes);
    } else if (cls.is_ascii()) {  // one sparse state and an end
      cached = 2 * kState + kRange * cls.ranges().size();
    } else {
      cached = unicode_class_size(cls);
    }
    return cached;
  }

  // A branch of an alternation as the engine sees it: a node, or a class that a nested
  // alternation of classes became.
  struct Branch {
    const Node* node = nullptr;
    std::optional<CharClass> merged;
  };

  std::uint64_t alternation_size(const Node& node) {
    std::vector<Branch> branches;
    std::optional<CharClass> merged;
    simplify_alternation(node, branches, merged);
    if (merged)
      return merged_class_size(*merged);
    // Branches that are all literals become a trie.
    std::vector<std::string> literals(branches.size());
    bool all_literals = true;
    for (std::size_t k = 0; k < branches.size() && all_literals; ++k) {
      all_literals = branches[k].merged ? branches[k].merged->single().has_value()
                                        : literal_bytes(*branches[k].node, literals[k]);
      if (all_literals && branches[k].merged)
        append_utf8(literals[k], *branches[k].merged->single());
      all_literals = all_literals && !literals[k].empty();
    }
    if (all_literals)
      return literal_trie_size(literals, reverse_);
    std::uint64_t total = 2 * kState;  // the union and the end
    for (const Branch& b : branches) {
      const std::uint64_t each = b.merged ? merged_class_size(*b.merged) : size(*b.node);
      total = add(total, add(each, kAlternative));
    }
    return total;
  }

  // The branches of `node` with nested alternations flattened into it (those without captures
  // that stay alternations) or merged into classes; `merged` is set when the whole alternation
  // becomes one class: when its branches are all single characters, or all classes of several
  // (a mix of the two stays an alternation).
  void simplify_alternation(const Node& node, std::vector<Branch>& branches,
                            std::optional<CharClass>& merged) const {
    for (const Node& child : node.children) {
      const Node& item = unwrap(child);
      if (item.kind == Node::Kind::kAlternate && item.captures == 0) {
        std::vector<Branch> inner;
        std::optional<CharClass> inner_class;
        simplify_alternation(item, inner, inner_class);
        if (inner_class)
          branches.push_back({nullptr, std::move(inner_class)});
        for (Branch& b : inner)  // flattened when not merged
          branches.push_back(std::move(b));
      } else {
        branches.push_back({&item, std::nullopt});
      }
    }
    auto as_class = [&](const Branch& b) -> const CharClass* {
      if (b.merged)
        return &*b.merged;
      if (b.node->kind == Node::Kind::kClass && b.node->captures == 0)
        return &syntax_.classes[b.node->class_index];
      return nullptr;
    };
    bool all_single = true, all_several = true;
    for (const Branch& b : branches) {
      const CharClass* cls = as_class(b);
      const bool single = cls && cls->single();
      all_single = all_single && single;
      all_several = all_several && cls && !single;
    }
    if (all_single || all_several) {
      merged.emplace();
      for (const Branch& b : branches)
        merged->unite(*as_class(b));
      branches.clear();
    }
  }

  // A concatenation of one item and flag groups is that item.
  static const Node& unwrap(const Node& node) {
    if (node.kind != Node::Kind::kConcat || node.captures > 0)
      return node;
    const Node* only = nullptr;
    for (const Node& child : node.children) {
      if (child.kind == Node::Kind::kEmpty && child.captures == 0)
        continue;
      if (only)
        return node;
      only = &child;
    }
    return only ? unwrap(*only) : node;
  }

  std::uint64_t merged_class_size(const CharClass& merged) const {
    if (const auto c = merged.single()) {
      std::uint8_t bytes[4];
      return kState * encode_utf8(*c, bytes);
    }
    if (merged.is_ascii())
      return 2 * kState + kRange * merged.ranges().size();
    return unicode_class_size(merged);
  }

  std::uint64_t unicode_class_size(const CharClass& cls) const {
    if (bound_)  // at most kMaxSequences sequences of four byte ranges per range of characters
      return add(times(cls.ranges().size(), kMaxSequences * 4 * (kState + kRange)), 2 * kState);
    return reverse_ ? reverse_class_size(cls) : forward_class_size(cls);
  }

  // Whether `node` is a run of single characters without captures; appends its UTF-8.
  bool literal_bytes(const Node& node, std::string& out) const {
    if (node.captures > 0)
      return false;
    switch (node.kind) {
      case Node::Kind::kEmpty:
        return true;
      case Node::Kind::kClass: {
        const auto c = syntax_.classes[node.class_index].single();
        if (c)
          append_utf8(out, *c);
        return c.has_value();
      }
      case Node::Kind::kConcat:
        return std::all_of(node.children.begin(), node.children.end(),
                           [&](const Node& child) { return literal_bytes(child, out); });
      default:
        return false;
    }
  }

  std::uint64_t repeat_size(const Node& node) {
    const Node& body = node.children[0];
    if (node.max == 0)
      return kState;
    const std::uint64_t each = size(body);
    const bool can_be_empty = min_match_bytes(body, syntax_.classes) == 0;
    if (node.max == kUnbounded) {
      if (node.min == 0) {
        return can_be_empty ? add(each, 3 * kState + 4 * kAlternative)
                            : add(each, kState + 2 * kAlternative);
      }
      return add(times(node.min, each), kState + 2 * kAlternative);
    }
    if (node.min == 0 && node.max == 1)
      return add(each, 2 * kState + 2 * kAlternative);
    const std::uint64_t required = node.min == 0 ? kState : times(node.min, each);
    if (node.min == node.max)
      return required;
    const std::uint64_t optional = add(each, kState + 2 * kAlternative);
    return add(add(required, kState), times(node.max - node.min, optional));
  }

  const Syntax& syntax_;
  bool reverse_;
  bool bound_;
  std::vector<std::uint64_t> class_sizes_;
};

}  // namespace

namespace {

bool within_limit(const Syntax& syntax, bool bound) {
  // The unanchored prefix: a lazy loop over any byte (a union, a one-range sparse state and
  // its end), or one empty state when every match is anchored.
  constexpr std::uint64_t kUnanchoredPrefix = 3 * kState + 2 * kAlternative + kRange;
  for (const bool reverse : {false, true}) {
    Sizer sizer(syntax, reverse, bound);
    std::uint64_t total = always_anchored(syntax.root, reverse) ? kState : kUnanchoredPrefix;
    if (!reverse)
      total += 2 * kState;  // the whole match's capture
    total = add(total, sizer.size(syntax.root));
    total = add(total, kState);  // the match state
    if (total > kLimit)
      return false;
  }
  return true;
}

}  // namespace

bool fits_size_limit(const Syntax& syntax) {
  // The exact automata of large classes take a while to count: most patterns fit even by the
  // quick bound.
  return within_limit(syntax, true) || within_limit(syntax, false);
}

}  // namespace torvex::algorithms::regex
