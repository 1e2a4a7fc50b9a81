// The results document is read as a stream of SAX events: a node's own fields are small and
// are gathered whole, its child lists are never held, so memory stays bounded by one task's
// XML however large the job is.
#include "morvi/service/junit/export.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "morvi/errors.hpp"
#include "morvi/json_stream/results_reader.hpp"
#include "output_files.hpp"
#include "xml_text.hpp"

namespace morvi::service::junit {

namespace {

using json = nlohmann::json;

enum class Role { TrialKit, Task, Plugin, Testcase, Step };
enum class Outcome { Pass, Failure, Error, Skipped };

struct CaseOutcome {
  Outcome outcome = Outcome::Skipped;
  std::string value;  // the result's name, "" when the node holds none
};

// passed and passx pass; failed fails; errored and aborted are errors; skipped and blocked are
// skipped; a node without a result was never decided and counts as skipped.
Outcome outcome_of(const std::string& value) {
  if (value == "passed" || value == "passx") return Outcome::Pass;
  if (value == "failed") return Outcome::Failure;
  if (value == "errored" || value == "aborted") return Outcome::Error;
  return Outcome::Skipped;
}

bool known_result(const std::string& value) {
  for (const char* name : {"passed", "passx", "failed", "errored", "aborted", "blocked", "skipped"}) {
    if (value == name) return true;
  }
  return false;
}

using json_stream::field_text;
using json_stream::text_of;

double runtime_of(const json& fields) {
  const auto it = fields.find("runtime");
  const double value = it != fields.end() && it->is_number() ? it->get<double>() : 0.0;
  return std::isfinite(value) && value >= 0 ? value : 0.0;
}

// Fixed-point with three decimals, as the time attribute takes no exponent. A schema
// processor need accept no more than 18 digits in a decimal (libxml2 refuses past 24), so
// a runtime beyond 999,999,999,999,999 seconds, which only a broken clock gives, is written
// as the largest time below that a double holds.
std::string seconds_text(double value) {
  constexpr double kLongest = 999999999999999.875;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f", std::min(value, kLongest));
  return buffer;
}

std::string seconds(const json& fields) { return seconds_text(runtime_of(fields)); }

// "2026-12-08 16:56:20.212182+00:00" as the xs:dateTime prefix junit-4 allows.
std::string timestamp(const json& fields) {
  std::string text = field_text(fields, "starttime");
  if (text.size() < 19) return {};
  text.resize(19);
  text[10] = 'T';
  return text;
}

// `text` with `margin` after each of its line ends, so that a multi-line reason or detail
// stays inside its step's lines of the log.
std::string continued(const std::string& text, const std::string& margin) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    out += c;
    if (c == '\n') out += margin;
  }
  return out;
}

void attribute(std::string& out, const char* name, std::string_view value) {
  out += ' ';
  out += name;
  out += "=\"";
  append_xml_attribute(out, value);
  out += '"';
}

// Text kept up to a byte limit, counting what was cut.
struct BoundedText {
  std::string text;
  std::size_t cut = 0;

  void append(std::string_view more, std::size_t limit) {
    if (cut > 0 || text.size() >= limit) {
      cut += more.size();
      return;
    }
    const std::size_t room = limit - text.size();
    const std::size_t kept = utf8_cut(more, room);
    text.append(more.substr(0, kept));
    cut += more.size() - kept;
  }
  std::string finished() const {
    if (cut == 0) return text;
    return text + "\n[... " + std::to_string(cut) + " more bytes cut]";
  }
};

struct Case {
  std::string classname;
  std::string name;
  double time = 0.0;
  CaseOutcome result;
  std::string reason;
  BoundedText details;
  BoundedText log;
};

// A suite as it is written: the testcases of its current part are held until the part is
// written, when the suite ends or when its file is full.
struct Suite {
  std::string name;
  std::string time;
  std::string timestamp;
  std::string properties;
  std::string body;
  ExportCounts counts;    // of the current part
  double case_seconds = 0.0;  // of the current part
  bool spans_files = false;
  bool written = false;
};

// The open node as the writer looks at it.
struct NodeView {
  Role role;
  std::size_t depth;
  const json& fields;
};

class JunitWriter final : public json_stream::ResultsReader {
 public:
  JunitWriter(std::string input, OutputFiles& files, const ExportOptions& options)
      : ResultsReader(std::move(input)), files_(files), options_(options) {}

  ExportCounts counts() const { return totals_; }
  void finish() {
    // A job without suites still gets its (empty) file.
    if (totals_.suites == 0) emit("");
    end_file();
  }

 private:
  void node_opened() override {
    if (roles_.empty()) {
      roles_.push_back(Role::TrialKit);
    } else {
      roles_.push_back(child_role(roles_.back()));
    }
  }

