#include "serialization/json_parser.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <utility>

#include "serialization/number_text.hpp"
#include "utf8.hpp"

namespace torvex {

namespace {

// Every message of the token layer, in one place.
namespace msg {
constexpr const char* kEofValue = "EOF while parsing a value";
constexpr const char* kEofList = "EOF while parsing a list";
constexpr const char* kEofObject = "EOF while parsing an object";
constexpr const char* kEofString = "EOF while parsing a string";
constexpr const char* kExpectedValue = "expected value";
constexpr const char* kExpectedIdent = "expected ident";
constexpr const char* kListCommaOrEnd = "expected `,` or `]`";
constexpr const char* kObjectCommaOrEnd = "expected `,` or `}`";
constexpr const char* kExpectedColon = "expected `:`";
constexpr const char* kKeyMustBeString = "key must be a string";
constexpr const char* kInvalidEscape = "invalid escape";
constexpr const char* kInvalidNumber = "invalid number";
constexpr const char* kNumberOutOfRange = "number out of range";
constexpr const char* kInvalidCodePoint = "invalid unicode code point";
constexpr const char* kLoneSurrogate = "lone leading surrogate in hex escape";
constexpr const char* kEndOfHexEscape = "unexpected end of hex escape";
constexpr const char* kControlCharacter =
    "control character (\\u0000-\\u001F) found while parsing a string";
constexpr const char* kTrailingComma = "trailing comma";
constexpr const char* kTrailingCharacters = "trailing characters";
constexpr const char* kRecursionLimit = "recursion limit exceeded";

constexpr const char* kSequence = "a sequence";
constexpr const char* kString = "a string";
constexpr const char* kF64 = "f64";

std::string invalid_type(std::string_view found, std::string_view expected) {
  return "invalid type: " + std::string(found) + ", expected " + std::string(expected);
}
}  // namespace msg

bool is_digit(int c) {
  return c >= '0' && c <= '9';
}

// A string as an "invalid type" message shows it: quoted, with the usual escapes.
std::string quoted_for_message(std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\u{";
          if (c >= 0x10)
            out += kHex[c >> 4];
          out += kHex[c & 0xF];
          out += '}';
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

}  // namespace

// A number literal as read: an unsigned or negative integer when it fits, else a float.
struct JsonParser::Number {
  JsonValue::Kind kind = JsonValue::Kind::UInt;
  std::uint64_t u = 0;
  std::int64_t i = 0;
  double d = 0;

  double as_double() const {
    switch (kind) {
      case JsonValue::Kind::UInt:
        return static_cast<double>(u);
      case JsonValue::Kind::Int:
        return static_cast<double>(i);
      default:
        return d;
    }
  }
  JsonValue value() const {
    switch (kind) {
      case JsonValue::Kind::UInt:
        return JsonValue(u);
      case JsonValue::Kind::Int:
        return JsonValue(i);
      default:
        return JsonValue(d);
    }
  }
  std::string describe() const {
    switch (kind) {
      case JsonValue::Kind::UInt:
        return "integer `" + std::to_string(u) + "`";
      case JsonValue::Kind::Int:
        return "integer `" + std::to_string(i) + "`";
      default: {
        std::string out = "floating point `";
        append_json_float(out, d);
        return out + "`";
      }
    }
  }
};

TorvexError JsonParser::error() const {
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < fail_at_; ++i) {
    if (s_[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return TorvexError::graph(failure_ + " at line " + std::to_string(line) + " column " +
                            std::to_string(fail_at_ - line_start));
}

bool JsonParser::at_end() {
  if (peek() >= 0)
    return peek_fail(msg::kTrailingCharacters);
  return true;
}

// --- values -----------------------------------------------------------------------------------

bool JsonParser::read_string(std::string& out) {
  const int c = peek();
  if (c < 0)
    return peek_fail(msg::kEofValue);
  if (c != '"')
    return unexpected(msg::kString);
  ++pos_;
  return parse_string(out);
}

bool JsonParser::read_optional_string(std::optional<std::string>& out) {
  if (peek() == 'n') {
    ++pos_;
    out.reset();
    return ident("ull");
  }
  out.emplace();
  return read_string(*out);
}

bool JsonParser::read_f64(double& out) {
  const int c = peek();
  if (c < 0)
    return peek_fail(msg::kEofValue);
  if (c != '-' && !is_digit(c))
    return unexpected(msg::kF64);
  Number n;
  if (!parse_number(n))
    return false;
  out = n.as_double();
  return true;
}

// null means nothing.
bool JsonParser::read_optional_value(std::optional<JsonValue>& out) {
  if (peek() == 'n') {
    ++pos_;
    out.reset();
    return ident("ull");
  }
  out.emplace();
  return read_value(&*out);
}

bool JsonParser::read_value(JsonValue* out) {
  const int c = peek();
  if (c < 0)
    return peek_fail(msg::kEofValue);
  switch (c) {
    case 'n':
      ++pos_;
      if (out)
        *out = JsonValue();
      return ident("ull");
    case 't':
      ++pos_;
      if (out)
        *out = JsonValue(true);
      return ident("rue");
    case 'f':
      ++pos_;
      if (out)
        *out = JsonValue(false);
      return ident("alse");
    case '"': {
      ++pos_;
      std::string s;
      if (!parse_string(s))
        return false;
      if (out)
        *out = JsonValue(std::move(s));
      return true;
    }
    case '[': {
      JsonValue::Array array;
      if (!read_sequence([&] {
            if (!out)
              return read_value(nullptr);
            array.emplace_back();
            return read_value(&array.back());
          })) {
        return false;
      }
      if (out)
        *out = JsonValue(std::move(array));
      return true;
    }
    case '{': {
      JsonValue::Object object;
      if (!read_members([&](std::string& key) {
            if (!colon())
              return false;
            if (!out)
              return read_value(nullptr);
            JsonValue member;
            if (!read_value(&member))
              return false;
            object.insert_or_assign(std::move(key), std::move(member));
            return true;
          })) {
        return false;
      }
      if (out)
        *out = JsonValue(std::move(object));
      return true;
    }
    default:
      if (c == '-' || is_digit(c)) {
        Number n;
        if (!parse_number(n))
          return false;
        if (out)
          *out = n.value();
        return true;
      }
      return peek_fail(msg::kExpectedValue);
  }
}

// --- failures and tokens ----------------------------------------------------------------------

bool JsonParser::fail_after(std::string message, std::size_t consumed) {
  failure_ = std::move(message);
  fail_at_ = std::min(consumed, s_.size());
  return false;
}
bool JsonParser::fail(std::string message) {
  return fail_after(std::move(message), pos_);
}
bool JsonParser::peek_fail(std::string message) {
  return fail_after(std::move(message), pos_ + 1);
}

// peek_fail for the scanners that answer -1, 0 or 1.
int JsonParser::refuse(const char* message) {
  peek_fail(message);
  return -1;
}

bool JsonParser::unexpected(std::string_view expected) {
  const int c = peek();
  std::string found;
  if (c == '[') {
    found = "sequence";
  } else if (c == '{') {
    found = "map";
  } else if (c == 'n' || c == 't' || c == 'f') {
    ++pos_;
    if (!ident(c == 'n' ? "ull" : c == 't' ? "rue" : "alse"))
      return false;
    found = c == 'n' ? "null" : c == 't' ? "boolean `true`" : "boolean `false`";
  } else if (c == '"') {
    ++pos_;
    std::string s;
    if (!parse_string(s))
      return false;
    found = "string " + quoted_for_message(s);
  } else if (c == '-' || is_digit(c)) {
    Number n;
    if (!parse_number(n))
      return false;
    found = n.describe();
  } else {
    return peek_fail(msg::kExpectedValue);
  }
  return fail(msg::invalid_type(found, expected));
}

int JsonParser::peek() noexcept {
  while (pos_ < s_.size()) {
    const char c = s_[pos_];
    if (c != ' ' && c != '\n' && c != '\t' && c != '\r')
      return static_cast<unsigned char>(c);
    ++pos_;
  }
  return -1;
}

bool JsonParser::ident(std::string_view rest) {
  for (char expected : rest) {
    if (pos_ >= s_.size())
      return fail(msg::kEofValue);
    if (s_[pos_++] != expected)
      return fail(msg::kExpectedIdent);
  }
  return true;
}

bool JsonParser::colon() {
  const int c = peek();
  if (c == ':') {
    ++pos_;
    return true;
  }
  return peek_fail(c < 0 ? msg::kEofObject : msg::kExpectedColon);
}

bool JsonParser::open_container() {
  if (++depth_ > kJsonMaxDepth)
    return peek_fail(msg::kRecursionLimit);
  ++pos_;
  return true;
}

int JsonParser::next_element(bool& first) {
  int c = peek();
  if (c == ']')
    return 0;
  if (c == ',' && !first) {
    ++pos_;
    c = peek();
  } else if (c >= 0) {
    if (!first)
      return refuse(msg::kListCommaOrEnd);
    first = false;
  } else {
    return refuse(msg::kEofList);
  }
  if (c == ']')
    return refuse(msg::kTrailingComma);
  if (c < 0)
    return refuse(msg::kEofValue);
  return 1;
}

int JsonParser::next_key(bool& first, std::string& key) {
  int c = peek();
  if (c == '}')
    return 0;
  if (c == ',' && !first) {
    ++pos_;
    c = peek();
  } else if (c >= 0) {
    if (!first)
      return refuse(msg::kObjectCommaOrEnd);
    first = false;
  } else {
    return refuse(msg::kEofObject);
  }
  if (c == '"') {
    ++pos_;
    key.clear();
    return parse_string(key) ? 1 : -1;
  }
  if (c == '}')
    return refuse(msg::kTrailingComma);
  if (c < 0)
    return refuse(msg::kEofValue);
  return refuse(msg::kKeyMustBeString);
}

bool JsonParser::end_array() {
  int c = peek();
  if (c == ']') {
    close_container();
    return true;
  }
  if (c == ',') {
    ++pos_;
    c = peek();
    return peek_fail(c == ']' ? msg::kTrailingComma : msg::kTrailingCharacters);
  }
  return peek_fail(c < 0 ? msg::kEofList : msg::kListCommaOrEnd);
}

// --- strings -------------------------------------------------------------------------------

// After the opening quote; consumes the closing one.
bool JsonParser::parse_string(std::string& out) {
  for (;;) {
    std::size_t run = pos_;
    while (pos_ < s_.size()) {
      const auto c = static_cast<unsigned char>(s_[pos_]);
      if (c == '"' || c == '\\' || c < 0x20)
        break;
      ++pos_;
    }
    out.append(s_.data() + run, pos_ - run);
    if (pos_ >= s_.size())
      return fail(msg::kEofString);
    const char c = s_[pos_++];
    if (c == '"')
      return true;
    if (c != '\\')
      return fail(msg::kControlCharacter);
    if (!parse_escape(out))
      return false;
  }
}

bool JsonParser::parse_escape(std::string& out) {
  if (pos_ >= s_.size())
    return fail(msg::kEofString);
  switch (s_[pos_++]) {
    case '"':
      out += '"';
      return true;
    case '\\':
      out += '\\';
      return true;
    case '/':
      out += '/';
      return true;
    case 'b':
      out += '\b';
      return true;
    case 'f':
      out += '\f';
      return true;
    case 'n':
      out += '\n';
      return true;
    case 'r':
      out += '\r';
      return true;
    case 't':
      out += '\t';
      return true;
    case 'u':
      break;
    default:
      return fail(msg::kInvalidEscape);
  }
  std::uint32_t unit = 0;
  if (!hex4(unit))
    return false;
  if (unit >= 0xDC00 && unit <= 0xDFFF)
    return fail(msg::kLoneSurrogate);
  if (unit < 0xD800 || unit > 0xDBFF) {
    append_utf8(out, unit);
    return true;
  }
  // A high surrogate must be followed by an escaped low one.
  for (char expected : {'\\', 'u'}) {
    if (pos_ >= s_.size())
      return fail(msg::kEofString);
    if (s_[pos_++] != expected)
      return fail(msg::kEndOfHexEscape);
  }
  std::uint32_t low = 0;
  if (!hex4(low))
    return false;
  if (low < 0xDC00 || low > 0xDFFF)
    return fail(msg::kLoneSurrogate);
  const std::uint32_t cp = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
  if (cp > 0x10FFFF)
    return fail(msg::kInvalidCodePoint);
  append_utf8(out, cp);
  return true;
}

bool JsonParser::hex4(std::uint32_t& out) {
  if (s_.size() - pos_ < 4) {
    pos_ = s_.size();
    return fail(msg::kEofString);
  }
  out = 0;
  for (int k = 0; k < 4; ++k) {
    const char c = s_[pos_++];
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else {
      return fail(msg::kInvalidEscape);
    }
    out = out * 16 + static_cast<std::uint32_t>(v);
  }
  return true;
}

// --- numbers -------------------------------------------------------------------------------

std::size_t JsonParser::digits() noexcept {
  const std::size_t start = pos_;
  while (pos_ < s_.size() && is_digit(s_[pos_]))
    ++pos_;
  return pos_ - start;
}

// At least one digit must follow; the byte that is not one counts as consumed.
bool JsonParser::need_digits() {
  if (digits() > 0)
    return true;
  return fail_after(msg::kInvalidNumber, pos_ + 1);
}

bool JsonParser::parse_number(Number& n) {
  const std::size_t start = pos_;
  const bool negative = s_[pos_] == '-';
  if (negative)
    ++pos_;
  // Integer part: a single 0, or digits that do not start with 0.
  const std::size_t int_start = pos_;
  if (pos_ < s_.size() && s_[pos_] == '0') {
    ++pos_;
    if (pos_ < s_.size() && is_digit(s_[pos_]))
      return peek_fail(msg::kInvalidNumber);
  } else if (!need_digits()) {
    return false;
  }
  const std::size_t int_end = pos_;
  bool is_float = false;
  if (pos_ < s_.size() && s_[pos_] == '.') {
    ++pos_;
    if (!need_digits())
      return false;
    is_float = true;
  }
  const std::size_t frac_end = pos_;
  std::int64_t exponent = 0;
  if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
    ++pos_;
    bool negative_exponent = false;
    if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) {
      negative_exponent = s_[pos_] == '-';
      ++pos_;
    }
    const std::size_t exp_start = pos_;
    if (!need_digits())
      return false;
    for (std::size_t k = exp_start; k < pos_ && exponent < 1'000'000'000; ++k) {
      exponent = exponent * 10 + (s_[k] - '0');
    }
    if (negative_exponent)
      exponent = -exponent;
    is_float = true;
  }
  const std::string_view literal = s_.substr(start, pos_ - start);
  const std::string_view int_digits = s_.substr(int_start, int_end - int_start);

  if (!is_float && integer(negative, int_digits, n))
    return true;
  return to_float(literal, s_.substr(int_start, frac_end - int_start), exponent, n);
}

// An integer literal that fits its 64-bit kind; -0 stays a float.
bool JsonParser::integer(bool negative, std::string_view digits, Number& n) {
  std::uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
  if (ec != std::errc())
    return false;
  if (!negative) {
    n.kind = JsonValue::Kind::UInt;
    n.u = magnitude;
    return true;
  }
  constexpr std::uint64_t kMinMagnitude = std::uint64_t{1} << 63;
  if (magnitude == 0 || magnitude > kMinMagnitude)
    return false;
  n.kind = JsonValue::Kind::Int;
  n.i = magnitude == kMinMagnitude ? std::numeric_limits<std::int64_t>::min()
                                   : -static_cast<std::int64_t>(magnitude);
  return true;
}

// The nearest double; `mantissa` is the integer and fraction digits with the point.
bool JsonParser::to_float(std::string_view literal, std::string_view mantissa,
                          std::int64_t exponent, Number& n) {
  n.kind = JsonValue::Kind::Float;
  auto [end, ec] = std::from_chars(literal.data(), literal.data() + literal.size(), n.d);
  if (ec == std::errc())
    return true;
  // Out of range: overflow fails, underflow reads as zero. The decimal exponent of the first
  // significant digit tells which.
  std::int64_t integer_digits = 0;
  std::int64_t first_significant = -1;
  std::int64_t position = 0;
  bool after_point = false;
  for (char c : mantissa) {
    if (c == '.') {
      after_point = true;
      continue;
    }
    if (!after_point)
      ++integer_digits;
    if (c != '0' && first_significant < 0)
      first_significant = position;
    ++position;
  }
  if (exponent + integer_digits - 1 - first_significant > 0)
    return fail(msg::kNumberOutOfRange);
  n.d = literal[0] == '-' ? -0.0 : 0.0;
  return true;
}
void JsonParser::close_container() noexcept {
  ++pos_;
  --depth_;
}

bool JsonParser::open_sequence() {
  const int c = peek();
  if (c < 0)
    return peek_fail(msg::kEofValue);
  if (c != '[')
    return unexpected(msg::kSequence);
  return open_container();
}

}  // namespace torvex
