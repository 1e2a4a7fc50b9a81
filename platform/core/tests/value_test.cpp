#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "morvi/datastructures/attrdict.hpp"
#include "morvi/errors.hpp"
#include "morvi/results.hpp"
#include "morvi/testing/files.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "morvi/value.hpp"

namespace morvi {
namespace {

struct Thing : Object {
  std::string type_name() const override { return "Thing"; }
};

TEST(ValueTest, TruthinessFollowsKindAndContent) {
  const std::pair<Value, bool> cases[] = {
      {Value(), false},
      {Value(false), false},
      {Value(0), false},
      {Value(0.0), false},
      {Value(""), false},
      {Value(List{}), false},
      {Value::tuple({}), false},
      {Value(Map{}), false},
      {Value::attr_map({}), false},
      {Value(true), true},
      {Value(-1), true},
      {Value(0.5), true},
      {Value(" "), true},
      {Value::list({Value()}), true},
      {Value(Map{{"a", Value()}}), true},
      {Value(results::Passed), true},
      {Value(results::ResultCounter()), true},
      {Value(DateTime(2024, 1, 1)), true},
      {Value::error("ValueError", {}), true},
      {Value::node(std::make_shared<Thing>()), true},
  };
  for (const auto& [value, expected] : cases)
    EXPECT_EQ(value.truthy(), expected) << value.to_repr();
  EXPECT_TRUE(Value().is_none());
  EXPECT_FALSE(Value(0).is_none());
}

TEST(ValueTest, EqualityComparesContentAcrossNumberAndMapKinds) {
  EXPECT_EQ(Value(1), Value(1.0));
  EXPECT_EQ(Value(true), Value(1));
  EXPECT_NE(Value(1), Value("1"));
  EXPECT_NE(Value(), Value(0));
  EXPECT_NE(Value(), Value(List{}));
  EXPECT_EQ(Value(Map{}), Value::attr_map({}));
  EXPECT_EQ(Value(Map{{"a", 1}, {"b", 2}}), Value(Map{{"b", 2}, {"a", 1}}));
  EXPECT_NE(Value(List{}), Value::tuple({}));
  EXPECT_NE(Value::list({1, 2}), Value::list({2, 1}));
  auto t = std::make_shared<Thing>();
  EXPECT_EQ(Value::node(t), Value::node(t));
  EXPECT_NE(Value::node(t), Value::node(std::make_shared<Thing>()));
}

TEST(ValueTest, CopiesAreDeepButNodesAreShared) {
  auto t = std::make_shared<Thing>();
  Value original = Value(Map{{"list", Value::list({1, Value::node(t)})}});
  Value copy = original;
  copy.as_map().at("list").as_list().push_back(3);
  EXPECT_EQ(original.as_map().at("list").as_list().size(), 2u);
  EXPECT_EQ(copy.as_map().at("list").as_list()[1].as_object().get(), t.get());
}

TEST(ValueTest, FloatReprIsShortestRoundTrip) {
  const std::pair<double, const char*> cases[] = {
      {1.0, "1.0"},
      {0.1, "0.1"},
      {1e-05, "1e-05"},
      {0.0001, "0.0001"},
      {1e16, "1e+16"},
      {1e15, "1000000000000000.0"},
      {123456789012345678.0, "1.2345678901234568e+17"},
      {-0.0, "-0.0"},
      {2.5e-300, "2.5e-300"},
      {1.5, "1.5"},
      {0.30000000000000004, "0.30000000000000004"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
      {std::nan(""), "nan"},
  };
  for (const auto& [x, text] : cases) EXPECT_EQ(float_repr(x), text);
}

// Reals of the kinds reports hold (whole microseconds, rates, their neighbouring doubles) and
// any bit pattern, against the dynamic language's own repr.
TEST(ValueTest, RealsAreWrittenAsPythonPrintsThem) {
  std::vector<double> xs = {0.0, -0.0, 1e-4, 1e9, 999999999.999999, 0.000999999, 123456789.123456, 2.5e-5, 0.1};
  std::mt19937_64 random(11);
  for (int i = 0; i < 30000; ++i) {
    const double scale = std::pow(10.0, i % 16 - 6);
    const double six_places = std::nearbyint(std::uniform_real_distribution<double>(0, 1e6)(random) * scale) / 1e6;
    xs.push_back(i % 2 ? six_places : -six_places);
    xs.push_back(std::nextafter(six_places, 0.0));
    xs.push_back(std::nextafter(six_places, 1e300));
    xs.push_back(std::bit_cast<double>(random()));
  }
  for (const double x : {1e-4, 1e9}) {
    xs.push_back(std::nextafter(x, 0.0));
    xs.push_back(std::nextafter(x, 1e300));
  }
  const morvi::testing::ScratchDir dir;
  {
    std::ofstream out(dir / "reals");
    for (const double x : xs) {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%a\n", x);
      out << buf;
    }
  }
  const std::string command = "/usr/bin/python3 -c 'import sys\nfor line in open(sys.argv[1]): print(repr(float.fromhex(line)))' " +
                              morvi::testing::shell_quoted((dir / "reals").string()) + " > " +
                              morvi::testing::shell_quoted((dir / "repr").string());
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(dir / "repr");
  std::string expected;
  for (const double x : xs) {
    ASSERT_TRUE(std::getline(in, expected));
    ASSERT_EQ(float_repr(x), expected) << std::hexfloat << x;
  }
}

TEST(ValueTest, RoundDecimalsRoundsTheExactBinaryValueTiesToEven) {
  EXPECT_EQ(round_decimals(0.125, 2), 0.12);
  EXPECT_EQ(round_decimals(0.375, 2), 0.38);
  EXPECT_EQ(round_decimals(2.675, 2), 2.67);  // 2.67499999... in binary
  EXPECT_EQ(round_decimals(0.333333, 2), 0.33);
  EXPECT_EQ(round_decimals(1e300, 2), 1e300);
  EXPECT_TRUE(std::isnan(round_decimals(std::nan(""), 2)));
}

// The long way: fixed notation rounds the exact binary value, reading it back gives the
// nearest double.
double rounded_by_text(double x, int ndigits) {
  char buf[400];
  const auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, ndigits);
  double rounded = x;
  std::from_chars(buf, res.ptr, rounded);
  return rounded;
}

std::string rounded_repr(double x, int ndigits) {
  char buf[kRoundedFloatReprMax];
  return std::string(buf, write_rounded_float_repr(buf, x, ndigits));
}

TEST(ValueTest, RoundedRealsAgreeWithRoundingTheirText) {
  std::vector<double> xs = {0.0, -0.0, 0.005, 0.015, 0.125, 2.675, -2.675, 1.005, 0.995, -0.001,
                            99.995, 100.0, 12.345, 1e-9, -1e-9, 0x1p52 / 100, 0x1p52 / 100 - 1,
                            45035996273704.95, 1e16, 1e300, 123456.785};
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int i = 0; i < 20000; ++i) {
    const double scale = std::pow(10.0, i % 17 - 4);
    xs.push_back(unit(random) * scale);
    // Ties and near-ties in decimal: k / 200 and its neighbouring doubles.
    const double tie = static_cast<double>(static_cast<std::int64_t>(random() % 2000001) - 1000000) / 200;
    xs.push_back(tie);
    xs.push_back(std::nextafter(tie, 1e300));
    xs.push_back(std::nextafter(tie, -1e300));
  }
  for (const double x : xs) {
    for (int ndigits = 0; ndigits <= 5; ++ndigits) {
      const double expected = rounded_by_text(x, ndigits);
      ASSERT_EQ(std::signbit(round_decimals(x, ndigits)), std::signbit(expected)) << x << " to " << ndigits;
      ASSERT_EQ(round_decimals(x, ndigits), expected) << x << " to " << ndigits;
      ASSERT_EQ(rounded_repr(x, ndigits), float_repr(expected)) << x << " to " << ndigits;
    }
  }
  EXPECT_EQ(rounded_repr(std::nan(""), 2), "nan");
  EXPECT_EQ(rounded_repr(-std::numeric_limits<double>::infinity(), 2), "-inf");
  EXPECT_EQ(rounded_repr(-0.001, 2), "-0.0");
  EXPECT_EQ(rounded_repr(50.0, 2), "50.0");
  EXPECT_EQ(rounded_repr(0.07, 2), "0.07");
}

TEST(ValueTest, TextAndReprForms) {
  const std::tuple<Value, const char*, const char*> cases[] = {
      {Value(), "None", "None"},
      {Value(true), "True", "True"},
      {Value(42), "42", "42"},
      {Value(2.0), "2.0", "2.0"},
      {Value("a"), "a", "'a'"},
      {Value("it's"), "it's", "\"it's\""},
      {Value("both ' and \""), "both ' and \"", "'both \\' and \"'"},
      {Value("tab\there\n\x01"), "tab\there\n\x01", "'tab\\there\\n\\x01'"},
      {Value("caf\xc3\xa9"), "caf\xc3\xa9", "'caf\xc3\xa9'"},
      {Value("bad\xff"), "bad\xff", "'bad\\xff'"},
      {Value::list({1, "a"}), "[1, 'a']", "[1, 'a']"},
      {Value::tuple({1}), "(1,)", "(1,)"},
      {Value::tuple({}), "()", "()"},
      {Value(Map{{"a", 1}, {"b", Value::list({})}}), "{'a': 1, 'b': []}", "{'a': 1, 'b': []}"},
      {Value(results::Failed), "failed", "failed"},
      {Value::error("ValueError", {"bad"}), "bad", "ValueError('bad')"},
      {Value::error("KeyError", {"a", 1}), "('a', 1)", "KeyError('a', 1)"},
      {Value(DateTime(2024, 3, 5, 6, 7, 8, 5000, 60)), "2024-03-05 06:07:08.005000+01:00",
       "datetime.datetime(2024, 3, 5, 6, 7, 8, 5000, "
       "tzinfo=datetime.timezone(datetime.timedelta(seconds=3600)))"},
  };
  for (const auto& [value, text, repr] : cases) {
    EXPECT_EQ(value.to_text(), text);
    EXPECT_EQ(value.to_repr(), repr);
  }
}

TEST(ValueTest, DateTimesKeepTheirOffsetThroughCopiesMovesAndContainers) {
  // Naive, aware at UTC, and aware at both ends of the offset range: a naive time and one at
  // +00:00 must stay apart, and an offset must survive every way a value travels.
  const DateTime stamps[] = {
      DateTime(2024, 1, 2, 3, 4, 5, 6),
      DateTime(2024, 1, 2, 3, 4, 5, 6, 0),
      DateTime(1, 1, 1, 0, 0, 0, 0, -1439),
      DateTime(9999, 12, 31, 23, 59, 59, 999999, 1439),
  };
  for (const DateTime& d : stamps) {
    const Value v(d);
    Value copy(v);
    Value moved(std::move(copy));
    Value assigned;
    assigned = moved;
    const Value in_list = Value::list({assigned});
    const Value list_copy(in_list);
    Map m;
    m.set("t", list_copy.as_list()[0]);
    const Value map_copy{Map(m)};
    const DateTime back = map_copy.as_map().at("t").as_datetime();
    EXPECT_EQ(back, d) << d.to_text();
    EXPECT_EQ(back.aware(), d.aware());
    EXPECT_EQ(back.utc_offset_minutes(), d.utc_offset_minutes());
    EXPECT_EQ(back.ticks(), d.ticks());
    EXPECT_EQ(map_copy.as_map().at("t").to_text(), d.to_text());
  }
  EXPECT_NE(Value(stamps[0]).to_text(), Value(stamps[1]).to_text());
  // A value that held a date-time and then another kind reads as that kind alone.
  Value v(stamps[3]);
  v = Value(7);
  EXPECT_EQ(v, Value(7));
  v = Value(stamps[2]);
  EXPECT_EQ(v.as_datetime().utc_offset_minutes(), -1439);
}

// Texts up to kShortText bytes live inside the Value, longer ones in a block of their own: the
// lengths around that line, with every byte value a text may hold (NUL included), must read
// back the same whichever way the text was made and however it travelled.
TEST(ValueTest, TextsKeepTheirBytesOnBothSidesOfTheShortLength) {
  std::vector<std::string> texts;
  for (std::size_t n = 0; n <= Value::kShortText + 3; ++n) {
    std::string t;
    for (std::size_t i = 0; i < n; ++i) t += static_cast<char>((n * 37 + i * 91) % 256);
    texts.push_back(t);
  }
  texts.push_back(std::string(300, 'x'));
  List grown;  // reallocates as it grows: its texts move as bytes
  for (const std::string& t : texts) {
    const std::string_view view(t);
    const Value from_view(view);
    const Value from_string{std::string(t)};
    EXPECT_EQ(from_view.as_text(), view);
    EXPECT_EQ(from_string.as_text(), view);
    EXPECT_EQ(from_view, from_string);
    EXPECT_EQ(from_view.truthy(), !t.empty());
    EXPECT_EQ(from_view.to_text(), t);
    Value moved{Value(from_view)};
    Value assigned(DateTime(2024, 1, 2, 3, 4, 5, 6, 60));
    assigned = moved;
    EXPECT_EQ(assigned.as_text(), view);
    const Value gone = std::move(moved);
    EXPECT_TRUE(moved.is_none());
    EXPECT_EQ(gone.as_text(), view);
    grown.push_back(gone);
  }
  const Value all{List(grown)};
  Map m;
  for (std::size_t i = 0; i < texts.size(); ++i) m.set(std::to_string(i), all.as_list()[i]);
  const Value map_copy{Map(m)};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(grown[i].as_text(), texts[i]) << i;
    EXPECT_EQ(map_copy.as_map().at(std::to_string(i)).as_text(), texts[i]) << i;
  }
  EXPECT_NE(Value(texts[3]), Value(texts[4]));
  EXPECT_EQ(Value("checked").to_repr(), "'checked'");
  // A date-time written over a short text reads its own offset, not the text's bytes.
  Value v("fourteen bytes");
  v = Value(DateTime(2024, 1, 2, 3, 4, 5, 6, -90));
  EXPECT_EQ(v.as_datetime().utc_offset_minutes(), -90);
  v = Value(std::string(40, 'y'));
  v = Value("short");
  EXPECT_EQ(v.as_text(), "short");
}

