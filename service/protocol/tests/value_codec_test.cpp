// The typed encoding against values of every kind, read back through a JSON text.
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "morvi/results.hpp"
#include "morvi/service/protocol/value_codec.hpp"
#include "value_generator.hpp"

namespace morvi::service::protocol {
namespace {

using json = Json;

Value through_text(const Value& v) { return decode_value(json::parse(encode_value(v).dump())); }

class Thing : public Object {
 public:
  std::string type_name() const override { return "Thing"; }
  std::string repr() const override { return "<Thing 7>"; }
};

TEST(ValueCodec, EveryKindComesBackEqual) {
  const results::TestResult failed(results::ResultCode::failed, "CRC errors",
                                   Map{{"port", Value("Ethernet1/3")}, {"n", Value(4)}});
  results::ResultCounter tally;
  tally.set_count("failed", 3);
  tally.set_count("custom", 2);
  tally.set_weight(0.25);
  const Value values[] = {
      Value(),
      Value(true),
      Value(std::numeric_limits<std::int64_t>::max()),
      Value(std::numeric_limits<std::int64_t>::min()),
      Value((std::int64_t{1} << 53) + 1),
      Value(0.1),
      Value(1.0),
      Value(1e300),
      Value(5e-324),
      Value("text with \"quotes\", \xc3\xa9 and \n"),
      Value::list({Value(1), Value("a"), Value::list({})}),
      Value::tuple({Value(1), Value::tuple({})}),
      Value(Map{{"$", Value(1)}, {"b", Value(Map{{"c", Value(2.5)}})}}),
      Value::attr_map(Map{{"x", Value(1)}}),
      Value(DateTime(2024, 2, 29, 23, 59, 58, 123456, 330)),
      Value(DateTime(2024, 1, 2, 3, 4, 5, 0, -600)),
      Value(DateTime(1, 1, 1)),
      Value(failed),
      Value(results::Passed),
      Value(tally),
      Value::error("ValueError", {Value("bad"), Value(3)}),
  };
  for (const Value& v : values) {
    const Value back = through_text(v);
    EXPECT_EQ(back.kind(), v.kind()) << v.to_repr();
    EXPECT_EQ(back, v) << v.to_repr();
    EXPECT_EQ(back.to_repr(), v.to_repr());
  }
  EXPECT_EQ(through_text(Value(tally)).as_tally().weight(), 0.25);
  EXPECT_FALSE(through_text(Value(DateTime(2024, 1, 2))).as_datetime().aware());
}

std::vector<std::string> keys(const Map& map) {
  std::vector<std::string> out;
  for (const auto& [key, value] : map) out.push_back(key);
  return out;
}

TEST(ValueCodec, MapsKeepTheirOrderOnTheWireAndBack) {
  const Map inner{{"zeta", Value(1)}, {"alpha", Value(2)}, {"mid", Value(3)}};
  const Map tagged{{"z", Value(1)}, {"$", Value(2)}, {"a", Value(3)}};
  const Map outer{{"pargs", Value(inner)},
                  {"dollar", Value(tagged)},
                  {"inside", Value::list({Value(inner)})},
                  {"result", Value(results::TestResult(results::ResultCode::failed, "r", inner))},
                  {"attrs", Value::attr_map(inner)},
                  {"b", Value()}};
  EXPECT_EQ(encode_value(Value(inner)).dump(), R"({"zeta":1,"alpha":2,"mid":3})");
  const Value back = through_text(Value(outer));
  const Map& map = back.as_map();
  EXPECT_EQ(keys(map), keys(outer));
  const std::vector<std::string> order{"zeta", "alpha", "mid"};
  EXPECT_EQ(keys(map.at("pargs").as_map()), order);
  EXPECT_EQ(keys(map.at("dollar").as_map()), (std::vector<std::string>{"z", "$", "a"}));
  EXPECT_EQ(keys(map.at("inside").as_list().at(0).as_map()), order);
  EXPECT_EQ(keys(map.at("result").as_result().data()), order);
  EXPECT_EQ(keys(map.at("attrs").as_map()), order);

  // A "$" found after other keys, however long what came before it, starts the map again in its
  // tagged form.
  const std::string long_text(5000, 'x');
  const Map late{{"a", Value(long_text)}, {"b", Value(Map{{"c", Value(1)}, {"$", Value(2)}})},
                 {"$", Value()}};
  EXPECT_EQ(encode_value(Value(late)).dump(),
            R"({"$":"map","v":[["a",")" + long_text +
                R"("],["b",{"$":"map","v":[["c",1],["$",2]]}],["$",null]]})");
}

