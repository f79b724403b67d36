#include "serialization/json_value.hpp"

#include <algorithm>
#include <cmath>

namespace torvex {

JsonValue::JsonValue(std::int64_t i) noexcept {
  if (i >= 0) {
    v_ = static_cast<std::uint64_t>(i);
  } else {
    v_ = i;
  }
}

JsonValue::JsonValue(double d) noexcept {
  if (std::isfinite(d))
    v_ = d;
}

void JsonValue::set(std::string key, JsonValue value) {
  as_object().insert_or_assign(std::move(key), std::move(value));
}

bool operator==(const JsonValue& a, const JsonValue& b) {
  return a.v_ == b.v_;
}

int nesting_depth(const JsonValue& value) {
  int deepest = 0;
  switch (value.kind()) {
    case JsonValue::Kind::Array:
      for (const JsonValue& item : value.as_array())
        deepest = std::max(deepest, nesting_depth(item));
      return deepest + 1;
    case JsonValue::Kind::Object:
      for (const auto& [key, item] : value.as_object())
        deepest = std::max(deepest, nesting_depth(item));
      return deepest + 1;
    default:
      return 0;
  }
}

}  // namespace torvex
