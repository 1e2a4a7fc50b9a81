// Values nested far deeper than any stack allows recursion for: copying, comparing, printing
// and destroying them must work on a thread with a small stack.
#include <ostream>
#include <gtest/gtest.h>

#include <string>

#include "morvi/results.hpp"
#include "morvi/testing/small_stack.hpp"
#include "morvi/value.hpp"

namespace morvi {
namespace {

constexpr int kDepth = 100'000;

// Built by moving: a braced list would copy the whole nested value at every level.
List one(Value v) {
  List l;
  l.push_back(std::move(v));
  return l;
}

List two(Value first, Value second) {
  List l = one(std::move(first));
  l.push_back(std::move(second));
  return l;
}

Map keyed(Value v) {
  Map m;
  m.set("k", std::move(v));
  return m;
}

enum class Shape { List, Tuple, Map, Error };

void PrintTo(Shape shape, std::ostream* os) {
  static const char* const names[] = {"List", "Tuple", "Map", "Error"};
  *os << names[static_cast<int>(shape)];
}

// `depth` containers of one shape, the innermost holding the int 7.
Value nested(Shape shape, int depth) {
  Value v(7);
  for (int i = 0; i < depth; ++i) {
    switch (shape) {
      case Shape::List: v = Value(one(std::move(v))); break;
      case Shape::Tuple: v = Value::tuple(two(std::move(v), Value(i % 3))); break;
      case Shape::Map: v = Value(keyed(std::move(v))); break;
      case Shape::Error: v = Value::error("E", two(std::move(v), Value("x"))); break;
    }
  }
  return v;
}

// The representation built from its parts, independently of the printer.
std::string expected_repr(Shape shape, int depth) {
  std::string open, close;
  for (int i = depth - 1; i >= 0; --i) {
    switch (shape) {
      case Shape::List: open += "["; break;
      case Shape::Tuple: open += "("; break;
      case Shape::Map: open += "{'k': "; break;
      case Shape::Error: open += "E("; break;
    }
  }
  for (int i = 0; i < depth; ++i) {
    switch (shape) {
      case Shape::List: close += "]"; break;
      case Shape::Tuple: close += ", " + std::to_string(i % 3) + ")"; break;
      case Shape::Map: close += "}"; break;
      case Shape::Error: close += ", 'x')"; break;
    }
  }
  return open + "7" + close;
}

class DeepValueTest : public ::testing::TestWithParam<Shape> {};

TEST_P(DeepValueTest, CopiesComparesPrintsAndDestroysOnASmallStack) {
  const Shape shape = GetParam();
  testing::on_small_stack([shape] {
    const Value original = nested(shape, kDepth);
    Value copy = original;
    EXPECT_TRUE(copy == original);
    const Value other = nested(shape, kDepth - 1);
    EXPECT_FALSE(copy == other);
    // A difference at the very bottom is found too.
    Value* bottom = &copy;
    while (!bottom->is_int()) {
      bottom = bottom->is_map()     ? &bottom->as_map().begin()->second
               : bottom->is_error() ? &const_cast<ErrorValue&>(bottom->as_error()).args[0]
                                    : &bottom->as_list()[0];
    }
    *bottom = Value(8);
    EXPECT_FALSE(copy == original);
    *bottom = Value(7);
    EXPECT_EQ(original.to_repr(), expected_repr(shape, kDepth));
    EXPECT_EQ(copy.to_repr(), expected_repr(shape, kDepth));
    Value assigned;
    assigned = original;
    EXPECT_TRUE(assigned == copy);
  });
}

INSTANTIATE_TEST_SUITE_P(Shapes, DeepValueTest,
                         ::testing::Values(Shape::List, Shape::Tuple, Shape::Map, Shape::Error),
                         [](const auto& info) {
                           switch (info.param) {
                             case Shape::List: return "List";
                             case Shape::Tuple: return "Tuple";
                             case Shape::Map: return "Map";
                             case Shape::Error: return "Error";
                           }
                           return "Unknown";
                         });

TEST(DeepValueTest, ErrorTextFollowsSingleArgumentsAndPrintsSeveralAsATuple) {
  testing::on_small_stack([] {
    Value chain("bottom");
    for (int i = 0; i < kDepth; ++i) chain = Value::error("E", one(std::move(chain)));
    EXPECT_EQ(chain.to_text(), "bottom");
    EXPECT_EQ(Value::error("E", List{Value::list({1}), Value("a")}).to_text(), "([1], 'a')");
    EXPECT_EQ(Value::error("E", List{}).to_text(), "");
    EXPECT_EQ(Value::list({Value::tuple({1}), Value::tuple({}), Value(Map{})}).to_repr(),
              "[(1,), (), {}]");
    EXPECT_EQ(Value::error("E", List{Value::tuple({1})}).to_repr(), "E((1,))");
  });
}

// A result whose data holds a result, and so on down: each level's data also holds a list, so
// that results and containers alternate.
TEST(DeepValueTest, ResultsNestedInResultDataCopyCompareAndFreeOnASmallStack) {
  testing::on_small_stack([] {
    Value chain(results::TestResult(results::ResultCode::failed, "bottom"));
    for (int i = 0; i < kDepth; ++i) {
      Map data;
      data.set("inner", std::move(chain));
      data.set("n", Value(one(Value(i))));
      chain = Value(results::TestResult(results::ResultCode::passed, "", std::move(data)));
    }
    Value copy = chain;
    EXPECT_TRUE(copy == chain);
    // The copy is a copy: changing its bottom leaves the original as it was.
    Value* bottom = &copy;
    while (bottom->as_result().data().contains("inner"))
      bottom = const_cast<Value*>(bottom->as_result().data().find("inner"));
    EXPECT_EQ(bottom->as_result().reason(), "bottom");
    bottom->as_result().set_reason("changed");
    EXPECT_FALSE(copy == chain);
    Value assigned;
    assigned = chain;
    EXPECT_TRUE(assigned == chain);
    EXPECT_EQ(assigned.to_text(), "passed");
  });
}

}  // namespace
}  // namespace morvi
