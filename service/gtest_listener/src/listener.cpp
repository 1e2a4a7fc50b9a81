#include "morvi/service/gtest_listener/listener.hpp"

#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "documents.hpp"
#include "failure_text.hpp"
#include "morvi/errors.hpp"
#include "morvi/results.hpp"
#include "morvi/service/journal/journal.hpp"
#include "morvi/service/protocol/recording.hpp"
#include "morvi/service/protocol/tree_builder.hpp"
#include "morvi/utils/utf8.hpp"

namespace morvi::service::gtest_listener {
namespace {

namespace fs = std::filesystem;
using protocol::Handle;
using protocol::Options;
using protocol::RecordingSection;
using protocol::RecordingTask;
using protocol::RecordingTrialKit;
using results::ResultCode;
using results::TestResult;

constexpr std::string_view kPrefix = "morvi gtest listener: ";

// Gives every event to the tree builder, and to the journal while the journal can be written.
// An event the tree refuses goes to neither, so the journal replays to the same tree.
class ReportSink : public protocol::EventSink {
 public:
  ReportSink(std::unique_ptr<journal::JournalWriter> journal, std::ostream& errors)
      : journal_(std::move(journal)), errors_(errors) {}

  void send(const protocol::Event& event) override {
    builder.apply(event);
    if (journal_) journal(event);
  }
  void flush() override {
    if (!journal_) return;
    try {
      journal_->flush();
    } catch (const std::exception& e) {
      end_journal(e);
    }
  }

  protocol::TreeBuilder builder;

 private:
  // An event the writer refuses is left out on its own; the file is fine and takes the events
  // after it. When the refused event makes a node, that node's events are left out with it:
  // a replay would refuse every one of them.
  void journal(const protocol::Event& event) {
    const bool creates = protocol::creates_node(event.kind);
    const Handle made =
        event.kind == protocol::EventKind::create_trialkit ? event.node : event.child;
    if (left_out_.contains(event.node)) {
      if (creates) left_out_.insert(made);
      return;
    }
    try {
      journal_->send(event);
    } catch (const SerializationError& e) {
      errors_ << kPrefix << "the journal leaves out the event '"
              << protocol::event_name(event.kind) << "' on node " << event.node
              << (creates ? ", and the events of the node it makes" : "") << ": " << e.what()
              << '\n';
      if (creates) left_out_.insert(made);
    } catch (const std::exception& e) {
      end_journal(e);
    }
  }

  // A file that cannot be written may hold part of a line by now: nothing more goes after it.
  void end_journal(const std::exception& e) {
    errors_ << kPrefix << e.what() << "; the journal ends here\n";
    journal_.reset();
  }

  std::unique_ptr<journal::JournalWriter> journal_;
  std::ostream& errors_;
  std::unordered_set<Handle> left_out_;
};

// Runs the parts of a closing that must all run, each even when one before it failed, so one
// refused event leaves no other node open; the first fault is thrown once they all ran.
class Closing {
 public:
  template <class Part>
  void run(Part&& part) {
    try {
      part();
    } catch (...) {
      if (!first_) first_ = std::current_exception();
    }
  }
  void done() const {
    if (first_) std::rethrow_exception(first_);
  }

