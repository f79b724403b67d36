// Stopping long computations from outside. The program around the core (the Python module)
// installs a check for the running thread; each long loop calls poll() once per step, and every
// few thousand steps, at most every few tens of milliseconds, poll() runs that check. When the
// check says stop, poll() unwinds with Interrupted.
//
// Interrupted unwinds exactly like std::bad_alloc, so a poll belongs only where an allocation
// could fail as well: whatever survives a failed allocation there survives it too.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>

namespace torvex::interrupt {

// Thrown by poll() when the check asked to stop; whoever installed the check knows why.
class Interrupted : public std::exception {
 public:
  const char* what() const noexcept override { return "computation interrupted"; }
};

// True when the running computation must stop. Runs on the computing thread.
using Check = bool (*)();

namespace detail {

inline constexpr std::uint32_t kStepsPerLook = 1024;
inline constexpr std::chrono::milliseconds kCheckInterval{50};

struct ThreadState {
  std::uint32_t countdown = kStepsPerLook;
  Check check = nullptr;
  std::chrono::steady_clock::time_point next_check{};
};

// Initial-exec: a thread's copy exists from its creation, so a poll never allocates it.
extern constinit thread_local ThreadState t_state __attribute__((tls_model("initial-exec")));

// The slow path of stop_requested: looks at the clock and runs the check when it is due.
bool look();
[[noreturn]] void stop();

}  // namespace detail

// Installs `check` (null: none) for this thread for the scope's lifetime; scopes nest.
class Scope {
 public:
  explicit Scope(Check check) noexcept : saved_(detail::t_state.check) {
    detail::t_state.check = check;
  }
  ~Scope() { detail::t_state.check = saved_; }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

 private:
  Check saved_;
};

// Counts `steps` steps of work; true when the check was due and said stop. For loops that
// stop by hand.
inline bool stop_requested(std::size_t steps = 1) {
  if (detail::t_state.countdown > steps) [[likely]] {
    detail::t_state.countdown -= static_cast<std::uint32_t>(steps);
    return false;
  }
  return detail::look();
}

// Counts `steps` steps of work and unwinds with Interrupted when the check says stop.
inline void poll(std::size_t steps = 1) {
  if (stop_requested(steps)) [[unlikely]]
    detail::stop();
}

// For loops whose steps cost a few instructions: counts step `i` of a loop, touching the
// countdown only once per kStride steps, so the loop keeps its state in registers.
inline constexpr std::size_t kStride = 256;
inline void poll_at(std::size_t i) {
  if (i % kStride == 0) [[unlikely]]
    poll(kStride);
}

// `less` that polls once per comparison, for sorts of millions of items. A stop inside a sort
// leaves the range in no defined state (an item may be lost to a copy of another), so sort
// this way only what the caller drops when it unwinds.
template <class Less>
auto polling(Less less) {
  return [less](const auto& a, const auto& b) {
    poll();
    return less(a, b);
  };
}

}  // namespace torvex::interrupt
