#include "morvi/reporter/schema/results_json.hpp"

#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "morvi/errors.hpp"
#include "morvi/reporter/schema.hpp"
#include "morvi/testing/scratch_dir.hpp"

namespace morvi::reporter::schema {
namespace {

using json = nlohmann::json;

TEST(ParseResultsJson, ReadsNonFiniteRealsWhereverTheyStand) {
  const json document = parse_results_json(
      R"({"a": [NaN, 1, -Infinity, "NaN", 2.5], "Infinity": Infinity, "b": -0, "c": NaN})", "x");
  EXPECT_TRUE(std::isnan(document["a"][0].get<double>()));
  EXPECT_EQ(document["a"][1], 1);
  EXPECT_EQ(document["a"][2].get<double>(), -INFINITY);
  EXPECT_EQ(document["a"][3], "NaN");
  EXPECT_EQ(document["a"][4], 2.5);
  EXPECT_EQ(document["Infinity"].get<double>(), INFINITY);
  EXPECT_EQ(document["b"], 0);
  EXPECT_TRUE(std::isnan(document["c"].get<double>()));
}

struct Malformed {
  const char* name;
  std::string text;
  std::size_t line;
  std::size_t column;
  const char* message;
};

// Test names and failure messages show the case by its name, not its bytes.
void PrintTo(const Malformed& c, std::ostream* os) { *os << c.name; }

class ParseResultsJsonRefuses : public ::testing::TestWithParam<Malformed> {};

TEST_P(ParseResultsJsonRefuses, WithPosition) {
  try {
    parse_results_json(GetParam().text, "in.json");
    FAIL() << "no error";
  } catch (const ParseError& e) {
    EXPECT_EQ(e.line(), GetParam().line);
    EXPECT_EQ(e.column(), GetParam().column);
    EXPECT_STREQ(e.what(), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Text, ParseResultsJsonRefuses,
    ::testing::Values(
        Malformed{"Empty", "", 1, 1,
                  "in.json: line 1, column 1: syntax error while parsing value - unexpected end "
                  "of input; expected '[', '{', or a literal"},
        Malformed{"BadLiteralOnSecondLine", "{\"a\": 1,\n \"b\": nope}", 2, 8,
                  "in.json: line 2, column 8: syntax error while parsing value - invalid "
                  "literal; last read: '\"b\": no'"},
        Malformed{"Truncated", "{\"a\": [1, 2", 1, 12,
                  "in.json: line 1, column 12: syntax error while parsing array - unexpected "
                  "end of input; expected ']'"},
        Malformed{"LowerCaseNan", "[nan]", 1, 3,
                  "in.json: line 1, column 3: syntax error while parsing value - invalid "
                  "literal; last read: '[na'"},
        Malformed{"RawLineBreakInText", "[\"a\nb\"]", 1, 4,
                  "in.json: line 1, column 4: syntax error while parsing value - invalid string: "
                  "control character U+000A (LF) must be escaped to \\u000A or \\n; last read: "
                  "'\"a<U+000A>'"},
        Malformed{"ErrorAfterNonFinite", "[NaN,\n  Infinity, x]", 2, 13,
                  "in.json: line 2, column 13: syntax error while parsing value - invalid "
                  "literal"},
        // The parser itself would stop at the NUL and call the rest accepted.
        Malformed{"NulAfterTheDocument", std::string("{\"a\": 1}\n\0{\"b\": 2}", 18), 2, 1,
                  "in.json: line 2, column 1: a NUL byte outside a string is not JSON"},
        Malformed{"NulInsideTheDocument", std::string("[1,\0 2]", 6), 1, 4,
                  "in.json: line 1, column 4: a NUL byte outside a string is not JSON"},
        Malformed{"NulInAString", std::string("[\"a\0\"]", 6), 1, 4,
                  "in.json: line 1, column 4: syntax error while parsing value - invalid string: "
                  "control character U+0000 (NUL) must be escaped to \\u0000; last read: "
                  "'\"a<U+0000>'"},
        Malformed{"RealPastADouble", "{\"a\": [1,\n 1e400]}", 2, 2,
                  "in.json: line 2, column 2: number out of the range of a double: 1e400"},
        Malformed{"IntegerPastADouble", "[" + std::string(400, '9') + "]", 1, 2,
                  "in.json: line 1, column 2: number out of the range of a double: "
                  "999999999999999999999999... (400 characters)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseResultsJson, RefusesDeepNestingBeforeBuildingIt) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  try {
    parse_results_json(deep, "deep.json");
    FAIL() << "no error";
  } catch (const ParseError& e) {
    EXPECT_EQ(std::string(e.what()), "deep.json: line 1, column " + std::to_string(MAX_DEPTH + 1) +
                                         ": arrays and objects nest deeper than the limit of " +
                                         std::to_string(MAX_DEPTH) + " levels");
  }
  // Brackets inside strings do not count.
  const std::string quoted = "[\"" + std::string(5000, '[') + "\\\"\"]";
  EXPECT_EQ(parse_results_json(quoted, "q")[0].get<std::string>().size(), 5001u);
  const std::string at_limit = std::string(MAX_DEPTH, '[') + std::string(MAX_DEPTH, ']');
  EXPECT_NO_THROW(parse_results_json(at_limit, "q"));
}

TEST(ReadTextFile, NamesThePathWhenItCannotBeRead) {
  const morvi::testing::ScratchDir dir;
  const std::string missing = (dir / "missing.json").string();
  try {
    read_text_file(missing);
    FAIL() << "no error";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
    EXPECT_EQ(std::string(e.what()), "cannot open " + missing + ": No such file or directory");
  }
  EXPECT_THROW(read_text_file(dir.str()), std::system_error);
  const auto file = dir / "bytes.json";
  std::ofstream(file, std::ios::binary) << std::string("{\"a\":\0\r\n}", 9);
  EXPECT_EQ(read_text_file(file.string()), std::string("{\"a\":\0\r\n}", 9));
}

// A file, a pipe and an endless device, each against the limit.
TEST(ReadTextFile, StopsAtTheLimit) {
  const morvi::testing::ScratchDir dir;
  const auto file = dir / "ten.json";
  std::ofstream(file, std::ios::binary) << "[1,2,3,45]";
  EXPECT_EQ(read_text_file(file.string(), 10), "[1,2,3,45]");
  const auto refused = [](const std::string& path, std::size_t limit) {
    try {
      read_text_file(path, limit);
    } catch (const std::system_error& e) {
      EXPECT_EQ(e.code(), std::errc::file_too_large) << path;
      EXPECT_EQ(std::string(e.what()), "cannot read " + path + ": it holds more than the limit of " +
                                           std::to_string(limit) + " bytes: File too large");
      return true;
    }
    return false;
  };
  EXPECT_TRUE(refused(file.string(), 9));
  EXPECT_TRUE(refused("/dev/zero", 200000));
  // The reader stops early; the writer must not die of it.
  std::signal(SIGPIPE, SIG_IGN);
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  std::thread writer([&] { std::ofstream(dir / "pipe", std::ios::binary) << std::string(70000, ' '); });
  EXPECT_TRUE(refused((dir / "pipe").string(), 65537));
  writer.join();
}

}  // namespace
}  // namespace morvi::reporter::schema
