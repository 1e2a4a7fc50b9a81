// A deep job through every command that reads results files: its sections nest hundreds deep
// and the deepest one holds values nested to the document's limit, as deep as the writer
// writes. Python's json reads the same files as an independent oracle.
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "morvi/reporter/trialkit.hpp"
#include "morvi/reporter/trialkit/json.hpp"
#include "morvi/testing/files.hpp"
#include "morvi/testing/scratch_dir.hpp"

namespace {

using morvi::testing::file_text;
using morvi::testing::shell_quoted;

namespace fs = std::filesystem;
using morvi::reporter::trialkit::JSONDumper;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// `command` run by the shell, its output kept apart.
Outcome run(const std::string& command, const fs::path& dir) {
  const std::string out = (dir / "stdout").string(), err = (dir / "stderr").string();
  const int raw = std::system(("bash -c " + shell_quoted(command + " >" + shell_quoted(out) + " 2>" + shell_quoted(err))).c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, file_text(out), file_text(err)};
}

// Python's own reading of a results file: the deepest nesting of its arrays and objects, and
// the report nodes on its longest chain of "tasks" and "sections". Python's json recurses per
// level, so it reads on a thread with room for that.
constexpr const char* kDepthOracle = R"(
import json, sys, threading
def main():
    with open(sys.argv[1]) as f:
        document = json.load(f)
    deepest, pending = 0, [(document, 1)]
    while pending:
        value, level = pending.pop()
        if isinstance(value, (list, dict)):
            deepest = max(deepest, level)
            pending.extend((v, level + 1) for v in (value.values() if isinstance(value, dict) else value))
    chain, node = 0, document["report"]
    while node is not None:
        chain += 1
        kids = node.get("tasks") or node.get("sections") or []
        node = kids[0] if kids else None
    print(deepest, chain)
sys.setrecursionlimit(1 << 20)
threading.stack_size(1 << 30)
failed = []
threading.excepthook = lambda args: failed.append(args.exc_value)
thread = threading.Thread(target=main)
thread.start()
thread.join()
if failed:
    raise failed[0]
)";

// `depth` lists one inside the other around a text.
morvi::Value nested_lists(std::size_t depth) {
  morvi::Value deep("bottom");
  for (std::size_t i = 0; i < depth; ++i) {
    morvi::List l;
    l.push_back(std::move(deep));
    deep = morvi::Value(std::move(l));
  }
  return deep;
}

// A job, a task and sections below it, `nodes` report nodes in all, written to `path`; the
// deepest section takes `deepest` as an update.
void write_chain(std::size_t nodes, const std::string& path, const morvi::Map& deepest = {}) {
  using namespace morvi;
  auto job = reporter::trialkit::TrialKit::create("deep", 1);
  job->start();
  auto task = job->add_task("t", 2);
  task->start();
  std::shared_ptr<reporter::trialkit::Section> section = task->add_section("s", 3, "Testcase");
  for (std::size_t n = 3; n < nodes; ++n) section = section->add_section("s", 1);
  if (!deepest.empty()) section->update(deepest);
  task->stop();
  job->stop(Map{{"num_tasks", 1}});
  JSONDumper::write_results(*job, path);
}

// CPU time of the commands this process has run and waited for, so far.
double children_cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

constexpr std::size_t kNodes = 600;

class DeepJob : public ::testing::Test {
 protected:
  // kNodes report nodes: past what the readers took before they shared the writer's limit.
  // The deepest node's object lies at level 2 * kNodes, its extra map one below, and the
  // lists inside it reach the document's limit.
  static void SetUpTestSuite() {
    scratch_ = new morvi::testing::ScratchDir;
    document_ = new std::string((scratch_->path() / "results.json").string());
    const std::size_t extra_level = 2 * kNodes + 1;
    const morvi::Map deepest{{"deep", nested_lists(JSONDumper::max_nesting - extra_level)}};
    write_chain(kNodes, *document_, morvi::Map{{"extra", morvi::Value(deepest)}});
  }
  static void TearDownTestSuite() {
    delete document_;
    delete scratch_;
  }

