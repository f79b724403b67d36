// DOT and Mermaid text: layout, edge annotations and the plain text form of weights.
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "golden.hpp"
#include "graph/serialization.hpp"
#include "serialization/number_text.hpp"
#include "test_support.hpp"

namespace torvex {
namespace {

using testing::TestDag;

// The single edge line of a two-node graph a -> b, in both forms.
struct EdgeLines {
  std::string dot;
  std::string mermaid;
};

EdgeLines edge_lines(double weight, std::optional<std::string> label) {
  TestDag dag;
  testing::build(dag, "a b");
  EXPECT_TRUE(dag.add_edge("a", "b", weight, std::move(label)).ok());
  const std::string dot = to_dot_with(dag);
  const std::string mermaid = to_mermaid(dag);
  const std::size_t dot_start = dot.find("    \"a\" ->");
  const std::size_t mermaid_start = mermaid.find("    a -");
  return {dot.substr(dot_start, dot.find('\n', dot_start) - dot_start),
          mermaid.substr(mermaid_start, mermaid.find('\n', mermaid_start) - mermaid_start)};
}

TEST(TextForms, WriteTheExampleGraph) {
  TestDag dag;
  testing::build(dag, "a b c");
  ASSERT_TRUE(dag.add_edge("a", "b", 2.0, std::nullopt).ok());
  ASSERT_TRUE(dag.add_edge("a", "c", 1.0, "x").ok());
  ASSERT_TRUE(dag.add_edge("b", "c", 1.0, std::nullopt).ok());
  const NodeAttrHook<int> box_a = [](std::string_view name,
                                     const int&) -> std::optional<std::string> {
    if (name == "a")
      return "shape=box";
    return std::nullopt;
  };
  EXPECT_EQ(to_dot_with(dag, box_a), testing::read_golden("example.dot"));
  EXPECT_EQ(to_mermaid(dag), testing::read_golden("example.mmd"));
}

TEST(TextForms, EmptyGraph) {
  EXPECT_EQ(to_dot_with(TestDag()), "digraph {\n}");
  EXPECT_EQ(to_mermaid(TestDag()), "graph TD\n");
  TestDag odd;  // names that are no identifier at all; Mermaid trims the empty name's blank
  ASSERT_TRUE(odd.add_node("", 0).ok() && odd.add_node("a\rb", 0).ok());
  EXPECT_EQ(to_mermaid(odd), "graph TD\n    n0[\" \"]\n    n1[\"a#13;b\"]\n");
}

TEST(TextForms, EdgesCarryTheirLabelOrAWeightOtherThanOne) {
  const struct {
    double weight;
    std::optional<std::string> label;
    const char* dot;
    const char* mermaid;
  } cases[] = {
      {2.0, std::nullopt, R"(    "a" -> "b" [label="2"];)", R"(    a -->|"2"| b)"},
      {0.5, std::nullopt, R"(    "a" -> "b" [label="0.5"];)", R"(    a -->|"0.5"| b)"},
      {1.0000000000000002, std::nullopt, R"(    "a" -> "b";)", "    a --> b"},
      {1.0, "", R"(    "a" -> "b" [label=""];)", R"(    a -->|" "| b)"},
      {3.0, "x", R"(    "a" -> "b" [label="x"];)", R"(    a -->|"x"| b)"},
      {INFINITY, std::nullopt, R"(    "a" -> "b" [label="inf"];)", R"(    a -->|"inf"| b)"},
      {-INFINITY, std::nullopt, R"(    "a" -> "b" [label="-inf"];)", R"(    a -->|"-inf"| b)"},
      {std::nan(""), std::nullopt, R"(    "a" -> "b";)", "    a --> b"},
  };
  for (const auto& c : cases) {
    const EdgeLines lines = edge_lines(c.weight, c.label);
    EXPECT_EQ(lines.dot, c.dot) << c.weight;
    EXPECT_EQ(lines.mermaid, c.mermaid) << c.weight;
  }
}

TEST(TextForms, HostileNamesAndLabelsAreEscapedAndPlainOnesAreNot) {
  TestDag dag;
  testing::add_nodes(dag, {"say \"hi\"", "[x]\ny", "n0", "end", "back\\slash\\"});
  ASSERT_TRUE(dag.add_edge("say \"hi\"", "[x]\ny", std::nullopt, std::nullopt).ok());
  ASSERT_TRUE(dag.add_edge("say \"hi\"", "[x]\ny", std::nullopt, "a \"b\"\n#quot;").ok());
  ASSERT_TRUE(dag.add_edge("n0", "end", std::nullopt, std::nullopt).ok());
  ASSERT_TRUE(dag.add_edge("n0", "back\\slash\\", std::nullopt, "x\\\n").ok());

  // Names that are no plain identifier (and the keyword end) get n{slot}, made unique against
  // the plain names; quoted texts use entity codes.
  EXPECT_EQ(to_mermaid(dag),
            "graph TD\n"
            "    n0_[\"say #quot;hi#quot;\"]\n"
            "    n1[\"[x]<br>y\"]\n"
            "    n0[\"n0\"]\n"
            "    n3[\"end\"]\n"
            "    n4[\"back\\slash\\\"]\n"
            "    n0_ --> n1\n"
            "    n0_ -->|\"a #quot;b#quot;<br>#35;quot;\"| n1\n"
            "    n0 --> n3\n"
            "    n0 -->|\"x\\<br>\"| n4\n");

  // In DOT a quote gets a backslash; a name whose backslashes would escape the closing quote
  // goes between angle brackets, and a label that no quoted form carries is escaped. A hook that
  // throws counts as no attributes; an empty text gives empty brackets.
  const NodeAttrHook<int> hook = [](std::string_view name,
                                    const int&) -> std::optional<std::string> {
    if (name == "[x]\ny")
      throw std::runtime_error("no");
    return "";
  };
  EXPECT_EQ(to_dot_with(dag, hook),
            "digraph {\n"
            "    \"say \\\"hi\\\"\" [];\n"
            "    \"[x]\ny\";\n"
            "    \"n0\" [];\n"
            "    \"end\" [];\n"
            "    <back\\slash\\> [];\n"
            "    \"say \\\"hi\\\"\" -> \"[x]\ny\";\n"
            "    \"say \\\"hi\\\"\" -> \"[x]\ny\""
            " [label=\"a \\\"b\\\"\n#quot;\"];\n"
            "    \"n0\" -> \"end\";\n"
            "    \"n0\" -> <back\\slash\\> [label=\"x\\\\\\n\"];\n"
            "}");
}

TEST(TextForms, MermaidMakesUpIdentifiersOnlyForNamesThatWouldBreakTheDiagram) {
  // Parts of letters, digits and '_' joined by single '-' are identifiers as they are, unless the
  // lexer would read a keyword at their start (also after leading digits, or before a '-').
  const std::pair<const char*, bool> cases[] = {
      {"a-b", true},          {"x_1-Y-2", true},
      {"1-2", true},          {"endx", true},
      {"end_x", true},        {"x-end", true},
      {"1-end", true},        {"call-x", true},
      {"styles", true},       {"default", true},
      {"-a", false},          {"a-", false},
      {"a--b", false},        {"a.b", false},
      {"a b", false},         {"-", false},
      {"end", false},         {"end-x", false},
      {"graph-1", false},     {"1end", false},
      {"12class-x", false},   {"interpolate", false},
      {"_top", false},        {"2call", false},
      {"task_1", true},       {"direction_x", true},
      {"direction", false},   {"set_direction", false},
      {"a-direction", false}, {"_direction", false},
      {"xdirection", false},
  };
  for (const auto& [name, plain] : cases) {
    TestDag dag;
    ASSERT_TRUE(dag.add_node(name, 0).ok());
    const std::string id = plain ? name : "n0";
    EXPECT_EQ(to_mermaid(dag), "graph TD\n    " + id + "[\"" + name + "\"]\n") << name;
  }
  // A made-up identifier steps around every real name it would meet.
  TestDag dag;
  testing::add_nodes(dag, {"a-", "n0", "n0_", "n1"});
  ASSERT_TRUE(dag.add_edge("a-", "n0", std::nullopt, std::nullopt).ok());
  EXPECT_EQ(to_mermaid(dag),
            "graph TD\n    n0__[\"a-\"]\n    n0[\"n0\"]\n    n0_[\"n0_\"]\n    n1[\"n1\"]\n"
            "    n0__ --> n0\n");
}

TEST(TextForms, MermaidTextsSurviveMermaidsRewritingOfTheDiagram) {
  // Mermaid rewrites the diagram text before its grammar reads it and shows texts as HTML: what
  // it would parse wrongly, drop or change becomes an entity code, a line feed a "<br>".
  const std::pair<const char*, const char*> cases[] = {
      // parse errors: the empty text (a blank, which Mermaid trims) and a leading backtick
      {"", "\" \""},
      {"`x`", "\"#96;x`\""},
      // a blank after "direction" would make the line a direction statement
      {"direction TB", "\"direction#32;TB\""},
      {"a direction  LR", "\"a direction#32; LR\""},
      // '<' starts a tag whose =" Mermaid rewrites, also lines later; literal HTML shows as text
      {"<a", "\"#60;a\""},
      {"b=\"", "\"b=#quot;\""},
      {"<br>\nx", "\"#60;br#62;<br>x\""},
      {"a --> b", "\"a --#62; b\""},
      {"a&amp;b", "\"a#38;amp;b\""},
      // directives and comments, entity codes, the lost ';' of a style line
      {"%%{init}%%", "\"#37;#37;{init}#37;#37;\""},
      {"#_;", "\"#35;_;\""},
      {"#quot;#", "\"#35;quot;#\""},
      {"style fill:#f00;", "\"style fill#58;#35;f00;\""},
      // white space that would be trimmed or end a line, and Mermaid's own placeholders
      {" a b ", "\"#32;a b#32;\""},
      {"\t\r\v\f", "\"#9;#13;#11;#12;\""},
      {"\u00a0x\u2028\u3000", "\"#160;x#8232;#12288;\""},
      {"\ufb02\u00b0\u00b035\u00b6\u00df", "\"#64258;\u00b0\u00b035#182;\u00df\""},
      // left as they are
      {"C# 1;2 |x| [y] {z} 'q' \\ \u00e9", "\"C# 1;2 |x| [y] {z} 'q' \\ \u00e9\""},
  };
  for (const auto& [name, quoted] : cases) {
    TestDag dag;
    testing::build(dag, "a b");
    ASSERT_TRUE(dag.add_node(name, 0).ok());
    ASSERT_TRUE(dag.add_edge("a", "b", 1.0, name).ok());
    EXPECT_EQ(to_mermaid(dag), std::string("graph TD\n    a[\"a\"]\n    b[\"b\"]\n    n2[") +
                                   quoted + "]\n    a -->|" + quoted + "| b\n")
        << name;
  }
  // An identifier ending in "direction" at a line end would join the next line to a direction
  // statement; it gets a made-up one.
  TestDag dag;
  testing::build(dag, "q set_direction TBD");
  ASSERT_TRUE(dag.add_edge("q", "set_direction", 1.0, std::nullopt).ok());
  ASSERT_TRUE(dag.add_edge("TBD", "q", 1.0, std::nullopt).ok());
  EXPECT_EQ(to_mermaid(dag),
            "graph TD\n    q[\"q\"]\n    n1[\"set_direction\"]\n    TBD[\"TBD\"]\n"
            "    q --> n1\n    TBD --> q\n");
}

TEST(TextForms, DotKeepsNamesWithALoneLineFeedApart) {
  // Older DOT scanners drop a line feed between quotes and backslashes, which merged \ with
  // \<line feed>, x" with x"<line feed> and the empty name with a line feed. Such a name is an
  // angle-bracket string, read byte for byte; line feeds beside other text stay quoted. When its
  // brackets do not pair up, no form carries it: it is escaped.
  const std::pair<const char*, const char*> cases[] = {
      {"\n", "<\n>"},
      {"\\\n", "<\\\n>"},
      {"x\"\n", "<x\"\n>"},
      {"\"\n\"", "<\"\n\">"},
      {"\n\\<a>", "<\n\\<a>>"},
      {"\n\n", "\"\n\n\""},
      {"\\\nx", "<\\\nx>"},
      {">\"\n", "\">\\\"\\n\""},
      {"<\\\n", "\"<\\\\\\n\""},
      {"\n\"<\"\n", "\"\\n\\\"<\\\"\\n\""},
  };
  for (const auto& [name, written] : cases) {
    TestDag dag;
    ASSERT_TRUE(dag.add_node(name, 0).ok());
    EXPECT_EQ(to_dot_with(dag), std::string("digraph {\n    ") + written + ";\n}") << name;
  }
  // A label is always one quoted string: an angle-bracket one would be read as HTML.
  TestDag dag;
  testing::build(dag, "a b");
  ASSERT_TRUE(dag.add_edge("a", "b", 1.0, "\n").ok() && dag.add_edge("a", "b", 1.0, "\"\n").ok());
  EXPECT_EQ(to_dot_with(dag),
            "digraph {\n    \"a\";\n    \"b\";\n"
            "    \"a\" -> \"b\" [label=\"\n\"];\n"
            "    \"a\" -> \"b\" [label=\"\\\"\n\"];\n}");
}

TEST(TextForms, DotSplitsWhatOneQuotedStringCannotHoldAndKeepsUncarriedNamesApart) {
  // Graphviz refuses longer quoted runs, and pydot drops a backslash before a line feed even when
  // it ends a pair: parts joined by '+' end there, never inside a character or a pair.
  const std::string long_name = "\\" + std::string(9000, 'x') + "\xc3\xa9";
  const std::pair<std::string, std::string> cases[] = {
      {"a\\\\\nb", "\"a\\\\\" + \"\nb\""},
      {"a\\\\\r\nb", "\"a\\\\\" + \"\r\nb\""},
      {"a\\\r\nb", "\"a\\\r\" + \"\nb\""},
      {long_name,
       "\"\\" + std::string(7999, 'x') + "\" + \"" + std::string(1001, 'x') + "\xc3\xa9\""},
  };
  for (const auto& [name, written] : cases) {
    TestDag dag;
    ASSERT_TRUE(dag.add_node(name, 0).ok());
    EXPECT_EQ(to_dot_with(dag), "digraph {\n    " + written + ";\n}") << name;
  }
  // A NUL has no form: escaped, with '_' appended while that meets another name.
  TestDag dag;
  ASSERT_TRUE(dag.add_node(std::string("a\0", 2), 0).ok() && dag.add_node("a\\0", 0).ok());
  ASSERT_TRUE(dag.add_node(std::string("a\0_", 3), 0).ok() && dag.add_node("a\\0_", 0).ok());
  ASSERT_TRUE(
      dag.add_edge(std::string("a\0", 2), std::string("a\0_", 3), 1.0, std::string("\0", 1)).ok());
  EXPECT_EQ(to_dot_with(dag),
            "digraph {\n    \"a\\0__\";\n    \"a\\0\";\n    \"a\\0___\";\n    \"a\\0_\";\n"
            "    \"a\\0__\" -> \"a\\0___\" [label=\"\\0\"];\n}");
}

TEST(TextForms, PlainNumbersNeverUseAnExponent) {
  const std::pair<double, const char*> cases[] = {
      {2.0, "2"},
      {0.5, "0.5"},
      {1.5, "1.5"},
      {100.0, "100"},
      {1e21, "1000000000000000000000"},
      {1e-7, "0.0000001"},
      {-0.0, "-0"},
      {1.0000000000000002, "1.0000000000000002"},
      {-2.25, "-2.25"},
      {INFINITY, "inf"},
      {-INFINITY, "-inf"},
      {std::nan(""), "NaN"},
  };
  for (auto [value, text] : cases)
    EXPECT_EQ(plain_float(value), text) << value;
}

}  // namespace
}  // namespace torvex
