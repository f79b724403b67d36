// The JSON document reader on arbitrary text.
//
// A refused text must give one of the reader's errors, with its position; an accepted one must
// give a consistent graph whose written document reads back to the same graph and the same
// text, and whose binary form carries the same graph too.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "fuzz_support.hpp"
#include "graph/serialization.hpp"

namespace torvex::fuzz {
namespace {

bool all_digits(std::string_view s) {
  if (s.empty())
    return false;
  for (const char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c)))
      return false;
  }
  return true;
}

// "JSON deserialization failed: <message> at line L column C", L within the text.
void check_reader_error(const TorvexError& error, std::string_view text) {
  const std::string& message = error.text();
  check(starts_with(message, "JSON deserialization failed: "), "reader error prefix", message);
  const std::size_t at = message.rfind(" at line ");
  check(at != std::string::npos, "reader error without a position", message);
  const std::string_view position = std::string_view(message).substr(at + 9);
  const std::size_t column = position.find(" column ");
  check(column != std::string_view::npos, "reader error without a column", message);
  const std::string_view line = position.substr(0, column);
  check(all_digits(line) && all_digits(position.substr(column + 8)), "position digits", message);
  const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  check(line.size() <= 20 && std::stoull(std::string(line)) >= 1 &&
            std::stoull(std::string(line)) <= lines,
        "reader error line outside the text", message);
}

void check_error(const TorvexError& error, std::string_view text) {
  switch (error.kind()) {
    case ErrorKind::Graph:
      check_reader_error(error, text);
      break;
    case ErrorKind::Cycle:
      check(starts_with(error.text(), "Edge "), "cycle error text", error.text());
      break;
    case ErrorKind::DuplicateNode:
    case ErrorKind::NodeNotFound:
      // Names come out of valid text unharmed.
      check(!is_utf8(text) || is_utf8(error.text()), "error names a mangled node");
      break;
    default:
      fail("a reader gave an error it never gives", error.display());
  }
}

// A recogniser of RFC 8259 syntax, written apart from the reader: whatever the reader accepts
// must pass it. Nothing but syntax: any depth, any numbers, surrogate escapes unpaired.
class JsonSyntax {
 public:
  explicit JsonSyntax(std::string_view text) : s_(text) {}

  bool document() {
    space();
    if (!value())
      return false;
    space();
    return i_ == s_.size();
  }

 private:
  int peek() const { return i_ < s_.size() ? static_cast<unsigned char>(s_[i_]) : -1; }
  bool eat(char c) {
    if (peek() != static_cast<unsigned char>(c))
      return false;
    ++i_;
    return true;
  }
  void space() {
    while (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')
      ++i_;
  }
  bool word(std::string_view w) {
    if (s_.substr(i_, w.size()) != w)
      return false;
    i_ += w.size();
    return true;
  }
  std::size_t digits() {
    const std::size_t start = i_;
    while (peek() >= '0' && peek() <= '9')
      ++i_;
    return i_ - start;
  }

  bool value() {
    switch (peek()) {
      case '{':
        return container('}', true);
      case '[':
        return container(']', false);
      case '"':
        return string();
      case 't':
        return word("true");
      case 'f':
        return word("false");
      case 'n':
        return word("null");
      default:
        return number();
    }
  }

  bool container(char close, bool object) {
    ++i_;
    space();
    if (eat(close))
      return true;
    for (;;) {
      if (object) {
        if (!string())
          return false;
        space();
        if (!eat(':'))
          return false;
        space();
      }
      if (!value())
        return false;
      space();
      if (eat(close))
        return true;
      if (!eat(','))
        return false;
      space();
    }
  }

  bool string() {
    if (!eat('"'))
      return false;
    for (;;) {
      const int c = peek();
      if (c < 0x20)
        return false;  // the end of the text, or a raw control character
      ++i_;
      if (c == '"')
        return true;
      if (c != '\\')
        continue;
      const int e = peek();
      ++i_;
      if (e == 'u') {
        for (int k = 0; k < 4; ++k) {
          if (!std::isxdigit(peek()))
            return false;
          ++i_;
        }
      } else if (std::string_view("\"\\/bfnrt").find(static_cast<char>(e)) ==
                     std::string_view::npos ||
                 e < 0) {
        return false;
      }
    }
  }

  bool number() {
    eat('-');
    if (!eat('0') && (peek() < '1' || peek() > '9' || !digits()))
      return false;
    if (eat('.') && !digits())
      return false;
    if (eat('e') || eat('E')) {
      if (!eat('+'))
        eat('-');
      if (!digits())
        return false;
    }
    return true;
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

}  // namespace
}  // namespace torvex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace torvex;
  using namespace torvex::fuzz;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  auto read = read_new([&](JsonDag& d) { return from_json_into(text, d, read_payload); });
  if (!read.ok()) {
    check_error(read.error(), text);
    return 0;
  }
  const JsonDag& dag = **read;
  check(JsonSyntax(text).document(), "accepted text that is not JSON");
  check_fresh_graph(dag);

  // Writing and reading again is a fixed point.
  // A graph read from a document holds nothing a document cannot.
  auto document = to_json(dag, write_payload);
  check(document.ok(), "the writer refuses a graph read from a document",
        document.ok() ? "" : document.error().text());
  const std::string& written = *document;
  auto again = read_new([&](JsonDag& d) { return from_json_into(written, d, read_payload); });
  check(again.ok(), "the written document is refused", again.ok() ? "" : again.error().display());
  check_same_graph(dag, **again, Payloads::Same, "document read back");
  auto rewritten = to_json(**again, write_payload);
  check(rewritten.ok() && *rewritten == written, "document written twice differs");

  // The binary form holds the same graph. It refuses text that is not UTF-8, which the JSON
  // reader passes through: only valid text reaches the reader from Python. From valid text, so
  // the round trip also shows, every name, label and payload string comes out valid (escapes
  // decoded, surrogates paired).
  if (!is_utf8(text))
    return 0;
  const std::string bytes = to_bincode(dag, write_payload).value();
  const std::span<const std::uint8_t> view(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                           bytes.size());
  auto decoded = read_new([&](JsonDag& d) { return from_bincode_into(view, d, read_payload); });
  check(decoded.ok(), "the binary form is refused", decoded.ok() ? "" : decoded.error().display());
  check_same_graph(dag, **decoded, Payloads::Same, "binary form read back");
  return 0;
}
