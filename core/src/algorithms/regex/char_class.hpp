// Sets of Unicode scalar values as sorted, disjoint, non-adjacent ranges, and the named classes
// of the dialect resolved into them.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "algorithms/regex/unicode_tables.hpp"

namespace torvex::algorithms::regex {

inline constexpr char32_t kMaxScalar = 0x10FFFF;

class CharClass {
 public:
  CharClass() = default;
  static CharClass of(char32_t c) { return range(c, c); }
  static CharClass range(char32_t first, char32_t last);
  static CharClass from(std::span<const CodeRange> ranges);
  // Any ranges, in any order, overlapping or not.
  static CharClass from_unsorted(std::vector<CodeRange> ranges);

  const std::vector<CodeRange>& ranges() const { return ranges_; }
  bool is_empty() const { return ranges_.empty(); }
  bool contains(char32_t c) const;
  // The single scalar value in the class, if it has exactly one.
  std::optional<char32_t> single() const;
  bool is_ascii() const { return ranges_.empty() || ranges_.back().last < 0x80; }

  void add(char32_t first, char32_t last);  // keeps the invariant
  void unite(const CharClass& other);
  void intersect(const CharClass& other);
  void subtract(const CharClass& other);
  void symmetric_difference(const CharClass& other);
  // Complement within the scalar values (surrogates stay out).
  void negate();
  // Adds every simple case variant (Unicode orbits, or ASCII letters only).
  void fold_case(bool unicode);

 private:
  void canonicalize();
  std::vector<CodeRange> ranges_;
};

// What a \p{..} lookup can fail with.
enum class PropertyError { kNoSuchProperty, kNoSuchValue };

// Resolves \p{query} (query is "name", "name=value", "name:value"; no negation) by the
// dialect's loose matching. On failure returns the error and leaves `out` untouched.
std::optional<PropertyError> unicode_property(std::string_view query, CharClass& out);
// \pX for a one-letter name.
std::optional<PropertyError> unicode_property_letter(char32_t letter, CharClass& out);

enum class PerlClass { kDigit, kSpace, kWord };
CharClass perl_class(PerlClass which, bool unicode);
// [[:name:]]; nullopt for an unknown name.
std::optional<CharClass> ascii_class(std::string_view name);

// \w of the mode, used by the word-boundary assertions.
bool is_word_char(char32_t c, bool unicode);

}  // namespace torvex::algorithms::regex
