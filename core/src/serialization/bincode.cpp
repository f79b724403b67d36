#include "serialization/bincode.hpp"

namespace torvex {

namespace {
constexpr const char* kWriteError = "Bincode write error: ";
constexpr const char* kReadError = "Bincode read error: ";
constexpr const char* kTruncated = "io error: failed to fill whole buffer";
constexpr const char* kBadTag = "tag for enum is not valid, found ";
constexpr const char* kBadUtf8 = "string is not valid utf8: ";

TorvexError read_error(std::string_view detail) {
  return TorvexError::graph(bincode_read_error(detail));
}

// The byte length of the UTF-8 sequence a lead byte opens; 0 for a byte that opens none.
int sequence_width(std::uint8_t lead) noexcept {
  if (lead < 0x80)
    return 1;
  if (lead < 0xC2)
    return 0;
  if (lead < 0xE0)
    return 2;
  if (lead < 0xF0)
    return 3;
  if (lead < 0xF5)
    return 4;
  return 0;
}

bool is_continuation(std::uint8_t b) noexcept {
  return (b & 0xC0) == 0x80;
}

// The allowed range of the second byte, which excludes overlong forms, surrogates and code
// points above U+10FFFF.
bool second_byte_ok(std::uint8_t lead, std::uint8_t b) noexcept {
  switch (lead) {
    case 0xE0:
      return b >= 0xA0 && b <= 0xBF;
    case 0xED:
      return b >= 0x80 && b <= 0x9F;
    case 0xF0:
      return b >= 0x90 && b <= 0xBF;
    case 0xF4:
      return b >= 0x80 && b <= 0x8F;
    default:
      return is_continuation(b);
  }
}
}  // namespace

std::string bincode_write_error(std::string_view detail) {
  return kWriteError + std::string(detail);
}

std::string bincode_read_error(std::string_view detail) {
  return kReadError + std::string(detail);
}

std::optional<std::string> utf8_error(std::string_view text) {
  const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const std::uint8_t lead = s[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    const int width = sequence_width(lead);
    // The length of the maximal invalid prefix: how many bytes of the sequence were fine.
    int good = 1;
    bool complete = true;
    if (width == 0) {
      good = 1;
    } else if (i + 1 >= n) {
      complete = false;
    } else if (!(width == 2 ? is_continuation(s[i + 1]) : second_byte_ok(lead, s[i + 1]))) {
      good = 1;
    } else if (width == 2) {
      i += 2;
      continue;
    } else if (i + 2 >= n) {
      complete = false;
    } else if (!is_continuation(s[i + 2])) {
      good = 2;
    } else if (width == 3) {
      i += 3;
      continue;
    } else if (i + 3 >= n) {
      complete = false;
    } else if (!is_continuation(s[i + 3])) {
      good = 3;
    } else {
      i += 4;
      continue;
    }
    if (!complete)
      return "incomplete utf-8 byte sequence from index " + std::to_string(i);
    return "invalid utf-8 sequence of " + std::to_string(good) + " bytes from index " +
           std::to_string(i);
  }
  return std::nullopt;
}

bool BincodeDecoder::take(std::size_t n, const std::uint8_t*& at) noexcept {
  if (n > data_.size() - pos_)
    return false;
  at = data_.data() + pos_;
  pos_ += n;
  return true;
}

Result<std::uint64_t> BincodeDecoder::u64() {
  const std::uint8_t* at;
  if (!take(8, at))
    return read_error(kTruncated);
  std::uint64_t v;
  std::memcpy(&v, at, 8);
  return v;
}

Result<double> BincodeDecoder::f64() {
  const std::uint8_t* at;
  if (!take(8, at))
    return read_error(kTruncated);
  double v;
  std::memcpy(&v, at, 8);
  return v;
}

Result<bool> BincodeDecoder::tag() {
  const std::uint8_t* at;
  if (!take(1, at))
    return read_error(kTruncated);
  if (*at > 1)
    return read_error(kBadTag + std::to_string(*at));
  return *at == 1;
}

Result<std::string_view> BincodeDecoder::text() {
  TORVEX_TRY(length, u64());
  const std::uint8_t* at;
  if (length > data_.size() - pos_ || !take(static_cast<std::size_t>(length), at)) {
    return read_error(kTruncated);
  }
  const std::string_view s(reinterpret_cast<const char*>(at), static_cast<std::size_t>(length));
  if (auto fault = utf8_error(s))
    return read_error(kBadUtf8 + *fault);
  return s;
}

Result<std::optional<std::string_view>> BincodeDecoder::optional_text() {
  TORVEX_TRY(present, tag());
  if (!present)
    return std::optional<std::string_view>();
  TORVEX_TRY(s, text());
  return std::optional<std::string_view>(s);
}

}  // namespace torvex
