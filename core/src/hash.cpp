#include "hash.hpp"

#include <unistd.h>

#include <atomic>
#include <chrono>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace torvex {

std::uint64_t random_seed() noexcept {
  std::uint64_t seed = 0;
  if (getentropy(&seed, sizeof seed) == 0)
    return seed;
  // getentropy cannot fail for 8 bytes on a supported kernel; still never hand out a fixed key.
  static std::atomic<std::uint64_t> counter{0};
  const auto now =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return XXH3_64bits_withSeed(&now, sizeof now, counter.fetch_add(1) + 0x9E3779B97F4A7C15ull);
}

std::uint64_t hash_bytes(std::string_view bytes, std::uint64_t seed) noexcept {
  return XXH3_64bits_withSeed(bytes.data(), bytes.size(), seed);
}

}  // namespace torvex