TEST(ValueTest, TypedAccessNamesBothKinds) {
  try {
    (void)Value(1).as_text();
    FAIL();
  } catch (const TypeError& e) {
    EXPECT_STREQ(e.what(), "expected a text value, got int");
  }
}

TEST(ValueTest, TakesEveryIntegerTypeAndRefusesUnsignedPastTheIntRange) {
  const std::vector<int> three(3);
  EXPECT_EQ(Value(three.size()), Value(3));
  EXPECT_EQ(Value(static_cast<unsigned char>(200)).as_int(), 200);
  EXPECT_EQ(Value(static_cast<short>(-7)).as_int(), -7);
  EXPECT_EQ(Value(std::uint64_t{INT64_MAX}).as_int(), INT64_MAX);
  EXPECT_THROW(Value(std::uint64_t{INT64_MAX} + 1), ArgumentError);
  EXPECT_EQ(Value(true).kind(), Kind::Bool);
  static_assert(!std::is_constructible_v<Value, char32_t>, "a character is not a number");
}

TEST(ValueTest, DeeplyNestedValueIsDestroyedWithoutRecursion) {
  Value v = Value::list({});
  for (int i = 0; i < 200000; ++i) {
    List outer;
    outer.push_back(std::move(v));
    v = Value(std::move(outer));
  }
  Value m = Value(Map{});
  for (int i = 0; i < 200000; ++i) {
    Map outer;
    outer.set("k", std::move(m));
    m = Value(std::move(outer));
  }
  SUCCEED();
}

