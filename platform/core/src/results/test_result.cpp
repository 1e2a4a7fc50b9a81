#include <algorithm>
#include <cctype>
#include <string>

#include "morvi/errors.hpp"
#include "morvi/results.hpp"

namespace morvi::results {

std::string_view code_name(ResultCode code) noexcept {
  switch (code) {
    case ResultCode::skipped: return "skipped";
    case ResultCode::passed: return "passed";
    case ResultCode::passx: return "passx";
    case ResultCode::blocked: return "blocked";
    case ResultCode::failed: return "failed";
    case ResultCode::aborted: return "aborted";
    case ResultCode::errored: return "errored";
  }
  return "unknown";
}

TestResult TestResult::from_str(std::string_view name) {
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (auto code : {ResultCode::skipped, ResultCode::passed, ResultCode::passx,
                    ResultCode::blocked, ResultCode::failed, ResultCode::aborted,
                    ResultCode::errored})
    if (code_name(code) == lower) return TestResult(code);
  throw ArgumentError("'" + std::string(name) + "' is not a result name");
}

TestResult operator+(const TestResult& a, const TestResult& b) {
  return b.code_ > a.code_ ? b : a;
}

TestResult& TestResult::operator+=(const TestResult& other) {
  if (other.code_ > code_) *this = other;
  return *this;
}

}  // namespace morvi::results
