// The morvi executable as a user runs it: exit statuses, standard output and standard error.
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

#include <gtest/gtest.h>

#include "morvi/reporter/trialkit.hpp"
#include "morvi/results_depth.hpp"
#include "morvi/testing/files.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "morvi/utils/utils.hpp"

namespace {

using morvi::testing::file_text;
using morvi::testing::shell_quoted;

namespace fs = std::filesystem;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class MorviTool : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& content) {
    std::ofstream(dir_ / name, std::ios::binary) << content;
    return (dir_ / name).string();
  }

  // `shell_input`, when given, is a shell redirection or pipe feeding standard input;
  // `shell_words` are put last, unquoted.
  Outcome morvi(const std::vector<std::string>& words, const std::string& shell_input = "",
                const std::string& shell_words = "") {
    std::string command = shell_quoted(MORVI_EXE);
    for (const std::string& word : words) command += " " + shell_quoted(word);
    command += " " + shell_words;
    command += " >" + shell_quoted((dir_ / "stdout").string()) + " 2>" + shell_quoted((dir_ / "stderr").string());
    if (!shell_input.empty()) command = shell_input + " " + command;
    const std::string script = "bash -c " + shell_quoted(command);
    const int raw = std::system(script.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, file_text(dir_ / "stdout"), file_text(dir_ / "stderr")};
  }

  morvi::testing::ScratchDir dir_;
};

// A finished job of two tasks, written by the report object model.
std::string job_document() {
  using namespace morvi;
  const std::int64_t epoch = DateTime(2024, 1, 1, 8).ticks();
  std::int64_t readings = 0;
  const utils::ScopedClock clock([&] { return DateTime::from_ticks(epoch + 500000 * ++readings, 0); });
  auto job = reporter::trialkit::TrialKit::create("nightly", 1);
  job->start();
  auto task = job->add_task("t1", 2);
  task->start();
  auto testcase = task->add_section("tc1", 3, "Testcase");
  testcase->start();
  for (int i = 0; i < 2; ++i) {
    auto step = testcase->add_section("step" + std::to_string(i), 4 + i, "Step");
    step->start();
    step->stop(Map{{"result", Value(i == 0 ? results::Passed : results::Failed)}});
  }
  testcase->stop();
  task->stop();
  job->add_task("t2", 6);  // never started
  job->stop(Map{{"num_tasks", 2}});
  return job->dump_json();
}

TEST_F(MorviTool, ValidateAcceptsAJob) {
  const std::string path = write("results.json", job_document());
  const Outcome r = morvi({"validate", "results", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, path + " accepted\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(MorviTool, ValidateReportsSchemaProblems) {
  const std::string path = write("bad.json", R"({"version": "3.4", "report": {"type": "TrialKit",
    "idlist": ["j"], "starttime": "2024-01-01T08:00:00", "result": {"value": "ok"}}})");
  const Outcome r = morvi({"validate", "results", path});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "/report/result/value: Failed to match against any enum values. (value: \"ok\")\n"
            "/report/starttime: Failed to match regex specified by 'pattern' constraint. "
            "(value: \"2024-01-01T08:00:00\")\n");
  EXPECT_EQ(r.err, "");
}

struct Refused {
  const char* name;
  const char* content;  // nullptr: no file
  int status;
  const char* message;  // stderr after "morvi: error: " and the path
};

// Test names and failure messages show the case by its name, not its bytes.
void PrintTo(const Refused& c, std::ostream* os) { *os << c.name; }

class MorviToolRefuses : public MorviTool, public ::testing::WithParamInterface<Refused> {};

