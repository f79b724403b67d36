// SipHash-1-3 with both keys zero: the hash of NodeId and NodeRef, equal in every process.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace torvex::binding {

class SipHasher13 {
 public:
  void write(std::string_view bytes) noexcept {
    for (char c : bytes)
      write_byte(static_cast<std::uint8_t>(c));
  }
  void write_byte(std::uint8_t b) noexcept {
    tail_ |= std::uint64_t{b} << (8 * (length_ % 8));
    ++length_;
    if (length_ % 8 == 0) {
      compress(tail_);
      tail_ = 0;
    }
  }
  void write_le(std::uint64_t value, int bytes) noexcept {
    for (int i = 0; i < bytes; ++i)
      write_byte(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  std::uint64_t finish() const noexcept {
    SipHasher13 state = *this;
    state.compress(state.tail_ | (std::uint64_t{state.length_} << 56));
    state.v2_ ^= 0xff;
    for (int i = 0; i < 3; ++i)
      state.round();
    return state.v0_ ^ state.v1_ ^ state.v2_ ^ state.v3_;
  }

 private:
  static std::uint64_t rotl(std::uint64_t x, int b) noexcept { return (x << b) | (x >> (64 - b)); }
  void round() noexcept {
    v0_ += v1_;
    v1_ = rotl(v1_, 13);
    v1_ ^= v0_;
    v0_ = rotl(v0_, 32);
    v2_ += v3_;
    v3_ = rotl(v3_, 16);
    v3_ ^= v2_;
    v0_ += v3_;
    v3_ = rotl(v3_, 21);
    v3_ ^= v0_;
    v2_ += v1_;
    v1_ = rotl(v1_, 17);
    v1_ ^= v2_;
    v2_ = rotl(v2_, 32);
  }
  void compress(std::uint64_t m) noexcept {
    v3_ ^= m;
    round();
    v0_ ^= m;
  }

  // Initial state for the keys (0, 0).
  std::uint64_t v0_ = 0x736f6d6570736575ULL;
  std::uint64_t v1_ = 0x646f72616e646f6dULL;
  std::uint64_t v2_ = 0x6c7967656e657261ULL;
  std::uint64_t v3_ = 0x7465646279746573ULL;
  std::uint64_t tail_ = 0;
  std::uint64_t length_ = 0;
};

// The Python hash of a 64-bit digest: never -1.
inline std::int64_t python_hash(std::uint64_t h) noexcept {
  if (h == ~std::uint64_t{0})
    h -= 1;
  return static_cast<std::int64_t>(h);
}

}  // namespace torvex::binding
