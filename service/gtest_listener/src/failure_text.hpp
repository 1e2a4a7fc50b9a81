#pragma once
// The parts of a failure message as GoogleTest composes it: the assertion's own message, then,
// when SCOPED_TRACE scopes were active, a line "Google Test trace:" and one line per scope,
// innermost first, each "FILE:LINE: MESSAGE".
#include <string>
#include <string_view>
#include <vector>

namespace morvi::service::gtest_listener {

struct TraceScope {
  std::string file;
  int line = 0;
  std::string message;

  friend bool operator==(const TraceScope&, const TraceScope&) = default;
};

struct FailureText {
  std::string message;
  std::vector<TraceScope> scopes;  // outermost first
};

// Splits a failure summary (the message without its stack trace). Text after the trace marker
// that names no scope is kept with the scope before it, or with the message when none came yet.
FailureText split_failure(std::string_view summary);

}  // namespace morvi::service::gtest_listener
