#pragma once
// The writers follow a document's nesting with the machine stack, up to their depth limit.
// They run on a thread of their own whose stack is sized for that limit, so that a caller on
// a small stack (a worker thread, a coroutine) gets a document or the limit's error, never a
// stack overflow. The stack is reserved address space: only the pages a document needs are
// touched.
#include <pthread.h>

#include <cstddef>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

namespace morvi::reporter::trialkit::text {

inline constexpr std::size_t kWriterStack = std::size_t{64} << 20;

// The result of `write()`, computed on a thread with a kWriterStack stack; what it throws is
// rethrown here.
template <class Write>
std::string on_roomy_stack(Write&& write) {
  struct Call {
    Write* write;
    std::string result;
    std::exception_ptr error;
  } call{&write, {}, nullptr};
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) throw std::runtime_error("cannot prepare the writer's thread");
  pthread_attr_setstacksize(&attr, kWriterStack);
  pthread_t thread;
  const int started = pthread_create(
      &thread, &attr,
      [](void* arg) -> void* {
        auto* c = static_cast<Call*>(arg);
        try {
          c->result = (*c->write)();
        } catch (...) {
          c->error = std::current_exception();
        }
        return nullptr;
      },
      &call);
  pthread_attr_destroy(&attr);
  if (started != 0)
    throw std::runtime_error("cannot start the writer's thread: error " + std::to_string(started));
  pthread_join(thread, nullptr);
  if (call.error) std::rethrow_exception(call.error);
  return std::move(call.result);
}

}  // namespace morvi::reporter::trialkit::text
