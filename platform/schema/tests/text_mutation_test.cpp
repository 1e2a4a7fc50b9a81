// The quick check reads the text itself, so it must agree with the full parser and validator
// on every byte: mutants made by changing, removing or doubling single bytes of real
// documents, cut documents, every way of writing a number or a literal, escapes in names and
// values, and any layout of white space.
#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "morvi/errors.hpp"
#include "morvi/reporter/schema.hpp"
#include "morvi/reporter/schema/fast_check.hpp"
#include "morvi/reporter/schema/results_json.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "sample_document.hpp"

namespace morvi::reporter::schema {
namespace {

using json = nlohmann::ordered_json;

bool fully_valid(std::string_view text) {
  try {
    return !validate(parse_results_json(text, "mutant")).has_value();
  } catch (const ParseError&) {
    return false;
  }
}

// A job with free-form members of every kind, texts needing escapes and non-ASCII texts.
std::string varied_job() {
  auto job = trialkit::TrialKit::create("job \"q\"", 1);
  job->start(Map{{"host", "lab\\7"}, {"cli", Value::list({"morvi", "run", "tab\there"})}});
  auto task = job->add_task("t1", 3);
  task->start(Map{{"description", "line one\nline two \u00e9\u4e2d\U0001F600"},
                  {"parameters", Map{{"vlan", 10}, {"ratio", 0.25}, {"big", -9007199254740993},
                                     {"nested", Map{{"list", Value::list({1, "two", 3.5, Value()})}}},
                                     {"flag", true}}}});
  for (int i = 0; i < 3; ++i) {
    auto testcase = task->add_section("tc" + std::to_string(i), 10 + i, "Testcase");
    testcase->start(Map{{"description", i == 1 ? "" : "case / slash"}});
    auto step = testcase->add_section(Value::list({i, "a"}), 20 + i, "Step");
    step->start();
    step->add_detail(Map{{"note", "\u00fcn\u00efcode \x7f"}});
    step->stop(Map{{"result", Value(i == 2 ? results::Failed : results::Passed)}});
    testcase->stop();
  }
  task->stop();
  job->stop(Map{{"num_tasks", 1}});
  return job->dump_json();
}

std::string sample_without_nan() {
  std::string text(testing::kSampleDocument);
  text.replace(text.find("NaN"), 3, "0.5");
  return text;
}

struct Agreement {
  int mutants = 0;
  int fully_valid = 0;
  int shown_valid = 0;
};

// The quick check never calls valid what the full path refuses.
void expect_sound(const std::string& text, const std::string& what, Agreement& tally) {
  const bool quick = quickly_valid(text);
  const bool full = fully_valid(text);
  ++tally.mutants;
  tally.fully_valid += full;
  tally.shown_valid += quick;
  if (quick) {
    EXPECT_TRUE(full) << what;
  }
}

TEST(QuickCheckText, ShowsRealDocumentsValid) {
  for (const std::string& text : {varied_job(), sample_without_nan()}) {
    ASSERT_TRUE(fully_valid(text));
    EXPECT_TRUE(quickly_valid(text)) << text.substr(0, 300);
  }
}

TEST(QuickCheckText, AgreesOnSingleByteMutants) {
  const std::vector<char> replacements = {'"', '\\', '{', '}', '[', ']', ',', ':', '0', '-',
                                          '.', 'e', ' ', '\n', '\0', '\x01', '\xC3', '\xFF', 'a'};
  Agreement tally;
  for (const std::string& text : {varied_job(), sample_without_nan()}) {
    // About 150 places per document, spread over all of it.
    const std::size_t stride = text.size() / 150 + 1;
    for (std::size_t at = 0; at < text.size(); at += stride) {
      const std::string where = " at byte " + std::to_string(at) + ": ..." +
                                text.substr(at > 20 ? at - 20 : 0, 40) + "...";
      expect_sound(std::string(text).erase(at, 1), "removed" + where, tally);
      expect_sound(std::string(text).insert(at, 1, text[at]), "doubled" + where, tally);
      for (const char c : replacements) {
        if (c == text[at]) continue;
        std::string changed = text;
        changed[at] = c;
        expect_sound(changed, std::string("replaced by byte ") + std::to_string(c) + where, tally);
      }
    }
  }
  EXPECT_LT(tally.fully_valid, tally.mutants / 2);
  // Bytes inside free texts change nothing that matters: those mutants stay valid, and the
  // quick check must settle nearly all of them.
  EXPECT_GT(tally.fully_valid, 100);
  EXPECT_GE(tally.shown_valid * 10, tally.fully_valid * 9)
      << tally.shown_valid << " of " << tally.fully_valid << " valid mutants shown valid";
}

TEST(QuickCheckText, RefusesEveryCutDocument) {
  const std::string text = varied_job();
  const std::size_t stride = text.size() / 300 + 1;
  for (std::size_t size = 0; size < text.size(); size += stride) {
    EXPECT_FALSE(quickly_valid(text.substr(0, size))) << size;
  }
  EXPECT_FALSE(quickly_valid(text.substr(0, text.size() - 1)));
}

// The text with the value at `pointer` replaced by `literal`, written as it stands.
std::string with_literal(const std::string& base, const std::string& pointer, const std::string& literal) {
  json document = json::parse(base);
  document[json::json_pointer(pointer)] = "@@";
  std::string text = document.dump();
  text.replace(text.find("\"@@\""), 4, literal);
  return text;
}

TEST(QuickCheckText, AgreesOnEveryWayOfWritingAScalar) {
  const std::string base = sample_without_nan();
  // Settled both ways: the quick check must give the full path's answer.
  const std::vector<std::string> settled = {
      "0", "-0", "01", "-01", "1.", ".5", "1e", "1e+", "1E-5", "-", "--1", "+1", "1.5e3",
      "1.5E+3", "123456789012345678", "1234567890123456789", "-1234567890123456789",
      "99999999999999999999999", "1e308", "1e309", "-1e309", "2.2250738585072014e-308",
      "4.9e-324", "0x10", "1_0", "0.0", "-0.0", "1.000000000000000000001", "1e-0", "00",
      "true", "false", "null", "tru", "nul", "falsey", "true1", "nulll", "TRUE", "\"\"",
      "\"x\"", "[]", "{}", "[1,]", "[,1]", "{\"a\":}", "{\"a\" 1}", "{1:2}", "[1 2]",
      std::string(400, '9'), "1" + std::string(400, '0') + ".0"};
  for (const char* pointer : {"/report/summary/total", "/report/summary/success_rate",
                                     "/report/tasks/0/parameters/vlan", "/report/name"}) {
    for (const std::string& literal : settled) {
      const std::string text = with_literal(base, pointer, literal);
      EXPECT_EQ(quickly_valid(text), fully_valid(text)) << pointer << " = " << literal;
    }
  }
  // The writer's own non-finite literals and reals too small for a double are left to the
  // full path, which reads them; the quick check only must not call them valid wrongly.
  for (const std::string& literal : {std::string("NaN"), std::string("Infinity"), std::string("-Infinity"),
                                    std::string("1e-400"), "0." + std::string(400, '0') + "1"}) {
    for (const char* pointer : {"/report/summary/success_rate", "/report/tasks/0/parameters/vlan"}) {
      const std::string text = with_literal(base, pointer, literal);
      if (quickly_valid(text)) {
        EXPECT_TRUE(fully_valid(text)) << pointer << " = " << literal;
      }
    }
  }
}

TEST(QuickCheckText, ReadsEscapesAsTheFullParserDoes) {
  const std::string base = sample_without_nan();
  const std::vector<std::pair<std::string, std::string>> places = {
      {"\"version\"", "\"\\u0076ersion\""},        // a name, escaped: still "version"
      {"\"version\"", "\"versio\\u006E\""},
      {"\"version\"", "\"version\\u0000\""},       // a different name
      {"\"3.4\"", "\"3\\u002e4\""},                // an enumerated value, escaped
      {"\"3.4\"", "\"3\\/4\""},
      {"\"failed\"", "\"fail\\u0065d\""},
      {"\"failed\"", "\"fail\\u0045d\""},
      {"\"lab-7\"", "\"\\ud83d\\ude00 \\\" \\\\ \\/ \\b \\f \\n \\r \\t\""},
      {"\"lab-7\"", "\"\\ud83d\""},
      {"\"lab-7\"", "\"\\ud83d\\u0041\""},
      {"\"lab-7\"", "\"\\ude00\""},
      {"\"lab-7\"", "\"\\u12\""},
      {"\"lab-7\"", "\"\\uZZZZ\""},
      {"\"lab-7\"", "\"\\x41\""},
      {"\"lab-7\"", "\"\\\""},
      {"\"2024-05-01 10:00:01\"", "\"2024-05-01\\u002010:00:01\""},  // the time pattern, escaped
      {"\"2024-05-01 10:00:01\"", "\"2024-05-01\\u000a10:00:01\""},
  };
  for (const auto& [from, to] : places) {
    std::string text = base;
    text.replace(text.find(from), from.size(), to);
    EXPECT_EQ(quickly_valid(text), fully_valid(text)) << from << " -> " << to;
  }
}

TEST(QuickCheckText, AnyWhiteSpaceLayout) {
  const json document = json::parse(varied_job());
  for (const int indent : {-1, 0, 1, 4}) {
    for (const char fill : {' ', '\t'}) {
      std::string text = document.dump(indent, fill);
      EXPECT_TRUE(quickly_valid(text)) << indent;
      std::string crlf;
      for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
      EXPECT_TRUE(quickly_valid(" \r\n\t" + crlf + " \n")) << indent;
    }
  }
  // White space JSON does not have: a form feed, a vertical tab, a no-break space.
  for (const std::string space : {"\f", "\v", "\xC2\xA0"}) {
    const std::string text = space + document.dump();
    EXPECT_EQ(quickly_valid(text), fully_valid(text));
  }
}

}  // namespace
}  // namespace morvi::reporter::schema
