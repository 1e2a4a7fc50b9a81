#pragma once
// A stack deep enough for recursive code over a results document as deep as its readers take
// (MAX_RESULTS_NESTING levels): the schema validator and nlohmann's copies and dumps recurse
// once or more per level, which a thread's usual 8 MiB does not hold at that depth.
#include <cstddef>
#include <functional>

#include "morvi/results_depth.hpp"

#pragma GCC visibility push(default)
namespace morvi::utils {

// Stack bytes reserved per level of nesting. A sanitizer's frames are several times larger.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr std::size_t DEEP_STACK_PER_LEVEL = std::size_t{32} << 10;
#else
inline constexpr std::size_t DEEP_STACK_PER_LEVEL = std::size_t{8} << 10;
#endif
inline constexpr std::size_t DEEP_STACK_BYTES = MAX_RESULTS_NESTING * DEEP_STACK_PER_LEVEL;

// Calls `body` on a thread of its own whose stack holds `stack_bytes`, waits for it and
// rethrows what it throws. Only the pages the call touches are ever backed by memory.
// std::system_error when no such thread can be started.
void on_stack_of(std::size_t stack_bytes, const std::function<void()>& body);

// on_stack_of with DEEP_STACK_BYTES, on a thread kept from an earlier call when one is free.
void on_deep_stack(const std::function<void()>& body);

}  // namespace morvi::utils
#pragma GCC visibility pop
