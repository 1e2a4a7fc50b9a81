#include "morvi/reporter/schema/fast_check.hpp"

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "morvi/errors.hpp"
#include "morvi/reporter/schema.hpp"
#include "morvi/reporter/schema/results_json.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "sample_document.hpp"

namespace morvi::reporter::schema {
namespace {

using json = nlohmann::ordered_json;

// What the full parser and validator say of `text`.
bool fully_valid(const std::string& text) {
  try {
    return !validate(parse_results_json(text, "mutant")).has_value();
  } catch (const ParseError&) {
    return false;
  }
}

std::string written_job() {
  auto job = trialkit::TrialKit::create("job", 1);
  job->start(Map{{"host", "lab"}, {"cli", Value::list({"morvi", "run"})}});
  auto monitor = job->add_plugin("monitor", 2);
  monitor->start();
  auto task = job->add_task("t1", 3);
  task->start(Map{{"description", "script"}, {"parameters", Map{{"vlan", 10}}}});
  auto probe = task->add_plugin("probe", 4);
  probe->start(Map{{"logfile", "/nonexistent/probe.log"}});
  auto testcase = task->add_section(7, 5, "Testcase");
  testcase->start(Map{{"description", ""}});
  auto step = testcase->add_section(Value::list({1, "a"}), 6, "Step");
  step->start();
  step->add_detail(Map{{"note", "ünïcode"}});
  step->stop(Map{{"result", Value(results::Failed)}});
  testcase->stop();
  probe->stop();
  task->stop();
  monitor->stop();
  job->stop(Map{{"num_tasks", 2}});
  return job->dump_json();
}

// The hand-written sample with its one NaN, which strict JSON has no room for, made finite.
std::string sample_without_nan() {
  std::string text(testing::kSampleDocument);
  text.replace(text.find("NaN"), 3, "0.5");
  return text;
}

std::vector<std::string> real_documents() { return {written_job(), sample_without_nan()}; }

// Every JSON pointer in `document` that names a value, the root left out.
void collect_pointers(const json& value, const std::string& pointer, std::vector<std::string>& out) {
  if (!pointer.empty()) out.push_back(pointer);
  if (value.is_object()) {
    for (const auto& [key, member] : value.items()) collect_pointers(member, pointer + "/" + key, out);
  } else if (value.is_array()) {
    for (std::size_t i = 0; i < value.size(); ++i) {
      collect_pointers(value[i], pointer + "/" + std::to_string(i), out);
    }
  }
}

struct Tally {
  int shown_valid = 0;
  int fully_valid = 0;
  int documents = 0;
};

// The quick check never calls valid what the full validator refuses; the tally shows how much
// it settles.
void check(const std::string& text, const std::string& what, Tally& tally) {
  const bool quick = quickly_valid(text);
  const bool full = fully_valid(text);
  ++tally.documents;
  tally.shown_valid += quick;
  tally.fully_valid += full;
  if (quick) {
    EXPECT_TRUE(full) << what << "\n" << text.substr(0, 2000);
  }
}

TEST(QuickCheck, AcceptsWrittenDocuments) {
  for (const std::string& text : real_documents()) {
    EXPECT_TRUE(fully_valid(text));
    EXPECT_TRUE(quickly_valid(text)) << text;
  }
}

// Structural mutations of real documents at every place in them: members removed, values of
// every kind put in, unknown members added.
TEST(QuickCheck, AgreesWithTheValidatorOnMutations) {
  const std::vector<json> replacements = {
      1,   -3,         1.5,  "x", "", true, nullptr, json::array(), json::object(), "failed",
      "bogus", "2024-05-01 10:00:00", json::array({1}), json{{"value", "passed"}},
      json{{"passed", 0}}};
  Tally tally;
  for (const std::string& text : real_documents()) {
    const json original = json::parse(text);
    std::vector<std::string> pointers;
    collect_pointers(original, "", pointers);
    for (const std::string& pointer : pointers) {
      const json::json_pointer where(pointer);
      json removed = original;
      json& parent = removed[where.parent_pointer()];
      if (parent.is_object()) {
        parent.erase(where.back());
      } else {
        parent.erase(std::stoul(where.back()));
      }
      check(removed.dump(), "removed " + pointer, tally);
      for (const json& replacement : replacements) {
        json changed = original;
        changed[where] = replacement;
        check(changed.dump(), pointer + " = " + replacement.dump(), tally);
      }
      if (original[where].is_object()) {
        json extended = original;
        extended[where]["zz_unknown"] = 1;
        check(extended.dump(), "unknown member in " + pointer, tally);
      }
    }
  }
  // Most mutations break the document; among those that keep it valid, the quick check
  // settles nearly all.
  EXPECT_LT(tally.fully_valid, tally.documents);
  EXPECT_GE(tally.shown_valid * 10, tally.fully_valid * 9)
      << tally.shown_valid << " of " << tally.fully_valid << " valid documents shown valid";
}

// Texts the two parsers might read differently, and values at the edges of the schema's types
// and patterns. Where the quick check is exact, it must also show every valid variant valid.
TEST(QuickCheck, AgreesWithTheValidatorOnTextEdges) {
  const std::string base = written_job();
  const json original = json::parse(base);
  struct Edge {
    std::string text;
    bool settled;  // the quick check decides it exactly; otherwise it may leave it undecided
  };
  std::vector<Edge> edges = {
      {base + " x", true},
      {base + "\n", true},
      {base + std::string("\0", 1), true},
      {base + std::string("\0 {\"version\": 1}", 16), true},
      {base.substr(0, base.size() - 1), true},
      {"[]", true},
      {"\"3.4\"", true},
      {"", true},
      // nlohmann skips a byte order mark and keeps the last of repeated names.
      {"\xEF\xBB\xBF" + base, false},
      {"{\"version\": \"3.3\"," + base.substr(1), false},
      {"{\"version\": \"3.4\", \"report\": 1," + base.substr(1), false},
  };
  const std::vector<std::tuple<std::string, std::string, bool>> numbers = {
      {"/report/summary/total", "1.0", true},  // integral, written as a real
      {"/report/summary/total", "1e2", true},
      {"/report/summary/total", "-0", false},
      {"/report/summary/total", "18446744073709551616", false},
      {"/report/summary/total", "-9223372036854775808", true},
      {"/report/summary/total", "NaN", true},
      {"/report/summary/success_rate", "Infinity", false},  // the writer's own literals
      {"/report/summary/success_rate", "1e400", true},
      {"/report/runtime", "-1E-3", true},
      // Up to 15 digits are settled without parsing: whole exactly when the fraction is zeros.
      {"/report/summary/total", "10.000", true},
      {"/report/summary/total", "10.5", true},
      {"/report/summary/total", "12345678901234.5", true},
      {"/report/summary/total", "0.00000000000001", true},
      // Longer ones are parsed: their double may be whole when the text is not.
      {"/report/summary/total", "123456789012345.0", true},
      {"/report/summary/total", "4503599627370495.5", true},
      {"/report/summary/total", "1.0000000000000001", true},
  };
  const std::vector<std::string> times = {
      "2024-05-01 10:00:00",        "2024-05-01 10:00:00.123456", "2024-05-01 10:00:00+02:00",
      "2024-05-01 10:00:00.123456-11:30", "2024-05-01T10:00:00",  "2024-05-01 10:00:00.12345",
      "2024-05-01 10:00:00.1234567", "2024-05-01 10:00:00+0200",  "2024-05-01 10:00:00Z",
      "2024-05-01 10:00:00+02:00 ", " 2024-05-01 10:00:00",       "2024-05-01 10:00:00\n",
      "2024-5-01 10:00:00",          "2024-05-01 10:00:00.",       "2024-05-01 10:00:00+02:00+02:00",
      "\u0662024-05-01 10:00:00",     "2024-05-01 10:00:00.123456+",  "",
      // Characters just outside the digits, and a wrong separator, in each part.
      "2024-05-01 10:00:0:", "2024-05-01 10:00:0/", "2/24-05-01 10:00:00", "2024-05-01 1::00:00",
      "2024-05-01 10:00:00.12345:", "2024-05-01 10:00:00.123456+02:0/", "2024-05-01 10:00:00*02:00",
      "2024-05-01 10:00:00.123456+02-00", "2024-05-01_10:00:00", "9999-99-99 99:99:99.999999-99:99"};
  for (const auto& [pointer, literal, settled] : numbers) {
    json changed = original;
    changed[json::json_pointer(pointer)] = "@";
    std::string text = changed.dump();
    text.replace(text.find("\"@\""), 3, literal);
    edges.push_back({text, settled});
  }
  for (const std::string& time : times) {
    json changed = original;
    changed["report"]["starttime"] = time;
    edges.push_back({changed.dump(), true});
  }
  // Strings the full parser refuses: a raw control character, bytes that are not UTF-8, a lone
  // surrogate.
  for (const std::string raw : {"a\tb", "a\xFF", "\\ud800", "\\udc00x", "\\ud83d\\ude00"}) {
    json changed = original;
    changed["report"]["name"] = "@";
    std::string text = changed.dump();
    text.replace(text.find("@"), 1, raw);
    edges.push_back({text, true});
  }
  Tally tally;
  for (const auto& [text, settled] : edges) {
    check(text, text.substr(0, 200), tally);
    if (settled) {
      EXPECT_EQ(quickly_valid(text), fully_valid(text))
          << text.substr(0, 100) << " ... " << text.substr(text.find("\"summary\""), 140);
    }
  }
  EXPECT_GE(tally.shown_valid, 6);
}

// Free-form members may nest up to the limit and no further; the quick check must stop where
// the full parser stops.
TEST(QuickCheck, AgreesOnNestingAtTheLimit) {
  const std::string base = written_job();
  // The top object is level 1, "report" level 2, "extra" level 3: MAX_DEPTH - 3 arrays inside
  // it reach the limit exactly.
  for (const std::size_t levels : {MAX_DEPTH - 4, MAX_DEPTH - 3, MAX_DEPTH - 2, MAX_DEPTH + 5}) {
    json changed = json::parse(base);
    changed["report"]["extra"] = {{"deep", "@"}};
    std::string text = changed.dump();
    text.replace(text.find("\"@\""), 3, std::string(levels, '[') + std::string(levels, ']'));
    EXPECT_EQ(quickly_valid(text), fully_valid(text)) << levels << " levels";
  }
}

TEST(ValidateResultsText, SameAnswersAsTheFullPath) {
  const std::string broken = "{\"version\": \"3.4\", \"report\": {\"type\": 1, \"idlist\": []}}";
  const auto full = validate(parse_results_json(broken, "f.json"));
  ASSERT_TRUE(full.has_value());
  EXPECT_EQ(validate_results_text(broken, "f.json"), full);
  EXPECT_EQ(validate_results_text(std::string(testing::kSampleDocument), "f.json"), std::nullopt);
  EXPECT_EQ(validate_results_text(written_job(), "f.json"), std::nullopt);
  try {
    validate_results_text("{\"version\": \n 3.4,", "f.json");
    FAIL() << "no ParseError";
  } catch (const ParseError& e) {
    EXPECT_TRUE(std::string(e.what()).starts_with("f.json: line 2, column ")) << e.what();
  }
}

}  // namespace
}  // namespace morvi::reporter::schema