TEST(ValueCodec, FloatsKeepTheirBitsAndKind) {
  const double specials[] = {-0.0, std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(), 2.0, -1e-310};
  for (double x : specials) {
    const Value back = through_text(Value(x));
    ASSERT_TRUE(back.is_float()) << x;
    EXPECT_EQ(std::signbit(back.as_number()), std::signbit(x));
    EXPECT_EQ(back.as_number(), x);
  }
  EXPECT_TRUE(std::isnan(through_text(Value(std::nan(""))).as_number()));
  EXPECT_TRUE(through_text(Value(3)).is_int());
}

TEST(ValueCodec, OpaqueObjectsTravelByNameAndRepresentation) {
  const Value back = through_text(Value::opaque(std::make_shared<Thing>()));
  ASSERT_TRUE(back.is_opaque());
  EXPECT_EQ(back.as_object()->type_name(), "Thing");
  EXPECT_EQ(back.as_object()->repr(), "<Thing 7>");
}

TEST(ValueCodec, DeepNestingIsRefusedBothWays) {
  Value deep = Value::list({});
  for (int i = 0; i < kMaxDepth + 5; ++i) deep = Value(List{deep});
  EXPECT_THROW(encode_value(deep), SerializationError);
  Value fine = Value::list({});
  for (int i = 0; i < kMaxDepth - 1; ++i) fine = Value(List{fine});
  EXPECT_EQ(through_text(fine), fine);

  json nested = json::array();
  for (int i = 0; i < kMaxDepth + 5; ++i) nested = json::array({nested});
  EXPECT_THROW(decode_value(nested), ProtocolError);
}

TEST(ValueCodec, BadShapesNameWhereAndWhy) {
  const char* bad[] = {
      R"({"$": "datetime", "v": [2024, 13, 1, 0, 0, 0, 0]})",
      R"({"$": "datetime", "v": [2024, 1, 1]})",
      R"({"$": "datetime", "v": [2024, 1, 1, 0, 0, 0, 0], "offset": 1440})",
      R"({"$": "result", "code": "splendid"})",
      R"({"$": "float", "v": "huge"})",
      R"({"$": "tally", "counts": [["a", 1.5]], "weight": 1.0})",
      R"({"$": "martian"})",
      R"({"$": "map", "v": [["a"]]})",
      R"([1, {"$": 3}])",
      R"(18446744073709551615)",
  };
  for (const char* text : bad) {
    try {
      decode_value(json::parse(text));
      ADD_FAILURE() << "accepted " << text;
    } catch (const ProtocolError& e) {
      EXPECT_NE(std::string(e.what()).find("value at '/"), std::string::npos) << e.what();
    }
  }
}

std::string written(const Value& v) {
  std::string text;
  write_value(text, v);
  return text;
}

// The JSON library's own compact writer is the oracle for the text: the same escapes, the same
// shortest reals, so lines of journals written before read and compare byte for byte.
TEST(ValueCodec, TextIsWhatTheJsonLibraryWritesForGeneratedValues) {
  int encoded = 0;
  for (std::uint64_t seed = 1; seed <= 400; ++seed) {
    testing::ValueGenerator generator(seed);
    const Value v = generator.value(4);
    std::string text;
    try {
      text = written(v);
    } catch (const SerializationError&) {
      continue;  // a generated text with invalid UTF-8
    }
    ++encoded;
    const json parsed = json::parse(text);
    ASSERT_EQ(parsed.dump(), text) << "seed " << seed;
    // NaN and opaque objects are never equal to themselves: their representations are compared.
    ASSERT_EQ(decode_value(parsed).to_repr(), v.to_repr()) << "seed " << seed;
  }
  EXPECT_GT(encoded, 200);
}

