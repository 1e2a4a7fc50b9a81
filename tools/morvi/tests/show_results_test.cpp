// morvi show results against an independent reading of the same file: Python's json module,
// printing the same lines (show_oracle.py), over a job the report tree wrote and over
// generated documents full of odd values.
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "morvi/reporter/trialkit.hpp"
#include "morvi/testing/files.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "morvi/utils/utils.hpp"

namespace {

using morvi::testing::file_text;
using morvi::testing::shell_quoted;

namespace fs = std::filesystem;

// Standard output of a shell command; the test fails when it exits other than 0.
std::string output_of(const std::string& command, const fs::path& out) {
  const int raw = std::system((command + " >" + shell_quoted(out.string())).c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << command;
  return file_text(out);
}

// Both readings of `file`, whole and cut at each depth given.
void expect_same_lines(const fs::path& file, const fs::path& scratch,
                       const std::vector<int>& depths) {
  for (const int depth : depths) {
    const std::string depth_words = depth < 0 ? "" : " --depth " + std::to_string(depth);
    const std::string ours = output_of(
        shell_quoted(MORVI_EXE) + " show results " + shell_quoted(file.string()) + depth_words,
        scratch / "ours");
    const std::string oracle =
        output_of("/usr/bin/python3 " + shell_quoted(SHOW_ORACLE) + " " + shell_quoted(file.string()) +
                      (depth < 0 ? "" : " " + std::to_string(depth)),
                  scratch / "oracle");
    EXPECT_FALSE(ours.empty());
    EXPECT_EQ(ours, oracle) << file << depth_words;
  }
}

// Results documents with odd values at every place the lines are made of (control and
// invisible characters too, which must come out escaped), members in any order, names given
// twice, child lists that are no lists, children that are not objects, siblings sharing ids, and filler the reader has to
// pass over (a "tasks" list inside "extra" is not a child list).
class OddDocuments {
 public:
  explicit OddDocuments(unsigned seed) : rng_(seed) {}

  std::string document() {
    std::vector<std::string> members{"\"version\":" + space() + "\"3.4\"",
                                     "\"report\":" + space() + node(0)};
    if (pick(3) == 0) members.push_back("\"extra\": {\"report\": 1, \"tasks\": [{}]}");
    if (pick(4) == 0) members.push_back("\"report\": {\"id\": \"decoy\"}");  // the last counts
    return (pick(6) == 0 ? "\xEF\xBB\xBF" : "") + object(members) + space();
  }

 private:
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  template <std::size_t N>
  std::string any(const char* const (&forms)[N]) {
    return forms[pick(static_cast<int>(N))];
  }
  std::string space() { return any({"", " ", "\n  ", "\t", "\r\n    "}); }

  std::string object(std::vector<std::string> members) {
    std::shuffle(members.begin(), members.end(), rng_);
    std::string text = "{" + space();
    for (std::size_t i = 0; i < members.size(); ++i) {
      text += (i ? "," + space() : "") + members[i];
    }
    return text + space() + "}";
  }

  std::string id() {
    return any({"\"t1\"", "\"step\"", "\"step\"", "\"caf\\u00e9\"", "\"tab\\there\"",
                "\"it's\"", "\"\\ud83d\\ude00\"", "\"\xC3\xA9t\xC3\xA9\"", "\"\"", "7", "-0",
                "1.5", "1e300", "-0.0", "NaN", "Infinity", "true", "null",
                "[1, \"a\", null, 2.5]", "{\"n\": 1}", "{\"id\": \"step\", \"index\": 0}",
                "18446744073709551615", "-9223372036854775809", "12345678901234567890123",
                "\"red\\u001b[31m\\u0007\"", "\"two\\nlines\\r\"", "\"nul\\u0000\\u007f\"",
                "\"zero\\u200bwidth\\u00a0\\ufeff\"", "[\"\\n\"]"});
  }

  std::string node(int depth) {
    std::vector<std::string> members;
    if (pick(8) != 0) members.push_back("\"id\":" + space() + id());
    if (pick(4) == 0) members.push_back("\"fullid\": " + any({"\"a.b\"", "null", "5", "\"x\\\"y\""}));
    if (pick(8) != 0) {
      members.push_back("\"type\": " +
                        any({"\"Task\"", "\"Step\"", "\"Testcase\"", "3", "null", "\"\xCE\xA9\"",
                             "\"Step\\n  forged  Task  passed  1s\"", "\"\\u001b]0;title\\u0007\""}));
    }
    if (pick(5) != 0) {
      members.push_back("\"result\": " + any({"{\"value\": \"passed\"}", "{\"value\": \"failed\"}",
                                              "{\"value\": \"failed\", \"value\": \"errored\"}",
                                              "\"passed\"", "{\"other\": 1}", "{\"value\": null}",
                                              "{\"value\": 2.5}", "null",
                                              "{\"value\": \"pass\\u0008\\u0008ed\\n\"}"}));
    }
    if (pick(5) != 0) {
      members.push_back("\"runtime\": " + any({"1.5", "0", "12", "1e-7", "123.4567894", "NaN",
                                               "-Infinity", "\"1.5\"", "true", "null", "1e300",
                                               "-0.0", "0.0000004", "9007199254740993"}));
    }
    if (pick(3) == 0) members.push_back("\"runtime\": 2.25");  // given twice: the last counts
    members.push_back("\"description\": \"braces }]{[, colons : and quotes \\\" \\\\\"");
    if (pick(2) == 0) {
      members.push_back(
          "\"extra\": {\"tasks\": [{\"id\": \"not a child\"}], \"deep\": [[[{\"sections\": [1]}]]],"
          " \"ratio\": NaN, \"big\": 1E+30}");
    }
    for (const char* list : {"tasks", "sections"}) {
      if (depth >= 4 || pick(3) == 0) continue;
      std::vector<std::string> kids;
      const int count = pick(4);
      for (int i = 0; i < count; ++i) {
        kids.push_back(pick(10) == 0 ? any({"42", "\"x\"", "null", "[]"}) : node(depth + 1));
      }
      std::string text = "[" + space();
      for (std::size_t i = 0; i < kids.size(); ++i) text += (i ? "," + space() : "") + kids[i];
      members.push_back("\"" + std::string(list) + "\": " + text + space() + "]");
      // A child list that is no list is a plain field.
      if (pick(6) == 0) {
        members.push_back("\"" + std::string(list) + "\": " +
                          any({"null", "true", "7", "\"t1\"", "{\"id\": \"not a list\"}"}));
      }
      if (pick(8) == 0) members.push_back("\"" + std::string(list) + "\": []");
    }
    return object(std::move(members));
  }

  std::mt19937 rng_;
};

// A job of tasks, testcases and a loop of steps sharing an id, as the report tree writes it.
std::string written_job() {
  using namespace morvi;
  std::int64_t readings = 0;
  const utils::ScopedClock clock([&] {
    return DateTime::from_ticks(DateTime(2024, 1, 1, 8).ticks() + 250000 * ++readings, 0);
  });
  auto job = reporter::trialkit::TrialKit::create("nightly", 1);
  job->start();
  int seq = 2;
  for (int t = 0; t < 3; ++t) {
    auto task = job->add_task("t" + std::to_string(t), seq++);
    task->start();
    for (int c = 0; c < 3; ++c) {
      auto testcase = task->add_section("tc" + std::to_string(c), seq++, "Testcase");
      testcase->start();
      for (int s = 0; s < 3; ++s) {
        auto step = testcase->add_section("step", seq++, "Step");
        step->start();
        step->stop(Map{{"result", Value((t + c + s) % 4 == 0 ? results::Failed : results::Passed)}});
      }
      testcase->stop();
    }
    task->stop();
  }
  job->add_task("never-started", seq++);
  job->stop(Map{{"num_tasks", 4}});
  return job->dump_json();
}

TEST(ShowResults, PrintsWhatAnIndependentReadingPrintsForAWrittenJob) {
  const morvi::testing::ScratchDir dir;
  const fs::path file = dir / "results.json";
  std::ofstream(file, std::ios::binary) << written_job();
  expect_same_lines(file, dir.path(), {-1, 0, 1, 2});
}

TEST(ShowResults, PrintsWhatAnIndependentReadingPrintsForOddDocuments) {
  const morvi::testing::ScratchDir dir;
  OddDocuments documents(20261209);
  for (int i = 0; i < 24; ++i) {
    const fs::path file = dir / ("odd" + std::to_string(i) + ".json");
    std::ofstream(file, std::ios::binary) << documents.document();
    expect_same_lines(file, dir.path(), {-1, 1});
  }
}

}  // namespace
