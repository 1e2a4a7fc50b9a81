// The server run in this process on its own thread, driven over its socket: events of a real
// job against the same job built in process, refused lines, readers beside a runner.
#include "morvi/service/server/server.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "morvi/reporter/markfolio.hpp"
#include "morvi/service/clients/trialkit_client.hpp"
#include "morvi/service/protocol/value_codec.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "running_server.hpp"
#include "wire_client.hpp"

namespace morvi::service::server {
namespace {

namespace fs = std::filesystem;
using reporter::trialkit::TrialKit;
using testing::Job;
using testing::RunningServer;
using testing::WireClient;
using testing::make_job;
using testing::slurp;

Value decoded(const nlohmann::json& reply) {
  EXPECT_EQ(reply.value("ok", false), true) << reply.dump();
  return protocol::decode_value(reply.at("result"));
}

TEST(Server, HellosOfAnotherFormatVersionOrRoleAreRefusedAndTheConnectionClosed) {
  morvi::testing::ScratchDir scratch;
  RunningServer server(scratch / "j");
  for (const std::string& hello :
       {std::string("not json"), std::string(R"({"hello":"other","version":1,"role":"runner"})"),
        std::string(R"({"hello":"morvi-events","version":2,"role":"runner"})"),
        std::string(R"({"hello":"morvi-events","version":1,"role":"boss"})"),
        std::string(R"({"event":"roll_up","node":0,"args":{}})")}) {
    WireClient c(server.socket());
    c.send(hello + "\n");
    const auto answer = c.read_json();
    EXPECT_EQ(answer["ok"], false) << hello;
    EXPECT_FALSE(answer.value("error", "").empty());
    EXPECT_EQ(c.read_line(), std::nullopt) << "still open after " << hello;
  }
  WireClient reader(server.socket());
  EXPECT_EQ(reader.hello("reader"), (nlohmann::json{{"ok", true}}));
}

TEST(Server, OneRunnerAtATimeAndAnyNumberOfReaders) {
  morvi::testing::ScratchDir scratch;
  RunningServer server(scratch / "j");
  {
    WireClient first(server.socket());
    ASSERT_EQ(first.hello("runner")["ok"], true);
    WireClient second(server.socket());
    const auto refused = second.hello("runner");
    EXPECT_EQ(refused["ok"], false);
    EXPECT_NE(refused["error"].get<std::string>().find("another runner"), std::string::npos);
    WireClient r1(server.socket()), r2(server.socket());
    EXPECT_EQ(r1.hello("reader")["ok"], true);
    EXPECT_EQ(r2.hello("reader")["ok"], true);
    EXPECT_EQ(decoded(r2.request({{"request", "progress"}})).as_map().at("runner"), Value(true));
  }
  // Once the first runner has gone (the server sees it in its own time), another may come.
  WireClient reader(server.socket());
  reader.hello("reader");
  int polls = 0;
  while (decoded(reader.request({{"request", "progress"}})).as_map().at("runner").as_bool())
    ASSERT_LT(++polls, 100000);
  WireClient next(server.socket());
  EXPECT_EQ(next.hello("runner")["ok"], true);
}

TEST(Server, AJobThroughTheSocketGivesTheDocumentsAndRecordsOfTheJobBuiltInProcess) {
  morvi::testing::ScratchDir scratch;
  const Job job = make_job(scratch.path());
  RunningServer server(scratch / "events.journal");
  WireClient runner(server.socket());
  ASSERT_EQ(runner.hello("runner")["ok"], true);
  for (const std::string& line : job.lines) runner.send(line + "\n");
  const auto synced = runner.request({{"request", "sync"}});
  EXPECT_EQ(synced, (nlohmann::json{{"reply", 1}, {"ok", true}, {"applied", job.lines.size()},
                                    {"refused", 0}}));

  WireClient reader(server.socket());
  reader.hello("reader");
  EXPECT_EQ(decoded(reader.request({{"request", "document"}, {"format", "json"}})),
            Value(job.direct->dump_json()));
  EXPECT_EQ(decoded(reader.request({{"request", "document"}, {"format", "yaml"}})),
            Value(job.direct->dump_yaml()));
  clients::TrialKitClient in_process(job.direct);
  EXPECT_EQ(decoded(reader.request({{"request", "get_trialkit"}})), in_process.get_trialkit());
  // The three steps share the id "step": each is reached by its position.
  const List testcase{Value("t1"), Value("tc")};
  const Value steps = decoded(reader.request(
      {{"request", "get_section"}, {"id_list", protocol::encode_value(Value(testcase))}}));
  ASSERT_EQ(steps, in_process.get_section(testcase));
  for (const Value& step : steps.as_map().at("sections").as_list()) {
    List path = testcase;
    path.push_back(step);
    EXPECT_EQ(decoded(reader.request({{"request", "get_section"},
                                      {"id_list", protocol::encode_value(Value(path))}})),
              in_process.get_section(path))
        << step.to_repr();
  }

  const fs::path xml = fs::absolute(scratch / "xml");
  const Value written = decoded(reader.request({{"request", "write_xml"}, {"dir", xml.string()}}));
  EXPECT_EQ(written, Value::list({(xml / "ResultsDetails.xml").string(),
                                  (xml / "ResultsSummary.xml").string()}));
  reporter::markfolio::MarkFolio(scratch.str(), *job.direct).generate_xml({}, {});
  for (const char* name : {"ResultsDetails.xml", "ResultsSummary.xml"})
    EXPECT_EQ(slurp(xml / name), slurp(scratch / name)) << name;

  // A document of any size goes into a file the reader names; only absolute folders are taken.
  const fs::path docs = fs::absolute(scratch / "docs");
  for (const auto& [format, name, text] :
       {std::tuple{"json", "results.json", job.direct->dump_json()},
        std::tuple{"yaml", "results.yaml", job.direct->dump_yaml()}}) {
    EXPECT_EQ(decoded(reader.request({{"request", "document"}, {"format", format}, {"dir", docs.string()}})),
              Value((docs / name).string()));
    EXPECT_EQ(slurp(docs / name), text) << name;
  }
  const auto relative = reader.request({{"request", "document"}, {"format", "json"}, {"dir", "docs"}});
  EXPECT_EQ(relative["ok"], false);
  EXPECT_NE(relative.value("error", "").find("absolute"), std::string::npos) << relative.dump();

  const Map progress = decoded(reader.request({{"request", "progress"}})).as_map();
  EXPECT_EQ(progress.at("events"), Value(static_cast<long long>(job.lines.size())));
  EXPECT_EQ(progress.at("finished"), Value(true));
  EXPECT_EQ(progress.at("testcases"), Value(1));
  EXPECT_EQ(progress.at("results").as_map().at("failed"), Value(1));
  EXPECT_EQ(progress.at("running_testcase"), Value());

  // The journal holds the header and then exactly the lines the runner sent.
  std::string expected = "{\"format\":\"morvi-events\",\"version\":1}\n";
  for (const std::string& line : job.lines) expected += line + "\n";
  EXPECT_EQ(slurp(scratch / "events.journal"), expected);
}

TEST(Server, RefusedLinesLeaveTheTreeAndTheJournalAsTheyWereAndTheServerServing) {
  morvi::testing::ScratchDir scratch;
  RunningServer server(scratch / "events.journal", journal::FsyncPolicy::always);
  WireClient runner(server.socket());
  ASSERT_EQ(runner.hello("runner")["ok"], true);
  const std::string create =
      R"({"event":"create_trialkit","node":0,"child":0,"args":{"id":"job","seq_num":1}})";
  const std::string task =
      R"({"event":"add_task","node":0,"child":1,"args":{"id":"t1","seq_num":2}})";
  runner.send(create + "\n" + task + "\n");
  WireClient reader(server.socket());
  reader.hello("reader");
  runner.request({{"request", "sync"}});
  const Value before = decoded(reader.request({{"request", "get_section"},
                                               {"id_list", nlohmann::json::array({"t1"})}}));
  const std::string journal_before = slurp(scratch / "events.journal");

  std::string deep;
  for (int i = 0; i < 500; ++i) deep += "[";
  for (int i = 0; i < 500; ++i) deep += "]";
  struct Bad {
    std::string line;
    nlohmann::json event;  // the name the refusal carries
    std::string reason;    // a piece of its error
  };
  const std::vector<Bad> bad = {
      {"{\"event\": ", nullptr, "not JSON"},
      {"[1, 2]", nullptr, "object"},
      {R"({"event":"add_task","node":0,"child":2,"args":{"id":"t)" "\xff\xfe" R"(","seq_num":3}})",
       nullptr, "UTF-8"},
      {R"({"event":"explode","node":0,"args":{}})", nullptr, "unknown event"},
      {R"({"event":"update","node":0,"args":{"data":{"x":)" + deep + "}}}", nullptr, "nested"},
      {R"({"event":"start","node":77,"args":{"options":{}}})", "start", "no node has this handle"},
      {R"({"event":"add_task","node":1,"child":2,"args":{"id":"x","seq_num":3}})", "add_task",
       "cannot hold"},
      {R"({"event":"add_section","node":1,"child":1,"args":{"id":"x","seq_num":3}})",
       "add_section", "not above"},
      {create, "create_trialkit", "exists already"},
      {R"({"event":"update","node":1,"args":{"data":{"tasks":[]}}})", "update", "'tasks'"},
      {R"({"event":"start","node":1,"args":{"options":{}}})", "start", "no time"},
      {R"({"event":"set_result","node":0,"args":{"result":null}})", "set_result", "no result"},
  };
  for (const Bad& b : bad) runner.send(b.line + "\n");
  // An oversize line, sent in pieces; it is never held whole.
  runner.send(std::string(protocol::kMaxFrameSize / 2, ' '));
  runner.send(std::string(protocol::kMaxFrameSize / 2 + 1, ' ') + "x\n");
  for (std::size_t i = 0; i < bad.size(); ++i) {
    const auto refusal = runner.read_json();
    EXPECT_EQ(refusal["refused"], 3 + i) << bad[i].line;
    EXPECT_EQ(refusal["event"], bad[i].event) << bad[i].line;
    EXPECT_NE(refusal["error"].get<std::string>().find(bad[i].reason), std::string::npos)
        << refusal.dump();
  }
  const auto oversize = runner.read_json();
  EXPECT_EQ(oversize["refused"], 3 + bad.size());
  EXPECT_NE(oversize["error"].get<std::string>().find("over the limit"), std::string::npos);

  // Still serving: a good event after the bad ones is applied.
  runner.send(R"({"event":"update","node":1,"args":{"data":{"description":"late"}}})" "\n");
  const auto synced = runner.request({{"request", "sync"}});
  EXPECT_EQ(synced["applied"], 3);
  EXPECT_EQ(synced["refused"], bad.size() + 1);
  const Value after = decoded(reader.request({{"request", "get_section"},
                                              {"id_list", nlohmann::json::array({"t1"})}}));
  Map expected = before.as_map();
  expected.set("description", Value("late"));
  EXPECT_EQ(after, Value(expected));
  EXPECT_EQ(slurp(scratch / "events.journal"),
            journal_before +
                R"({"event":"update","node":1,"args":{"data":{"description":"late"}}})" "\n");
}

TEST(Server, EveryWholeLineOfARunnerThatVanishesMidLineIsKept) {
  morvi::testing::ScratchDir scratch;
  const Job job = make_job(scratch.path());
  RunningServer server(scratch / "j");
  const std::size_t half = job.lines.size() / 2;
  {
    WireClient runner(server.socket());
    runner.hello("runner");
    std::string sent;
    for (std::size_t i = 0; i < half; ++i) sent += job.lines[i] + "\n";
    // The next line torn, as a runner killed while writing leaves it.
    sent += job.lines[half].substr(0, job.lines[half].size() / 2);
    runner.send(sent);
  }
  WireClient reader(server.socket());
  reader.hello("reader");
  int polls = 0;
  Map progress;
  do {
    progress = decoded(reader.request({{"request", "progress"}})).as_map();
    ASSERT_LT(++polls, 100000);
  } while (progress.at("runner").as_bool());
  EXPECT_EQ(progress.at("events"), Value(static_cast<long long>(half)));
  EXPECT_EQ(progress.at("refused"), Value(0));
  // The journal is flushed as the runner goes: it holds the whole lines.
  const std::string journal = slurp(scratch / "j");
  EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), static_cast<long>(half + 1));
}