TEST(ValueCodec, TextsEscapeWhatJsonRequiresAndRefuseInvalidUtf8) {
  std::string every;
  for (int c = 1; c < 0x80; ++c) every.push_back(static_cast<char>(c));
  every += "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
  const std::string text = written(Value(every));
  EXPECT_EQ(text, json(every).dump());
  EXPECT_EQ(json::parse(text).get<std::string>(), every);
  const std::string invalid[] = {"\xff", "a\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80",
                                 "\xe2\x82"};
  for (const std::string& bad : invalid) {
    EXPECT_THROW(json(bad).dump(), json::type_error);
    EXPECT_THROW(written(Value(Map{{"k", Value(bad)}})), SerializationError);
    EXPECT_THROW(written(Value(Map{{bad, Value(1)}})), SerializationError);
  }
}

// Texts are copied a word at a time while they need no escape: one character to escape or
// check, at every place of texts of every length around the word's, is written as the JSON
// library writes it, and a byte of invalid UTF-8 is named by its place.
TEST(ValueCodec, TextsOfEveryLengthWithOneCharacterToEscapeAtEachPlace) {
  const std::string odd[] = {"\"", "\\", "\n", "\x01", "\x1f", "\x7f", " ", "~",
                             "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80"};
  for (std::size_t length = 0; length <= 26; ++length) {
    const std::string plain(length, 'k');
    ASSERT_EQ(written(Value(plain)), json(plain).dump());
    for (std::size_t at = 0; at <= length; ++at) {
      for (const std::string& c : odd) {
        std::string text = plain;
        text.insert(at, c);
        ASSERT_EQ(written(Value(text)), json(text).dump()) << length << " " << at;
      }
      std::string bad = plain;
      bad.insert(at, "\xff");
      try {
        written(Value(bad));
        ADD_FAILURE() << "took invalid UTF-8 at " << at;
      } catch (const SerializationError& e) {
        EXPECT_NE(std::string(e.what()).find("at byte " + std::to_string(at) + " "),
                  std::string::npos)
            << e.what();
      }
    }
  }
}

// Integers and a date-time's fields are written in groups of digits: each side of every power
// of ten, both signs.
TEST(ValueCodec, NumbersAndDateTimesAtTheirDigitEdges) {
  List numbers{Value(std::numeric_limits<std::int64_t>::min()),
               Value(std::numeric_limits<std::int64_t>::max())};
  for (std::int64_t power = 1; power <= std::numeric_limits<std::int64_t>::max() / 10;
       power *= 10) {
    for (const std::int64_t n : {power - 1, power, power + 1, 10 * power - 1})
      for (const std::int64_t sign : {1, -1}) numbers.emplace_back(sign * n);
  }
  const Value list(numbers);
  EXPECT_EQ(written(list), encode_value(list).dump());
  for (const Value& n : numbers) EXPECT_EQ(written(n), std::to_string(n.as_int()));

  const auto text_of = [](const DateTime& d) {
    std::string out = R"({"$":"datetime","v":[)";
    for (const int part : {d.year(), d.month(), d.day(), d.hour(), d.minute(), d.second(),
                           d.microsecond()})
      out += std::to_string(part) + ",";
    out.back() = ']';
    if (d.aware()) out += R"(,"offset":)" + std::to_string(*d.utc_offset_minutes());
    return out + "}";
  };
  std::vector<DateTime> times{DateTime(1, 1, 1), DateTime(9999, 12, 31, 23, 59, 59, 999999, 1439),
                              DateTime(2024, 2, 29, 0, 0, 0, 0, -1439)};
  for (const int us : {9, 10, 99, 100, 999, 1000, 9999, 10000, 99999, 100000, 999999})
    times.emplace_back(2024, 12, 31, 9, 10, 59, us, us % 2 ? -60 : 0);
  // Days that change from one to the next, and back, and one naive between aware ones.
  for (const int day : {1, 2, 1, 31})
    times.emplace_back(999, 1, day, 23, 59, 59, 0, day == 2 ? std::nullopt : std::optional(5));
  for (const DateTime& d : times) EXPECT_EQ(written(Value(d)), text_of(d));
}

}  // namespace
}  // namespace morvi::service::protocol