 private:
  std::exception_ptr first_;
};

// The journal named by the configuration, started afresh; null when none is asked for.
// Anything but a regular file is refused: opening a pipe with no reader would block.
std::unique_ptr<journal::JournalWriter> open_journal(const Config& config) {
  if (!config.journal) return nullptr;
  const fs::path& path = *config.journal;
  const fs::file_status status = fs::symlink_status(path);
  if (fs::exists(status)) {
    if (!fs::is_regular_file(status)) {
      throw std::runtime_error("the journal '" + path.string() + "' is not a regular file");
    }
    fs::remove(path);
  }
  return std::make_unique<journal::JournalWriter>(path.string(), journal::FsyncPolicy::never);
}

std::optional<std::string> host_name() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return std::nullopt;
  return std::string(name);
}

// GoogleTest hands on the bytes a test gave it: a binary string printed into a message, a name
// or a parameter printed raw. Events carry UTF-8 only, so every text taken from GoogleTest (or
// the environment) comes in through here, each sequence that is not UTF-8 made U+FFFD.
std::string utf8(std::string_view bytes) { return utils::utf8::sanitized(bytes); }

std::string text_or(const char* text, std::string_view fallback) {
  return text && *text ? utf8(text) : std::string(fallback);
}

Value place_of(const char* file, int line) {
  Map place{{"file", Value(text_or(file, "unknown file"))}};
  if (line >= 0) place.set("line", Value(line));
  return Value(std::move(place));
}

std::string place_text(const char* file, int line) {
  std::string text = text_or(file, "unknown file");
  if (line >= 0) text += ":" + std::to_string(line);
  return text;
}

// What a suite or test is parameterised by, as GoogleTest prints it.
Map parameters_of(const char* type_param, const char* value_param) {
  Map parameters;
  if (type_param) parameters.set("type_param", Value(utf8(type_param)));
  if (value_param) parameters.set("value_param", Value(utf8(value_param)));
  return parameters;
}

}  // namespace

// The nodes of the run that are still open, and the counts that name new ones.
struct ReportListener::Run {
  std::shared_ptr<ReportSink> sink;
  std::shared_ptr<RecordingTrialKit> job;
  long seq = 0;
  int tasks = 0;
  int iteration = 0;
  bool repeated = false;

  // The running suite, or the task that holds faults outside any suite.
  std::shared_ptr<RecordingTask> task;
  bool suite_task = false;
  bool task_ran_test = false;
  bool iteration_ran_suite = false;

  // The running test. Without a holder it has no record (its section was refused), and its
  // faults go with it.
  const ::testing::TestInfo* test = nullptr;
  // The running test's section, or the common setup or cleanup section that holds faults
  // outside tests.
  std::shared_ptr<RecordingSection> holder;
  bool holder_is_phase = false;
  int failures = 0;
  std::optional<std::string> first_failure;
  std::optional<std::string> skip_reason;
  // The SCOPED_TRACE steps open in the holder, outermost first.
  std::vector<std::pair<TraceScope, std::shared_ptr<RecordingSection>>> scopes;

  Value next_seq() { return Value(++seq); }

  // Each node is held before its start is sent: a refused start leaves it to be closed later.
  void open_task(const std::string& id, Map parameters, const char* script) {
    task = job->add_task(Value(id), next_seq());
    ++tasks;
    if (repeated) parameters.set("iteration", Value(iteration));
    Options options;
    if (script) options.set("testscript", Value(utf8(script)));
    if (!parameters.empty()) options.set("parameters", Value(std::move(parameters)));
    task->start(std::move(options));
  }

  // Each node is let go before its stop is sent, so a refused stop is not sent twice.
  void close_scopes(std::size_t keep) {
    Closing closing;
    while (scopes.size() > keep) {
      const auto step = std::move(scopes.back().second);
      scopes.pop_back();
      closing.run([&] { step->stop(); });
    }
    closing.done();
  }

  // The section a fault belongs to: the running test, else a common setup or cleanup section
  // of the running suite (or of a task for the environment's faults), made on first need.
  RecordingSection& fault_holder() {
    if (holder) return *holder;
    if (!task) {
      suite_task = false;
      task_ran_test = iteration_ran_suite;
      open_task("environment", {}, nullptr);
    }
    const bool cleanup = task_ran_test;
    holder = task->add_section(Value(cleanup ? "common_cleanup" : "common_setup"), next_seq(),
                               Value(cleanup ? "CommonCleanup" : "CommonSetup"));
    holder_is_phase = true;
    holder->start();
    return *holder;
  }