TEST(Server, RequestsWithBadArgumentsGetAnErrorReplyNamingTheProblem) {
  morvi::testing::ScratchDir scratch;
  RunningServer server(scratch / "j");
  WireClient reader(server.socket());
  reader.hello("reader");
  // No trialkit yet: the top record is empty, and there is no document to give.
  EXPECT_EQ(decoded(reader.request({{"request", "get_trialkit"}})), Value(Map()));
  const std::vector<std::pair<nlohmann::json, std::string>> cases = {
      {{{"request", "document"}, {"format", "json"}}, "no trialkit"},
      {{{"request", "document"}, {"format", "xml"}}, "'format'"},
      {{{"request", "write_xml"}, {"dir", "relative/dir"}}, "absolute"},
      {{{"request", "get_section"}}, "'id_list'"},
      {{{"request", "get_section"}, {"id_list", {{"$", "bogus"}}}}, "id_list"},
      {{{"request", "progress"}, {"extra", 1}}, "unknown member 'extra'"},
      {{{"request", "fly"}}, "unknown request 'fly'"},
  };
  for (const auto& [request, piece] : cases) {
    const auto reply = reader.request(request);
    EXPECT_EQ(reply["ok"], false) << request.dump();
    EXPECT_NE(reply.value("error", "").find(piece), std::string::npos) << reply.dump();
  }
  reader.send("{\"request\":\"progress\"}\n");
  const auto no_id = reader.read_json();
  EXPECT_EQ(no_id["reply"], nullptr);
  EXPECT_EQ(no_id["ok"], false);
  // A reader's event is refused as one.
  reader.send(R"({"event":"roll_up","node":0,"args":{}})" "\n");
  EXPECT_EQ(reader.read_json()["refused"], 1);
}

