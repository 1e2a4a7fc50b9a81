#include "morvi/reporter/client/results_file_client.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include <gtest/gtest.h>

#include "morvi/errors.hpp"
#include "morvi/reporter/schema/results_json.hpp"
#include "morvi/testing/scratch_dir.hpp"

namespace morvi::reporter::client {
namespace {

constexpr std::string_view kDocument = R"json({"version": "3.4", "report": {
  "type": "TrialKit", "id": "job", "idlist": ["job"], "runtime": 2.5, "totaltasks": 2,
  "tasks": [
    {"type": "Task", "id": "t1", "idlist": ["t1"], "result": {"value": "failed"},
     "sections": [
       {"type": "Testcase", "id": 7, "idlist": ["t1", 7], "extra": {"ratio": NaN},
        "sections": [{"type": "Step", "id": {"n": 1}, "idlist": ["t1", 7, {"n": 1}]},
                     {"type": "Step", "idlist": ["t1", 7, null], "name": "unnamed"}]},
       {"type": "Testcase", "id": 7, "idlist": ["t1", 7], "name": "second of that id"}]},
    {"type": "Plugin", "id": "monitor", "idlist": ["monitor"], "big": 18446744073709551615}]}})json";

std::unique_ptr<ResultsFileClient> client() {
  return ResultsFileClient::over_text(std::string(kDocument), "doc");
}

TEST(ResultsFileClient, TopRecordKeepsMemberOrderAndNamesChildrenById) {
  auto c = client();
  const Value record = c->get_trialkit();
  std::vector<std::string> keys;
  for (const auto& [key, value] : record.as_map()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"type", "id", "idlist", "runtime", "totaltasks",
                                            "tasks"}));
  EXPECT_EQ(record.as_map().at("tasks"), Value::list({"t1", "monitor"}));
  EXPECT_EQ(record.as_map().at("runtime"), Value(2.5));
}

TEST(ResultsFileClient, FollowsAPathOfIdentifiersOfAnyKind) {
  auto c = client();
  const Value testcase = c->get_section(List{"t1", 7});
  EXPECT_TRUE(std::isnan(testcase.as_map().at("extra").as_map().at("ratio").as_number()));
  const Value& children = testcase.as_map().at("sections");
  ASSERT_EQ(children.as_list().size(), 2u);
  EXPECT_EQ(children.as_list()[0], Value(Map{{"n", 1}}));
  EXPECT_TRUE(children.as_list()[1].is_none());

  EXPECT_EQ(c->get_section(List{"t1", 7, Map{{"n", 1}}}).as_map().at("type"), Value("Step"));
  EXPECT_EQ(c->get_section(List{"t1", 7, Value()}).as_map().at("name"), Value("unnamed"));
  // Siblings sharing an id: a plain id still reaches the first of them.
  EXPECT_FALSE(c->get_section(List{"t1", 7}).as_map().contains("name"));
  const Value plugin = c->get_section(List{"monitor"});
  EXPECT_EQ(plugin.as_map().at("big"), Value(18446744073709551615.0));
  EXPECT_EQ(c->get_section(List{}), c->get_trialkit());
}

TEST(ResultsFileClient, SiblingsSharingAnIdAreEachReachable) {
  auto c = client();
  const Value task = c->get_section(List{"t1"});
  const Value& twins = task.as_map().at("sections");
  ASSERT_EQ(twins.as_list().size(), 2u);
  const Value second = c->get_section(List{"t1", twins.as_list()[1]});
  EXPECT_EQ(second.as_map().at("name"), Value("second of that id"));
  EXPECT_FALSE(c->get_section(List{"t1", twins.as_list()[0]}).as_map().contains("name"));
}

TEST(ResultsFileClient, UnknownPathsGiveAnEmptyRecord) {
  auto c = client();
  for (const List& path : {List{"t2"}, List{"t1", "7"}, List{"t1", 7.5}, List{"monitor", "x"},
                           List{"t1", 7, Map{{"n", 1}}, "deeper"}}) {
    const Value record = c->get_section(path);
    ASSERT_TRUE(record.is_map()) << Value(path).to_repr();
    EXPECT_TRUE(record.as_map().empty()) << Value(path).to_repr();
  }
}

