// The generic JSON value that carries payloads through the JSON document and the binary form.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace torvex {

// At most this many arrays and objects may be open at once when JSON text is read, the
// outermost included.
inline constexpr int kJsonMaxDepth = 127;

// null, boolean, number (non-negative integer, negative integer or finite float), string,
// array or object. Object keys stay in ascending byte order (a shorter prefix first), which
// is the order every writer emits them in.
class JsonValue {
 public:
  enum class Kind : std::uint8_t { Null, Bool, UInt, Int, Float, String, Array, Object };
  using Array = std::vector<JsonValue>;
  // std::less on strings compares bytes as unsigned char: exactly the key order we need.
  using Object = std::map<std::string, JsonValue, std::less<>>;

  JsonValue() noexcept = default;  // null
  JsonValue(std::nullptr_t) noexcept {}
  JsonValue(bool b) noexcept : v_(b) {}
  JsonValue(std::uint64_t u) noexcept : v_(u) {}
  // A non-negative value is kept as an unsigned integer, so each number has one form.
  JsonValue(std::int64_t i) noexcept;
  JsonValue(int i) noexcept : JsonValue(static_cast<std::int64_t>(i)) {}
  // A number is never NaN or infinite: such a value becomes null.
  JsonValue(double d) noexcept;
  JsonValue(std::string s) noexcept : v_(std::move(s)) {}
  JsonValue(std::string_view s) : v_(std::string(s)) {}
  JsonValue(const char* s) : v_(std::string(s)) {}
  JsonValue(Array a) noexcept : v_(std::move(a)) {}
  JsonValue(Object o) noexcept : v_(std::move(o)) {}

  Kind kind() const noexcept { return static_cast<Kind>(v_.index()); }
  bool is_null() const noexcept { return kind() == Kind::Null; }

  // Requires: the matching kind.
  bool as_bool() const { return std::get<bool>(v_); }
  std::uint64_t as_uint() const { return std::get<std::uint64_t>(v_); }
  std::int64_t as_int() const { return std::get<std::int64_t>(v_); }
  double as_float() const { return std::get<double>(v_); }
  const std::string& as_string() const { return std::get<std::string>(v_); }
  const Array& as_array() const { return std::get<Array>(v_); }
  Array& as_array() { return std::get<Array>(v_); }
  const Object& as_object() const { return std::get<Object>(v_); }
  Object& as_object() { return std::get<Object>(v_); }

  // Inserts or replaces a member. Requires: an object.
  void set(std::string key, JsonValue value);

  friend bool operator==(const JsonValue& a, const JsonValue& b);

 private:
  // Alternative order follows Kind.
  std::variant<std::monostate, bool, std::uint64_t, std::int64_t, double, std::string, Array,
               Object>
      v_;
};

// Arrays and objects open at the deepest point of `value`; 0 for a scalar. Recursion follows
// the value's own nesting, which its builder bounds.
int nesting_depth(const JsonValue& value);

}  // namespace torvex