TEST_P(MorviToolRefuses, OneLineOnStandardErrorOnly) {
  const std::string path =
      GetParam().content ? write("in.json", GetParam().content) : (dir_ / "nowhere.json").string();
  for (const char* group : {"validate", "show"}) {
    const Outcome r = morvi({group, "results", path});
    EXPECT_EQ(r.status, GetParam().status) << group;
    EXPECT_EQ(r.out, "") << group;
    const std::string expected = GetParam().content
                                     ? "morvi: error: " + path + GetParam().message + "\n"
                                     : "morvi: error: cannot open " + path + GetParam().message + "\n";
    EXPECT_EQ(r.err, expected) << group;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, MorviToolRefuses,
    ::testing::Values(
        Refused{"Empty", "", 1,
                ": line 1, column 1: syntax error while parsing value - unexpected "
                "end of input; expected '[', '{', or a literal"},
        Refused{"Malformed", "{\"version\": \"3.4\",\n  \"report\": {\"type\": 'x'}}", 1,
                ": line 2, column 22: syntax error while parsing value - invalid literal; last "
                "read: '\"type\": ''"},
        Refused{"NumberPastADouble", "{\"version\": \"3.4\",\n \"report\": 1e400}", 1,
                ": line 2, column 12: number out of the range of a double: 1e400"},
        Refused{"Missing", nullptr, 3, ": No such file or directory"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MorviTool, RefusesAHundredThousandLevels) {
  const std::string path = write("deep.json", "{\"version\": \"3.4\", \"report\": " +
                                                  std::string(100000, '[') +
                                                  std::string(100000, ']') + "}");
  for (const char* group : {"validate", "show"}) {
    const Outcome r = morvi({group, "results", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    // The first bracket stands at column 30 and opens level 2.
    EXPECT_EQ(r.err, "morvi: error: " + path + ": line 1, column " +
                         std::to_string(29 + morvi::MAX_RESULTS_NESTING) +
                         ": arrays and objects nest deeper than the limit of " +
                         std::to_string(morvi::MAX_RESULTS_NESTING) + " levels\n");
  }
}

TEST_F(MorviTool, HelpAtEveryLevel) {
  const Outcome top = morvi({"--help"});
  EXPECT_EQ(top.status, 0);
  EXPECT_EQ(top.out,
            "usage: morvi [-h] [--version] <command> ...\n"
            "\n"
            "The morvi command line: checks and shows results files.\n"
            "\n"
            "commands:\n"
            "  show        show files in a readable form\n"
            "  validate    validate files\n"
            "  export      write results files in other formats\n"
            "  report      write reports for people to read\n"
            "  replay      rebuild a job's results documents from its journal\n"
            "  serve       run a reporter server for one job\n"
            "  watch       show the progress of a running job\n"
            "  merge       merge the results files of a job's shards\n"
            "\n"
            "options:\n"
            "  -h, --help  show this help message and exit\n"
            "  --version   show the program's version and exit\n");
  const Outcome version = morvi({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "morvi " MORVI_VERSION "\n");
  const Outcome group = morvi({"validate", "--help"});
  EXPECT_EQ(group.status, 0);
  EXPECT_EQ(group.out,
            "usage: morvi validate [-h] <command> ...\n"
            "\n"
            "Validates files against their formats.\n"
            "\n"
            "commands:\n"
            "  results     validate your results file json syntax\n"
            "\n"
            "options:\n"
            "  -h, --help  show this help message and exit\n");
  const Outcome leaf = morvi({"validate", "results", "--help"});
  EXPECT_EQ(leaf.status, 0);
  EXPECT_EQ(leaf.out,
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
  EXPECT_EQ(leaf.err, "");
}

TEST_F(MorviTool, MissingFileArgumentIsAUsageError) {
  const Outcome r = morvi({"validate", "results"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "usage: morvi validate results [file]\n"
            "morvi validate results: error: the following arguments are required: [file]\n");
}

TEST_F(MorviTool, ShowPrintsTheTree) {
  const std::string path = write("results.json", job_document());
  const Outcome all = morvi({"show", "results", path});
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(all.err, "");
  EXPECT_EQ(all.out,
            "nightly  TrialKit  failed  4.5s\n"
            "  t1  Task  failed  3.5s\n"
            "    t1.tc1  Testcase  failed  2.5s\n"
            "      t1.tc1.step0  Step  passed  0.5s\n"
            "      t1.tc1.step1  Step  failed  0.5s\n"
            "  t2  Task  -  -\n");
  const Outcome shallow = morvi({"show", "results", "--depth", "1", path});
  EXPECT_EQ(shallow.status, 0);
  EXPECT_EQ(shallow.out,
            "nightly  TrialKit  failed  4.5s\n"
            "  t1  Task  failed  3.5s  (1 child not shown)\n"
            "  t2  Task  -  -\n");
  const Outcome top = morvi({"show", "results", path, "--depth=0"});
  EXPECT_EQ(top.out, "nightly  TrialKit  failed  4.5s  (2 children not shown)\n");
  const Outcome negative = morvi({"show", "results", path, "--depth=-1"});
  EXPECT_EQ(negative.status, 2);
  EXPECT_EQ(negative.err,
            "usage: morvi show results [--depth N] (file | --socket PATH)\n"
            "morvi show results: error: argument --depth N: must be 0 or more, not -1\n");
}

// A loop of steps that share one id: each is shown with its own result, the failed one too.
TEST_F(MorviTool, ShowsEverySiblingThatSharesAnId) {
  using namespace morvi;
  std::int64_t readings = 0;
  const utils::ScopedClock clock(
      [&] { return DateTime::from_ticks(DateTime(2024, 1, 1, 8).ticks() + 500000 * ++readings, 0); });
  auto job = reporter::trialkit::TrialKit::create("loop", 1);
  job->start();
  auto task = job->add_task("t", 2);
  task->start();
  for (int i = 0; i < 3; ++i) {
    auto step = task->add_section("step", 3 + i, "Step");
    step->start();
    step->stop(Map{{"result", Value(i == 1 ? results::Failed : results::Passed)}});
  }
  task->stop();
  job->stop(Map{{"num_tasks", 1}});
  const Outcome r = morvi({"show", "results", write("loop.json", job->dump_json())});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "loop  TrialKit  failed  4.5s\n"
            "  t  Task  failed  3.5s\n"
            "    t.step  Step  passed  0.5s\n"
            "    t.step  Step  failed  0.5s\n"
            "    t.step  Step  passed  0.5s\n");
}

// morvi report html: the page is written and named; a missing -o, an unreadable file and a
// file that is not a results document each exit with their own status and leave no page.
TEST_F(MorviTool, ReportHtmlStatuses) {
  const std::string path = write("results.json", job_document());
  const std::string page = (dir_ / "report.html").string();
  const Outcome ok = morvi({"report", "html", path, "-o", page});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out.rfind(page + ": 6 nodes, 4 failures, ", 0), 0u) << ok.out;
  EXPECT_TRUE(fs::exists(page));
  const Outcome usage = morvi({"report", "html", path});
  EXPECT_EQ(usage.status, 2);
  const Outcome missing = morvi({"report", "html", (dir_ / "nope.json").string(), "-o", page + "2"});
  EXPECT_EQ(missing.status, 3);
  const Outcome bad = morvi({"report", "html", write("bad.json", "{\"version\": \"3.4\", \"report\": [}"), "-o", page + "2"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("bad.json: not a JSON document at byte"), std::string::npos) << bad.err;
  EXPECT_FALSE(fs::exists(page + "2"));
}

// A disk that takes nothing (here a file size limit of 0, whose signal the shell ignores) fails
// every writer with exit 3, naming the file it was writing and leaving nothing behind. Its
// error line goes through a pipe, which the limit does not touch.
TEST_F(MorviTool, WritersNameTheFileTheDiskRefuses) {
  const std::string path = write("results.json", job_document());
  fs::create_directory(dir_ / "out");
  const std::string out = (dir_ / "out").string();
  const std::vector<std::vector<std::string>> commands = {
      {"report", "html", path, "-o", out + "/report.html"},
      {"export", "junit", path, "-o", out + "/junit.xml"},
      {"export", "junit", path, "-o", out + "/junit.xml", "--split", "1"},
      {"merge", path, "-o", out + "/merged.json"},
  };
  for (const auto& words : commands) {
    std::string command = "trap '' XFSZ; ulimit -f 0; " + shell_quoted(MORVI_EXE);
    for (const std::string& word : words) command += " " + shell_quoted(word);
    command += " 2>&1 >/dev/null | cat; exit ${PIPESTATUS[0]}";
    std::FILE* pipe = ::popen(("bash -c " + shell_quoted(command)).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string err;
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) err.append(buffer, n);
    const int raw = ::pclose(pipe);
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 3) << words[0] << " " << words[1];
    EXPECT_EQ(err.rfind("morvi: error: cannot write " + out + "/", 0), 0u) << err;
    EXPECT_NE(err.find(": File too large\n"), std::string::npos) << err;
    EXPECT_TRUE(fs::is_empty(out)) << err;
  }
}

// A job whose data holds non-finite reals, which its document writes as NaN, Infinity and
// -Infinity, is accepted by every command that reads results files.
TEST_F(MorviTool, EveryReaderTakesTheNonFiniteRealsOfAJob) {
  using namespace morvi;
  auto job = reporter::trialkit::TrialKit::create("nightly", 1);
  job->start();
  auto task = job->add_task("t1", 2);
  task->start();
  const double inf = std::numeric_limits<double>::infinity();
  task->update(Map{{"extra", Value(Map{{"ratio", Value(std::nan(""))}, {"ceiling", Value(inf)},
                                       {"floor", Value(-inf)}, {"label", Value("NaN")}})}});
  task->stop();
  job->stop(Map{{"num_tasks", 1}});
  const std::string path = write("results.json", job->dump_json());
  ASSERT_NE(file_text(path).find("\"ratio\": NaN, \"ceiling\": Infinity, \"floor\": -Infinity"),
            std::string::npos);
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{"validate", "results", path},
        std::vector<std::string>{"show", "results", path},
        std::vector<std::string>{"export", "junit", path, "-o", (dir_ / "junit.xml").string()},
        std::vector<std::string>{"report", "html", path, "-o", (dir_ / "report.html").string()},
        std::vector<std::string>{"merge", path, "-o", (dir_ / "merged.json").string()}}) {
    const Outcome r = morvi(words);
    EXPECT_EQ(r.status, 0) << words[0] << " " << words[1] << ": " << r.err;
  }
}

// The readers of the export and the page tell a folder, which cannot be read (exit 3), and a
// NUL byte, which no JSON holds outside a string (exit 1), from a document cut short; a
// missing file reads as it does for every other command.
TEST_F(MorviTool, ExportAndPageNameAFolderAndANulByte) {
  const std::string nul = write("nul.json", job_document() + std::string("\n\0{}", 4));
  const std::string folder = (dir_ / "folder").string();
  fs::create_directory(folder);
  const std::string nul_at = std::to_string(job_document().size() + 2);
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"report", "html"}, std::vector<std::string>{"export", "junit"}}) {
    const std::string written = (dir_ / "written").string();
    const Outcome unreadable = morvi({command[0], command[1], folder, "-o", written});
    EXPECT_EQ(unreadable.status, 3);
    EXPECT_EQ(unreadable.err, "morvi: error: cannot read " + folder + ": Is a directory\n");
    const std::string nowhere = (dir_ / "nowhere.json").string();
    const Outcome missing = morvi({command[0], command[1], nowhere, "-o", written});
    EXPECT_EQ(missing.status, 3);
    EXPECT_EQ(missing.err, "morvi: error: cannot open " + nowhere + ": No such file or directory\n");
    const Outcome zero = morvi({command[0], command[1], nul, "-o", written});
    EXPECT_EQ(zero.status, 1);
    EXPECT_EQ(zero.err, "morvi: error: " + nul + ": not a JSON document at byte " + nul_at +
                            ": a NUL byte outside a string is not JSON\n");
    EXPECT_FALSE(fs::exists(written));
  }
}

// morvi export junit --split: the files written are named; a count that is not a positive
// number is a usage error and writes nothing.
TEST_F(MorviTool, ExportJunitSplitStatuses) {
  const std::string path = write("results.json", job_document());
  const std::string junit = (dir_ / "junit.xml").string();
  for (const char* bad : {"0", "-3", "many", "2.5"}) {
    const Outcome usage = morvi({"export", "junit", path, "-o", junit, "--split", bad});
    EXPECT_EQ(usage.status, 2) << bad;
    EXPECT_NE(usage.err.find("--split"), std::string::npos) << usage.err;
  }
  EXPECT_FALSE(fs::exists(dir_ / "junit-1.xml"));
  const Outcome ok = morvi({"export", "junit", path, "-o", junit, "--split", "1"});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, (dir_ / "junit-1.xml").string() + ": 2 suites, 1 tests, 1 failures, 0 errors, 0 skipped\n");
  EXPECT_FALSE(fs::exists(junit));
}

