#include "interrupt.hpp"

namespace torvex::interrupt::detail {

constinit thread_local ThreadState t_state __attribute__((tls_model("initial-exec")));

bool look() {
  t_state.countdown = kStepsPerLook;
  if (t_state.check == nullptr)
    return false;
  const auto now = std::chrono::steady_clock::now();
  if (now < t_state.next_check)
    return false;
  t_state.next_check = now + kCheckInterval;
  return t_state.check();
}

void stop() {
  throw Interrupted();
}

}  // namespace torvex::interrupt::detail
