#include "morvi/reporter/client/results_file_client.hpp"

#include "json_value.hpp"
#include "morvi/reporter/schema/results_json.hpp"

namespace morvi::reporter::client {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kChildLists[] = {"tasks", "sections"};

const Json* member(const Json& node, const char* name) {
  if (!node.is_object()) return nullptr;
  const auto it = node.find(name);
  return it == node.end() ? nullptr : &*it;
}

Value id_of(const Json& child) {
  const Json* id = member(child, "id");
  return id ? to_value(*id) : Value();
}

}  // namespace

ResultsFileClient::Children::Children(const Json& node) : names(collect(node, nodes)) {}

ChildIdentifiers ResultsFileClient::Children::collect(const Json& node,
                                                      std::vector<const Json*>& nodes) {
  std::vector<Value> ids;
  for (const char* list : kChildLists) {
    const Json* children = member(node, list);
    if (!children || !children->is_array()) continue;
    for (const Json& c : *children) {
      nodes.push_back(&c);
      ids.push_back(id_of(c));
    }
  }
  return ChildIdentifiers(std::move(ids));
}

Value ResultsFileClient::record_of(const Json& node) {
  Map record;
  if (!node.is_object()) return Value(std::move(record));
  record.reserve(node.size());
  const Children& kids = children_of(node);
  std::size_t first = 0;
  for (auto it = node.begin(); it != node.end(); ++it) {
    if ((it.key() == "tasks" || it.key() == "sections") && it->is_array()) {
      record.set(it.key(), Value(kids.names.identifiers(first, it->size())));
      first += it->size();
    } else {
      record.set(it.key(), to_value(*it));
    }
  }
  return Value(std::move(record));
}

ResultsFileClient::ResultsFileClient(const std::string& path)
    : ResultsFileClient(schema::parse_results_json_ordered(schema::read_text_file(path), path)) {}

ResultsFileClient::ResultsFileClient(Json document) : document_(std::move(document)) {}

Value ResultsFileClient::get_trialkit() {
  const Json* report = member(document_, "report");
  return report ? record_of(*report) : Value(Map());
}

Value ResultsFileClient::get_section(const List& id_list) {
  const Json* node = member(document_, "report");
  for (auto id = id_list.begin(); node && id != id_list.end(); ++id) node = child(*node, *id);
  return node ? record_of(*node) : Value(Map());
}

const ResultsFileClient::Children& ResultsFileClient::children_of(const Json& node) {
  auto it = children_.find(&node);
  if (it == children_.end()) it = children_.emplace(&node, Children(node)).first;
  return it->second;
}

const nlohmann::ordered_json* ResultsFileClient::child(const Json& node, const Value& identifier) {
  const Children& kids = children_of(node);
  const auto position = kids.names.find(identifier);
  return position ? kids.nodes[*position] : nullptr;
}

}  // namespace morvi::reporter::client
