// Reruns: a later file's task, plugin or testcase replaces the earlier one, which it keeps as
// a previous attempt; everything above is counted again from what the merge keeps.
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "morvi/reporter/schema.hpp"
#include "morvi/service/merge/merge.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "shard_jobs.hpp"

namespace {

using morvi::merge_tests::JobPlan;
using morvi::merge_tests::run_job;
using morvi::merge_tests::TaskPlan;
using morvi::service::merge::merge_results;
using json = nlohmann::ordered_json;

constexpr std::int64_t kHour = 3'600'000'000;

class Rerun : public ::testing::Test {
 protected:
  morvi::testing::ScratchDir scratch;

  std::pair<std::string, json> file(const std::string& name, const JobPlan& plan) {
    const auto path = scratch.path() / name;
    const std::string text = run_job(plan)->dump_json();
    std::ofstream(path, std::ios::binary) << text;
    return {path.string(), json::parse(text)["report"]};
  }

  static json merged(const std::vector<std::string>& files) {
    const std::string text = merge_results(files, {.rerun = true})->dump_json();
    EXPECT_EQ(morvi::reporter::schema::validate(nlohmann::json::parse(text)), std::nullopt);
    return json::parse(text)["report"];
  }
};

const json& child(const json& node, const std::string& id) {
  const char* list = node.contains("tasks") ? "tasks" : "sections";
  for (const json& c : node[list]) {
    if (c["id"] == id) return c;
  }
  throw std::out_of_range("no child " + id);
}

json attempt(const json& node) {
  return json{{"result", node["result"]},
              {"starttime", node["starttime"]},
              {"stoptime", node["stoptime"]},
              {"runtime", node["runtime"]}};
}

std::vector<std::string> ids(const json& list) {
  std::vector<std::string> out;
  for (const json& c : list) out.push_back(c["id"]);
  return out;
}

TEST_F(Rerun, ALaterTestcaseReplacesTheEarlierAndTalliesAreCountedAgain) {
  const auto [first, a] = file("a.json", {{TaskPlan{0, {0, 1}, {}, 1}, TaskPlan{1, {0, 1, 2}, {1}, 2}},
                                          true, 0, 20 * kHour, 2});
  const auto [again, r] = file("r.json", {{TaskPlan{1, {1, 7}, {}, 30}}, false, 30 * kHour,
                                          40 * kHour, 1});
  const json job = merged({first, again});

  EXPECT_EQ(ids(job["tasks"]), (std::vector<std::string>{"monitor", "task0", "task1"}));
  EXPECT_EQ(child(job, "task0"), child(a, "task0"));
  EXPECT_EQ(child(job, "monitor"), child(a, "monitor"));

  const json& task = child(job, "task1");
  EXPECT_EQ(ids(task["sections"]), (std::vector<std::string>{"checker", "common_setup", "tc0",
                                                             "tc1", "tc2", "tc7"}));
  // What the rerun did not run again is the first run's; what it ran is its own.
  EXPECT_EQ(child(task, "tc0"), child(child(a, "task1"), "tc0"));
  EXPECT_EQ(child(task, "tc2"), child(child(a, "task1"), "tc2"));
  EXPECT_EQ(child(task, "tc7"), child(child(r, "task1"), "tc7"));
  json tc1 = child(task, "tc1");
  EXPECT_EQ(tc1["extra"]["previous_attempts"],
            json::array({attempt(child(child(a, "task1"), "tc1"))}));
  EXPECT_EQ(tc1["extra"]["previous_attempts"][0]["result"]["value"], "failed");
  tc1["extra"].erase("previous_attempts");
  if (tc1["extra"].empty()) tc1.erase("extra");
  json rerun_tc1 = child(child(r, "task1"), "tc1");
  EXPECT_EQ(tc1, rerun_tc1);
  EXPECT_EQ(task["extra"]["previous_attempts"], json::array({attempt(child(a, "task1"))}));
  EXPECT_EQ(task["starttime"], child(r, "task1")["starttime"]);

  // Tallies, result and health as the package gives them to the same job run once, with
  // the testcases the merge keeps.
  const json once = json::parse(run_job({{TaskPlan{0, {0, 1}, {}, 1}, TaskPlan{1, {0, 1, 2, 7}, {}, 2}},
                                          true, 0, 20 * kHour, 2})
                                     ->dump_json())["report"];
  for (const char* field : {"summary", "pluginsummary", "result", "health_result", "health_summary"}) {
    EXPECT_EQ(task[field], child(once, "task1")[field]) << field;
    EXPECT_EQ(job[field], once[field]) << field;
  }
  EXPECT_EQ(task["summary"]["failed"], 0);
  EXPECT_EQ(task["summary"]["total"], 5);
  EXPECT_EQ(job["result"]["value"], "passed");
  EXPECT_EQ(job["totaltasks"], 3);
}

TEST_F(Rerun, EveryAttemptIsKeptOldestFirstAndAPluginIsReplacedWhole) {
  const auto [first, a] = file("a.json", {{TaskPlan{0, {0, 1}, {1}, 1}}, true, 0, 9 * kHour, 1});
  const auto [second, b] = file("b.json", {{TaskPlan{0, {1}, {1}, 10}}, true, 0, 9 * kHour, 1});
  const auto [third, c] = file("c.json", {{TaskPlan{0, {1}, {}, 20}}, false, 0, 9 * kHour, 1});
  const json job = merged({first, second, third});
  const json& tc1 = child(child(job, "task0"), "tc1");
  EXPECT_EQ(tc1["extra"]["previous_attempts"],
            json::array({attempt(child(child(a, "task0"), "tc1")),
                         attempt(child(child(b, "task0"), "tc1"))}));
  EXPECT_EQ(tc1["result"]["value"], "passed");
  EXPECT_EQ(child(job, "task0")["extra"]["previous_attempts"].size(), 2u);

  json monitor = child(job, "monitor");
  EXPECT_EQ(monitor["extra"]["previous_attempts"], json::array({attempt(child(a, "monitor"))}));
  monitor["extra"].erase("previous_attempts");
  if (monitor["extra"].empty()) monitor.erase("extra");
  EXPECT_EQ(monitor, child(b, "monitor"));
  EXPECT_EQ(ids(job["tasks"]), (std::vector<std::string>{"monitor", "task0"}));
}

}  // namespace
