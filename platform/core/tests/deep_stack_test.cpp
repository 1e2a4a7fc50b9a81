#include "morvi/utils/deep_stack.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace morvi::utils {
namespace {

std::size_t resident_bytes() {
  std::size_t pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

std::size_t thread_count() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

constexpr std::size_t kMiB = std::size_t{1} << 20;

// Writes to every page of `bytes` of stack, recursing a page-sized frame at a time; calls
// `at_bottom` from the deepest frame.
std::size_t touch_stack(std::size_t bytes, const std::function<void()>& at_bottom = [] {}) {
  volatile char frame[4096];
  for (std::size_t i = 0; i < sizeof frame; i += 512) frame[i] = static_cast<char>(i);
  if (bytes <= sizeof frame) {
    at_bottom();
    return frame[512];
  }
  return touch_stack(bytes - sizeof frame, at_bottom) + frame[0];
}

TEST(DeepStack, HoldsDeepRecursionRethrowsAndKeepsItsThread) {
  // Several times what a thread's usual stack holds.
  on_deep_stack([] { touch_stack(40 * kMiB); });
  EXPECT_THROW(on_deep_stack([] { throw std::out_of_range("deep"); }), std::out_of_range);
  const std::size_t threads = thread_count();
  for (int i = 0; i < 50; ++i) {
    bool ran = false;
    on_deep_stack([&] { ran = true; });
    ASSERT_TRUE(ran);
  }
  EXPECT_EQ(thread_count(), threads);
}

TEST(DeepStack, GivesBackTheStackPagesACallTouched) {
  std::size_t deepest = 0;
  on_deep_stack([&] { touch_stack(48 * kMiB, [&] { deepest = resident_bytes(); }); });
  EXPECT_LT(resident_bytes() + 32 * kMiB, deepest);
}

TEST(DeepStack, CallsFromInsideACallAndFromThreadsAtOnce) {
  int depth = 0;
  on_deep_stack([&] { on_deep_stack([&] { on_deep_stack([&] { depth = 3; }); }); });
  EXPECT_EQ(depth, 3);

  // Each call waits until both have started: one thread serving both would never finish.
  std::mutex mutex;
  std::condition_variable both;
  int started = 0;
  bool met[2] = {false, false};
  const auto call = [&](int i) {
    on_deep_stack([&] {
      std::unique_lock lock(mutex);
      ++started;
      both.notify_all();
      met[i] = both.wait_for(lock, std::chrono::seconds(20), [&] { return started == 2; });
    });
  };
  std::thread other(call, 1);
  call(0);
  other.join();
  EXPECT_TRUE(met[0] && met[1]);
}

TEST(DeepStack, WorksInAForkedChild) {
  on_deep_stack([] {});
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    alarm(20);  // a call left waiting for a thread the child does not have ends the child
    bool ran = false;
    on_deep_stack([&] { ran = true; });
    _exit(ran ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace morvi::utils
