// dump_yaml of report nodes and the representer table: which representer writes which value,
// key order, repeated values, and the nesting limit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "morvi/datastructures/attrdict.hpp"
#include "morvi/errors.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/reporter/trialkit/json.hpp"
#include "morvi/reporter/trialkit/yaml.hpp"
#include "morvi/results.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "morvi/testing/small_stack.hpp"
#include "node_test_support.hpp"

namespace morvi::reporter::trialkit {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class Gadget : public Object {
 public:
  std::string type_name() const override { return "Gadget"; }
  std::string repr() const override { return "<Gadget 7>"; }
};

TEST(YamlDocument, ReportFirstThenQuotedVersion) {
  const TickingClock clock;
  auto job = TrialKit::create(Value("job"), Value(1));
  auto task = job->add_task(Value("t1"), Value(1));
  task->start(Options{{"extra", Value(Map{{"b", 1}, {"a", 2}})}});
  task->add_detail(Value("d1"));
  task->stop(Options{{"result", Value(results::TestResult(results::ResultCode::failed, "boom"))}});
  const std::string yaml = task->dump_yaml();
  EXPECT_THAT(yaml, StartsWith("report:\n  type: Task\n  id: t1\n"));
  EXPECT_THAT(yaml, EndsWith("\nversion: '3.4'\n"));
  // Two decimals for reals here, while JSON keeps them all.
  EXPECT_THAT(yaml, HasSubstr("\n  runtime: 1.5\n"));
  // Tallies keep their own order; result values and plain maps are sorted; lists sit two
  // spaces under their key.
  EXPECT_THAT(yaml, HasSubstr("  summary:\n    passed: 0\n    passx: 0\n    failed: 0\n    errored: 0\n"
                              "    aborted: 0\n    blocked: 0\n    skipped: 0\n    total: 0\n"
                              "    success_rate: 0.0\n"));
  EXPECT_THAT(yaml, HasSubstr("  result:\n    reason: boom\n    value: failed\n  details:\n    - d1\n"
                              "  extra:\n    a: 2\n    b: 1\n"));
}

TEST(YamlDocument, AValueReachableTwiceIsWrittenTwiceWithoutAnchors) {
  const Value shared(Map{{"x", Value::list({1, 2})}});
  const std::string yaml = YAMLDumper::dump(Value(Map{{"a", shared}, {"b", shared}}));
  EXPECT_EQ(yaml, "a:\n  x:\n    - 1\n    - 2\nb:\n  x:\n    - 1\n    - 2\n");
}

TEST(YamlRepresenters, TypesMatchExactly) {
  const auto base = ReportObjectBase::create(Value("b"), Value(1));
  const auto job = TrialKit::create(Value("j"), Value(1));
  EXPECT_EQ(YAMLDumper::type_of(Value::node(base)), YAMLType::ReportObjectBase);
  EXPECT_EQ(YAMLDumper::type_of(Value::node(job)), YAMLType::TrialKit);
  EXPECT_EQ(YAMLDumper::type_of(Value::attr_map({})), YAMLType::AttrDict);
  EXPECT_EQ(YAMLDumper::type_of(Value::opaque(std::make_shared<TypeObject>("int"))), YAMLType::Type);
  EXPECT_EQ(YAMLDumper::type_of(Value::opaque(std::make_shared<Gadget>())), YAMLType::Object);
}

TEST(YamlRepresenters, EverythingWithoutAnEntryGoesToTheFallback) {
  const auto base = ReportObjectBase::create(Value("b"), Value(1));
  const Value values = Value::list(
      {Value::node(base), Value::opaque(std::make_shared<Gadget>()), Value::error("KeyError", {Value("k")})});
  EXPECT_EQ(YAMLDumper::dump(values), "- repr: " + base->repr() +
                                          "\n  type: <class 'ReportObjectBase'>\n"
                                          "- repr: <Gadget 7>\n  type: <class 'Gadget'>\n"
                                          "- repr: KeyError('k')\n  type: <class 'KeyError'>\n");
}

TEST(YamlRepresenters, AttrDictIsWrittenAsASortedMap) {
  EXPECT_EQ(YAMLDumper::dump(datastructures::AttrDict(Map{{"z", 1}, {"a", Value::attr_map({})}})),
            "a: {}\nz: 1\n");
}

TEST(YamlRepresenters, ARegisteredRepresenterReplacesTheFallbackForItsType) {
  YAMLDumper::add_representer(YAMLType::Object, [](YAMLDumper& dumper, const Value& data) {
    dumper.represent_scalar(YAML_STR, data.as_object()->type_name());
  });
  const std::string yaml = YAMLDumper::dump(Value::opaque(std::make_shared<Gadget>()));
  YAMLDumper::add_representer(YAMLType::Object, unknown_representer);
  EXPECT_EQ(yaml, "Gadget\n...\n");
  EXPECT_THROW(YAMLDumper::add_representer(std::nullopt, nullptr), ArgumentError);
}

// A job whose task holds a chain of sections `depth` deep.
std::shared_ptr<TrialKit> deep_report(int depth) {
  auto job = TrialKit::create(Value("job"), Value(1));
  std::shared_ptr<Section> section = job->add_task(Value("t"), Value(1))->add_section(Value("s"), Value(1));
  for (int i = 1; i < depth; ++i) section = section->add_section(Value("s"), Value(1));
  return job;
}

TEST(DocumentDepth, ADeepReportIsRefusedNamingTheLimit) {
  const int depth = 100'000;
  const auto job = deep_report(depth);
  // The JSON writer counts report nodes and names the first one too deep.
  try {
    job->dump_json();
    ADD_FAILURE() << "no JSON refusal at depth " << depth;
  } catch (const SerializationError& e) {
    EXPECT_THAT(e.what(), HasSubstr("<Section t" + std::string(".s") + ".s"));
    EXPECT_THAT(e.what(), HasSubstr("lies below " + std::to_string(JSONDumper::max_depth) + " report nodes"));
  }
  try {
    job->dump_yaml();
    ADD_FAILURE() << "no YAML refusal at depth " << depth;
  } catch (const SerializationError& e) {
    EXPECT_THAT(e.what(), HasSubstr("lies below " + std::to_string(YAMLDumper::max_depth) + " report nodes"));
  }
}

// The YAML writer keeps its place on the heap: values nested to its limit are written on a
// caller's small stack, one level more is refused naming the node that holds it, and a report
// as deep as the node limit allows is written.
TEST(DocumentDepth, YamlNestsOnItsOwnStackUpToItsLimits) {
  const auto nested_lists = [](std::size_t depth) {
    Value deep(1);
    for (std::size_t i = 0; i < depth; ++i) {
      List l;
      l.push_back(std::move(deep));
      deep = Value(std::move(l));
    }
    return deep;
  };
  testing::on_small_stack([&] {
    // Nested lists share one line ("- - 1"), so the text stays as long as the nesting.
    std::string expected;
    for (std::size_t i = 0; i < YAMLDumper::max_nesting; ++i) expected += "- ";
    EXPECT_EQ(YAMLDumper::dump(nested_lists(YAMLDumper::max_nesting)), expected + "1\n");
  });
  const auto job = deep_report(3);
  std::shared_ptr<ReportObjectBase> bottom = job;
  while (!bottom->children().empty())
    bottom = std::static_pointer_cast<ReportObjectBase>(bottom->children()[0].as_object());
  bottom->update(Map{{"deep", nested_lists(YAMLDumper::max_nesting)}});
  try {
    job->dump_yaml();
    ADD_FAILURE() << "no refusal";
  } catch (const SerializationError& e) {
    EXPECT_THAT(e.what(), HasSubstr("deeper than " + std::to_string(YAMLDumper::max_nesting) +
                                    " levels inside <Section t.s.s.s>"));
  }
  EXPECT_NO_THROW(deep_report(static_cast<int>(YAMLDumper::max_depth) - 2)->dump_yaml());
}

// PyYAML reads every level of a deep report back.
TEST(DocumentDepth, PyYamlReadsADeepReportBack) {
  const int depth = 100;
  const auto job = deep_report(depth);
  const testing::ScratchDir dir;
  std::ofstream(dir / "results.yaml") << job->dump_yaml();
  const std::string check = R"(
import sys, yaml
Loader = getattr(yaml, "CSafeLoader", yaml.SafeLoader)
node = yaml.load(open(sys.argv[1]), Loader=Loader)["report"]["tasks"][0]
depth = 0
while node.get("sections"):
    node = node["sections"][0]
    depth += 1
    assert node["type"] == "Section" and len(node["idlist"]) == depth + 1, node["fullid"]
assert depth == int(sys.argv[2]), depth
)";
  std::ofstream(dir / "check.py") << check;
  const std::string command = "/usr/bin/python3 " + (dir / "check.py").string() + " " +
                              (dir / "results.yaml").string() + " " + std::to_string(depth);
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

TEST(DocumentDepth, AShallowerReportIsWritten) {
  const int depth = 100;
  const auto job = deep_report(depth);
  // Each level of sections sits four columns further in: the list under "sections", then the
  // section's own fields.
  EXPECT_THAT(job->dump_yaml(), HasSubstr("\n" + std::string(4 + 4 * depth, ' ') + "- type: Section\n"));
  EXPECT_NO_THROW(job->dump_json());
}

// A type object is written by the name of the Python type its kind stands for; the same
// table gives the words of error messages, so a kind out of place would show in both.
TEST(TypeObjectNames, EveryKindHasItsPythonName) {
  auto job = TrialKit::create("job", 1);
  auto task = job->add_task("t", 1);
  const std::pair<Value, std::string> cases[] = {
      {Value(), "NoneType"},
      {Value(true), "bool"},
      {Value(1), "int"},
      {Value(2.5), "float"},
      {Value("x"), "str"},
      {Value(List{}), "list"},
      {Value::tuple(List{}), "tuple"},
      {Value(Map{}), "dict"},
      {Value::attr_map(Map{}), "AttrDict"},
      {Value(DateTime(2024, 1, 2, 3, 4, 5, 0, 0)), "datetime"},
      {Value(results::Passed), "TestResult"},
      {Value(results::ResultCounter{}), "ResultCounter"},
      {Value::node(task), "Task"},
      {Value::error("KeyError", List{Value("k")}), "KeyError"},
  };
  for (const auto& [value, name] : cases) EXPECT_EQ(TypeObject::name_of(value), name);
  EXPECT_STREQ(Value("x").kind_name(), "text");
  EXPECT_STREQ(Value::attr_map(Map{}).kind_name(), "attr map");
  EXPECT_STREQ(Value::node(task).kind_name(), "node");
}

// The file is written whole or not at all: a refusal after the first pieces went out, or a
// folder that does not exist, leaves no file, no temporary beside it, and an older file as it
// was; a report written to a file is the text dump_yaml returns.
TEST(YamlFile, FailuresLeaveNothingHalfWritten) {
  namespace fs = std::filesystem;
  const testing::ScratchDir dir;
  const fs::path path = dir / "results.yaml";
  std::ofstream(path) << "older";
  List items;
  for (int i = 0; i < 40000; ++i) items.push_back(Value(Map{{"text", Value(std::string(64, 'a'))}}));
  Value nested{List{}};
  for (std::size_t i = 0; i < YAMLDumper::max_nesting; ++i) {
    List outer;
    outer.push_back(std::move(nested));
    nested = Value(std::move(outer));
  }
  items.push_back(std::move(nested));
  EXPECT_THROW(YAMLDumper::dump_file(Value(std::move(items)), path.string()), SerializationError);
  std::ifstream in(path);
  std::string kept;
  std::getline(in, kept);
  EXPECT_EQ(kept, "older");
  EXPECT_THROW(YAMLDumper::dump_file(Value(1), (dir / "missing" / "results.yaml").string()), std::system_error);
  std::vector<std::string> left;
  for (const auto& entry : fs::recursive_directory_iterator(dir.path())) left.push_back(entry.path().filename().string());
  EXPECT_THAT(left, ::testing::ElementsAre("results.yaml"));

  const auto job = deep_report(3);
  YAMLDumper::write_results(*job, path.string());
  std::ifstream again(path, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, job->dump_yaml());
}

}  // namespace
}  // namespace morvi::reporter::trialkit
