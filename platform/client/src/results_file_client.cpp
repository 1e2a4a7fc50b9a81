#include "morvi/reporter/client/results_file_client.hpp"

#include <algorithm>
#include <utility>

#include "json_reader.hpp"
#include "long_values.hpp"
#include "morvi/errors.hpp"
#include "morvi/reporter/schema/results_json.hpp"
#include "results_text.hpp"

namespace morvi::reporter::client {

namespace {

// Brackets open around a node `level` steps below the report: the document's object, and per
// level a child list and the node holding it.
std::size_t depth_of(std::size_t level) { return 1 + 2 * level; }

// "<origin>: line L, column C: <detail>", counting from the start of the text.
ParseError error_at(std::string_view origin, std::string_view text, std::size_t offset,
                    std::string_view detail) {
  const std::string_view before = text.substr(0, std::min(offset, text.size()));
  const auto line = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n')) + 1;
  const std::size_t line_start = before.rfind('\n');
  const std::size_t column =
      line_start == std::string_view::npos ? before.size() + 1 : before.size() - line_start;
  return ParseError(std::string(origin) + ": line " + std::to_string(line) + ", column " +
                        std::to_string(column) + ": " + std::string(detail),
                    line, column);
}

// The id of the child whose value is next, none when it has none; the rest of it is skipped.
Value child_id(JsonReader& reader) {
  Value id;
  if (reader.peek() != '{') {
    reader.skip_value();
    return id;
  }
  if (reader.enter('{')) {
    do {
      if (reader.key() == "id") {
        id = reader.read_value();
      } else {
        reader.skip_value();
      }
    } while (reader.next('}'));
  }
  return id;
}

}  // namespace

ResultsFileClient::ResultsFileClient(const std::string& path)
    : ResultsFileClient(ResultsText::open(path), path) {}

std::unique_ptr<ResultsFileClient> ResultsFileClient::over_text(std::string text,
                                                                std::string origin) {
  return std::unique_ptr<ResultsFileClient>(new ResultsFileClient(
      ResultsText::in_memory(std::move(text)), std::move(origin)));
}

ResultsFileClient::~ResultsFileClient() = default;

ResultsFileClient::ResultsFileClient(std::unique_ptr<ResultsText> text, std::string origin)
    : text_(std::move(text)),
      long_values_(std::make_unique<LongValues>()),
      origin_(std::move(origin)) {
  const std::string_view view = text_->view();
  // One pass over the whole document checks it and reads the report's record on the way.
  try {
    JsonReader reader(view, 0, 0, text_->pages(), long_values_.get());
    reader.skip_bom();
    if (reader.peek() != '{') {
      reader.skip_value();
    } else if (reader.enter('{')) {
      do {
        if (reader.key() != "report") {
          reader.skip_value();
          continue;
        }
        reader.peek();
        Node report{reader.offset(), Value(), {}};
        report_record_ = read_node(reader, report.children);
        path_.assign(1, std::move(report));
        has_report_ = true;
      } while (reader.next('}'));
    }
    reader.expect_end();
    long_values_->learnt();
  } catch (const NotJson& stop) {
    // The results reader words what is wrong; it takes the same documents, so it throws.
    schema::parse_results_json_ordered(view, origin_);
    throw error_at(origin_, view, stop.offset, "not a results JSON document");
  }
}

Value ResultsFileClient::read_node(JsonReader& reader, Children& children) {
  Map record;
  children = {};
  if (reader.peek() != '{') {
    reader.skip_value();
    return Value(std::move(record));
  }
  // The children of each list; a name given twice keeps its first place and its last value.
  struct ChildList {
    bool present = false;
    std::vector<std::size_t> offsets;
    std::vector<Value> ids;
  } lists[2];
  if (reader.enter('{')) {
    do {
      const std::string key(reader.key());
      ChildList* list = key == "tasks" ? &lists[0] : key == "sections" ? &lists[1] : nullptr;
      if (list) *list = {};
      if (list && reader.peek() == '[') {
        list->present = true;
        record.set(key, Value());
        if (reader.enter('[')) {
          do {
            reader.peek();
            list->offsets.push_back(reader.offset());
            list->ids.push_back(child_id(reader));
          } while (reader.next(']'));
        }
      } else {
        record.set(key, reader.read_value());
      }
    } while (reader.next('}'));
  }
  // Tasks come first, then sections: a twin's index counts through both.
  const std::size_t tasks = lists[0].ids.size();
  std::vector<Value> ids = std::move(lists[0].ids);
  ids.insert(ids.end(), std::make_move_iterator(lists[1].ids.begin()),
             std::make_move_iterator(lists[1].ids.end()));
  children.offsets = std::move(lists[0].offsets);
  children.offsets.insert(children.offsets.end(), lists[1].offsets.begin(), lists[1].offsets.end());
  children.names = ChildIdentifiers(std::move(ids));
  if (lists[0].present) record.set("tasks", Value(children.names.identifiers(0, tasks)));
  if (lists[1].present) {
    record.set("sections",
               Value(children.names.identifiers(tasks, children.names.size() - tasks)));
  }
  return Value(std::move(record));
}

Value ResultsFileClient::read_node(std::size_t offset, std::size_t level, Children& children) {
  // A walk in document order does not come back to the text before this node.
  if (offset >= released_ + kPassedEvery) {
    text_->passed(released_, offset);
    released_ = offset;
  }
  JsonReader reader(text_->view(), offset, depth_of(level), text_->pages(), long_values_.get());
  try {
    return read_node(reader, children);
  } catch (const NotJson& stop) {
    // It was read whole when the client was made: it has changed since.
    throw error_at(origin_, text_->view(), stop.offset, "the file changed while it was read");
  }
}

const ResultsFileClient::Children& ResultsFileClient::children_at(std::size_t offset,
                                                                  std::size_t level,
                                                                  const Value& name) {
  if (level < path_.size() && path_[level].offset == offset) return path_[level].children;
  Node node{offset, name, {}};
  read_node(offset, level, node.children);
  path_.resize(level);
  path_.push_back(std::move(node));
  return path_.back().children;
}

Value ResultsFileClient::get_trialkit() { return has_report_ ? report_record_ : Value(Map()); }

Value ResultsFileClient::get_section(const List& id_list) {
  if (id_list.empty()) return get_trialkit();
  if (!has_report_) return Value(Map());
  std::size_t offset = path_.front().offset;
  for (std::size_t level = 0; level < id_list.size(); ++level) {
    const Value& id = id_list[level];
    // A text id that took the last walk down from this node names the same child again: a
    // walk down a deep chain repeats every step above it, and looking each one up again
    // made that walk grow with the square of the depth.
    if (level + 1 < path_.size() && path_[level].offset == offset && id.is_text() &&
        path_[level + 1].name.is_text() && path_[level + 1].name.as_text() == id.as_text()) {
      offset = path_[level + 1].offset;
      continue;
    }
    const Children& children =
        children_at(offset, level, level == 0 ? Value() : id_list[level - 1]);
    const auto position = children.names.find(id);
    if (!position) return Value(Map());
    offset = children.offsets[*position];
  }
  Node node{offset, id_list.back(), {}};
  Value record = read_node(offset, id_list.size(), node.children);
  path_.resize(id_list.size());
  path_.push_back(std::move(node));
  return record;
}

}  // namespace morvi::reporter::client
