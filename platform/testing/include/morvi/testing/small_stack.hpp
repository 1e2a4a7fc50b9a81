#pragma once
// Runs a function on a thread with a small stack, so that a test sees a recursion that grows
// with its input as a crash instead of passing on the main thread's roomy stack.
#include <pthread.h>

#include <cstddef>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

namespace morvi::testing {

inline constexpr std::size_t kSmallStack = std::size_t{256} << 10;

// Calls `body` on a thread whose stack holds `stack_bytes`; rethrows what it throws.
inline void on_small_stack(const std::function<void()>& body, std::size_t stack_bytes = kSmallStack) {
  struct Call {
    const std::function<void()>* body;
    std::exception_ptr error;
  } call{&body, nullptr};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, stack_bytes);
  pthread_t thread;
  const int started = pthread_create(
      &thread, &attr,
      [](void* arg) -> void* {
        auto* c = static_cast<Call*>(arg);
        try {
          (*c->body)();
        } catch (...) {
          c->error = std::current_exception();
        }
        return nullptr;
      },
      &call);
  pthread_attr_destroy(&attr);
  if (started != 0) throw std::runtime_error("cannot start a thread: error " + std::to_string(started));
  pthread_join(thread, nullptr);
  if (call.error) std::rethrow_exception(call.error);
}

}  // namespace morvi::testing