TEST(ResultsFileClient, DocumentWithoutReportGivesEmptyRecords) {
  const auto c = ResultsFileClient::over_text(R"({"version": "3.4"})", "doc");
  EXPECT_TRUE(c->get_trialkit().as_map().empty());
  EXPECT_TRUE(c->get_section(List{"t1"}).as_map().empty());
}

TEST(ResultsFileClient, ConvertsDeepValuesWithoutDeepCalls) {
  std::string deep = R"({"report": {"type": "TrialKit", "idlist": [1], "extra": )";
  const std::size_t levels = 990;
  deep += std::string(levels, '[') + "true" + std::string(levels, ']') + "}}";
  const auto c = ResultsFileClient::over_text(deep, "deep");
  const Value record = c->get_trialkit();
  const Value* v = &record.as_map().at("extra");
  std::size_t depth = 0;
  while (v->is_list()) {
    v = &v->as_list().front();
    ++depth;
  }
  EXPECT_EQ(depth, levels);
  EXPECT_EQ(*v, Value(true));
}

TEST(ResultsFileClient, ReadsTheFileOnceAtConstruction) {
  const morvi::testing::ScratchDir dir;
  const auto path = dir / "results.json";
  std::ofstream(path) << kDocument;
  ResultsFileClient c(path.string());
  std::filesystem::remove(path);
  EXPECT_EQ(c.get_section(List{"t1"}).as_map().at("type"), Value("Task"));
  EXPECT_THROW(ResultsFileClient(path.string()), std::system_error);
  std::ofstream(path) << "{\"report\": ";
  EXPECT_THROW(ResultsFileClient(path.string()), ParseError);
}

// A chain whose fields and child lists are long enough to be jumped over once the document
// was checked: every record holds its members, those after its children too, in any order of
// reading, and a path does not lead on from a child that has no such child.
TEST(ResultsFileClient, RecordsOfALongChainAreWholeInAnyOrder) {
  constexpr int kLevels = 20;
  std::string blob = "[";
  for (int i = 0; i < 600; ++i) blob += i ? ", {\"x\": [1]}" : "{\"x\": [1]}";
  blob += "]";
  const std::string leaf = "{\"id\": \"leaf\", \"extra\": " + blob + "}";
  std::string chain = "{\"id\": \"n" + std::to_string(kLevels) + "\"}";
  for (int k = kLevels - 1; k >= 0; --k) {
    chain = "{\"extra\": " + blob + ", \"sections\": [" + leaf + ", " + chain + ", " + leaf +
            "], \"id\": \"n" + std::to_string(k) + "\", \"runtime\": " + std::to_string(k) + "}";
  }
  const auto c = ResultsFileClient::over_text(
      "{\"report\": {\"tasks\": [" + chain + "], \"extra\": " + blob + "}}", "doc");
  const Value first_twin(Map{{"id", "leaf"}, {"index", 0}});
  const auto check = [&](const List& path) {
    const Value record = c->get_section(path);
    const auto k = static_cast<int>(path.size()) - 1;
    EXPECT_EQ(record, Value(Map{{"extra", record.as_map().at("extra")},
                                {"sections", Value::list({first_twin, "n" + std::to_string(k + 1),
                                                          Map{{"id", "leaf"}, {"index", 2}}})},
                                {"id", path.back()},
                                {"runtime", k}}));
    EXPECT_EQ(record.as_map().at("extra").as_list().size(), 600u);
  };
  std::vector<List> paths{List{"n0"}};
  while (paths.size() < kLevels) {
    paths.push_back(paths.back());
    paths.back().push_back("n" + std::to_string(paths.size() - 1));
  }
  for (const List& path : paths) check(path);
  std::shuffle(paths.begin(), paths.end(), std::mt19937(7));
  for (const List& path : paths) check(path);
  ASSERT_FALSE(c->get_section(List{"n0", "n1", "n2"}).as_map().empty());
  EXPECT_TRUE(c->get_section(List{"n0", first_twin, "n2"}).as_map().empty());
}

