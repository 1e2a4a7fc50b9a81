#include "morvi/utils/deep_stack.hpp"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

namespace morvi::utils {

namespace {

// Starts a thread with a stack of `stack_bytes` running `entry(arg)`.
pthread_t start_thread(std::size_t stack_bytes, void* (*entry)(void*), void* arg) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, stack_bytes);
  pthread_t thread;
  const int started = pthread_create(&thread, &attr, entry, arg);
  pthread_attr_destroy(&attr);
  if (started != 0)
    throw std::system_error(started, std::generic_category(),
                            "cannot start a thread with a stack of " + std::to_string(stack_bytes) + " bytes");
  return thread;
}

// A thread with a stack of DEEP_STACK_BYTES taking one call at a time. Starting such a thread
// costs more than most calls made on it (tens of microseconds, hundreds under a sanitizer), so
// it is kept for the next call; the stack pages a call touched are given back after it, as
// the thread's end gave them back before.
class DeepWorker {
 public:
  DeepWorker() { pthread_detach(start_thread(DEEP_STACK_BYTES, &DeepWorker::main, this)); }

  void run(const std::function<void()>& body) {
    std::unique_lock lock(mutex_);
    body_ = &body;
    error_ = nullptr;
    wake_.notify_one();
    finished_.wait(lock, [this] { return body_ == nullptr; });
    if (error_) std::rethrow_exception(error_);
  }

 private:
  static void* main(void* self) {
    static_cast<DeepWorker*>(self)->serve();
    return nullptr;
  }

  [[noreturn]] void serve() {
    pthread_attr_t attr;
    void* stack = nullptr;
    std::size_t size = 0;
    pthread_getattr_np(pthread_self(), &attr);
    pthread_attr_getstack(&attr, &stack, &size);
    pthread_attr_destroy(&attr);
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return body_ != nullptr; });
      const std::function<void()>* body = body_;
      lock.unlock();
      std::exception_ptr error;
      try {
        (*body)();
      } catch (...) {
        error = std::current_exception();
      }
      give_back_pages_below_here(stack);
      lock.lock();
      error_ = error;
      body_ = nullptr;
      finished_.notify_one();
    }
  }

  // Everything of the stack below this frame, but for a margin for the calls it makes.
  static void give_back_pages_below_here(void* stack_low) {
    constexpr std::uintptr_t kMargin = std::uintptr_t{64} << 10;
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto low = (reinterpret_cast<std::uintptr_t>(stack_low) + page - 1) & ~(page - 1);
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    if (here < low + kMargin + page) return;
    const std::uintptr_t high = (here - kMargin) & ~(page - 1);
    madvise(reinterpret_cast<void*>(low), high - low, MADV_DONTNEED);
  }

  std::mutex mutex_;
  std::condition_variable wake_, finished_;
  const std::function<void()>* body_ = nullptr;
  std::exception_ptr error_;
};

// Workers not in a call. A call takes one (or starts one) and hands it back after, so calls
// made at once on several threads, or from inside a call, each have a worker of their own.
// Never destroyed, like the workers: a thread may make a call while the program ends.
class Idle {
 public:
  DeepWorker* take() {
    {
      const std::lock_guard lock(mutex_);
      if (!workers_.empty()) {
        DeepWorker* worker = workers_.back();
        workers_.pop_back();
        return worker;
      }
    }
    return new DeepWorker();
  }
  void give_back(DeepWorker* worker) {
    const std::lock_guard lock(mutex_);
    workers_.push_back(worker);
  }

 private:
  std::mutex mutex_;
  std::vector<DeepWorker*> workers_;
};

// The workers' threads do not live on in a forked child, which starts with none (and leaves the
// parent's list, whose lock another thread may have held, alone).
Idle*& idle_workers() {
  static Idle* idle = [] {
    pthread_atfork(nullptr, nullptr, [] { idle_workers() = new Idle(); });
    return new Idle();
  }();
  return idle;
}

}  // namespace

void on_stack_of(std::size_t stack_bytes, const std::function<void()>& body) {
  struct Call {
    const std::function<void()>* body;
    std::exception_ptr error;
  } call{&body, nullptr};
  const pthread_t thread = start_thread(
      stack_bytes,
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
  pthread_join(thread, nullptr);
  if (call.error) std::rethrow_exception(call.error);
}

void on_deep_stack(const std::function<void()>& body) {
  Idle& idle = *idle_workers();
  DeepWorker* worker = idle.take();
  struct HandBack {
    Idle& idle;
    DeepWorker* worker;
    ~HandBack() { idle.give_back(worker); }
  } hand_back{idle, worker};
  worker->run(body);
}

}  // namespace morvi::utils
