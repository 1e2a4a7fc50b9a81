#include "morvi/reporter/explorer.hpp"

#include <map>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "morvi/errors.hpp"

namespace morvi::reporter::explorer {
namespace {

// Serves records by path and writes down every request.
class CountingClient : public ReporterClient {
 public:
  std::map<std::string, Value> records;  // by the path's printable form
  Value top = Value(Map{{"id", "job"}, {"tasks", Value::list({"t1", "t2"})}});
  int trialkit_requests = 0;
  std::vector<List> section_requests;

  Value get_trialkit() override {
    ++trialkit_requests;
    return top;
  }
  Value get_section(const List& id_list) override {
    section_requests.push_back(id_list);
    const auto it = records.find(Value(id_list).to_repr());
    return it == records.end() ? Value(Map()) : it->second;
  }
  int requests() const { return trialkit_requests + static_cast<int>(section_requests.size()); }
};

std::shared_ptr<CountingClient> job_client() {
  auto client = std::make_shared<CountingClient>();
  client->records["['t1']"] = Value(Map{{"id", "t1"}, {"sections", Value::list({"s1", "s2"})}});
  client->records["['t2']"] = Value(Map{{"id", "t2"}, {"result", "passed"}});
  client->records["['t1', 's1']"] = Value(Map{{"id", "s1"}, {"sections", Value::list({"x"})}});
  client->records["['t1', 's2']"] = Value(Map{{"id", "s2"}});
  return client;
}

TEST(Explorer, TopRecordIsOneTrialkitRequest) {
  for (const bool given_empty_list : {false, true}) {
    auto client = job_client();
    const Explorer top = given_empty_list ? Explorer(client, List{}) : Explorer(client);
    EXPECT_EQ(client->trialkit_requests, 1);
    EXPECT_TRUE(client->section_requests.empty());
    EXPECT_TRUE(top.id_list().empty());
    EXPECT_TRUE(top);
    EXPECT_EQ(top.field("id"), Value("job"));
  }
}

TEST(Explorer, APathIsOneSectionRequestWithThatPath) {
  auto client = job_client();
  const Explorer node(client, List{"t1", "s1"});
  EXPECT_EQ(client->trialkit_requests, 0);
  ASSERT_EQ(client->section_requests.size(), 1u);
  EXPECT_EQ(Value(client->section_requests[0]), Value::list({"t1", "s1"}));
  EXPECT_EQ(Value(node.id_list()), Value::list({"t1", "s1"}));
}

TEST(Explorer, ChildListsCostNothingUntilIndexed) {
  auto client = job_client();
  const Explorer top(client);
  ASSERT_TRUE(top.tasks().has_value());
  EXPECT_FALSE(top.sections().has_value());
  EXPECT_EQ(top.tasks()->size(), 2u);
  EXPECT_EQ(*top.tasks(), Value::list({"t1", "t2"}));
  EXPECT_EQ(client->requests(), 1);

  const Explorer second = (*top.tasks())[1];
  const Explorer again = (*top.tasks())[1];
  const Explorer last = (*top.tasks())[-1];
  ASSERT_EQ(client->section_requests.size(), 3u);
  for (const List& request : client->section_requests) EXPECT_EQ(Value(request), Value::list({"t2"}));
  EXPECT_NE(&second.record(), &again.record());
  EXPECT_EQ(second.field("result"), Value("passed"));
  EXPECT_EQ(last.field("id"), Value("t2"));
  EXPECT_TRUE(top.id_list().empty());
}

TEST(Explorer, ChildrenExtendTheirParentsPath) {
  auto client = job_client();
  const Explorer top(client);
  const Explorer task = (*top.tasks())[0];
  const Explorer section = (*task.sections())[0];
  EXPECT_EQ(Value(section.id_list()), Value::list({"t1", "s1"}));
  const Explorer below = (*section.sections())[0];
  EXPECT_EQ(Value(client->section_requests.back()), Value::list({"t1", "s1", "x"}));
  EXPECT_FALSE(below);  // the client has no record there
  EXPECT_EQ(Value(task.id_list()), Value::list({"t1"}));
}

TEST(Explorer, OutOfRangeIndexFailsBeforeAnyRequest) {
  auto client = job_client();
  const Explorer top(client);
  for (const std::ptrdiff_t index : {2, 3, -3, -100}) {
    EXPECT_THROW((*top.tasks())[index], LookupError) << index;
  }
  EXPECT_EQ(client->requests(), 1);
}

TEST(Explorer, IterationFetchesEachChildWhenConsumed) {
  auto client = job_client();
  const Explorer top(client);
  auto it = top.tasks()->begin();
  EXPECT_EQ(client->requests(), 1);
  EXPECT_EQ(it->field("id"), Value("t1"));
  EXPECT_EQ((*it).field("id"), Value("t1"));
  EXPECT_EQ(client->section_requests.size(), 1u);
  ++it;
  EXPECT_EQ(client->section_requests.size(), 1u);
  EXPECT_EQ(it->field("id"), Value("t2"));
  EXPECT_EQ(client->section_requests.size(), 2u);
  ++it;
  EXPECT_TRUE(it == top.tasks()->end());

  std::vector<Value> ids;
  for (const Explorer& task : *top.tasks()) ids.push_back(task.field("id"));
  EXPECT_EQ(ids, (std::vector<Value>{"t1", "t2"}));
  EXPECT_EQ(client->section_requests.size(), 4u);
}

TEST(Explorer, FieldAndItemLookups) {
  auto client = job_client();
  const Explorer task(client, List{"t2"});
  EXPECT_EQ(task.field("result"), Value("passed"));
  EXPECT_EQ(task["result"], Value("passed"));
  EXPECT_TRUE(task.field("description").is_none());
  // No "sections" key: no lazy list, and the lookup falls through to none.
  EXPECT_FALSE(task.sections().has_value());
  EXPECT_TRUE(task["sections"].is_none());

  const Explorer top(client);
  EXPECT_EQ(top["tasks"], Value::list({"t1", "t2"}));
  EXPECT_EQ(client->requests(), 2);
}

TEST(Explorer, EmptyAndNoneRecords) {
  auto client = job_client();
  client->top = Value(Map());
  const Explorer empty(client);
  EXPECT_FALSE(empty);
  EXPECT_FALSE(empty.tasks().has_value());
  EXPECT_TRUE(empty.field("tasks").is_none());
  // Children the client holds later do not appear: the record was fetched once.
  client->top = Value(Map{{"tasks", Value::list({"t1"})}});
  EXPECT_FALSE(empty.tasks().has_value());

  client->top = Value();
  const Explorer none(client);
  EXPECT_FALSE(none);
  EXPECT_FALSE(none.tasks().has_value());
  EXPECT_FALSE(none.sections().has_value());
  EXPECT_THROW(none.field("result"), LookupError);
  EXPECT_THROW(none["tasks"], LookupError);
}

TEST(ExplorerSections, EqualityComparesIdentifiersOnly) {
  auto client = job_client();
  const Explorer top(client);
  const Explorer task(client, List{"t1"});
  const ExplorerSections xy(Value::list({"x", "y"}), top);
  EXPECT_EQ(xy, Value::list({"x", "y"}));
  EXPECT_EQ(xy, ExplorerSections(Value::list({"x", "y"}), task));
  EXPECT_FALSE(xy == ExplorerSections(Value::list({"y", "x"}), top));
  EXPECT_FALSE(xy == Value("x"));
  EXPECT_EQ(client->requests(), 2);
  EXPECT_EQ(Value(xy[0].id_list()), Value::list({"x"}));
  EXPECT_EQ(Value(ExplorerSections(Value::list({"x"}), task)[0].id_list()),
            Value::list({"t1", "x"}));
}

TEST(ExplorerSections, IdentifiersThatAreNoSequenceFailWhenRead) {
  auto client = job_client();
  client->top = Value(Map{{"tasks", Value()}});
  const Explorer top(client);
  ASSERT_TRUE(top.tasks().has_value());
  EXPECT_THROW(top.tasks()->size(), TypeError);
  EXPECT_THROW((*top.tasks())[0], TypeError);
}

TEST(Explorer, ClientErrorsReachTheCaller) {
  struct Failing : CountingClient {
    Value get_section(const List&) override { throw std::runtime_error("server gone"); }
  };
  auto client = std::make_shared<Failing>();
  const Explorer top(client);
  EXPECT_THROW((*top.tasks())[0], std::runtime_error);
  EXPECT_THROW(Explorer(client, List{"t1"}), std::runtime_error);
  EXPECT_THROW(Explorer(nullptr), ArgumentError);
}

}  // namespace
}  // namespace morvi::reporter::explorer
