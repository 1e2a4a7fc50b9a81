// Numbers in integer fields: the quick check, the full validator and Python's jsonschema (an
// independent reading of the same schema) must give the same answer for every way of writing
// a number, whole numbers written as reals included.
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "morvi/errors.hpp"
#include "morvi/reporter/schema.hpp"
#include "morvi/reporter/schema/fast_check.hpp"
#include "morvi/reporter/schema/results_json.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "sample_document.hpp"

namespace morvi::reporter::schema {
namespace {

struct Case {
  std::string text;
  std::string what;
  bool quick;
  bool full;
};

// The sample document with `pointer` holding `literal`, written as it stands.
std::string with_number(const std::string& pointer, const std::string& literal) {
  std::string base(testing::kSampleDocument);
  base.replace(base.find("NaN"), 3, "0.5");  // strict JSON, which the quick check needs
  nlohmann::ordered_json document = nlohmann::ordered_json::parse(base);
  document[nlohmann::ordered_json::json_pointer(pointer)] = "@@";
  std::string text = document.dump();
  text.replace(text.find("\"@@\""), 4, literal);
  return text;
}

// Python's jsonschema on every text, one answer per text.
std::vector<bool> python_answers(const std::vector<Case>& cases) {
  const morvi::testing::ScratchDir dir;
  {
    std::ofstream out(dir / "documents.jsonl");
    for (const Case& c : cases) out << c.text << '\n';
  }
  const std::string script =
      "import json, sys, jsonschema\n"
      "schema = json.load(open(sys.argv[1]))\n"
      "check = jsonschema.Draft7Validator(schema)\n"
      "with open(sys.argv[3], 'w') as out:\n"
      "    for line in open(sys.argv[2]):\n"
      "        out.write('1\\n' if check.is_valid(json.loads(line)) else '0\\n')\n";
  std::ofstream(dir / "oracle.py") << script;
  const auto quote = [](const std::filesystem::path& p) { return "'" + p.string() + "'"; };
  const std::string command =
      "/usr/bin/python3 " + quote(dir / "oracle.py") + " " +
      quote(morvi::testing::source_dir() / "platform/schema/results.schema.json") + " " +
      quote(dir / "documents.jsonl") + " " + quote(dir / "answers");
  if (std::system(command.c_str()) != 0) throw std::runtime_error("the oracle failed");
  std::vector<bool> answers;
  std::ifstream in(dir / "answers");
  for (std::string line; std::getline(in, line);) answers.push_back(line == "1");
  return answers;
}

TEST(WholeNumbers, QuickCheckValidatorAndPythonAgree) {
  const std::vector<std::string> integer_fields = {
      "/report/summary/total", "/report/summary/passed", "/report/totaltasks",
      "/report/tasks/0/sections/0/logs/begin"};
  const std::vector<std::string> literals = {
      "2", "-3", "0", "2.0", "-0.0", "1e2", "1E+2", "100e-2", "0.5e1", "4.0e18", "9.3e18",
      "1.8446744073709552e19", "1e19", "1e300", "-1e300", "12345678901234567890123",
      "-12345678901234567890123", "123456789012345678901234567890.5", "2.5", "1e-1", "-0.5",
      "1.0000000000000002"};
  std::vector<Case> cases;
  for (const std::string& pointer : integer_fields) {
    for (const std::string& literal : literals) {
      Case c{with_number(pointer, literal), pointer + " = " + literal, false, false};
      c.quick = quickly_valid(c.text);
      c.full = !validate(parse_results_json(c.text, "doc")).has_value();
      cases.push_back(std::move(c));
    }
  }
  const std::vector<bool> python = python_answers(cases);
  ASSERT_EQ(python.size(), cases.size());
  int accepted = 0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(c.full, python[i]) << c.what;
    // The quick check may leave a number it cannot hold to the validator, never the reverse.
    if (c.quick) {
      EXPECT_TRUE(c.full) << c.what;
    }
    const bool beyond_64_bits = c.what.find("12345678901234567890123") != std::string::npos;
    if (!beyond_64_bits) {
      EXPECT_EQ(c.quick, c.full) << c.what;
    }
    accepted += c.full;
  }
  // Whole numbers however written are accepted; the fractions are not.
  EXPECT_EQ(accepted, 4 * 18);
}

// A problem quotes the number as the file writes it; "totaltasks": 2.0, which the writer
// itself produces for stop(num_tasks=2.0), passes.
TEST(WholeNumbers, ProblemQuotesTheValueAsWritten) {
  const std::string text = with_number("/report/summary/total", "2.5");
  const auto problems = validate(parse_results_json(text, "doc"));
  ASSERT_TRUE(problems.has_value());
  EXPECT_NE(problems->find("/report/summary/total: "), std::string::npos) << *problems;
  EXPECT_NE(problems->find("(value: 2.5)"), std::string::npos) << *problems;
  EXPECT_EQ(validate(parse_results_json(with_number("/report/totaltasks", "2.0"), "doc")),
            std::nullopt);
}

}  // namespace
}  // namespace morvi::reporter::schema
