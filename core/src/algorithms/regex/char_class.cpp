#include "algorithms/regex/char_class.hpp"

#include <algorithm>
#include <array>
#include <string>

namespace torvex::algorithms::regex {
namespace {

constexpr char32_t kSurrogateFirst = 0xD800;
constexpr char32_t kSurrogateLast = 0xDFFF;

// --- tables by name ------------------------------------------------------------------------

std::span<const CodeRange> ranges_of(const NamedRanges& entry) {
  return kClassRanges.subspan(entry.offset, entry.count);
}

const NamedRanges* find_named(std::span<const NamedRanges> table, std::string_view name) {
  const auto it =
      std::lower_bound(table.begin(), table.end(), name,
                       [](const NamedRanges& e, std::string_view n) { return e.name < n; });
  return it != table.end() && it->name == name ? &*it : nullptr;
}

std::optional<std::string_view> find_alias(std::span<const Alias> table, std::string_view alias) {
  const auto it = std::lower_bound(table.begin(), table.end(), alias,
                                   [](const Alias& e, std::string_view a) { return e.alias < a; });
  if (it == table.end() || it->alias != alias)
    return std::nullopt;
  return it->canonical;
}

CharClass named_class(std::span<const NamedRanges> table, std::string_view name) {
  const NamedRanges* entry = find_named(table, name);
  return entry ? CharClass::from(ranges_of(*entry)) : CharClass();
}

// Loose matching of names: ASCII only, no case, no " ", "_" or "-", and no leading "is"
// ("isc" stays, being an alias of its own).
std::string normalize(std::string_view name) {
  const bool is_prefixed =
      name.size() >= 2 && (name[0] == 'i' || name[0] == 'I') && (name[1] == 's' || name[1] == 'S');
  if (is_prefixed)
    name.remove_prefix(2);
  std::string out;
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == ' ' || c == '_' || c == '-' || c >= 0x80)
      continue;
    out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  }
  if (is_prefixed && out == "c")
    out = "isc";
  return out;
}

// --- the three kinds of lone names ---------------------------------------------------------

std::optional<std::string_view> canonical_gencat(const std::string& norm) {
  if (norm == "any")
    return "Any";
  if (norm == "assigned")
    return "Assigned";
  if (norm == "ascii")
    return "ASCII";
  return find_alias(kGeneralCategoryValueNames, norm);
}

std::optional<PropertyError> general_category(std::string_view canonical, CharClass& out) {
  if (canonical == "Any") {
    out = CharClass::range(0, kMaxScalar);
  } else if (canonical == "Assigned") {
    out = named_class(kGeneralCategoryClasses, "Unassigned");
    out.negate();
  } else if (canonical == "ASCII") {
    out = CharClass::range(0, 0x7F);
  } else {
    const NamedRanges* entry = find_named(kGeneralCategoryClasses, canonical);
    if (!entry)
      return PropertyError::kNoSuchValue;
    out = CharClass::from(ranges_of(*entry));
  }
  return std::nullopt;
}

std::optional<PropertyError> from_table(std::span<const NamedRanges> table,
                                        std::string_view canonical, CharClass& out) {
  const NamedRanges* entry = find_named(table, canonical);
  if (!entry)
    return PropertyError::kNoSuchValue;
  out = CharClass::from(ranges_of(*entry));
  return std::nullopt;
}

// A lone name is a binary property, else a general category, else a script. "cf", "sc" and
// "lc" are also property abbreviations, but as lone names they are the categories.
std::optional<PropertyError> lone_name(std::string_view name, CharClass& out) {
  const std::string norm = normalize(name);
  if (norm != "cf" && norm != "sc" && norm != "lc") {
    if (const auto prop = find_alias(kPropertyNames, norm)) {
      return from_table(kBinaryClasses, *prop, out) ? std::optional(PropertyError::kNoSuchProperty)
                                                    : std::nullopt;
    }
  }
  if (const auto gc = canonical_gencat(norm))
    return general_category(*gc, out);
  if (const auto sc = find_alias(kScriptValueNames, norm))
    return from_table(kScriptClasses, *sc, out);
  return PropertyError::kNoSuchProperty;
}

// "V12_1" -> 1201, for the cumulative ages.
int age_order(std::string_view canonical) {
  int major = 0, minor = 0;
  std::size_t i = 1;
  for (; i < canonical.size() && canonical[i] != '_'; ++i)
    major = major * 10 + (canonical[i] - '0');
  for (++i; i < canonical.size(); ++i)
    minor = minor * 10 + (canonical[i] - '0');
  return major * 100 + minor;
}

