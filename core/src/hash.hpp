// Seeded hashing for maps keyed by user-supplied names: a fresh random key per map resists
// hash flooding, and no order of such a map is ever observable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace torvex {

// 64 bits from the operating system's entropy source.
std::uint64_t random_seed() noexcept;

std::uint64_t hash_bytes(std::string_view bytes, std::uint64_t seed) noexcept;

// Transparent string hasher with its own random key.
struct SeededStringHash {
  using is_transparent = void;
  std::uint64_t seed = random_seed();
  std::size_t operator()(std::string_view s) const noexcept { return hash_bytes(s, seed); }
};

}  // namespace torvex
