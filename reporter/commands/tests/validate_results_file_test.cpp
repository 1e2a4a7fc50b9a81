#include "morvi/reporter/commands.hpp"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <cstring>
#include <optional>
#include <system_error>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "morvi/cli/program.hpp"
#include "morvi/errors.hpp"
#include "morvi/reporter/schema.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "morvi/utils/utils.hpp"

namespace morvi::reporter::commands {
namespace {

namespace fs = std::filesystem;

class ValidateResultsFileTest : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& content) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }

  // Runs the command on `paths`, output into out_ and err_.
  cli::Status run(const std::vector<std::string>& paths, const char* format = nullptr,
                  std::optional<std::int64_t> max_size = std::nullopt) {
    ValidateResultsFile command({"morvi validate results", ValidateResultsFile::usage,
                                 ValidateResultsFile::description, &out_, &err_});
    cli::Arguments args;
    List files;
    for (const std::string& path : paths) files.push_back(path);
    args.set("file", std::move(files));
    args.set("format", format ? Value(format) : Value());
    args.set("quiet", false);
    args.set("max_size", max_size ? Value(*max_size) : Value());
    return command.run(args);
  }
  cli::Status run(const std::string& path) { return run(std::vector<std::string>{path}); }

  morvi::testing::ScratchDir dir_;
  std::ostringstream out_;
  std::ostringstream err_;
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
  ASSERT_EQ(command.parser.arguments().size(), 4u);
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
            "  [file]            Results JSON file to validate\n"
            "\n"
            "options:\n"
            "  -h, --help        show this help message and exit\n"
            "  --format FORMAT   text (the default): a line per problem; json: one document\n"
            "                    listing every file and every problem with its file and JSON\n"
            "                    pointer\n"
            "  --quiet           print nothing for a file that is accepted\n"
            "  --max-size BYTES  refuse a file holding more than BYTES bytes; 1073741824 (1\n"
            "                    GiB) by default\n");
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

// Sections nested as deep as a results file may nest, with a bad value in the deepest one and
// a stray member in the report: both are listed, the deep one first, as members are checked in
// name order and "sections" comes before the stray one.
TEST_F(ValidateResultsFileTest, DeeplyNestedSectionsWithProblems) {
  const std::size_t sections = (schema::MAX_DEPTH - 3) / 2;
  std::string text = R"({"version": "3.4", "report": {"type": "Task", "idlist": ["t"], "zone": 1)";
  std::string deepest = "/report";
  for (std::size_t k = 1; k <= sections; ++k) {
    text += R"(, "sections": [{"type": "Section", "idlist": ["s"])";
    deepest += "/sections/0";
  }
  text += R"(, "runtime": "slow")";
  for (std::size_t k = 1; k <= sections; ++k) text += "}]";
  text += "}}";
  EXPECT_EQ(run(write("deep.json", text)), cli::ERROR);
  EXPECT_EQ(out_.str(), deepest + "/runtime: Value type not permitted by 'type' constraint. (value: \"slow\")\n" +
                            "/report: Object contains a property that could not be validated using 'properties' "
                            "or 'additionalProperties' constraints: 'zone'.\n");
  EXPECT_EQ(err_.str(), "");
}

struct Unreadable {
  const char* name;
  const char* content;  // nullptr: no file at all
  int status;
  const char* message;  // after "morvi: error: " and the path
};

// Test names and failure messages show the case by its name, not its bytes.
void PrintTo(const Unreadable& c, std::ostream* os) { *os << c.name; }

class ValidateResultsFileFails : public ValidateResultsFileTest,
                                 public ::testing::WithParamInterface<Unreadable> {};

