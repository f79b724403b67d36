// The binary form's fields: fixed-width little-endian integers and floats, length-prefixed
// UTF-8 texts and one-byte option tags. Encoding goes to any byte sink; decoding reads a span.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "errors.hpp"

namespace torvex {

static_assert(std::endian::native == std::endian::little, "the binary form is little-endian");

// The texts that follow "Bincode write error: " and "Bincode read error: ".
std::string bincode_write_error(std::string_view detail);
std::string bincode_read_error(std::string_view detail);

// A start no reader accepts: a node count of 2^64 - 1 whose first name is longer than any
// input. A file rewritten in place begins with it until its own first bytes are written last,
// so that an unfinished rewrite never reads as a graph.
inline constexpr std::array<std::uint8_t, 16> kBincodeUnreadableStart = [] {
  std::array<std::uint8_t, 16> start{};
  start.fill(0xFF);
  return start;
}();

// A sink writes bytes and answers false once it cannot; failure() then says why, in the form
// "io error: ...".

// Into a caller's buffer of fixed size; fails when a field does not fit.
class FixedSink {
 public:
  explicit FixedSink(std::span<char> out) noexcept : out_(out) {}
  bool write(const void* data, std::size_t n) noexcept {
    if (n > out_.size() - used_)
      return false;
    if (n)
      std::memcpy(out_.data() + used_, data, n);
    used_ += n;
    return true;
  }
  std::string failure() const { return "io error: failed to write whole buffer"; }

 private:
  std::span<char> out_;
  std::size_t used_ = 0;
};

// Into a growing string; fails only by std::bad_alloc.
class StringSink {
 public:
  explicit StringSink(std::string& out) noexcept : out_(out) {}
  bool write(const void* data, std::size_t n) {
    out_.append(static_cast<const char*>(data), n);
    return true;
  }
  std::string failure() const { return {}; }

 private:
  std::string& out_;
};

// Counts the bytes instead of keeping them; never fails.
class CountingSink {
 public:
  bool write(const void* /*data*/, std::size_t n) noexcept {
    size_ += n;
    return true;
  }
  std::string failure() const { return {}; }
  std::size_t size() const noexcept { return size_; }

 private:
  std::size_t size_ = 0;
};

// The field writers over a sink. Each returns false when the sink refused.
template <class Sink>
class BincodeEncoder {
 public:
  explicit BincodeEncoder(Sink& sink) noexcept : sink_(sink) {}
  bool u64(std::uint64_t v) { return sink_.write(&v, sizeof v); }
  bool f64(double v) { return sink_.write(&v, sizeof v); }
  bool tag(bool present) {
    const char t = present ? 1 : 0;
    return sink_.write(&t, 1);
  }
  bool text(std::string_view s) { return u64(s.size()) && sink_.write(s.data(), s.size()); }
  bool optional_text(const std::string* s) { return tag(s != nullptr) && (!s || text(*s)); }

 private:
  Sink& sink_;
};

// Bytes of a text field (length prefix included), and of an optional one.
inline std::size_t bincode_text_size(std::string_view s) noexcept {
  return 8 + s.size();
}

// The field readers over a span. Every failure is a Graph error with the full
// "Bincode read error: ..." text. No storage is made for a length before its bytes are seen.
class BincodeDecoder {
 public:
  explicit BincodeDecoder(std::span<const std::uint8_t> data) noexcept : data_(data) {}

  Result<std::uint64_t> u64();
  Result<double> f64();
  // A one-byte tag, 0 or 1.
  Result<bool> tag();
  // A length-prefixed text, checked to be UTF-8; a view into the input.
  Result<std::string_view> text();
  // A tag, then the text when present.
  Result<std::optional<std::string_view>> optional_text();

 private:
  bool take(std::size_t n, const std::uint8_t*& at) noexcept;

  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};

// Nothing when `bytes` are UTF-8; otherwise the fault in the form
// "invalid utf-8 sequence of {} bytes from index {}" or
// "incomplete utf-8 byte sequence from index {}".
std::optional<std::string> utf8_error(std::string_view bytes);

}  // namespace torvex
