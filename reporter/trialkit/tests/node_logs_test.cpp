// Log-file bookkeeping of plugins, sections and tasks against real files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "morvi/reporter/trialkit.hpp"
#include "morvi/results.hpp"
#include "node_test_support.hpp"

namespace morvi::reporter::trialkit {
namespace {

namespace fs = std::filesystem;

class LogBookkeeping : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("morvi-node-logs-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Grows the file to `size` bytes and returns its path as the runner passes it.
  Value grow(const std::string& name, std::size_t size) const {
    const fs::path path = dir_ / name;
    const auto now = fs::exists(path) ? fs::file_size(path) : 0;
    std::ofstream(path, std::ios::app) << std::string(size - now, 'x');
    return Value(path.string());
  }
  Value missing(const std::string& name) const { return Value((dir_ / name).string()); }

  std::shared_ptr<TrialKit> job_ = TrialKit::create(Value("job"), Value(0));
  std::shared_ptr<Task> task_ = job_->add_task(Value("t1"), Value(1));
  fs::path dir_;
};

Value logs_of(const ReportObjectBase& node) { return node.field_or_none("logs"); }

TEST_F(LogBookkeeping, PluginRecordsHowMuchItsLogGrew) {
  auto plugin = task_->add_plugin(Value("p"), Value(2));
  plugin->start(Options{{"logfile", grow("plugin.log", 100)}});
  EXPECT_EQ(logs_of(*plugin), Value(Map{{"file", Value("plugin.log")}, {"begin", Value(100)}}));
  const Value path = grow("plugin.log", 150);
  EXPECT_EQ(plugin->field_or_none("logfile"), path);  // the full path while it runs
  plugin->stop();
  EXPECT_EQ(logs_of(*plugin), Value(Map{{"file", Value("plugin.log")}, {"begin", Value(100)},
                                        {"size", Value(50)}}));
  EXPECT_EQ(plugin->field_or_none("logfile"), Value("plugin.log"));
}

TEST_F(LogBookkeeping, AMissingLogGivesZeroAndMinusOne) {
  auto plugin = task_->add_plugin(Value("p"), Value(2));
  plugin->start(Options{{"logfile", missing("gone.log")}});
  EXPECT_EQ(logs_of(*plugin), Value(Map{{"file", Value("gone.log")}, {"begin", Value(0)}}));
  plugin->stop();
  EXPECT_EQ(logs_of(*plugin).as_map().at("size"), Value(-1));
  EXPECT_EQ(plugin->field_or_none("logfile"), Value("gone.log"));

  // Created after the start, the file still counts from "begin" 0.
  auto late = task_->add_plugin(Value("late"), Value(3));
  late->start(Options{{"logfile", missing("late.log")}});
  grow("late.log", 30);
  late->stop();
  EXPECT_EQ(logs_of(*late).as_map().at("size"), Value(30));
}

TEST_F(LogBookkeeping, APluginStoppedWithAnotherLogLosesItsShare) {
  auto plugin = task_->add_plugin(Value("p"), Value(2));
  plugin->start(Options{{"logfile", grow("first.log", 10)}});
  plugin->stop(Options{{"logfile", grow("second.log", 99)}});
  EXPECT_EQ(logs_of(*plugin), Value(Map{{"file", Value("second.log")}, {"begin", Value(0)},
                                        {"size", Value(-1)}}));
  EXPECT_EQ(plugin->field_or_none("logfile"), Value("second.log"));
  EXPECT_FALSE(plugin->extra().contains("logfile"));

  // With no share recorded, only the name changes.
  auto unshared = task_->add_plugin(Value("q"), Value(3));
  unshared->update(Map{{"logfile", grow("first.log", 10)}});
  unshared->stop(Options{{"logfile", missing("dir/other.log")}});
  EXPECT_EQ(logs_of(*unshared), Value(Map{}));
  EXPECT_EQ(unshared->field_or_none("logfile"), Value("other.log"));

  // The same log named again is no change of log.
  auto same = task_->add_plugin(Value("r"), Value(4));
  const Value path = grow("same.log", 5);
  same->start(Options{{"logfile", path}});
  same->stop(Options{{"logfile", path}});
  EXPECT_EQ(logs_of(*same).as_map().at("size"), Value(0));
}

TEST_F(LogBookkeeping, AJobLevelPluginGetsATallyAndNoShare) {
  auto plugin = job_->add_plugin(Value("monitor"), Value(2));
  plugin->start(Options{{"logfile", grow("monitor.log", 10)}});
  EXPECT_EQ(logs_of(*plugin), Value(Map{}));
  EXPECT_EQ(plugin->field_or_none("summary"), Value(results::ResultCounter{}));
  plugin->stop();
  EXPECT_EQ(plugin->field_or_none("logfile"), Value("monitor.log"));
  EXPECT_TRUE(task_->add_plugin(Value("inner"), Value(3))->field_or_none("summary").is_none());
}

TEST_F(LogBookkeeping, PluginsDefaultToPassedAfterTheirRollUp) {
  auto plain = task_->add_plugin(Value("p"), Value(2));
  plain->stop();
  EXPECT_EQ(plain->field_or_none("result"), Value(results::Passed));
  auto failed = task_->add_plugin(Value("q"), Value(3));
  failed->stop(Options{{"result", Value(results::Failed)}});
  EXPECT_EQ(failed->field_or_none("result"), Value(results::Failed));
}

TEST_F(LogBookkeeping, SectionsKeepTheFullPathAndTheirShare) {
  auto section = task_->add_section(Value("tc"), Value(2));
  const Value path = grow("TaskLog.t1", 40);
  section->start(Options{{"logfile", path}, {"description", Value("d")}});
  EXPECT_EQ(section->field_or_none("logfile"), path);
  EXPECT_FALSE(section->extra().contains("logfile"));
  EXPECT_EQ(logs_of(*section), Value(Map{{"file", Value("TaskLog.t1")}, {"begin", Value(40)}}));
  grow("TaskLog.t1", 45);
  section->stop();
  EXPECT_EQ(logs_of(*section).as_map().at("size"), Value(5));
  EXPECT_EQ(section->field_or_none("logfile"), path);

  // update cannot set a section's logfile: it is not a listed field.
  auto other = task_->add_section(Value("tc2"), Value(3));
  other->start();
  other->update(Map{{"logfile", path}});
  other->stop();
  EXPECT_TRUE(other->field_or_none("logfile").is_none());
  EXPECT_EQ(other->extra().at("logfile"), path);
  EXPECT_EQ(logs_of(*other), Value(Map{}));
}

TEST_F(LogBookkeeping, ASectionWhoseLogVanishesRecordsMinusOne) {
  auto section = task_->add_section(Value("tc"), Value(2));
  section->start(Options{{"logfile", grow("TaskLog.t1", 40)}});
  fs::remove(dir_ / "TaskLog.t1");
  section->stop();
  EXPECT_EQ(logs_of(*section).as_map().at("size"), Value(-1));
}

TEST_F(LogBookkeeping, TasksCutTheirLogToItsBaseNameAtStop) {
  task_->start(Options{{"logfile", missing("runs/TaskLog.t1")}});
  EXPECT_EQ(task_->field_or_none("logfile"), missing("runs/TaskLog.t1"));
  task_->stop();
  EXPECT_EQ(task_->field_or_none("logfile"), Value("TaskLog.t1"));
}

}  // namespace
}  // namespace morvi::reporter::trialkit