// The message of what refuses `text`, or "" when it is taken.
template <class Read>
std::string refusal(Read read) {
  try {
    read();
  } catch (const ParseError& e) {
    return e.what();
  }
  return "";
}

// Every cut of a document and every one-byte change at every place, over strings with
// escapes and UTF-8, numbers of every form, the non-finite literals and nesting: the client
// takes exactly what the results reader takes, and refuses the rest in its words.
TEST(ResultsFileClient, TakesWhatTheResultsReaderTakesAndWordsTheRestTheSame) {
  const std::string base =
      "\xEF\xBB\xBF{\"version\": \"3.4\", \"report\": {\"id\": \"caf\\u00e9 \xC3\xA9\xE2\x82\xAC"
      "\xF0\x9F\x98\x80\", \"n\": [-0, 1.5e-3, 12E+2, -7, 18446744073709551616, NaN, Infinity,"
      " -Infinity, true, false, null],\r\n \"s\": \"\\\"\\\\\\/\\b\\f\\n\\r\\t\\ud83d\\ude00\","
      "\t\"tasks\": [{\"id\": 1, \"sections\": [[[{}]]]}, 2], \"sections\": []}}\n";
  ASSERT_EQ(refusal([&] { schema::parse_results_json_ordered(base, "doc"); }), "");
  std::vector<std::string> texts;
  static constexpr char kBytes[] = "\"\\,:{}[] x0-e.N\0\x7F\x80\xBF\xC3\xE0\xED\xF0\xF4\x1Fu";
  const std::string bytes(kBytes, sizeof kBytes - 1);
  for (std::size_t i = 0; i <= base.size(); ++i) {
    texts.push_back(base.substr(0, i));
    if (i == base.size()) break;
    texts.push_back(std::string(base).erase(i, 1));
    for (const char b : bytes) {
      std::string changed = base;
      changed[i] = b;
      texts.push_back(changed);
    }
  }
  std::size_t refused = 0;
  for (const std::string& text : texts) {
    const std::string expected = refusal([&] { schema::parse_results_json_ordered(text, "doc"); });
    refused += !expected.empty();
    EXPECT_EQ(refusal([&] { ResultsFileClient::over_text(text, "doc"); }), expected)
        << Value(text).to_repr();
  }
  EXPECT_GT(refused, texts.size() / 2);
  EXPECT_LT(refused, texts.size());
}

// A file larger than the stretch after which read text is given back: records read after
// their pages went back, in document order and then backwards, are whole.
TEST(ResultsFileClient, RecordsStayWholeWhenTheirPagesWereGivenBack) {
  const morvi::testing::ScratchDir dir;
  const auto path = dir / "large.json";
  const std::string filler(4000, 'f');
  const int count = 6000;
  {
    std::ofstream out(path);
    out << "{\"report\": {\"type\": \"TrialKit\", \"tasks\": [";
    for (int i = 0; i < count; ++i) {
      out << (i ? "," : "") << "{\"id\": \"t" << i << "\", \"filler\": \"" << filler
          << "\", \"runtime\": " << i << ".5}";
    }
    out << "]}}";
  }
  ResultsFileClient c(path.string());
  ASSERT_EQ(c.get_trialkit().as_map().at("tasks").as_list().size(), std::size_t{count});
  const auto check = [&](int i) {
    const Value record = c.get_section(List{"t" + std::to_string(i)});
    ASSERT_EQ(record.as_map().at("runtime"), Value(i + 0.5)) << i;
    EXPECT_EQ(record.as_map().at("filler"), Value(filler)) << i;
  };
  for (int i = 0; i < count; i += 7) check(i);
  for (int i = count - 1; i >= 0; i -= 11) check(i);
}

}  // namespace
}  // namespace morvi::reporter::client
