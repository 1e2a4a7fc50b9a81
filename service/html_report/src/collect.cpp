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
#include "morvi/json_stream/field_builder.hpp"
#include "morvi/json_stream/sax_error.hpp"

namespace morvi::service::html_report {

std::int64_t Interner::add(const std::string& text) {
  const auto [it, added] = index_.try_emplace(text, static_cast<std::int64_t>(order_.size()));
  if (added) order_.push_back(&it->first);
  return it->second;
}

namespace {

using json = nlohmann::json;

// Deeper documents are refused, as the results reader refuses them: the page's own walks and
// the field records' texts stay far from any stack limit.
constexpr std::size_t MAX_NESTING = 1000;

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

struct Frame {
  std::size_t index = 0;
  json fields = json::object();
  std::string pending_key;
  bool in_children = false;
  bool fullid_known = false;
  std::string fullid;  // as the page derives it for the node's children
};

class Collector final : public nlohmann::json_sax<json> {
 public:
  explicit Collector(std::string origin) : origin_(std::move(origin)) {}

  ReportData finish() {
    if (!seen_report_) fail("no \"report\" node");
    if (data_.version != "3.4") fail("format version \"" + data_.version + "\", expected \"3.4\"");
    std::sort(data_.slowest.begin(), data_.slowest.end(), std::greater<>());
    // A node closes after its children; the page lists failures from the top down.
    std::sort(data_.failures.begin(), data_.failures.end());
    return std::move(data_);
  }

  bool start_object(std::size_t) override {
    nest();
    if (field_.building() || building_field()) return begin_value(json::object());
    if (!root_open_) {
      root_open_ = true;
      return true;
    }
    if (frames_.empty()) {
      if (root_key_ != "report") return begin_value(json::object());
      if (seen_report_) fail("more than one \"report\"");
      seen_report_ = true;
      open_node();
      return true;
    }
    if (!frames_.back().in_children) fail_at_node("a node object where a field was expected");
    open_node();
    return true;
  }

  bool end_object() override {
    --nesting_;
    if (field_.building()) return end_value();
    if (frames_.empty()) return true;
    close_node();
    return true;
  }

  bool start_array(std::size_t) override {
    nest();
    if (field_.building() || frames_.empty()) return begin_value(json::array());
    Frame& frame = frames_.back();
    if (frame.in_children) fail_at_node("a child list holds a list where a node was expected");
    if (frame.pending_key == "tasks" || frame.pending_key == "sections") {
      frame.pending_key.clear();
      frame.in_children = true;
      settle_fullid(frames_.size() - 1);
      return true;
    }
    return begin_value(json::array());
  }

  bool end_array() override {
    --nesting_;
    if (field_.building()) return end_value();
    if (!frames_.empty()) frames_.back().in_children = false;
    return true;
  }

  bool key(string_t& k) override {
    if (field_.building()) {
      field_.key(k);
    } else if (frames_.empty()) {
      root_key_ = k;
    } else {
      frames_.back().pending_key = k;
    }
    return true;
  }

  bool null() override { return scalar(nullptr); }
  bool boolean(bool v) override { return scalar(v); }
  bool number_integer(number_integer_t v) override { return scalar(v); }
  bool number_unsigned(number_unsigned_t v) override { return scalar(v); }
  bool number_float(number_float_t v, const string_t&) override { return scalar(v); }
  bool string(string_t& v) override { return scalar(v); }
  bool binary(binary_t&) override { return true; }

  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& e) override {
    throw ParseError(json_stream::not_json_message(origin_, position, e));
  }

 private:
  void nest() {
    if (++nesting_ > MAX_NESTING) {
      fail("arrays and objects nest deeper than the limit of " + std::to_string(MAX_NESTING) +
           " levels");
    }
  }

  bool building_field() const { return !frames_.empty() && !frames_.back().pending_key.empty(); }

  // A structured field of the open node, or a root-level value that is not the report.
  bool begin_value(json value) {
    if (field_.building()) {
      field_.nest(std::move(value));
      return true;
    }
    Frame* frame = frames_.empty() ? nullptr : &frames_.back();
    json& slot = frame ? frame->fields[frame->pending_key] : scratch_;
    if (frame) frame->pending_key.clear();
    field_.begin(slot, std::move(value));
    return true;
  }

  bool end_value() {
    field_.end();
    return true;
  }

