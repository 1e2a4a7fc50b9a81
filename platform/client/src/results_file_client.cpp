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

Value record_of(const Json& node) {
  Map record;
  if (!node.is_object()) return Value(std::move(record));
  record.reserve(node.size());
  for (auto it = node.begin(); it != node.end(); ++it) {
    if ((it.key() == "tasks" || it.key() == "sections") && it->is_array()) {
      List ids;
      ids.reserve(it->size());
      for (const Json& child : *it) ids.push_back(id_of(child));
      record.set(it.key(), Value(std::move(ids)));
    } else {
      record.set(it.key(), to_value(*it));
    }
  }
  return Value(std::move(record));
}

}  // namespace

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

const Json* ResultsFileClient::child(const Json& node, const Value& id) {
  auto [index, fresh] = children_.try_emplace(&node);
  if (fresh) {
    for (const char* list : kChildLists) {
      const Json* children = member(node, list);
      if (!children || !children->is_array()) continue;
      for (const Json& c : *children) index->second.try_emplace(id_of(c).to_repr(), &c);
    }
  }
  const auto found = index->second.find(id.to_repr());
  return found == index->second.end() ? nullptr : found->second;
}

}  // namespace morvi::reporter::client
