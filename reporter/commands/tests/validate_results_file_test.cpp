#include "morvi/reporter/commands.hpp"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include <gtest/gtest.h>

#include "morvi/cli/program.hpp"
#include "morvi/errors.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/utils/utils.hpp"

namespace morvi::reporter::commands {
namespace {

namespace fs = std::filesystem;

class ValidateResultsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("morvi_validate_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& content) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }

  // Runs the command on `path`, output into out_.
  cli::Status run(const std::string& path) {
    ValidateResultsFile command({"morvi validate results", ValidateResultsFile::usage,
                                 ValidateResultsFile::description, &out_});
    cli::Arguments args;
    args.set("file", path);
    return command.run(args);
  }

  fs::path dir_;
  std::ostringstream out_;
};

// A small job written by the report object model itself.
std::string written_job() {
  const std::int64_t epoch = DateTime(2024, 1, 1, 8).ticks();
  std::int64_t readings = 0;
  const utils::ScopedClock clock([&] { return DateTime::from_ticks(epoch + 1500 * ++readings, 60); });
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
  step->update(Map{{"health", Value::list({Map{{"result", "failed"}}})},
                   {"ratio", std::numeric_limits<double>::quiet_NaN()}});
  step->stop(Map{{"result", Value(results::Failed)}});
  testcase->stop();
  probe->stop();
  task->stop();
  monitor->stop();
  job->stop(Map{{"num_tasks", 2}});
  return job->dump_json();
}

TEST(ValidateResultsFileClass, TextsAndArgument) {
  EXPECT_EQ(ValidateResultsFile::name, "results");
  EXPECT_EQ(ValidateResultsFile::help, "validate your results file json syntax");
  EXPECT_EQ(ValidateResultsFile::usage, "{prog} [file]");
  EXPECT_EQ(ValidateResultsFile::description,
            "\nValidates the provided results json file for syntax and content completeness.\n    ");
  EXPECT_EQ(DEVICE_ATTRIBUTES_TO_CHECK[0], "type");
  EXPECT_EQ(DEVICE_ATTRIBUTES_TO_CHECK[1], "os");
  EXPECT_EQ(DEVICE_ATTRIBUTES_TO_CHECK[2], "platform");
  EXPECT_EQ(DEVICE_ATTRIBUTES_TO_CHECK.size(), 3u);

  const ValidateResultsFile command({"morvi validate results", ValidateResultsFile::usage,
                                     ValidateResultsFile::description, nullptr});
  ASSERT_EQ(command.parser.arguments().size(), 1u);
  const auto& file = command.parser.arguments()[0];
  EXPECT_EQ(file.name, "file");
  EXPECT_EQ(file.metavar, "[file]");
  EXPECT_EQ(file.type, Kind::Text);
  EXPECT_EQ(file.help, "Results JSON file to validate");
  EXPECT_EQ(command.parser.format_usage(), "usage: morvi validate results [file]");
}

TEST(ValidateResultsFileClass, HelpPage) {
  std::ostringstream out;
  std::ostringstream err;
  cli::Program tool("morvi", "", out, err);
  tool.add_group("validate", "validate files", "").add<ValidateResultsFile>();
  const char* argv[] = {"morvi", "validate", "results", "--help"};
  EXPECT_EQ(tool.main(4, argv), 0);
  EXPECT_EQ(out.str(),
            "usage: morvi validate results [file]\n"
            "\n"
            "Validates the provided results json file for syntax and content completeness.\n"
            "\n"
            "positional arguments:\n"
            "  [file]      Results JSON file to validate\n"
            "\n"
            "options:\n"
            "  -h, --help  show this help message and exit\n");
  EXPECT_EQ(err.str(), "");
}

TEST_F(ValidateResultsFileTest, AcceptsWhatTheReportObjectModelWrites) {
  const std::string path = write("results.json", written_job());
  EXPECT_EQ(run(path), std::nullopt);
  EXPECT_EQ(out_.str(), path + " accepted\n");
}

TEST_F(ValidateResultsFileTest, SchemaProblemsArePrintedAndReturnError) {
  std::string text = written_job();
  const std::string from = "\"host\": \"lab\"";
  text.replace(text.find(from), from.size(), "\"host\": \"lab\", \"colour\": \"red\"");
  const std::string path = write("damaged.json", text);
  EXPECT_EQ(run(path), cli::ERROR);
  EXPECT_EQ(out_.str(),
            "/report: Object contains a property that could not be validated using "
            "'properties' or 'additionalProperties' constraints: 'colour'.\n");
}

struct Unreadable {
  const char* name;
  const char* content;  // nullptr: no file at all
  bool parse_error;
  const char* message;  // after the path
};

class ValidateResultsFileFails : public ValidateResultsFileTest,
                                 public ::testing::WithParamInterface<Unreadable> {};

TEST_P(ValidateResultsFileFails, ErrorLeavesRunAndNothingIsPrinted) {
  const std::string path =
      GetParam().content ? write("in.json", GetParam().content) : (dir_ / "missing.json").string();
  try {
    run(path);
    FAIL() << "no error";
  } catch (const ParseError& e) {
    EXPECT_TRUE(GetParam().parse_error);
    EXPECT_EQ(e.what(), path + GetParam().message);
  } catch (const std::system_error& e) {
    EXPECT_FALSE(GetParam().parse_error);
    EXPECT_EQ(e.what(), "cannot open " + path + GetParam().message);
  }
  EXPECT_EQ(out_.str(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Files, ValidateResultsFileFails,
    ::testing::Values(
        Unreadable{"Empty", "", true,
                   ": line 1, column 1: syntax error while parsing value - unexpected end of "
                   "input; expected '[', '{', or a literal"},
        Unreadable{"Malformed", "{\"version\": \"3.4\",\n \"report\": {]}", true,
                   ": line 2, column 13: syntax error while parsing object key - unexpected ']'; "
                   "expected string literal"},
        Unreadable{"Missing", nullptr, false, ": No such file or directory"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace morvi::reporter::commands
