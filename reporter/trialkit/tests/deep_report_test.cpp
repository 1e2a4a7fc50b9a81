// A report nested as deep as the XML reports go (2000 levels of steps) is written as JSON on a
// caller's small stack, and Python's json reads back every level of it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "morvi/reporter/trialkit.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "morvi/testing/small_stack.hpp"

namespace morvi::reporter::trialkit {
namespace {

constexpr int kSteps = 2000;

TEST(DeepReport, TwoThousandLevelsOfStepsAsJsonReadBackByPython) {
  auto job = TrialKit::create(Value("job"), Value(1));
  std::shared_ptr<Section> step =
      job->add_task(Value("t"), Value(1))->add_section(Value("tc"), Value(1), Value("TestCase"));
  for (int level = 0; level < kSteps; ++level)
    step = step->add_section(Value("s" + std::to_string(level)), Value(level), Value("Step"));
  step->update(Map{{"note", Value("bottom")}});
  std::string json;
  testing::on_small_stack([&] { json = job->dump_json(); });

  const testing::ScratchDir dir;
  std::ofstream(dir / "results.json") << json;
  // The reader follows the chain with a loop; only its parser needs the raised limit.
  const std::string check = R"(
import json, sys
sys.setrecursionlimit(100000)
node = json.load(open(sys.argv[1]))["report"]["tasks"][0]["sections"][0]
depth = 0
while node.get("sections"):
    node = node["sections"][0]
    depth += 1
    assert node["id"] == "s%d" % (depth - 1) and node["type"] == "Step", node["id"]
    assert len(node["idlist"]) == depth + 2
assert depth == int(sys.argv[2]), depth
assert node["extra"] == {"note": "bottom"}
assert node["fullid"].endswith(".s%d" % (depth - 1))
)";
  std::ofstream(dir / "check.py") << check;
  const std::string command = "/usr/bin/python3 " + (dir / "check.py").string() + " " +
                              (dir / "results.json").string() + " " + std::to_string(kSteps);
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

}  // namespace
}  // namespace morvi::reporter::trialkit
