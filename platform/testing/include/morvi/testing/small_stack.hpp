#pragma once
// Runs a function on a thread with a small stack, so that a test sees a recursion that grows
// with its input as a crash instead of passing on the main thread's roomy stack.
#include <cstddef>
#include <functional>

#include "morvi/utils/deep_stack.hpp"

namespace morvi::testing {

inline constexpr std::size_t kSmallStack = std::size_t{256} << 10;

// Calls `body` on a thread whose stack holds `stack_bytes`; rethrows what it throws.
inline void on_small_stack(const std::function<void()>& body, std::size_t stack_bytes = kSmallStack) {
  utils::on_stack_of(stack_bytes, body);
}

}  // namespace morvi::testing
