#pragma once
// Command-line and statistics helpers every benchmark program shares.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "job_generator.hpp"

namespace morvi::bench {

// The count `text` given to `flag`; exits with status 2 and a message naming both otherwise.
inline int parse_count(const char* program, std::string_view flag, const char* text) {
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || n < 0 || n > 1'000'000) {
    std::fprintf(stderr, "%s: %.*s needs a count, got '%s'\n", program,
                 static_cast<int>(flag.size()), flag.data(), text);
    std::exit(2);
  }
  return static_cast<int>(n);
}

// Applies --tasks, --testcases, --sections or --steps to `shape`; false for any other flag.
inline bool set_shape_option(JobShape& shape, std::string_view flag, int n) {
  if (flag == "--tasks") shape.tasks = n;
  else if (flag == "--testcases") shape.testcases = n;
  else if (flag == "--sections") shape.sections = n;
  else if (flag == "--steps") shape.steps = n;
  else return false;
  return true;
}

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace morvi::bench
