// Shards of one job merged against the same job run whole, and the inputs a merge refuses.
#include <ostream>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "morvi/errors.hpp"
#include "morvi/reporter/schema.hpp"
#include "morvi/service/merge/merge.hpp"
#include "morvi/testing/files.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "shard_jobs.hpp"

namespace {

using morvi::testing::file_text;
using morvi::merge_tests::JobPlan;
using morvi::merge_tests::run_job;
using morvi::merge_tests::TaskPlan;
using morvi::service::merge::merge_files;
using morvi::service::merge::merge_results;
using morvi::service::merge::MergeOptions;

constexpr std::int64_t kHour = 3'600'000'000;

void write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TaskPlan task(int index, std::set<int> failing = {}) {
  return TaskPlan{index, {0, 1, 2}, std::move(failing), index + 1};
}

class Merge : public ::testing::Test {
 protected:
  morvi::testing::ScratchDir scratch;

  std::string file(const std::string& name, const JobPlan& plan) {
    const auto path = scratch.path() / name;
    write(path, run_job(plan)->dump_json());
    return path.string();
  }
};

// The whole job starts with the first shard and ends with the last, so the merged job's span
// of the shards' times is the whole job's own: the documents agree byte for byte.
TEST_F(Merge, ShardsMergedEqualTheJobRunWhole) {
  const JobPlan whole{{task(0), task(1, {2}), task(2), task(3, {0, 1})}, true, 0, 60 * kHour, 5};
  const std::string a = file("a.json", {{task(0), task(1, {2})}, true, 0, 20 * kHour, 2});
  const std::string b = file("b.json", {{task(2)}, false, 2 * kHour, 30 * kHour, 1});
  const std::string c = file("c.json", {{task(3, {0, 1})}, false, 3 * kHour, 60 * kHour, 2});
  const auto expected = run_job(whole);
  const auto merged = merge_results({a, b, c});
  EXPECT_EQ(merged->dump_json(), expected->dump_json());
  EXPECT_EQ(merged->dump_yaml(), expected->dump_yaml());

  const auto out = scratch.path() / "merged.json";
  merge_files({a, b, c}, out.string());
  const std::string written = file_text(out);
  EXPECT_EQ(written, expected->dump_json());
  EXPECT_EQ(morvi::reporter::schema::validate(nlohmann::json::parse(written)), std::nullopt);
  // Only the output is left: the temporary file was renamed.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()),
                          std::filesystem::directory_iterator()),
            4);
}

// The job's times span the shards' whichever file holds the earliest start and latest stop;
// the job fields come from the first file.
TEST_F(Merge, JobTimesSpanTheShardsInAnyOrder) {
  const std::string late = file("late.json", {{task(1)}, false, 5 * kHour, 9 * kHour, 1});
  const std::string early = file("early.json", {{task(0)}, false, 1 * kHour, 7 * kHour, 1});
  const nlohmann::ordered_json report =
      nlohmann::ordered_json::parse(merge_results({late, early})->dump_json())["report"];
  EXPECT_EQ(report["starttime"], "2024-03-01 10:00:00.001500+01:00");
  EXPECT_EQ(report["stoptime"], "2024-03-01 18:00:00+01:00");
  EXPECT_EQ(report["runtime"], 8 * 3600.0 - 0.0015);
  EXPECT_EQ(report["totaltasks"], 2);
  EXPECT_EQ(report["tasks"][0]["id"], "task1");
  EXPECT_EQ(report["tasks"][1]["id"], "task0");
}

struct BadInput {
  const char* name;
  const char* second;   // the second file's text; "" for a shard holding task0 again
  const char* message;  // what the error must say after the second file's path
};

void PrintTo(const BadInput& input, std::ostream* os) { *os << input.name; }

class MergeRefuses : public Merge, public ::testing::WithParamInterface<BadInput> {};

TEST_P(MergeRefuses, NamingTheFileAndWritingNothing) {
  const std::string a = file("a.json", {{task(0)}, false, 0, kHour, 1});
  const auto b = scratch.path() / "b.json";
  if (*GetParam().second) {
    write(b, GetParam().second);
  } else {
    write(b, run_job({{task(0, {1})}, false, 0, kHour, 1})->dump_json());
  }
  const auto out = scratch.path() / "out.json";
  write(out, "kept");
  try {
    merge_files({a, b.string()}, out.string());
    ADD_FAILURE() << "merged";
  } catch (const morvi::ParseError& e) {
    const std::string what = e.what();
    EXPECT_EQ(what.rfind(b.string() + ": " + GetParam().message, 0), 0u) << what;
  }
  EXPECT_EQ(file_text(out), "kept");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()),
                          std::filesystem::directory_iterator()),
            3);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, MergeRefuses,
    ::testing::Values(
        BadInput{"NotJson", "{\"version\": \"3.4\", \"report\": {", "line 1, column "},
        BadInput{"NotResults", "{\"version\": \"3.4\", \"report\": {\"id\": \"j\", \"tasks\": 3}}",
                 "not a valid results document:\n"},
        BadInput{"OtherVersion", "{\"version\": \"3.3\", \"report\": {\"id\": \"j\"}}",
                 "format version '3.3' differs from "},
        BadInput{"SameTaskTwice", "", "task 'task0' (/report/tasks/0) is also in "}),
    [](const auto& info) { return std::string(info.param.name); });

// The merged file is put in place as every other document is: an output that is a link
// replaces the file the link points to and keeps its permissions, and the link stays.
TEST_F(Merge, ReplacesTheFileALinkPointsToKeepingItsMode) {
  namespace fs = std::filesystem;
  const std::string a = file("a.json", {{task(0)}, false, 0, kHour, 1});
  const auto target = scratch.path() / "kept.json";
  const auto link = scratch.path() / "latest.json";
  write(target, "old");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(target.filename(), link);
  merge_files({a}, link.string());
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(file_text(target), merge_results({a})->dump_json());
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST_F(Merge, AFileThatCannotBeReadIsAnOperatingSystemError) {
  const std::string a = file("a.json", {{task(0)}, false, 0, kHour, 1});
  EXPECT_THROW(merge_results({a, (scratch.path() / "missing.json").string()}),
               std::system_error);
  EXPECT_THROW(merge_results({}), morvi::ArgumentError);
}

}  // namespace
