#include "morvi/json_stream/results_reader.hpp"

#include <system_error>

#include "file_input.hpp"
#include "morvi/errors.hpp"
#include "morvi/json_stream/sax_error.hpp"
#include "morvi/utils/deep_stack.hpp"

namespace morvi::json_stream {

std::string text_of(const nlohmann::json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_null()) return {};
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string field_text(const nlohmann::json& fields, const char* name) {
  const auto it = fields.find(name);
  return it == fields.end() ? std::string() : text_of(*it);
}

void ResultsReader::read(std::FILE* in) {
  FileInput input(in);
  input_ = &input;
  numbers_ = 0;
  // The parser keeps its place on the heap, but the readers' own work on a field (dumping it
  // as text, copying it) recurses with its nesting.
  utils::on_deep_stack([&] { json::sax_parse(input.stream(), this); });
  if (std::ferror(input.stream()) || !std::feof(input.stream()))
    refuse_unread_input(" at byte " + std::to_string(std::ftell(input.stream())));
  input_ = nullptr;
  if (!seen_report_) fail("no \"report\" node");
  // The version as it stands in the document (a number 3.4 is not the text "3.4").
  if (version_ != "\"3.4\"") {
    fail(version_.empty() ? std::string("no \"version\"")
                          : "format version " + version_ + ", expected \"3.4\"");
  }
}

bool ResultsReader::start_object(std::size_t) {
  nest();
  const bool field_value = !nodes_.empty() && nodes_.back().key_pending;
  if (field_.building() || field_value) return begin_value(json::object());
  if (!root_open_) {
    root_open_ = true;
    return true;
  }
  if (nodes_.empty()) {
    if (root_key_ != "report") return begin_value(json::object());
    if (seen_report_) fail("more than one \"report\"");
    seen_report_ = true;
  } else if (!nodes_.back().in_children) {
    fail_at_node("a node object where a field was expected");
  }
  open_node();
  return true;
}

bool ResultsReader::end_object() {
  --nesting_;
  if (field_.building()) {
    field_.end();
    return true;
  }
  if (nodes_.empty()) return true;
  announce_fields();
  node_closed();
  nodes_.pop_back();
  return true;
}

bool ResultsReader::start_array(std::size_t) {
  nest();
  if (field_.building() || nodes_.empty()) return begin_value(json::array());
  Node& node = nodes_.back();
  if (node.in_children) fail_at_node("a child list holds a list where a node was expected");
  if (node.pending_key == "tasks" || node.pending_key == "sections") {
    node.pending_key.clear();
    node.key_pending = false;
    node.in_children = true;
    announce_fields();
    return true;
  }
  return begin_value(json::array());
}

bool ResultsReader::end_array() {
  --nesting_;
  if (field_.building()) {
    field_.end();
  } else if (!nodes_.empty()) {
    nodes_.back().in_children = false;
  }
  return true;
}

bool ResultsReader::key(string_t& k) {
  if (field_.building()) {
    field_.key(k);
  } else if (nodes_.empty()) {
    root_key_ = k;
  } else {
    nodes_.back().pending_key = k;
    nodes_.back().key_pending = true;
  }
  return true;
}

bool ResultsReader::parse_error(std::size_t position, const std::string&,
                                const nlohmann::detail::exception& e) {
  if (std::string_view(e.what()).find("unexpected end of input") != std::string_view::npos)
    refuse_unread_input(" at byte " + std::to_string(position));
  throw ParseError(not_json_message(origin_, position, e));
}

// The parser ends its input where reading fails (a folder, a failing disk) and at a NUL byte,
// both as if the file ended there: either is named as what it is, not as a document cut short.
void ResultsReader::refuse_unread_input(const std::string& where) const {
  if (input_->error() != 0)
    throw std::system_error(input_->error(), std::generic_category(), "cannot read " + origin_);
  if (!std::feof(input_->stream())) {
    throw ParseError(origin_ + ": not a JSON document" + where +
                     ": a NUL byte outside a string is not JSON");
  }
}

bool ResultsReader::number(json value) {
  if (const auto real = input_->patched(numbers_++)) value = *real;
  return scalar(std::move(value));
}

void ResultsReader::fail(const std::string& what) const {
  throw ParseError(origin_ + ": not a results document: " + what);
}

void ResultsReader::fail_at_node(const std::string& what) const {
  const json& own = fields();
  std::string name = field_text(own, "fullid");
  if (name.empty()) name = field_text(own, "id");
  fail("node '" + name + "' (node " + std::to_string(nodes_.back().number) +
       " of the document): " + what);
}

void ResultsReader::nest() {
  if (++nesting_ > MAX_NESTING) {
    fail("arrays and objects nest deeper than the limit of " + std::to_string(MAX_NESTING) +
         " levels");
  }
}

bool ResultsReader::scalar(json value) {
  if (field_.building()) {
    field_.add(std::move(value));
    return true;
  }
  if (nodes_.empty()) {
    if (root_key_ == "version") {
      version_ = value.dump(-1, ' ', false, json::error_handler_t::replace);
    }
    return true;
  }
  Node& node = nodes_.back();
  if (node.in_children) fail_at_node("a child list holds a value that is not a node");
  node.fields[node.pending_key] = std::move(value);
  node.pending_key.clear();
  node.key_pending = false;
  return true;
}

// A structured field of the open node, or a root-level value that is not the report.
bool ResultsReader::begin_value(json container) {
  if (field_.building()) {
    field_.nest(std::move(container));
    return true;
  }
  json* slot = &scratch_;
  if (!nodes_.empty()) {
    Node& node = nodes_.back();
    slot = &node.fields[node.pending_key];
    node.pending_key.clear();
    node.key_pending = false;
  }
  field_.begin(*slot, std::move(container));
  return true;
}

void ResultsReader::open_node() {
  Node node;
  node.number = ++nodes_seen_;
  nodes_.push_back(std::move(node));
  node_opened();
}

void ResultsReader::announce_fields() {
  Node& node = nodes_.back();
  if (node.fields_announced) return;
  node.fields_announced = true;
  fields_known();
}

}  // namespace morvi::json_stream
