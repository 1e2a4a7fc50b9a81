// Construction, start, update and stop of a node, its fields by name and its place in the tree.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "morvi/errors.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/results.hpp"
#include "node_test_support.hpp"

namespace morvi::reporter::trialkit {
namespace {

std::shared_ptr<ReportObjectBase> base_node(Value type = {}) {
  return ReportObjectBase::create(Value("n1"), Value(1), nullptr, std::move(type));
}

struct TypeCase {
  const char* name;
  Value given;
  Value expected;
};

// Test names and failure messages show the case by its name, not its bytes.
void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.name; }

class TypeFallback : public ::testing::TestWithParam<TypeCase> {};

TEST_P(TypeFallback, FalsyTypesTakeTheClassName) {
  const Value& given = GetParam().given;
  EXPECT_EQ(base_node(given)->type(), GetParam().expected);
  EXPECT_EQ(TrialKit::create(Value("job"), Value(0), given)->field_or_none("type"),
            given.truthy() ? given : Value("TrialKit"));
}

INSTANTIATE_TEST_SUITE_P(
    Node, TypeFallback,
    ::testing::Values(TypeCase{"none", Value(), Value("ReportObjectBase")},
                      TypeCase{"empty_text", Value(""), Value("ReportObjectBase")},
                      TypeCase{"false", Value(false), Value("ReportObjectBase")},
                      TypeCase{"zero", Value(0), Value("ReportObjectBase")},
                      TypeCase{"text", Value("Testcase"), Value("Testcase")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NodeConstruction, NameIsTheIdUntilChangedAndKeepsItWhenTheIdChanges) {
  auto node = ReportObjectBase::create(Value(42), Value(7));
  EXPECT_EQ(node->field_or_none("name"), Value(42));
  node->set_field("id", Value("renamed"));
  EXPECT_EQ(node->field_or_none("name"), Value(42));
  node->update(Map{{"name", Value("display")}});
  EXPECT_EQ(node->field_or_none("name"), Value("display"));
  EXPECT_EQ(node->seq_num(), Value(7));
}

TEST(NodeConstruction, TimesAndFlagExistAsNone) {
  auto node = base_node();
  for (const char* name : {"starttime", "stoptime", "runtime", "result_rollup"}) {
    EXPECT_TRUE(node->has_field(name)) << name;
    EXPECT_TRUE(node->field_or_none(name).is_none()) << name;
  }
  EXPECT_FALSE(node->has_field("description"));
  EXPECT_TRUE(node->details().empty());
  EXPECT_TRUE(node->extra().empty());
}

TEST(NodeUpdate, ListFieldsGrowInPlaceAndOtherKeysGoToExtra) {
  auto node = base_node();
  node->add_detail(Value("first"));
  const List* details = &node->details();
  node->update(Map{{"details", Value::list({Value("a"), Value("b")})}});
  node->update(Map{{"details", Value("c")}});
  EXPECT_EQ(&node->details(), details);
  EXPECT_EQ(Value(node->details()), Value::list({Value("first"), Value("a"), Value("b"), Value("c")}));

  // seq_num is a field, but not a listed one: it lands in extra and the field keeps its value.
  node->update(Map{{"seq_num", Value(99)}, {"owner", Value(Map{{"team", Value("x")}})}});
  node->update(Map{{"owner", Value(Map{{"site", Value("y")}})}});
  EXPECT_EQ(node->seq_num(), Value(1));
  EXPECT_EQ(Value(node->extra()),
            Value(Map{{"seq_num", Value(99)},
                      {"owner", Value(Map{{"team", Value("x")}, {"site", Value("y")}})}}));
}

TEST(NodeUpdate, ExtraKeyReplacesTheWholeMapBeforeLeftoversMerge) {
  auto node = base_node();
  node->update_extra(Map{{"old", Value(1)}});
  node->update(Map{{"late", Value(2)}, {"extra", Value(Map{{"new", Value(3)}})}});
  EXPECT_EQ(Value(node->extra()), Value(Map{{"new", Value(3)}, {"late", Value(2)}}));
}

TEST(NodeUpdate, UpdateExtraExtendsOrReplacesLists) {
  auto node = base_node();
  node->update_extra(Map{{"tags", Value::list({Value("a")})}});
  node->update_extra(Map{{"tags", Value::list({Value("b")})}});
  EXPECT_EQ(node->extra().at("tags"), Value::list({Value("a"), Value("b")}));
  node->update_extra(Map{{"tags", Value::list({Value("c")})}}, false);
  EXPECT_EQ(node->extra().at("tags"), Value::list({Value("c")}));
  node->update_extra(node->extra());  // merging a node's extra into itself is safe
  EXPECT_EQ(node->extra().at("tags"), Value::list({Value("c"), Value("c")}));
}

TEST(NodeUpdate, RefusalsKeepTheKeysHandledBefore) {
  auto node = base_node();
  EXPECT_THROW(node->update(Value()), TypeError);
  EXPECT_THROW(node->update(Map{{"runtime", Value(3.0)}, {"fullid", Value("x")}, {"z", Value(1)}}),
               ArgumentError);
  EXPECT_EQ(node->runtime(), Value(3.0));
  EXPECT_FALSE(node->extra().contains("z"));  // leftovers are merged only after the fields

  EXPECT_THROW(node->update(Map{{"extra", Value(5)}}), TypeError);
  // idlist is computed on every read: extending it changes nothing.
  node->update(Map{{"idlist", Value::list({Value("x")})}});
  EXPECT_EQ(Value(node->idlist()), Value::list({Value("n1")}));
}

TEST(NodeUpdate, ChildListsTakeOnlyNodesAndNoAncestors) {
  auto job = TrialKit::create(Value("job"), Value(0));
  auto task = job->add_task(Value("t1"), Value(1));
  auto testcase = task->add_section(Value("tc"), Value(2));
  EXPECT_THROW(task->update(Map{{"sections", Value(3)}}), ArgumentError);
  EXPECT_THROW(testcase->update(Map{{"sections", Value::node(task)}}), ArgumentError);
  EXPECT_THROW(testcase->update(Map{{"sections", Value::node(testcase)}}), ArgumentError);
  EXPECT_EQ(testcase->children().size(), 0u);
  auto stray = ReportObjectBase::create(Value("stray"), Value(9));
  testcase->update(Map{{"sections", Value::list({Value::node(stray)})}});
  ASSERT_EQ(testcase->children().size(), 1u);
  EXPECT_EQ(&node_of(testcase->children()[0]), stray.get());
}

TEST(NodeFields, SetFieldRefusesDerivedAndUnknownFields) {
  auto job = TrialKit::create(Value("job"), Value(0));
  auto task = job->add_task(Value("t1"), Value(1));
  EXPECT_THROW(task->set_field("fullid", Value("x")), ArgumentError);
  EXPECT_THROW(task->set_field("idlist", Value::list({})), ArgumentError);
  EXPECT_THROW(task->set_field("no_such_field", Value(1)), ArgumentError);
  EXPECT_THROW(task->set_field("lumo_uid", Value(1)), ArgumentError);  // a section's field
  EXPECT_THROW(job->set_field("result", Value(results::Passed)), ArgumentError);
  EXPECT_THROW(task->set_field("details", Value(Map{})), TypeError);
  EXPECT_THROW(task->set_field("sections", Value(Map{})), TypeError);
  EXPECT_THROW(task->set_field("sections", Value::list({Value(1)})), ArgumentError);
  EXPECT_FALSE(task->has_field("no_such_field"));
}

TEST(NodeFields, EveryFieldOfTheLongestListSurvivesGrowth) {
  auto job = TrialKit::create(Value("job"), Value(0));
  std::vector<std::string> plain;  // the fields that take any value
  for (std::string_view name : job->arg_order())
    if (name != "fullid" && name != "idlist" && name != "result" && name != "tasks" &&
        name != "details" && name != "extra")
      plain.emplace_back(name);
  for (std::size_t i = 0; i < plain.size(); ++i) job->set_field(plain[i], Value(int(i)));
  for (std::size_t i = 0; i < plain.size(); ++i)
    EXPECT_EQ(job->field_or_none(plain[i]), Value(int(i))) << plain[i];
}

TEST(NodeLifecycle, StartAndStopTakeTimesAndRuntime) {
  TickingClock clock;  // 1.5 s per reading
  auto node = base_node();
  node->start(Options{{"description", Value("d")}});
  EXPECT_EQ(node->starttime(), Value(clock.at(1)));
  EXPECT_EQ(node->extra().at("description"), Value("d"));  // not a field of the base kind
  node->stop();
  EXPECT_EQ(node->stoptime(), Value(clock.at(2)));
  EXPECT_EQ(node->runtime(), Value(1.5));
  EXPECT_TRUE(node->runtime().is_float());
  EXPECT_EQ(node->result_rollup(), Value(true));

  // A second stop recomputes from the same start.
  node->stop(Options{{"result_rollup", Value(false)}});
  EXPECT_EQ(node->runtime(), Value(3.0));
  EXPECT_EQ(node->result_rollup(), Value(false));
  EXPECT_FALSE(node->extra().contains("result_rollup"));
}

TEST(NodeLifecycle, StopWithoutStartAppliesOptionsOnly) {
  TickingClock clock;
  auto node = base_node();
  node->stop(Options{{"result_rollup", Value(0)}, {"note", Value("x")}});
  EXPECT_TRUE(node->starttime().is_none());
  EXPECT_TRUE(node->stoptime().is_none());
  EXPECT_TRUE(node->runtime().is_none());
  EXPECT_EQ(node->result_rollup(), Value(0));  // stored unchanged, not as a truth value
  EXPECT_TRUE(node->result_rollup().is_int());
  EXPECT_EQ(node->extra().at("note"), Value("x"));
}

TEST(NodePlace, FullIdSkipsTheTrialKitAndJoinsTextBelow) {
  auto job = TrialKit::create(Value("job"), Value(0));
  auto task = job->add_task(Value(7), Value(1));
  auto testcase = task->add_section(Value("tc"), Value(2));
  auto step = testcase->add_section(Value(3), Value(3));
  EXPECT_EQ(job->fullid(), Value("job"));
  EXPECT_EQ(task->fullid(), Value(7));  // unconverted
  EXPECT_EQ(testcase->fullid(), Value("7.tc"));
  EXPECT_EQ(step->fullid(), Value("7.tc.3"));
  EXPECT_EQ(step->field_or_none("fullid"), Value("7.tc.3"));
  EXPECT_EQ(Value(task->idlist()), Value::list({Value(7)}));
  EXPECT_EQ(Value(step->idlist()), Value::list({Value(7), Value("tc"), Value(3)}));
  EXPECT_EQ(step->repr(), "<Section 7.tc.3>");
}

TEST(NodePlace, ANewChildListKeepsParentsTrue) {
  auto job = TrialKit::create(Value("job"), Value(0));
  auto task = job->add_task(Value("t1"), Value(1));
  auto kept = task->add_section(Value("kept"), Value(2));
  auto dropped = task->add_section(Value("dropped"), Value(3));
  task->set_field("sections", Value::list({Value::node(kept)}));
  EXPECT_EQ(kept->parent(), task.get());
  EXPECT_EQ(dropped->parent(), nullptr);
  EXPECT_EQ(dropped->fullid(), Value("dropped"));
}

TEST(NodePlace, ChildrenHeldElsewhereOutliveTheirParentAsRoots) {
  std::shared_ptr<Section> kept;
  {
    auto job = TrialKit::create(Value("job"), Value(0));
    auto task = job->add_task(Value("t1"), Value(1));
    kept = task->add_section(Value("tc"), Value(2))->add_section(Value("s"), Value(3));
  }
  EXPECT_EQ(kept->parent(), nullptr);
  EXPECT_EQ(kept->fullid(), Value("s"));
}

}  // namespace
}  // namespace morvi::reporter::trialkit
