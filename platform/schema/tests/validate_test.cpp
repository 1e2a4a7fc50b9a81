#include "morvi/reporter/schema.hpp"

#include <ctime>
#include <functional>

#include <gtest/gtest.h>

#include "morvi/reporter/schema/results_json.hpp"
#include "sample_document.hpp"

namespace morvi::reporter::schema {
namespace {

using json = nlohmann::json;

json sample() { return parse_results_json(testing::kSampleDocument, "sample"); }

// `levels` arrays, each the only item of the one around it.
json nested_arrays(std::size_t levels) {
  json outer = json::array();
  json* inner = &outer;
  for (std::size_t i = 1; i < levels; ++i) {
    inner->push_back(json::array());
    inner = &inner->back();
  }
  return outer;
}

TEST(Validate, AcceptsAFinishedJob) {
  EXPECT_EQ(validate(sample()), std::nullopt);
}

struct Accepted {
  const char* name;
  const char* pointer;
  const char* replacement;  // JSON text
};

// Test names and failure messages show the case by its name, not its bytes.
void PrintTo(const Accepted& c, std::ostream* os) { *os << c.name; }

class ValidateAccepts : public ::testing::TestWithParam<Accepted> {};

// Variations the writer produces: fields left out, other node kinds at the top, identifiers
// and times in every allowed form.
TEST_P(ValidateAccepts, Variation) {
  json document = sample();
  document[json::json_pointer(GetParam().pointer)] = json::parse(GetParam().replacement);
  EXPECT_EQ(validate(document), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Writer, ValidateAccepts,
    ::testing::Values(
        Accepted{"BareTrialKit", "/report", R"({"type": "TrialKit", "idlist": [null]})"},
        Accepted{"SectionAtTheTop", "/report",
                 R"({"type": "Testcase", "id": "tc", "fullid": "t.tc", "idlist": ["t", "tc"],
                     "lumo_uid": "u1", "logs": {"file": "x.log", "begin": 0},
                     "sections": [{"type": "Step", "idlist": ["t", "tc", 1]}]})"},
        Accepted{"ListIdentifier", "/report/tasks/0/id", R"([1, "a", {"b": null}])"},
        Accepted{"NaiveTimeWithFraction", "/report/starttime", R"("2024-05-01 10:00:00.000001")"},
        Accepted{"NegativeOffset", "/report/stoptime", R"("2024-05-01 10:00:00-05:30")"},
        Accepted{"ExtraIsFreeForm", "/report/extra", R"({"a": [[{"b": [true, 1e300]}]]})"},
        Accepted{"EmptyDescription", "/report/tasks/0/sections/1/description", R"("")"},
        Accepted{"EveryResultName", "/report/tasks/0/sections/2/sections",
                 R"([{"type": "S", "idlist": [1], "result": {"value": "passx"}},
                     {"type": "S", "idlist": [2], "result": {"value": "errored"}},
                     {"type": "S", "idlist": [3], "result": {"value": "aborted"}},
                     {"type": "S", "idlist": [4], "result": {"value": "blocked"}},
                     {"type": "S", "idlist": [5], "result": {"value": "skipped"}}])"}),
    [](const auto& info) { return std::string(info.param.name); });

struct Rejected {
  const char* name;
  const char* pointer;
  const char* replacement;  // JSON text; empty to remove the value
  const char* problem;      // expected start of the first problem line
};

void PrintTo(const Rejected& c, std::ostream* os) { *os << c.name; }

class ValidateRejects : public ::testing::TestWithParam<Rejected> {};

TEST_P(ValidateRejects, Damage) {
  json document = sample();
  const json::json_pointer where(GetParam().pointer);
  if (*GetParam().replacement == '\0') {
    document[where.parent_pointer()].erase(where.back());
  } else {
    document[where] = json::parse(GetParam().replacement);
  }
  const auto problems = validate(document);
  ASSERT_TRUE(problems.has_value());
  EXPECT_EQ(problems->substr(0, problems->find('\n')).rfind(GetParam().problem, 0), 0u)
      << *problems;
}

INSTANTIATE_TEST_SUITE_P(
    Damage, ValidateRejects,
    ::testing::Values(
        Rejected{"OtherVersion", "/version", R"("3.3")", "/version: "},
        Rejected{"NoReport", "/report", "", "(root): Missing required property 'report'"},
        Rejected{"NoVersion", "/version", "", "(root): Missing required property 'version'"},
        Rejected{"StrayHeaderKey", "/generator", R"("x")", "(root): "},
        Rejected{"IsoTime", "/report/starttime", R"("2024-05-01T10:00:00")",
                 "/report/starttime: "},
        Rejected{"MillisecondTime", "/report/tasks/0/stoptime",
                 R"("2024-05-01 10:00:00.250")", "/report/tasks/0/stoptime: "},
        Rejected{"NumericTime", "/report/tasks/0/sections/2/starttime", "1714550400",
                 "/report/tasks/0/sections/2/starttime: "},
        Rejected{"UnknownResult", "/report/result/value", R"("passing")",
                 "/report/result/value: "},
        Rejected{"ResultAsText", "/report/tasks/0/result", R"("failed")",
                 "/report/tasks/0/result: "},
        Rejected{"EmptyReason", "/report/tasks/0/result/reason", R"("")",
                 "/report/tasks/0/result/reason: "},
        Rejected{"TallyWithoutTotal", "/report/summary/total", "", "/report/summary: "},
        Rejected{"TallyTextCount", "/report/tasks/0/summary/failed", R"("1")",
                 "/report/tasks/0/summary/failed: "},
        Rejected{"UnknownSectionField", "/report/tasks/0/sections/1/colour", R"("red")",
                 "/report/tasks/0/sections/1: "},
        Rejected{"TaskFieldOnSection", "/report/tasks/0/sections/2/sections/0/totaltasks", "1",
                 "/report/tasks/0/sections/2/sections/0: "},
        Rejected{"NoType", "/report/tasks/0/sections/2/sections/1/type", "",
                 "/report/tasks/0/sections/2/sections/1: Missing required property 'type'"},
        Rejected{"EmptyIdList", "/report/tasks/1/idlist", "[]", "/report/tasks/1/idlist: "},
        Rejected{"TextRuntime", "/report/runtime", R"("299.75")", "/report/runtime: "},
        Rejected{"SectionsNotAList", "/report/tasks/0/sections", R"({"a": 1})",
                 "/report/tasks/0/sections: "},
        Rejected{"ChildNotANode", "/report/tasks/0/sections/2/sections/0", R"("s1")",
                 "/report/tasks/0/sections/2/sections/0: "},
        Rejected{"ExtraNotAMap", "/report/tasks/0/extra", "[1]", "/report/tasks/0/extra: "},
        Rejected{"LogsBeginText", "/report/tasks/0/sections/0/logs/begin", R"("100")",
                 "/report/tasks/0/sections/0/logs/begin: "},
        Rejected{"ReportNotAnObject", "/report", "[]", "/report: "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Validate, ReportsEveryProblemOnItsOwnLineWithTheValue) {
  json document = sample();
  document["report"]["starttime"] = "yesterday";
  document["report"]["tasks"][0]["result"]["value"] = "passing";
  const auto problems = validate(document);
  ASSERT_TRUE(problems.has_value());
  EXPECT_EQ(*problems,
            "/report/starttime: Failed to match regex specified by 'pattern' constraint. "
            "(value: \"yesterday\")\n"
            "/report/tasks/0/result/value: Failed to match against any enum values. "
            "(value: \"passing\")");
}

TEST(Validate, PointersEscapeSlashAndTilde) {
  json document = sample();
  document["report"]["a/b~c"] = 1;
  const auto problems = validate(document);
  ASSERT_TRUE(problems.has_value());
  EXPECT_NE(problems->find("'a/b~c'"), std::string::npos) << *problems;
  document = sample();
  document["report"]["extra"] = json{{"a/b~c", json::object()}};
  document["report"]["tasks"][0]["sections"][0]["logs"] = json{{"file", 1}};
  EXPECT_NE(validate(document)->find("/report/tasks/0/sections/0/logs/file"), std::string::npos);
}

TEST(Validate, CapsTheNumberOfProblemLines) {
  json document = sample();
  json& details = document["report"]["tasks"];
  for (int i = 0; i < 250; ++i) details.push_back(json{{"type", i}, {"idlist", {i}}});
  const auto problems = validate(document);
  ASSERT_TRUE(problems.has_value());
  EXPECT_EQ(std::count(problems->begin(), problems->end(), '\n'), 200);
  EXPECT_TRUE(problems->ends_with("(50 more problems not shown)")) << problems->substr(0, 200);
}

TEST(Validate, RefusesADocumentBuiltDeeperThanTheLimit) {
  json document = sample();
  document["report"]["extra"] = json{{"deep", nested_arrays(100000)}};
  const auto problems = validate(document);
  ASSERT_TRUE(problems.has_value());
  EXPECT_TRUE(problems->starts_with("/report/extra/deep/0/0/")) << problems->substr(0, 80);
  EXPECT_TRUE(problems->ends_with(": arrays and objects nest deeper than the limit of " +
                                  std::to_string(MAX_DEPTH) + " levels"));
}

TEST(Validate, AcceptsNestingUpToTheLimit) {
  json document = sample();
  // The top object, "report" and "extra" take the first three levels.
  document["report"]["extra"] = json{{"deep", nested_arrays(MAX_DEPTH - 3)}};
  EXPECT_EQ(validate(document), std::nullopt);
}

// The most sections a document can nest: the top object and the report take two levels,
// each section two more, and the deepest section's idlist one below it.
constexpr std::size_t kDeepestChain = (MAX_DEPTH - 3) / 2;

// A report holding `sections` sections, each the only section of the one above it. `damage`
// is called with every node (the report is node 0) and may spoil it.
json section_chain(std::size_t sections, const std::function<void(std::size_t, json&)>& damage) {
  json document = {{"version", "3.4"}, {"report", {{"type", "Task"}, {"idlist", {"t"}}}}};
  json* node = &document["report"];
  damage(0, *node);
  for (std::size_t k = 1; k <= sections; ++k) {
    (*node)["sections"] = json::array({json{{"type", "Section"}, {"idlist", {"s"}}}});
    node = &(*node)["sections"][0];
    damage(k, *node);
  }
  return document;
}

std::string pointer_of_node(std::size_t k) {
  std::string pointer = "/report";
  for (std::size_t i = 0; i < k; ++i) pointer += "/sections/0";
  return pointer;
}

constexpr const char* kSlowRuntime = "Value type not permitted by 'type' constraint. (value: \"slow\")";

TEST(Validate, WalksSectionsNestedUpToTheLimit) {
  // A chain of sections is checked whole, and a damaged leaf at the bottom still found.
  EXPECT_EQ(validate(section_chain(kDeepestChain, [](std::size_t, json&) {})), std::nullopt);
  const json document = section_chain(kDeepestChain, [](std::size_t k, json& node) {
    if (k == kDeepestChain) node["runtime"] = "slow";
  });
  EXPECT_EQ(validate(document), pointer_of_node(kDeepestChain) + "/runtime: " + kSlowRuntime);
}

TEST(Validate, FindsSeveralProblemsAtEveryDepth) {
  // A problem of another kind every 700 sections, the report's own first.
  const auto damaged = [](std::size_t k, json& node) {
    if (k % 700 != 0) return;
    switch (k / 700 % 4) {
      case 0: node["runtime"] = "slow"; break;
      case 1: node["starttime"] = "yesterday"; break;
      case 2: node["colour"] = "red"; break;
      case 3: node["result"] = {{"value", "passing"}}; node.erase("type"); break;
    }
  };
  const json document = section_chain(kDeepestChain, damaged);
  // Members are checked in name order, so a node's problems with "result" and "runtime" come
  // before those of the sections below it; those with "starttime", a stray member or a missing
  // one after them.
  std::vector<Problem> before_sections, after_sections;
  for (std::size_t k = 0; k <= kDeepestChain; k += 700) {
    const std::string at = pointer_of_node(k);
    switch (k / 700 % 4) {
      case 0: before_sections.push_back({at + "/runtime", kSlowRuntime}); break;
      case 1:
        after_sections.push_back({at + "/starttime",
                                  "Failed to match regex specified by 'pattern' constraint. (value: \"yesterday\")"});
        break;
      case 2:
        after_sections.push_back({at, "Object contains a property that could not be validated using 'properties' "
                                      "or 'additionalProperties' constraints: 'colour'."});
        break;
      case 3:
        before_sections.push_back({at + "/result/value", "Failed to match against any enum values. (value: \"passing\")"});
        after_sections.push_back({at, "Missing required property 'type'."});
        break;
    }
  }
  std::vector<Problem> expected = before_sections;
  expected.insert(expected.end(), after_sections.rbegin(), after_sections.rend());
  const Findings findings = find_problems(document);
  ASSERT_EQ(findings.problems.size(), expected.size());
  EXPECT_EQ(findings.not_shown, 0u);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(findings.problems[i].pointer, expected[i].pointer) << i;
    EXPECT_EQ(findings.problems[i].message, expected[i].message) << i;
  }

  // With a problem in every node, the first ones are shown from the top down and the rest
  // counted.
  const json everywhere = section_chain(kDeepestChain, [](std::size_t, json& node) { node["runtime"] = "slow"; });
  const Findings capped = find_problems(everywhere, 3);
  ASSERT_EQ(capped.problems.size(), 3u);
  EXPECT_EQ(capped.not_shown, kDeepestChain + 1 - 3);
  EXPECT_EQ(capped.problems[2].pointer, pointer_of_node(2) + "/runtime");
  EXPECT_EQ(capped.problems[2].message, kSlowRuntime);
}

// Process CPU time of the quickest of a few calls of find_problems on `document`.
double quickest_check(const json& document) {
  double best = 0;
  for (int run = 0; run < 3; ++run) {
    const std::clock_t start = std::clock();
    const Findings findings = find_problems(document);
    const double used = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    EXPECT_EQ(findings.problems.size(), 1u);
    if (run == 0 || used < best) best = used;
  }
  return best;
}

TEST(Validate, ChecksAFailingDocumentInTimeLinearInItsDepth) {
  // Four times the depth: about four times the work, where work growing with the square of the
  // depth would take sixteen. A bad value at the bottom makes every level fail.
  const auto chain = [](std::size_t sections) {
    return section_chain(sections, [sections](std::size_t k, json& node) {
      if (k == sections) node["runtime"] = "slow";
    });
  };
  const json shallow = chain(kDeepestChain / 4);
  const json deep = chain(kDeepestChain);
  const double shallow_time = quickest_check(shallow);
  const double deep_time = quickest_check(deep);
  EXPECT_LT(deep_time, 8 * shallow_time + 0.005) << shallow_time << " s against " << deep_time << " s";
}
}  // namespace
}  // namespace morvi::reporter::schema
