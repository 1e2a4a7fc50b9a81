#include <gtest/gtest.h>

#include "morvi/errors.hpp"
#include "morvi/results.hpp"

namespace morvi::results {
namespace {

TEST(TestResultTest, CombiningKeepsTheHigherPrecedence) {
  const TestResult order[] = {Skipped, Passed, Passx, Blocked, Failed, Aborted, Errored};
  for (std::size_t i = 0; i < std::size(order); ++i)
    for (std::size_t j = 0; j < std::size(order); ++j) {
      const TestResult combined = order[i] + order[j];
      EXPECT_EQ(combined.code(), order[std::max(i, j)].code());
    }
}

TEST(TestResultTest, EqualPrecedenceCopiesTheLeftOperandWithItsReason) {
  TestResult left(ResultCode::failed, "left reason", Map{{"k", 1}});
  TestResult right(ResultCode::failed, "right reason");
  EXPECT_EQ((left + right).reason(), "left reason");
  EXPECT_EQ((right + left).reason(), "right reason");
  TestResult acc = Passed;
  acc += left;
  EXPECT_EQ(acc.reason(), "left reason");
  EXPECT_EQ(acc.data(), (Map{{"k", 1}}));
  acc += TestResult(ResultCode::failed, "later");
  EXPECT_EQ(acc.reason(), "left reason");
}

TEST(TestResultTest, CloneIsIndependent) {
  TestResult a = Passed;
  TestResult b = a.clone();
  b += Failed;
  EXPECT_EQ(a.value(), "passed");
  EXPECT_EQ(b.value(), "failed");
}

TEST(TestResultTest, FromStrIgnoresCaseAndNamesUnknownText) {
  EXPECT_EQ(TestResult::from_str("PassX").code(), ResultCode::passx);
  EXPECT_EQ(TestResult::from_str("errored").value(), "errored");
  try {
    TestResult::from_str("fine");
    FAIL();
  } catch (const ArgumentError& e) {
    EXPECT_NE(std::string(e.what()).find("'fine'"), std::string::npos);
  }
}

TEST(ResultCounterTest, FreshTallyHoldsTheSevenNamesInOrder) {
  ResultCounter c;
  const auto items = c.items();
  ASSERT_EQ(items.size(), 7u);
  for (std::size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(items[i].first, kTallyNames[i]);
    EXPECT_EQ(items[i].second, 0);
  }
  EXPECT_EQ(c["none"], Value(0));
  EXPECT_EQ(c.total(), 0);
  EXPECT_EQ(c.success_rate(), 0.0);
}

TEST(ResultCounterTest, DerivedValuesAreComputedAndNotAssignable) {
  ResultCounter c;
  c.add("passed", 1);
  c.add("passx", 1);
  c.add("failed", 1);
  c.add("none", 1);
  c.set("total", Value(100));
  c.set("success_rate", Value(1.5));
  EXPECT_EQ(c["total"], Value(4));
  EXPECT_EQ(c.success_rate(), 50.0);
  c.add("failed", 2);
  EXPECT_EQ(c["success_rate"], Value(33.33));
  const auto items = c.items();
  EXPECT_EQ(items.back().first, "none");
  EXPECT_EQ(c.data().size(), 8u);
  EXPECT_THROW(c.set("passed", Value("x")), TypeError);
}

}  // namespace
}  // namespace morvi::results