  // A child's role by its place; fields_known corrects it once the child's type is read.
  static Role child_role(Role parent) {
    switch (parent) {
      case Role::TrialKit: return Role::Task;
      case Role::Task: return Role::Testcase;
      default: return Role::Step;
    }
  }

  NodeView current() const { return {roles_.back(), depth(), fields()}; }

  void fields_known() override {
    // A child's role by position, corrected by its type: plugins are their own suites.
    Role& role = roles_.back();
    if ((role == Role::Task || role == Role::Testcase) && field_text(fields(), "type") == "Plugin") {
      role = Role::Plugin;
    }
    const NodeView node = current();
    switch (node.role) {
      case Role::TrialKit:
        hostname_ = field_text(node.fields, "host");
        file_head_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites";
        attribute(file_head_, "name", node_name(node));
        file_head_ += ">\n";
        break;
      case Role::Task: open_suite(node); break;
      case Role::Plugin: open_suite(node); open_case(node); break;
      case Role::Testcase: open_case(node); break;
      case Role::Step: log_step(node); break;
    }
  }

  void node_closed() override {
    switch (roles_.back()) {
      case Role::TrialKit: break;
      case Role::Task: close_suite(); break;
      case Role::Plugin: close_case(); close_suite(); break;
      case Role::Testcase: close_case(); break;
      case Role::Step: break;
    }
    roles_.pop_back();
  }

  static std::string node_name(const NodeView& node) {
    const std::string fullid = field_text(node.fields, "fullid");
    return fullid.empty() ? field_text(node.fields, "id") : fullid;
  }

  CaseOutcome result_of(const NodeView& node, std::string& reason) const {
    CaseOutcome result;
    const auto it = node.fields.find("result");
    if (it == node.fields.end() || it->is_null()) return result;
    if (!it->is_object() || !it->contains("value") || !(*it)["value"].is_string()) {
      fail_at_node("\"result\" is not a result object");
    }
    result.value = (*it)["value"].get<std::string>();
    if (!known_result(result.value)) fail_at_node("unknown result \"" + result.value + "\"");
    result.outcome = outcome_of(result.value);
    if (it->contains("reason")) reason = text_of((*it)["reason"]);
    return result;
  }

  void open_suite(const NodeView& node) {
    Suite suite;
    suite.name = node_name(node);
    suite.time = seconds(node.fields);
    suite.timestamp = timestamp(node.fields);
    if (const auto it = node.fields.find("extra"); it != node.fields.end() && it->is_object()) {
      for (const auto& [key, value] : it->items()) {
        if (value.is_structured()) continue;
        suite.properties += "      <property";
        attribute(suite.properties, "name", key);
        attribute(suite.properties, "value", text_of(value));
        suite.properties += "/>\n";
      }
    }
    suites_.push_back(std::move(suite));
  }

  void close_suite() {
    Suite& suite = suites_.back();
    // The last part, unless the suite's testcases all went out with full files already.
    if (suite.counts.tests > 0 || !suite.written) write_part(suite);
    totals_.suites += 1;
    suites_.pop_back();
  }

  // A suite that spans files carries in each the time of its testcases there, so that the
  // parts add up to the suite's testcases however a reader joins them.
  void write_part(Suite& suite) {
    std::string head = "  <testsuite";
    attribute(head, "name", suite.name);
    attribute(head, "tests", std::to_string(suite.counts.tests));
    attribute(head, "failures", std::to_string(suite.counts.failures));
    attribute(head, "errors", std::to_string(suite.counts.errors));
    attribute(head, "skipped", std::to_string(suite.counts.skipped));
    attribute(head, "time", suite.spans_files ? seconds_text(suite.case_seconds) : suite.time);
    if (!suite.timestamp.empty()) attribute(head, "timestamp", suite.timestamp);
    attribute(head, "hostname", hostname_.empty() ? "localhost" : hostname_);
    head += ">\n";
    if (!suite.properties.empty()) head += "    <properties>\n" + suite.properties + "    </properties>\n";
    emit(head);
    emit(suite.body);
    emit("  </testsuite>\n");
    suite.body.clear();
    suite.counts = {};
    suite.case_seconds = 0.0;
    suite.written = true;
  }

  // The current file is full: the suites still open write what they hold of it and continue
  // in the next file.
  void next_file() {
    for (Suite& suite : suites_) {
      if (suite.counts.tests == 0) continue;
      suite.spans_files = true;
      write_part(suite);
    }
    end_file();
    file_cases_ = 0;
  }

  void end_file() {
    if (!files_.writing()) return;
    files_.write("</testsuites>\n");
    files_.finish();
  }

