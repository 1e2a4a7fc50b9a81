#include "morvi/service/clients/trialkit_client.hpp"

#include <gtest/gtest.h>

namespace morvi::service::clients {
namespace {

using reporter::trialkit::TrialKit;

TEST(TrialKitClient, RecordsAreTheNodesDictionariesWithEveryChildReachable) {
  auto job = TrialKit::create("job", 1);
  auto task = job->add_task("t1", 2);
  auto testcase = task->add_section(7, 3, "Testcase");
  auto step = testcase->add_section("s1", 4, "Step");
  auto twin = task->add_section(7, 5, "Testcase");
  job->add_plugin("monitor", 6);
  TrialKitClient c(job);

  EXPECT_EQ(c.get_trialkit().as_map().at("tasks"), Value::list({"t1", "monitor"}));
  EXPECT_EQ(c.get_section(List{"t1", Map{{"id", 7}, {"index", 0}}, "s1"}), Value(step->to_dict()));
  // Siblings sharing an id: each is named by id and position; a plain id reaches the first.
  EXPECT_EQ(c.get_section(List{"t1", 7}).as_map().at("seq_num"), Value(3));
  const Value twins = c.get_section(List{"t1"}).as_map().at("sections");
  EXPECT_EQ(twins, Value::list({Map{{"id", 7}, {"index", 0}}, Map{{"id", 7}, {"index", 1}}}));
  EXPECT_EQ(c.get_section(List{"t1", twins.as_list()[1]}).as_map().at("seq_num"), Value(5));
  EXPECT_EQ(c.get_section(List{}), c.get_trialkit());
  for (const List& path : {List{"t2"}, List{"t1", "7"}, List{"t1", 7, "s1", "x"},
                           List{"t1", Map{{"id", 7}, {"index", 2}}},
                           List{"t1", Map{{"id", 8}, {"index", 0}}}}) {
    EXPECT_EQ(c.get_section(path), Value(Map())) << Value(path).to_repr();
  }
}

TEST(TrialKitClient, SeesTheTreeAsItIsAtEachRequest) {
  auto job = TrialKit::create("job", 1);
  TrialKitClient c(job);
  EXPECT_EQ(c.get_section(List{"t1"}), Value(Map()));
  auto task = job->add_task("t1", 2);
  task->update(Map{{"description", "late"}});
  EXPECT_EQ(c.get_section(List{"t1"}).as_map().at("description"), Value("late"));
}

}  // namespace
}  // namespace morvi::service::clients
