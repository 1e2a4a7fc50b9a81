#include "morvi/utils/deep_stack.hpp"

#include <pthread.h>

#include <exception>
#include <string>
#include <system_error>

namespace morvi::utils {

void on_stack_of(std::size_t stack_bytes, const std::function<void()>& body) {
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
  if (started != 0)
    throw std::system_error(started, std::generic_category(),
                            "cannot start a thread with a stack of " +
                                std::to_string(stack_bytes) + " bytes");
  pthread_join(thread, nullptr);
  if (call.error) std::rethrow_exception(call.error);
}

}  // namespace morvi::utils
