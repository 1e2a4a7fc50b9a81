#include "morvi/service/merge/merge.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "json_nodes.hpp"
#include "morvi/errors.hpp"
#include "morvi/reporter/schema/fast_check.hpp"
#include "morvi/reporter/schema/results_json.hpp"
#include "morvi/utils/atomic_file.hpp"
#include "morvi/utils/deep_stack.hpp"

namespace morvi::service::merge {
namespace {

namespace schema = reporter::schema;
using reporter::trialkit::NodeKind;
using reporter::trialkit::node_of;
using reporter::trialkit::Options;
using reporter::trialkit::ReportObjectBase;
using reporter::trialkit::TrialKit;

// The job's own fields that the merge rebuilds instead of taking them from the first file.
constexpr std::string_view kRebuiltJobFields[] = {
    "summary", "pluginsummary", "health_result", "health_summary", "totaltasks",
    "starttime", "stoptime", "runtime"};
// A rerun task's fields that its roll-up rebuilds from its merged children.
constexpr std::string_view kRebuiltTaskFields[] = {
    "result", "health_result", "summary", "pluginsummary", "health_summary"};

// The member `key` of an object, null when it has none.
const Json& member(const Json& object, const char* key) {
  static const Json null;
  const auto found = object.find(key);
  return found == object.end() ? null : *found;
}

std::string quoted(const Json& json) { return plain_value(json).to_repr(); }

// What a node of the job's `tasks` list is, in the words of error messages.
const char* kind_word(const Json& child) {
  return child.contains("pluginsummary") ? "task" : "plugin";
}

// One earlier attempt as its replacement remembers it: its result and times.
Json attempt_of(const Json& node) {
  Json attempt = Json::object();
  for (const char* key : {"result", "starttime", "stoptime", "runtime"}) {
    if (const auto found = node.find(key); found != node.end()) attempt[key] = *found;
  }
  return attempt;
}

// `replacement`'s extra with "previous_attempts" listing `earlier`'s attempts, oldest first:
// those it remembered itself, then its own, then any the replacement already carried.
Json extra_with_previous(const Json& replacement, const Json& earlier) {
  Json extra = replacement.value("extra", Json::object());
  if (!extra.is_object()) extra = Json::object();
  Json attempts = Json::array();
  const Json earlier_extra = earlier.value("extra", Json::object());
  if (earlier_extra.is_object()) {
    const Json before = earlier_extra.value("previous_attempts", Json::array());
    if (before.is_array()) attempts = before;
  }
  attempts.push_back(attempt_of(earlier));
  const Json carried = extra.value("previous_attempts", Json::array());
  if (carried.is_array()) attempts.insert(attempts.end(), carried.begin(), carried.end());
  extra["previous_attempts"] = std::move(attempts);
  return extra;
}

Json with_previous(const Json& replacement, const Json& earlier) {
  Json node = replacement;
  node["extra"] = extra_with_previous(replacement, earlier);
  return node;
}

// A node's subtree as its JSON object, read back from the package's own writer.
Json json_of(const ReportObjectBase& node) {
  Json document = schema::parse_results_json_ordered(node.dump_json(), "merged node");
  return std::move(document["report"]);
}

// A job-level plugin's health tally is not part of the document, yet the job's roll-up adds
// it up. It is what its sections' roll-up left in it: replayed on a scratch copy of them.
void restore_health_tally(ReportObjectBase& plugin) {
  auto scratch_job = TrialKit::create(Value("scratch"), Value(0));
  auto scratch = scratch_job->add_plugin(Value("scratch"), Value(0));
  for (const Value& child : plugin.children()) {
    const ReportObjectBase& section = node_of(child);
    auto copy = scratch->add_section(section.id(), Value(0));
    for (const char* field : {"result", "extra", "health_result", "health_summary"}) {
      if (const auto value = section.field(field)) copy->set_field(field, *value);
    }
    copy->roll_up();
  }
  plugin.set_field("health_summary", scratch->field_or_none("health_summary"));
}

class Merger {
 public:
  explicit Merger(const MergeOptions& options) : options_(options) {}

  void add(const std::string& path) {
    const std::string text = schema::read_text_file(path);
    const Json document = schema::parse_results_json_ordered(text, path);
    check_version(document, path);
    if (const auto problems = schema::validate_results_text(text, path)) {
      throw ParseError(path + ": not a valid results document:\n" + *problems);
    }
    const Json& report = member(document, "report");
    if (!job_) {
      job_ = TrialKit::create(plain_value(member(report, "id")), Value(0),
                              report.contains("type") ? plain_value(member(report, "type")) : Value());
      set_fields(*job_, report, path, kRebuiltJobFields);
    }
    span_times(report, path);
    if (const auto total = report.find("totaltasks"); total != report.end() && total->is_number())
      total_tasks_ += total->get<std::int64_t>();
    const Json& tasks = member(report, "tasks");
    for (std::size_t i = 0; tasks.is_array() && i < tasks.size(); ++i) add_child(tasks[i], path, i);
    ++files_;
  }

  std::shared_ptr<TrialKit> finish() {
    if (!job_) throw ArgumentError("no results files to merge");
    for (const Value& child : job_->children()) {
      ReportObjectBase& node = node_of(child);
      if (node.node_kind() == NodeKind::Plugin) restore_health_tally(node);
    }
    // The package's own stop of a job that was never started: roll-up, totaltasks and the
    // summary's weight, no times; the times are the shards' span.
    Options stop;
    stop.set("num_tasks", Value(static_cast<long long>(total_tasks_)));
    job_->stop(std::move(stop));
    if (start_) job_->set_field("starttime", Value(*start_));
    if (stop_) job_->set_field("stoptime", Value(*stop_));
    if (start_ && stop_) job_->set_field("runtime", Value(stop_->seconds_since(*start_)));
    return std::move(job_);
  }

