// The results document is read as SAX events. A node's own fields are small and are gathered
// whole; its child lists are never held: each child becomes a compact record as it ends.
#include "collect.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string_view>

#include <nlohmann/json.hpp>

#include "json_text.hpp"
#include "morvi/errors.hpp"
#include "morvi/json_stream/results_reader.hpp"

namespace morvi::service::html_report {

std::int64_t Interner::add(const std::string& text) {
  const auto [it, added] = index_.try_emplace(text, static_cast<std::int64_t>(order_.size()));
  if (added) order_.push_back(&it->first);
  return it->second;
}

namespace {

using json = nlohmann::json;

// Fields the compact record carries, or that are unique to each node (its times), are left
// out of the field records, which are shared between nodes that hold the same ones.
bool kept_in_record(std::string_view key) {
  for (const char* name : {"type", "id", "fullid", "idlist", "name", "result", "runtime",
                           "starttime", "stoptime", "tasks", "sections"}) {
    if (key == name) return true;
  }
  return false;
}

int result_code(const std::string& value) {
  for (int i = 0; i < NO_RESULT; ++i) {
    if (value == RESULT_NAMES[i]) return i;
  }
  return -1;
}

// What the page keeps of each open node beside the reader's own fields.
struct OpenNode {
  std::size_t index = 0;
  std::string fullid;  // as the page derives it for the node's children
};

class Collector final : public json_stream::ResultsReader {
 public:
  explicit Collector(std::string origin) : ResultsReader(std::move(origin)) {}

  ReportData finish() {
    std::sort(data_.slowest.begin(), data_.slowest.end(), std::greater<>());
    // A node closes after its children; the page lists failures from the top down.
    std::sort(data_.failures.begin(), data_.failures.end());
    return std::move(data_);
  }

 private:
  static std::string display_field(const json& fields, const char* name) {
    const auto it = fields.find(name);
    return it == fields.end() ? std::string() : display_text(*it);
  }

  void node_opened() override {
    if (data_.nodes.size() >= 0xFFFFFFFFu) fail("more nodes than a report can show");
    NodeRecord record;
    record.depth = static_cast<std::uint16_t>(depth());
    data_.nodes.push_back(record);
    open_.push_back(OpenNode{data_.nodes.size() - 1, {}});
  }

  // The full id the page shows: the node's own, or the one it derives from the ids (a child
  // of the root is named by its id alone, deeper nodes by their parent's full id and theirs).
  std::string derived_fullid() const {
    const std::string id = display_field(fields(), "id");
    if (depth() <= 1) return id;
    return open_[open_.size() - 2].fullid + "." + id;
  }

  void fields_known() override {
    OpenNode& node = open_.back();
    const std::string derived = derived_fullid();
    const auto it = fields().find("fullid");
    if (it == fields().end() || it->is_null()) {
      node.fullid = derived;
      return;
    }
    node.fullid = display_text(*it);
    if (node.fullid != derived) data_.nodes[node.index].fullid = data_.strings.add(node.fullid);
  }

  void node_closed() override {
    const std::size_t level = depth();
    const OpenNode& node = open_.back();
    NodeRecord& record = data_.nodes[node.index];
    const json& fields = this->fields();
    const std::string type = display_field(fields, "type");
    const std::string id = display_field(fields, "id");
    record.type = data_.strings.add(type);
    record.id = data_.strings.add(id);
    if (const auto it = fields.find("name"); it != fields.end()) {
      const std::string name = display_text(*it);
      if (name != id) record.name = data_.strings.add(name);
    }
    if (const auto it = fields.find("runtime"); it != fields.end() && it->is_number()) {
      const double seconds = it->get<double>();
      if (std::isfinite(seconds) && seconds >= 0 && seconds < 1e12) {
        record.runtime_us = std::llround(seconds * 1e6);
      }
    }
    std::string reason;
    json result_data;
    if (const auto it = fields.find("result"); it != fields.end() && !it->is_null()) {
      if (!it->is_object() || !it->contains("value") || !(*it)["value"].is_string()) {
        fail_at_node("\"result\" is not a result object");
      }
      const std::string value = (*it)["value"].get<std::string>();
      const int code = result_code(value);
      if (code < 0) fail_at_node("unknown result \"" + value + "\"");
      record.result = static_cast<std::uint8_t>(code);
      if (const auto r = it->find("reason"); r != it->end()) reason = display_text(*r);
      if (const auto d = it->find("data"); d != it->end()) result_data = *d;
    }

    json kept = json::object();
    for (const auto& [key, value] : fields.items()) {
      if (!kept_in_record(key)) kept[key] = value;
    }
    if (!kept.empty()) record.fields = data_.fields.add(embeddable_json(kept));

    if (record.result == 2 || record.result == 3 || record.result == 4) add_failure(node.index, fields, record, reason, result_data);
    if (level == 0) {
      json job = json::object();
      for (const char* name : {"name", "job_type", "starttime", "stoptime", "runtime", "host",
                               "submitter", "totaltasks", "summary", "health_result"}) {
        if (const auto it = fields.find(name); it != fields.end()) job[name] = *it;
      }
      data_.job = embeddable_json(job);
    } else if (level == 1) {
      const auto it = fields.find("summary");
      data_.tasks.push_back("[" + std::to_string(node.index) + "," +
                            (it == fields.end() ? std::string("null") : embeddable_json(*it)) + "]");
    }
    if (type == "Testcase" && record.runtime_us >= 0) note_runtime(record.runtime_us, node.index);
    open_.pop_back();
  }

  void add_failure(std::size_t index, const json& fields, const NodeRecord& record,
                   const std::string& reason, const json& result_data) {
    const auto get = [&](const char* name) {
      const auto it = fields.find(name);
      return it == fields.end() ? json() : *it;
    };
    json entry = json::array({index, RESULT_NAMES[record.result], reason, result_data,
                              get("details"), get("logs"), get("logfile"), get("starttime")});
    data_.failures.emplace_back(index, embeddable_json(entry));
  }

  // The slowest testcases, kept as a min-heap of SLOWEST_SHOWN entries.
  void note_runtime(std::int64_t runtime, std::size_t index) {
    auto& heap = data_.slowest;
    const auto later = std::greater<>();
    if (heap.size() < SLOWEST_SHOWN) {
      heap.emplace_back(runtime, index);
      std::push_heap(heap.begin(), heap.end(), later);
    } else if (runtime > heap.front().first) {
      std::pop_heap(heap.begin(), heap.end(), later);
      heap.back() = {runtime, index};
      std::push_heap(heap.begin(), heap.end(), later);
    }
  }

  ReportData data_;
  std::vector<OpenNode> open_;
};

}  // namespace

ReportData collect(std::FILE* in, const std::string& origin) {
  Collector collector(origin);
  collector.read(in);
  return collector.finish();
}

}  // namespace morvi::service::html_report
