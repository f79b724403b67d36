// UTF-8 encoding of one code point, for the readers and the pattern engine.
#pragma once

#include <cstddef>
#include <string>

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

}  // namespace torvex
