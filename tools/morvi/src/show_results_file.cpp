#include "show_results_file.hpp"

#include <cstdio>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

#include "morvi/errors.hpp"
#include "morvi/printable.hpp"
#include "morvi/reporter/client/results_file_client.hpp"
#include "morvi/reporter/explorer.hpp"
#include "morvi/service/clients/socket_client.hpp"

namespace morvi::tools {

namespace {

using reporter::explorer::Explorer;
using reporter::explorer::ExplorerSections;

// "0.000068s" rather than "6.8e-05s": microseconds at most, trailing zeros dropped. Sized to
// the number, as a large one has some 300 digits.
std::string seconds_text(double seconds) {
  std::string text(static_cast<std::size_t>(std::snprintf(nullptr, 0, "%.6f", seconds)), '\0');
  std::snprintf(text.data(), text.size() + 1, "%.6f", seconds);
  while (text.size() > 1 && text.back() == '0' && text[text.size() - 2] != '.') text.pop_back();
  return text + "s";
}

// "  t1.tc1  Testcase  passed  1.5s", with "-" for what the record lacks. What the record
// holds is printed escaped: a line break or a terminal's control sequence in an id must not
// break the line or reach the terminal.
void print_node(std::ostream& out, const Explorer& node, std::size_t depth) {
  const auto text = [&](std::string_view name) {
    const Value value = node.field(name);
    return value.is_none() ? std::string("-") : printable_text(value.to_text());
  };
  const Value fullid = node.field("fullid");
  const Value result = node.field("result");
  const Value runtime = node.field("runtime");
  out << std::string(2 * depth, ' ')
      << (fullid.is_none() ? text("id") : printable_text(fullid.to_text())) << "  "
      << text("type") << "  "
      << (result.is_result() ? result.to_text()
          : result.is_map() && result.as_map().contains("value")
              ? printable_text(result.as_map().at("value").to_text())
              : std::string("-"))
      << "  " << (runtime.is_number() ? seconds_text(runtime.as_number()) : std::string("-"));
}

// A record's child list when it is one. A "tasks" or "sections" holding anything else (null,
// a map) is a plain field, as the export and the page read it.
const ExplorerSections* child_list(const std::optional<ExplorerSections>& list) {
  return list && (list->ids().is_list() || list->ids().is_tuple()) ? &*list : nullptr;
}

std::size_t child_count(const Explorer& node) {
  const ExplorerSections* tasks = child_list(node.tasks());
  const ExplorerSections* sections = child_list(node.sections());
  return (tasks ? tasks->size() : 0) + (sections ? sections->size() : 0);
}

}  // namespace

ShowResultsFile::ShowResultsFile(const cli::CommandSetup& setup) : Subcommand(setup) {
  parser.add_argument("file", "[file]", Kind::Text, "Results JSON file to show")
      .may_be_left_out();
  parser.add_argument("--socket", "PATH", Kind::Text,
                      "show the job a reporter server (morvi serve) holds at PATH instead, as "
                      "it stands");
  parser.add_argument("--depth", "N", Kind::Int,
                      "show nodes down to N levels below the top (0: the top alone); every "
                      "level when left out")
      .at_least(0);
}

cli::Status ShowResultsFile::run(const cli::Arguments& args) {
  const Value& file = args["file"];
  const Value& socket = args["socket"];
  if (file.is_none() == socket.is_none()) {
    print_error("give either a results file or --socket PATH");
    return cli::USAGE_ERROR;
  }
  const Value& depth_limit = args["depth"];
  std::shared_ptr<reporter::client::ReporterClient> client;
  if (socket.is_none())
    client = std::make_shared<reporter::client::ResultsFileClient>(std::string(file.as_text()));
  else
    client = std::make_shared<service::clients::SocketReporterClient>(std::string(socket.as_text()));
  const Explorer top(client);
  if (!top) {
    if (socket.is_none()) throw LookupError(std::string(file.as_text()) + " holds no report");
    print_error("the reporter server at '" + std::string(socket.as_text()) + "' holds no job yet");
    return cli::ERROR;
  }

  // Children still to show, one entry per child list on the way down; an explicit stack, as
  // reports nest as deep as their writer let them. An entry holds only its list's ids, and
  // all entries share one path, the ids from the top down to the node being shown: a deep
  // job keeps one path and one record at a time, not one of each per level.
  struct Pending {
    Value ids;
    std::size_t next;
    std::size_t depth;
  };
  std::vector<Pending> pending;
  List path;
  const auto visit = [&](const Explorer& node, std::size_t depth) {
    print_node(out(), node, depth);
    const std::size_t count = child_count(node);
    if (count > 0 && !depth_limit.is_none() &&
        depth >= static_cast<std::size_t>(depth_limit.as_int())) {
      out() << "  (" << count << (count == 1 ? " child" : " children") << " not shown)";
    } else {
      // Pushed in reverse, so tasks come before sections.
      if (const ExplorerSections* sections = child_list(node.sections()))
        pending.push_back({sections->ids(), 0, depth + 1});
      if (const ExplorerSections* tasks = child_list(node.tasks()))
        pending.push_back({tasks->ids(), 0, depth + 1});
    }
    out() << '\n';
  };
  visit(top, 0);
  while (!pending.empty()) {
    Pending& list = pending.back();
    const List& ids = list.ids.as_list();
    if (list.next == ids.size()) {
      pending.pop_back();
      continue;
    }
    // The ancestors of this list's children are the path's first depth - 1 ids.
    const std::size_t depth = list.depth;
    path.resize(depth - 1);
    path.push_back(ids[list.next++]);
    visit(Explorer(client, path), depth);
  }
  return {};
}

}  // namespace morvi::tools
