// The token layer of the JSON reader: whitespace, literals, strings, numbers, containers and
// the failure record with its position. The document layer (json_reader.cpp) builds records
// on top of it. Internal to the core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "errors.hpp"
#include "serialization/json_value.hpp"

namespace torvex {

// Recursive descent with an explicit bound of kJsonMaxDepth open containers. Every reading
// method returns false once it has recorded the first failure; the caller then stops and
// asks error(). A failure is placed after the bytes consumed when it was found, or after the
// byte that was looked at.
class JsonParser {
 public:
  explicit JsonParser(std::string_view text) noexcept : s_(text) {}

  // The recorded failure: "<message> at line {} column {}".
  TorvexError error() const;

  // The next byte that is not whitespace (left unconsumed), or -1 at the end.
  int peek() noexcept;
  // Only whitespace may follow: else "trailing characters".
  bool at_end();
  // Records a failure after the consumed bytes, or after the byte just looked at.
  bool fail(std::string message);
  bool peek_fail(std::string message);
  // The value at the current position is of the wrong kind: "invalid type: {found},
  // expected {expected}", once the value has been read far enough to name it.
  bool unexpected(std::string_view expected);

  // --- values ------------------------------------------------------------------------------
  // Each refuses other kinds of value with unexpected() naming what it expected.
  bool read_string(std::string& out);                          // "a string"
  bool read_optional_string(std::optional<std::string>& out);  // null or a string
  bool read_f64(double& out);                                  // any number: "f64"
  bool read_optional_value(std::optional<JsonValue>& out);     // null means nothing
  // Any value; a null `out` checks it without keeping it.
  bool read_value(JsonValue* out);

  // --- containers ----------------------------------------------------------------------------
  // Consumes the '[' or '{' that peek() showed, counting it against the depth bound.
  bool open_container();
  // Consumes the ']' or '}' that a scan below stopped at.
  void close_container() noexcept;
  // Before an array element: 1 when one follows, 0 at the closing bracket (not consumed),
  // -1 on failure.
  int next_element(bool& first);
  // Before an object member: 1 after its key was read into `key`, 0 at the closing brace (not
  // consumed), -1 on failure.
  int next_key(bool& first, std::string& key);
  bool colon();
  // After the last wanted element of an array: the closing bracket and nothing else.
  bool end_array();

  // An array; read_element() reads one element. Other kinds are refused as "a sequence".
  template <class ReadElement>
  bool read_sequence(ReadElement&& read_element) {
    if (!open_sequence())
      return false;
    bool first = true;
    for (;;) {
      const int r = next_element(first);
      if (r < 0)
        return false;
      if (r == 0)
        break;
      if (!read_element())
        return false;
    }
    close_container();
    return true;
  }

  // An object whose '{' is next; on_member(key) reads the colon and the value. The closing
  // brace is consumed before returning.
  template <class OnMember>
  bool read_members(OnMember&& on_member) {
    if (!open_container())
      return false;
    bool first = true;
    std::string key;
    for (;;) {
      const int r = next_key(first, key);
      if (r < 0)
        return false;
      if (r == 0)
        break;
      if (!on_member(key))
        return false;
    }
    close_container();
    return true;
  }

 private:
  struct Number;

  bool fail_after(std::string message, std::size_t consumed);
  int refuse(const char* message);
  bool open_sequence();
  bool ident(std::string_view rest);
  bool parse_string(std::string& out);
  bool parse_escape(std::string& out);
  bool hex4(std::uint32_t& out);
  std::size_t digits() noexcept;
  bool need_digits();
  bool parse_number(Number& n);
  static bool integer(bool negative, std::string_view digits, Number& n);
  bool to_float(std::string_view literal, std::string_view mantissa, std::int64_t exponent,
                Number& n);

  std::string_view s_;
  std::size_t pos_ = 0;
  int depth_ = 0;
  std::string failure_;
  std::size_t fail_at_ = 0;
};

}  // namespace torvex
