// The JSON text form of values, the conversion hook and nesting to any depth.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "morvi/datetime.hpp"
#include "morvi/errors.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/reporter/trialkit/json.hpp"
#include "morvi/results.hpp"
#include "morvi/testing/files.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "morvi/testing/small_stack.hpp"

namespace morvi::reporter::trialkit {
namespace {

using ::testing::HasSubstr;

class Gadget : public Object {
 public:
  std::string type_name() const override { return "Gadget"; }
};

struct Written {
  const char* name;
  Value value;
  std::string json;
};

// Test names and failure messages show the case by its name, not its bytes.
void PrintTo(const Written& c, std::ostream* os) { *os << c.name; }

class JsonTextForm : public ::testing::TestWithParam<Written> {};

TEST_P(JsonTextForm, IsExact) { EXPECT_EQ(JSONDumper::encode(GetParam().value), GetParam().json); }

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Values, JsonTextForm,
    ::testing::Values(
        Written{"none", Value(), "null"}, Written{"bools", Value::list({true, false}), "[true, false]"},
        Written{"ints", Value::list({0, -7, Value(std::numeric_limits<std::int64_t>::min())}),
                "[0, -7, -9223372036854775808]"},
        Written{"reals", Value::list({1.0, 0.1, 1e-5, 1e16, -0.0, 2.675}), "[1.0, 0.1, 1e-05, 1e+16, -0.0, 2.675]"},
        Written{"non_finite", Value::list({kNaN, kInf, -kInf}), "[NaN, Infinity, -Infinity]"},
        Written{"short_escapes", Value("\"\\\b\f\n\r\t/"), R"("\"\\\b\f\n\r\t/")"},
        Written{"controls_and_delete", Value(std::string("\x00\x1f\x7f", 3)), R"("\u0000\u001f\u007f")"},
        Written{"beyond_ascii", Value("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"), R"("\u00e9\u20ac\ud83d\ude00")"},
        // Each maximal ill-formed subsequence reads as one U+FFFD.
        Written{"not_utf8", Value("a\xff" "b\xf0\x9f\x98" "c\xed\xa0\x80"),
                R"("a\ufffdb\ufffdc\ufffd\ufffd\ufffd")"},
        Written{"keys_escaped_in_order", Value(Map{{"z\n", 1}, {"\xc3\xa9", 2}, {"a", 3}}),
                R"({"z\n": 1, "\u00e9": 2, "a": 3})"},
        Written{"empty_containers", Value::list({Value(List{}), Value::tuple({}), Value(Map{}), Value::attr_map({})}),
                "[[], [], {}, {}]"},
        Written{"tuple_as_array", Value::tuple({1, "a"}), R"([1, "a"])"},
        Written{"datetimes", Value::list({DateTime(2024, 1, 2, 3, 4, 5), DateTime(2024, 1, 2, 3, 4, 5, 5000, -90)}),
                R"(["2024-01-02 03:04:05", "2024-01-02 03:04:05.005000-01:30"])"},
        Written{"result_value_only", Value(results::Passed), R"({"value": "passed"})"},
        Written{"result_reason_and_data",
                Value(results::TestResult(results::ResultCode::failed, "boom", Map{{"k", 1}})),
                R"({"value": "failed", "reason": "boom", "data": {"k": 1}})"},
        Written{"error_as_repr", Value::error("ValueError", {Value("bad 'x'")}), R"j("ValueError(\"bad 'x'\")")j"}),
    [](const auto& info) { return std::string(info.param.name); });

// Texts of every length up to twenty with one byte to escape at every place, and none: the
// writer checks texts in words of eight bytes, the last one overlapping, so each place in a
// word and across words is met. Python's JSON reader reads each back to the same bytes.
TEST(JsonTextForm, EscapesAByteAtAnyPlaceInATextOfAnyLength) {
  const std::vector<std::string> specials = {std::string(1, '\0'), "\x1f", "\"", "\\", "\x7f", "\xc3\xa9",
                                             "\xf0\x9f\x98\x80"};
  std::vector<std::string> texts;
  for (std::size_t n = 1; n <= 20; ++n) {
    texts.emplace_back(n, 'a');
    for (std::size_t at = 0; at < n; ++at)
      for (const std::string& special : specials) texts.push_back(std::string(at, 'b') + special + std::string(n - at - 1, 'c'));
  }
  const morvi::testing::ScratchDir dir;
  {
    std::ofstream out(dir / "texts", std::ios::binary);
    static constexpr char kHex[] = "0123456789abcdef";
    for (const std::string& text : texts) {
      out << JSONDumper::encode(Value(text)) << ' ';
      for (const char c : text) out << kHex[static_cast<unsigned char>(c) >> 4] << kHex[c & 0xF];
      out << '\n';
    }
  }
  const std::string script =
      "import json, sys\n"
      "for n, line in enumerate(open(sys.argv[1], 'rb')):\n"
      "    written, expected = line.split()\n"
      "    if json.loads(written).encode() != bytes.fromhex(expected.decode()): sys.exit('line %d: %s' % (n + 1, written))\n";
  std::ofstream(dir / "check.py") << script;
  const std::string command = "/usr/bin/python3 " + morvi::testing::shell_quoted((dir / "check.py").string()) + " " +
                              morvi::testing::shell_quoted((dir / "texts").string());
  EXPECT_EQ(std::system(command.c_str()), 0);
}

TEST(JsonTally, CountsThenTotalThenSuccessRate) {
  results::ResultCounter tally;
  tally.set_count("passed", 3);
  tally.set_count("failed", 1);
  tally.set_count("custom", 2);
  EXPECT_EQ(JSONDumper::encode(Value(tally)),
            R"({"passed": 3, "passx": 0, "failed": 1, "errored": 0, "aborted": 0, "blocked": 0, )"
            R"("skipped": 0, "custom": 2, "total": 6, "success_rate": 50.0})");
}

// The writer writes hooked values in place; what it writes must be what the hook returns.
TEST(JsonHook, WritingInPlaceEqualsWritingTheReplacement) {
  results::ResultCounter tally;
  tally.set_count("passx", 2);
  const Value hooked[] = {
      Value(results::TestResult(results::ResultCode::errored, "r", Map{{"x", Value::list({1})}})),
      Value(tally), Value(DateTime(1999, 12, 31, 23, 59, 59, 1, 0)), Value::error("KeyError", {1, "\xff"})};
  for (const Value& v : hooked) EXPECT_EQ(JSONDumper::encode(v), JSONDumper::encode(JSONDumper::default_(v)));
}

TEST(JsonHook, RefusesWhatItCannotConvertNamingTheKind) {
  const Value gadget = Value::opaque(std::make_shared<Gadget>());
  for (const Value& v : {gadget, Value::list({1, Value(Map{{"deep", gadget}})})}) {
    try {
      JSONDumper::encode(v);
      ADD_FAILURE() << "no refusal";
    } catch (const SerializationError& e) {
      EXPECT_THAT(e.what(), HasSubstr("'object' (Gadget)"));
    }
  }
  EXPECT_THROW(JSONDumper::default_(Value(Map{})), SerializationError);
  EXPECT_THROW(JSONDumper::default_(Value("plain text")), SerializationError);
}

// A file is written whole or not at all: a refusal after the first chunks went out, or a
// folder that does not exist, leaves no file, no temporary beside it, and an older file as it was.
TEST(JsonFile, FailuresLeaveNothingHalfWritten) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(::testing::TempDir()) / "json_file_failures";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path path = dir / "results.json";
  std::ofstream(path) << "older";
  List items;
  for (int i = 0; i < 40000; ++i) items.push_back(Value(Map{{"text", Value(std::string(64, 'a'))}, {"l", Value::list({Value(Map{})})}}));
  items.push_back(Value::opaque(std::make_shared<Gadget>()));
  EXPECT_THROW(JSONDumper::encode_file(Value(std::move(items)), path.string()), SerializationError);
  std::ifstream in(path);
  std::string kept;
  std::getline(in, kept);
  EXPECT_EQ(kept, "older");
  EXPECT_THROW(JSONDumper::encode_file(Value(1), (dir / "missing" / "results.json").string()), std::system_error);
  std::vector<std::string> left;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) left.push_back(entry.path().filename().string());
  EXPECT_THAT(left, ::testing::ElementsAre("results.json"));
  JSONDumper::encode_file(Value::list({1, "\xc3\xa9"}), path.string());
  std::ifstream again(path);
  std::getline(again, kept);
  EXPECT_EQ(kept, R"([1, "\u00e9"])");
  fs::remove_all(dir);
}

// A value nested `depth` lists deep; taken apart level by level so that freeing it never
// recurses deeply either.
class NestedLists {
 public:
  explicit NestedLists(int depth) {
    for (int i = 0; i < depth; ++i) {
      List outer;
      outer.push_back(std::move(root_));
      root_ = Value(std::move(outer));
    }
  }
  ~NestedLists() {
    while (root_.is_list() && !root_.as_list().empty()) {
      Value inner = std::move(root_.as_list().front());
      root_ = std::move(inner);
    }
  }
  const Value& value() const { return root_; }