std::optional<PropertyError> by_value(std::string_view name, std::string_view value,
                                      CharClass& out) {
  const auto prop = find_alias(kPropertyNames, normalize(name));
  if (!prop)
    return PropertyError::kNoSuchProperty;
  const std::string norm = normalize(value);
  if (*prop == "General_Category") {
    const auto gc = canonical_gencat(norm);
    return gc ? general_category(*gc, out) : PropertyError::kNoSuchValue;
  }
  struct Valued {
    std::string_view property;
    std::span<const Alias> values;
    std::span<const NamedRanges> classes;
  };
  const Valued valued[] = {
      {"Script", kScriptValueNames, kScriptClasses},
      {"Script_Extensions", kScriptExtensionsValueNames, kScriptExtensionsClasses},
      {"Age", kAgeValueNames, kAgeClasses},
      {"Grapheme_Cluster_Break", kGraphemeClusterBreakValueNames, kGraphemeClusterBreakClasses},
      {"Word_Break", kWordBreakValueNames, kWordBreakClasses},
      {"Sentence_Break", kSentenceBreakValueNames, kSentenceBreakClasses},
  };
  for (const Valued& v : valued) {
    if (*prop != v.property)
      continue;
    const auto canonical = find_alias(v.values, norm);
    if (!canonical)
      return PropertyError::kNoSuchValue;
    if (v.property != "Age")
      return from_table(v.classes, *canonical, out);
    const NamedRanges* entry = find_named(v.classes, *canonical);
    if (!entry)
      return PropertyError::kNoSuchValue;
    CharClass ages;
    for (const NamedRanges& age : v.classes) {
      if (age_order(age.name) <= age_order(*canonical))
        ages.unite(CharClass::from(ranges_of(age)));
    }
    out = std::move(ages);
    return std::nullopt;
  }
  return PropertyError::kNoSuchValue;
}

}  // namespace

// --- CharClass -----------------------------------------------------------------------------

CharClass CharClass::range(char32_t first, char32_t last) {
  CharClass out;
  out.add(first, last);
  return out;
}

CharClass CharClass::from(std::span<const CodeRange> ranges) {
  CharClass out;
  out.ranges_.assign(ranges.begin(), ranges.end());
  return out;
}

CharClass CharClass::from_unsorted(std::vector<CodeRange> ranges) {
  CharClass out;
  out.ranges_ = std::move(ranges);
  out.canonicalize();
  return out;
}

bool CharClass::contains(char32_t c) const {
  const auto it = std::upper_bound(ranges_.begin(), ranges_.end(), c,
                                   [](char32_t v, const CodeRange& r) { return v < r.first; });
  return it != ranges_.begin() && std::prev(it)->last >= c;
}

std::optional<char32_t> CharClass::single() const {
  if (ranges_.size() == 1 && ranges_[0].first == ranges_[0].last)
    return ranges_[0].first;
  return std::nullopt;
}

void CharClass::add(char32_t first, char32_t last) {
  ranges_.push_back({first, last});
  canonicalize();
}

void CharClass::canonicalize() {
  std::sort(ranges_.begin(), ranges_.end(),
            [](const CodeRange& a, const CodeRange& b) { return a.first < b.first; });
  std::vector<CodeRange> merged;
  merged.reserve(ranges_.size());
  for (const CodeRange& r : ranges_) {
    if (!merged.empty() && r.first <= merged.back().last + 1) {
      merged.back().last = std::max(merged.back().last, r.last);
    } else {
      merged.push_back(r);
    }
  }
  ranges_ = std::move(merged);
}

void CharClass::unite(const CharClass& other) {
  ranges_.insert(ranges_.end(), other.ranges_.begin(), other.ranges_.end());
  canonicalize();
}

void CharClass::negate() {
  std::vector<CodeRange> out;
  char32_t next = 0;
  for (const CodeRange& r : ranges_) {
    if (r.first > next)
      out.push_back({next, r.first - 1});
    next = r.last + 1;
  }
  if (next <= kMaxScalar)
    out.push_back({next, kMaxScalar});
  ranges_ = std::move(out);
  subtract(range(kSurrogateFirst, kSurrogateLast));
}

void CharClass::intersect(const CharClass& other) {
  std::vector<CodeRange> out;
  std::size_t i = 0, j = 0;
  while (i < ranges_.size() && j < other.ranges_.size()) {
    const CodeRange& a = ranges_[i];
    const CodeRange& b = other.ranges_[j];
    const char32_t first = std::max(a.first, b.first), last = std::min(a.last, b.last);
    if (first <= last)
      out.push_back({first, last});
    (a.last < b.last ? i : j)++;
  }
  ranges_ = std::move(out);
}

void CharClass::subtract(const CharClass& other) {
  std::vector<CodeRange> out;
  std::size_t j = 0;
  for (CodeRange r : ranges_) {
    while (j < other.ranges_.size() && other.ranges_[j].last < r.first)
      ++j;
    std::size_t k = j;
    bool kept = true;
    for (; k < other.ranges_.size() && other.ranges_[k].first <= r.last; ++k) {
      const CodeRange& cut = other.ranges_[k];
      if (cut.first > r.first)
        out.push_back({r.first, cut.first - 1});
      if (cut.last >= r.last) {
        kept = false;
        break;
      }
      r.first = cut.last + 1;
    }
    if (kept)
      out.push_back(r);
  }
  ranges_ = std::move(out);
}

