// Text forms of 64-bit floats, built on the shortest digits that read back as the same value.
#pragma once

#include <string>

namespace torvex {

// The JSON form: positional for decimal exponents -5..15 (a whole value gets ".0"), otherwise
// d.ddde±N; "0.0" and "-0.0" for the zeros. Requires: a finite value.
void append_json_float(std::string& out, double value);

// The plain form of DOT and Mermaid labels: never an exponent, no point on a whole value;
// inf, -inf, NaN and -0 for the special values.
void append_plain_float(std::string& out, double value);
std::string plain_float(double value);

}  // namespace torvex