TEST(Server, AReaderReadsWhileARunnerWrites) {
  morvi::testing::ScratchDir scratch;
  RunningServer server(scratch / "j", journal::FsyncPolicy::never);
  constexpr int kTasks = 3000;
  std::thread writer([&] {
    WireClient runner(server.socket());
    runner.hello("runner");
    std::string batch =
        R"({"event":"create_trialkit","node":0,"child":0,"args":{"id":"job","seq_num":1}})" "\n";
    for (int i = 1; i <= kTasks; ++i) {
      batch += R"({"event":"add_task","node":0,"child":)" + std::to_string(i) +
               R"(,"args":{"id":"t","seq_num":)" + std::to_string(i) + "}}\n";
      if (i % 100 == 0) {
        runner.send(batch);
        batch.clear();
      }
    }
    runner.send(batch);
    runner.request({{"request", "sync"}});
  });
  WireClient reader(server.socket());
  reader.hello("reader");
  long long last = -1;
  int polls = 0;
  while (last < kTasks + 1 && ++polls < 1000000) {
    const long long events =
        decoded(reader.request({{"request", "progress"}})).as_map().at("events").as_int();
    ASSERT_GE(events, last);
    last = events;
    const Value top = decoded(reader.request({{"request", "get_trialkit"}}));
    if (top.as_map().empty()) continue;
    // Every task seen has the same id: each is named by its position.
    const List& tasks = top.as_map().at("tasks").as_list();
    if (tasks.size() > 1) {
      EXPECT_EQ(tasks.back(), Value(Map{{"id", Value("t")},
                                        {"index", Value(static_cast<long long>(tasks.size() - 1))}}));
    }
  }
  writer.join();
  EXPECT_EQ(last, kTasks + 1);
}

}  // namespace
}  // namespace morvi::service::server