TEST(MapTest, KeepsInsertionOrderAndFindsKeysPastTheIndexThreshold) {
  Map m;
  for (int i = 0; i < 100; ++i) m.set("k" + std::to_string(99 - i), i);
  ASSERT_EQ(m.size(), 100u);
  EXPECT_EQ(m.begin()->first, "k99");
  EXPECT_EQ(m.at("k0"), Value(99));
  m.set("k50", "again");
  EXPECT_EQ(m.size(), 100u);
  EXPECT_EQ((m.begin() + 49)->second, Value("again"));
  EXPECT_EQ(m.take("k99").value(), Value(0));
  EXPECT_FALSE(m.contains("k99"));
  EXPECT_EQ(m.at("k1"), Value(98));
  m["new"] = 5;
  EXPECT_EQ((m.end() - 1)->first, "new");
  EXPECT_THROW((void)m.at("missing"), LookupError);
}

// New keys are made from the view they are given, all of it: a key holding a NUL or cut from a
// longer text keeps exactly its bytes, through set and operator[] alike.
TEST(MapTest, NewKeysKeepExactlyTheBytesOfTheirView) {
  using namespace std::string_view_literals;
  Map m;
  m.set("a\0b"sv, 1);
  m["index and more"sv.substr(0, 5)] = 2;
  m.set(std::string(40, 'k'), 3);
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m.begin()->first, std::string("a\0b", 3));
  EXPECT_EQ((m.begin() + 1)->first, "index");
  EXPECT_EQ((m.begin() + 2)->first, std::string(40, 'k'));
  EXPECT_EQ(m.at("a\0b"sv), Value(1));
  EXPECT_FALSE(m.contains("a"));
  m["index"] = 4;
  EXPECT_EQ(m.size(), 3u);
  EXPECT_EQ(m.at("index"), Value(4));
}

TEST(AttrDictTest, ReadsEntriesAsFieldsAndIsAnAttrMapValue) {
  datastructures::AttrDict d;
  d.set_attr("name", "x");
  EXPECT_EQ(d.attr("name"), Value("x"));
  EXPECT_THROW((void)d.attr("other"), LookupError);
  Value v = d;
  EXPECT_EQ(v.kind(), Kind::AttrMap);
  EXPECT_EQ(v, Value(Map{{"name", "x"}}));
}

}  // namespace
}  // namespace morvi
