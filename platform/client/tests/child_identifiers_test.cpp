#include "morvi/reporter/client/child_identifiers.hpp"

#include <gtest/gtest.h>

namespace morvi::reporter::client {
namespace {

TEST(ChildIdentifiers, UniqueIdsNameThemselvesAndTwinsCarryTheirPosition) {
  const ChildIdentifiers names({Value("setup"), Value("step"), Value(3), Value("step")});
  EXPECT_EQ(Value(names.identifiers(0, 4)),
            Value::list({"setup", Map{{"id", "step"}, {"index", 1}}, 3,
                         Map{{"id", "step"}, {"index", 3}}}));
  for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(names.find(names.identifier(i)), i);
  EXPECT_EQ(names.find(Value("step")), 1u);
  EXPECT_EQ(names.find(Value("3")), std::nullopt);
  // A position that holds another id, or none at all, names nothing.
  EXPECT_EQ(names.find(Value(Map{{"id", "step"}, {"index", 2}})), std::nullopt);
  EXPECT_EQ(names.find(Value(Map{{"id", "step"}, {"index", 9}})), std::nullopt);
  EXPECT_EQ(names.find(Value(Map{{"id", "step"}, {"index", -1}})), std::nullopt);
}

TEST(ChildIdentifiers, AMapIdThatIsNotAPositionIsAnOrdinaryId) {
  const Value odd(Map{{"id", "x"}});
  const ChildIdentifiers names({odd, Value("x")});
  EXPECT_EQ(names.identifier(0), odd);
  EXPECT_EQ(names.find(odd), 0u);
}

// A child whose own id has the positional form is named by its position, or it could not be
// reached (its id would be read as a position of another child).
TEST(ChildIdentifiers, AnIdOfThePositionalFormIsNamedByItsPosition) {
  const Value odd(Map{{"id", "step"}, {"index", 0}});
  const ChildIdentifiers names({Value("step"), odd});
  EXPECT_EQ(names.identifier(0), Value("step"));
  EXPECT_EQ(names.identifier(1), Value(Map{{"id", odd}, {"index", 1}}));
  EXPECT_EQ(names.find(names.identifier(1)), 1u);
  EXPECT_EQ(names.find(odd), 0u);
}

}  // namespace
}  // namespace morvi::reporter::client
