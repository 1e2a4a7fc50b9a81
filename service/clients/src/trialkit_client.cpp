#include "morvi/service/clients/trialkit_client.hpp"

#include <vector>

#include "morvi/reporter/client/child_identifiers.hpp"

namespace morvi::service::clients {

using reporter::client::ChildIdentifiers;
using reporter::trialkit::node_of;
using reporter::trialkit::ReportObjectBase;

namespace {

ChildIdentifiers names_of(const ReportObjectBase& node) {
  std::vector<Value> ids;
  ids.reserve(node.children().size());
  for (const Value& child : node.children()) ids.push_back(node_of(child).id());
  return ChildIdentifiers(std::move(ids));
}

// The node's dictionary, with its children named as every client names them.
Value record_of(const ReportObjectBase& node) {
  Map record = node.to_dict();
  const ChildIdentifiers names = names_of(node);
  std::size_t first = 0;
  for (const char* list : {"tasks", "sections"}) {
    Value* ids = record.find(list);
    if (!ids) continue;
    const std::size_t count = ids->as_list().size();
    *ids = Value(names.identifiers(first, count));
    first += count;
  }
  return Value(std::move(record));
}

}  // namespace

TrialKitClient::TrialKitClient(std::shared_ptr<ReportObjectBase> root) : root_(std::move(root)) {}

Value TrialKitClient::get_trialkit() { return record_of(*root_); }

Value TrialKitClient::get_section(const List& id_list) {
  const ReportObjectBase* node = root_.get();
  for (const Value& identifier : id_list) {
    const auto position = names_of(*node).find(identifier);
    if (!position) return Value(Map());
    node = &node_of(node->children()[*position]);
  }
  return record_of(*node);
}

}  // namespace morvi::service::clients