void CharClass::symmetric_difference(const CharClass& other) {
  CharClass both = *this;
  both.intersect(other);
  unite(other);
  subtract(both);
}

void CharClass::fold_case(bool unicode) {
  std::vector<CodeRange> extra;
  if (!unicode) {
    for (const CodeRange& r : ranges_) {
      for (const auto [lo, hi, shift] : {std::array<int, 3>{'A', 'Z', 32}, {'a', 'z', -32}}) {
        const int first = std::max<int>(r.first, lo), last = std::min<int>(r.last, hi);
        if (first <= last) {
          extra.push_back(
              {static_cast<char32_t>(first + shift), static_cast<char32_t>(last + shift)});
        }
      }
    }
  } else {
    for (const CodeRange& r : ranges_) {
      auto it = std::lower_bound(kFoldCycles.begin(), kFoldCycles.end(), r.first,
                                 [](const FoldPair& p, char32_t c) { return p.from < c; });
      for (; it != kFoldCycles.end() && it->from <= r.last; ++it) {
        extra.push_back({it->to, it->to});
        // Walk the rest of the orbit (orbits have at most four members).
        for (char32_t c = it->to; c != it->from;) {
          const auto next =
              std::lower_bound(kFoldCycles.begin(), kFoldCycles.end(), c,
                               [](const FoldPair& p, char32_t v) { return p.from < v; });
          c = next->to;
          extra.push_back({c, c});
        }
      }
    }
  }
  ranges_.insert(ranges_.end(), extra.begin(), extra.end());
  canonicalize();
}

// --- named classes -------------------------------------------------------------------------

std::optional<PropertyError> unicode_property(std::string_view query, CharClass& out) {
  const std::size_t split = query.find_first_of("=:");
  if (split == std::string_view::npos)
    return lone_name(query, out);
  return by_value(query.substr(0, split), query.substr(split + 1), out);
}

std::optional<PropertyError> unicode_property_letter(char32_t letter, CharClass& out) {
  if (letter >= 0x80)
    return PropertyError::kNoSuchProperty;
  const char name[] = {static_cast<char>(letter), '\0'};
  return lone_name(name, out);
}

CharClass perl_class(PerlClass which, bool unicode) {
  switch (which) {
    case PerlClass::kDigit:
      return unicode ? named_class(kGeneralCategoryClasses, "Decimal_Number")
                     : CharClass::range('0', '9');
    case PerlClass::kSpace:
      if (unicode)
        return named_class(kPerlClasses, "space");
      return CharClass::from(std::array<CodeRange, 2>{{{'\t', '\r'}, {' ', ' '}}});
    case PerlClass::kWord:
      if (unicode)
        return named_class(kPerlClasses, "word");
      return CharClass::from(
          std::array<CodeRange, 4>{{{'0', '9'}, {'A', 'Z'}, {'_', '_'}, {'a', 'z'}}});
  }
  return {};
}

std::optional<CharClass> ascii_class(std::string_view name) {
  struct Entry {
    std::string_view name;
    std::initializer_list<CodeRange> ranges;
  };
  static const Entry kAscii[] = {
      {"alnum", {{'0', '9'}, {'A', 'Z'}, {'a', 'z'}}},
      {"alpha", {{'A', 'Z'}, {'a', 'z'}}},
      {"ascii", {{0, 0x7F}}},
      {"blank", {{'\t', '\t'}, {' ', ' '}}},
      {"cntrl", {{0, 0x1F}, {0x7F, 0x7F}}},
      {"digit", {{'0', '9'}}},
      {"graph", {{'!', '~'}}},
      {"lower", {{'a', 'z'}}},
      {"print", {{' ', '~'}}},
      {"punct", {{'!', '/'}, {':', '@'}, {'[', '`'}, {'{', '~'}}},
      {"space", {{'\t', '\r'}, {' ', ' '}}},
      {"upper", {{'A', 'Z'}}},
      {"word", {{'0', '9'}, {'A', 'Z'}, {'_', '_'}, {'a', 'z'}}},
      {"xdigit", {{'0', '9'}, {'A', 'F'}, {'a', 'f'}}},
  };
  for (const Entry& e : kAscii) {
    if (e.name == name)
      return CharClass::from(std::span(e.ranges.begin(), e.ranges.size()));
  }
  return std::nullopt;
}

bool is_word_char(char32_t c, bool unicode) {
  if (c < 0x80 || !unicode) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  }
  static const CharClass word = perl_class(PerlClass::kWord, true);
  return word.contains(c);
}

}  // namespace torvex::algorithms::regex