// What a user meets on the command line: the words that went wrong are named.
TEST_F(MorviTool, UsageErrorsNameTheWord) {
  const Outcome unknown = morvi({"validat", "results", "x.json"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.err,
            "usage: morvi [-h] [--version] <command> ...\n"
            "morvi: error: invalid command 'validat' (choose from show, validate, export, report, replay, serve, watch, merge)\n");
  const Outcome option = morvi({"validate", "results", "--strict", "x.json"});
  EXPECT_EQ(option.status, 2);
  EXPECT_EQ(option.err,
            "usage: morvi validate results [file]\n"
            "morvi validate results: error: unrecognized arguments: --strict\n");
}

// Standard input, pipes and process substitution are read like files; an endless input
// stops at the limit.
TEST_F(MorviTool, ValidateReadsStreams) {
  const std::string path = write("results.json", job_document());
  const Outcome piped = morvi({"validate", "results", "-"}, "cat " + shell_quoted(path) + " |");
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out, "- accepted\n");
  const Outcome redirected = morvi({"validate", "results", "--quiet", "-"}, "<" + shell_quoted(path));
  EXPECT_EQ(redirected.status, 0);
  EXPECT_EQ(redirected.out, "");
  const Outcome process = morvi({"validate", "results"}, "", "<(cat " + shell_quoted(path) + ")");
  EXPECT_EQ(process.status, 0);
  EXPECT_TRUE(process.out.starts_with("/dev/fd/") && process.out.ends_with(" accepted\n"))
      << process.out;
  const Outcome endless = morvi({"validate", "results", "--max-size", "100000", "/dev/zero"});
  EXPECT_EQ(endless.status, 3);
  EXPECT_EQ(endless.err,
            "morvi: error: /dev/zero: more than the limit of 100000 bytes (--max-size sets "
            "the limit)\n");
  const Outcome shown = morvi({"show", "results", "--depth", "0", "-"}, "<" + shell_quoted(path));
  EXPECT_EQ(shown.out, "nightly  TrialKit  failed  4.5s  (2 children not shown)\n");
}

