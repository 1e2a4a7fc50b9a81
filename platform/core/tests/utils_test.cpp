#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "morvi/errors.hpp"
#include "morvi/utils/document_buffer.hpp"
#include "morvi/utils/dicts.hpp"
#include "morvi/utils/utf8.hpp"
#include "morvi/utils/utils.hpp"

namespace morvi::utils {
namespace {

TEST(RecursiveUpdateTest, MergesNestedMapsAndExtendsListsWhenAsked) {
  Map target{{"a", Map{{"x", 1}, {"keep", 2}}}, {"l", Value::list({1})}, {"s", "old"}};
  const Map source{{"a", Map{{"x", 10}, {"y", Map{{"z", 1}}}}},
                   {"l", Value::list({2, 3})},
                   {"s", Map{{"now", "a map"}}},
                   {"n", "new"}};
  Map extended = target;
  recursive_update(extended, source, true);
  EXPECT_EQ(extended.at("a"), Value(Map{{"x", 10}, {"keep", 2}, {"y", Map{{"z", 1}}}}));
  EXPECT_EQ(extended.at("l"), Value::list({1, 2, 3}));
  EXPECT_EQ(extended.at("s"), Value(Map{{"now", "a map"}}));
  EXPECT_EQ((extended.end() - 1)->first, "n");

  Map replaced = target;
  recursive_update(replaced, source, false);
  EXPECT_EQ(replaced.at("l"), Value::list({2, 3}));
}

TEST(RecursiveUpdateTest, SourceIsCopiedNotShared) {
  Map target;
  Map source{{"m", Map{{"k", Value::list({1})}}}};
  recursive_update(target, source);
  source.at("m").as_map().at("k").as_list().push_back(2);
  EXPECT_EQ(target.at("m").as_map().at("k"), Value::list({1}));
}

TEST(DateTimeTest, TextFormsAndArithmetic) {
  const DateTime start(2024, 2, 29, 23, 59, 59, 500000, 120);
  const DateTime stop = DateTime::from_ticks(start.ticks() + 1'500'000, 120);
  EXPECT_EQ(stop.to_text(), "2024-03-01 00:00:01+02:00");
  EXPECT_EQ(stop.seconds_since(start), 1.5);
  EXPECT_EQ(start.truncated_to_seconds().to_text(), "2024-02-29 23:59:59+02:00");
  EXPECT_EQ(DateTime(2024, 1, 1, 0, 0, 0, 0, -330).to_text(), "2024-01-01 00:00:00-05:30");
  EXPECT_EQ(DateTime(1, 1, 1).to_text(), "0001-01-01 00:00:00");
  // The same instant in two zones.
  EXPECT_EQ(DateTime(2024, 1, 1, 12, 0, 0, 0, 60).seconds_since(DateTime(2024, 1, 1, 11, 0, 0, 0, 0)), 0.0);
  EXPECT_THROW((void)start.seconds_since(DateTime(2024, 1, 1)), TypeError);
  EXPECT_THROW(DateTime(2023, 2, 29), ArgumentError);
}

TEST(ClockTest, ScopedClockSubstitutesAndRestores) {
  const DateTime fixed(2030, 5, 6, 7, 8, 9, 0, 0);
  {
    ScopedClock clock([&] { return fixed; });
    EXPECT_EQ(get_time(), fixed);
  }
  EXPECT_TRUE(get_time().aware());
  EXPECT_GT(get_time().year(), 2020);
}

// Small buffers live on the heap, large ones in mappings that give their pages back as the
// text is taken: either way the whole text comes out once and the buffer is left empty and
// ready for the next document.
TEST(DocumentBuffer, TakeHandsOutTheWholeTextAndLeavesTheBufferEmpty) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{100}, std::size_t{40} << 20}) {
    DocumentBuffer buffer;
    std::string expected;
    for (std::size_t i = 0; i < size; ++i) expected.push_back(static_cast<char>('a' + i % 26));
    for (std::size_t i = 0; i < size; i += 4096) buffer.append(std::string_view(expected).substr(i, 4096));
    EXPECT_EQ(buffer.take(), expected) << size;
    EXPECT_EQ(buffer.size(), 0u);
    buffer.append("again");
    EXPECT_EQ(buffer.take(), "again");
  }
}

TEST(Utf8Test, JsonEscapesJoinSurrogatePairsAndRefuseLoneHalves) {
  using utf8::decode_json_escape;
  struct Case {
    std::string_view text;  // what follows the escape's "\u"
    bool valid;
    char32_t value;
    std::size_t size;
  };
  for (const Case& c : {
           Case{"00e9 and more", true, 0xE9, 4},
           Case{"FFFF", true, 0xFFFF, 4},
           Case{"d83D\\uDE00", true, 0x1F600, 10},
           Case{"DBFF\\uDFFF", true, 0x10FFFF, 10},
           Case{"DC00", false, 0, 0},             // a low half alone
           Case{"D800", false, 0, 0},             // a high half at the end of the text
           Case{"D800\\n", false, 0, 0},          // a high half followed by another escape
           Case{"D800\\u0041", false, 0, 0},      // a high half followed by no low half
           Case{"D800\\uDC0", false, 0, 0},       // a low half cut short
           Case{"00g0", false, 0, 0},
           Case{"12", false, 0, 0},
       }) {
    const auto got = decode_json_escape(c.text, 0);
    EXPECT_EQ(got.valid, c.valid) << c.text;
    if (c.valid) {
      EXPECT_EQ(got.value, c.value) << c.text;
      EXPECT_EQ(got.size, c.size) << c.text;
    }
  }
}

}  // namespace
}  // namespace morvi::utils