  // The innermost of the scope steps `wanted`, opened below the holder as far as the steps
  // open now differ from them.
  RecordingSection& enter_scopes(RecordingSection& base, const std::vector<TraceScope>& wanted) {
    std::size_t same = 0;
    while (same < scopes.size() && same < wanted.size() && scopes[same].first == wanted[same]) {
      ++same;
    }
    close_scopes(same);
    for (std::size_t i = same; i < wanted.size(); ++i) {
      const TraceScope& scope = wanted[i];
      RecordingSection& parent = scopes.empty() ? base : *scopes.back().second;
      auto step = parent.add_section(Value(scope.message.empty() ? "scope" : scope.message),
                                     next_seq(), Value("Step"));
      scopes.emplace_back(scope, step);
      step->start(Options{{"description", Value("SCOPED_TRACE(\"" + scope.message + "\")")},
                          {"xref", Value(Map{{"file", Value(scope.file)},
                                             {"line", Value(scope.line)}})}});
    }
    return scopes.empty() ? base : *scopes.back().second;
  }

  // Once there is a holder, its result takes the failure whatever happens to the events that
  // record it.
  void failure(const ::testing::TestPartResult& part) {
    if (test && !holder) return;
    const std::string summary = utf8(part.summary());
    const FailureText text = split_failure(summary);
    RecordingSection& base = fault_holder();
    if (!first_failure) first_failure = text.message;
    ++failures;
    RecordingSection& parent = enter_scopes(base, text.scopes);
    auto step = parent.add_section(Value("failure_" + std::to_string(failures)), next_seq(),
                                   Value("Step"));
    step->start(Options{{"description", Value(text.message)},
                        {"xref", place_of(part.file_name(), part.line_number())},
                        {"fatal", Value(part.fatally_failed())}});
    step->add_detail(Value(text.message));
    step->stop(Options{{"result", Value(TestResult(ResultCode::failed, text.message))}});
    base.add_detail(Value(place_text(part.file_name(), part.line_number()) + ": " + summary));
  }

  void skip(const ::testing::TestPartResult& part) {
    if (test && !holder) return;
    const std::string message = utf8(part.message());
    RecordingSection& base = fault_holder();
    if (!skip_reason) skip_reason = message;
    if (!message.empty()) base.add_detail(Value(message));
  }

  // The result that the holder's own faults give it.
  TestResult fault_result() const {
    if (first_failure) return TestResult(ResultCode::failed, *first_failure);
    if (skip_reason) return TestResult(ResultCode::skipped, *skip_reason);
    return TestResult(ResultCode::passed);
  }

  // Refused with what the test recorded beside it (a property, say), the result is sent alone.
  void close_holder(TestResult result, Options options = {}) {
    Closing closing;
    closing.run([&] { close_scopes(0); });
    const auto closed = std::move(holder);
    holder.reset();
    holder_is_phase = false;
    failures = 0;
    first_failure.reset();
    skip_reason.reset();
    const bool more = !options.empty();
    options.set("result", Value(result));
    closing.run([&] {
      try {
        closed->stop(std::move(options));
      } catch (...) {
        if (!more) throw;
        closed->stop(Options{{"result", Value(std::move(result))}});
        throw;
      }
    });
    closing.done();
  }

  void close_phase() {
    if (holder && holder_is_phase) close_holder(fault_result());
  }

  void close_task() {
    Closing closing;
    closing.run([&] { close_phase(); });
    if (task) {
      const auto closed = std::move(task);
      task.reset();
      suite_task = false;
      closing.run([&] { closed->stop(); });
    }
    closing.done();
  }

  // Tests GoogleTest lists but does not run: skipped, never started.
  void add_disabled(RecordingTask& owner, const ::testing::TestSuite& suite) {
    for (int i = 0; i < suite.total_test_count(); ++i) {
      const ::testing::TestInfo& info = *suite.GetTestInfo(i);
      if (info.should_run() || !info.is_reportable()) continue;
      auto section = owner.add_section(Value(utf8(info.name())), next_seq(), Value("Testcase"));
      section->add_detail(Value("disabled"));
      section->stop(Options{{"result", Value(TestResult(ResultCode::skipped, "disabled"))},
                            {"xref", place_of(info.file(), info.line())}});
    }
  }
};

