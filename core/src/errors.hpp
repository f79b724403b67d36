// The one error type of the core, and the result type that carries it.
#pragma once

#include <cassert>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace torvex {

// Variant order is part of the contract: the binding maps by ordinal.
enum class ErrorKind : std::uint8_t {
  Cycle = 0,
  NodeNotFound = 1,
  DuplicateNode = 2,
  EdgeNotFound = 3,
  StaleNodeRef = 4,
  Graph = 5,
};

class TorvexError {
 public:
  static TorvexError cycle(std::string message) { return {ErrorKind::Cycle, std::move(message)}; }
  static TorvexError node_not_found(std::string name) {
    return {ErrorKind::NodeNotFound, std::move(name)};
  }
  static TorvexError duplicate_node(std::string name) {
    return {ErrorKind::DuplicateNode, std::move(name)};
  }
  static TorvexError edge_not_found(std::string source, std::string target) {
    return {ErrorKind::EdgeNotFound, std::move(source), std::move(target)};
  }
  static TorvexError stale_node_ref(std::string name) {
    return {ErrorKind::StaleNodeRef, std::move(name)};
  }
  static TorvexError graph(std::string message) { return {ErrorKind::Graph, std::move(message)}; }

  ErrorKind kind() const noexcept { return kind_; }
  // The message (Cycle, Graph) or the node name (NodeNotFound, DuplicateNode, StaleNodeRef),
  // or the source name (EdgeNotFound).
  const std::string& text() const noexcept { return text_; }
  // The target name of EdgeNotFound; empty for every other variant.
  const std::string& target() const noexcept { return target_; }

  // The display text, e.g. "Node not found: a".
  std::string display() const;

  friend bool operator==(const TorvexError&, const TorvexError&) = default;

 private:
  TorvexError(ErrorKind kind, std::string text, std::string target = {})
      : kind_(kind), text_(std::move(text)), target_(std::move(target)) {}

  ErrorKind kind_;
  std::string text_;
  std::string target_;
};

// Every algorithm that needs an order fails with this text.
inline constexpr const char* kGraphHasCycle = "Graph contains a cycle";

// A value or a TorvexError.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  // A default value made in place: GCC 12 takes the move of a fresh value into the variant for
  // a read of uninitialized storage (a false -Wmaybe-uninitialized).
  explicit Result(std::in_place_t) : v_(std::in_place_index<0>) {}
  Result(TorvexError error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  T& value() & {
    assert(ok());
    return *std::get_if<0>(&v_);
  }
  const T& value() const& {
    assert(ok());
    return *std::get_if<0>(&v_);
  }
  // By value, so that `for (x : f().value())` does not dangle.
  T value() && {
    assert(ok());
    return std::move(*std::get_if<0>(&v_));
  }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const TorvexError& error() const& {
    assert(!ok());
    return *std::get_if<1>(&v_);
  }
  TorvexError&& error() && {
    assert(!ok());
    return std::move(*std::get_if<1>(&v_));
  }

 private:
  std::variant<T, TorvexError> v_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(TorvexError error) : error_(std::move(error)), failed_(true) {}

  bool ok() const noexcept { return !failed_; }
  explicit operator bool() const noexcept { return ok(); }
  const TorvexError& error() const& {
    assert(failed_);
    return error_;
  }
  TorvexError&& error() && {
    assert(failed_);
    return std::move(error_);
  }

 private:
  TorvexError error_ = TorvexError::graph({});
  bool failed_ = false;
};

using Status = Result<void>;

}  // namespace torvex

// Propagates the error of a Result-returning expression; yields its value otherwise.
#define TORVEX_TRY(var, expr)                \
  auto var##_result_ = (expr);               \
  if (!var##_result_.ok())                   \
    return std::move(var##_result_).error(); \
  auto var = std::move(var##_result_).value()

#define TORVEX_TRY_STATUS(expr)                 \
  do {                                          \
    auto torvex_status_ = (expr);               \
    if (!torvex_status_.ok())                   \
      return std::move(torvex_status_).error(); \
  } while (0)
