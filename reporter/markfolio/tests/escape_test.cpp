#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <random>
#include <string>

#include "morvi/errors.hpp"
#include "morvi/reporter/markfolio/escape.hpp"

namespace morvi::reporter::markfolio {
namespace {

using namespace std::string_literals;

struct EscapeCase {
  const char* what;
  std::string input;
  std::string expected;
};

// Test names and failure messages show the case by its name, not its bytes.
void PrintTo(const EscapeCase& c, std::ostream* os) { *os << c.what; }

class EscapeTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeTest, ReplacesWhatXmlCannotCarry) {
  EXPECT_EQ(escape(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EscapeTest,
    ::testing::Values(
        EscapeCase{"plain", "abc", "abc"}, EscapeCase{"empty", "", ""},
        EscapeCase{"nul", "a\0b"s, "a\\x00b"}, EscapeCase{"bel", "\x07", "\\x07"},
        EscapeCase{"ansi colour", "\x1b[0m", "\\x1b[0m"},
        EscapeCase{"vertical tab and form feed", "v\vf\f", "v\\x0bf\\x0c"},
        EscapeCase{"codes 14 to 31", "\x0e\x1a\x1c\x1f", "\\x0e\\x1a\\x1c\\x1f"},
        EscapeCase{"tab, newlines and del kept", "\t\n\r\x7f", "\t\n\r\x7f"},
        EscapeCase{"non-ascii kept", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
                   "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        EscapeCase{"lone surrogate", "\xed\xa0\x80z", "\\ud800z"},
        EscapeCase{"surrogates one by one", "\xed\xa0\xbd\xed\xb8\x80", "\\ud83d\\ude00"},
        EscapeCase{"stray byte", "a\xff", "a\\xff"},
        EscapeCase{"truncated sequence", "\xc3", "\\xc3"},
        EscapeCase{"truncated before ascii", "\xe2\x82z", "\\xe2\\x82z"},
        EscapeCase{"overlong slash", "\xc0\xaf", "\\xc0\\xaf"},
        EscapeCase{"overlong three bytes", "\xe0\x80\xaf", "\\xe0\\x80\\xaf"},
        EscapeCase{"beyond U+10FFFF", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
        EscapeCase{"already escaped text kept", "\\x00", "\\x00"},
        EscapeCase{"noncharacters escaped", "\xef\xbf\xbe\xef\xbf\xbf", "\\ufffe\\uffff"}),
    [](const auto& info) {
      std::string name;
      for (char c : std::string(info.param.what)) name += std::isalnum(c) ? c : '_';
      return name;
    });

TEST(EscapeRepl, FormatsOneMatch) {
  EXPECT_EQ(_escape_repl("\x1b"), "\\x1b");
  EXPECT_EQ(_escape_repl("\xfe"), "\\xfe");
  EXPECT_EQ(_escape_repl("\xed\xbf\xbf"), "\\udfff");
  EXPECT_EQ(_escape_repl("\xef\xbf\xbe"), "\\ufffe");
  EXPECT_EQ(_escape_repl("\xef\xbf\xbf"), "\\uffff");
  EXPECT_THROW(_escape_repl("\xef\xbf\xbd"), ArgumentError);  // U+FFFD is allowed
  EXPECT_THROW(_escape_repl("a"), ArgumentError);
  EXPECT_THROW(_escape_repl("\xc3\xa9"), ArgumentError);
}

// Whatever bytes go in, the escaped text is well-formed XML character data.
TEST(Escape, OutputAlwaysParsesAsXml) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 24);
  const char* const fragments[] = {"\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80",
                                   "\xed\xa0\x80", "\xed\xbf\xbf", "\xef\xbf\xbe",
                                   "\xef\xbf\xbf", "a", "<", "\x1b"};
  std::uniform_int_distribution<int> fragment(0, 2 * std::size(fragments) - 1);
  for (int round = 0; round < 3000; ++round) {
    std::string input;
    for (int i = length(random); i > 0; --i) {
      const auto pick = static_cast<std::size_t>(fragment(random));
      if (pick < std::size(fragments)) input += fragments[pick];
      else input.push_back(static_cast<char>(byte(random)));
    }
    std::string document = "<a>";
    for (char c : escape(input)) {
      if (c == '<') document += "&lt;";
      else if (c == '&') document += "&amp;";
      else document += c;
    }
    document += "</a>";
    xmlDoc* doc = xmlReadMemory(document.data(), static_cast<int>(document.size()), nullptr,
                                "UTF-8", XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    EXPECT_NE(doc, nullptr) << "input bytes: " << ::testing::PrintToString(input);
    xmlFreeDoc(doc);
  }
}

TEST(EscapeData, EscapesTextsAtAnyLevelAndKeepsOtherValues) {
  const Value data = Map{{"k\x01", Value(List{Value("a\0b"s), Value(5)})},
                         {"t", Value::tuple({Value("\x1b"), Value(true)})},
                         {"attrs", Value::attr_map(Map{{"x", Value("\v")}})}};
  const Value escaped = escape_data(data);
  ASSERT_TRUE(escaped.is_map());
  const Map& map = escaped.as_map();
  ASSERT_EQ(map.size(), 3u);
  EXPECT_EQ(map.begin()->first, "k\\x01");
  EXPECT_EQ(map.at("k\\x01"), Value(List{Value("a\\x00b"), Value(5)}));
  EXPECT_TRUE(map.at("t").is_tuple());
  EXPECT_EQ(map.at("t").as_list(), (List{Value("\\x1b"), Value(true)}));
  EXPECT_EQ(map.at("attrs").kind(), Kind::Map);
  EXPECT_EQ(map.at("attrs"), Value(Map{{"x", Value("\\x0b")}}));
}

TEST(EscapeData, KeysThatEscapeAlikeKeepTheLaterValueAtTheEarlierPlace) {
  const Map data{{"a", Value(1)}, {"\0"s, Value(2)}, {"\\x00", Value(3)}, {"z", Value(4)}};
  const Map escaped = escape_data(data);
  ASSERT_EQ(escaped.size(), 3u);
  auto it = escaped.begin();
  EXPECT_EQ(it->first, "a");
  ++it;
  EXPECT_EQ(it->first, "\\x00");
  EXPECT_EQ(it->second, Value(3));
  ++it;
  EXPECT_EQ(it->first, "z");
}

TEST(EscapeData, ScalarsComeBackUnchanged) {
  for (const Value& v : {Value(), Value(3), Value(true), Value(2.5),
                         Value(DateTime(2024, 1, 2, 3, 4, 5))}) {
    EXPECT_EQ(escape_data(v), v);
    EXPECT_EQ(escape_data(v).kind(), v.kind());
  }
}

}  // namespace
}  // namespace morvi::reporter::markfolio
