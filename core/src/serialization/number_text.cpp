#include "serialization/number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace torvex {

namespace {

// The shortest round-trip digits of |value| (no leading or trailing zeros, "0" for zero) and
// the decimal exponent of the first one: |value| = d.ddd x 10^exponent.
struct Digits {
  char buffer[32];
  std::string_view digits;
  int exponent = 0;
};

void shortest_digits(double value, Digits& out) {
  char text[32];
  // Scientific form with no precision is the shortest round trip: "d.ddde±XX".
  auto [end, ec] =
      std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::scientific);
  (void)ec;  // 32 bytes hold every double
  const std::string_view sci(text, static_cast<std::size_t>(end - text));
  const std::size_t e_pos = sci.find('e');
  std::size_t n = 0;
  for (char c : sci.substr(0, e_pos)) {
    if (c != '.')
      out.buffer[n++] = c;
  }
  out.digits = std::string_view(out.buffer, n);
  std::from_chars(sci.data() + e_pos + 1 + (sci[e_pos + 1] == '+'), sci.data() + sci.size(),
                  out.exponent);
}

// Digits laid out without an exponent; the point only when a fraction remains.
void append_positional(std::string& out, std::string_view digits, int exponent) {
  const int n = static_cast<int>(digits.size());
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
  } else if (exponent >= n - 1) {
    out += digits;
    out.append(static_cast<std::size_t>(exponent - (n - 1)), '0');
  } else {
    out += digits.substr(0, static_cast<std::size_t>(exponent) + 1);
    out += '.';
    out += digits.substr(static_cast<std::size_t>(exponent) + 1);
  }
}

}  // namespace

void append_json_float(std::string& out, double value) {
  Digits d;
  shortest_digits(value, d);
  if (std::signbit(value))
    out += '-';
  if (d.exponent >= -5 && d.exponent <= 15) {
    append_positional(out, d.digits, d.exponent);
    if (d.exponent >= static_cast<int>(d.digits.size()) - 1)
      out += ".0";
    return;
  }
  out += d.digits[0];
  if (d.digits.size() > 1) {
    out += '.';
    out += d.digits.substr(1);
  }
  out += d.exponent < 0 ? "e-" : "e+";
  out += std::to_string(std::abs(d.exponent));
}

void append_plain_float(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NaN";
    return;
  }
  if (std::signbit(value))
    out += '-';
  if (std::isinf(value)) {
    out += "inf";
    return;
  }
  Digits d;
  shortest_digits(value, d);
  append_positional(out, d.digits, d.exponent);
}

std::string plain_float(double value) {
  std::string out;
  append_plain_float(out, value);
  return out;
}

}  // namespace torvex
