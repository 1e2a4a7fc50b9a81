// A report tree never holds itself: a node hangs in one child list at most, and no value stored
// in a node may hold a node that holds it. Refusals name the nodes and change nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "morvi/errors.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/results.hpp"
#include "node_test_support.hpp"

namespace morvi::reporter::trialkit {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

std::shared_ptr<Section> free_section(const char* id) {
  return std::make_shared<Section>(Value(id), Value(0), nullptr, Value());
}

Map sections(std::initializer_list<std::shared_ptr<Section>> nodes) {
  List list;
  for (const auto& n : nodes) list.push_back(Value::node(n));
  Map m;
  m.set("sections", Value(std::move(list)));
  return m;
}

// The message of the ArgumentError `action` throws, or a failure when it throws none.
std::string refusal(const std::function<void()>& action) {
  try {
    action();
  } catch (const ArgumentError& e) {
    return e.what();
  }
  ADD_FAILURE() << "no ArgumentError";
  return {};
}

TEST(NodeCycles, ACycleThroughChildListsIsRefusedAndChangesNothing) {
  auto z = free_section("z");
  auto x = free_section("x");
  auto y = free_section("y");
  z->update(sections({x}));
  x->update(sections({y}));
  EXPECT_EQ(y->fullid(), Value("z.x.y"));
  EXPECT_THAT(refusal([&] { y->update(sections({z})); }),
              AllOf(HasSubstr("<Section z>"), HasSubstr("<Section z.x.y>"), HasSubstr("cycle")));
  EXPECT_THAT(refusal([&] { y->set_field("sections", Value::list({Value::node(z)})); }),
              HasSubstr("cycle"));
  auto w = free_section("w");
  EXPECT_THAT(refusal([&] { w->update(sections({w})); }), HasSubstr("cannot hold itself"));
  EXPECT_TRUE(w->children().empty());
  EXPECT_TRUE(y->children().empty());
  EXPECT_EQ(z->parent(), nullptr);
  EXPECT_EQ(y->parent(), x.get());
  EXPECT_EQ(y->dump_json().find("\"sections\""), std::string::npos);
}

TEST(NodeCycles, ANodeHangsInOneChildListOnce) {
  auto job = TrialKit::create(Value("job"), Value(0));
  auto task = job->add_task(Value("t"), Value(1));
  auto s = task->add_section(Value("s"), Value(2));
  auto u = task->add_section(Value("u"), Value(3));
  EXPECT_THAT(refusal([&] { u->update(sections({s})); }),
              AllOf(HasSubstr("<Section t.s>"), HasSubstr("hangs in the child list of <Task t>")));
  EXPECT_THAT(refusal([&] { task->update(sections({s})); }), HasSubstr("holds <Section t.s> already"));
  EXPECT_EQ(task->children().size(), 2u);
  EXPECT_TRUE(u->children().empty());

  // Made with a parent but hanging nowhere: only that parent may take it in, and only once.
  auto loose = std::make_shared<Section>(Value("loose"), Value(4), task.get(), Value());
  EXPECT_THAT(refusal([&] { u->update(sections({loose})); }),
              HasSubstr("has another parent, <Task t>"));
  auto twin = free_section("twin");
  EXPECT_THAT(refusal([&] { u->update(sections({twin, twin})); }), HasSubstr("twice"));
  EXPECT_THAT(refusal([&] { u->set_field("sections", Value(sections({twin, twin}).at("sections"))); }),
              HasSubstr("twice"));
  EXPECT_TRUE(u->children().empty());
  EXPECT_EQ(twin->parent(), nullptr);
  task->update(sections({loose}));
  EXPECT_EQ(task->children().size(), 3u);
  EXPECT_THAT(refusal([&] { task->update(sections({loose})); }), HasSubstr("already"));

  // A node that a new child list leaves out hangs nowhere and may join another.
  task->set_field("sections", Value::list({Value::node(u), Value::node(loose)}));
  EXPECT_EQ(s->parent(), nullptr);
  u->update(sections({s}));
  EXPECT_EQ(s->parent(), u.get());
  EXPECT_EQ(s->fullid(), Value("t.u.s"));
  // Reordering a list keeps its children.
  task->set_field("sections", Value::list({Value::node(loose), Value::node(u)}));
  EXPECT_EQ(u->parent(), task.get());
}

struct Storing {
  const char* name;
  // Stores `held` in a field of `into` (or its extra, details or result).
  std::function<void(Task& into, const Value& held)> store;
};

void PrintTo(const Storing& s, std::ostream* os) { *os << s.name; }

class NodeValueCycles : public ::testing::TestWithParam<Storing> {};

// A node stored in a value of itself or of a node below it would keep the tree alive forever
// and make every writer loop: refused, the nodes freed once the caller lets go of them.
TEST_P(NodeValueCycles, AValueHoldingTheNodeOrAnAncestorIsRefusedAndNothingLeaks) {
  std::weak_ptr<TrialKit> job_alive;
  std::weak_ptr<Section> step_alive;
  {
    auto job = TrialKit::create(Value("job"), Value(0));
    auto task = job->add_task(Value("t"), Value(1));
    auto step = task->add_section(Value("s"), Value(2));
    job_alive = job;
    step_alive = step;
    EXPECT_THAT(refusal([&] { GetParam().store(*task, Value::node(task)); }),
                AllOf(HasSubstr("<Task t>"), HasSubstr("itself"), HasSubstr("cycle")));
    EXPECT_THAT(refusal([&] { GetParam().store(*task, Value::list({Value(1), Value::node(job)})); }),
                AllOf(HasSubstr("<TrialKit job>, which holds it"), HasSubstr("cycle")));
    // A node below is no cycle: it is held twice, and written twice.
    GetParam().store(*task, Value::node(step));
    EXPECT_EQ(task->repr(), "<Task t>");
  }
  EXPECT_TRUE(job_alive.expired());
  EXPECT_TRUE(step_alive.expired());
}

INSTANTIATE_TEST_SUITE_P(
    Fields, NodeValueCycles,
    ::testing::Values(
        Storing{"UpdateLeftover", [](Task& t, const Value& v) { t.update(Map{{"held", v}}); }},
        Storing{"UpdateField", [](Task& t, const Value& v) { t.update(Map{{"description", v}}); }},
        Storing{"UpdateExtra", [](Task& t, const Value& v) { t.update_extra(Map{{"held", v}}); }},
        Storing{"SetExtra", [](Task& t, const Value& v) { t.set_field("extra", Value(Map{{"k", v}})); }},
        Storing{"Detail", [](Task& t, const Value& v) { t.add_detail(v); }},
        Storing{"ResultData",
                [](Task& t, const Value& v) {
                  t.set_result(Value(results::TestResult(results::ResultCode::failed, "", Map{{"k", v}})));
                }},
        Storing{"StartOption", [](Task& t, const Value& v) { t.start(Options{{"held", v}}); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NodeValueCycles, ACycleThroughTwoNodesValuesIsRefused) {
  std::weak_ptr<Section> a_alive, b_alive;
  {
    auto a = free_section("a");
    auto b = free_section("b");
    a_alive = a;
    b_alive = b;
    a->update(Map{{"peer", Value::node(b)}});
    EXPECT_THAT(refusal([&] { b->update(Map{{"peer", Value::node(a)}}); }),
                AllOf(HasSubstr("<Section a>, which holds it"), HasSubstr("<Section b>")));
    // Through a child's extra too.
    auto c = b->add_section(Value("c"), Value(1));
    EXPECT_THAT(refusal([&] { c->update(Map{{"peer", Value::node(a)}}); }), HasSubstr("cycle"));
    // A child made with a value holding its parent-to-be.
    EXPECT_THAT(refusal([&] { b->add_section(Value::list({Value::node(a)}), Value(2)); }),
                HasSubstr("'id'"));
    EXPECT_EQ(b->children().size(), 1u);
  }
  EXPECT_TRUE(a_alive.expired());
  EXPECT_TRUE(b_alive.expired());
}

}  // namespace
}  // namespace morvi::reporter::trialkit
