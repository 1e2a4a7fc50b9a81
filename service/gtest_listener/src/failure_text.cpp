#include "failure_text.hpp"

#include <algorithm>
#include <charconv>

namespace morvi::service::gtest_listener {
namespace {

constexpr std::string_view kTraceMarker = "\nGoogle Test trace:";

// "FILE:LINE: MESSAGE" as GoogleTest writes a scope's place; false for any other line. A file
// name may hold colons itself, so the place ends at the first ":DIGITS: " after it.
bool parse_scope(std::string_view line, TraceScope& scope) {
  for (std::size_t colon = line.find(':'); colon != std::string_view::npos;
       colon = line.find(':', colon + 1)) {
    if (colon == 0) continue;
    const std::size_t digits = colon + 1;
    std::size_t end = digits;
    while (end < line.size() && line[end] >= '0' && line[end] <= '9') ++end;
    if (end == digits || line.substr(end, 2) != ": ") continue;
    int number = 0;
    const auto [ptr, ec] = std::from_chars(line.data() + digits, line.data() + end, number);
    if (ec != std::errc() || ptr != line.data() + end) continue;
    scope.file = std::string(line.substr(0, colon));
    scope.line = number;
    scope.message = std::string(line.substr(end + 2));
    return true;
  }
  return false;
}

}  // namespace

FailureText split_failure(std::string_view summary) {
  FailureText text;
  const std::size_t marker = summary.rfind(kTraceMarker);
  if (marker == std::string_view::npos) {
    text.message = std::string(summary);
    return text;
  }
  text.message = std::string(summary.substr(0, marker));
  std::string_view rest = summary.substr(marker + kTraceMarker.size());
  // GoogleTest lists the innermost scope first; the report nests the outermost first.
  std::vector<TraceScope> innermost_first;
  while (!rest.empty()) {
    if (rest.front() == '\n') rest.remove_prefix(1);
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end);
    TraceScope scope;
    if (parse_scope(line, scope)) {
      innermost_first.push_back(std::move(scope));
    } else if (!innermost_first.empty()) {
      innermost_first.back().message += '\n';
      innermost_first.back().message += line;
    } else {
      text.message += '\n';
      text.message += line;
    }
  }
  text.scopes.assign(innermost_first.rbegin(), innermost_first.rend());
  return text;
}

}  // namespace morvi::service::gtest_listener
