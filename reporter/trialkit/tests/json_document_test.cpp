// dump_json of report nodes: the header, field order, left-out values and derived fields.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "morvi/reporter/trialkit.hpp"
#include "morvi/reporter/trialkit/json.hpp"
#include "morvi/results.hpp"
#include "node_test_support.hpp"

namespace morvi::reporter::trialkit {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

TEST(JsonDocument, HeaderThenFieldsInArgOrderLeavingOutIgnoredValues) {
  const TickingClock clock(0);
  auto job = TrialKit::create(Value("job"), Value(1));
  auto task = job->add_task(Value("t1"), Value(1));
  // Zero, false and empty text are written; none, [] and {} are not.
  task->start(Options{{"description", Value("")}, {"xref", Value(false)}, {"datafile", Value()}});
  task->stop(Options{{"result", Value(results::Passed)}});
  EXPECT_EQ(task->dump_json(),
            R"({"version": "3.4", "report": {"type": "Task", "id": "t1", "fullid": "t1", "idlist": ["t1"], )"
            R"("name": "t1", "starttime": "2024-01-02 03:04:05+01:00", "stoptime": "2024-01-02 03:04:05+01:00", )"
            R"("runtime": 0.0, "description": "", "xref": false, "summary": {"passed": 0, "passx": 0, )"
            R"("failed": 0, "errored": 0, "aborted": 0, "blocked": 0, "skipped": 0, "total": 0, )"
            R"("success_rate": 0.0}, "pluginsummary": {"passed": 0, "passx": 0, "failed": 0, "errored": 0, )"
            R"("aborted": 0, "blocked": 0, "skipped": 0, "total": 0, "success_rate": 0.0}, )"
            R"("result": {"value": "passed"}, "health_summary": {"passed": 0, "passx": 0, "failed": 0, )"
            R"("errored": 0, "aborted": 0, "blocked": 0, "skipped": 0, "total": 0, "success_rate": 0.0}}})");
}

TEST(JsonDocument, DerivedAndPartialFields) {
  const TickingClock clock;
  auto job = TrialKit::create(Value("job"), Value(1));
  auto task = job->add_task(Value("t1"), Value(1));
  auto section = task->add_section(Value("tc"), Value(1));
  section->start();
  section->add_detail(Value("one"));
  section->update_extra(Map{{"b", 1}, {"a", 2}});
  // No qualifying child and no explicit result: the task has no "result" key.
  const std::string task_json = task->dump_json();
  EXPECT_THAT(task_json, StartsWith(R"({"version": "3.4", "report": {"type": "Task")"));
  EXPECT_THAT(task_json, Not(HasSubstr(R"("result")")));
  // The section is started, not stopped: a start time and nothing else of the timing.
  EXPECT_THAT(task_json, HasSubstr(R"("starttime": "2024-01-02 03:04:06.500000+01:00", "details": ["one"], )"
                                   R"("extra": {"b": 1, "a": 2}, "health_summary")"));
  EXPECT_THAT(task_json, Not(HasSubstr("stoptime")));
  // A child's full id below a task is joined text.
  EXPECT_THAT(task_json, HasSubstr(R"("fullid": "t1.tc", "idlist": ["t1", "tc"])"));
}

// The writer writes fullid and idlist from the ancestors' ids in place; each node's text must be
// what writing its computed fields gives, for ids of any kind (a number stays a number in the
// list and is joined as text; a list id makes the writer compute the fields) and at any depth.
TEST(JsonDocument, IdsWrittenInPlaceEqualTheComputedFields) {
  auto root = ReportObjectBase::create(Value(9), Value(1));
  auto number = ReportObjectBase::create(Value(7), Value(2), root.get());
  auto quoted = ReportObjectBase::create(Value("s\xc3\xa9 \"q\"\n"), Value(3), number.get());
  auto real = ReportObjectBase::create(Value(2.5), Value(4), quoted.get());
  auto listed = ReportObjectBase::create(Value::list({1, "x"}), Value(5), real.get());
  auto below = ReportObjectBase::create(Value("leaf"), Value(6), listed.get());
  for (const auto& node : {root, number, quoted, real, listed, below}) {
    const Value v = Value::node(node);
    EXPECT_EQ(JSONDumper::encode(v), JSONDumper::encode(JSONDumper::default_(v))) << node->repr();
  }
  EXPECT_THAT(JSONDumper::encode(Value::node(real)),
              HasSubstr(R"("fullid": "9.7.s\u00e9 \"q\"\n.2.5", "idlist": [9, 7, "s\u00e9 \"q\"\n", 2.5])"));
  EXPECT_THAT(JSONDumper::encode(Value::node(root)), HasSubstr(R"("fullid": 9, "idlist": [9])"));
}

// One document of many nodes: the writer keeps the id texts of the last node's ancestors for the
// next node, so siblings, cousins, ids alike in text but not the same, and chains broken by a
// list id or holding a tally must each still get their own computed fields.
TEST(JsonDocument, IdsKeptFromNodeToNodeEqualEachNodesComputedFields) {
  auto job = TrialKit::create(Value("job"), Value(1));
  auto task = job->add_task(Value(9), Value(2));
  std::vector<std::shared_ptr<ReportObjectBase>> nodes = {job, task};
  const auto child = [&nodes](Value id, const auto& parent) {
    auto section = parent->add_section(std::move(id), Value(static_cast<int>(nodes.size()) + 1));
    nodes.push_back(section);
    return section;
  };
  auto a = child(Value("a"), task);
  auto x = child(Value("x"), a);
  child(Value(1), x);
  child(Value(2.5), x);
  auto y = child(Value("y\n"), a);
  child(Value("r"), y);
  auto tally = child(Value(results::ResultCounter{}), task);
  child(Value("c"), tally);
  child(Value("c"), tally);
  auto listed = child(Value::list({1, "x"}), task);
  child(Value("under a list"), listed);
  auto again = child(Value("a"), task);
  child(Value("x"), again);
  child(Value("x"), x);

  const std::string document = JSONDumper::encode(Value::node(job));
  for (const auto& node : nodes) {
    const std::string fields = "\"fullid\": " + JSONDumper::encode(*node->field("fullid")) +
                               ", \"idlist\": " + JSONDumper::encode(*node->field("idlist"));
    EXPECT_NE(document.find(fields), std::string::npos) << node->repr() << " should have " << fields;
  }
}

class Gadget : public Object {
 public:
  std::string type_name() const override { return "Gadget"; }
};

TEST(JsonDocument, AValueTheHookCannotConvertFailsTheWholeDocument) {
  auto node = ReportObjectBase::create(Value("n"), Value(1));
  node->update(Map{{"extra", Value(Map{{"gadget", Value::opaque(std::make_shared<Gadget>())}})}});
  EXPECT_THROW(node->dump_json(), SerializationError);
}

}  // namespace
}  // namespace morvi::reporter::trialkit