 private:
  struct Seen {
    std::size_t file;
    std::string origin;
    ReportObjectBase* node;
  };

  void check_version(const Json& document, const std::string& path) {
    if (!document.is_object() || !document.contains("version")) return;  // the schema says so
    const std::string version = quoted(member(document, "version"));
    if (files_ == 0) {
      version_ = version;
      first_ = path;
    } else if (version != version_) {
      throw ParseError(path + ": format version " + version + " differs from " + first_ +
                       "'s " + version_);
    }
  }

  void span_times(const Json& report, const std::string& path) {
    const auto read = [&](const char* key) -> std::optional<DateTime> {
      const auto found = report.find(key);
      if (found == report.end() || found->is_null()) return std::nullopt;
      auto time = found->is_string() ? parse_datetime(found->get_ref<const std::string&>())
                                     : std::nullopt;
      if (!time) {
        throw ParseError(path + ": job " + quoted(member(report, "id")) + ": " + key + " " +
                         quoted(*found) + " is not a date-time");
      }
      return time;
    };
    const auto later = [&](const DateTime& a, const DateTime& b) {
      try {
        return a.seconds_since(b) > 0;
      } catch (const TypeError&) {
        throw ParseError(path + ": job " + quoted(member(report, "id")) +
                         ": its times carry no UTC offset and the other files' do, or the "
                         "other way round; they cannot be compared");
      }
    };
    if (const auto start = read("starttime"); start && (!start_ || later(*start_, *start)))
      start_ = start;
    if (const auto stop = read("stoptime"); stop && (!stop_ || later(*stop, *stop_)))
      stop_ = stop;
  }

  void add_child(const Json& child, const std::string& path, std::size_t index) {
    const std::string key = quoted(member(child, "id"));
    const auto seen = seen_.find(key);
    if (seen == seen_.end() || seen->second.file == files_) {
      ReportObjectBase& node = build_child(*job_, child, path);
      if (seen == seen_.end()) seen_.emplace(key, Seen{files_, path, &node});
      return;
    }
    if (!options_.rerun) {
      throw ParseError(path + ": " + kind_word(child) + " " + key + " (/report/tasks/" +
                       std::to_string(index) + ") is also in " + seen->second.origin +
                       "; --rerun lets a later file replace it");
    }
    ReportObjectBase& earlier = *seen->second.node;
    const Json earlier_json = json_of(earlier);
    ReportObjectBase* replacement;
    if (earlier.node_kind() == NodeKind::Task && child.contains("pluginsummary")) {
      replacement = &merge_task(earlier_json, child, path);
    } else {
      replacement = &build_child(*job_, with_previous(child, earlier_json), path);
    }
    put_in_place_of(earlier);
    seen->second = Seen{files_, path, replacement};
  }

  // The rerun of a task: the later attempt's fields, the earlier one's testcases with those
  // the later one ran again replaced, then the testcases new in the later one; tallies,
  // result and health rolled up anew from them.
  ReportObjectBase& merge_task(const Json& earlier, const Json& later, const std::string& path) {
    auto task = job_->add_task(plain_value(member(later, "id")), Value(0),
                               later.contains("type") ? plain_value(member(later, "type")) : Value());
    set_fields(*task, later, path, kRebuiltTaskFields);
    task->set_field("extra", plain_value(extra_with_previous(later, earlier)));
    const Json no_sections = Json::array();
    const Json& before = earlier.contains("sections") ? member(earlier, "sections") : no_sections;
    const Json& again = later.contains("sections") ? member(later, "sections") : no_sections;
    std::vector<bool> used(again.size(), false);
    for (const Json& section : before) {
      std::size_t match = 0;
      while (match < again.size() &&
             (used[match] || quoted(member(again[match], "id")) != quoted(member(section, "id")))) {
        ++match;
      }
      if (match == again.size()) {
        build_child(*task, section, path);
      } else {
        used[match] = true;
        build_child(*task, with_previous(again[match], section), path);
      }
    }
    for (std::size_t i = 0; i < again.size(); ++i) {
      if (!used[i]) build_child(*task, again[i], path);
    }
    task->roll_up();
    return *task;
  }

  // Moves the job's last child, its replacement, into the place of `earlier`, which leaves.
  void put_in_place_of(const ReportObjectBase& earlier) {
    List tasks = job_->children();
    std::size_t at = 0;
    while (&node_of(tasks[at]) != &earlier) ++at;
    tasks[at] = std::move(tasks.back());
    tasks.pop_back();
    job_->set_field("tasks", Value(std::move(tasks)));
  }

  const MergeOptions& options_;
  std::shared_ptr<TrialKit> job_;
  std::size_t files_ = 0;
  std::string first_;
  std::string version_;
  std::unordered_map<std::string, Seen> seen_;
  std::optional<DateTime> start_;
  std::optional<DateTime> stop_;
  std::int64_t total_tasks_ = 0;
};

}  // namespace

std::shared_ptr<TrialKit> merge_results(const std::vector<std::string>& inputs,
                                        const MergeOptions& options) {
  Merger merger(options);
  // Copying and converting a document's values recurses with their nesting.
  utils::on_deep_stack([&] {
    for (const std::string& input : inputs) merger.add(input);
  });
  return merger.finish();
}

void merge_files(const std::vector<std::string>& inputs, const std::string& output,
                 const MergeOptions& options) {
  utils::write_file_atomically(output, merge_results(inputs, options)->dump_json());
}

}  // namespace morvi::service::merge