ReportListener::ReportListener(Config config, std::ostream& errors)
    : config_(std::move(config)), errors_(errors), owner_(::getpid()) {}

ReportListener::~ReportListener() = default;

template <class Step>
void ReportListener::guarded(const char* what, const char* suite, const char* test,
                             Step&& step) noexcept {
  const std::lock_guard lock(mutex_);
  if (!run_ || ::getpid() != owner_) return;
  std::string why = "an unknown fault";
  try {
    step(*run_);
    run_->sink->flush();
    return;
  } catch (const std::exception& e) {
    why = e.what();
  } catch (...) {
  }
  // A result names the test it came in, which GoogleTest cannot be asked for while it reports.
  if (!suite && run_->test) {
    suite = run_->test->test_suite_name();
    test = run_->test->name();
  }
  errors_ << kPrefix << what;
  if (suite) errors_ << " (" << utf8(suite) << (test ? "." + utf8(test) : std::string()) << ')';
  errors_ << ": " << why;
  // Without its root there is no tree to add to or to write; any other fault cost this step
  // only, and the nodes it left open are closed at the end.
  if (run_->job) {
    errors_ << "; the report goes on without it\n";
  } else {
    errors_ << "; the run is not reported\n";
    run_.reset();
  }
}

void ReportListener::OnTestProgramStart(const ::testing::UnitTest& unit_test) {
  {
    const std::lock_guard lock(mutex_);
    if (::getpid() != owner_ || run_) return;
    std::unique_ptr<journal::JournalWriter> journal;
    try {
      journal = open_journal(config_);
    } catch (const std::exception& e) {
      errors_ << kPrefix << e.what() << "; no journal is written\n";
    }
    run_ = std::make_unique<Run>();
    run_->sink = std::make_shared<ReportSink>(std::move(journal), errors_);
  }
  guarded("starting the job", nullptr, nullptr, [&](Run& run) {
    const std::string id = config_.job_id.empty() ? "gtest" : utf8(config_.job_id);
    run.job = RecordingTrialKit::create(run.sink, Value(id), run.next_seq());
    Options options{{"job_type", Value("gtest")}, {"suite_name", Value(id)}};
    if (const auto host = host_name()) options.set("host", Value(utf8(*host)));
    if (const char* user = std::getenv("USER")) options.set("user", Value(utf8(user)));
    Map gtest{{"random_seed", Value(unit_test.random_seed())}};
    options.set("gtest", Value(std::move(gtest)));
    run.job->start(std::move(options));
  });
}

void ReportListener::OnTestIterationStart(const ::testing::UnitTest&, int iteration) {
  guarded("starting an iteration", nullptr, nullptr, [&](Run& run) {
    run.iteration = iteration;
    run.repeated = run.repeated || iteration > 0 || GTEST_FLAG_GET(repeat) != 1;
    run.iteration_ran_suite = false;
  });
}

void ReportListener::OnTestSuiteStart(const ::testing::TestSuite& test_suite) {
  guarded("starting a test suite", test_suite.name(), nullptr, [&](Run& run) {
    run.close_task();
    run.suite_task = true;
    run.task_ran_test = false;
    run.iteration_ran_suite = true;
    const char* script = test_suite.total_test_count() > 0
                             ? test_suite.GetTestInfo(0)->file()
                             : nullptr;
    run.open_task(utf8(test_suite.name()), parameters_of(test_suite.type_param(), nullptr),
                  script);
  });
}

