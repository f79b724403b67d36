#include "graph/matching.hpp"

#include <gtest/gtest.h>
#include <re2/re2.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "algorithms/matching.hpp"
#include "algorithms/regex/regex.hpp"
#include "interrupt.hpp"
#include "test_support.hpp"

namespace torvex {
namespace {

using Names = std::vector<std::string>;

// The names of a match result, after checking that it lists its nodes in index order.
Names matched(const GraphStore& dag, const Result<std::vector<NodeId>>& result) {
  if (!result.ok())
    return {"error: " + result.error().display()};
  Names out;
  for (std::size_t i = 0; i < result->size(); ++i) {
    const NodeId& id = (*result)[i];
    EXPECT_EQ(dag.graph().name(id.index), id.name);
    EXPECT_TRUE(i == 0 || (*result)[i - 1].index < id.index);
    out.push_back(id.name);
  }
  return out;
}

std::string repeat(const std::string& unit, int times) {
  std::string s;
  for (int i = 0; i < times; ++i)
    s += unit;
  return s;
}

TEST(Glob, OnlyStarAndQuestionMarkAreWildcards) {
  testing::TestDag dag;
  testing::add_nodes(
      dag, {"task_1", "task_", "my_task_1", "node_a", "node_", "node_ab", "a.b", "axb", "[ab]", "a",
            "a{1,2}", "50%+", "a\\x", "", "é", "line\nfeed", "$()+.[\\]^{|}"});
  auto glob = [&](std::string_view g) { return matched(dag, nodes_matching_glob(dag, g)); };
  EXPECT_EQ(glob("task_*"), (Names{"task_1", "task_"}));
  EXPECT_EQ(glob("node_?"), (Names{"node_a"}));
  EXPECT_EQ(glob("?"), (Names{"a", "é"}));  // one character, however many bytes
  EXPECT_EQ(glob(""), (Names{""}));
  EXPECT_EQ(glob("*").size(), dag.node_count() - 1);  // all but the name with a line feed
  EXPECT_EQ(glob("line?feed").size() + glob("*feed").size(), 0u);
  for (const char* literal : {"a.b", "[ab]", "a{1,2}", "50%+", "$()+.[\\]^{|}"}) {
    EXPECT_EQ(glob(literal), (Names{literal}));
  }
  EXPECT_EQ(glob("a\\*"), (Names{"a\\x"}));
  EXPECT_EQ(algorithms::glob_to_regex("$()+.[\\]^{|}*?é-"),
            "^\\$\\(\\)\\+\\.\\[\\\\\\]\\^\\{\\|\\}.*.é-$");
}

TEST(Regex, UnanchoredSearchInIndexOrder) {
  testing::TestDag dag;
  testing::add_nodes(dag, {"apple", "banana", "Apple", "é", "line\nend"});
  auto regex = [&](std::string_view p) { return matched(dag, nodes_matching_regex(dag, p)); };
  EXPECT_EQ(regex("a"), (Names{"apple", "banana"}));
  EXPECT_EQ(regex("^a"), (Names{"apple"}));
  EXPECT_EQ(regex("").size(), 5u);
  EXPECT_EQ(regex("^.$"), (Names{"é"}));
  EXPECT_EQ(regex("line$|line.end"), (Names{}));  // no multi-line mode; `.` skips a line feed
  ASSERT_TRUE(dag.remove_node("apple").ok());
  testing::add_nodes(dag, {"pineapple"});  // into the freed slot 0
  EXPECT_EQ(regex("pp"), (Names{"pineapple", "Apple"}));
}

TEST(Regex, InvalidPatternsAreGraphErrors) {
  testing::TestDag dag;
  auto error = [&](const std::string& p) { return matched(dag, nodes_matching_regex(dag, p)); };
  const std::string prefix = "error: Graph error: Invalid regex pattern: ";
  for (const char* p :
       {"a)", "[a", "a{,3}", "\\C", "\\p{Nope}", "\\", "\xff", "[\\w-z]", "(?-u)."}) {
    EXPECT_EQ(error(p).at(0).rfind(prefix, 0), 0u) << p;
  }
  EXPECT_EQ(error("("), (Names{prefix + "unclosed group: `(`"}));
  EXPECT_EQ(error("(a)\\1"),
            (Names{prefix + "backreferences and octal escapes are not supported: `\\1`"}));
  EXPECT_EQ(error("(?<!a)b"), (Names{prefix + "look-around is not supported: `(?<!`"}));
  EXPECT_EQ(error("a{2,1}"),
            (Names{prefix + "invalid repetition range: the start exceeds the end: `{2,1}`"}));
  EXPECT_EQ(error(repeat("(", 251) + repeat(")", 251)).at(0).rfind(prefix + "nesting too deep", 0),
            0u);
  EXPECT_EQ(error(repeat("(", 250) + repeat(")", 250)), (Names{}));
  // Too large: by length, by Unicode classes or counted repetitions, however deeply nested.
  const Names too_large{prefix + "pattern too large: its compiled form exceeds the size limit"};
  for (const std::string& p :
       {std::string(500000, 'a'), repeat("\\pL", 5000), repeat("x{0,1000}", 1000),
        repeat("\\pL{100}", 30), std::string("a{100}{100}{100}"),
        std::string("(?:a{1000}){4294967295}"), std::string("a{0,4294967295}")}) {
    EXPECT_EQ(error(p), too_large) << p.substr(0, 12);
  }
}

// Corners of the dialect (escapes, word boundaries, Unicode properties, class set operations,
// group names, flags), each with the names it selects as the reference engine selects them, or
// nullptr where that engine refuses the pattern.
TEST(Regex, DialectCornersSelectWhatTheReferenceEngineSelects) {
  testing::TestDag dag;
  for (const char* name : {"a", "ab", "A", "k", "K", "\u212a", "é", "Ω", "日本", "😀", "x1", "_",
                           "-", "[", "]", "a\nb", "a\r\nb", "b\r"}) {
    ASSERT_TRUE(dag.add_node(name, 0).ok());
  }
  const std::pair<std::string, const char*> cases[] = {
      {R"(\A\w+\z)", "a ab A k K \u212a é Ω 日本 x1 _"},
      {R"(\<a)", "a ab a\nb a\r\nb"},
      {R"(a\>)", "a a\nb a\r\nb"},
      {R"(\b{start}a)", "a ab a\nb a\r\nb"},
      {R"(b\b{end})", "ab a\nb a\r\nb b\r"},
      {R"(\b{start-half}b)", "a\nb a\r\nb b\r"},
      {R"(a\b{end-half})", "a a\nb a\r\nb"},
      {R"([\a\f\t\n\r\v])", "a\nb a\r\nb b\r"},
      {R"(^\D\S\W)", ""},
      {R"(^\x41)", "A"},
      {R"(\u00E9|\U0001F600|\x{1f600})", "é 😀"},
      {R"(\p{sc=Greek})", "Ω"},
      {R"(\p{Age=V6_0})", "a ab A k K \u212a é Ω 日本 x1 _ - [ ] a\nb a\r\nb b\r"},
      {R"(^\p{Age=3.0}+$)", "a ab A k K \u212a é Ω 日本 x1 _ - [ ] a\nb a\r\nb b\r"},
      {R"(\p{gc=Lu})", "A K \u212a Ω"},
      {R"(^\P{L}+$)", "😀 _ - [ ]"},
      {R"(^\p{sc!=Latin})", "Ω 日本 😀 _ - [ ]"},
      {R"(\p{Han})", "日本"},
      {R"([a-z--b])", "a ab k x1 a\nb a\r\nb"},
      {R"(^[a-z~~b]+$)", "a k"},
      {R"([\-])", "-"},
      {R"([]a])", "a ab ] a\nb a\r\nb"},
      {R"([[:alpha:]])", "a ab A k K x1 a\nb a\r\nb b\r"},
      {R"([[:^alpha:]])", "\u212a é Ω 日本 😀 x1 _ - [ ] a\nb a\r\nb b\r"},
      {R"(^[[:word:]]+$)", "a ab A k K x1 _"},
      {R"((?<n>a))", "a ab a\nb a\r\nb"},
      {R"((?P<n_1.x>a)b)", "ab"},
      {R"((?U)a+)", "a ab a\nb a\r\nb"},
      {"(?x) a b # c\n", "ab"},
      {R"((?mR)^b$)", "a\nb a\r\nb b\r"},
      {R"((?m)^b$)", "a\nb a\r\nb"},
      {R"((?i)k)", "k K \u212a"},
      {R"((?i-u)k)", "k K"},
      {R"(a{1,}b)", "ab"},
      {R"((?s)a.b)", "a\nb"},
      {R"([é])", "é"},
      {R"((?i)É)", "é"},
      {R"([a-c&&[^b]])", "a ab a\nb a\r\nb"},
      {R"([[a]b])", "a ab a\nb a\r\nb b\r"},
      {R"(\p{Any})", "a ab A k K \u212a é Ω 日本 😀 x1 _ - [ ] a\nb a\r\nb b\r"},
      {R"(^\p{ASCII}+$)", "a ab A k K x1 _ - [ ] a\nb a\r\nb b\r"},
      {R"((?i-u)[a-c])", "a ab A a\nb a\r\nb b\r"},
      {R"((?i)[k])", "k K \u212a"},
      {R"(\d)", "x1"},
      {R"(\p{N})", "x1"},
      {R"((?x)\b { start } a)", nullptr},
      {R"([\p{Greek}\p{Han}])", "Ω 日本"},
      {R"(\p{White_Space})", "a\nb a\r\nb b\r"},
      {R"((?u)\w)", "a ab A k K \u212a é Ω 日本 x1 _ a\nb a\r\nb b\r"},
      {R"([^\W\d])", "a ab A k K \u212a é Ω 日本 x1 _ a\nb a\r\nb b\r"},
      {R"((?-u)\xFF)", nullptr},
      {R"((?-u)[é])", nullptr},
      {R"(\x{110000})", nullptr},
      {R"(\xZZ)", nullptr},
      {R"(\x4)", nullptr},
      {R"(\b{foo})", nullptr},
      {R"(\b{start)", nullptr},
      {R"((?<>a))", nullptr},
      {R"((?<a>x)(?<a>y))", nullptr},
      {R"((?<1a>a))", nullptr},
      {R"((?z))", nullptr},
      {R"(a{4294967296})", nullptr},
      {R"(\p{Nope})", nullptr},
      {R"(\p{sc=Nope})", nullptr},
      {R"(\p{Age=V99})", nullptr},
      {R"([[:foo:]])", ""},
      {R"((?<a)", nullptr},
      {R"(\b{)", nullptr},
      {R"(\p{isL})", "a ab A k K \u212a é Ω 日本 x1 a\nb a\r\nb b\r"},
      {R"(\p{IsGreek})", "Ω"},
      {R"(\p{Assigned})", "a ab A k K \u212a é Ω 日本 😀 x1 _ - [ ] a\nb a\r\nb b\r"},
      {R"(\p{Bidi_Class=L})", nullptr},
      {R"((?-u)\s)", "a\nb a\r\nb b\r"},
      {R"((?-u)^\S+$)", nullptr},
      {R"([日😀])", "日本 😀"},
      {R"([^a-zé日😀])", "A K \u212a Ω 日本 x1 _ - [ ] a\nb a\r\nb b\r"},
      {R"((?-u)[\x{e9}])", nullptr},
      {R"((?-u:\xe9))", nullptr},
      {R"(\b{2}a)", "a ab a\nb a\r\nb"},
      {R"(a\b{1})", "a a\nb a\r\nb"},
      {R"([a-])", "a ab - a\nb a\r\nb"},
      {R"([a&&-b])", ""},
      {R"([-a&&-])", "-"},
      {R"([[])", nullptr},
      {R"([a[])", nullptr},
      {R"(a{2,})", ""},
      {R"([a&&b])", ""},
      {R"((?-u:\b)a)", "a ab a\nb a\r\nb"},
      {R"((?-u:\B)b)", "ab"},
      {R"(a{2,}b{3,})", ""},
  };
  for (const auto& [pattern, expected] : cases) {
    auto found = nodes_matching_regex(dag, pattern);
    if (!expected) {
      EXPECT_EQ(found.error().text().rfind("Invalid regex pattern: ", 0), 0u) << pattern;
    } else {
      EXPECT_EQ(testing::text(found.value()), expected) << pattern;
    }
  }
}

// The two engines behind a pattern must agree wherever both apply: RE2 on the emitted
// pattern and the Pike VM on the parsed form.
TEST(Regex, PikeVmAgreesWithTheEmittedRe2Pattern) {
  const char* names[] = {"",
                         "a",
                         "ab",
                         "a b",
                         "task_12",
                         "é",
                         "日本",
                         "a\nb",
                         "x-1",
                         "K",
                         "\u212a",
                         "ſ",
                         "aaaa",
                         "b\r\n",
                         "\u3000",
                         "a\xff"
                         "b",
                         "\xe6\x97",
                         "\xa9\xc3"
                         "a",
                         "a\r\nb"};
  const std::string long_names[] = {std::string(1001, 'a'), std::string(1001, 'a') + "b",
                                    std::string(2000, 'a'), "x" + std::string(1500, 'a') + "b"};
  for (const char* pattern :
       {"^\\w+$", "\\w+-\\d", "(?i)k", "(?i)S", "[a-z&&[^b]]+$", "\\bb", "a\\B", "(?m)^b$",
        "(?s)a.b", "a.b", "^(?:a|b){2,3}$", "a{0}b", "\\p{Han}+", "[^\\s\\d]", "(?-u:\\w)\\b", "",
        "$", "^$", "a*?$", "[\\x{0}-\\x{10FFFF}]",
        // past RE2's own count limit, also as products of nested counts
        "a{1001}b", "^a{1001}$", "^a{1000,1001}$", "a{0,1500}b", "^(?:a{1,40}){30}b",
        "^(?:a{2}){500,}$", "^(?:(?:a{10}){10}){11}$", "x{0,2}(?:a{3}|b){400}",
        // read from the end: mirrored chains before \z, and the reversed Pike VM
        "a{0,1500}\\z", "^b?a{0,1500}$", "xa{0,1500}b?$", "\\<a", "a\\>", "\\b{start-half}a",
        "a\\b{end-half}", "(?m)a$", "(?m)^a", "\\Aa", "(?R)^b$"}) {
    auto syntax = algorithms::regex::parse(pattern);
    ASSERT_TRUE(syntax.ok()) << pattern;
    const auto pike = algorithms::regex::PikeProgram::compile(*syntax);
    const auto reversed = algorithms::regex::PikeProgram::compile_reversed(*syntax);
    ASSERT_TRUE(pike) << pattern;
    // Word starts and ends and CRLF lines have no RE2 form: the Pike VM's alone.
    const auto emitted = algorithms::regex::to_re2(*syntax);
    const auto mirrored = algorithms::regex::to_re2(*syntax, true);
    std::optional<RE2> re2, re2_mirrored;
    if (emitted) {
      re2.emplace(*emitted);
      re2_mirrored.emplace(*mirrored);
      ASSERT_TRUE(re2->ok() && re2_mirrored->ok()) << *emitted;
    }
    const bool ascii_boundary = algorithms::regex::needs_ascii_text_for_re2(syntax->root);
    std::vector<std::string_view> texts(std::begin(names), std::end(names));
    texts.insert(texts.end(), std::begin(long_names), std::end(long_names));
    for (const std::string_view text : texts) {
      const bool expected = pike->search(text);
      if (reversed) {
        EXPECT_EQ(reversed->search(text), expected) << pattern << " on " << text;
      }
      if (!re2 || (ascii_boundary &&
                   std::any_of(text.begin(), text.end(), [](char c) { return c & 0x80; })))
        continue;
      EXPECT_EQ(RE2::PartialMatch(text, *re2), expected) << pattern << " on " << text;
      EXPECT_EQ(RE2::PartialMatch(text, *re2_mirrored), expected) << pattern << " on " << text;
    }
  }
}

// A Pike VM run with too few steps gives up instead of answering; with enough, it answers.
TEST(Regex, PikeVmWithinStepsAnswersOrGivesUp) {
  const auto syntax = algorithms::regex::parse("[ab](?:(?:ab){0,50}y){0,3}z");
  ASSERT_TRUE(syntax.ok());
  const std::string name = "a" + repeat(repeat("ab", 40) + "y", 3) + "z";
  for (const auto& program : {algorithms::regex::PikeProgram::compile(*syntax),
                              algorithms::regex::PikeProgram::compile_reversed(*syntax)}) {
    ASSERT_TRUE(program);
    std::size_t reached = 0;
    EXPECT_FALSE(program->search_within(name, 10, reached).has_value());
    EXPECT_LT(reached, name.size());
    EXPECT_EQ(program->search_within(name, std::uint64_t{1} << 40, reached), true);
  }
}

// The longest name is asked for only when a count is large, and what it fits selects the same.
TEST(Regex, CountsFittedToTheLongestNameKeepTheirBounds) {
  int asked = 0;
  auto longest = [&asked] {
    ++asked;
    return std::uint64_t{1002};
  };
  ASSERT_TRUE(algorithms::regex::Pattern::compile("ax{0,200}b", longest).ok());
  EXPECT_EQ(asked, 0);
  const auto fitted = algorithms::regex::Pattern::compile("ax{0,60000}\\z", longest);
  ASSERT_TRUE(fitted.ok());
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(fitted->search("a" + std::string(1001, 'x')));
  EXPECT_FALSE(fitted->search("b" + std::string(1001, 'x')));
  EXPECT_TRUE(fitted->search("ba" + std::string(1000, 'x')));
}

bool stop_now() {
  return true;
}

// Long searches on either engine, from either end, stop when the check says so.
TEST(Regex, LongSearchesStopWhenAsked) {
  testing::TestDag dag;
  const std::string long_runs[] = {"a" + repeat(repeat("ab", 1400) + "y", 9) + "z",
                                   "a" + std::string(10000, 'x')};
  for (int copy = 0; copy < 200; ++copy) {
    for (const auto& name : long_runs)
      ASSERT_TRUE(dag.add_node(name + std::to_string(copy), 0).ok());
  }
  for (const char* pattern : {"[ab](?:(?:ab){0,1500}y){0,10}z", "ax{0,10000}\\d+\\z"}) {
    interrupt::Scope scope(&stop_now);
    interrupt::detail::t_state.next_check = {};
    EXPECT_THROW((void)nodes_matching_regex(dag, pattern), interrupt::Interrupted) << pattern;
  }
}

}  // namespace
}  // namespace torvex
