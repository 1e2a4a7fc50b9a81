#include "tree_printer.hpp"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace morvi::examples {
namespace {

using reporter::trialkit::node_of;
using reporter::trialkit::ReportObjectBase;

// "08:15:02.123456" for a time stamp, "-" for none.
std::string clock_time(const Value& stamp) {
  if (!stamp.is_datetime()) return "-";
  const DateTime& t = stamp.as_datetime();
  char text[24];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06d", t.hour(), t.minute(), t.second(),
                t.microsecond());
  return text;
}

std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string result_text(const Value& result) { return result.is_none() ? "-" : result.to_text(); }

std::string tally_text(const Value& tally) {
  if (!tally.is_tally()) return result_text(tally);
  const results::ResultCounter& counts = tally.as_tally();
  std::string out;
  for (const auto& [key, n] : counts.items()) {
    if (n == 0) continue;
    out += key + " " + std::to_string(n) + ", ";
  }
  char rate[64];
  std::snprintf(rate, sizeof rate, "total %lld, success rate %.2f%%",
                static_cast<long long>(counts.total()), counts.success_rate());
  return out + rate;
}

// Everything after the full id: type, result, times, and the share of the log file.
std::string describe(const ReportObjectBase& node) {
  const Value& runtime = node.runtime();
  char seconds[32] = "-";
  if (runtime.is_number()) std::snprintf(seconds, sizeof seconds, "%.6f s", runtime.as_number());
  std::string out = padded(node.type().to_text(), 14) + ' ' +
                    padded(result_text(node.field_or_none("result")), 7) + ' ' +
                    clock_time(node.starttime()) + " .. " + clock_time(node.stoptime()) + "  " +
                    seconds;
  const Value logs = node.field_or_none("logs");
  if (logs.is_map() && !logs.as_map().empty()) {
    const Map& share = logs.as_map();
    out += "  log " + share.at("file").to_text() + " @" + share.at("begin").to_text();
    if (const Value* size = share.find("size")) out += " +" + size->to_text();
  }
  return out;
}

}  // namespace

void print_tree(std::ostream& out, const ReportObjectBase& root) {
  // Depth first with an explicit stack: a tree can be nested deeper than the call stack.
  std::vector<std::pair<std::string, std::string>> rows;
  std::vector<std::pair<const ReportObjectBase*, std::size_t>> pending{{&root, 0}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    rows.emplace_back(std::string(2 * depth, ' ') + node->fullid().to_text(), describe(*node));
    const List& children = node->children();
    for (auto it = children.rbegin(); it != children.rend(); ++it)
      pending.emplace_back(&node_of(*it), depth + 1);
  }
  std::size_t width = 6;
  for (const auto& row : rows) width = std::max(width, row.first.size());
  out << padded("fullid", width) << "  " << padded("type", 14) << ' ' << padded("result", 7)
      << " start .. stop, runtime, log share (file @begin +size)\n";
  for (const auto& [id, rest] : rows) out << padded(id, width) << "  " << rest << '\n';
}

void print_tallies(std::ostream& out, const reporter::trialkit::TrialKit& job) {
  out << "job result:       " << result_text(job.result()) << '\n'
      << "task results:     " << tally_text(job.field_or_none("summary")) << '\n'
      << "plugin results:   " << tally_text(job.field_or_none("pluginsummary")) << '\n'
      << "health:           " << result_text(job.field_or_none("health_result")) << " ("
      << tally_text(job.field_or_none("health_summary")) << ")\n"
      << "planned tasks:    " << job.field_or_none("totaltasks").to_text() << '\n';
  const Value summary = job.field_or_none("summary");
  if (summary.is_tally()) {
    char weight[32];
    std::snprintf(weight, sizeof weight, "%.2f", summary.as_tally().weight());
    out << "weight:           " << weight << '\n';
  }
}

}  // namespace morvi::examples