  Outcome morvi(const std::vector<std::string>& words) const {
    std::string command = shell_quoted(MORVI_EXE);
    for (const std::string& word : words) command += " " + shell_quoted(word);
    return run(command, dir_.path());
  }
  std::string show_oracle(const std::string& file) const {
    const Outcome oracle =
        run("/usr/bin/python3 " + shell_quoted(SHOW_ORACLE) + " " + shell_quoted(file), dir_.path());
    EXPECT_EQ(oracle.status, 0) << oracle.err;
    return oracle.out;
  }
  std::string depth_oracle(const std::string& file) const {
    const fs::path script = dir_.path() / "depth_oracle.py";
    std::ofstream(script) << kDepthOracle;
    const Outcome r = run("/usr/bin/python3 " + shell_quoted(script.string()) + " " + shell_quoted(file), dir_.path());
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  static morvi::testing::ScratchDir* scratch_;
  static std::string* document_;
  morvi::testing::ScratchDir dir_;
};

morvi::testing::ScratchDir* DeepJob::scratch_ = nullptr;
std::string* DeepJob::document_ = nullptr;

TEST_F(DeepJob, EveryReaderTakesTheDeepestDocumentWritten) {
  const std::string& path = *document_;
  const std::string expected = std::to_string(JSONDumper::max_nesting) + " " + std::to_string(kNodes) + "\n";
  ASSERT_EQ(depth_oracle(path), expected);

  const Outcome validated = morvi({"validate", "results", path});
  EXPECT_EQ(validated.status, 0) << validated.err;
  EXPECT_EQ(validated.out, path + " accepted\n");

  // One line per node, as Python's reading of the file prints them.
  const Outcome shown = morvi({"show", "results", path});
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_EQ(static_cast<std::size_t>(std::count(shown.out.begin(), shown.out.end(), '\n')), kNodes);
  EXPECT_TRUE(shown.out == show_oracle(path)) << "morvi show and the oracle differ";

  const std::string junit = (dir_.path() / "junit.xml").string();
  const Outcome exported = morvi({"export", "junit", path, "-o", junit});
  EXPECT_EQ(exported.status, 0) << exported.err;
  const Outcome parsed = run("/usr/bin/python3 -c 'import sys, xml.etree.ElementTree as t; print(t.parse(sys.argv[1]).getroot().tag)' " + shell_quoted(junit), dir_.path());
  EXPECT_EQ(parsed.out, "testsuites\n") << parsed.err;

  const std::string page = (dir_.path() / "report.html").string();
  const Outcome reported = morvi({"report", "html", path, "-o", page});
  EXPECT_EQ(reported.status, 0) << reported.err;
  EXPECT_EQ(reported.out.rfind(page + ": " + std::to_string(kNodes) + " nodes, ", 0), 0u) << reported.out;

  const std::string merged = (dir_.path() / "merged.json").string();
  const Outcome merging = morvi({"merge", path, "-o", merged});
  EXPECT_EQ(merging.status, 0) << merging.err;
  EXPECT_EQ(depth_oracle(merged), expected);
  EXPECT_EQ(morvi({"validate", "results", merged}).status, 0);
}

// The same document with one level more is refused by every reader, naming the limit.
TEST_F(DeepJob, EveryReaderRefusesOneLevelMore) {
  std::string text = file_text(*document_);
  const std::size_t bottom = text.find("[\"bottom\"]");
  ASSERT_NE(bottom, std::string::npos);
  text.replace(bottom, 10, "[[\"bottom\"]]");
  const std::string path = (dir_.path() / "deeper.json").string();
  std::ofstream(path, std::ios::binary) << text;
  const std::string out = (dir_.path() / "out").string();
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{"validate", "results", path}, std::vector<std::string>{"show", "results", path},
        std::vector<std::string>{"export", "junit", path, "-o", out}, std::vector<std::string>{"report", "html", path, "-o", out},
        std::vector<std::string>{"merge", path, "-o", out}}) {
    const Outcome r = morvi(words);
    EXPECT_EQ(r.status, 1) << words[0] << " " << words[1];
    EXPECT_NE(r.err.find("nest deeper than the limit of " + std::to_string(JSONDumper::max_nesting) + " levels"),
              std::string::npos)
        << words[0] << " " << words[1] << ": " << r.err;
    EXPECT_FALSE(fs::exists(out)) << words[0] << " " << words[1];
  }
}

// Each record lists the path to its node, so a chain five times deeper writes a file some
// twenty-five times larger. Showing it must cost in proportion to that file: reading each
// record by reading the whole subtree below it cost the depth times more.
TEST_F(DeepJob, ShowOfADeeperChainCostsInProportionToItsFile) {
  const std::size_t nodes[2] = {300, 1500};
  double cpu[2] = {};
  double size[2] = {};
  for (int i = 0; i < 2; ++i) {
    const std::string path = (dir_.path() / ("chain" + std::to_string(nodes[i]) + ".json")).string();
    write_chain(nodes[i], path);
    size[i] = static_cast<double>(fs::file_size(path));
    const double before = children_cpu_seconds();
    const Outcome shown = morvi({"show", "results", path});
    cpu[i] = children_cpu_seconds() - before;
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_TRUE(shown.out == show_oracle(path)) << "morvi show and the oracle differ on " << path;
  }
  EXPECT_LT(cpu[1] / cpu[0], 2 * size[1] / size[0])
      << "CPU " << cpu[0] << " s and " << cpu[1] << " s for " << size[0] << " and " << size[1]
      << " bytes";
}

}  // namespace
