// Basic vocabulary shared by the store and the algorithms.
#pragma once

#include <cstdint>
#include <string_view>

namespace torvex {

// 32-bit slot indices; the all-ones value marks the end of a list and is never a slot.
using NodeIndex = std::uint32_t;
using EdgeIndex = std::uint32_t;
inline constexpr std::uint32_t kEnd = 0xFFFFFFFFu;

enum class Direction { Outgoing, Incoming };

// Name order: UTF-8 bytes compared as unsigned, a shorter prefix first.
// std::char_traits<char> compares as unsigned char, so string_view's operator< is exactly that.
inline bool name_less(std::string_view a, std::string_view b) noexcept {
  return a < b;
}

}  // namespace torvex
