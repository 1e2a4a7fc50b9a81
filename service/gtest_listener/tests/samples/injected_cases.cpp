// Cases added to GoogleTest's own samples. Built with MORVI_SAMPLES_FAILING_CASE, the table
// holds a wrong entry, so one case fails inside a SCOPED_TRACE scope, and one more is skipped.
#include <string>

#include <gtest/gtest.h>

#include "sample1.h"

namespace {

struct Known {
  int n;
  int factorial;
};

constexpr Known kKnown[] = {
    {0, 1},
    {3, 6},
#ifdef MORVI_SAMPLES_FAILING_CASE
    {4, 25},
#endif
    {5, 120},
};

TEST(FactorialTable, MatchesKnownValues) {
  for (const Known& known : kKnown) {
    SCOPED_TRACE("n = " + std::to_string(known.n));
    EXPECT_EQ(Factorial(known.n), known.factorial);
  }
}

#ifdef MORVI_SAMPLES_FAILING_CASE
TEST(FactorialTable, SkippedOnPurpose) { GTEST_SKIP() << "left out on purpose"; }
#endif

}  // namespace