  void open_case(const NodeView& node) {
    Case c;
    std::vector<std::string> ids;
    if (const auto it = node.fields.find("idlist"); it != node.fields.end() && it->is_array()) {
      for (const auto& id : *it) ids.push_back(text_of(id));
    }
    if (ids.size() > 1) ids.pop_back();
    for (std::size_t i = 0; i < ids.size(); ++i) c.classname += (i ? "." : "") + ids[i];
    if (c.classname.empty()) c.classname = node_name(node);
    c.name = field_text(node.fields, "name");
    if (c.name.empty()) c.name = field_text(node.fields, "id");
    c.time = runtime_of(node.fields);
    c.result = result_of(node, c.reason);
    if (const auto it = node.fields.find("details"); it != node.fields.end() && it->is_array()) {
      for (const auto& detail : *it) {
        if (!c.details.text.empty()) c.details.append("\n", options_.max_output_bytes);
        c.details.append(text_of(detail), options_.max_output_bytes);
      }
    }
    case_depth_ = node.depth;
    case_ = std::make_unique<Case>(std::move(c));
  }

  void log_step(const NodeView& node) {
    if (!case_) return;
    std::string reason;
    const CaseOutcome result = result_of(node, reason);
    const std::string indent(2 * (node.depth - case_depth_ - 1), ' ');
    std::string line = indent + "- " + field_text(node.fields, "name") + ": " +
                       (result.value.empty() ? "no result" : result.value);
    const std::string margin = indent + "    ";
    if (!reason.empty()) line += " (" + continued(reason, margin) + ")";
    line += " [" + seconds(node.fields) + " s]\n";
    if (const auto it = node.fields.find("details"); it != node.fields.end() && it->is_array()) {
      for (const auto& detail : *it) line += margin + continued(text_of(detail), margin) + "\n";
    }
    case_->log.append(line, options_.max_output_bytes);
  }

  void close_case() {
    if (options_.split > 0 && file_cases_ == options_.split) next_file();
    const Case& c = *case_;
    Suite& suite = suites_.back();
    std::string& out = suite.body;
    out += "    <testcase";
    attribute(out, "classname", c.classname);
    attribute(out, "name", c.name);
    attribute(out, "time", seconds_text(c.time));
    out += ">\n";
    const char* element = nullptr;
    switch (c.result.outcome) {
      case Outcome::Pass: break;
      case Outcome::Failure: element = "failure"; suite.counts.failures += 1; break;
      case Outcome::Error: element = "error"; suite.counts.errors += 1; break;
      case Outcome::Skipped: element = "skipped"; suite.counts.skipped += 1; break;
    }
    if (element) {
      out += "      <";
      out += element;
      const std::string message = !c.reason.empty()       ? c.reason
                                  : c.result.value.empty() ? std::string("no result recorded")
                                                           : c.result.value;
      attribute(out, "message", message);
      if (!c.result.value.empty()) attribute(out, "type", c.result.value);
      const std::string details = c.details.finished();
      if (details.empty()) {
        out += "/>\n";
      } else {
        out += '>';
        append_xml_text(out, details);
        out += "</";
        out += element;
        out += ">\n";
      }
    }
    const std::string log = c.log.finished();
    if (!log.empty()) {
      out += "      <system-out>";
      append_xml_text(out, log);
      out += "</system-out>\n";
    }
    out += "    </testcase>\n";
    suite.counts.tests += 1;
    suite.case_seconds += c.time;
    file_cases_ += 1;
    totals_.tests += 1;
    totals_.failures += c.result.outcome == Outcome::Failure;
    totals_.errors += c.result.outcome == Outcome::Error;
    totals_.skipped += c.result.outcome == Outcome::Skipped;
    case_.reset();
  }

  // Writes into the current file, starting the next one when none is open.
  void emit(const std::string& text) {
    if (!files_.writing()) {
      files_.start();
      files_.write(file_head_);
    }
    files_.write(text);
  }

  OutputFiles& files_;
  ExportOptions options_;
  std::vector<Role> roles_;  // of the open nodes, the report first
  std::string hostname_;
  std::string file_head_;
  std::size_t file_cases_ = 0;
  std::vector<Suite> suites_;
  std::unique_ptr<Case> case_;
  std::size_t case_depth_ = 0;
  ExportCounts totals_;
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

ExportCounts export_junit(const std::string& input, const std::string& output,
                          const ExportOptions& options) {
  std::unique_ptr<std::FILE, FileCloser> in(std::fopen(input.c_str(), "rb"));
  if (!in) throw std::system_error(errno, std::generic_category(), "cannot open " + input);
  OutputFiles files(output, options.split > 0);
  JunitWriter writer(input, files, options);
  writer.read(in.get());
  writer.finish();
  ExportCounts counts = writer.counts();
  counts.files = files.commit();
  return counts;
}

}  // namespace morvi::service::junit
