// Golden files: exact texts and bytes kept under tests/core/golden/, compared whole so that a
// layout change shows as a readable diff.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>

namespace torvex::testing {

// The file's bytes, verbatim.
inline std::string read_golden(const std::string& name) {
  std::ifstream in(std::string(TORVEX_TESTS_DIR) + "/golden/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << "missing golden file " << name;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Bytes written as hexadecimal pairs; whitespace and '#' comments to the end of a line ignored.
inline std::string read_golden_hex(const std::string& name) {
  const std::string text = read_golden(name);
  std::string bytes;
  std::string pair;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '#') {
      while (i < text.size() && text[i] != '\n')
        ++i;
    } else if (std::isxdigit(static_cast<unsigned char>(text[i]))) {
      pair += text[i];
      if (pair.size() == 2) {
        bytes += static_cast<char>(std::stoi(pair, nullptr, 16));
        pair.clear();
      }
    }
  }
  return bytes;
}

}  // namespace torvex::testing
