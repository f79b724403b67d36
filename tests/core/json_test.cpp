// The JSON document: number and string text, the pretty layout, the strict reader and its
// messages, and building a graph from records.
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "golden.hpp"
#include "graph/serialization.hpp"
#include "serialization/json_reader.hpp"
#include "serialization/json_writer.hpp"
#include "serialization/number_text.hpp"
#include "test_support.hpp"

namespace torvex {
namespace {

// Payloads kept as compact JSON text; "" is no payload.
using TextDag = DAG<std::string>;

const PayloadWriter<std::string> kWriteText = [](const std::string& p) -> std::optional<JsonValue> {
  if (p.empty())
    return std::nullopt;
  return *parse_json_value(p);
};
const PayloadReader<std::string> kReadText = [](const JsonValue& v) {
  return std::optional<std::string>(to_compact_json(v));
};

std::string json_float(double v) {
  std::string out;
  append_json_float(out, v);
  return out;
}

testing::ReadDag<std::string> from_json(std::string_view text,
                                        const PayloadReader<std::string>& hook = {}) {
  return testing::read_new<std::string>([&](TextDag& d) { return from_json_into(text, d, hook); });
}

// The reader's message without its position.
std::string reader_fault(std::string_view text) {
  auto read = read_serializable_graph(text);
  if (read.ok())
    return "(read)";
  const std::string& message = read.error().text();
  return message.substr(0, message.rfind(" at line "));
}

// The document of a graph the writer must accept.
std::string document(const TextDag& dag, const PayloadWriter<std::string>& hook = {}) {
  auto text = to_json(dag, hook);
  EXPECT_TRUE(text.ok()) << text.error().text();
  return text.ok() ? *text : std::string();
}

std::vector<std::string> node_names(const GraphStore& dag) {
  return testing::names(dag, dag.nodes());
}

TEST(JsonText, FloatsUseShortestDigitsPositionalBetweenExponentsMinus5And15) {
  const std::pair<double, const char*> cases[] = {
      {2.0, "2.0"},
      {0.00001, "0.00001"},
      {0.000001, "1e-6"},
      {1.5e-7, "1.5e-7"},
      {1e15, "1000000000000000.0"},
      {1e16, "1e+16"},
      {1.5e100, "1.5e+100"},
      {5e-324, "5e-324"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {123456.789, "123456.789"},
      {0.1 + 0.2, "0.30000000000000004"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
  };
  for (auto [value, text] : cases)
    EXPECT_EQ(json_float(value), text) << value;
}

TEST(JsonText, StringsEscapeQuotesBackslashesAndControlBytesOnly) {
  std::string text = "q\"b\\\b\t\n\f\r\x01\x1f\x7f\xc3\xa9";
  text += '\0';
  std::string out;
  append_json_string(out, text);
  EXPECT_EQ(out, "\"q\\\"b\\\\\\b\\t\\n\\f\\r\\u0001\\u001f\x7f\xc3\xa9\\u0000\"");
}

TEST(JsonText, ValuesKeepOneFormAndObjectsSortKeysByBytes) {
  EXPECT_TRUE(JsonValue(std::nan("")).is_null());
  EXPECT_EQ(JsonValue(std::string_view("x")), JsonValue(std::string("x")));
  JsonValue object = JsonValue::Object{};
  object.set("b", JsonValue::Array{JsonValue(1), JsonValue(2.5)});
  object.set("a", "x");
  EXPECT_EQ(to_compact_json(object), R"({"a":"x","b":[1,2.5]})");
  object.set("ab", nullptr);
  object.set("B", true);
  object.set("a", JsonValue(std::int64_t{-3}));  // replaces
  EXPECT_EQ(to_compact_json(object), R"({"B":true,"a":-3,"ab":null,"b":[1,2.5]})");

  std::string pretty;
  append_pretty_json(pretty,
                     JsonValue::Object{{"e", JsonValue::Array{}}, {"o", JsonValue::Object{}}}, 0);
  EXPECT_EQ(pretty, "{\n  \"e\": [],\n  \"o\": {}\n}");
}

TEST(JsonDocument, WritesTheExampleAndTheEmptyGraph) {
  TextDag dag;
  ASSERT_TRUE(dag.add_node("a", R"({"k":1})").ok());
  ASSERT_TRUE(dag.add_node("b", "").ok());
  ASSERT_TRUE(dag.add_edge("a", "b", 2.5, "x").ok());
  EXPECT_EQ(document(dag, kWriteText), testing::read_golden("document.json"));

  // Without a hook no node has a payload member.
  EXPECT_EQ(document(dag).find("payload"), std::string::npos);
  EXPECT_EQ(document(TextDag()), "{\n  \"nodes\": [],\n  \"edges\": []\n}");
}

TEST(JsonDocument, RoundTripKeepsSlotOrderTextsAndWeights) {
  TextDag dag;
  for (const char* name : {"gone", "q\"uote", "back\\slash", "new\nline", "\xc3\xa9t\xc3\xa9"}) {
    ASSERT_TRUE(dag.add_node(name, "").ok());
  }
  ASSERT_TRUE(dag.remove_node("gone").ok());
  ASSERT_TRUE(dag.add_node("reused", R"({"ab":[true,null],"B":-1,"a":"x"})").ok());  // slot 0
  ASSERT_TRUE(dag.add_edge("reused", "q\"uote", 3.0, "").ok());
  ASSERT_TRUE(dag.add_edge("q\"uote", "new\nline", 0.1, "l\tabel").ok());
  ASSERT_TRUE(dag.add_edge("reused", "\xc3\xa9t\xc3\xa9", -0.0, std::nullopt).ok());

  const std::string text = document(dag, kWriteText);
  EXPECT_NE(text.find("\"weight\": 3.0"), std::string::npos);
  auto back = from_json(text, kReadText);
  ASSERT_TRUE(back.ok()) << back.error().text();
  const TextDag& copy = **back;
  EXPECT_EQ(node_names(copy), node_names(dag));  // slot order, now dense
  EXPECT_EQ(copy.nodes(), (IndexList{0, 1, 2, 3, 4}));
  EXPECT_EQ(copy.payload(0), R"({"B":-1,"a":"x","ab":[true,null]})");
  EXPECT_EQ(copy.generation(), 5u + 3u);
  EXPECT_EQ(document(copy, kWriteText), text);
  EXPECT_TRUE(std::signbit(copy.graph().edge_weight(2)));
}

TEST(JsonDocument, WhatTheReaderCouldNotTakeBackIsRefusedNamingTheEdgeOrNode) {
  constexpr const char* kFailed = "JSON serialization failed: ";
  // A payload exactly as deep as the document admits reads back; one level more is refused.
  const auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  TextDag dag;
  ASSERT_TRUE(dag.add_node("a", nested(kDocumentPayloadMaxDepth)).ok());
  ASSERT_TRUE(dag.add_node("b", "").ok());
  ASSERT_TRUE(dag.add_edge("a", "b", 1.0, std::nullopt).ok());
  auto back = from_json(document(dag, kWriteText), kReadText);
  ASSERT_TRUE(back.ok()) << back.error().text();
  EXPECT_EQ((*back)->payload(0), nested(kDocumentPayloadMaxDepth));

  dag.payload(0) = nested(kDocumentPayloadMaxDepth + 1);
  EXPECT_EQ(to_json(dag, kWriteText).error(),
            TorvexError::graph(std::string(kFailed) +
                               "payload of node a is nested more than 124 levels deep, which the "
                               "reader refuses"));

  // A weight JSON has no number for refuses the graph before any payload hook is called.
  int calls = 0;
  const PayloadWriter<std::string> counting = [&](const std::string& p) {
    ++calls;
    return kWriteText(p);
  };
  const std::pair<double, const char*> weights[] = {
      {std::nan(""), "NaN"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"}};
  for (auto [weight, text] : weights) {
    ASSERT_TRUE(dag.add_edge("a", "b", weight, std::nullopt).ok());
    EXPECT_EQ(
        to_json(dag, counting).error().text(),
        std::string(kFailed) + "edge a -> b has weight " + text + ", which JSON cannot represent");
    ASSERT_TRUE(dag.remove_edge("a", "b").ok());
  }
  EXPECT_EQ(calls, 0);
}

TEST(JsonReader, ArrayFormsAndUnknownMembersReadLikeTheObjectForm) {
  const char* object_form = R"({"meta": {"x": [1, {"y": null}]}, "edges": [
      {"weight": 1, "to": "b", "from": "a", "extra": "?", "label": null}],
      "nodes": [{"name": "a", "payload": [1]}, {"payload": null, "name": "b"}]})";
  const char* array_form = R"([[["a", [1]], ["b", null]], [["a", "b", 1, null]]])";
  for (const char* text : {object_form, array_form}) {
    int calls = 0;
    auto dag = from_json(text, [&](const JsonValue& v) {
      ++calls;
      return std::optional<std::string>(to_compact_json(v));
    });
    ASSERT_TRUE(dag.ok()) << dag.error().text();
    EXPECT_EQ(calls, 1) << "null and missing payloads never reach the hook";
    EXPECT_EQ((*dag)->payload(0), "[1]");
    EXPECT_EQ((*dag)->payload(1), "");
    EXPECT_EQ((*dag)->graph().edge_weight(0), 1.0);
    EXPECT_EQ((*dag)->graph().edge_label(0), nullptr);
  }
}

TEST(JsonReader, ReportsEveryFaultWithItsMessage) {
  const std::pair<const char*, const char*> cases[] = {
      // syntax
      {"", "EOF while parsing a value"},
      {"{", "EOF while parsing an object"},
      {R"({"nodes" [])", "expected `:`"},
      {R"({1: 2})", "key must be a string"},
      {R"({"nodes": [], })", "trailing comma"},
      {R"({"nodes": [] "edges": []})", "expected `,` or `}`"},
      {R"({"nodes": [{"name": "a", "payload": [1 2]}]})", "expected `,` or `]`"},
      {R"({"nodes": [)", "EOF while parsing a list"},
      {R"({"nodes": [], "edges": []} x)", "trailing characters"},
      {"// comment", "expected value"},
      {R"({"nodes": [{"name": "a)", "EOF while parsing a string"},
      {R"({"nodes": [{"name": "a\q"}]})", "invalid escape"},
      {R"({"nodes": [{"name": "\udc00"}]})", "lone leading surrogate in hex escape"},
      {R"({"nodes": [{"name": "\ud800\u0041"}]})", "lone leading surrogate in hex escape"},
      {R"({"nodes": [{"name": "\ud800x"}]})", "unexpected end of hex escape"},
      {"{\"nodes\": [{\"name\": \"a\x01\"}]}",
       "control character (\\u0000-\\u001F) found while parsing a string"},
      {R"({"nodes": [{"name": "a", "payload": 01}]})", "invalid number"},
      {R"({"nodes": [{"name": "a", "payload": 1.}]})", "invalid number"},
      {R"({"nodes": [{"name": "a", "payload": -}]})", "invalid number"},
      {R"({"nodes": [{"name": "a", "payload": 1e999}]})", "number out of range"},
      {R"({"nodes": [{"name": "a", "payload": NaN}]})", "expected value"},
      {R"({"nodes": [{"name": "a", "payload": nul}]})", "expected ident"},
      {R"({"nodes": [{"name": "a", "payload": [1,]}]})", "trailing comma"},
      // records
      {"5", "invalid type: integer `5`, expected struct SerializableGraph"},
      {R"({"nodes": [], "nodes": [], "edges": []})", "duplicate field `nodes`"},
      {R"({"edges": []})", "missing field `nodes`"},
      {R"({"nodes": []})", "missing field `edges`"},
      {R"({"nodes": {}, "edges": []})", "invalid type: map, expected a sequence"},
      {R"({"nodes": "x", "edges": []})", R"(invalid type: string "x", expected a sequence)"},
      {"[[]]", "invalid length 1, expected struct SerializableGraph with 2 elements"},
      {"[[], [], []]", "trailing characters"},
      {"[[], [],]", "trailing comma"},
      {R"({"nodes": [1], "edges": []})",
       "invalid type: integer `1`, expected struct SerializableNode"},
      {R"({"nodes": [{}], "edges": []})", "missing field `name`"},
      {R"({"nodes": [{"name": "a", "name": "b"}]})", "duplicate field `name`"},
      {R"({"nodes": [{"name": 1.5}]})", "invalid type: floating point `1.5`, expected a string"},
      {R"({"nodes": [{"name": true}]})", "invalid type: boolean `true`, expected a string"},
      {R"({"nodes": [["a"]], "edges": []})",
       "invalid length 1, expected struct SerializableNode with 2 elements"},
      {R"({"nodes": [["a", null, 3]], "edges": []})", "trailing characters"},
      {R"({"nodes": [], "edges": [null]})", "invalid type: null, expected struct SerializableEdge"},
      {R"({"nodes": [], "edges": [{"from": "a", "to": "b"}]})", "missing field `weight`"},
      {R"({"nodes": [], "edges": [{"from": "a", "to": "b", "weight": 1, "label": "x", "label": "y"}]})",
       "duplicate field `label`"},
      {R"({"nodes": [], "edges": [{"from": "a", "to": "b", "weight": "1"}]})",
       R"(invalid type: string "1", expected f64)"},
      {R"({"nodes": [], "edges": [{"from": [], "to": "b", "weight": 1}]})",
       "invalid type: sequence, expected a string"},
      {R"({"nodes": [], "edges": [{"from": "a", "to": "b", "weight": 1, "label": 5}]})",
       "invalid type: integer `5`, expected a string"},
      {R"({"nodes": [], "edges": [["a", "b", 1]]})",
       "invalid length 3, expected struct SerializableEdge with 4 elements"},
      {R"({"nodes": [], "edges": [["a", "b", 1, null, 0]]})", "trailing characters"},
  };
  for (auto [text, message] : cases)
    EXPECT_EQ(reader_fault(text), message) << text;
}

TEST(JsonReader, PositionsCountLinesAndConsumedBytes) {
  auto read = read_serializable_graph("{\n  \"nodes\": 5,\n  \"edges\": []\n}");
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error().text(),
            "invalid type: integer `5`, expected a sequence at line 2 column 12");
  EXPECT_EQ(read_serializable_graph("").error().text(),
            "EOF while parsing a value at line 1 column 0");
}

TEST(JsonReader, AdmitsExactly127OpenContainers) {
  auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  // The document, the node array and the node object take three levels.
  auto document = [&](int payload_depth) {
    return R"({"nodes": [{"name": "a", "payload": )" + nested(payload_depth) +
           R"(}], "edges": []})";
  };
  EXPECT_TRUE(read_serializable_graph(document(124)).ok());
  EXPECT_EQ(reader_fault(document(125)), "recursion limit exceeded");
  EXPECT_TRUE(parse_json_value(nested(127)).ok());
  EXPECT_FALSE(parse_json_value(nested(128)).ok());
  // Deep input far past the limit fails the same way, without exhausting the stack.
  EXPECT_FALSE(parse_json_value(std::string(1'000'000, '[')).ok());
}

TEST(JsonReader, NumbersKeepTheirKinds) {
  auto value = [](const char* text) { return *parse_json_value(text); };
  EXPECT_EQ(value("18446744073709551615").as_uint(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(value("18446744073709551616").as_float(), 18446744073709551616.0);
  EXPECT_EQ(value("-9223372036854775808").as_int(), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(value("-9223372036854775809").kind(), JsonValue::Kind::Float);
  EXPECT_TRUE(std::signbit(value("-0").as_float()));
  EXPECT_EQ(value("2.5E+3").as_float(), 2500.0);
  EXPECT_EQ(value("1e-400").as_float(), 0.0);
  EXPECT_EQ(value("0.1").as_float(), 0.1);
  EXPECT_EQ(value(" \t\r\n7 \n").as_uint(), 7u);
  EXPECT_EQ(value(R"("\u00e9\ud83d\ude00\/")").as_string(), "\xc3\xa9\xf0\x9f\x98\x80/");
  EXPECT_FALSE(parse_json_value("1 2").ok());
}

TEST(FromSerializable, ReportsTheFirstFailingRecord) {
  auto build = [](const char* text) {
    auto dag = from_json(text);
    return dag.ok() ? TorvexError::graph("(built)") : dag.error();
  };
  EXPECT_EQ(build(R"({"nodes": [{"name": "a"}, {"name": "a"}], "edges": []})"),
            TorvexError::duplicate_node("a"));
  EXPECT_EQ(build(R"({"nodes": [{"name": "a"}], "edges": [["x", "y", 1, null]]})"),
            TorvexError::node_not_found("x"));
  EXPECT_EQ(build(R"({"nodes": [{"name": "a"}], "edges": [["a", "y", 1, null]]})"),
            TorvexError::node_not_found("y"));
  EXPECT_EQ(build(R"([[["a", null], ["b", null]], [["a", "b", 1, null], ["b", "a", 1, null]]])"),
            TorvexError::cycle("Edge b -> a would create a cycle: a -> b"));
  EXPECT_EQ(build(R"([[["a", null]], [["a", "a", 1, null]]])"),
            TorvexError::cycle("Edge a -> a would create a cycle: a"));
  EXPECT_EQ(build(R"({"nodes": [], "edges": [], "x": [})")
                .text()
                .rfind("JSON deserialization failed: ", 0),
            0u);
}

}  // namespace
}  // namespace torvex
