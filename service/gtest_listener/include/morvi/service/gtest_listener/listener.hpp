#pragma once
// A GoogleTest event listener that reports a test program's run as a job: the program is the
// trialkit, each test suite a task, each test a testcase section below it. A failed assertion
// is a failed step (file, line and message) and a detail of its testcase; the SCOPED_TRACE
// scopes GoogleTest names in a failure's message are the steps that hold it; GTEST_SKIP makes
// the testcase skipped. Failures outside any test (a suite's or the environment's set-up and
// tear-down) go to common setup and cleanup sections.
//
// When the program ends the listener writes results.json, results.yaml, ResultsDetails.xml,
// ResultsSummary.xml and junit.xml into its folder, and, when asked, appends every operation
// on the tree to an event journal as it happens, so a program that crashes still leaves its
// run behind for `morvi replay --close`.
//
// The listener never changes how the tests run or what the program returns: a fault of its own
// (a folder it cannot write, a journal it cannot open, an event the tree or the journal
// refuses) is one line on its error stream, after which it writes what it still can.
#include <sys/types.h>

#include <filesystem>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#pragma GCC visibility push(default)
namespace morvi::service::gtest_listener {

// Where the listener puts the run.
struct Config {
  std::filesystem::path output_dir;               // the documents' folder, made when missing
  std::optional<std::filesystem::path> journal;   // the event journal, started afresh
  std::string job_id;                             // the trialkit's id; the program's name if empty
};

// The environment variables and command-line flags install() reads.
inline constexpr std::string_view kOutputVariable = "MORVI_GTEST_OUTPUT";
inline constexpr std::string_view kJournalVariable = "MORVI_GTEST_JOURNAL";
inline constexpr std::string_view kOutputFlag = "--morvi_output=";
inline constexpr std::string_view kJournalFlag = "--morvi_journal=";

// The folder named by an output value "dir:PATH". ArgumentError naming `source` (the variable
// or flag it came from) for any other form or an empty path.
std::filesystem::path parse_output(std::string_view value, std::string_view source);

class ReportListener : public ::testing::EmptyTestEventListener {
 public:
  // `errors` receives the listener's own faults; it must outlive the listener.
  explicit ReportListener(Config config, std::ostream& errors);
  ~ReportListener() override;
  ReportListener(const ReportListener&) = delete;
  ReportListener& operator=(const ReportListener&) = delete;

  void OnTestProgramStart(const ::testing::UnitTest& unit_test) override;
  void OnTestIterationStart(const ::testing::UnitTest& unit_test, int iteration) override;
  void OnTestSuiteStart(const ::testing::TestSuite& test_suite) override;
  void OnTestStart(const ::testing::TestInfo& test_info) override;
  void OnTestPartResult(const ::testing::TestPartResult& result) override;
  void OnTestEnd(const ::testing::TestInfo& test_info) override;
  void OnTestSuiteEnd(const ::testing::TestSuite& test_suite) override;
  void OnTestIterationEnd(const ::testing::UnitTest& unit_test, int iteration) override;
  void OnTestProgramEnd(const ::testing::UnitTest& unit_test) override;

 private:
  struct Run;
  // Runs one step of the report, one at a time (an assertion may fail on another thread),
  // turning any fault into a line on the error stream naming the step (`what`, then the suite
  // and test it concerns); the report goes on without what the step could not record. Steps in
  // a process other than the one that installed the listener (a death test's child) do nothing.
  template <class Step>
  void guarded(const char* what, const char* suite, const char* test, Step&& step) noexcept;
  void write_documents();

  Config config_;
  std::ostream& errors_;
  pid_t owner_;
  std::mutex mutex_;
  std::unique_ptr<Run> run_;
};

// Reads where to report from the flags --morvi_output=dir:PATH and --morvi_journal=PATH (taken
// out of argv) or else from MORVI_GTEST_OUTPUT and MORVI_GTEST_JOURNAL, and appends a
// ReportListener to GoogleTest's listeners, which then own it. Returns it, or null when no
// output folder is named, the value is malformed (said on stderr) or this process is a death
// test's child. Call it once, before RUN_ALL_TESTS.
ReportListener* install(int& argc, char** argv);
// The same from the environment variables only.
ReportListener* install_from_env();

}  // namespace morvi::service::gtest_listener
#pragma GCC visibility pop
