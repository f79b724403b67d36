// UTF-8 encoding and decoding of one code point, for the readers, the pattern engine and the
// text forms.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace torvex {

// Writes `c` (a Unicode scalar value) in UTF-8 to out[0..4) and returns its length in bytes.
inline std::size_t encode_utf8(char32_t c, unsigned char* out) {
  if (c < 0x80) {
    out[0] = static_cast<unsigned char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
    out[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
    out[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
  out[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
  return 4;
}

// Appends `c` (a Unicode scalar value) to `out` in UTF-8.
inline void append_utf8(std::string& out, char32_t c) {
  unsigned char bytes[4];
  out.append(reinterpret_cast<const char*>(bytes), encode_utf8(c, bytes));
}

// Decodes the code point at text[i] of valid UTF-8 (names in the graph always are) and moves i
// past it.
inline char32_t next_code_point(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    i += 1;
    return lead;
  }
  int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
  char32_t c = lead & (0x3F >> extra);
  for (int k = 1; k <= extra && i + k < text.size(); ++k)
    c = (c << 6) | (byte(i + k) & 0x3F);
  i += static_cast<std::size_t>(extra) + 1;
  return c;
}

}  // namespace torvex