TEST_F(MorviTool, RefusesANulAfterTheDocument) {
  const std::string path = write("nul.json", job_document() + std::string("\n\0{}", 4));
  const Outcome r = morvi({"validate", "results", path});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "morvi: error: " + path + ": line 2, column 1: a NUL byte outside a string is not JSON\n");
}

// Problem lines quote what the file holds, escaped: no key can forge a line or reach the
// terminal as a control sequence.
TEST_F(MorviTool, ProblemLinesAreEscaped) {
  std::string text = job_document();
  text.replace(text.find("\"report\": {") + 11, 0, "\"a\\nb: forged\\u001b[2J\": 1, ");
  const std::string path = write("keys.json", text);
  const Outcome r = morvi({"validate", "results", path});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "/report: Object contains a property that could not be validated using "
            "'properties' or 'additionalProperties' constraints: 'a\\nb: forged\\x1b[2J'.\n");
}

TEST_F(MorviTool, ReplayWritesTheDocumentsOfACutJournal) {
  const std::string header = "{\"format\":\"morvi-events\",\"version\":1}\n";
  const std::string events =
      "{\"event\":\"create_trialkit\",\"node\":0,\"child\":0,\"args\":{\"id\":\"j\",\"seq_num\":1}}\n"
      "{\"event\":\"start\",\"node\":0,\"args\":{\"options\":{},\"time\":{\"$\":\"datetime\","
      "\"v\":[2026,1,1,0,0,0,0],\"offset\":0}}}\n";
  const std::string journal = write("cut.journal", header + events + "{\"event\":\"add_ta");
  const std::string out_dir = (dir_.path() / "out").string();
  const Outcome replayed = morvi({"replay", journal, "-o", out_dir, "--close"});
  EXPECT_EQ(replayed.status, 0) << replayed.err;
  EXPECT_EQ(replayed.err.rfind("morvi: warning: " + journal + ": the last line, at byte " +
                                   std::to_string(header.size() + events.size()),
                               0),
            0u)
      << replayed.err;
  EXPECT_EQ(std::count(replayed.err.begin(), replayed.err.end(), '\n'), 1);
  for (const char* name : {"results.json", "results.yaml", "ResultsDetails.xml", "ResultsSummary.xml"})
    EXPECT_TRUE(fs::exists(fs::path(out_dir) / name)) << name;
  EXPECT_EQ(morvi({"validate", "results", out_dir + "/results.json"}).status, 0);

  EXPECT_EQ(morvi({"replay", journal}).status, 2);
  EXPECT_EQ(morvi({"replay", (dir_.path() / "missing").string(), "-o", out_dir}).status, 3);
  const std::string foreign = write("foreign.journal", "{\"format\":\"other\"}\n" + events);
  const Outcome refused = morvi({"replay", foreign, "-o", out_dir});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find(foreign + ":1: not a journal"), std::string::npos) << refused.err;
}

}  // namespace