  bool scalar(json value) {
    if (field_.building()) {
      field_.add(std::move(value));
      return true;
    }
    if (frames_.empty()) {
      if (root_key_ == "version") data_.version = display_text(value);
      return true;
    }
    Frame& frame = frames_.back();
    if (frame.in_children) fail_at_node("a child list holds a value that is not a node");
    frame.fields[frame.pending_key] = std::move(value);
    frame.pending_key.clear();
    return true;
  }

  [[noreturn]] void fail(const std::string& what) const {
    throw ParseError(origin_ + ": not a results document: " + what);
  }

  [[noreturn]] void fail_at_node(const std::string& what) const {
    fail("node '" + node_name(frames_.back()) + "' (node " +
         std::to_string(frames_.back().index + 1) + " of the document): " + what);
  }

  static std::string field_text(const json& fields, const char* name) {
    const auto it = fields.find(name);
    return it == fields.end() ? std::string() : display_text(*it);
  }

  static std::string node_name(const Frame& frame) {
    const std::string fullid = field_text(frame.fields, "fullid");
    return fullid.empty() ? field_text(frame.fields, "id") : fullid;
  }

  void open_node() {
    if (data_.nodes.size() >= 0xFFFFFFFFu) fail("more nodes than a report can show");
    NodeRecord record;
    record.depth = static_cast<std::uint16_t>(frames_.size());
    data_.nodes.push_back(record);
    Frame frame;
    frame.index = data_.nodes.size() - 1;
    frames_.push_back(std::move(frame));
  }

  // The full id the page shows: the node's own, or the one it derives from the ids (a child
  // of the root is named by its id alone, deeper nodes by their parent's full id and theirs).
  std::string derived_fullid(std::size_t level) const {
    const std::string id = field_text(frames_[level].fields, "id");
    if (level <= 1) return id;
    return frames_[level - 1].fullid + "." + id;
  }

  void settle_fullid(std::size_t level) {
    Frame& frame = frames_[level];
    if (frame.fullid_known) return;
    frame.fullid_known = true;
    const std::string derived = derived_fullid(level);
    const auto it = frame.fields.find("fullid");
    if (it == frame.fields.end() || it->is_null()) {
      frame.fullid = derived;
      return;
    }
    frame.fullid = display_text(*it);
    if (frame.fullid != derived) data_.nodes[frame.index].fullid = data_.strings.add(frame.fullid);
  }

  void close_node() {
    const std::size_t level = frames_.size() - 1;
    settle_fullid(level);
    Frame& frame = frames_.back();
    NodeRecord& record = data_.nodes[frame.index];
    const json& fields = frame.fields;
    const std::string type = field_text(fields, "type");
    const std::string id = field_text(fields, "id");
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

    if (record.result == 2 || record.result == 3 || record.result == 4) add_failure(frame, record, reason, result_data);
    if (level == 0) {
      json job = json::object();
      for (const char* name : {"name", "job_type", "starttime", "stoptime", "runtime", "host",
                               "submitter", "totaltasks", "summary", "health_result"}) {
        if (const auto it = fields.find(name); it != fields.end()) job[name] = *it;
      }
      data_.job = embeddable_json(job);
    } else if (level == 1) {
      const auto it = fields.find("summary");
      data_.tasks.push_back("[" + std::to_string(frame.index) + "," +
                            (it == fields.end() ? std::string("null") : embeddable_json(*it)) + "]");
    }
    if (type == "Testcase" && record.runtime_us >= 0) note_runtime(record.runtime_us, frame.index);
    frames_.pop_back();
  }

  void add_failure(const Frame& frame, const NodeRecord& record, const std::string& reason,
                   const json& result_data) {
    const json& fields = frame.fields;
    const auto get = [&](const char* name) {
      const auto it = fields.find(name);
      return it == fields.end() ? json() : *it;
    };
    json entry = json::array({frame.index, RESULT_NAMES[record.result], reason, result_data,
                              get("details"), get("logs"), get("logfile"), get("starttime")});
    data_.failures.emplace_back(frame.index, embeddable_json(entry));
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

  std::string origin_;
  ReportData data_;
  std::vector<Frame> frames_;
  json_stream::FieldBuilder field_;
  json scratch_;
  std::string root_key_;
  std::size_t nesting_ = 0;
  bool root_open_ = false;
  bool seen_report_ = false;
};

}  // namespace

ReportData collect(std::FILE* in, const std::string& origin) {
  Collector collector(origin);
  nlohmann::json::sax_parse(in, &collector);
  return collector.finish();
}

}  // namespace morvi::service::html_report