 private:
  Value root_ = Value(1);
};

// Plain values nest to any depth, on a caller's small stack too.
TEST(JsonDepth, WritesListsNestedAHundredThousandDeepOnASmallStack) {
  const int depth = 100'000;
  const NestedLists deep(depth);
  testing::on_small_stack([&deep, depth] {
    const std::string json = JSONDumper::encode(deep.value());
    EXPECT_EQ(json, std::string(depth, '[') + "1" + std::string(depth, ']'));
  });
}

// A results document nests to max_nesting levels and no deeper, so that its readers take all
// it writes: one level more is refused naming the node that holds it, and leaves no file.
TEST(JsonDepth, ResultsDocumentsNestNoDeeperThanTheirReadersTake) {
  auto job = TrialKit::create(Value("job"), Value(1));
  auto section = job->add_task(Value("t"), Value(1))->add_section(Value("s"), Value(1));
  // The top object is level 1, the job 2, its task list 3, the task 4, its section list 5,
  // the section 6 and its extra map 7.
  const std::size_t at_limit = JSONDumper::max_nesting - 7;
  section->update(Map{{"extra", Value(Map{{"deep", NestedLists(static_cast<int>(at_limit)).value()}})}});
  const std::string text = job->dump_json();
  EXPECT_THAT(text, HasSubstr(std::string(at_limit, '[') + "1" + std::string(at_limit, ']')));

  section->update(Map{{"extra", Value(Map{{"deep", NestedLists(static_cast<int>(at_limit + 1)).value()}})}});
  const std::string refusal = "cannot write the document as JSON: arrays and objects nest deeper than " +
                              std::to_string(JSONDumper::max_nesting) + " levels inside <Section t.s>";
  try {
    job->dump_json();
    ADD_FAILURE() << "no refusal";
  } catch (const SerializationError& e) {
    EXPECT_EQ(std::string(e.what()), refusal);
  }
  namespace fs = std::filesystem;
  const fs::path path = fs::path(::testing::TempDir()) / "too_deep_results.json";
  fs::remove(path);
  EXPECT_THROW(JSONDumper::write_results(*job, path.string()), SerializationError);
  EXPECT_FALSE(fs::exists(path));
}

// A result's data is written inside the result's braces at any depth.
TEST(JsonDepth, WritesResultsNestedInResultData) {
  Value chain(results::TestResult(results::ResultCode::failed, "why"));
  for (int i = 0; i < 3; ++i) {
    Map data;
    data.set("inner", std::move(chain));
    chain = Value(results::TestResult(results::ResultCode::passed, "", std::move(data)));
  }
  EXPECT_EQ(JSONDumper::encode(Value::list({chain, Value(2)})),
            R"([{"value": "passed", "data": {"inner": {"value": "passed", "data": {"inner": )"
            R"({"value": "passed", "data": {"inner": {"value": "failed", "reason": "why"}}}}}}}, 2])");
}

}  // namespace
}  // namespace morvi::reporter::trialkit
