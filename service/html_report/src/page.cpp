#include "page.hpp"

#include <cerrno>
#include <system_error>

#include "json_text.hpp"
#include "page_assets.hpp"

namespace morvi::service::html_report {

namespace {

// Output gathered in a buffer and written in large pieces.
class Sink {
 public:
  explicit Sink(std::FILE* out) : out_(out) { buffer_.reserve(kChunk + 4096); }
  ~Sink() = default;
  std::string& buffer() { return buffer_; }
  void maybe_flush() {
    if (buffer_.size() >= kChunk) flush();
  }
  void flush() {
    if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), out_) != buffer_.size()) {
      throw std::system_error(errno, std::generic_category(), "writing the HTML report");
    }
    buffer_.clear();
  }

 private:
  static constexpr std::size_t kChunk = 1 << 20;
  std::FILE* out_;
  std::string buffer_;
};

void append_number(std::string& out, std::int64_t n) { out += std::to_string(n); }

// One node as [depth, type, id, result, runtime, fields, name, fullid], trailing -1s left out.
void append_node(std::string& out, const NodeRecord& node) {
  out += '[';
  append_number(out, node.depth);
  out += ',';
  append_number(out, node.type);
  out += ',';
  append_number(out, node.id);
  out += ',';
  append_number(out, node.result);
  out += ',';
  append_number(out, node.runtime_us);
  const std::int64_t tail[] = {node.fields, node.name, node.fullid};
  std::size_t shown = 3;
  while (shown > 0 && tail[shown - 1] < 0) --shown;
  for (std::size_t i = 0; i < shown; ++i) {
    out += ',';
    append_number(out, tail[i]);
  }
  out += ']';
}

template <class Items, class Append>
void append_list(Sink& sink, const char* key, const Items& items, Append append) {
  std::string& out = sink.buffer();
  out += ",\n\"";
  out += key;
  out += "\":[";
  bool first = true;
  for (const auto& item : items) {
    if (!first) out += ",\n";
    first = false;
    append(out, item);
    sink.maybe_flush();
  }
  out += ']';
}

}  // namespace

void write_page(std::FILE* out, const ReportData& data, const std::string& source_name) {
  Sink sink(out);
  std::string& text = sink.buffer();
  std::string title = "morvi report";
  if (!data.strings.texts().empty() && !data.nodes.empty()) {
    title = *data.strings.texts()[static_cast<std::size_t>(data.nodes.front().id)] + " - " + title;
  }
  text += PAGE_HEAD_BEFORE_TITLE;
  text += html_escaped(title);
  text += PAGE_HEAD_AFTER_TITLE;
  text += "{\"version\":";
  append_json_string(text, data.version);
  text += ",\"source\":";
  append_json_string(text, source_name);
  text += ",\"results\":[";
  for (int i = 0; i < NO_RESULT; ++i) {
    if (i) text += ',';
    append_json_string(text, RESULT_NAMES[i]);
  }
  text += "],\n\"job\":";
  text += data.job.empty() ? "{}" : data.job;
  append_list(sink, "strings", data.strings.texts(),
              [](std::string& o, const std::string* s) { append_json_string(o, *s); });
  append_list(sink, "fields", data.fields.texts(), [](std::string& o, const std::string* s) { o += *s; });
  append_list(sink, "tasks", data.tasks, [](std::string& o, const std::string& s) { o += s; });
  append_list(sink, "failures", data.failures, [](std::string& o, const auto& entry) { o += entry.second; });
  append_list(sink, "slowest", data.slowest,
              [](std::string& o, const auto& entry) { o += std::to_string(entry.second); });
  append_list(sink, "nodes", data.nodes, append_node);
  text += "}";
  text += PAGE_TAIL;
  sink.flush();
}

}  // namespace morvi::service::html_report
