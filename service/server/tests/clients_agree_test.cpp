// The three reporter clients over one job: the socket client against a server fed the job's
// events, the in-process client over the job built in process, and the file client over its
// results document.
#include <filesystem>
#include <fstream>
#include <system_error>

#include <gtest/gtest.h>

#include "morvi/reporter/client/results_file_client.hpp"
#include "morvi/reporter/explorer.hpp"
#include "morvi/reporter/trialkit/json.hpp"
#include "morvi/service/clients/socket_client.hpp"
#include "morvi/service/clients/trialkit_client.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "running_server.hpp"

namespace morvi::service::server {
namespace {

namespace fs = std::filesystem;
using clients::SocketReporterClient;
using reporter::explorer::Explorer;
using testing::RunningServer;
using testing::WireClient;

// A value as results.json writes it: typed values (times, results) in their JSON form.
std::string as_json(const Value& value) { return reporter::trialkit::JSONDumper::encode(value); }

// The file's record holds what the document writes of the node: the node's own fields in
// their order (the record's keys before seq_num, which with a section's logfile lies outside
// them) but those left out for being none or empty, with the same values.
void expect_document_form(const Value& file, const Value& node, const List& path) {
  Map written;
  for (const auto& [key, value] : node.as_map()) {
    const bool empty = value.is_none() || (value.is_list() && value.as_list().empty()) ||
                       (value.is_map() && value.as_map().empty());
    if (key == "seq_num") break;
    if (!empty) written.set(key, value);
  }
  Map read;
  for (const auto& [key, value] : file.as_map()) {
    const bool empty = value.is_none() || (value.is_list() && value.as_list().empty()) ||
                       (value.is_map() && value.as_map().empty());
    if (!empty) read.set(key, value);
  }
  EXPECT_EQ(as_json(Value(read)), as_json(Value(written))) << Value(path).to_repr();
}

TEST(ReporterClients, SocketInProcessAndFileClientsAgreeOnEveryNodeOfAJob) {
  morvi::testing::ScratchDir scratch;
  const testing::Job job = testing::make_job(scratch.path());
  RunningServer server(scratch / "j");
  WireClient runner(server.socket());
  runner.hello("runner");
  for (const std::string& line : job.lines) runner.send(line + "\n");
  runner.request({{"request", "sync"}});
  const fs::path results = scratch / "results.json";
  std::ofstream(results, std::ios::binary) << job.direct->dump_json();

  auto socket = std::make_shared<SocketReporterClient>(server.socket());
  auto in_process = std::make_shared<clients::TrialKitClient>(job.direct);
  auto file = std::make_shared<reporter::client::ResultsFileClient>(results.string());
  // Every node, reached through the explorer of each client by the same identifiers.
  std::vector<List> paths{List{}};
  std::size_t twins = 0;
  while (!paths.empty()) {
    const List path = paths.back();
    paths.pop_back();
    const Explorer s(socket, path), p(in_process, path), f(file, path);
    ASSERT_TRUE(s) << Value(path).to_repr();
    EXPECT_EQ(s.record(), p.record()) << Value(path).to_repr();
    expect_document_form(f.record(), p.record(), path);
    for (const char* list : {"tasks", "sections"}) {
      const auto children = [list](const Explorer& e) {
        const Value ids = e.field(list);
        return ids.truthy() ? ids : Value(List{});
      };
      EXPECT_EQ(children(f), children(p)) << list << " of " << Value(path).to_repr();
    }
    for (const auto& children : {s.tasks(), s.sections()}) {
      if (!children) continue;
      for (const Value& id : children->ids().as_list()) {
        twins += id.is_map();
        List next = path;
        next.push_back(id);
        paths.push_back(std::move(next));
      }
    }
  }
  EXPECT_EQ(twins, 3u) << "the three steps that share an id";
  EXPECT_EQ(socket->document("json"), job.direct->dump_json());
}

TEST(ReporterClients, TheSocketClientNamesTheSocketWhenTheServerIsAbsentOrGone) {
  morvi::testing::ScratchDir scratch;
  testing::SocketDir sockets;
  try {
    SocketReporterClient absent(sockets / "none");
    FAIL() << "connected to nothing";
  } catch (const std::system_error& e) {
    EXPECT_NE(std::string(e.what()).find(sockets / "none"), std::string::npos) << e.what();
  }
  std::unique_ptr<SocketReporterClient> client;
  {
    RunningServer server(scratch / "j");
    client = std::make_unique<SocketReporterClient>(server.socket());
    EXPECT_EQ(client->get_trialkit(), Value(Map()));
  }
  try {
    client->get_section(List{"t1"});
    FAIL() << "the server has gone";
  } catch (const std::system_error& e) {
    EXPECT_NE(std::string(e.what()).find("has gone"), std::string::npos) << e.what();
  }
}

TEST(ReporterClients, TheSocketClientGivesUpOnAServerThatDoesNotAnswer) {
  testing::SocketDir sockets;
  // A listening socket nobody serves: the connection is queued, the hello never answered.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = sockets / "mute";
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  try {
    SocketReporterClient mute(path, std::chrono::milliseconds(50));
    FAIL() << "a silent server was taken for an answer";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code(), std::errc::timed_out);
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
  ::close(fd);
}

}  // namespace
}  // namespace morvi::service::server
