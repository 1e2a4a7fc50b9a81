// The problems found for a document must be the ones the schema validator itself reports
// (valijson, collecting every error): the same places, in the same order, in the same words,
// for damage of every kind anywhere in a document, alone or several at once.
#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <valijson/adapters/nlohmann_json_adapter.hpp>
#include <valijson/schema.hpp>
#include <valijson/schema_parser.hpp>
#include <valijson/validation_results.hpp>
#include <valijson/validator.hpp>

#include "morvi/reporter/schema.hpp"
#include "morvi/reporter/schema/results_json.hpp"
#include "sample_document.hpp"

namespace morvi::reporter::schema {
namespace {

using json = nlohmann::json;

struct Line {
  std::string pointer;
  std::string description;
};

const valijson::Schema& validator_schema() {
  static const struct Parsed {
    valijson::Schema schema;
    Parsed() {
      const json document = json::parse(results_schema_text());
      valijson::SchemaParser(valijson::SchemaParser::kDraft7)
          .populateSchema(valijson::adapters::NlohmannJsonAdapter(document), schema);
    }
  } parsed;
  return parsed.schema;
}

// valijson's errors as pointer and description, without the lines that only say a member or
// an item below failed.
std::vector<Line> validator_lines(const json& document) {
  valijson::ValidationResults results;
  valijson::Validator().validate(validator_schema(), valijson::adapters::NlohmannJsonAdapter(document), &results);
  std::vector<Line> lines;
  for (const auto& error : results) {
    if (error.description.starts_with("Failed to validate against schema associated with property") ||
        error.description.starts_with("Failed to validate item #")) {
      continue;
    }
    std::string pointer;
    for (std::size_t i = 1; i < error.context.size(); ++i) {
      // "[name]" or "[index]"
      pointer += '/';
      for (const char c : error.context[i].substr(1, error.context[i].size() - 2)) {
        pointer += c == '~' ? std::string("~0") : c == '/' ? std::string("~1") : std::string(1, c);
      }
    }
    lines.push_back({pointer, error.description});
  }
  return lines;
}

// find_problems against valijson; `max_problems` below the count checks the cap too. The
// number of problems.
std::size_t expect_same_problems(const json& document, const std::string& what, std::size_t max_problems = 200) {
  const std::vector<Line> expected = validator_lines(document);
  const Findings findings = find_problems(document, max_problems);
  EXPECT_EQ(findings.problems.size() + findings.not_shown, expected.size()) << what;
  if (findings.problems.size() > expected.size()) return expected.size();
  for (std::size_t i = 0; i < findings.problems.size(); ++i) {
    const Problem& found = findings.problems[i];
    EXPECT_EQ(found.pointer, expected[i].pointer) << what << ", problem " << i;
    // The value quoted after the description is the wording's own addition.
    EXPECT_TRUE(found.message == expected[i].description ||
                found.message.starts_with(expected[i].description + " (value: "))
        << what << ", problem " << i << ": " << found.message << " against " << expected[i].description;
  }
  return expected.size();
}

// Every place in `value`, as a pointer.
void collect_places(const json& value, const std::string& pointer, std::vector<std::string>& places) {
  places.push_back(pointer);
  if (value.is_object()) {
    for (const auto& [name, member] : value.items()) {
      std::string below = pointer + '/';
      for (const char c : name) below += c == '~' ? std::string("~0") : c == '/' ? std::string("~1") : std::string(1, c);
      collect_places(member, below, places);
    }
  } else if (value.is_array()) {
    for (std::size_t i = 0; i < value.size(); ++i) collect_places(value[i], pointer + '/' + std::to_string(i), places);
  }
}

// Whole reals are left out: valijson alone does not count 2.0 as an integer.
const std::vector<json>& replacements() {
  static const std::vector<json> values = {
      "x", "", 3, -1, 2.5, nullptr, true, json::array(), json::object(), json::array({"a"}),
      json{{"value", "passing"}}, json{{"value", "failed"}, {"reason", ""}}, "2024-05-01 10:00:00",
      json{{"type", "S"}, {"idlist", {1}}, {"a/b~", 1}}};
  return values;
}

// The sample job, its NaN (which valijson reads as a number too) included.
json sample() { return parse_results_json(testing::kSampleDocument, "sample"); }

TEST(ProblemWording, AgreesWithTheValidatorOnEveryDamage) {
  const json base = sample();
  std::vector<std::string> places;
  collect_places(base, "", places);
  ASSERT_GT(places.size(), 150u);
  int failing = 0;
  for (const std::string& place : places) {
    const json::json_pointer where(place);
    for (const json& replacement : replacements()) {
      json document = base;
      document[where] = replacement;
      failing += expect_same_problems(document, place + " = " + replacement.dump()) > 0;
    }
    json document = base;
    if (!place.empty()) {
      json& parent = document[where.parent_pointer()];
      if (parent.is_object()) {
        parent.erase(where.back());
      } else {
        parent.erase(std::stoul(where.back()));
      }
      expect_same_problems(document, place + " removed");
    }
    if (base[where].is_object()) {
      document = base;
      document[where]["a/b~c"] = 1;
      document[where]["Zz"] = json::array();
      expect_same_problems(document, place + " with strays");
    }
  }
  // Most damage is caught; what is not falls in free-form fields.
  EXPECT_GT(failing, static_cast<int>(places.size() * replacements().size() / 2));
}

TEST(ProblemWording, AgreesWithTheValidatorOnSeveralDamagesAndTheCap) {
  const json base = sample();
  std::vector<std::string> places;
  collect_places(base, "", places);
  places.erase(places.begin());  // not the whole document
  std::mt19937 random(20241210);
  for (int round = 0; round < 300; ++round) {
    json document = base;
    std::string what;
    for (int n = 0; n < 4; ++n) {
      const std::string& place = places[random() % places.size()];
      const json& replacement = replacements()[random() % replacements().size()];
      // An earlier damage may have replaced a container on this place's path.
      const json::json_pointer where(place);
      if (!document.contains(where.parent_pointer()) || !document[where.parent_pointer()].is_structured()) continue;
      if (document[where.parent_pointer()].is_array() &&
          (where.back().empty() || where.back().find_first_not_of("0123456789") != std::string::npos ||
           std::stoul(where.back()) >= document[where.parent_pointer()].size())) {
        continue;
      }
      document[where] = replacement;
      what += place + " = " + replacement.dump() + "; ";
    }
    expect_same_problems(document, what);
    expect_same_problems(document, what + "two shown", 2);
  }
}

}  // namespace
}  // namespace morvi::reporter::schema