TEST_P(ValidateResultsFileFails, OneErrorLineAndItsStatus) {
  const std::string path =
      GetParam().content ? write("in.json", GetParam().content) : (dir_ / "missing.json").string();
  EXPECT_EQ(run(path), GetParam().status);
  EXPECT_EQ(out_.str(), "");
  const std::string lead = GetParam().content ? "morvi: error: " : "morvi: error: cannot open ";
  EXPECT_EQ(err_.str(), lead + path + GetParam().message + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Files, ValidateResultsFileFails,
    ::testing::Values(
        Unreadable{"Empty", "", ERROR,
                   ": line 1, column 1: syntax error while parsing value - unexpected end of "
                   "input; expected '[', '{', or a literal"},
        Unreadable{"Malformed", "{\"version\": \"3.4\",\n \"report\": {]}", ERROR,
                   ": line 2, column 13: syntax error while parsing object key - unexpected ']'; "
                   "expected string literal"},
        Unreadable{"Missing", nullptr, cli::IO_ERROR, ": No such file or directory"}),
    [](const auto& info) { return std::string(info.param.name); });

// Several files in one call: each is reported, the worst outcome sets the status, and the
// json format carries every problem with its file and pointer.
TEST_F(ValidateResultsFileTest, SeveralFilesInBothFormats) {
  const std::string good = write("good.json", written_job());
  std::string text = written_job();
  const std::string from = "\"host\": \"lab\"";
  text.replace(text.find(from), from.size(), "\"host\": \"lab\", \"col\\nour\": 1");
  const std::string bad = write("bad.json", text);
  const std::string broken = write("broken.json", "{\"version\":\n  nope}");
  const std::string missing = (dir_ / "missing.json").string();

  EXPECT_EQ(run({good, bad}), ERROR);
  EXPECT_EQ(out_.str(), good + " accepted\n" + bad +
                            ": /report: Object contains a property that could not be validated "
                            "using 'properties' or 'additionalProperties' constraints: "
                            "'col\\nour'.\n");
  EXPECT_EQ(run({bad, missing, good}), cli::IO_ERROR);

  out_.str("");
  err_.str("");
  EXPECT_EQ(run({good, bad, broken, missing}, "json"), cli::IO_ERROR);
  EXPECT_EQ(err_.str(), "");
  const auto report = nlohmann::json::parse(out_.str());
  const auto expected = nlohmann::json::parse(R"({
    "files": [
      {"file": "GOOD", "status": "accepted"}, {"file": "BAD", "status": "invalid"},
      {"file": "BROKEN", "status": "invalid"}, {"file": "MISSING", "status": "unreadable"}],
    "problems": [
      {"file": "BAD", "pointer": "/report", "message": "Object contains a property that could not be validated using 'properties' or 'additionalProperties' constraints: 'col\nour'."},
      {"file": "BROKEN", "pointer": null, "line": 2, "column": 4, "message": "BROKEN: line 2, column 4: syntax error while parsing value - invalid literal; last read: '\"version\":<U+000A>  no'"},
      {"file": "MISSING", "pointer": null, "message": "cannot open MISSING: No such file or directory"}]})");
  std::string expected_text = expected.dump();
  for (const auto& [name, path] : {std::pair{"GOOD", good}, {"BAD", bad}, {"BROKEN", broken},
                                   {"MISSING", missing}}) {
    for (std::size_t at; (at = expected_text.find(name)) != std::string::npos;) {
      expected_text.replace(at, std::strlen(name), path);
    }
  }
  EXPECT_EQ(report, nlohmann::json::parse(expected_text)) << report.dump(2);
}

TEST_F(ValidateResultsFileTest, SizeLimitNamesTheOption) {
  const std::string path = write("results.json", written_job());
  const auto size = static_cast<std::int64_t>(fs::file_size(path));
  EXPECT_EQ(run({path}, nullptr, size), std::nullopt);
  EXPECT_EQ(run({path}, nullptr, size - 1), cli::IO_ERROR);
  EXPECT_EQ(err_.str(), "morvi: error: " + path + ": more than the limit of " +
                            std::to_string(size - 1) + " bytes (--max-size sets the limit)\n");
}

}  // namespace
}  // namespace morvi::reporter::commands