void ReportListener::OnTestStart(const ::testing::TestInfo& test_info) {
  guarded("starting a test", test_info.test_suite_name(), test_info.name(), [&](Run& run) {
    Closing closing;
    closing.run([&] { run.close_phase(); });
    run.task_ran_test = true;
    run.test = &test_info;
    if (run.task) {
      run.holder = run.task->add_section(Value(utf8(test_info.name())), run.next_seq(),
                                         Value("Testcase"));
      Options options{{"xref", place_of(test_info.file(), test_info.line())}};
      Map parameters = parameters_of(test_info.type_param(), test_info.value_param());
      if (!parameters.empty()) options.set("parameters", Value(std::move(parameters)));
      run.holder->start(std::move(options));
    }
    closing.done();
  });
}

void ReportListener::OnTestPartResult(const ::testing::TestPartResult& result) {
  guarded("recording a result", nullptr, nullptr, [&](Run& run) {
    if (result.skipped()) {
      run.skip(result);
    } else if (result.failed()) {
      run.failure(result);
    }
  });
}

void ReportListener::OnTestEnd(const ::testing::TestInfo& test_info) {
  guarded("ending a test", test_info.test_suite_name(), test_info.name(), [&](Run& run) {
    run.test = nullptr;
    if (!run.holder || run.holder_is_phase) return;
    const ::testing::TestResult& outcome = *test_info.result();
    TestResult result(ResultCode::passed);
    if (outcome.Failed()) {
      result = TestResult(ResultCode::failed, run.first_failure.value_or("failed"));
    } else if (outcome.Skipped()) {
      result = TestResult(ResultCode::skipped, run.skip_reason.value_or("skipped"));
    }
    Options options;
    if (outcome.test_property_count() > 0) {
      Map properties;
      for (int i = 0; i < outcome.test_property_count(); ++i) {
        const ::testing::TestProperty& property = outcome.GetTestProperty(i);
        properties.set(utf8(property.key()), Value(utf8(property.value())));
      }
      options.set("properties", Value(std::move(properties)));
    }
    run.close_holder(std::move(result), std::move(options));
  });
}

void ReportListener::OnTestSuiteEnd(const ::testing::TestSuite& test_suite) {
  guarded("ending a test suite", test_suite.name(), nullptr, [&](Run& run) {
    Closing closing;
    closing.run([&] {
      run.close_phase();
      if (run.task && run.suite_task) run.add_disabled(*run.task, test_suite);
    });
    closing.run([&] { run.close_task(); });
    run.task_ran_test = false;
    closing.done();
  });
}

void ReportListener::OnTestIterationEnd(const ::testing::UnitTest& unit_test, int) {
  guarded("ending an iteration", nullptr, nullptr, [&](Run& run) {
    run.close_task();
    // Suites whose tests are all disabled never start, yet GoogleTest lists them.
    for (int i = 0; i < unit_test.total_test_suite_count(); ++i) {
      const ::testing::TestSuite& suite = *unit_test.GetTestSuite(i);
      if (suite.should_run() || suite.reportable_disabled_test_count() == 0) continue;
      run.open_task(utf8(suite.name()), parameters_of(suite.type_param(), nullptr), nullptr);
      run.add_disabled(*run.task, suite);
      run.close_task();
    }
  });
}

void ReportListener::OnTestProgramEnd(const ::testing::UnitTest&) {
  guarded("ending the job", nullptr, nullptr, [&](Run& run) {
    Closing closing;
    closing.run([&] { run.close_task(); });
    closing.run([&] { run.job->stop(Options{{"num_tasks", Value(run.tasks)}}); });
    closing.done();
  });
  const std::lock_guard lock(mutex_);
  if (run_ && ::getpid() == owner_) write_documents();
}

// A node whose stop was refused is still running; the documents show it ended by the fault.
void ReportListener::write_documents() {
  protocol::TreeBuilder& builder = run_->sink->builder;
  const auto trialkit = builder.trialkit();
  if (!trialkit) return;
  if (builder.running() > 0) builder.close_running("the listener could not record its end");
  write_all(config_.output_dir, *trialkit, errors_);
}

}  // namespace morvi::service::gtest_listener
