// A small test program the listener reports on: passing, failing (inside nested SCOPED_TRACE
// scopes), skipped, disabled and parameterised tests, a property, a suite whose set-up fails,
// and, when MORVI_PROBE_CRASH is set, a test that kills the program.
#include <cstdlib>

#include <gtest/gtest.h>

namespace {

TEST(Arithmetic, Adds) { EXPECT_EQ(2, 1 + 1); }

TEST(Arithmetic, FailsInScopes) {
  SCOPED_TRACE("outer scope");
  {
    SCOPED_TRACE("inner scope");
    EXPECT_EQ(3, 1 + 1) << "inner note";
  }
  EXPECT_TRUE(false) << "after the inner scope";
}

TEST(Arithmetic, DISABLED_NeverRuns) { FAIL() << "a disabled test ran"; }

TEST(Arithmetic, StopsAtFatal) {
  ASSERT_NE(1, 1) << "fatal";
  ADD_FAILURE() << "not reached";
}

TEST(Skipping, SkipsWithReason) { GTEST_SKIP() << "not on this machine"; }

TEST(Skipping, RecordsProperty) { RecordProperty("build", "nightly"); }

class SetUpFails : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ADD_FAILURE() << "no fixture today"; }
};

TEST_F(SetUpFails, NeedsFixture) { SUCCEED(); }

class Doubling : public ::testing::TestWithParam<int> {};

TEST_P(Doubling, IsEven) { EXPECT_EQ(GetParam() * 2 % 2, 0); }

INSTANTIATE_TEST_SUITE_P(Small, Doubling, ::testing::Values(1, 2));

TEST(Crash, AbortsWhenAsked) {
  if (std::getenv("MORVI_PROBE_CRASH")) std::abort();
}

}  // namespace
